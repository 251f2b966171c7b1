// The print preview of a report, offscreen: its pages, its keyboard, printing
// through the system print dialog into a PDF, saving a PDF, and a printer
// that cannot take A4 landscape.
#include "services/report_print.h"
#include "tests/support/pdf_words.h"
#include "tests/support/qt_printers.h"
#include "tests/ui/qt_app.h"
#include "ui/report_preview.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace fp {
namespace {

using test::whenShown;

ReportTable monthlyList(int rows) {
    ReportTable t;
    t.title = QStringLiteral("发票清单");
    t.headingLines = {QStringLiteral("纳税人：示范商贸有限公司（91370200MA3C00001X）"),
                      QStringLiteral("所属月份：2026年12月"), QStringLiteral("筛选：全部发票")};
    using Type = ReportColumn::Type;
    t.columns = {{QStringLiteral("发票代码"), Type::Text, 7},
                 {QStringLiteral("发票号码"), Type::Text, 5},
                 {QStringLiteral("付款方名称"), Type::Text, 14},
                 {QStringLiteral("金额"), Type::Amount, 7},
                 {QStringLiteral("开票人"), Type::Text, 4}};
    for (int i = 0; i < rows; ++i)
        t.rows.append({QStringLiteral("237020000001"), QStringLiteral("%1").arg(i + 1, 8, 10, QLatin1Char('0')),
                       QStringLiteral("青岛海滨餐饮有限公司"), QStringLiteral("%1.00").arg(100 + i),
                       QStringLiteral("张晓明")});
    t.totalsLines = {QStringLiteral("合计：发票 %1 份").arg(rows)};
    return t;
}

// A key stroke to the widget with the focus (the preview when none has it).
void press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = QApplication::focusWidget();
    QTest::keyClick(w ? w : &window, key, mods);
    test::drainEvents();
}

std::unique_ptr<QPrinter> pdfPrinter(const QString& file) {
    auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
    p->setOutputFormat(QPrinter::PdfFormat);
    p->setOutputFileName(file);
    return p;
}

class ReportPreviewTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApp(); }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

TEST_F(ReportPreviewTest, ShowsEveryPageAndPrintsSavesAndClosesFromTheKeyboard) {
    const ReportTable table = monthlyList(60);
    const int pages = ReportPages(table).pageCount();
    ASSERT_EQ(pages, 3);
    ui::ReportPreviewDialog preview(table, nullptr, pdfPrinter(path("printed.pdf")));
    preview.show();
    preview.activateWindow();
    test::drainEvents();
    // The offscreen platform does not always hand the activation to a window
    // shown after others have closed; the keyboard needs an active window.
    if (QApplication::activeWindow() != &preview) QApplication::setActiveWindow(&preview);
    EXPECT_EQ(preview.previewWidget()->pageCount(), pages);
    auto* page = preview.findChild<QLabel*>(QStringLiteral("st_page"));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->text(), QStringLiteral(" 第 1 页 / 共 3 页 "));
    press(preview, Qt::Key_PageDown);
    EXPECT_EQ(preview.previewWidget()->currentPage(), 2);
    if (const QString shots = qEnvironmentVariable("FPDESK_SHOT_DIR"); !shots.isEmpty()) {
        QDir().mkpath(shots);
        preview.previewWidget()->setCurrentPage(1);
        test::drainEvents();
        EXPECT_TRUE(preview.grab().save(QDir(shots).filePath(QStringLiteral("report-preview.png")), "PNG"));
    }

    // Ctrl+P: the system print dialog, then every page into the PDF chosen there.
    bool asked = false;
    whenShown<QPrintDialog>([&asked](QPrintDialog* d) {
        asked = true;
        d->accept();
    });
    press(preview, Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(asked);
    EXPECT_EQ(test::pdfPageCount(path("printed.pdf")), pages);
    EXPECT_TRUE(preview.isVisible()); // still there for another print

    // Saving a PDF; where it cannot be written the clerk is told, and no file is left.
    ASSERT_TRUE(preview.saveAsPdf(path("saved.pdf")));
    const QStringList saved = test::pdfPages(path("saved.pdf"));
    ASSERT_EQ(saved.size(), pages);
    EXPECT_TRUE(saved.last().contains(QStringLiteral("合计：发票 60 份")));
    QString warning;
    whenShown<QMessageBox>([&warning](QMessageBox* box) {
        warning = box->text();
        box->close();
    });
    const QString nowhere = path("missing/list.pdf");
    EXPECT_FALSE(preview.saveAsPdf(nowhere));
    EXPECT_EQ(warning, QStringLiteral("保存失败：PDF文件无法写入：") + nowhere);
    EXPECT_FALSE(QFileInfo::exists(nowhere));

    press(preview, Qt::Key_Escape);
    EXPECT_FALSE(preview.isVisible());
}

// A printer whose driver knows only Letter: named in the status line at once,
// and printing on it is refused with the same words, nothing written.
TEST_F(ReportPreviewTest, APrinterThatCannotTakeA4LandscapeIsNamedAndPrintsNothing) {
    class LetterOnlyPrinter : public QPrinter {
    public:
        LetterOnlyPrinter() : QPrinter(QPrinter::HighResolution) {}
        bool setPageLayout(const QPageLayout& l) override {
            return isLetter(l.pageSize()) && QPrinter::setPageLayout(l);
        }
        bool setPageSize(const QPageSize& s) override { return isLetter(s) && QPrinter::setPageSize(s); }

    private:
        static bool isLetter(const QPageSize& s) { return s.isEquivalentTo(QPageSize(QPageSize::Letter)); }
    };
    auto printer = std::make_unique<LetterOnlyPrinter>();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path("letter.pdf"));
    (void)printer->setPageSize(QPageSize(QPageSize::Letter)); // the driver's own paper
    ui::ReportPreviewDialog preview(monthlyList(5), nullptr, std::move(printer));
    preview.show();
    test::drainEvents();
    const QString refusal = QStringLiteral("打印机“PDF”不能使用 A4 横向纸张，没有打印！");
    auto* state = preview.findChild<QLabel*>(QStringLiteral("st_printer"));
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->text().startsWith(refusal)) << state->text().toStdString();

    QString warning;
    whenShown<QPrintDialog>([&warning](QPrintDialog* d) {
        d->accept();
        whenShown<QMessageBox>([&warning](QMessageBox* box) {
            warning = box->text();
            box->close();
        });
    });
    EXPECT_FALSE(preview.print());
    EXPECT_TRUE(warning.startsWith(refusal)) << warning.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("letter.pdf")));
}

} // namespace
} // namespace fp
