// The three windows in the MDI frame: every command of each is reached from
// its menu item, its toolbar button and its shortcut; the main window's menu
// opens the reprint and void windows; a viewed invoice shows in them.
#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "host/judge_column.h"
#include "issuing/w_fp_invoicing.h"
#include "reprint_void/w_fp_invoice_print.h"
#include "reprint_void/w_fp_invoice_query.h"
#include "reprint_void/w_fp_invoice_void.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/child_view.h"
#include "ui/main_window.h"
#include "ui/print_view.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

using ui::ChildView;

// A window whose own commands are recorded instead of run.
template <class W>
class Recording : public W {
public:
    using W::W;
    QStringList raised;

protected:
    void create() override {
        W::create();
        for (const MenuItem& item : this->menu.items) {
            const QString event = item.event;
            if (event.isEmpty() || !this->handles(event)) continue;
            this->defineEvent(event, [this, event] {
                raised << event;
                return 1L;
            });
        }
    }
};

void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr) << "no widget has the focus";
    QTest::keyClick(w, key, mods);
    drainEvents();
}

class MenusViewTest : public ::testing::Test {
public:
    void SetUp() override {
        qtApp();
        installFormHostFunctions();
        setDemoSession(session);
        session.gs_kprmc = QStringLiteral("张晓明");
        session.sqlca = &db.tx();
        session.localClock = [] { return QDateTime(QDate(2026, 12, 10), QTime(9, 30)); };
        server.service().setServerTime(QDateTime(QDate(2026, 12, 10), QTime(9, 30)));
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server.inProcessTransport());
        main = std::make_unique<ui::MainWindow>(*host);
        main->resize(1280, 900);
        main->show();
        main->activateWindow();
        QApplication::setActiveWindow(main.get());
        drainEvents();
    }
    void TearDown() override {
        main.reset();
        host.reset();
    }

    template <class W>
    ChildView* openRecording(int functionId) {
        ChildView* v = main->openWindow(std::make_unique<Recording<W>>(*host), functionId);
        drainEvents();
        // Every command enabled: which ones a state allows is the window's business.
        for (auto& b : v->window().uo_toolbar.buttons) b.enabled = true;
        v->window().uo_toolbar.notify();
        drainEvents();
        return v;
    }
    static QAction* action(ChildView* v, const QString& objectName) {
        for (QAction* a : v->actions())
            if (a->objectName() == objectName) return a;
        for (QAction* a : v->commandActions())
            if (a->objectName() == objectName) return a;
        return nullptr;
    }
    // The commands a recording window has raised.
    static QStringList& raisedBy(ChildView* v) {
        if (auto* w = dynamic_cast<Recording<w_fp_invoicing>*>(&v->window())) return w->raised;
        if (auto* w = dynamic_cast<Recording<w_fp_invoice_print>*>(&v->window())) return w->raised;
        if (auto* w = dynamic_cast<Recording<w_fp_invoice_query>*>(&v->window())) return w->raised;
        return dynamic_cast<Recording<w_fp_invoice_void>*>(&v->window())->raised;
    }
    static QStringList toolbarTexts(ChildView* v) {
        QStringList l;
        for (QAction* a : v->toolBar()->actions()) l << (a->isSeparator() ? QStringLiteral("|") : a->text());
        return l;
    }
    // Saves the frame as PNG when FPDESK_SHOT_DIR names a folder.
    void shot(const QString& name) {
        const QString dir = qEnvironmentVariable("FPDESK_SHOT_DIR");
        if (dir.isEmpty()) return;
        QDir().mkpath(dir);
        main->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
    }

    TempDb db{TempDb::Content::DemoData};
    TaxsimServer server{true};
    Session session;
    ScriptedDialogs dialogs;
    std::unique_ptr<HostServices> host;
    std::unique_ptr<ui::MainWindow> main;
};

struct WindowCase {
    const char* name;
    int functionId;
    std::function<ChildView*(MenusViewTest&)> open;
    // item -> event raised, for every visible item with a command
    QList<QPair<QString, QString>> items;
    // key -> event raised
    QList<QPair<QKeySequence, QString>> keys;
    QStringList toolbar;
};

TEST_F(MenusViewTest, EveryCommandIsReachedByItsItemButtonAndShortcut) {
    const WindowCase cases[] = {
        {"issuing",
         1,
         [](MenusViewTest& t) { return t.openRecording<w_fp_invoicing>(1); },
         {{"m_acco", "ue_start"},
          {"m_child", "ue_newproj"},
          {"m_del", "ue_delproj"},
          {"m_save", "ue_save"},
          {"m_copy", "ue_copy"},
          {"m_paste", "ue_paste"},
          {"m_0", "ue_print"}},
         {{QKeySequence(QStringLiteral("Ctrl+O")), "ue_start"},
          {QKeySequence(QStringLiteral("Ctrl+N")), "ue_newproj"},
          {QKeySequence(QStringLiteral("Ctrl+D")), "ue_delproj"},
          {QKeySequence(QStringLiteral("Ctrl+S")), "ue_save"},
          {QKeySequence(QStringLiteral("Ctrl+P")), "ue_print"}},
         {"发票录入(Ctrl+O)", "新增品目(Ctrl+N)", "删除品目(Ctrl+D)", "发票保存(Ctrl+S)", "发票复制", "发票粘贴", "|",
          "发票打印[Ctrl+P]"}},
        {"reprint",
         2,
         [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_print>(2); },
         {{"m_acco", "ue_start"}, {"m_save", "ue_save"}},
         {{QKeySequence(QStringLiteral("Ctrl+K")), "ue_start"}, {QKeySequence(QStringLiteral("Ctrl+P")), "ue_save"}},
         {"查看发票(Ctrl+K)", "|", "发票打印(Ctrl+P)"}},
        {"void",
         3,
         [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_void>(3); },
         {{"m_acco", "ue_start"}, {"m_save", "ue_save"}},
         {{QKeySequence(QStringLiteral("Ctrl+K")), "ue_start"}, {QKeySequence(QStringLiteral("Ctrl+F")), "ue_save"}},
         {"查看发票(Ctrl+K)", "|", "发票作废(Ctrl+F)"}},
        {"register",
         4,
         [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_query>(4); },
         {{"m_query", "ue_query"},
          {"m_summary", "ue_summary"},
          {"m_export", "ue_export"},
          {"m_print", "ue_print_list"},
          {"m_audit", "ue_audit"}},
         {{QKeySequence(QStringLiteral("Ctrl+K")), "ue_query"},
          {QKeySequence(QStringLiteral("Ctrl+M")), "ue_summary"},
          {QKeySequence(QStringLiteral("Ctrl+E")), "ue_export"},
          {QKeySequence(QStringLiteral("Ctrl+P")), "ue_print_list"},
          {QKeySequence(QStringLiteral("Ctrl+H")), "ue_audit"}},
         {"查询(Ctrl+K)", "月度汇总(Ctrl+M)", "导出(Ctrl+E)", "打印清单(Ctrl+P)", "与税务机关核对(Ctrl+H)"}},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        ChildView* v = c.open(*this);
        ASSERT_NE(v, nullptr);
        auto record = [&]() -> QStringList& {
            if (auto* w = dynamic_cast<Recording<w_fp_invoicing>*>(&v->window())) return w->raised;
            if (auto* w = dynamic_cast<Recording<w_fp_invoice_print>*>(&v->window())) return w->raised;
            if (auto* w = dynamic_cast<Recording<w_fp_invoice_query>*>(&v->window())) return w->raised;
            return dynamic_cast<Recording<w_fp_invoice_void>*>(&v->window())->raised;
        };

        // The frame's command menu: exactly the visible items.
        QStringList shown;
        for (QAction* a : v->commandActions())
            if (!a->isSeparator()) shown << a->objectName().mid(int(qstrlen("command_")));
        QStringList expectedItems;
        for (const auto& [item, event] : c.items) expectedItems << item;
        EXPECT_EQ(shown, expectedItems);

        for (const auto& [item, event] : c.items) {
            record().clear();
            QAction* a = action(v, QStringLiteral("command_") + item);
            ASSERT_NE(a, nullptr) << item.toStdString();
            a->trigger();
            drainEvents();
            // The issuing window's copy and paste are still to come; an event
            // a window does not handle is ignored.
            const QStringList expected = v->window().handles(event) ? QStringList{event} : QStringList{};
            EXPECT_EQ(record(), expected) << item.toStdString();
        }
        for (QAction* a : v->toolBar()->actions()) {
            if (a->isSeparator()) continue;
            record().clear();
            a->trigger();
            drainEvents();
            const bool copyOrPaste = a->text() == QLatin1String("发票复制") || a->text() == QLatin1String("发票粘贴");
            if (!copyOrPaste) {
                EXPECT_EQ(record().size(), 1) << a->text().toStdString();
            }
        }
        EXPECT_EQ(toolbarTexts(v), c.toolbar);

        // The keys, pressed where the focus is.
        v->focusFirst();
        drainEvents();
        for (const auto& [seq, event] : c.keys) {
            record().clear();
            QWidget* w = QApplication::focusWidget();
            ASSERT_NE(w, nullptr);
            QTest::keySequence(w, seq);
            drainEvents();
            EXPECT_EQ(record(), QStringList{event}) << seq.toString().toStdString();
        }
        v->close();
        drainEvents();
    }
}

// The keyboard path from code to number: choosing a code with the arrow keys
// moves the focus to the number box (enabled only now), one Tab from the code
// box reaches it, and Enter there starts. The register's filters are reached
// one Tab after another.
TEST_F(MenusViewTest, FromTheCodeOneTabReachesTheNumberAndEnterStarts) {
    struct Case {
        const char* name;
        std::function<ChildView*(MenusViewTest&)> open;
    };
    const Case cases[] = {
        {"issuing", [](MenusViewTest& t) { return t.openRecording<w_fp_invoicing>(1); }},
        {"reprint", [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_print>(2); }},
        {"void", [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_void>(3); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildView* v = c.open(*this);
        ASSERT_NE(v, nullptr);
        BaseWindow& w = v->window();
        auto* codes = qobject_cast<QComboBox*>(v->widgetFor(QStringLiteral("ddlb_fpdm")));
        auto* numbers = qobject_cast<QComboBox*>(v->widgetFor(QStringLiteral("ddlb_fphm")));
        ASSERT_TRUE(codes && numbers);
        EXPECT_FALSE(numbers->isEnabled());
        codes->setFocus(Qt::TabFocusReason);
        drainEvents();
        ASSERT_EQ(QApplication::focusWidget(), codes);

        press(Qt::Key_Down);
        ASSERT_GE(codes->currentIndex(), 0);
        EXPECT_TRUE(numbers->isEnabled());
        EXPECT_EQ(QApplication::focusWidget(), numbers);
        EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));

        // Back to the code and one Tab forward again.
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), codes);
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), numbers);
        EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));

        // A number typed, Enter starts.
        numbers->lineEdit()->selectAll();
        QTest::keyClicks(numbers, QStringLiteral("00000001"));
        drainEvents();
        raisedBy(v).clear();
        press(Qt::Key_Return);
        EXPECT_EQ(raisedBy(v), QStringList{QStringLiteral("ue_start")});
        v->close();
        drainEvents();
    }

    ChildView* v = openRecording<w_fp_invoice_query>(4);
    ASSERT_NE(v, nullptr);
    QStringList reached;
    v->widgetFor(QStringLiteral("sle_month"))->setFocus(Qt::TabFocusReason);
    drainEvents();
    for (int i = 0; i < 12; ++i) {
        reached << v->window().focusedName();
        press(Qt::Key_Tab);
    }
    EXPECT_EQ(reached, (QStringList{"sle_month", "sle_from", "sle_to", "ddlb_fpdm", "sle_fphm_from", "sle_fphm_to",
                                    "ddlb_fpzt", "ddlb_sign", "ddlb_fpzl", "ddlb_kpr", "sle_payer", "lv_list"}));
}

// At 1366 x 768 every window opens fully inside the workspace. Each user's
// windows come back as large as and where they were left; a place remembered
// on a larger screen is brought inside the workspace.
TEST_F(MenusViewTest, WindowsOpenInsideTheWorkspaceAndComeBackWhereTheyWereLeft) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("fpdesk.ini")), QSettings::IniFormat);
    main->setWindowSettings(&settings);
    main->resize(1366, 768);
    drainEvents();
    const QRect area = main->mdiArea()->viewport()->rect();
    const auto text = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
    };
    struct Case {
        const char* name;
        std::function<ChildView*(MenusViewTest&)> open;
    };
    const Case cases[] = {
        {"issuing", [](MenusViewTest& t) { return t.openRecording<w_fp_invoicing>(1); }},
        {"reprint", [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_print>(2); }},
        {"void", [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_void>(3); }},
        {"register", [](MenusViewTest& t) { return t.openRecording<w_fp_invoice_query>(4); }},
    };
    const QString clerk = session.gs_userid;
    const QString other = QStringLiteral("u_other");
    ASSERT_TRUE(db.tx().exec(QStringLiteral("INSERT INTO b_user_right (userid, funcid, right_code) "
                                            "SELECT ?, funcid, right_code FROM b_user_right WHERE userid = ?"),
                             {other, clerk}));
    ASSERT_TRUE(db.tx().commit());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.gs_userid = clerk;
        ChildView* v = c.open(*this);
        ASSERT_NE(v, nullptr);
        EXPECT_TRUE(area.contains(v->geometry())) << text(v->geometry()) << " in " << text(area);
        shot(QStringLiteral("opened_1366x768_") + QString::fromLatin1(c.name));
        const QString key = main->geometryKey(*v);

        // Left smaller and elsewhere, it opens so again for this user only.
        const QRect left(40, 30, 760, 520);
        v->setGeometry(left);
        v->close();
        drainEvents();
        v = c.open(*this);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->geometry(), left) << text(v->geometry());
        v->close();
        drainEvents();
        session.gs_userid = other;
        v = c.open(*this);
        ASSERT_NE(v, nullptr);
        EXPECT_NE(v->geometry(), left);
        v->close();
        drainEvents();

        // Remembered on a larger screen: beyond the right and lower edges.
        session.gs_userid = clerk;
        settings.setValue(key, QRect(area.width() - 100, area.height() - 50, area.width() + 300, 600));
        v = c.open(*this);
        ASSERT_NE(v, nullptr);
        EXPECT_TRUE(area.contains(v->geometry())) << text(v->geometry()) << " in " << text(area);
        EXPECT_EQ(v->width(), area.width());
        EXPECT_EQ(v->height(), 600);
        v->close();
        drainEvents();
    }
}

TEST_F(MenusViewTest, MainMenuOpensTheWindowsAndAViewedInvoiceShows) {
    IssuedInvoice inv;
    inv.bz = QStringLiteral("现金支付，含服务费");
    storeIssuedInvoice(db.tx(), session, inv);
    registerOnServer(server.service(), session, inv);

    QMenu* invoices = main->menu(QStringLiteral("发票管理(&I)"));
    QStringList entries;
    for (QAction* a : invoices->actions())
        entries << a->text() + (a->isEnabled() ? QString() : QStringLiteral("(off)"));
    EXPECT_EQ(entries, (QStringList{QStringLiteral("发票开具"), QStringLiteral("发票补打"), QStringLiteral("发票作废"),
                                    QString(), QStringLiteral("发票查询")}));

    struct Case {
        const char* name;
        QString entry;
        const char* windowName;
        QString shotName;
    };
    const Case cases[] = {
        {"reprint", QStringLiteral("发票补打"), "w_fp_invoice_print", QStringLiteral("reprint_window")},
        {"void", QStringLiteral("发票作废"), "w_fp_invoice_void", QStringLiteral("void_window")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (QAction* a : invoices->actions())
            if (a->text() == c.entry) a->trigger();
        drainEvents();
        ASSERT_FALSE(main->childViews().isEmpty());
        ChildView* v = main->childViews().last();
        ASSERT_EQ(v->window().name(), QString::fromLatin1(c.windowName));
        v->showMaximized();
        auto& w = static_cast<InvoiceLookupWindow&>(v->window());
        ASSERT_TRUE(w.chooseCode(inv.fpdm));
        drainEvents();
        // The keyboard: the number typed, Ctrl+K views it.
        w.ddlb_fphm.setText(QStringLiteral("7"));
        drainEvents();
        press(Qt::Key_K, Qt::ControlModifier);
        EXPECT_EQ(w.is_fphm, QStringLiteral("00000007")) << dialogs.messages().join(u'|').toStdString();
        EXPECT_TRUE(v->widgetFor(QStringLiteral("dw_fp"))->isVisible());
        // The invoice shows as it prints: the print view over the window's form.
        auto* sheet = v->widgetFor(QStringLiteral("dw_fp"))->findChild<ui::PrintView*>(QStringLiteral("print_view"));
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->form(), w.dw_fp.store());
        EXPECT_EQ(sheet->form()->rowCount(), 5);
        EXPECT_TRUE(w.uo_toolbar.isEnabled(w.commandItem()));
        shot(c.shotName);
        v->close();
        drainEvents();
    }
}

} // namespace
} // namespace fp::test
