// The header form and the item grid of the issuing window as widgets: they show
// what the forms hold, edits reach the window's handlers through the form
// control, a saved invoice takes no input, and a keyboard alone issues an
// invoice end to end against the simulated tax service.
#include "app/gui.h"
#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "host/judge_column.h"
#include "issuing/w_fp_invoicing.h"
#include "tests/support/demo_session.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/child_view.h"
#include "ui/form_editing.h"
#include "ui/form_table_model.h"
#include "ui/form_view.h"
#include "ui/form_widget.h"
#include "ui/grid_view.h"
#include "ui/main_window.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace fp {
namespace {

using ui::FormView;
using ui::GridView;

const QDateTime kNow(QDate(2026, 12, 10), QTime(9, 30, 15));
const QString kIssuer = QStringLiteral("张晓明");
const QString kPayer = QStringLiteral("示范建筑工程有限公司");

QString code50() { return QString::fromUtf8(demo::kCode50); }

// ---- the keyboard ----

// A key stroke to the widget with the focus, as the keyboard delivers it (a
// menu shortcut first, then the key press and release).
void press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr) << "no widget has the focus";
    QTest::keyClick(w, key, mods);
    test::drainEvents();
}

// Typing ASCII text key by key.
void typeKeys(const QString& text) {
    for (QChar ch : text) {
        QWidget* w = QApplication::focusWidget();
        ASSERT_NE(w, nullptr) << "no widget has the focus";
        QTest::keyClick(w, ch.toLatin1());
    }
    test::drainEvents();
}

// Chinese text as an input method commits it.
void commitText(const QString& text) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr);
    QInputMethodEvent e;
    e.setCommitString(text);
    QApplication::sendEvent(w, &e);
    test::drainEvents();
}

class FormViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApp();
        installFormHostFunctions();
        db = std::make_unique<test::TempDb>(test::TempDb::Content::DemoData);
        server = std::make_unique<test::TaxsimServer>(true);
        server->service().setServerTime(kNow);
        test::setDemoSession(session);
        session.gs_kprmc = kIssuer;
        session.sqlca = &db->tx();
        session.localClock = [] { return kNow; };
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server->inProcessTransport());
        host->setTimeoutUnitMs(5);
        main = std::make_unique<ui::MainWindow>(*host);
        main->show();
        main->activateWindow();
        test::drainEvents();
        view = main->openWindow(std::make_unique<w_fp_invoicing>(*host), 1);
        ASSERT_NE(view, nullptr);
        win = static_cast<w_fp_invoicing*>(&view->window());
        test::drainEvents();
    }
    void TearDown() override { main.reset(); }

    ui::FormWidget* formWidget(const char* name) const {
        return qobject_cast<ui::FormWidget*>(view->widgetFor(QString::fromUtf8(name)));
    }
    FormView* header() const { return formWidget("dw_fp")->formView(); }
    GridView* items() const { return formWidget("dw_xm")->gridView(); }
    QLineEdit* field(const QString& column) const { return qobject_cast<QLineEdit*>(header()->editorFor(column)); }
    QComboBox* choice(const QString& column) const { return qobject_cast<QComboBox*>(header()->editorFor(column)); }
    QString cell(int row, const QString& column) const {
        const auto* m = items()->model();
        return m->index(row - 1, m->modelColumn(column)).data().toString();
    }
    QModelIndex cellIndex(int row, const QString& column) const {
        const auto* m = items()->model();
        return m->index(row - 1, m->modelColumn(column));
    }

    // Starts an integrated invoice through the controls (the selectors have tests of their own).
    void start(const QString& number = QStringLiteral("00000001"), const QString& code = code50()) {
        for (int i = 1; i <= win->ddlb_fpdm.count(); ++i)
            if (win->ddlb_fpdm.of_getid(i) == code) win->ddlb_fpdm.select(i);
        win->ddlb_fphm.setText(number);
        ASSERT_EQ(win->raise(QStringLiteral("ue_start")), 1) << dialogs.log().join(u'\n').toStdString();
        test::drainEvents();
    }

    // Puts the focus into a cell of the item grid, as a click does.
    void focusCell(int row, const QString& column) {
        items()->table()->setFocus(Qt::MouseFocusReason);
        items()->table()->setCurrentIndex(cellIndex(row, column));
        test::drainEvents();
    }

    qlonglong count(const QString& sql, const QVariantList& binds) {
        QVariantList row;
        EXPECT_NE(db->tx().selectInto(sql, binds, row), -1);
        return row.value(0).toLongLong();
    }

    // Writes a screenshot of the frame when FPDESK_SHOT_DIR names a folder.
    void shot(const QString& name) {
        const QString dir = qEnvironmentVariable("FPDESK_SHOT_DIR");
        if (dir.isEmpty()) return;
        QDir().mkpath(dir);
        test::drainEvents();
        EXPECT_TRUE(main->grab().save(QDir(dir).filePath(name), "PNG"));
    }

    std::unique_ptr<test::TempDb> db;
    std::unique_ptr<test::TaxsimServer> server;
    Session session;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<HostServices> host;
    std::unique_ptr<ui::MainWindow> main;
    ui::ChildView* view = nullptr;
    w_fp_invoicing* win = nullptr;
};

TEST_F(FormViewsTest, HeaderFormShowsTheStartedInvoiceAndTakesEditsThroughTheControl) {
    start();
    ASSERT_NE(header(), nullptr);
    EXPECT_TRUE(header()->isVisibleTo(view->canvas()));

    // The header as its paper reads: code, number and date first, then the payer;
    // internal codes and the columns of other kinds are not shown.
    const QStringList cols = header()->columns();
    EXPECT_EQ(cols.mid(0, 4), (QStringList{"fpdm", "fphm", "kprq", "fkfmc"}));
    for (const char* hidden :
         {"sl", "se", "userid", "extprop1", "fpzlbm", "sxh", "drcs", "swjgdm", "zbrbz", "fbrbz", "mjlx", "bcrq"})
        EXPECT_FALSE(cols.contains(QString::fromUtf8(hidden))) << hidden;
    // Every column the save requires is on screen: the payee's document type
    // for the clerk to change, the tax office (by its name) read-only.
    EXPECT_EQ(choice(QStringLiteral("skfzjlx"))->currentText(), QStringLiteral("纳税人识别号"));
    EXPECT_FALSE(qobject_cast<ui::FieldCombo*>(choice(QStringLiteral("skfzjlx")))->isReadOnly());
    ASSERT_TRUE(cols.contains(QStringLiteral("swjgmc")));
    EXPECT_TRUE(qobject_cast<ui::FieldCombo*>(choice(QStringLiteral("swjgmc")))->isReadOnly());
    // The state by its name.
    EXPECT_EQ(choice(QStringLiteral("fpzt"))->currentText(), QStringLiteral("已开票"));
    EXPECT_EQ(header()->labelFor(QStringLiteral("skfmc"))->text(), QStringLiteral("收款方名称"));

    // The pre-filled header as the form shows it.
    struct Shown {
        const char* column;
        QString text;
    };
    const Shown shown[] = {
        {"fpdm", code50()},
        {"fphm", QStringLiteral("00000001")},
        {"skfmc", QString::fromUtf8(demo::kTaxpayerName)},
        {"skfzjhm", QString::fromUtf8(demo::kNsrsbh)},
        {"kpr", kIssuer},
        {"kprq", QStringLiteral("2026-12-10")},
    };
    for (const auto& s : shown) EXPECT_EQ(field(QString::fromUtf8(s.column))->text(), s.text) << s.column;
    EXPECT_TRUE(choice(QStringLiteral("fkfmc"))->isEditable());
    EXPECT_TRUE(choice(QStringLiteral("fkfmc"))->findText(kPayer) >= 0);
    EXPECT_EQ(field(QStringLiteral("fkfzjhm"))->maxLength(), 40);

    // The focus is in the current column the start command chose.
    EXPECT_EQ(win->focusedName(), QStringLiteral("dw_fp"));
    EXPECT_EQ(QApplication::focusWidget(), field(QStringLiteral("kprq")));

    // Typing in a field is the pending edit; Tab accepts it and moves the
    // current column, and the focus follows.
    field(QStringLiteral("fkfzjhm"))->setFocus(Qt::MouseFocusReason);
    test::drainEvents();
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfzjhm"));
    typeKeys(QStringLiteral("MA3C0001-2"));
    EXPECT_TRUE(win->dw_fp.hasPendingEdit());
    EXPECT_TRUE(win->dw_fp.store()->isNull(1, QStringLiteral("fkfzjhm")));
    press(Qt::Key_Tab);
    EXPECT_EQ(win->dw_fp.store()->getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("MA3C0001-2"));
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("skfmc"));
    EXPECT_EQ(QApplication::focusWidget(), field(QStringLiteral("skfmc")));

    // A code table is chosen with the arrow keys; the choice is stored at once.
    choice(QStringLiteral("fkfzjlx"))->setFocus(Qt::MouseFocusReason);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(win->dw_fp.store()->getString(1, QStringLiteral("fkfzjlx")), QStringLiteral("组织机构代码"));

    // Leaving a field with the mouse accepts it; a value the column refuses is
    // reported and the field shows the stored value again.
    field(QStringLiteral("kprq"))->setFocus(Qt::MouseFocusReason);
    field(QStringLiteral("kprq"))->selectAll();
    typeKeys(QStringLiteral("2026-13-45"));
    field(QStringLiteral("bz"))->setFocus(Qt::MouseFocusReason);
    test::drainEvents();
    EXPECT_EQ(dialogs.messages().size(), 1);
    EXPECT_EQ(field(QStringLiteral("kprq"))->text(), QStringLiteral("2026-12-10"));
    EXPECT_FALSE(win->dw_fp.hasPendingEdit());
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("bz"));

    // What the window writes into the header shows: the total, red when negative.
    EXPECT_TRUE(
        win->dw_fp.store()->setItem(1, QStringLiteral("hjje"), QVariant::fromValue(Decimal::fromCents(-123456))));
    win->dw_fp.notify();
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("-1,234.56"));
    EXPECT_EQ(field(QStringLiteral("hjje"))->palette().color(QPalette::Text), QColor(255, 0, 0));
    // In the field, as in a grid's cell editor, the amount is the plain value to
    // edit; formatted again once the field is left.
    field(QStringLiteral("hjje"))->setFocus(Qt::TabFocusReason);
    test::drainEvents();
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("-1234.56"));
    field(QStringLiteral("bz"))->setFocus(Qt::MouseFocusReason);
    test::drainEvents();
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("-1,234.56"));
    EXPECT_NE(field(QStringLiteral("kpr"))->palette().color(QPalette::Text), QColor(255, 0, 0));
    // A negative total protects the payer (a red-letter invoice copied from a known one).
    EXPECT_TRUE(qobject_cast<ui::FieldCombo*>(choice(QStringLiteral("fkfmc")))->isReadOnly());
    EXPECT_FALSE(field(QStringLiteral("bz"))->isReadOnly());
}

TEST_F(FormViewsTest, ItemGridShowsTheLinesAndTheAmountRuleRunsThroughTheWidget) {
    start();
    ASSERT_NE(items(), nullptr);
    ui::GridTable* table = items()->table();
    const ui::FormTableModel* model = items()->model();

    // Only the visible columns, headed by their labels without the line breaks around them.
    QStringList headings;
    for (int c = 0; c < model->columnCount(); ++c)
        headings << model->headerData(c, Qt::Horizontal).toString().remove(u'\n'); // long headings are broken to fit
    EXPECT_EQ(headings.first(), QStringLiteral("品      目"));
    EXPECT_TRUE(headings.contains(QStringLiteral("金  额(元)")));
    EXPECT_TRUE(headings.contains(QStringLiteral("数量")));
    EXPECT_EQ(model->modelColumn(QStringLiteral("iserial")), -1);
    EXPECT_EQ(model->modelColumn(QStringLiteral("fphm")), -1);
    EXPECT_EQ(model->rowCount(), 1);
    EXPECT_EQ(items()->summaryCaption()->text(), QStringLiteral("合  计"));

    // The start command left the current cell on the item name of line 1.
    EXPECT_EQ(table->currentIndex(), cellIndex(1, QStringLiteral("xmmc")));

    // Quantity 2.5, Enter, price 100, Enter: the amount and the header total follow.
    focusCell(1, QStringLiteral("mj"));
    EXPECT_EQ(win->dw_xm.currentColumn, QStringLiteral("mj"));
    typeKeys(QStringLiteral("2.5"));
    press(Qt::Key_Return);
    EXPECT_EQ(win->dw_xm.currentColumn, QStringLiteral("dj"));
    EXPECT_EQ(table->currentIndex(), cellIndex(1, QStringLiteral("dj")));
    typeKeys(QStringLiteral("100"));
    press(Qt::Key_Return);
    EXPECT_EQ(cell(1, QStringLiteral("je")), QStringLiteral("250.00"));
    EXPECT_EQ(items()->summaryValue()->text(), QStringLiteral("250.00"));
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("250.00"));
    EXPECT_EQ(win->dw_fp.store()->getDecimal(1, QStringLiteral("hjje")), Decimal::fromCents(25000));

    // Choosing an item name fills the catalogue price.
    focusCell(1, QStringLiteral("xmmc"));
    press(Qt::Key_F2);
    auto* box = qobject_cast<QComboBox*>(QApplication::focusWidget());
    ASSERT_NE(box, nullptr) << "no list editor in the item name";
    box->setCurrentIndex(box->findText(QStringLiteral("复印费")));
    emit box->textActivated(QStringLiteral("复印费"));
    press(Qt::Key_Return);
    EXPECT_EQ(win->dw_xm.store()->getString(1, QStringLiteral("xmmc")), QStringLiteral("复印费"));
    EXPECT_EQ(cell(1, QStringLiteral("dj")), QStringLiteral("0.10"));

    // A negative amount typed by hand is red, in the cell and in the total.
    focusCell(1, QStringLiteral("je"));
    typeKeys(QStringLiteral("-5"));
    press(Qt::Key_Tab);
    EXPECT_EQ(cellIndex(1, QStringLiteral("je")).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_EQ(items()->summaryValue()->text(), QStringLiteral("-5.00"));
    EXPECT_EQ(items()->summaryValue()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("-5.00"));
    // ... and protected against further edits, as the definition rules for negative amounts.
    EXPECT_FALSE(model->flags(cellIndex(1, QStringLiteral("je"))) & Qt::ItemIsEditable);
    EXPECT_TRUE(model->flags(cellIndex(1, QStringLiteral("mj"))) & Qt::ItemIsEditable);

    // Enter in the amount of the last line adds a line; the grid shows it and
    // moves there.
    focusCell(1, QStringLiteral("je"));
    press(Qt::Key_Enter);
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(table->currentIndex(), cellIndex(2, QStringLiteral("xmmc")));
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.log().join(u'\n').toStdString();
}

TEST_F(FormViewsTest, ASavedInvoiceTakesNoInputAndAnotherKindShowsItsOwnForms) {
    start();
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), kPayer);
    win->dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), QStringLiteral("组织机构代码"));
    win->dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("MA3C0001-2"));
    win->dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("餐饮服务"));
    win->dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("2"));
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.log().join(u'\n').toStdString();
    test::drainEvents();

    // The saved invoice stays on screen; no field or cell takes input.
    EXPECT_EQ(choice(QStringLiteral("fkfmc"))->currentText(), kPayer);
    for (const QString& c : header()->columns()) {
        QWidget* w = header()->editorFor(c);
        auto* line = qobject_cast<QLineEdit*>(w);
        auto* box = qobject_cast<ui::FieldCombo*>(w);
        EXPECT_TRUE(line ? line->isReadOnly() : box && box->isReadOnly()) << c.toStdString();
    }
    ui::GridTable* table = items()->table();
    for (const char* c : {"xmmc", "mj", "dj", "je"}) {
        EXPECT_FALSE(items()->model()->flags(cellIndex(1, QString::fromUtf8(c))) & Qt::ItemIsEditable) << c;
        focusCell(1, QString::fromUtf8(c));
        press(Qt::Key_F2);
        EXPECT_EQ(QApplication::focusWidget(), table) << c << ": an editor opened";
        typeKeys(QStringLiteral("7"));
        EXPECT_EQ(QApplication::focusWidget(), table) << c << ": an editor opened";
    }
    EXPECT_EQ(win->dw_xm.store()->getString(1, QStringLiteral("mj")), QStringLiteral("2"));
    field(QStringLiteral("bz"))->setFocus(Qt::MouseFocusReason);
    typeKeys(QStringLiteral("9"));
    EXPECT_EQ(field(QStringLiteral("bz"))->text(), QString());
    EXPECT_FALSE(win->dw_fp.hasPendingEdit());

    // A building invoice replaces both definitions; the views follow.
    start(QStringLiteral("00000001"), QString::fromUtf8(demo::kCode40));
    EXPECT_EQ(win->dw_xm.dataObject(), QStringLiteral("d_fp_xmxx_building_list"));
    EXPECT_EQ(items()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("工程项目名称"));
    EXPECT_EQ(items()->model()->rowCount(), 1);
    EXPECT_FALSE(field(QStringLiteral("kprq"))->isReadOnly());
    EXPECT_EQ(field(QStringLiteral("fpdm"))->text(), QString::fromUtf8(demo::kCode40));
}

// The window's menu keys work with the focus in a header field or a cell
// editor.
TEST_F(FormViewsTest, MenuKeysReachTheWindowFromInsideTheForms) {
    start();
    ASSERT_EQ(QApplication::focusWidget(), field(QStringLiteral("kprq")));

    press(Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(win->dw_xm.store()->rowCount(), 2);
    EXPECT_EQ(QApplication::focusWidget(), items()->table());
    EXPECT_EQ(items()->table()->currentIndex(), cellIndex(2, QStringLiteral("xmmc")));

    // Typing in a cell, then Ctrl+D: the typed value is accepted first, then
    // the line is deleted after the question.
    focusCell(1, QStringLiteral("mj"));
    typeKeys(QStringLiteral("3"));
    ASSERT_NE(QApplication::focusWidget(), items()->table()) << "no cell editor open";
    dialogs.yes();
    press(Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("确定要删除当前品目明细吗？")});
    EXPECT_EQ(win->dw_xm.store()->rowCount(), 1);
    EXPECT_EQ(items()->model()->rowCount(), 1);

    // Ctrl+O in a field with text: the start command asks before it discards.
    field(QStringLiteral("bz"))->setFocus(Qt::MouseFocusReason);
    typeKeys(QStringLiteral("abc"));
    dialogs.no();
    press(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialogs.questions().last(), QStringLiteral("当前发票未保存，确定要〖放弃〗当前发票录入吗？"));
    EXPECT_EQ(field(QStringLiteral("bz"))->text(), QStringLiteral("abc"));
    EXPECT_TRUE(win->dw_fp.visible);
}

// The whole path without a mouse: code, number, Enter; payer, document type
// and number; item, quantity and price; save from the command menu.
TEST_F(FormViewsTest, KeyboardAloneIssuesAnInvoice) {
    auto* codes = qobject_cast<QComboBox*>(view->widgetFor(QStringLiteral("ddlb_fpdm")));
    ASSERT_EQ(QApplication::focusWidget(), codes);
    const int codeIndex = codes->findText(code50(), Qt::MatchStartsWith);
    ASSERT_GE(codeIndex, 0);
    for (int i = 0; i <= codeIndex; ++i) press(Qt::Key_Down);
    ASSERT_EQ(win->ddlb_fpdm.of_getid(win->ddlb_fpdm.text()), code50());
    ASSERT_EQ(win->focusedName(), QStringLiteral("ddlb_fphm"));
    press(Qt::Key_Down);
    ASSERT_EQ(win->ddlb_fphm.text(), QStringLiteral("00000001"));
    press(Qt::Key_Return);
    ASSERT_EQ(win->is_fphm, QStringLiteral("00000001")) << dialogs.log().join(u'\n').toStdString();
    ASSERT_EQ(QApplication::focusWidget(), field(QStringLiteral("kprq")));

    // One Tab to the payer's name; a full name and Enter take the partner, whose
    // document fields the partner list fills.
    press(Qt::Key_Tab);
    ASSERT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfmc"));
    commitText(kPayer);
    press(Qt::Key_Return);
    EXPECT_EQ(win->dw_fp.store()->getString(1, QStringLiteral("fkfmc")), kPayer);
    ASSERT_EQ(QApplication::focusWidget(), choice(QStringLiteral("fkfzjlx")));
    press(Qt::Key_Return);
    ASSERT_EQ(QApplication::focusWidget(), field(QStringLiteral("fkfzjhm")));
    EXPECT_EQ(field(QStringLiteral("fkfzjhm"))->text(), QStringLiteral("MA3C0001-2"));
    press(Qt::Key_Return);
    EXPECT_EQ(win->dw_fp.store()->getString(1, QStringLiteral("fkfzjlx")), QStringLiteral("组织机构代码"));
    EXPECT_EQ(win->dw_fp.store()->getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("MA3C0001-2"));

    // Tab on through the header: past its last field the item grid takes the focus.
    for (int i = 0; i < 30 && win->focusedName() != QLatin1String("dw_xm"); ++i) press(Qt::Key_Tab);
    ASSERT_EQ(win->focusedName(), QStringLiteral("dw_xm"));
    ASSERT_EQ(QApplication::focusWidget(), items()->table());
    ASSERT_EQ(win->dw_xm.currentColumn, QStringLiteral("xmmc"));

    // Item name by input method, then Enter from cell to cell to the quantity.
    commitText(QStringLiteral("餐饮服务"));
    press(Qt::Key_Return);
    EXPECT_EQ(win->dw_xm.store()->getString(1, QStringLiteral("xmmc")), QStringLiteral("餐饮服务"));
    for (int i = 0; i < 10 && win->dw_xm.currentColumn != QLatin1String("mj"); ++i) press(Qt::Key_Return);
    ASSERT_EQ(win->dw_xm.currentColumn, QStringLiteral("mj"));
    typeKeys(QStringLiteral("2.5"));
    press(Qt::Key_Return);
    typeKeys(QStringLiteral("100"));
    press(Qt::Key_Return);
    EXPECT_EQ(cell(1, QStringLiteral("je")), QStringLiteral("250.00"));
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("250.00"));
    shot(QStringLiteral("issuing-started.png"));

    // Save from the frame's command menu by its access keys (Alt+O, S); the
    // confirmation is answered yes.
    dialogs.yes();
    press(Qt::Key_O, Qt::AltModifier);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr) << "the command menu did not open";
    QTest::keyClick(menu, Qt::Key_S);
    test::drainEvents();
    ASSERT_EQ(dialogs.lastMessage(), QStringLiteral("数据保存成功！")) << dialogs.log().join(u'\n').toStdString();
    shot(QStringLiteral("issuing-saved.png"));

    // Stored locally, header and line, and at the tax service.
    const QString number = QStringLiteral("00000001");
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ? AND fkfmc = ?"),
                    {code50(), number, kPayer}),
              1);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = ? AND xmmc = ?"),
                    {code50(), number, QStringLiteral("餐饮服务")}),
              1);
    const auto stored = server->service().invoice(code50(), QStringLiteral("00000001"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->value(QStringLiteral("fkfmc")), kPayer);
    EXPECT_EQ(stored->value(QStringLiteral("hjje")), QStringLiteral("250.00"));
    ASSERT_EQ(stored->lines.size(), 1u);
    EXPECT_EQ(stored->lineValue(0, QStringLiteral("xmmc")), QStringLiteral("餐饮服务"));

    // The forms are read-only now.
    EXPECT_TRUE(field(QStringLiteral("fkfzjhm"))->isReadOnly());
    EXPECT_FALSE(items()->model()->flags(cellIndex(1, QStringLiteral("mj"))) & Qt::ItemIsEditable);
}

// A clerk reaches the payer from the start focus in one Tab; Shift+Tab walks
// the same path back.
TEST_F(FormViewsTest, TabReachesThePayerAtOnceAndShiftTabWalksTheSamePathBack) {
    start();
    ASSERT_EQ(QApplication::focusWidget(), field(QStringLiteral("kprq")));
    int presses = 0;
    while (presses < 3 && win->dw_fp.currentColumn != QLatin1String("fkfmc")) {
        press(Qt::Key_Tab);
        ++presses;
    }
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfmc"));
    EXPECT_LE(presses, 3);
    EXPECT_EQ(QApplication::focusWidget(), choice(QStringLiteral("fkfmc")));

    QStringList forward{QStringLiteral("fkfmc")};
    for (int i = 0; i < 20 && win->focusedName() == QLatin1String("dw_fp"); ++i) {
        press(Qt::Key_Tab);
        if (win->focusedName() == QLatin1String("dw_fp")) forward << win->dw_fp.currentColumn;
    }
    EXPECT_EQ(forward,
              (QStringList{"fkfmc", "fkfzjlx", "fkfzjhm", "skfmc", "skflxdh", "skfzjlx", "skfzjhm", "bz", "kpr"}));
    ASSERT_EQ(win->focusedName(), QStringLiteral("dw_xm"));
    // Back into the header at its last field, then backwards.
    header()->editorFor(QStringLiteral("kpr"))->setFocus(Qt::MouseFocusReason);
    test::drainEvents();
    QStringList backward{win->dw_fp.currentColumn};
    for (qsizetype i = 1; i < forward.size(); ++i) {
        press(Qt::Key_Backtab);
        backward.prepend(win->dw_fp.currentColumn);
    }
    EXPECT_EQ(backward, forward);
}

// Amounts up to 9,999,999,999.99 show in full: cell, total under the grid, header total.
TEST_F(FormViewsTest, LargeAmountsAndTheTotalAreNeverCut) {
    start();
    view->resize(1280, 640);
    // Item grid: 品目, 数量, 单价, 金额 first.
    const auto* m = items()->model();
    EXPECT_EQ((QStringList{m->columnName(0), m->columnName(1), m->columnName(2), m->columnName(3)}),
              (QStringList{"xmmc", "mj", "dj", "je"}));
    for (const char* price : {"1234567.89", "9999999999.99"}) {
        SCOPED_TRACE(price);
        win->dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("1"));
        win->dw_xm.typeInto(1, QStringLiteral("dj"), QString::fromLatin1(price));
        test::drainEvents();
        const QString shown = Decimal::parse(QString::fromLatin1(price))->format(QStringLiteral("#,###,###,##0.00"));
        EXPECT_EQ(cell(1, QStringLiteral("je")), shown);
        const QFontMetrics fm(items()->table()->font());
        EXPECT_GE(items()->table()->columnWidth(m->modelColumn(QStringLiteral("je"))), fm.horizontalAdvance(shown));
        QLabel* total = items()->summaryValue();
        EXPECT_EQ(total->text(), shown);
        EXPECT_GE(total->width(), total->fontMetrics().horizontalAdvance(shown));
        QLineEdit* hjje = field(QStringLiteral("hjje"));
        EXPECT_EQ(hjje->text(), shown);
        EXPECT_GE(hjje->width(), hjje->fontMetrics().horizontalAdvance(shown));
    }
}

// The payer list opens as a table of name, code, document type and number; a
// click on a heading sorts it.
TEST_F(FormViewsTest, ThePayerListShowsItsColumnsAndSortsByAHeading) {
    start();
    auto* box = choice(QStringLiteral("fkfmc"));
    auto* table = qobject_cast<QTableView*>(box->view());
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(box->model()->columnCount(), 4);
    QStringList headings;
    for (int c = 0; c < 4; ++c) headings << box->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headings, (QStringList{"往来单位名称", "往来单位编码", "证件类型", "证件号码"}));
    EXPECT_EQ(box->model()->index(0, 3).data().toString(), QStringLiteral("MA3C0001-2"));
    emit table->horizontalHeader()->sectionClicked(0);
    test::drainEvents();
    EXPECT_EQ(win->is_sort_corp, QStringLiteral("cname A"));
    emit table->horizontalHeader()->sectionClicked(0);
    test::drainEvents();
    EXPECT_EQ(win->is_sort_corp, QStringLiteral("cname D"));
    EXPECT_EQ(box->itemText(0), win->idwc_corp->getString(1, QStringLiteral("cname")));
    EXPECT_EQ(box->model()->index(0, 1).data().toString(), win->idwc_corp->getString(1, QStringLiteral("ccode")));
}

// The frame names the taxpayer, shows issuer, taxpayer and server date, and
// fits a 1366×768 screen; a red-letter invoice is looked at too.
TEST_F(FormViewsTest, TheFrameNamesTheTaxpayerAndARedLetterInvoiceShows) {
    EXPECT_TRUE(main->windowTitle().contains(QString::fromUtf8(demo::kTaxpayerName)));
    EXPECT_TRUE(main->taxpayerLabel()->text().contains(QString::fromUtf8(demo::kTaxpayerName)));
    EXPECT_EQ(main->dateLabel()->text(), QStringLiteral("服务器日期:2026-12-10"));
    EXPECT_LE(main->width(), 1366);
    EXPECT_LE(main->height(), 768 - 40); // room for the title bar and the panel

    start();
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), kPayer);
    for (const auto& [mj, dj] : {std::pair{"2", "120"}, std::pair{"1", "280"}, std::pair{"3", "0.10"}}) {
        const int row = win->dw_xm.store()->rowCount();
        if (!win->dw_xm.store()->getString(row, QStringLiteral("xmmc")).isEmpty()) {
            ASSERT_GT(win->raise(QStringLiteral("ue_newproj")), 0);
        }
        const int r = win->dw_xm.store()->rowCount();
        win->dw_xm.typeInto(r, QStringLiteral("xmmc"), QStringLiteral("餐饮服务"));
        win->dw_xm.typeInto(r, QStringLiteral("mj"), QString::fromLatin1(mj));
        win->dw_xm.typeInto(r, QStringLiteral("dj"), QString::fromLatin1(dj));
    }
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.log().join(u'\n').toStdString();
    test::drainEvents();

    win->cbx_ch.click();
    win->ddlb_oldfpdm.select(1);
    win->sle_ch.setText(QStringLiteral("1"));
    win->ddlb_fphm.setText(QStringLiteral("00000002"));
    dialogs.yes(); // this month's invoice
    ASSERT_EQ(win->raise(QStringLiteral("ue_start")), 1) << dialogs.log().join(u'\n').toStdString();
    test::drainEvents();
    EXPECT_EQ(cell(3, QStringLiteral("je")), QStringLiteral("-0.30"));
    EXPECT_EQ(field(QStringLiteral("hjje"))->text(), QStringLiteral("-520.30"));
    EXPECT_EQ(field(QStringLiteral("hjje"))->palette().color(QPalette::Text), QColor(255, 0, 0));
    shot(QStringLiteral("issuing-red-letter.png"));
}

TEST_F(FormViewsTest, DataSyncCommandsDownloadAndSayWhenDone) {
    std::optional<std::pair<QString, QString>> asked;
    app::addDataSyncCommands(*main, *host, [&] { return asked; });
    auto action = [&](const char* name) { return main->findChild<QAction*>(QString::fromUtf8(name)); };
    ASSERT_NE(action("sync_stock"), nullptr);
    EXPECT_EQ(action("sync_stock")->text(), QStringLiteral("下载发票领购信息"));

    action("sync_stock")->trigger();
    action("sync_codes")->trigger();
    EXPECT_EQ(dialogs.messages(),
              (QStringList{QStringLiteral("发票领购信息下载完成！"), QStringLiteral("发票种类及代码下载完成！")}));

    // Nothing left unconfirmed: the settling says so.
    ASSERT_NE(action("sync_pending"), nullptr);
    EXPECT_EQ(action("sync_pending")->text(), QStringLiteral("核对未确认发票"));
    dialogs.clear();
    action("sync_pending")->trigger();
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("没有未确认的发票，无需核对。")});
    // The menu as the clerk sees it (a screenshot when FPDESK_SHOT_DIR is set).
    if (auto* menu = qobject_cast<QMenu*>(action("sync_pending")->parent())) {
        menu->popup(main->mapToGlobal(QPoint(40, 30)));
        test::drainEvents();
        const QString dir = qEnvironmentVariable("FPDESK_SHOT_DIR");
        if (!dir.isEmpty()) menu->grab().save(dir + QStringLiteral("/data-sync-menu.png"));
        menu->hide();
    }

    // Cancelled question: nothing asked of the service.
    dialogs.clear();
    action("sync_invoice")->trigger();
    EXPECT_TRUE(dialogs.log().isEmpty());

    // An invoice the service holds and the local database has too: replaced after yes.
    start();
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), kPayer);
    win->dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), QStringLiteral("组织机构代码"));
    win->dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("MA3C0001-2"));
    win->dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("餐饮服务"));
    win->dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("1"));
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1);
    dialogs.clear();
    asked = std::make_pair(code50(), QStringLiteral("00000001"));
    dialogs.yes();
    action("sync_invoice")->trigger();
    EXPECT_EQ(dialogs.questions().size(), 1);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("发票下载完成！")) << dialogs.log().join(u'\n').toStdString();
}

} // namespace
} // namespace fp
