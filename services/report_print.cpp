#include "services/report_print.h"

#include "services/pdf_file.h"
#include "services/print_render.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace fp {

namespace {

// The painter draws in hundredths of a millimetre; every measure below is in
// millimetres.
constexpr double kUnitsPerMm = 100;
constexpr double kPointMm = 25.4 / 72.0;

constexpr double kMarginLeftMm = 15;
constexpr double kMarginRightMm = 15;
constexpr double kMarginTopMm = 12;
constexpr double kMarginBottomMm = 10;
constexpr double kTitleHeightMm = 11;
constexpr double kHeadingLineMm = 5.5;
constexpr double kGapAfterHeadingsMm = 2;
constexpr double kColumnHeadMm = 9;
constexpr double kRowMm = 6;
constexpr double kGapBeforeTotalsMm = 1.5;
constexpr double kTotalsLineMm = 6.5;
// The page numbers' line, above the bottom margin.
constexpr double kFootMm = 8;
// Texts keep this far from the rules of their cell.
constexpr double kCellPaddingMm = 1.5;

constexpr double kTitlePt = 16;
constexpr double kTextPt = 10;
constexpr double kFootPt = 9;
// A column heading too wide for one line is wrapped and set smaller, down to this.
constexpr double kSmallestHeadingPt = 7;

// The frame of the table and the rule under its headings; the rules between
// rows and columns are thinner and grey, so the figures stand out.
constexpr double kFrameRuleMm = 0.3;
constexpr double kInnerRuleMm = 0.12;
const QColor kInnerRuleColour(140, 140, 140);
const QColor kHeadingFill(232, 232, 232);

double units(double mm) { return mm * kUnitsPerMm; }

QFont reportFont(double points, bool bold = false) {
    QFont f(printFontFamily(QStringLiteral("黑体")));
    f.setStyleHint(QFont::SansSerif);
    // Sizes in the painter's units and no hinting: a text takes the same room
    // on screen, on paper and in a PDF.
    f.setPixelSize(std::max(1, int(std::lround(units(points * kPointMm)))));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

bool isNumber(ReportColumn::Type type) { return type != ReportColumn::Type::Text; }

// A cell's text on one line: line breaks of a note become spaces.
QString oneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

// Text cut to the width with an ellipsis at its end.
void drawElided(QPainter& painter, const QRectF& box, const QFont& font, int align, const QString& text) {
    if (text.isEmpty()) return;
    const QFontMetricsF metrics(font);
    QString line = oneLine(text);
    if (metrics.horizontalAdvance(line) > box.width()) line = metrics.elidedText(line, Qt::ElideRight, box.width());
    painter.setFont(font);
    painter.drawText(box, align | Qt::AlignVCenter | Qt::TextSingleLine, line);
}

// A text cell too wide for its column is first set smaller, down to seven
// tenths of its size (codes, numbers, dates and status names then fit whole),
// and only then cut with an ellipsis.
void drawCellText(QPainter& painter, const QRectF& box, QFont font, const QString& text) {
    if (text.isEmpty()) return;
    const QString line = oneLine(text);
    const double wide = QFontMetricsF(font).horizontalAdvance(line);
    if (wide > box.width()) {
        const double scale = std::max(0.7, box.width() / wide);
        font.setPixelSize(std::max(1, int(std::floor(font.pixelSize() * scale))));
    }
    drawElided(painter, box, font, Qt::AlignLeft, line);
}

// A figure is never cut (a cut amount reads as another amount): one too wide
// for its column is set smaller until it fits.
void drawFigure(QPainter& painter, const QRectF& box, QFont font, const QString& text) {
    if (text.isEmpty()) return;
    const double wide = QFontMetricsF(font).horizontalAdvance(text);
    if (wide > box.width()) font.setPixelSize(std::max(1, int(std::floor(font.pixelSize() * box.width() / wide))));
    painter.setFont(font);
    painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
}

// A column heading: on one line when it fits, else wrapped and set smaller.
void drawColumnHeading(QPainter& painter, const QRectF& box, QFont font, const QString& text) {
    const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextWrapAnywhere;
    const int smallest = std::max(1, int(std::lround(units(kSmallestHeadingPt * kPointMm))));
    for (int size = font.pixelSize(); size > smallest; size = std::max(smallest, int(size * 0.9))) {
        const QRectF need = QFontMetricsF(font).boundingRect(box, flags, text);
        if (need.width() <= box.width() + 0.5 && need.height() <= box.height() + 0.5) break;
        font.setPixelSize(std::max(smallest, int(size * 0.9)));
    }
    painter.setFont(font);
    painter.save();
    painter.setClipRect(box);
    painter.drawText(box, flags, text);
    painter.restore();
}

bool failWith(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

QSizeF paperOfDevice(const QPagedPaintDevice& device) {
    return device.pageLayout().fullRect(QPageLayout::Millimeter).size();
}

// The pages `from` to `to` (1-based) on a painter begun on `device`; ends the painter.
bool paintPages(QPainter& painter, QPagedPaintDevice& device, const ReportPages& pages, int from, int to,
                QString* error) {
    for (int page = from; page <= to; ++page) {
        if (page > from && !device.newPage()) {
            painter.end();
            return failWith(error, QStringLiteral("打印设备无法换页，只打印了%1页！").arg(page - from));
        }
        pages.render(painter, page - 1);
    }
    if (!painter.end()) return failWith(error, QStringLiteral("打印未能完成！"));
    return true;
}

bool printRange(QPagedPaintDevice& device, const ReportTable& table, int from, int to, const QString& cannotBegin,
                QString* error) {
    if (!setReportPaper(device, error)) return false;
    const ReportPages pages(table, paperOfDevice(device));
    from = std::max(from, 1);
    to = std::min(to, pages.pageCount());
    if (from > to)
        return failWith(error, QStringLiteral("报表只有%1页，所选页码范围内没有可打印的页！").arg(pages.pageCount()));
    QPainter painter;
    if (!painter.begin(&device)) return failWith(error, cannotBegin);
    return paintPages(painter, device, pages, from, to, error);
}

} // namespace

QSizeF reportPaperMm() { return QPageSize(QPageSize::A4).size(QPageSize::Millimeter).transposed(); }

ReportPages::ReportPages(const ReportTable& table, const QSizeF& paperMm) : table_(table), paperMm_(paperMm) {
    bodyTopMm_ = kMarginTopMm + kTitleHeightMm + double(table.headingLines.size()) * kHeadingLineMm +
                 kGapAfterHeadingsMm + kColumnHeadMm;
    const double bodyMm = paperMm.height() - kMarginBottomMm - kFootMm - bodyTopMm_;
    // A paper too small for one row still gets one a page.
    rowsPerPage_ = std::max(1, int(std::floor(bodyMm / kRowMm + 1e-9)));
    const qsizetype rows = table.rows.size();
    // An empty table takes one line for "无记录".
    const qsizetype lines = std::max<qsizetype>(rows, 1);
    pageCount_ = int((lines + rowsPerPage_ - 1) / rowsPerPage_);
    if (!table.totalsLines.isEmpty()) {
        const qsizetype onLast = lines - qsizetype(pageCount_ - 1) * rowsPerPage_;
        const double totalsMm = kGapBeforeTotalsMm + double(table.totalsLines.size()) * kTotalsLineMm;
        if (double(onLast) * kRowMm + totalsMm > bodyMm + 1e-9) ++pageCount_;
    }
}

int ReportPages::firstRow(int index) const {
    return int(std::min<qsizetype>(qsizetype(index) * rowsPerPage_, table_.rows.size()));
}

int ReportPages::rowCount(int index) const {
    if (index < 0 || index >= pageCount_) return 0;
    return int(std::clamp<qsizetype>(table_.rows.size() - qsizetype(index) * rowsPerPage_, 0, rowsPerPage_));
}

void ReportPages::render(QPainter& painter, int index) const {
    if (index < 0 || index >= pageCount_) return;
    painter.save();
    const QPaintDevice* device = painter.device();
    const double dotsPerMmX = (device ? device->logicalDpiX() : 96) / 25.4;
    const double dotsPerMmY = (device ? device->logicalDpiY() : 96) / 25.4;
    // A printer not in full-page mode has its origin at the corner of what it
    // can print; the layout is measured from the paper's corner.
    if (const auto* paged = dynamic_cast<const QPagedPaintDevice*>(device)) {
        const QPageLayout layout = paged->pageLayout();
        if (layout.mode() != QPageLayout::FullPageMode) {
            const QRectF paint = layout.paintRect(QPageLayout::Millimeter);
            painter.translate(-paint.left() * dotsPerMmX, -paint.top() * dotsPerMmY);
        }
    }
    painter.scale(dotsPerMmX / kUnitsPerMm, dotsPerMmY / kUnitsPerMm);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);

    const double left = kMarginLeftMm;
    const double width = paperMm_.width() - kMarginLeftMm - kMarginRightMm;
    auto box = [](double x, double y, double w, double h) { return QRectF(units(x), units(y), units(w), units(h)); };

    // Title and heading lines.
    double y = kMarginTopMm;
    const QFont title = reportFont(kTitlePt, true);
    painter.setFont(title);
    painter.drawText(box(left, y, width, kTitleHeightMm), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                     QFontMetricsF(title).elidedText(oneLine(table_.title), Qt::ElideRight, units(width)));
    y += kTitleHeightMm;
    const QFont text = reportFont(kTextPt);
    for (const QString& line : table_.headingLines) {
        drawElided(painter, box(left, y, width, kHeadingLineMm), text, Qt::AlignLeft, line);
        y += kHeadingLineMm;
    }
    y += kGapAfterHeadingsMm;

    // The columns share the width in proportion to their widths.
    const qsizetype columns = table_.columns.size();
    std::vector<double> edges(size_t(columns) + 1, left);
    double weights = 0;
    for (const ReportColumn& c : table_.columns) weights += std::max(c.width, 1);
    for (qsizetype c = 0; c < columns; ++c)
        edges[size_t(c) + 1] = edges[size_t(c)] + width * std::max(table_.columns[c].width, 1) / weights;
    const double right = left + width;

    // Column headings on a light ground.
    const double headTop = y;
    painter.fillRect(box(left, headTop, width, kColumnHeadMm), kHeadingFill);
    const QFont bold = reportFont(kTextPt, true);
    for (qsizetype c = 0; c < columns; ++c)
        drawColumnHeading(painter,
                          box(edges[size_t(c)] + kCellPaddingMm, headTop,
                              edges[size_t(c) + 1] - edges[size_t(c)] - 2 * kCellPaddingMm, kColumnHeadMm),
                          bold, oneLine(table_.columns[c].title));
    y = bodyTopMm_;

    // The rows of this page.
    const int first = firstRow(index);
    const int count = rowCount(index);
    for (int r = 0; r < count; ++r) {
        const QStringList& row = table_.rows[first + r];
        for (qsizetype c = 0; c < columns; ++c) {
            const QString cell = c < row.size() ? row[c] : QString();
            const QRectF cellBox = box(edges[size_t(c)] + kCellPaddingMm, y,
                                       edges[size_t(c) + 1] - edges[size_t(c)] - 2 * kCellPaddingMm, kRowMm);
            if (isNumber(table_.columns[c].type))
                drawFigure(painter, cellBox, text, cell);
            else
                drawCellText(painter, cellBox, text, cell);
        }
        y += kRowMm;
    }
    const bool empty = table_.rows.isEmpty();
    if (empty) {
        drawElided(painter, box(left, y, width, kRowMm), text, Qt::AlignHCenter, QStringLiteral("无记录"));
        y += kRowMm;
    }
    const double tableBottom = y;

    // Rules: thin grey ones between rows and columns, the frame and the rule
    // under the headings black.
    QPainterPath inner;
    for (double ry = bodyTopMm_ + kRowMm; ry < tableBottom - kRowMm / 2; ry += kRowMm) {
        inner.moveTo(units(left), units(ry));
        inner.lineTo(units(right), units(ry));
    }
    // "无记录" runs across the columns.
    const double columnRulesEnd = empty ? bodyTopMm_ : tableBottom;
    for (qsizetype c = 1; c < columns; ++c) {
        inner.moveTo(units(edges[size_t(c)]), units(headTop));
        inner.lineTo(units(edges[size_t(c)]), units(columnRulesEnd));
    }
    painter.strokePath(inner, QPen(kInnerRuleColour, units(kInnerRuleMm), Qt::SolidLine, Qt::FlatCap));
    QPainterPath frame;
    frame.addRect(box(left, headTop, width, tableBottom - headTop));
    frame.moveTo(units(left), units(bodyTopMm_));
    frame.lineTo(units(right), units(bodyTopMm_));
    painter.strokePath(frame, QPen(Qt::black, units(kFrameRuleMm), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));

    // The totals close the last page.
    if (index == pageCount_ - 1) {
        y = tableBottom + kGapBeforeTotalsMm;
        for (const QString& line : table_.totalsLines) {
            drawElided(painter, box(left + kCellPaddingMm, y, width - 2 * kCellPaddingMm, kTotalsLineMm), bold,
                       Qt::AlignLeft, line);
            y += kTotalsLineMm;
        }
    }

    // The page number at the foot.
    const double footTop = paperMm_.height() - kMarginBottomMm - kFootMm;
    painter.setFont(reportFont(kFootPt));
    painter.drawText(box(left, footTop, width, kFootMm), Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
                     QStringLiteral("第 %1 页 共 %2 页").arg(index + 1).arg(pageCount_));
    painter.restore();
}

int reportPageCount(const ReportTable& table, const QPagedPaintDevice& device) {
    return ReportPages(table, paperOfDevice(device)).pageCount();
}

void renderReportPage(QPainter& painter, const ReportTable& table, int index) {
    const auto* paged = dynamic_cast<const QPagedPaintDevice*>(painter.device());
    ReportPages(table, paged ? paperOfDevice(*paged) : reportPaperMm()).render(painter, index);
}

bool setReportPaper(QPagedPaintDevice& device, QString* error) {
    const QPageSize a4(QPageSize::A4);
    // Without margins where the device allows it; a printer that keeps its
    // margins still takes the paper and the orientation. A printer that cannot
    // take the paper keeps its own and says so only in its answer; its layout
    // is read back as well.
    const bool taken = device.setPageLayout(QPageLayout(a4, QPageLayout::Landscape, QMarginsF())) ||
                       (device.setPageSize(a4) && device.setPageOrientation(QPageLayout::Landscape));
    const QPageLayout now = device.pageLayout();
    if (!taken || !now.pageSize().isEquivalentTo(a4) || now.orientation() != QPageLayout::Landscape)
        return failWith(error, reportPaperRefusal());
    return true;
}

QString reportPaperRefusal(const QString& printer) {
    const QString who = printer.isEmpty() ? QStringLiteral("打印机") : QStringLiteral("打印机“%1”").arg(printer);
    return QStringLiteral("%1不能使用 A4 横向纸张，没有打印！请在打印机属性中选择 A4 纸，或选择其他打印机。").arg(who);
}

bool printReport(QPagedPaintDevice& device, const ReportTable& table, QString* error) {
    return printReport(device, table, 1, std::numeric_limits<int>::max(), error);
}

bool printReport(QPagedPaintDevice& device, const ReportTable& table, int from, int to, QString* error) {
    return printRange(device, table, from, to, QStringLiteral("打印设备无法使用，不能打印！"), error);
}

bool printReportToPdf(const ReportTable& table, const QString& file, QString* error) {
    return printReportToPdf(table, file, 1, std::numeric_limits<int>::max(), error);
}

bool printReportToPdf(const ReportTable& table, const QString& file, int from, int to, QString* error) {
    return writePdfFile(
        file,
        [&](QPdfWriter& writer, QString* failure) {
            writer.setTitle(table.title);
            return printRange(writer, table, from, to,
                              QStringLiteral("PDF文件无法写入：%1").arg(QFileInfo(file).absoluteFilePath()), failure);
        },
        error);
}

} // namespace fp
