#pragma once
// Print offset calibration: per printer, how far everything printed is shifted
// down and right (millimetres, negative allowed) so print and pre-printed paper
// line up. Kept in the client's settings under "print_offset/<printer>"; the
// print preview applies the offset of the printer it prints on.
#include "services/print_render.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSettings;

namespace fp::ui {

class PrinterOffsets {
public:
    // The settings outlive this object.
    explicit PrinterOffsets(QSettings& settings) : settings_(settings) {}
    // 0, 0 for a printer never calibrated (or an unreadable setting).
    PrintOffsetMm offsetFor(const QString& printer) const;
    void setOffset(const QString& printer, const PrintOffsetMm& offset);

    // The largest shift either way a clerk can set.
    static constexpr double kLimitMm = 50.0;

private:
    QSettings& settings_;
};

// The client's own settings (this user, this machine).
QSettings& clientSettings();

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
