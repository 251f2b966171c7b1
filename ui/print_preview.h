#pragma once
// The print preview w_dw_printpreview: shows the print form page by page (one
// page a copy) as it will print, with zoom and page controls, the way of
// printing (onto pre-printed paper, or the whole form) and the printer's
// offset; "打印" chooses the printer and the copies in the system's print
// dialog and prints. Its answer is an s_printreturn: the copies printed and
// the printer, or no copies and printer "0" when it closed without printing.
#include "host/dialogs.h"
#include "services/print_render.h"
#include "services/printer_offsets.h"

#include <QDialog>

#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QPrinter;
class QPrintPreviewWidget;
class QSpinBox;
class QToolBar;

namespace fp::ui {

class PrintPreviewDialog : public QDialog {
    Q_OBJECT
public:
    // Prints on the system's default printer.
    PrintPreviewDialog(const s_preview_parameter& parameter, PrinterOffsets& offsets, QWidget* parent = nullptr);
    // Prints on `printer`.
    PrintPreviewDialog(const s_preview_parameter& parameter, PrinterOffsets& offsets, QWidget* parent,
                       std::unique_ptr<QPrinter> printer);
    ~PrintPreviewDialog() override;

    // What the preview answers (valid after it closed).
    const s_printreturn& printReturn() const { return result_; }

    PrintMode mode() const { return mode_; }
    void setMode(PrintMode mode);
    int copies() const;
    void setCopies(int copies);
    // The printer the preview prints on (the system print dialog changes it).
    QPrinter& printer() { return *printer_; }
    QPrintPreviewWidget* previewWidget() const { return preview_; }
    QAction* printAction() const { return printAction_; }

    // Asks the system print dialog for printer and copies, prints, and closes
    // the preview with the answer. False (preview stays open, nothing counted)
    // when the invoice does not fit one sheet, the dialog was cancelled, the
    // printer cannot take the invoice paper or printing failed (shown), a PDF
    // file not completely written included.
    bool print();
    // Opens the offset calibration for the current printer.
    void calibrate();

private:
    QToolBar* buildToolBar();
    void paintPreview(QPrinter* printer);
    void showPrinterState();
    QString printerName() const;
    QString printerInfo() const;
    PrintOptions printOptions() const;
    // Puts the invoice paper on the printer; false when it cannot take it.
    bool takePaper();

    const s_preview_parameter parameter_;
    PrinterOffsets& offsets_;
    std::unique_ptr<QPrinter> printer_;
    QPrintPreviewWidget* preview_ = nullptr;
    QComboBox* modeBox_ = nullptr;
    QSpinBox* copiesBox_ = nullptr;
    QLabel* printerLabel_ = nullptr;
    QLabel* modeNote_ = nullptr;
    QAction* printAction_ = nullptr;
    PrintMode mode_ = PrintMode::PrePrintedPaper;
    // The printer's refusal of the invoice paper, empty while it takes it.
    QString paperRefused_;
    // The refusal of an invoice with more lines than one sheet has rows; it is
    // shown in the status line and printing is refused.
    QString linesRefused_;
    s_printreturn result_;
};

} // namespace fp::ui
