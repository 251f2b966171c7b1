// The invoice print renderer, read back from what it produced: the PDF's text
// and its positions (pdftotext -bbox) and the pixels of rendered images.
#include "services/print_render.h"

#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "data_model/form_def.h"
#include "host/judge_column.h"
#include "host/text_helpers.h"
#include "tests/support/gui_app.h"
#include "tests/support/pdf_words.h"
#include "tests/support/print_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_db.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace fp {
namespace {

const QString kSxh = QString::fromLatin1(demo::kSxh);
const QString kCode = QString::fromLatin1(demo::kCode50);
// Images are rendered at 10 dots a millimetre.
constexpr int kDotsPerMm = 10;

using test::guiApp;
using Word = test::PdfWord;
using test::pdfWords;

// The words lying inside a box (a tolerance for the type's side bearings),
// in reading order, joined.
QString textInside(const std::vector<Word>& words, const QRectF& box, int page = 1, double tolerance = 0.3) {
    const QRectF around = box.adjusted(-tolerance, -tolerance, tolerance, tolerance);
    QString text;
    for (const Word& w : words)
        if (w.page == page && around.contains(w.mm)) text += w.text;
    return text;
}

bool anyWordWith(const std::vector<Word>& words, const QString& part) {
    for (const Word& w : words)
        if (w.text.contains(part)) return true;
    return false;
}

const PrintLayout& layout() { return invoicePrintLayout(); }

QRectF boxOf(const char* name, int row = 1, const PrintOffsetMm& offset = {}) {
    const LayoutObject* o = layout().object(QString::fromLatin1(name));
    EXPECT_NE(o, nullptr) << name;
    return o ? objectBoxMm(layout(), *o, row, layout().paperItemRows, offset) : QRectF();
}

QImage renderImage(const DataStore& form, const PrintOptions& options) {
    const QSize size(int(layout().paperWidthMm * kDotsPerMm), int(layout().paperHeightMm * kDotsPerMm));
    QImage image(size, QImage::Format_RGB32);
    image.setDotsPerMeterX(kDotsPerMm * 1000);
    image.setDotsPerMeterY(kDotsPerMm * 1000);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderInvoicePage(painter, form, options);
    painter.end();
    return image;
}

QRect pixelsOf(const QRectF& mm) {
    return QRect(QPoint(int(std::floor(mm.left() * kDotsPerMm)), int(std::floor(mm.top() * kDotsPerMm))),
                 QPoint(int(std::ceil(mm.right() * kDotsPerMm)), int(std::ceil(mm.bottom() * kDotsPerMm))));
}
// The pixels of a box less a margin, clear of the rules along its edges.
QRect innerPixelsOf(const QRectF& mm) { return pixelsOf(mm).adjusted(4, 4, -4, -4); }

bool inked(QRgb c) { return qRed(c) < 200 || qGreen(c) < 200 || qBlue(c) < 200; }
bool reddish(QRgb c) { return qRed(c) > qGreen(c) + 60 && qRed(c) > qBlue(c) + 60; }

struct InkCount {
    int inked = 0;
    int red = 0;
};
InkCount inkIn(const QImage& image, const QRect& area) {
    InkCount n;
    for (int y = std::max(0, area.top()); y <= std::min(image.height() - 1, area.bottom()); ++y)
        for (int x = std::max(0, area.left()); x <= std::min(image.width() - 1, area.right()); ++x) {
            const QRgb c = image.pixel(x, y);
            if (!inked(c)) continue;
            ++n.inked;
            if (reddish(c)) ++n.red;
        }
    return n;
}

class PrintRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        guiApp();
        installFormHostFunctions();
    }

    void invoice(const QString& fphm, const QString& fpzt, const char* total, const QString& payer,
                 std::initializer_list<test::PrintLine> items) {
        test::insertPrintInvoice(tx(), fphm, fpzt, total, payer, items);
    }
    std::unique_ptr<DataStore> printForm(const QString& fphm) { return test::retrievePrintForm(tx(), fphm); }
    std::unique_ptr<DataStore> knownInvoice() { return test::knownPrintInvoice(tx()); }
    // A red-letter invoice: one line negated.
    std::unique_ptr<DataStore> redLetterInvoice() {
        test::insertPrintInvoice(tx(), QStringLiteral("00000012"), QStringLiteral("1"), "-600.00",
                                 QStringLiteral("青岛海滨餐饮有限公司"), {{"餐饮服务", "2.00", "-300.00", "-600.00"}});
        return printForm(QStringLiteral("00000012"));
    }
    QString pdf(const DataStore& form, const PrintOptions& options, int copies = 1) {
        const QString file = dir.filePath(QStringLiteral("p%1.pdf").arg(++files));
        QString error;
        EXPECT_TRUE(printInvoiceToPdf(form, file, copies, options, &error)) << error.toStdString();
        return file;
    }
    Transaction& tx() { return db.tx(); }

    test::TempDb db{test::TempDb::Content::DemoData};
    QTemporaryDir dir;
    int files = 0;
};

PrintOptions onPaper(const QString& dynamic = QString()) {
    PrintOptions o;
    o.mode = PrintMode::PrePrintedPaper;
    o.visibleDynamic = dynamic;
    return o;
}
PrintOptions wholeForm() {
    PrintOptions o;
    o.mode = PrintMode::WholeForm;
    return o;
}

TEST_F(PrintRenderTest, EveryValueIsInThePdfInsideItsLayoutBox) {
    auto form = knownInvoice();
    for (const PrintOptions& options : {onPaper(), wholeForm()}) {
        const auto words = pdfWords(pdf(*form, options));
        struct Expect {
            const char* object;
            int row;
            QString text;
            // In the whole form this heading sits flush against the value and
            // reads as one word with it.
            const char* heading = nullptr;
        };
        const Expect expected[] = {
            {"ptfp_fpk_fpdm", 1, kCode},
            {"ptfp_fpk_fphm", 1, QStringLiteral("00000011")},
            {"ptfp_fpk_fkfmc", 1, QStringLiteral("青岛海滨餐饮有限公司")},
            {"ptfp_fpk_fkfzjhm", 1, QStringLiteral("370203198001011234")},
            {"ptfp_fpk_skfmc", 1, QString::fromUtf8(demo::kTaxpayerName)},
            {"ptfp_fpk_swjgdm", 1, QString::fromLatin1(demo::kSwjgdm)},
            {"ptfp_fpk_swjgdm_1", 1, QString::fromUtf8(demo::kSwjgmc)},
            {"kprq", 1, QStringLiteral("2009年03月01日"), "ptfp_fpk_kprq_t"},
            {"compute_2", 1, QString::number(39871LL * 86400 + 8 * 3600 + 5 * 60 + 9)},
            {"ptfp_fpxmmx_xmmc", 1, QStringLiteral("餐饮服务")},
            {"ptfp_fpxmmx_mj", 1, QStringLiteral("2.00")},
            {"ptfp_fpxmmx_dj", 1, QStringLiteral("300.00")},
            {"ptfp_fpxmmx_je", 1, QStringLiteral("600.00")},
            {"ptfp_fpxmmx_xmmc", 2, QStringLiteral("住宿费")},
            {"ptfp_fpxmmx_je", 2, QStringLiteral("580.00")},
            {"ptfp_fpxmmx_xmmc", 3, QStringLiteral("停车费")},
            {"ptfp_fpxmmx_dj", 3, QStringLiteral("18.17")},
            {"ptfp_fpxmmx_je", 3, QStringLiteral("54.50")},
            {"cpt_amt", 1, QStringLiteral("1,234.50")},
            {"compute_1", 1, f_convert_to_big(Decimal::fromCents(123450)).remove(QLatin1Char(' '))},
            {"kpr", 1, QStringLiteral("张晓明"), "ptfp_fpk_kpr_t"},
        };
        const bool whole = options.mode == PrintMode::WholeForm;
        for (const Expect& e : expected) {
            QRectF box = boxOf(e.object, e.row);
            QString text = e.text;
            if (whole && e.heading) {
                box = box.united(boxOf(e.heading));
                text.prepend(form->objectText(QString::fromLatin1(e.heading)));
            }
            EXPECT_EQ(textInside(words, box).remove(QLatin1Char(' ')), text)
                << e.object << " row " << e.row << (whole ? " (whole form)" : " (paper)");
        }
        // empty item rows print nothing
        EXPECT_EQ(textInside(words, boxOf("ptfp_fpxmmx_je", 4)), QString());
    }
}

TEST_F(PrintRenderTest, WholeFormAddsHeadingsAndTitleInTheirBoxesPreprintedPaperNone) {
    auto form = knownInvoice();
    const auto whole = pdfWords(pdf(*form, wholeForm()));
    EXPECT_EQ(textInside(whole, boxOf("ptfp_fpk_fpdm_t")), QStringLiteral("机打代码"));
    EXPECT_EQ(textInside(whole, boxOf("t_8")), QStringLiteral("合计人民币（大写）"));
    EXPECT_EQ(textInside(whole, boxOf("ptfp_fpxmmx_xmmc_t")), QStringLiteral("品目"));
    EXPECT_TRUE(textInside(whole, boxOf("title_t")).contains(QStringLiteral("综合统一发票")));
    EXPECT_EQ(textInside(whole, boxOf("t_1")), QStringLiteral("发票联"));
    // hidden objects stay hidden in both ways
    EXPECT_FALSE(anyWordWith(whole, QStringLiteral("顺序号")));
    EXPECT_FALSE(anyWordWith(whole, QStringLiteral("001122334455667788990011223344")));

    const auto paper = pdfWords(pdf(*form, onPaper()));
    for (const char* heading : {"机打代码", "合计人民币", "品", "发票联", "综", "开票人", "备注", "经", "发票状态"})
        EXPECT_FALSE(anyWordWith(paper, QString::fromUtf8(heading))) << heading;
    // the status of an issued invoice prints only when asked for
    EXPECT_FALSE(anyWordWith(paper, QStringLiteral("有效发票")));
}

TEST_F(PrintRenderTest, PreprintedPaperInksNothingOutsideTheValueBoxes) {
    auto form = knownInvoice();
    const QImage image = renderImage(*form, onPaper());
    QImage outside = image;
    QPainter blank(&outside);
    int valueBoxes = 0;
    for (const LayoutObject& o : layout().objects) {
        if (form->def().text(o.name) || o.hidden) continue;
        ++valueBoxes;
        for (int row = 1; row <= (o.band == Band::Detail ? layout().paperItemRows : 1); ++row)
            blank.fillRect(pixelsOf(boxOf(o.name.toLatin1().constData(), row)).adjusted(-3, -3, 3, 3), Qt::white);
    }
    blank.end();
    EXPECT_GT(valueBoxes, 15);
    EXPECT_GT(inkIn(image, image.rect()).inked, 1000);  // values were drawn
    EXPECT_EQ(inkIn(outside, outside.rect()).inked, 0); // and nothing else: no rule, no heading

    // the whole form draws its rules: the rule across under the code/number rows
    const QImage whole = renderImage(*form, wholeForm());
    const double ruleY = layout().topMm + 328 * layout().unitMm;
    const QRect rule = pixelsOf(QRectF(layout().leftMm + 10, ruleY - 0.3, 150, 0.6));
    EXPECT_GT(inkIn(whole, rule).inked, rule.width() * 2);
    EXPECT_EQ(inkIn(image, rule).inked, 0);
}

TEST_F(PrintRenderTest, RedLetterInvoicePrintsItsValuesRedAndHeadingsBlack) {
    auto red = redLetterInvoice();
    const QImage image = renderImage(*red, wholeForm());
    for (const char* value : {"ptfp_fpk_fpdm", "ptfp_fpk_fkfmc", "cpt_amt", "compute_1", "kpr", "compute_2"}) {
        const InkCount n = inkIn(image, innerPixelsOf(boxOf(value)));
        EXPECT_GT(n.inked, 50) << value;
        EXPECT_GT(n.red, n.inked * 9 / 10) << value;
    }
    const InkCount amount = inkIn(image, innerPixelsOf(boxOf("ptfp_fpxmmx_je", 1)));
    EXPECT_GT(amount.red, amount.inked * 9 / 10);
    for (const char* heading : {"ptfp_fpk_fpdm_t", "t_8"}) {
        const InkCount n = inkIn(image, innerPixelsOf(boxOf(heading)));
        EXPECT_GT(n.inked, 50) << heading;
        EXPECT_EQ(n.red, 0) << heading;
    }
    // an issued status stays black on a red-letter invoice
    const InkCount status = inkIn(image, innerPixelsOf(boxOf("fpzt")));
    EXPECT_GT(status.inked, 50);
    EXPECT_EQ(status.red, 0);

    // a black invoice: black values
    auto black = knownInvoice();
    const QImage plain = renderImage(*black, wholeForm());
    EXPECT_EQ(inkIn(plain, innerPixelsOf(boxOf("ptfp_fpk_fkfmc"))).red, 0);
    EXPECT_EQ(inkIn(plain, innerPixelsOf(boxOf("cpt_amt"))).red, 0);
}

TEST_F(PrintRenderTest, StatusNotValidPrintsRedWhenNamedOnPaper) {
    invoice(QStringLiteral("00000013"), QStringLiteral("2"), "10.00", QStringLiteral("刘芳"),
            {{"住宿费", "1.00", "10.00", "10.00"}});
    auto voided = printForm(QStringLiteral("00000013"));

    const auto words = pdfWords(pdf(*voided, onPaper(QStringLiteral("|fpzt|"))));
    EXPECT_EQ(textInside(words, boxOf("fpzt")), QStringLiteral("作废发票"));
    EXPECT_FALSE(anyWordWith(pdfWords(pdf(*voided, onPaper())), QStringLiteral("作废发票")));

    const QImage image = renderImage(*voided, onPaper(QStringLiteral("|fpzt|")));
    const InkCount status = inkIn(image, innerPixelsOf(boxOf("fpzt")));
    EXPECT_GT(status.inked, 50);
    EXPECT_GT(status.red, status.inked * 9 / 10);
    EXPECT_EQ(inkIn(image, innerPixelsOf(boxOf("ptfp_fpk_fkfmc"))).red, 0);
}

TEST_F(PrintRenderTest, OffsetMovesEveryObjectByExactlyThatMuch) {
    auto form = knownInvoice();
    PrintOptions plain = wholeForm();
    PrintOptions shifted = wholeForm();
    shifted.offset = {3.0, -2.0};

    // every word of the PDF
    const auto before = pdfWords(pdf(*form, plain));
    const auto after = pdfWords(pdf(*form, shifted));
    ASSERT_EQ(before.size(), after.size());
    ASSERT_GT(before.size(), 40u);
    for (size_t i = 0; i < before.size(); ++i) {
        ASSERT_EQ(before[i].text, after[i].text);
        EXPECT_NEAR(after[i].mm.left() - before[i].mm.left(), -2.0, 0.01) << before[i].text.toStdString();
        EXPECT_NEAR(after[i].mm.top() - before[i].mm.top(), 3.0, 0.01) << before[i].text.toStdString();
    }
    // and every pixel, rules included: the shifted image is the plain one moved
    const QImage a = renderImage(*form, plain);
    const QImage b = renderImage(*form, shifted);
    const int dx = -2 * kDotsPerMm, dy = 3 * kDotsPerMm;
    int compared = 0, differing = 0;
    for (int y = 0; y + dy < a.height(); ++y)
        for (int x = -dx; x < a.width(); ++x) {
            ++compared;
            if (a.pixel(x, y) != b.pixel(x + dx, y + dy)) ++differing;
        }
    EXPECT_GT(compared, 1000000);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(inkIn(b, pixelsOf(boxOf("ptfp_fpk_fkfmc", 1, shifted.offset))).inked,
              inkIn(a, pixelsOf(boxOf("ptfp_fpk_fkfmc"))).inked);
}

TEST_F(PrintRenderTest, LongValuesStayInsideTheirBoxes) {
    const QString longPayer = QStringLiteral("青岛市示范区海滨路一号大型综合商业广场餐饮娱乐管理服务有限责任公司");
    invoice(QStringLiteral("00000014"), QStringLiteral("1"), "99999999.99", longPayer,
            {{"建筑安装工程劳务费用及相关材料设备运输服务费用", "9999.00", "9999.99", "99999999.99"}});
    auto form = printForm(QStringLiteral("00000014"));
    const auto words = pdfWords(pdf(*form, onPaper()));
    EXPECT_EQ(textInside(words, boxOf("ptfp_fpk_fkfmc")), longPayer);
    EXPECT_EQ(textInside(words, boxOf("ptfp_fpxmmx_xmmc", 1)),
              QStringLiteral("建筑安装工程劳务费用及相关材料设备运输服务费用"));
    EXPECT_EQ(textInside(words, boxOf("cpt_amt")), QStringLiteral("99,999,999.99"));
    EXPECT_EQ(textInside(words, boxOf("compute_1")).remove(QLatin1Char(' ')),
              f_convert_to_big(*Decimal::parse(QStringLiteral("99999999.99"))).remove(QLatin1Char(' ')));
}

TEST_F(PrintRenderTest, FewRowsStillPutTheClosingAreaWhereThePaperHasIt) {
    invoice(QStringLiteral("00000015"), QStringLiteral("1"), "0.00", QStringLiteral("刘芳"), {}); // no lines: one row
    auto form = printForm(QStringLiteral("00000015"));
    ASSERT_EQ(form->rowCount(), 1);
    const auto words = pdfWords(pdf(*form, onPaper()));
    EXPECT_EQ(textInside(words, boxOf("kpr")), QStringLiteral("张晓明"));
    EXPECT_EQ(textInside(words, boxOf("ptfp_fpk_fkfmc")), QStringLiteral("刘芳"));
}

// An invoice prints on one sheet of the paper; one with more lines than its
// rows is refused by every paged print and nothing is written, while five
// lines print with the closing area on the sheet.
TEST_F(PrintRenderTest, AnInvoiceLongerThanOneSheetIsNotPrinted) {
    const struct {
        int lines;
        bool printed;
    } cases[] = {{6, false}, {11, false}, {5, true}};
    int number = 30;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        auto form = test::printInvoiceOfLines(tx(), QStringLiteral("000000%1").arg(number++), c.lines);
        ASSERT_EQ(form->rowCount(), c.lines);
        EXPECT_EQ(fitsOneSheet(layout(), *form), c.printed);
        const QString refusal = itemLinesRefusal(layout(), c.lines);
        EXPECT_TRUE(
            refusal.startsWith(QStringLiteral("该发票有%1行项目，一张发票纸只能打印5行，没有打印！").arg(c.lines)))
            << refusal.toStdString();

        const QString file = dir.filePath(QStringLiteral("lines%1.pdf").arg(c.lines));
        QString error;
        EXPECT_EQ(printInvoiceToPdf(*form, file, 2, wholeForm(), &error), c.printed);
        const QString paged = dir.filePath(QStringLiteral("paged%1.pdf").arg(c.lines));
        {
            QPdfWriter writer(paged);
            ASSERT_TRUE(setInvoicePaper(writer, layout(), &error));
            QString pagedError;
            EXPECT_EQ(printInvoicePages(writer, *form, 1, onPaper(), &pagedError), c.printed);
            if (!c.printed) {
                EXPECT_EQ(pagedError, refusal);
            }
        }
        if (!c.printed) {
            EXPECT_EQ(error, refusal);
            EXPECT_FALSE(QFile::exists(file));
            EXPECT_FALSE(QFile::exists(paged));
            continue;
        }
        // The fifth line and the closing area lie on the sheet.
        const auto words = pdfWords(file);
        EXPECT_EQ(textInside(words, boxOf("ptfp_fpxmmx_xmmc", 5)), QStringLiteral("项目5"));
        EXPECT_EQ(textInside(words, boxOf("cpt_amt")), QStringLiteral("50.00"));
        EXPECT_LT(boxOf("kpr").bottom(), layout().paperHeightMm);
    }
}

TEST_F(PrintRenderTest, PdfHasOnePageACopyAndFailuresSaySo) {
    auto form = knownInvoice();
    int pages = 0;
    const auto words = pdfWords(pdf(*form, wholeForm(), 3), &pages);
    EXPECT_EQ(pages, 3);
    for (int page = 1; page <= 3; ++page)
        EXPECT_EQ(textInside(words, boxOf("ptfp_fpk_fphm"), page), QStringLiteral("00000011")) << page;

    QString error;
    const QString nowhere = dir.filePath(QStringLiteral("missing/dir/x.pdf"));
    EXPECT_FALSE(printInvoiceToPdf(*form, nowhere, 1, wholeForm(), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("PDF文件无法写入："))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(nowhere));
    EXPECT_FALSE(printInvoiceToPdf(*form, dir.filePath(QStringLiteral("none.pdf")), 0, wholeForm(), &error));
    EXPECT_EQ(error, QStringLiteral("打印份数必须大于0！"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.pdf"))));
}

// A PDF that is not written completely is no print: the writer itself does
// not say so, the file does. Nothing of it is left as if it were the invoice,
// and what the name stands for when it is not a file is left alone.
TEST_F(PrintRenderTest, APdfNotCompletelyWrittenIsAFailureAndLeavesNoFile) {
    auto form = knownInvoice();
    const QString cut = dir.filePath(QStringLiteral("cut.pdf"));
    const struct {
        const char* name;
        QString file;
        rlim_t sizeLimit; // the most a file of this process may hold, 0 for no limit
        bool leftAlone;
    } cases[] = {
        {"a device that takes no byte", QStringLiteral("/dev/full"), 0, true},
        {"a disk full after 8 KiB", cut, 8192, false},
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
        const bool written = printInvoiceToPdf(*form, c.file, 2, wholeForm(), &error);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(written);
        EXPECT_EQ(error, QStringLiteral("PDF文件没有完整写入（磁盘已满？），没有打印：") + c.file);
        EXPECT_EQ(QFileInfo::exists(c.file), c.leftAlone);
    }
    // The same invoice where there is room.
    QString error;
    EXPECT_TRUE(printInvoiceToPdf(*form, cut, 2, wholeForm(), &error)) << error.toStdString();
    int pages = 0;
    (void)pdfWords(cut, &pages); // the words are not looked at here
    EXPECT_EQ(pages, 2);
}

// A printer whose driver knows no paper of the invoice's size keeps its own:
// the paper is refused, naming its size, and the device is left as it was.
TEST_F(PrintRenderTest, ADeviceThatCannotTakeTheInvoicePaperIsRefused) {
    class A4OnlyWriter : public QPdfWriter {
    public:
        using QPdfWriter::QPdfWriter;
        bool setPageLayout(const QPageLayout& l) override {
            if (!l.pageSize().isEquivalentTo(QPageSize(QPageSize::A4))) return false;
            return QPdfWriter::setPageLayout(l);
        }
    };
    const QString file = dir.filePath(QStringLiteral("a4.pdf"));
    A4OnlyWriter a4(file);
    QString error;
    EXPECT_FALSE(setInvoicePaper(a4, layout(), &error));
    EXPECT_EQ(error, QStringLiteral("打印机不能使用 241.3 × 177.8 毫米的发票纸，没有打印！"
                                    "请在打印机属性中添加这个尺寸的自定义纸张，或选择其他打印机。"));
    EXPECT_TRUE(a4.pageLayout().pageSize().isEquivalentTo(QPageSize(QPageSize::A4)));
    EXPECT_EQ(paperRefusal(layout(), QStringLiteral("HP LaserJet")),
              QStringLiteral("打印机“HP LaserJet”不能使用 241.3 × 177.8 毫米的发票纸，没有打印！"
                             "请在打印机属性中添加这个尺寸的自定义纸张，或选择其他打印机。"));

    QPdfWriter any(dir.filePath(QStringLiteral("any.pdf")));
    EXPECT_TRUE(setInvoicePaper(any, layout(), &error));
    EXPECT_TRUE(any.pageLayout().pageSize().isEquivalentTo(paperOf(layout())));
}

TEST_F(PrintRenderTest, PaperAndBoxesFollowTheLayoutScale) {
    const PrintLayout& l = layout();
    // the layout fits the paper with five item rows, with room left below
    const double bottom = l.topMm + (l.headerHeight + 5.0 * l.detailHeight + l.summaryHeight) * l.unitMm;
    EXPECT_LT(bottom, l.paperHeightMm - 5);
    EXPECT_NEAR(l.leftMm * 2 + l.width * l.unitMm, l.paperWidthMm, 1e-9);
    const QSizeF paper = paperOf(l).size(QPageSize::Millimeter);
    EXPECT_NEAR(paper.width(), l.paperWidthMm, 0.01);
    EXPECT_NEAR(paper.height(), l.paperHeightMm, 0.01);
    // the closing area follows the item rows
    const LayoutObject* kpr = l.object(QStringLiteral("kpr"));
    EXPECT_NEAR(objectBoxMm(l, *kpr, 1, 7).top() - objectBoxMm(l, *kpr, 1, 5).top(), 2 * l.detailHeight * l.unitMm,
                1e-9);
    EXPECT_EQ(printFontFamily(QStringLiteral("宋体")), QStringLiteral("AR PL UMing CN"));
    EXPECT_EQ(printFontFamily(QStringLiteral("黑体")), QStringLiteral("WenQuanYi Zen Hei"));
}

TEST_F(PrintRenderTest, TestPageDrawsTheFrameWhereTheOffsetPutsIt) {
    guiApp();
    auto frameInk = [](const PrintOffsetMm& offset) {
        const QSize size(int(layout().paperWidthMm * kDotsPerMm), int(layout().paperHeightMm * kDotsPerMm));
        QImage image(size, QImage::Format_RGB32);
        image.setDotsPerMeterX(kDotsPerMm * 1000);
        image.setDotsPerMeterY(kDotsPerMm * 1000);
        image.fill(Qt::white);
        QPainter painter(&image);
        renderTestPage(painter, layout(), offset);
        painter.end();
        return image;
    };
    const QImage plain = frameInk({});
    const QImage shifted = frameInk({3.0, -2.0});
    EXPECT_GT(inkIn(plain, plain.rect()).inked, 20000);
    // above its caption (which names the offset) the page is the same page moved
    const int dx = -2 * kDotsPerMm, dy = 3 * kDotsPerMm;
    const double frameHeight = layout().headerHeight + 5.0 * layout().detailHeight + layout().summaryHeight;
    const int captionTop = int((layout().topMm + (frameHeight + 20) * layout().unitMm) * kDotsPerMm);
    int differing = 0;
    for (int y = 0; y < captionTop; ++y)
        for (int x = -dx; x < plain.width(); ++x)
            if (plain.pixel(x, y) != shifted.pixel(x + dx, y + dy)) ++differing;
    EXPECT_EQ(differing, 0);
    // the rule across under the code and number rows is where the layout has it
    const double ruleY = layout().topMm + 328 * layout().unitMm;
    const QRect rule = pixelsOf(QRectF(layout().leftMm + 40, ruleY - 0.2, 100, 0.4));
    EXPECT_GT(inkIn(plain, rule).inked, rule.width());
}

} // namespace
} // namespace fp
