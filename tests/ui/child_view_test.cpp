// The issuing window shown in the MDI frame: the widgets show what the controls
// hold, keep following them, and the keyboard alone drives the window.
#include "data_model/demo_constants.h"
#include "issuing/w_fp_invoicing.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/child_view.h"
#include "ui/main_window.h"
#include "ui/ui_metrics.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPointer>
#include <QTemporaryDir>
#include <QToolBar>
#include <gtest/gtest.h>

namespace fp {
namespace {

using ui::ChildView;
using ui::toPxX;
using ui::toPxY;

const QString kIssuer = QStringLiteral("张晓明");

// The issuing window with its start command counted instead of run.
class CountingInvoicing : public w_fp_invoicing {
public:
    using w_fp_invoicing::w_fp_invoicing;
    int starts = 0;
    int closeVeto = 0; // what closequery answers

protected:
    void create() override {
        w_fp_invoicing::create();
        defineEvent(QStringLiteral("ue_start"), [this] {
            ++starts;
            return 1L;
        });
    }
    int closequery() override { return closeVeto; }
};

QStringList comboTexts(const QComboBox* c) {
    QStringList l;
    for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
    return l;
}

QStringList controlTexts(const DropDown& d) {
    QStringList l;
    for (const auto& i : d.items()) l << i.text;
    return l;
}

// A key stroke as the keyboard gives it: to the widget that has the focus.
void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = QString()) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr) << "no widget has the focus";
    QKeyEvent down(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(w, &up);
    test::drainEvents();
}

void typeText(const QString& text) {
    for (QChar ch : text) press(Qt::Key_0 + (ch.unicode() - u'0'), Qt::NoModifier, QString(ch));
}

class IssuingViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApp();
        db_ = std::make_unique<test::TempDb>(test::TempDb::Content::DemoData);
        sqlca_ = &db_->tx();
        session_.gs_userid = QString::fromUtf8(demo::kUserId);
        session_.gs_sysuserid = QString::fromUtf8(demo::kSxh);
        session_.gs_kprmc = QStringLiteral("");
        session_.sqlca = sqlca_;
        host_ = std::make_unique<HostServices>(session_, dialogs_);
        main_ = std::make_unique<ui::MainWindow>(*host_);
        main_->show();
        main_->activateWindow();
        test::drainEvents();
    }

    // Opens the counting issuing window after the issuer choice `issuer`.
    ChildView* open(const QString& issuer = kIssuer) {
        dialogs_.choose(issuer);
        auto w = std::make_unique<CountingInvoicing>(*host_);
        ChildView* v = main_->openWindow(std::move(w), 1);
        test::drainEvents();
        return v;
    }
    static CountingInvoicing& win(ChildView* v) { return static_cast<CountingInvoicing&>(v->window()); }
    template <class W>
    static W* widget(ChildView* v, const char* name) {
        auto* w = qobject_cast<W*>(v->widgetFor(QString::fromUtf8(name)));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    std::unique_ptr<test::TempDb> db_;
    Transaction* sqlca_ = nullptr;
    Session session_;
    test::ScriptedDialogs dialogs_;
    std::unique_ptr<HostServices> host_;
    std::unique_ptr<ui::MainWindow> main_;
};

TEST_F(IssuingViewTest, WidgetsShowWhatTheControlsHoldAfterOpen) {
    ChildView* v = open();
    ASSERT_NE(v, nullptr);
    CountingInvoicing& w = win(v);
    QWidget* canvas = v->canvas();

    EXPECT_EQ(main_->kprLabel()->text(), QStringLiteral("开票员:") + kIssuer);
    EXPECT_EQ(v->windowTitle(), w.title);
    EXPECT_EQ(canvas->palette().color(QPalette::Window), QColor(255, 251, 240));

    struct LabelCase {
        const char* name;
        QString text;
        bool shown;
    };
    const LabelCase labels[] = {
        {"st_1", QStringLiteral("发票代码"), true},          {"st_2", QStringLiteral("发票号码"), true},
        {"st_oldfpdm", QStringLiteral("原发票代码"), false}, {"st_oldfpdm1", QStringLiteral("原发票代码"), false},
        {"st_oldfphm", QStringLiteral("原发票号码"), false},
    };
    for (const auto& c : labels) {
        auto* l = widget<QLabel>(v, c.name);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->text(), c.text) << c.name;
        EXPECT_EQ(l->isVisibleTo(canvas), c.shown) << c.name;
        EXPECT_EQ(l->x(), toPxX(w.control(QString::fromUtf8(c.name))->x)) << c.name;
    }
    EXPECT_EQ(widget<QLabel>(v, "st_oldfpdm")->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    auto* box = widget<QCheckBox>(v, "cbx_ch");
    EXPECT_EQ(box->text(), QStringLiteral("发票冲红"));
    EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(box->isChecked());

    // The code list: what the control was filled with, the returned stock absent.
    auto* codes = widget<QComboBox>(v, "ddlb_fpdm");
    EXPECT_TRUE(codes->isEnabled());
    EXPECT_FALSE(codes->isEditable());
    EXPECT_EQ(comboTexts(codes), controlTexts(w.ddlb_fpdm));
    EXPECT_EQ(codes->currentIndex(), -1);
    const QString code50 = QString::fromUtf8(demo::kCode50);
    EXPECT_TRUE(std::any_of(w.ddlb_fpdm.items().begin(), w.ddlb_fpdm.items().end(), [&](const DropDown::Item& i) {
        return i.id == code50 && i.text.startsWith(code50 + u'(');
    }));
    EXPECT_FALSE(comboTexts(codes).join(u'|').contains(QString::fromUtf8(demo::kCode50Returned)));
    EXPECT_EQ(codes->x(), toPxX(338));
    EXPECT_EQ(codes->width(), toPxX(1234));

    auto* numbers = widget<QComboBox>(v, "ddlb_fphm");
    EXPECT_FALSE(numbers->isEnabled());
    EXPECT_TRUE(numbers->isEditable());
    EXPECT_EQ(numbers->lineEdit()->maxLength(), 8);
    EXPECT_EQ(widget<QLineEdit>(v, "sle_ch")->maxLength(), 8);
    EXPECT_EQ(widget<QLineEdit>(v, "sle_oldfpdm")->maxLength(), 12);
    EXPECT_FALSE(widget<QLineEdit>(v, "sle_ch")->isVisibleTo(canvas));
    EXPECT_FALSE(v->widgetFor(QStringLiteral("dw_fp"))->isVisibleTo(canvas));
    EXPECT_FALSE(v->widgetFor(QStringLiteral("dw_xm"))->isVisibleTo(canvas));
    EXPECT_FALSE(v->widgetFor(QStringLiteral("dw_print"))->isVisibleTo(canvas));

    // Toolbar: the shown items' toolbar texts, a gap before printing, only the
    // start command enabled for a user with the issuing right.
    ASSERT_TRUE(w.ib_write);
    QToolBar* bar = v->toolBar();
    ASSERT_NE(bar, nullptr);
    QStringList texts;
    QList<bool> enabled;
    int separatorBefore = -1;
    for (QAction* a : bar->actions()) {
        if (a->isSeparator()) {
            separatorBefore = int(texts.size());
            continue;
        }
        texts << a->text();
        enabled << a->isEnabled();
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("发票录入(Ctrl+O)"), QStringLiteral("新增品目(Ctrl+N)"),
                                  QStringLiteral("删除品目(Ctrl+D)"), QStringLiteral("发票保存(Ctrl+S)"),
                                  QStringLiteral("发票复制"), QStringLiteral("发票粘贴"),
                                  QStringLiteral("发票打印[Ctrl+P]")}));
    EXPECT_EQ(enabled, (QList<bool>{true, false, false, false, false, false, false}));
    EXPECT_EQ(separatorBefore, 6);
}

TEST_F(IssuingViewTest, WidgetsFollowLaterControlChanges) {
    ChildView* v = open();
    ASSERT_NE(v, nullptr);
    CountingInvoicing& w = win(v);
    QWidget* canvas = v->canvas();

    struct Case {
        const char* what;
        std::function<void()> change;
        std::function<bool()> shows;
    };
    const Case cases[] = {
        {"enable", [&] { w.cbx_ch.setEnabled(true); }, [&] { return widget<QCheckBox>(v, "cbx_ch")->isEnabled(); }},
        {"check", [&] { w.cbx_ch.setChecked(true); }, [&] { return widget<QCheckBox>(v, "cbx_ch")->isChecked(); }},
        {"show", [&] { w.sle_ch.show(); }, [&] { return widget<QLineEdit>(v, "sle_ch")->isVisibleTo(canvas); }},
        {"move", [&] { w.sle_ch.move(1925, 276); }, [&] { return widget<QLineEdit>(v, "sle_ch")->x() == toPxX(1925); }},
        {"text", [&] { w.sle_ch.setText(QStringLiteral("123456789")); },
         [&] { return widget<QLineEdit>(v, "sle_ch")->text() == QStringLiteral("12345678"); }},
        {"label", [&] { w.st_2.setText(QStringLiteral("号码")); },
         [&] { return widget<QLabel>(v, "st_2")->text() == QStringLiteral("号码"); }},
        {"items", [&] { w.ddlb_fphm.of_additem(QString(), QStringLiteral("00000009")); },
         [&] { return comboTexts(widget<QComboBox>(v, "ddlb_fphm")) == QStringList{QStringLiteral("00000009")}; }},
        {"choice", [&] { w.ddlb_fphm.selectItem(1); },
         [&] { return widget<QComboBox>(v, "ddlb_fphm")->currentText() == QStringLiteral("00000009"); }},
        {"button", [&] { w.uo_toolbar.of_setenable(w_fp_invoicing::kSave, true); },
         [&] { return v->toolBar()->actions().at(3)->isEnabled(); }},
        {"form", [&] { w.dw_fp.show(); }, [&] { return v->widgetFor(QStringLiteral("dw_fp"))->isVisibleTo(canvas); }},
        {"hide", [&] { w.st_1.hide(); }, [&] { return !widget<QLabel>(v, "st_1")->isVisibleTo(canvas); }},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.shows()) << c.what << " already shown before the change";
        c.change();
        EXPECT_TRUE(c.shows()) << c.what;
    }
}

TEST_F(IssuingViewTest, KeyboardAloneChoosesCodeAndNumberAndStarts) {
    ChildView* v = open();
    ASSERT_NE(v, nullptr);
    CountingInvoicing& w = win(v);
    auto* codes = widget<QComboBox>(v, "ddlb_fpdm");
    auto* numbers = widget<QComboBox>(v, "ddlb_fphm");

    // The first control in tab order has the focus, in the widgets and the window.
    EXPECT_EQ(QApplication::focusWidget(), codes);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fpdm"));

    // Down chooses the first code: the number list fills and takes the focus.
    press(Qt::Key_Down);
    EXPECT_EQ(w.ddlb_fpdm.selectedIndex(), 1);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
    EXPECT_EQ(QApplication::focusWidget(), numbers);
    EXPECT_TRUE(numbers->isEnabled());
    ASSERT_GT(w.ddlb_fphm.count(), 0);
    EXPECT_EQ(comboTexts(numbers), controlTexts(w.ddlb_fphm));

    // Down chooses the first number; Enter in the number box starts.
    press(Qt::Key_Down);
    EXPECT_EQ(w.ddlb_fphm.text(), w.ddlb_fphm.items().front().text);
    press(Qt::Key_Return);
    EXPECT_EQ(w.starts, 1);

    // A typed number goes into the control's text.
    numbers->lineEdit()->selectAll();
    typeText(QStringLiteral("00000007"));
    EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral("00000007"));
    press(Qt::Key_Enter);
    EXPECT_EQ(w.starts, 2);

    // Red-letter: Tab to the box, Space ticks it, Down picks the reversed code,
    // the number is typed into sle_ch and Enter starts.
    press(Qt::Key_Tab);
    EXPECT_EQ(w.focusedName(), QStringLiteral("cbx_ch"));
    press(Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_TRUE(w.cbx_ch.checked);
    EXPECT_TRUE(widget<QComboBox>(v, "ddlb_oldfpdm")->isVisibleTo(v->canvas()));
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_oldfpdm"));
    press(Qt::Key_Down);
    EXPECT_EQ(w.ddlb_oldfpdm.selectedIndex(), 1);
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_ch"));
    typeText(QStringLiteral("00000003"));
    EXPECT_EQ(w.sle_ch.text(), QStringLiteral("00000003"));
    press(Qt::Key_Return);
    EXPECT_EQ(w.starts, 3);
}

TEST_F(IssuingViewTest, MenuShortcutsOfVisibleItemsChooseTheirItems) {
    ChildView* v = open();
    ASSERT_NE(v, nullptr);
    CountingInvoicing& w = win(v);

    // The menu's keys on the child, as "name=keys" (the subwindow's own Ctrl+F4 aside).
    QStringList keys;
    for (QAction* a : v->actions())
        if (a->objectName().startsWith(QLatin1String("shortcut_")))
            keys << a->objectName() + u'=' + a->shortcut().toString();
    keys.sort();
    // Hidden items (查找, 刷新, 导入, 导出) have no live key.
    EXPECT_EQ(keys, (QStringList{QStringLiteral("shortcut_m_0=Ctrl+P"), QStringLiteral("shortcut_m_acco=Ctrl+O"),
                                 QStringLiteral("shortcut_m_child=Ctrl+N"), QStringLiteral("shortcut_m_del=Ctrl+D"),
                                 QStringLiteral("shortcut_m_save=Ctrl+S")}));

    for (QAction* a : v->actions())
        if (a->objectName() == QLatin1String("shortcut_m_acco")) a->trigger();
    EXPECT_EQ(w.starts, 1);

    // The frame's command menu shows the window's captions; a disabled command
    // is disabled there too.
    QStringList captions;
    for (QAction* a : v->commandActions())
        if (!a->isSeparator()) captions << a->text();
    EXPECT_EQ(captions.first(), QStringLiteral("发票录入(&O)\tCtrl+O"));
    EXPECT_EQ(captions.size(), 7);
    for (QAction* a : v->commandActions()) {
        if (a->objectName() == QLatin1String("command_m_save")) {
            EXPECT_FALSE(a->isEnabled());
        }
    }
}

TEST_F(IssuingViewTest, CancelledIssuerChoiceLeavesNoWindow) {
    for (const QString& answer : {QString(), QStringLiteral("   "), QStringLiteral("\r\n")}) {
        EXPECT_EQ(open(answer), nullptr);
        EXPECT_TRUE(main_->mdiArea()->subWindowList().isEmpty());
        EXPECT_EQ(main_->kprLabel()->text(), QString());
        EXPECT_EQ(session_.gs_kprmc, QStringLiteral(""));
    }
}

TEST_F(IssuingViewTest, ClosingAsksTheWindowAndAWindowClosingItselfClosesTheChild) {
    QPointer<ChildView> v = open();
    ASSERT_TRUE(v);
    win(v).closeVeto = 1;
    EXPECT_FALSE(v->close());
    EXPECT_TRUE(win(v).isOpen());
    EXPECT_TRUE(v->isVisible());

    win(v).closeVeto = 0;
    EXPECT_TRUE(v->close());
    EXPECT_TRUE(win(v).isClosed());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(v);

    // The window closes itself from a handler: the child goes with it.
    session_.gs_kprmc = QString(); // a null issuer: no question asked
    QPointer<ChildView> again = main_->openWindow(std::make_unique<CountingInvoicing>(*host_), 1);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->window().close());
    EXPECT_FALSE(again->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(again);
}

TEST_F(IssuingViewTest, ResizingTheChildResizesTheWindowAndItsForms) {
    ChildView* v = open();
    ASSERT_NE(v, nullptr);
    CountingInvoicing& w = win(v);
    v->resize(v->size() + QSize(120, 80));
    test::drainEvents();
    const QSize canvas = v->canvas()->size();
    EXPECT_EQ(w.width, ui::toUnitsX(canvas.width()));
    EXPECT_EQ(w.height, ui::toUnitsY(canvas.height()));
    EXPECT_EQ(w.dw_fp.width, w.width - w.dw_fp.x - 8);
    EXPECT_EQ(w.dw_xm.width, w.dw_fp.width);
    EXPECT_EQ(v->widgetFor(QStringLiteral("dw_fp"))->width(), toPxX(w.dw_fp.width));
    EXPECT_EQ(v->widgetFor(QStringLiteral("dw_xm"))->height(), toPxY(w.dw_xm.height));
    EXPECT_EQ(v->toolBar()->width(), canvas.width());
}

} // namespace
} // namespace fp
