// Printing a report table on A4 landscape, read back from the PDF it made
// (pdftotext) and from pages rendered into images.
#include "services/report_print.h"

#include "tests/support/gui_app.h"
#include "tests/support/pdf_words.h"
#include "tests/support/qt_printers.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <sys/resource.h>

namespace fp {
namespace {

using test::PdfWord;

const QString kTitle = QStringLiteral("发票清单");
const QStringList kHeadings = {QStringLiteral("纳税人：示范商贸有限公司（91370200MA3C00001X）"),
                               QStringLiteral("所属月份：2026年12月"),
                               QStringLiteral("筛选：发票代码 237020000001，状态 全部")};
const QStringList kTotals = {QStringLiteral("合计：发票 3 份，金额 1234.50"), QStringLiteral("其中作废 1 份")};
const QStringList kPayers = {QStringLiteral("示范建筑工程有限公司"), QStringLiteral("青岛海滨餐饮有限公司"),
                             QStringLiteral("张三")};

// A register of `rows` invoices: row i has the number 1000000 + i, so every
// row can be told apart in the print.
ReportTable registerOf(int rows, const QStringList& totals = kTotals) {
    ReportTable t;
    t.title = kTitle;
    t.headingLines = kHeadings;
    using Type = ReportColumn::Type;
    t.columns = {{QStringLiteral("发票代码"), Type::Text, 7}, {QStringLiteral("发票号码"), Type::Text, 5},
                 {QStringLiteral("开票日期"), Type::Text, 6}, {QStringLiteral("付款方名称"), Type::Text, 14},
                 {QStringLiteral("金额"), Type::Amount, 7},   {QStringLiteral("行数"), Type::Count, 3},
                 {QStringLiteral("开票人"), Type::Text, 4},   {QStringLiteral("状态"), Type::Text, 3}};
    t.rows.reserve(rows);
    for (int i = 0; i < rows; ++i)
        t.rows.append({QStringLiteral("237020000001"), QString::number(1000000 + i), QStringLiteral("2026-12-10"),
                       kPayers[i % kPayers.size()],
                       QStringLiteral("%1.%2").arg(i * 7 % 100000).arg(i % 100, 2, 10, QLatin1Char('0')),
                       QString::number(i % 5 + 1), QStringLiteral("张晓明"), QStringLiteral("正常")});
    t.totalsLines = totals;
    return t;
}

int rowsPerPage() { return ReportPages(registerOf(1000)).rowCount(0); }

// The page (1-based) of the page-number line "第 n 页 共 m 页" in a page's text
// (pdftotext drops the spaces between Chinese words), 0 when there is none.
int pageNumberOn(const QString& page, int* of = nullptr) {
    static const QRegularExpression re(QStringLiteral("第\\s*(\\d+)\\s*页\\s*共\\s*(\\d+)\\s*页"));
    const auto m = re.match(page);
    if (!m.hasMatch()) return 0;
    if (of) *of = m.captured(2).toInt();
    return m.captured(1).toInt();
}

class ReportPrintTest : public ::testing::Test {
protected:
    void SetUp() override { test::guiApp(); }
    QString pdf(const ReportTable& table) {
        const QString file = dir.filePath(QStringLiteral("r%1.pdf").arg(++files));
        QString error;
        EXPECT_TRUE(printReportToPdf(table, file, &error)) << error.toStdString();
        return file;
    }

    // Writes a page as an image when FPDESK_SHOT_DIR names a folder.
    static void shot(const ReportTable& table, const QString& name, int index = 0) {
        const QString shots = qEnvironmentVariable("FPDESK_SHOT_DIR");
        if (shots.isEmpty()) return;
        QDir().mkpath(shots);
        constexpr int kDotsPerMm = 6;
        const QSizeF paper = reportPaperMm();
        QImage image(int(paper.width() * kDotsPerMm), int(paper.height() * kDotsPerMm), QImage::Format_RGB32);
        image.setDotsPerMeterX(kDotsPerMm * 1000);
        image.setDotsPerMeterY(kDotsPerMm * 1000);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderReportPage(painter, table, index);
        painter.end();
        EXPECT_TRUE(image.save(QDir(shots).filePath(name), "PNG"));
    }

    QTemporaryDir dir;
    int files = 0;
};

// Every page carries the title, the heading lines, the column headings and its
// number; the rows follow each other across the pages, each printed once; the
// totals close the last page only, on a page of their own when they do not fit
// under the last rows, and never run into the foot.
TEST_F(ReportPrintTest, PagesCarryTheHeadingsTheRowsOnceAndTheTotalsLast) {
    const int perPage = rowsPerPage();
    // A4 landscape with lines a clerk reads without effort.
    EXPECT_GE(perPage, 18);
    EXPECT_LE(perPage, 30);
    const struct {
        const char* name;
        int rows;
        QStringList totals;
        int pages;
    } cases[] = {
        {"no rows", 0, kTotals, 1},
        {"no rows, no totals", 0, {}, 1},
        {"one row", 1, kTotals, 1},
        {"a page full without totals", perPage, {}, 1},
        {"a page full: the totals go to a page of their own", perPage, kTotals, 2},
        {"one row more than a page", perPage + 1, {}, 2},
        {"a page full less the room of the totals", perPage - 4, kTotals, 1},
        {"two and a half pages", perPage * 2 + perPage / 2, kTotals, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReportTable table = registerOf(c.rows, c.totals);
        const ReportPages pages(table);
        ASSERT_EQ(pages.pageCount(), c.pages);
        QPdfWriter writer(dir.filePath(QStringLiteral("count.pdf")));
        ASSERT_TRUE(setReportPaper(writer, nullptr));
        EXPECT_EQ(reportPageCount(table, writer), c.pages);

        const QString file = pdf(table);
        if (c.rows == 0 && !c.totals.isEmpty()) shot(table, QStringLiteral("report-empty.png"));
        if (c.pages == 3) shot(table, QStringLiteral("report-last-page.png"), 2);
        const QStringList text = test::pdfPages(file);
        ASSERT_EQ(text.size(), c.pages);
        int pages_ = 0;
        const std::vector<PdfWord> words = test::pdfWords(file, &pages_);
        int next = 0; // the row expected next
        for (int p = 1; p <= c.pages; ++p) {
            SCOPED_TRACE(p);
            const QString& page = text[p - 1];
            EXPECT_TRUE(page.contains(kTitle));
            for (const QString& h : kHeadings) EXPECT_TRUE(page.contains(h)) << h.toStdString();
            for (const char* heading : {"发票代码", "付款方名称", "金额", "开票人"})
                EXPECT_TRUE(page.contains(QString::fromUtf8(heading))) << heading;
            int of = 0;
            EXPECT_EQ(pageNumberOn(page, &of), p);
            EXPECT_EQ(of, c.pages);
            for (const QString& line : kTotals)
                EXPECT_EQ(page.contains(line), p == c.pages && !c.totals.isEmpty()) << line.toStdString();
            EXPECT_EQ(page.contains(QStringLiteral("无记录")), c.rows == 0);

            // The rows of this page, in order; the totals under the last, above the foot.
            double lastRowBottom = 0, totalsTop = 1e9, totalsBottom = 0, footTop = 1e9;
            for (const PdfWord& w : words) {
                if (w.page != p) continue;
                if (w.text.startsWith(QStringLiteral("第"))) footTop = std::min(footTop, w.mm.top());
                if (w.text.startsWith(QStringLiteral("合计：")) || w.text.startsWith(QStringLiteral("其中作废"))) {
                    totalsTop = std::min(totalsTop, w.mm.top());
                    totalsBottom = std::max(totalsBottom, w.mm.bottom());
                }
                bool number = false;
                const int n = w.text.toInt(&number) - 1000000;
                if (!number || n < 0 || w.text.size() != 7) continue;
                EXPECT_EQ(n, next) << "row out of order";
                next = n + 1;
                lastRowBottom = w.mm.bottom();
                EXPECT_GE(w.mm.height(), 3.0) << "type too small to read";
            }
            if (p == c.pages && !c.totals.isEmpty()) {
                EXPECT_GT(totalsTop, lastRowBottom);
                EXPECT_LT(totalsBottom, footTop);
            }
        }
        EXPECT_EQ(next, c.rows);
        if (c.pages > 1 && c.rows == perPage) {
            EXPECT_EQ(pages.rowCount(1), 0); // the totals' own page
        }
    }
}

// The taxpayer's Chinese names come out of the PDF as text; amounts and counts
// line up on the right, texts on the left; a text wider than its column is cut
// with "…" inside it, a figure is never cut.
TEST_F(ReportPrintTest, FiguresAlignRightAndLongTextsAreCutInsideTheirColumn) {
    ReportTable table = registerOf(30);
    const QString longPayer = QStringLiteral("青岛市黄岛区示范建筑工程有限公司第一分公司第二项目部（东区）");
    table.rows[1][3] = longPayer;
    table.rows[2][4] = QStringLiteral("-1234567890123.45");
    table.rows[0][4] = QStringLiteral("1.00");
    const std::vector<PdfWord> words = test::pdfWords(pdf(table));
    shot(table, QStringLiteral("report-page.png"));

    auto row = [&](int r) {
        std::vector<PdfWord> cells;
        const QString number = QString::number(1000000 + r);
        double top = -1;
        for (const PdfWord& w : words)
            if (w.page == 1 && w.text == number) top = w.mm.center().y();
        for (const PdfWord& w : words)
            if (w.page == 1 && top >= 0 && std::abs(w.mm.center().y() - top) < 1.5) cells.push_back(w);
        std::sort(cells.begin(), cells.end(),
                  [](const PdfWord& a, const PdfWord& b) { return a.mm.left() < b.mm.left(); });
        return cells;
    };
    const auto r0 = row(0), r1 = row(1), r2 = row(2);
    ASSERT_EQ(r0.size(), 8u);
    ASSERT_EQ(r1.size(), 8u);
    ASSERT_EQ(r2.size(), 8u);
    EXPECT_EQ(r0[3].text, kPayers[0]);
    EXPECT_EQ(r0[4].text, QStringLiteral("1.00"));
    EXPECT_EQ(r2[4].text, QStringLiteral("-1234567890123.45")); // whole
    for (int c : {4, 5}) {                                      // amount, count: right edges in line
        EXPECT_NEAR(r0[c].mm.right(), r1[c].mm.right(), 0.3) << c;
        EXPECT_NEAR(r0[c].mm.right(), r2[c].mm.right(), 0.3) << c;
    }
    EXPECT_GT(r0[4].mm.left(), r2[4].mm.left() + 5); // "1.00" sits right, not left
    for (int c : {0, 3, 6})                          // texts: left edges in line
        EXPECT_NEAR(r0[c].mm.left(), r1[c].mm.left(), 0.3) << c;

    // The long name: its start and an ellipsis, clear of the amount beside it.
    EXPECT_TRUE(r1[3].text.endsWith(QStringLiteral("…"))) << r1[3].text.toStdString();
    EXPECT_TRUE(longPayer.startsWith(r1[3].text.chopped(1))) << r1[3].text.toStdString();
    EXPECT_GE(r1[3].text.size(), 8);
    EXPECT_LT(r1[3].mm.right(), r2[4].mm.left());
    EXPECT_LT(r2[3].mm.right(), r2[4].mm.left()); // the long amount keeps clear of the name
    EXPECT_LT(r2[4].mm.right(), r2[5].mm.left());
}

// A print that could not be written leaves no file that could pass for the
// report, and says why; what the name stands for when it is no file is left alone.
TEST_F(ReportPrintTest, APdfThatCannotBeWrittenSaysSoAndLeavesNoFile) {
    const ReportTable table = registerOf(200);
    const QString nowhere = dir.filePath(QStringLiteral("missing/dir/list.pdf"));
    const QString cut = dir.filePath(QStringLiteral("cut.pdf"));
    const struct {
        const char* name;
        QString file;
        rlim_t sizeLimit; // the most a file of this process may hold, 0 for no limit
        QString error;
        bool left;
    } cases[] = {
        {"a folder that does not exist", nowhere, 0, QStringLiteral("PDF文件无法写入：") + nowhere, false},
        {"a device that takes no byte", QStringLiteral("/dev/full"), 0,
         QStringLiteral("PDF文件没有完整写入（磁盘已满？），没有打印：/dev/full"), true},
        {"a disk full after 8 KiB", cut, 8192, QStringLiteral("PDF文件没有完整写入（磁盘已满？），没有打印：") + cut,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rlimit before{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
        // Past the limit a write fails (EFBIG) instead of raising SIGXFSZ.
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (c.sizeLimit) {
            rlimit limited = before;
            limited.rlim_cur = c.sizeLimit;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        }
        QString error;
        const bool written = printReportToPdf(table, c.file, &error);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(written);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(QFileInfo::exists(c.file), c.left);
    }
    QString error;
    EXPECT_TRUE(printReportToPdf(table, cut, &error)) << error.toStdString();
    EXPECT_EQ(test::pdfPages(cut).size(), ReportPages(table).pageCount());
}

// A printer whose driver cannot take A4 landscape keeps its own paper, on
// which the report would be cut off: it is refused before anything is painted.
// Any other device is turned to A4 landscape, whatever it had.
TEST_F(ReportPrintTest, ADeviceThatCannotTakeA4LandscapeIsRefused) {
    class LetterOnlyWriter : public QPdfWriter {
    public:
        using QPdfWriter::QPdfWriter;
        bool setPageLayout(const QPageLayout& l) override {
            return l.pageSize().isEquivalentTo(QPageSize(QPageSize::Letter)) && QPdfWriter::setPageLayout(l);
        }
        bool setPageSize(const QPageSize& s) override {
            return s.isEquivalentTo(QPageSize(QPageSize::Letter)) && QPdfWriter::setPageSize(s);
        }
    };
    const QString file = dir.filePath(QStringLiteral("letter.pdf"));
    {
        LetterOnlyWriter letter(file);
        (void)letter.setPageSize(QPageSize(QPageSize::Letter)); // the driver's own paper
        QString error;
        EXPECT_FALSE(printReport(letter, registerOf(5), &error));
        EXPECT_EQ(error, QStringLiteral(
                             "打印机不能使用 A4 横向纸张，没有打印！请在打印机属性中选择 A4 纸，或选择其他打印机。"));
        EXPECT_TRUE(letter.pageLayout().pageSize().isEquivalentTo(QPageSize(QPageSize::Letter)));
    }
    EXPECT_EQ(QFileInfo(file).size(), 0); // nothing painted
    EXPECT_EQ(reportPaperRefusal(QStringLiteral("HP LaserJet")),
              QStringLiteral(
                  "打印机“HP LaserJet”不能使用 A4 横向纸张，没有打印！请在打印机属性中选择 A4 纸，或选择其他打印机。"));

    const QString a4 = dir.filePath(QStringLiteral("portrait.pdf"));
    {
        QPdfWriter portrait(a4);
        ASSERT_TRUE(portrait.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A5), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20))));
        QString error;
        ASSERT_TRUE(printReport(portrait, registerOf(5), &error)) << error.toStdString();
        const QRectF paper = portrait.pageLayout().fullRect(QPageLayout::Millimeter);
        EXPECT_NEAR(paper.width(), 297, 0.5);
        EXPECT_NEAR(paper.height(), 210, 0.5);
    }
    // The page as the paper has it: the page number near the foot, the title near the top.
    for (const PdfWord& w : test::pdfWords(a4)) {
        if (w.text == kTitle) {
            EXPECT_LT(w.mm.top(), 25);
        }
        if (w.text == QStringLiteral("第")) {
            EXPECT_GT(w.mm.bottom(), 185);
        }
    }
}

// A page range prints those pages with the numbers they have in the whole.
TEST_F(ReportPrintTest, APageRangePrintsThosePages) {
    const ReportTable table = registerOf(rowsPerPage() * 4);
    const QString file = dir.filePath(QStringLiteral("range.pdf"));
    {
        QPdfWriter writer(file);
        QString error;
        ASSERT_TRUE(printReport(writer, table, 2, 3, &error)) << error.toStdString();
        QPdfWriter beyond(dir.filePath(QStringLiteral("beyond.pdf")));
        EXPECT_FALSE(printReport(beyond, table, 9, 12, &error));
        EXPECT_EQ(error, QStringLiteral("报表只有5页，所选页码范围内没有可打印的页！"));
    }
    const QStringList pages = test::pdfPages(file);
    ASSERT_EQ(pages.size(), 2);
    EXPECT_EQ(pageNumberOn(pages[0]), 2);
    EXPECT_EQ(pageNumberOn(pages[1]), 3);
    EXPECT_TRUE(pages[0].contains(QString::number(1000000 + rowsPerPage())));
    // The foot's words as printed: "第 2 页 共 5 页".
    QStringList foot;
    for (const PdfWord& w : test::pdfWords(file))
        if (w.page == 1 && w.mm.top() > 190) foot << w.text;
    EXPECT_EQ(foot.join(QLatin1Char(' ')), QStringLiteral("第 2 页 共 5 页"));
}

long maxResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// 28,000 invoices: the pages are counted without painting, and the whole PDF
// is written page by page without holding the list's pages in memory. (How
// fast a page paints is measured in bench/, not here.)
TEST_F(ReportPrintTest, ALongListIsPaintedPageByPage) {
    const int perPage = rowsPerPage();
    const ReportTable big = registerOf(28000);
    const ReportPages pages(big);
    EXPECT_GE(pages.pageCount(), 28000 / perPage);
    EXPECT_LE(pages.pageCount(), 28000 / perPage + 2);
    EXPECT_EQ(pages.firstRow(pages.pageCount() - 1) + pages.rowCount(pages.pageCount() - 1), 28000);

    const long before = maxResidentKiB();
    const QString file = dir.filePath(QStringLiteral("long.pdf"));
    QString error;
    ASSERT_TRUE(printReportToPdf(big, file, &error)) << error.toStdString();
    const long grown = maxResidentKiB() - before;
    EXPECT_LT(grown, 64 * 1024) << "writing the PDF took " << grown << " KiB more";
    // The last page read back alone (reading them all takes longer than writing them).
    const int count = pages.pageCount();
    EXPECT_EQ(test::pdfPageCount(file), count);
    const QString lastPage =
        test::runPdftotext({QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(count),
                            QStringLiteral("-l"), QString::number(count), file, QStringLiteral("-")});
    EXPECT_TRUE(lastPage.contains(QStringLiteral("1027999")));
    EXPECT_TRUE(lastPage.contains(kTotals.first()));
    EXPECT_EQ(pageNumberOn(lastPage), count);
}

} // namespace
} // namespace fp
