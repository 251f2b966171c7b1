#include "ui/report_preview.h"

#include "services/report_print.h"
#include "ui/preview_commands.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStandardPaths>
#include <QToolBar>
#include <QVBoxLayout>

#include <limits>

namespace fp::ui {

ReportPreviewDialog::ReportPreviewDialog(ReportTable table, QWidget* parent)
    : ReportPreviewDialog(std::move(table), parent, std::make_unique<QPrinter>(QPrinter::HighResolution)) {}

ReportPreviewDialog::ReportPreviewDialog(ReportTable table, QWidget* parent, std::unique_ptr<QPrinter> printer)
    : QDialog(parent), table_(std::move(table)), printer_(std::move(printer)) {
    setObjectName(QStringLiteral("w_report_preview"));
    setWindowTitle(QStringLiteral("打印预览 - %1").arg(table_.title));
    printer_->setDocName(table_.title);
    // A printer that cannot take the paper is named in the status line at once;
    // printing on it is refused.
    (void)takePaper(); // the refusal is kept for the status line

    const PreviewFrame frame = buildPreviewFrame(this, printer_.get(), QStringLiteral("st_done"));
    preview_ = frame.preview;
    printerLabel_ = frame.printer;
    doneLabel_ = frame.note;
    frame.box->insertWidget(0, buildToolBar());

    connect(preview_, &QPrintPreviewWidget::paintRequested, this, &ReportPreviewDialog::paintPreview);
    showPrinterState();
    resize(1120, 800);
    preview_->fitToWidth();
}

ReportPreviewDialog::~ReportPreviewDialog() = default;

QToolBar* ReportPreviewDialog::buildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("uo_toolbar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);

    printAction_ = bar->addAction(QStringLiteral("打印(&P)…"), this, [this] { print(); });
    printAction_->setObjectName(QStringLiteral("m_print"));
    printAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    savePdfAction_ = bar->addAction(QStringLiteral("另存为PDF(&S)…"), this, [this] { saveAsPdf(); });
    savePdfAction_->setObjectName(QStringLiteral("m_save_pdf"));
    savePdfAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    bar->addSeparator();
    addPageCommands(bar, preview_);
    bar->addSeparator();
    bar->addAction(QStringLiteral("关闭(&C)"), this, &QDialog::reject);
    return bar;
}

bool ReportPreviewDialog::takePaper() {
    // The layout is measured from the paper's corner.
    printer_->setFullPage(true);
    paperRefused_.clear();
    if (setReportPaper(*printer_, nullptr)) return true;
    paperRefused_ = reportPaperRefusal(printerNameOf(*printer_));
    return false;
}

void ReportPreviewDialog::showPrinterState() {
    printerLabel_->setText(paperRefused_.isEmpty() ? printerStateText(*printer_) : paperRefused_);
}

void ReportPreviewDialog::paintPreview(QPrinter* printer) {
    QPainter painter(printer);
    const ReportPages pages(table_, printer->pageLayout().fullRect(QPageLayout::Millimeter).size());
    for (int i = 0; i < pages.pageCount(); ++i) {
        if (i > 0) printer->newPage();
        pages.render(painter, i);
    }
}

bool ReportPreviewDialog::print() {
    QPrintDialog dialog(printer_.get(), this);
    dialog.setWindowTitle(QStringLiteral("打印"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                      QAbstractPrintDialog::PrintCollateCopies | QAbstractPrintDialog::PrintShowPageSize);
    dialog.setMinMax(1, preview_->pageCount());
    if (dialog.exec() != QDialog::Accepted) {
        showPrinterState();
        return false;
    }
    // Keep A4 landscape whatever was chosen; a printer that cannot take it
    // would cut the report off, and nothing is printed.
    if (!takePaper()) {
        QMessageBox::warning(this, QStringLiteral("提示"), paperRefused_);
        showPrinterState();
        return false;
    }
    int from = 1;
    int to = std::numeric_limits<int>::max();
    if (printer_->printRange() == QPrinter::PageRange) {
        from = printer_->fromPage();
        to = printer_->toPage();
    }
    QString error;
    // A PDF is written by the report printer, which reads back whether the
    // whole file was written (the printer's own PDF output does not say).
    const bool done = printer_->outputFormat() == QPrinter::PdfFormat
                          ? printReportToPdf(table_, printer_->outputFileName(), from, to, &error)
                          : printReport(*printer_, table_, from, to, &error);
    showPrinterState();
    if (!done) {
        QMessageBox::warning(this, QStringLiteral("提示"), QStringLiteral("打印失败：") + error);
        return false;
    }
    doneLabel_->setText(QStringLiteral("已打印：%1").arg(printerNameOf(*printer_)));
    return true;
}

bool ReportPreviewDialog::saveAsPdf() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    QString file = QFileDialog::getSaveFileName(this, QStringLiteral("另存为PDF"),
                                                QDir(folder).filePath(table_.title + QStringLiteral(".pdf")),
                                                QStringLiteral("PDF 文件 (*.pdf)"));
    if (file.isEmpty()) return false;
    if (!file.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) file += QStringLiteral(".pdf");
    return saveAsPdf(file);
}

bool ReportPreviewDialog::saveAsPdf(const QString& file) {
    QString error;
    if (!printReportToPdf(table_, file, &error)) {
        QMessageBox::warning(this, QStringLiteral("提示"), QStringLiteral("保存失败：") + error);
        return false;
    }
    doneLabel_->setText(QStringLiteral("已保存：%1").arg(QDir::toNativeSeparators(file)));
    return true;
}

} // namespace fp::ui
