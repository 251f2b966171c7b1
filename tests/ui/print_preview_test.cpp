// The print preview w_dw_printpreview, the read-only print view and the
// printers' offsets, offscreen. Printing goes to a PDF printer chosen in the
// system print dialog, read back with pdftotext.
#include "data_model/demo_constants.h"
#include "data_model/form_def.h"
#include "host/host_services.h"
#include "host/judge_column.h"
#include "services/invoice_print.h"
#include "tests/support/print_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/main_window.h"
#include "ui/print_offset_dialog.h"
#include "ui/print_preview.h"
#include "ui/print_view.h"
#include "ui/qt_dialogs.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace fp {
namespace {

using test::whenShown;

// Accepts the system print dialog as it comes up (the printer set beforehand).
void acceptPrintDialog() {
    whenShown<QPrintDialog>([](QPrintDialog* d) { d->accept(); });
}

QString pdfText(const QString& file, int* pages = nullptr) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(30000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    if (pages) *pages = int(text.count(QLatin1Char('\f')));
    return text;
}

class PrintPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApp();
        installFormHostFunctions();
        form_ = test::knownPrintInvoice(db_.tx());
        parameter_.dw_datawindow = form_.get();
        parameter_.dw_datawindowname = QStringLiteral("d_fp_integrated_print");
        parameter_.s_print_type = QStringLiteral("1");
    }
    QString pdfPath(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    static void toPdf(QPrinter& printer, const QString& file) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
    }

    test::TempDb db_{test::TempDb::Content::DemoData};
    std::unique_ptr<DataStore> form_;
    s_preview_parameter parameter_;
    QTemporaryDir dir_;
    QSettings settings_{dir_.filePath(QStringLiteral("client.ini")), QSettings::IniFormat};
    PrinterOffsets offsets_{settings_};
};

TEST_F(PrintPreviewTest, PrintingReturnsTheCopiesAndThePrinterAndPrintsOnePageACopy) {
    ui::PrintPreviewDialog preview(parameter_, offsets_);
    preview.show();
    test::drainEvents();
    // a printer prints onto the invoice paper, a PDF the whole form
    EXPECT_EQ(preview.mode(), preview.printer().outputFormat() == QPrinter::PdfFormat ? PrintMode::WholeForm
                                                                                      : PrintMode::PrePrintedPaper);
    preview.setMode(PrintMode::PrePrintedPaper);
    preview.setCopies(2);
    test::drainEvents();
    EXPECT_EQ(preview.previewWidget()->pageCount(), 2);

    toPdf(preview.printer(), pdfPath("two.pdf"));
    acceptPrintDialog();
    ASSERT_TRUE(preview.print());
    EXPECT_EQ(preview.result(), QDialog::Accepted);
    const s_printreturn& r = preview.printReturn();
    EXPECT_EQ(r.sl_printcnt, std::optional<long>(2));
    EXPECT_EQ(r.ss_printer, QStringLiteral("PDF"));
    EXPECT_EQ(r.ss_printer_info, QStringLiteral("two.pdf"));

    int pages = 0;
    const QString text = pdfText(pdfPath("two.pdf"), &pages);
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(text.count(QStringLiteral("青岛海滨餐饮有限公司")), 2);
    EXPECT_FALSE(text.contains(QStringLiteral("机打代码"))); // onto pre-printed paper: values only
}

TEST_F(PrintPreviewTest, TheWholeFormCanBeChosenAndPrints) {
    ui::PrintPreviewDialog preview(parameter_, offsets_);
    preview.show();
    preview.setMode(PrintMode::WholeForm);
    toPdf(preview.printer(), pdfPath("whole.pdf"));
    acceptPrintDialog();
    ASSERT_TRUE(preview.print());
    EXPECT_EQ(preview.printReturn().sl_printcnt, std::optional<long>(1));
    const QString text = pdfText(pdfPath("whole.pdf"));
    EXPECT_TRUE(text.contains(QStringLiteral("机打代码")));
    EXPECT_TRUE(text.contains(QStringLiteral("青岛海滨餐饮有限公司")));
}

TEST_F(PrintPreviewTest, ClosedWithoutPrintingOrPrintDialogCancelledReturnsNoCopies) {
    ui::PrintPreviewDialog preview(parameter_, offsets_);
    preview.show();
    toPdf(preview.printer(), pdfPath("never.pdf"));
    whenShown<QPrintDialog>([](QPrintDialog* d) { d->reject(); });
    EXPECT_FALSE(preview.print());
    EXPECT_TRUE(preview.isVisible()); // back in the preview
    preview.reject();
    EXPECT_EQ(preview.printReturn().sl_printcnt, std::optional<long>(0));
    EXPECT_EQ(preview.printReturn().ss_printer, QStringLiteral("0"));
    EXPECT_FALSE(QFile::exists(pdfPath("never.pdf")));
}

TEST_F(PrintPreviewTest, QtDialogsPrintPreviewAnswersWhatThePreviewPrinted) {
    Session session;
    ui::QtDialogs dialogs(session);
    const QString file = pdfPath("dialogs.pdf");
    whenShown<ui::PrintPreviewDialog>([file](ui::PrintPreviewDialog* preview) {
        toPdf(preview->printer(), file);
        acceptPrintDialog();
        preview->print();
    });
    const s_printreturn r = dialogs.printPreview(parameter_);
    EXPECT_EQ(r.sl_printcnt, std::optional<long>(1));
    EXPECT_EQ(r.ss_printer, QStringLiteral("PDF"));
    EXPECT_TRUE(QFile::exists(file));

    whenShown<ui::PrintPreviewDialog>([](ui::PrintPreviewDialog* preview) { preview->reject(); });
    const s_printreturn closed = dialogs.printPreview(parameter_);
    EXPECT_EQ(closed.sl_printcnt, std::optional<long>(0));
    EXPECT_EQ(closed.ss_printer, QStringLiteral("0"));
}

// A printer whose driver knows only A4, as one without custom paper sizes:
// another paper is refused and the printer keeps its own.
class A4OnlyPrinter : public QPrinter {
public:
    A4OnlyPrinter() : QPrinter(QPrinter::HighResolution) {}
    bool setPageLayout(const QPageLayout& layout) override {
        return isA4(layout.pageSize()) && QPrinter::setPageLayout(layout);
    }
    bool setPageSize(const QPageSize& size) override { return isA4(size) && QPrinter::setPageSize(size); }

private:
    static bool isA4(const QPageSize& size) { return size.isEquivalentTo(QPageSize(QPageSize::A4)); }
};

const QString kPaperRefused = QStringLiteral("不能使用 241.3 × 177.8 毫米的发票纸，没有打印！");

// The port answering with the preview on a given printer: the print dialog is
// accepted as it is, a warning is recorded and closed, and the preview is
// closed if it is still open.
class PreviewOnPrinter : public Dialogs {
public:
    explicit PreviewOnPrinter(std::function<std::unique_ptr<QPrinter>()> printer) : printer_(std::move(printer)) {}
    void message(const QString& text) override { messages << text; }
    int question(const QString& text) override {
        ADD_FAILURE() << "unexpected question " << text.toStdString();
        return 2;
    }
    QString treeSelect(const TreeSelectRequest&) override { return QString(); }
    s_printreturn printPreview(const s_preview_parameter& parameter) override {
        PrinterOffsets offsets(settings_);
        ui::PrintPreviewDialog preview(parameter, offsets, nullptr, printer_());
        preview.show();
        whenShown<QPrintDialog>([this](QPrintDialog* d) {
            d->accept();
            whenShown<QMessageBox>([this](QMessageBox* box) {
                warnings << box->text();
                box->close();
            });
        });
        (void)preview.print(); // its answer is the preview's return, read below
        if (preview.isVisible()) preview.reject();
        return preview.printReturn();
    }
    QStringList messages, warnings;

private:
    std::function<std::unique_ptr<QPrinter>()> printer_;
    QTemporaryDir dir_;
    QSettings settings_{dir_.filePath(QStringLiteral("client.ini")), QSettings::IniFormat};
};

// A print that did not produce the invoice on its paper is not a print: the
// invoice's print count, its log and the report to the service stay as they
// were, and the clerk is told why.
TEST_F(PrintPreviewTest, APrintThatProducedNothingIsNotCounted) {
    const QString fpdm = QString::fromLatin1(demo::kCode50);
    const QString fphm = QStringLiteral("00000011");
    const QString unwritten = pdfPath("a4.pdf");
    const struct {
        const char* name;
        std::function<std::unique_ptr<QPrinter>()> printer;
        QString warning; // a part of it
        QString leftAlone;
    } cases[] = {
        {"a printer that cannot take the paper",
         [&] {
             auto p = std::make_unique<A4OnlyPrinter>();
             toPdf(*p, unwritten);
             return std::unique_ptr<QPrinter>(std::move(p));
         },
         kPaperRefused, unwritten},
        {"a PDF on a device that takes no byte",
         [] {
             auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
             toPdf(*p, QStringLiteral("/dev/full"));
             return p;
         },
         QStringLiteral("打印失败：PDF文件没有完整写入（磁盘已满？），没有打印：/dev/full"), QString()},
    };
    Session session;
    session.sqlca = &db_.tx();
    session.gs_sysuserid = QString::fromLatin1(demo::kSxh);
    session.gs_kprmc = QStringLiteral("张晓明");
    ASSERT_TRUE(db_.tx().commit());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewOnPrinter dialogs(c.printer);
        HostServices host(session, dialogs);
        const QString before = test::snapshot(db_.tx());

        EXPECT_EQ(gf_fp_zhty_print(host, fpdm, fphm, form_.get(), parameter_), 0);

        ASSERT_EQ(dialogs.warnings.size(), 1);
        EXPECT_TRUE(dialogs.warnings.first().contains(c.warning)) << dialogs.warnings.first().toStdString();
        EXPECT_TRUE(dialogs.messages.isEmpty());
        EXPECT_TRUE(host.exchanges().empty());
        EXPECT_EQ(test::snapshot(db_.tx()), before);
        if (!c.leftAlone.isEmpty()) {
            EXPECT_FALSE(QFile::exists(c.leftAlone));
        }
    }
}

// The preview names a printer that cannot take the paper at once, and its
// test page is refused as well.
TEST_F(PrintPreviewTest, APrinterThatCannotTakeThePaperIsNamedAndPrintsNoTestPage) {
    auto printer = std::make_unique<A4OnlyPrinter>();
    toPdf(*printer, pdfPath("preview.pdf"));
    ui::PrintPreviewDialog preview(parameter_, offsets_, nullptr, std::move(printer));
    auto* state = preview.findChild<QLabel*>(QStringLiteral("st_printer"));
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->text().contains(kPaperRefused)) << state->text().toStdString();

    A4OnlyPrinter testPrinter;
    toPdf(testPrinter, pdfPath("test-page.pdf"));
    ui::PrintOffsetDialog calibration(offsets_, QStringLiteral("EPSON LQ-630K"));
    QString warning;
    whenShown<QMessageBox>([&warning](QMessageBox* box) {
        warning = box->text();
        box->close();
    });
    EXPECT_FALSE(calibration.printTestPage(testPrinter));
    EXPECT_TRUE(warning.contains(kPaperRefused)) << warning.toStdString();
    EXPECT_FALSE(QFile::exists(pdfPath("test-page.pdf")));
}

// An invoice longer than one sheet: the preview shows it with the reason in
// its status line and refuses to print it without opening the print dialog.
TEST_F(PrintPreviewTest, AnInvoiceLongerThanOneSheetIsShownButNotPrinted) {
    int number = 40;
    for (int lines : {6, 11}) {
        SCOPED_TRACE(lines);
        auto form = test::printInvoiceOfLines(db_.tx(), QStringLiteral("000000%1").arg(number++), lines);
        s_preview_parameter parameter = parameter_;
        parameter.dw_datawindow = form.get();
        ui::PrintPreviewDialog preview(parameter, offsets_);
        preview.show();
        test::drainEvents();
        const QString refused = QStringLiteral("该发票有%1行项目，一张发票纸只能打印5行，没有打印！").arg(lines);
        auto* state = preview.findChild<QLabel*>(QStringLiteral("st_printer"));
        ASSERT_NE(state, nullptr);
        EXPECT_TRUE(state->text().startsWith(refused)) << state->text().toStdString();
        EXPECT_EQ(preview.previewWidget()->pageCount(), 1);

        const QString file = pdfPath("long.pdf");
        toPdf(preview.printer(), file);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    shown = box->text();
                    box->close();
                    return;
                }
                if (auto* d = qobject_cast<QPrintDialog*>(w); d && d->isVisible()) {
                    shown = QStringLiteral("the print dialog");
                    d->reject();
                    return;
                }
            }
        });
        EXPECT_FALSE(preview.print());
        EXPECT_TRUE(shown.startsWith(refused)) << shown.toStdString();
        EXPECT_TRUE(preview.isVisible());
        preview.reject();
        EXPECT_EQ(preview.printReturn().sl_printcnt, std::optional<long>(0));
        EXPECT_FALSE(QFile::exists(file));
    }
}

TEST_F(PrintPreviewTest, OffsetsAreKeptPerPrinterInTheSettings) {
    EXPECT_DOUBLE_EQ(offsets_.offsetFor(QStringLiteral("EPSON LQ-630K")).down, 0.0);
    offsets_.setOffset(QStringLiteral("EPSON LQ-630K"), {3.0, -2.0});
    offsets_.setOffset(QStringLiteral("\\\\server/office printer"), {-1.5, 0.5});
    offsets_.setOffset(QStringLiteral("wild"), {500, -500}); // held to what a clerk can set

    QSettings reread(dir_.filePath(QStringLiteral("client.ini")), QSettings::IniFormat);
    PrinterOffsets again(reread);
    const struct {
        const char* printer;
        double down, right;
    } cases[] = {{"EPSON LQ-630K", 3.0, -2.0},
                 {"\\\\server/office printer", -1.5, 0.5},
                 {"wild", PrinterOffsets::kLimitMm, -PrinterOffsets::kLimitMm},
                 {"never set", 0, 0}};
    for (const auto& c : cases) {
        const PrintOffsetMm o = again.offsetFor(QString::fromLatin1(c.printer));
        EXPECT_DOUBLE_EQ(o.down, c.down) << c.printer;
        EXPECT_DOUBLE_EQ(o.right, c.right) << c.printer;
    }
    reread.setValue(QStringLiteral("print_offset/broken/down"), QStringLiteral("abc"));
    EXPECT_DOUBLE_EQ(again.offsetFor(QStringLiteral("broken")).down, 0.0);
}

TEST_F(PrintPreviewTest, CalibrationDialogSavesTheShiftsOfItsPrinter) {
    ui::PrintOffsetDialog dialog(offsets_, QStringLiteral("EPSON LQ-630K"));
    EXPECT_EQ(dialog.printerBox()->currentText(), QStringLiteral("EPSON LQ-630K"));
    dialog.downBox()->setValue(2.5);
    dialog.rightBox()->setValue(-1.0);
    dialog.save();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(offsets_.offsetFor(QStringLiteral("EPSON LQ-630K")).down, 2.5);
    EXPECT_DOUBLE_EQ(offsets_.offsetFor(QStringLiteral("EPSON LQ-630K")).right, -1.0);
    // opened again, it shows what was saved
    ui::PrintOffsetDialog again(offsets_, QStringLiteral("EPSON LQ-630K"));
    EXPECT_DOUBLE_EQ(again.downBox()->value(), 2.5);
}

TEST_F(PrintPreviewTest, MainWindowMenuOpensTheCalibration) {
    Session session;
    ui::QtDialogs dialogs(session);
    HostServices host(session, dialogs);
    ui::MainWindow window(host);
    QAction* entry = window.findChild<QAction*>(QStringLiteral("print_offset"));
    ASSERT_NE(entry, nullptr);
    bool shown = false;
    whenShown<ui::PrintOffsetDialog>([&shown](ui::PrintOffsetDialog* d) {
        shown = true;
        d->reject();
    });
    entry->trigger();
    EXPECT_TRUE(shown);
}

TEST_F(PrintPreviewTest, PrintViewPaintsTheInvoiceOnASheetOfThePaper) {
    ui::PrintView view;
    view.resize(900, 700);
    view.setForm(form_.get());
    const QImage image = view.grab().toImage();
    const QRect sheet = view.sheetRect();
    const PrintLayout& l = invoicePrintLayout();
    EXPECT_NEAR(double(sheet.height()) / sheet.width(), l.paperHeightMm / l.paperWidthMm, 0.01);
    // the sheet is white paper with dark print on it; outside it is not paper
    int dark = 0;
    for (int y = sheet.top() + 2; y < sheet.bottom() - 2; ++y)
        for (int x = sheet.left() + 2; x < sheet.right() - 2; ++x)
            if (qGray(image.pixel(x, y)) < 128) ++dark;
    EXPECT_GT(dark, 2000);
    EXPECT_NE(image.pixel(2, 2), QColor(Qt::white).rgb());

    ui::PrintView empty;
    empty.resize(900, 700);
    const QImage blank = empty.grab().toImage();
    const QRect s = empty.sheetRect();
    EXPECT_EQ(blank.pixel(s.center()), QColor(Qt::white).rgb());
    EXPECT_EQ(view.heightForWidth(916), 16 + int(900 * l.paperHeightMm / l.paperWidthMm));
}

} // namespace
} // namespace fp
