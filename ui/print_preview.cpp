#include "ui/print_preview.h"

#include "data_model/data_store.h"
#include "data_model/form_def.h"
#include "ui/preview_commands.h"
#include "ui/print_offset_dialog.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>

namespace fp::ui {

namespace {

// How strongly the pre-printed paper shows under the values in the preview.
constexpr double kPaperOpacity = 0.25;

QString offsetText(const PrintOffsetMm& o) {
    return QStringLiteral("向下 %1 毫米，向右 %2 毫米").arg(o.down, 0, 'f', 1).arg(o.right, 0, 'f', 1);
}

} // namespace

PrintPreviewDialog::PrintPreviewDialog(const s_preview_parameter& parameter, PrinterOffsets& offsets, QWidget* parent)
    : PrintPreviewDialog(parameter, offsets, parent, std::make_unique<QPrinter>(QPrinter::HighResolution)) {}

PrintPreviewDialog::PrintPreviewDialog(const s_preview_parameter& parameter, PrinterOffsets& offsets, QWidget* parent,
                                       std::unique_ptr<QPrinter> printer)
    : QDialog(parent), parameter_(parameter), offsets_(offsets), printer_(std::move(printer)) {
    setObjectName(QStringLiteral("w_dw_printpreview"));
    setWindowTitle(QStringLiteral("打印预览"));
    result_.sl_printcnt = 0;
    result_.ss_printer = QStringLiteral("0");

    // A printer that cannot take the paper is named in the status line at once;
    // printing on it is refused.
    (void)takePaper(); // the refusal is kept for the status line
    if (const DataStore* form = parameter_.dw_datawindow; form && !fitsOneSheet(invoicePrintLayout(), *form))
        linesRefused_ = itemLinesRefusal(invoicePrintLayout(), form->rowCount());
    if (const DataStore* form = parameter_.dw_datawindow; form && form->rowCount() > 0)
        printer_->setDocName(QStringLiteral("发票 %1 %2")
                                 .arg(form->getString(1, QStringLiteral("ptfp_fpk_fpdm")),
                                      form->getString(1, QStringLiteral("ptfp_fpk_fphm"))));

    const PreviewFrame frame = buildPreviewFrame(this, printer_.get(), QStringLiteral("st_mode"));
    preview_ = frame.preview;
    printerLabel_ = frame.printer;
    modeNote_ = frame.note;
    frame.box->insertWidget(0, buildToolBar());

    connect(preview_, &QPrintPreviewWidget::paintRequested, this, &PrintPreviewDialog::paintPreview);
    // A printer prints onto the invoice paper; a PDF (the only output of a
    // machine without printers) has no paper under it.
    setMode(printer_->outputFormat() == QPrinter::PdfFormat ? PrintMode::WholeForm : PrintMode::PrePrintedPaper);
    showPrinterState();
    resize(1040, 780);
    preview_->fitInView();
}

PrintPreviewDialog::~PrintPreviewDialog() = default;

QToolBar* PrintPreviewDialog::buildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("uo_toolbar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);

    printAction_ = bar->addAction(QStringLiteral("打印(&P)…"), this, [this] { print(); });
    printAction_->setObjectName(QStringLiteral("m_print"));
    printAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    bar->addSeparator();

    bar->addWidget(new QLabel(QStringLiteral(" 打印方式："), bar));
    modeBox_ = new QComboBox(bar);
    modeBox_->setObjectName(QStringLiteral("ddlb_mode"));
    modeBox_->addItem(QStringLiteral("套打（在预印发票纸上只打印内容）"));
    modeBox_->addItem(QStringLiteral("整张打印（连同表格和标题）"));
    bar->addWidget(modeBox_);
    connect(modeBox_, &QComboBox::currentIndexChanged, this,
            [this](int i) { setMode(i == 1 ? PrintMode::WholeForm : PrintMode::PrePrintedPaper); });

    bar->addWidget(new QLabel(QStringLiteral("  份数："), bar));
    copiesBox_ = new QSpinBox(bar);
    copiesBox_->setObjectName(QStringLiteral("em_copies"));
    copiesBox_->setRange(1, 99);
    bar->addWidget(copiesBox_);
    connect(copiesBox_, &QSpinBox::valueChanged, preview_, &QPrintPreviewWidget::updatePreview);
    bar->addSeparator();

    addPageCommands(bar, preview_);
    bar->addSeparator();
    bar->addAction(QStringLiteral("打印位置校准…"), this, &PrintPreviewDialog::calibrate);
    bar->addSeparator();
    bar->addAction(QStringLiteral("关闭(&C)"), this, &QDialog::reject);
    return bar;
}

void PrintPreviewDialog::setMode(PrintMode mode) {
    mode_ = mode;
    if (modeBox_) {
        const QSignalBlocker block(modeBox_);
        modeBox_->setCurrentIndex(mode == PrintMode::WholeForm ? 1 : 0);
    }
    if (modeNote_)
        modeNote_->setText(
            mode == PrintMode::WholeForm
                ? QStringLiteral("整张打印：表格、标题和内容全部打印，用于白纸。")
                : QStringLiteral("套打：浅灰色的表格和标题是发票纸上已印好的，不打印；其余内容打印在发票纸上。"));
    preview_->updatePreview();
}

int PrintPreviewDialog::copies() const { return copiesBox_->value(); }

void PrintPreviewDialog::setCopies(int copies) { copiesBox_->setValue(copies); }

QString PrintPreviewDialog::printerName() const { return printerNameOf(*printer_); }

QString PrintPreviewDialog::printerInfo() const {
    if (printer_->outputFormat() == QPrinter::PdfFormat) return QFileInfo(printer_->outputFileName()).fileName();
    const QPrinterInfo info(*printer_);
    return info.makeAndModel().isEmpty() ? info.description() : info.makeAndModel();
}

PrintOptions PrintPreviewDialog::printOptions() const {
    PrintOptions o;
    o.mode = mode_;
    o.visibleDynamic = parameter_.s_col_visible_dynamic;
    if (printer_->outputFormat() != QPrinter::PdfFormat) o.offset = offsets_.offsetFor(printer_->printerName());
    return o;
}

bool PrintPreviewDialog::takePaper() {
    // The layout matches the invoice paper only; the page is the whole sheet.
    printer_->setFullPage(true);
    paperRefused_.clear();
    if (setInvoicePaper(*printer_, invoicePrintLayout(), nullptr)) return true;
    paperRefused_ = paperRefusal(invoicePrintLayout(), printerName());
    return false;
}

void PrintPreviewDialog::showPrinterState() {
    if (!linesRefused_.isEmpty()) {
        printerLabel_->setText(QString(linesRefused_).replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
        return;
    }
    if (!paperRefused_.isEmpty()) {
        printerLabel_->setText(paperRefused_);
        return;
    }
    const QString name = printerName();
    // A printer's offset is named beside it; a PDF has no paper to align with.
    if (name.isEmpty() || printer_->outputFormat() == QPrinter::PdfFormat) {
        printerLabel_->setText(printerStateText(*printer_));
        return;
    }
    printerLabel_->setText(printerStateText(*printer_) +
                           QStringLiteral("    打印位置偏移：%1").arg(offsetText(printOptions().offset)));
}

void PrintPreviewDialog::paintPreview(QPrinter* printer) {
    const DataStore* form = parameter_.dw_datawindow;
    QPainter painter(printer);
    if (!form) return;
    // The page as it comes out of the printer: the paper (or blank sheet) with
    // the print on it. The printer's offset corrects the printer, so the
    // preview shows print and paper aligned.
    PrintOptions values;
    values.mode = mode_;
    values.visibleDynamic = parameter_.s_col_visible_dynamic;
    PrintOptions paper;
    paper.mode = PrintMode::WholeForm;
    for (int copy = 0; copy < copies(); ++copy) {
        if (copy > 0) printer->newPage();
        if (mode_ == PrintMode::PrePrintedPaper) {
            painter.save();
            painter.setOpacity(kPaperOpacity);
            renderInvoicePage(painter, *form, paper);
            painter.restore();
        }
        renderInvoicePage(painter, *form, values);
    }
}

bool PrintPreviewDialog::print() {
    const DataStore* form = parameter_.dw_datawindow;
    if (!form) return false;
    if (!linesRefused_.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("提示"), linesRefused_);
        return false;
    }
    printer_->setCopyCount(copies());
    QPrintDialog dialog(printer_.get(), this);
    dialog.setWindowTitle(QStringLiteral("打印"));
    if (dialog.exec() != QDialog::Accepted) {
        showPrinterState();
        return false;
    }
    const int printed = std::max(1, printer_->copyCount());
    // One page a copy, painted here, so every copy is counted.
    printer_->setCopyCount(1);
    // Keep the invoice paper whatever was chosen; a printer that cannot take
    // it would cut the print off, and nothing is printed or counted.
    if (!takePaper()) {
        QMessageBox::warning(this, QStringLiteral("提示"), paperRefused_);
        showPrinterState();
        return false;
    }
    QString error;
    // A PDF is written by the renderer, which reads back whether the whole
    // file was written (the printer's own PDF output does not say).
    const bool done = printer_->outputFormat() == QPrinter::PdfFormat
                          ? printInvoiceToPdf(*form, printer_->outputFileName(), printed, printOptions(), &error)
                          : printInvoicePages(*printer_, *form, printed, printOptions(), &error);
    if (!done) {
        QMessageBox::warning(this, QStringLiteral("提示"), QStringLiteral("打印失败：") + error);
        showPrinterState();
        return false;
    }
    result_.sl_printcnt = printed;
    result_.ss_printer = printerName();
    result_.ss_printer_info = printerInfo();
    accept();
    return true;
}

void PrintPreviewDialog::calibrate() {
    const QString name = printer_->outputFormat() == QPrinter::PdfFormat ? QString() : printer_->printerName();
    PrintOffsetDialog dialog(offsets_, name, this);
    dialog.exec();
    showPrinterState();
}

} // namespace fp::ui
