#pragma once
// The print preview of a report (the register's list, the monthly summary):
// its A4 landscape pages as they will print, with the commands of the invoice
// preview: 打印 (Ctrl+P) chooses the printer, the pages and the copies in the
// system's print dialog; 另存为PDF (Ctrl+S) writes a PDF file; page and zoom
// commands; Esc closes. The preview stays open after printing.
#include "services/report_table.h"

#include <QDialog>

#include <memory>

class QAction;
class QLabel;
class QPrinter;
class QPrintPreviewWidget;
class QToolBar;

namespace fp::ui {

class ReportPreviewDialog : public QDialog {
    Q_OBJECT
public:
    // Prints on the system's default printer.
    explicit ReportPreviewDialog(ReportTable table, QWidget* parent = nullptr);
    // Prints on `printer`.
    ReportPreviewDialog(ReportTable table, QWidget* parent, std::unique_ptr<QPrinter> printer);
    ~ReportPreviewDialog() override;

    QPrinter& printer() { return *printer_; }
    QPrintPreviewWidget* previewWidget() const { return preview_; }
    QAction* printAction() const { return printAction_; }
    QAction* savePdfAction() const { return savePdfAction_; }

    // Asks the system print dialog for the printer, the pages and the copies,
    // and prints. False when the dialog was cancelled, the printer cannot take
    // A4 landscape or printing failed (shown in a warning).
    bool print();
    // Asks for a file name and writes the report into it as a PDF.
    bool saveAsPdf();
    // Writes the report into `file` as a PDF; a failure is shown in a warning
    // and leaves no file.
    bool saveAsPdf(const QString& file);

private:
    QToolBar* buildToolBar();
    void paintPreview(QPrinter* printer);
    void showPrinterState();
    // Puts A4 landscape on the printer; false (and named in the status line)
    // when it cannot take it.
    bool takePaper();

    const ReportTable table_;
    std::unique_ptr<QPrinter> printer_;
    QPrintPreviewWidget* preview_ = nullptr;
    QLabel* printerLabel_ = nullptr;
    QLabel* doneLabel_ = nullptr;
    QAction* printAction_ = nullptr;
    QAction* savePdfAction_ = nullptr;
    // The printer's refusal of A4 landscape, empty while it takes it.
    QString paperRefused_;
};

} // namespace fp::ui
