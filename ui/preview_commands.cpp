#include "ui/preview_commands.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QString>
#include <QToolBar>
#include <QVBoxLayout>

namespace fp::ui {

PreviewFrame buildPreviewFrame(QDialog* dialog, QPrinter* printer, const QString& noteName) {
    PreviewFrame f;
    f.box = new QVBoxLayout(dialog);
    f.box->setContentsMargins(0, 0, 0, 0);
    f.box->setSpacing(0);
    f.preview = new QPrintPreviewWidget(printer, dialog);
    f.preview->setObjectName(QStringLiteral("dw_preview"));
    f.box->addWidget(f.preview, 1);

    auto* status = new QWidget(dialog);
    auto* statusBox = new QVBoxLayout(status);
    statusBox->setContentsMargins(8, 4, 8, 6);
    f.printer = new QLabel(status);
    f.printer->setObjectName(QStringLiteral("st_printer"));
    f.note = new QLabel(status);
    f.note->setObjectName(noteName);
    statusBox->addWidget(f.printer);
    statusBox->addWidget(f.note);
    f.box->addWidget(status);
    return f;
}

void addPageCommands(QToolBar* bar, QPrintPreviewWidget* preview) {
    bar->addAction(QStringLiteral("上一页"), preview,
                   [preview] { preview->setCurrentPage(preview->currentPage() - 1); })
        ->setShortcut(QKeySequence(Qt::Key_PageUp));
    auto* pageLabel = new QLabel(bar);
    pageLabel->setObjectName(QStringLiteral("st_page"));
    bar->addWidget(pageLabel);
    bar->addAction(QStringLiteral("下一页"), preview,
                   [preview] { preview->setCurrentPage(preview->currentPage() + 1); })
        ->setShortcut(QKeySequence(Qt::Key_PageDown));
    bar->addSeparator();
    bar->addAction(QStringLiteral("放大"), preview, [preview] { preview->zoomIn(); })
        ->setShortcut(QKeySequence::ZoomIn);
    bar->addAction(QStringLiteral("缩小"), preview, [preview] { preview->zoomOut(); })
        ->setShortcut(QKeySequence::ZoomOut);
    bar->addAction(QStringLiteral("适合宽度"), preview, &QPrintPreviewWidget::fitToWidth);
    bar->addAction(QStringLiteral("整页"), preview, &QPrintPreviewWidget::fitInView);
    QObject::connect(preview, &QPrintPreviewWidget::previewChanged, pageLabel, [preview, pageLabel] {
        pageLabel->setText(
            QStringLiteral(" 第 %1 页 / 共 %2 页 ").arg(preview->currentPage()).arg(preview->pageCount()));
    });
}

QString printerNameOf(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat) return QStringLiteral("PDF");
    return printer.printerName();
}

QString printerStateText(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat)
        return printer.outputFileName().isEmpty() ? QStringLiteral("打印机：本机没有打印机，打印时选择 PDF 文件")
                                                  : QStringLiteral("打印机：PDF 文件 %1").arg(printer.outputFileName());
    if (printer.printerName().isEmpty()) return QStringLiteral("打印机：（未选择，打印时在打印对话框中选择）");
    return QStringLiteral("打印机：%1").arg(printer.printerName());
}

} // namespace fp::ui
