#pragma once
// What the print previews (an invoice, a report) have in common: the page and
// zoom commands around a QPrintPreviewWidget and the line naming the printer.
class QDialog;
class QLabel;
class QPrinter;
class QPrintPreviewWidget;
class QString;
class QToolBar;
class QVBoxLayout;

namespace fp::ui {

// The frame of a preview dialog: the preview of `printer` (object name
// "dw_preview") and under it a status area of two lines, the printer
// ("st_printer") and a note named `noteName`. The dialog's bar goes on top:
// box->insertWidget(0, bar).
struct PreviewFrame {
    QVBoxLayout* box = nullptr;
    QPrintPreviewWidget* preview = nullptr;
    QLabel* printer = nullptr;
    QLabel* note = nullptr;
};
PreviewFrame buildPreviewFrame(QDialog* dialog, QPrinter* printer, const QString& noteName);

// Adds 上一页 (PageUp), " 第 n 页 / 共 m 页 ", 下一页 (PageDown), 放大 (Ctrl++),
// 缩小 (Ctrl+-), 适合宽度 and 整页 to the bar; the label follows the preview.
void addPageCommands(QToolBar* bar, QPrintPreviewWidget* preview);

// The printer a print goes to: "PDF" for a PDF file, else the printer's name
// (empty while none is chosen).
QString printerNameOf(const QPrinter& printer);

// "打印机：…" for the status line: the printer, the PDF file, or that none is chosen.
QString printerStateText(const QPrinter& printer);

} // namespace fp::ui
