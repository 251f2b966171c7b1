#pragma once
// The print offset calibration dialog: a printer, its shift down and right in
// millimetres, a test page printed with the shift as it stands, and saving it
// in the client's settings.
#include "services/printer_offsets.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPrinter;
class QPushButton;

namespace fp::ui {

// The calibration dialog: a printer, its two shifts, a test page printed with
// the shifts as they stand, and saving them.
class PrintOffsetDialog : public QDialog {
    Q_OBJECT
public:
    PrintOffsetDialog(PrinterOffsets& offsets, const QString& printer = QString(), QWidget* parent = nullptr);

    QComboBox* printerBox() const { return printers_; }
    QDoubleSpinBox* downBox() const { return down_; }
    QDoubleSpinBox* rightBox() const { return right_; }
    PrintOffsetMm offset() const;
    // Prints the layout's frame on the chosen printer with the shifts shown.
    bool printTestPage();
    // Prints it on `printer`. False (with a message) when the printer cannot
    // take the invoice paper or cannot be used.
    bool printTestPage(QPrinter& printer);
    // Saves the shifts for the chosen printer and closes.
    void save();

private:
    void showOffsetOf(const QString& printer);

    PrinterOffsets& offsets_;
    QComboBox* printers_ = nullptr;
    QDoubleSpinBox* down_ = nullptr;
    QDoubleSpinBox* right_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

} // namespace fp::ui
