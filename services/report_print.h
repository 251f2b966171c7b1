#pragma once
// Printing a report (the register's list of invoices, the monthly summary) on
// A4 landscape pages. Every page carries the title, the heading lines and the
// column headings, and at its foot "第 n 页 共 m 页"; the rows follow in
// columns that share the page's width in proportion to their widths; the
// totals lines close the last page (which is a page of its own when they do
// not fit under the last rows). A table without rows prints one page saying
// "无记录".
//
// Pages are laid out by arithmetic alone (every row takes one line of a fixed
// height), so counting them costs nothing and a page is painted from its own
// rows only: a list of tens of thousands of invoices prints page by page.
#include "services/report_table.h"

#include <QSizeF>
#include <QString>

class QPainter;
class QPagedPaintDevice;

namespace fp {

// The paper of a report: A4 landscape, in millimetres.
QSizeF reportPaperMm();

// A table laid out on pages of a paper. Keeps a reference to the table, which
// must outlive it and not change meanwhile.
class ReportPages {
public:
    explicit ReportPages(const ReportTable& table, const QSizeF& paperMm = reportPaperMm());

    int pageCount() const { return pageCount_; }
    // The rows [first, first + count) of the table on page `index` (0-based).
    int firstRow(int index) const;
    int rowCount(int index) const;
    // Paints page `index` (0-based). The painter's origin is the paper's top
    // left corner; its device's resolution maps millimetres to dots.
    void render(QPainter& painter, int index) const;

private:
    const ReportTable& table_;
    QSizeF paperMm_;
    double bodyTopMm_ = 0;
    int rowsPerPage_ = 1;
    int pageCount_ = 1;
};

// The number of pages the table takes on the device's paper.
int reportPageCount(const ReportTable& table, const QPagedPaintDevice& device);
// Paints page `index` (0-based) on the painter, laid out on its device's paper
// when that is a paged device (a printer, a PDF writer), else on A4 landscape.
void renderReportPage(QPainter& painter, const ReportTable& table, int index);

// Puts A4 landscape paper on a printer or PDF writer. A printer whose driver
// cannot take it keeps its own: false then, with reportPaperRefusal() in
// *error, and nothing may be printed on it.
[[nodiscard]] bool setReportPaper(QPagedPaintDevice& device, QString* error);
// The refusal of a printer (named by `printer` when given) that cannot take A4 landscape.
QString reportPaperRefusal(const QString& printer = QString());

// Prints every page of the table on a printer or PDF writer, A4 landscape
// put on it first. False with a message in *error when the device cannot take
// the paper or cannot be painted on.
[[nodiscard]] bool printReport(QPagedPaintDevice& device, const ReportTable& table, QString* error);
// Prints pages `from` to `to` (1-based, both included, held to the pages there are).
[[nodiscard]] bool printReport(QPagedPaintDevice& device, const ReportTable& table, int from, int to, QString* error);

// Prints the table into a PDF file. False with a message in *error when the
// file cannot be written, or not completely (a full disk): a partly written
// file is removed.
[[nodiscard]] bool printReportToPdf(const ReportTable& table, const QString& file, QString* error);
// Prints pages `from` to `to` (1-based, both included) into a PDF file.
[[nodiscard]] bool printReportToPdf(const ReportTable& table, const QString& file, int from, int to, QString* error);

} // namespace fp
