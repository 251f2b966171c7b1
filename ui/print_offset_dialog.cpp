#include "ui/print_offset_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QVBoxLayout>

namespace fp::ui {

namespace {

QDoubleSpinBox* shiftBox(QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(-PrinterOffsets::kLimitMm, PrinterOffsets::kLimitMm);
    box->setDecimals(1);
    box->setSingleStep(0.5);
    box->setSuffix(QStringLiteral(" 毫米"));
    return box;
}

} // namespace

PrintOffsetDialog::PrintOffsetDialog(PrinterOffsets& offsets, const QString& printer, QWidget* parent)
    : QDialog(parent), offsets_(offsets) {
    setObjectName(QStringLiteral("w_print_offset"));
    setWindowTitle(QStringLiteral("打印位置校准"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("打印内容与发票纸对不齐时，按打印机设置整体偏移。\n"
                                            "正数向下、向右移动，负数向上、向左移动。\n"
                                            "先用发票纸打印测试页，量出框线与纸上框线的差距再填写。"),
                             this);
    layout->addWidget(intro);

    auto* form = new QFormLayout;
    printers_ = new QComboBox(this);
    printers_->setObjectName(QStringLiteral("ddlb_printer"));
    printers_->addItems(QPrinterInfo::availablePrinterNames());
    if (!printer.isEmpty() && printers_->findText(printer) < 0) printers_->addItem(printer);
    const QString chosen = printer.isEmpty() ? QPrinterInfo::defaultPrinterName() : printer;
    if (printers_->findText(chosen) >= 0) printers_->setCurrentIndex(printers_->findText(chosen));
    form->addRow(QStringLiteral("打印机："), printers_);
    down_ = shiftBox(this);
    down_->setObjectName(QStringLiteral("em_down"));
    right_ = shiftBox(this);
    right_->setObjectName(QStringLiteral("em_right"));
    form->addRow(QStringLiteral("向下偏移："), down_);
    form->addRow(QStringLiteral("向右偏移："), right_);
    layout->addLayout(form);

    note_ = new QLabel(this);
    layout->addWidget(note_);

    auto* buttons = new QDialogButtonBox(this);
    testButton_ = buttons->addButton(QStringLiteral("打印测试页(&T)"), QDialogButtonBox::ActionRole);
    saveButton_ = buttons->addButton(QStringLiteral("保存(&S)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(testButton_, &QPushButton::clicked, this, [this] { printTestPage(); });
    connect(saveButton_, &QPushButton::clicked, this, &PrintOffsetDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(printers_, &QComboBox::currentTextChanged, this, &PrintOffsetDialog::showOffsetOf);
    showOffsetOf(printers_->currentText());
}

PrintOffsetMm PrintOffsetDialog::offset() const { return {down_->value(), right_->value()}; }

void PrintOffsetDialog::showOffsetOf(const QString& printer) {
    const bool any = !printer.isEmpty();
    const PrintOffsetMm o = offsets_.offsetFor(printer);
    down_->setValue(o.down);
    right_->setValue(o.right);
    down_->setEnabled(any);
    right_->setEnabled(any);
    testButton_->setEnabled(any);
    saveButton_->setEnabled(any);
    note_->setText(any ? QString() : QStringLiteral("本机没有可用的打印机，请先安装打印机。"));
}

bool PrintOffsetDialog::printTestPage() {
    const QString name = printers_->currentText();
    if (name.isEmpty()) return false;
    QPrinter printer(QPrinterInfo::printerInfo(name), QPrinter::HighResolution);
    return printTestPage(printer);
}

bool PrintOffsetDialog::printTestPage(QPrinter& printer) {
    const QString name = printer.outputFormat() == QPrinter::PdfFormat ? QString() : printer.printerName();
    const PrintLayout& layout = invoicePrintLayout();
    printer.setFullPage(true);
    // On another paper the frame would not show where the invoice prints.
    if (!setInvoicePaper(printer, layout, nullptr)) {
        QMessageBox::warning(this, QStringLiteral("提示"), paperRefusal(layout, name));
        return false;
    }
    printer.setDocName(QStringLiteral("打印位置测试页"));
    QPainter painter;
    if (!painter.begin(&printer)) {
        QMessageBox::warning(this, QStringLiteral("提示"),
                             QStringLiteral("打印机“%1”无法使用，测试页没有打印！").arg(name));
        return false;
    }
    renderTestPage(painter, layout, offset());
    return painter.end();
}

void PrintOffsetDialog::save() {
    const QString name = printers_->currentText();
    if (name.isEmpty()) return;
    offsets_.setOffset(name, offset());
    accept();
}

} // namespace fp::ui
