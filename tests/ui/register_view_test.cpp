// The invoice register window on screen: opened from the menu, filtered by
// keyboard, a heading click sorting, Enter on a row opening the invoice in the
// reprint window; the summary, an audit's findings and the list's print
// preview as a clerk at month end sees them (FPDESK_SHOT_DIR keeps pictures).
#include "data_model/demo_constants.h"
#include "host/judge_column.h"
#include "reprint_void/w_fp_invoice_print.h"
#include "reprint_void/w_fp_invoice_query.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/child_view.h"
#include "ui/main_window.h"
#include "ui/report_preview.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QMdiArea>
#include <QMenu>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

using ui::ChildView;

class RegisterViewTest : public ::testing::Test {
public:
    void SetUp() override {
        qtApp();
        installFormHostFunctions();
        setDemoSession(session);
        session.gs_kprmc = QStringLiteral("张晓明");
        session.sqlca = &db.tx();
        session.localClock = [] { return QDateTime(QDate(2026, 12, 28), QTime(17, 30)); };
        server.service().setServerTime(QDateTime(QDate(2026, 12, 28), QTime(17, 30)));
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server.inProcessTransport());
        storeMonth();
        main = std::make_unique<ui::MainWindow>(*host);
        main->resize(1280, 720);
        main->show();
        main->activateWindow();
        QApplication::setActiveWindow(main.get());
        drainEvents();
    }
    void TearDown() override {
        main.reset();
        host.reset();
    }
    // A month of a small hotel: 24 invoices, one red-letter, two voided, one
    // voided at the service only.
    void storeMonth() {
        const QStringList payers{QStringLiteral("青岛海岸酒店管理有限公司"), QStringLiteral("刘芳"),
                                 QStringLiteral("山东远洋物流股份有限公司"), QStringLiteral("王强")};
        for (int n = 1; n <= 24; ++n) {
            IssuedInvoice inv;
            inv.fphm = QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0'));
            inv.kprq = QDateTime(QDate(2026, 12, 1 + n), QTime(9, n));
            inv.fkfmc = payers[n % payers.size()];
            inv.lines = {{QStringLiteral("住宿费"), QStringLiteral("%1.00").arg(180 + 40 * (n % 5))}};
            if (n == 9 || n == 17) inv.fpzt = QStringLiteral("2");
            if (n == 12) inv.lines = {{QStringLiteral("住宿费"), QStringLiteral("-260.00")}};
            storeIssuedInvoice(db.tx(), session, inv);
            registerOnServer(server.service(), session, inv, n == 20 ? QStringLiteral("2") : inv.fpzt);
        }
        ASSERT_TRUE(db.tx().exec(
            QStringLiteral("UPDATE ptfp_fpk SET extprop2 = fpdm, extprop1 = '00000005' WHERE fphm = '00000012'")));
        ASSERT_TRUE(db.tx().commit());
    }
    void shot(QWidget* w, const QString& name) {
        const QString dir = qEnvironmentVariable("FPDESK_SHOT_DIR");
        if (dir.isEmpty()) return;
        QDir().mkpath(dir);
        w->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
    }
    static void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* w = QApplication::focusWidget();
        ASSERT_NE(w, nullptr) << "no widget has the focus";
        QTest::keyClick(w, key, mods);
        drainEvents();
    }

    TempDb db{TempDb::Content::DemoData};
    TaxsimServer server{true};
    Session session;
    ScriptedDialogs dialogs;
    std::unique_ptr<HostServices> host;
    std::unique_ptr<ui::MainWindow> main;
};

TEST_F(RegisterViewTest, AClerkListsTheMonthByKeyboardAndOpensARow) {
    QMenu* invoices = main->menu(QStringLiteral("发票管理(&I)"));
    for (QAction* a : invoices->actions())
        if (a->text() == QStringLiteral("发票查询")) a->trigger();
    drainEvents();
    ASSERT_FALSE(main->childViews().isEmpty());
    ChildView* v = main->childViews().last();
    ASSERT_EQ(v->window().name(), QStringLiteral("w_fp_invoice_query"));
    auto& w = static_cast<w_fp_invoice_query&>(v->window());
    v->showMaximized();
    v->focusFirst();
    drainEvents();

    // The month is there already; Enter lists it.
    EXPECT_EQ(QApplication::focusWidget(), v->widgetFor(QStringLiteral("sle_month")));
    press(Qt::Key_Return);
    auto* table = qobject_cast<QTableView*>(v->widgetFor(QStringLiteral("lv_list")));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->model()->rowCount(), 24);
    EXPECT_EQ(QApplication::focusWidget(), table);
    EXPECT_EQ(table->model()->data(table->model()->index(11, 6), Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    shot(main.get(), QStringLiteral("register_list"));

    // A heading click sorts by the total; the list follows.
    QTest::mouseClick(table->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(table->horizontalHeader()->sectionViewportPosition(6) + 10, 5));
    drainEvents();
    EXPECT_EQ(table->model()->data(table->model()->index(0, 1)).toString(), QStringLiteral("00000012"));

    // The invoice that was current stays current; Down to the next, Enter:
    // the reprint window shows that invoice.
    const int before = table->currentIndex().row();
    EXPECT_EQ(table->model()->data(table->model()->index(before, 1)).toString(), QStringLiteral("00000001"));
    press(Qt::Key_Down);
    const QString number = table->model()->data(table->model()->index(before + 1, 1)).toString();
    EXPECT_EQ(w.lv_list.currentRow(), before + 2);
    press(Qt::Key_Return);
    ChildView* reprintView = main->childViews().last();
    ASSERT_EQ(reprintView->window().name(), QStringLiteral("w_fp_invoice_print"));
    EXPECT_EQ(static_cast<w_fp_invoice_print&>(reprintView->window()).is_fphm, number)
        << dialogs.messages().join(u'|').toStdString();
    reprintView->close();
    drainEvents();

    // The summary by its shortcut.
    main->mdiArea()->setActiveSubWindow(v);
    v->focusFirst();
    drainEvents();
    press(Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(w.shown(), w_fp_invoice_query::Shown::Summary);
    shot(main.get(), QStringLiteral("register_summary"));

    // The audit: the one the service voided is found; not mended now.
    w.auditPacer = {};
    dialogs.no();
    press(Qt::Key_H, Qt::ControlModifier);
    ASSERT_EQ(w.findings().size(), 1);
    EXPECT_EQ(w.findings()[0].fphm, QStringLiteral("00000020"));
    shot(main.get(), QStringLiteral("register_audit"));

    // The list's print preview, A4 landscape.
    press(Qt::Key_K, Qt::ControlModifier);
    ui::ReportPreviewDialog preview(w.report(), main.get(), std::make_unique<QPrinter>(QPrinter::HighResolution));
    preview.resize(1200, 800);
    preview.show();
    drainEvents();
    EXPECT_EQ(preview.previewWidget()->pageCount(), 2);
    shot(&preview, QStringLiteral("register_preview"));
}

} // namespace
} // namespace fp::test
