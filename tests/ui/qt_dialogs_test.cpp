// The Qt dialogs behind the dialogs port and the busy indicator of exchanges.
#include "data_model/demo_constants.h"
#include "host/host_services.h"
#include "tests/support/temp_db.h"
#include "tests/ui/qt_app.h"
#include "ui/busy_runner.h"
#include "ui/key_map.h"
#include "ui/qt_dialogs.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSemaphore>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace fp {
namespace {

// Runs `act` on the modal dialog once it is up (inside its own event loop).
void whenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr) << "no modal dialog";
        act(w);
    });
}

void key(QWidget* w, int k) {
    QKeyEvent down(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, k, Qt::NoModifier);
    QApplication::sendEvent(w, &up);
}

class QtDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApp();
        db_ = std::make_unique<test::TempDb>(test::TempDb::Content::DemoData);
        sqlca_ = &db_->tx();
        session_.sqlca = sqlca_;
    }

    TreeSelectRequest issuers() const {
        TreeSelectRequest r;
        r.title = QStringLiteral("开票人员");
        r.prompt = QStringLiteral("请选择一个当前开票人员");
        r.sql = QStringLiteral("select ccode code, cname name, ? pcode from b_emp where department = 'KPRY' "
                               "and sxh = ? order by ccode");
        r.binds = {QStringLiteral("\r"), QString::fromUtf8(demo::kSxh)};
        return r;
    }

    std::unique_ptr<test::TempDb> db_;
    Transaction* sqlca_ = nullptr;
    Session session_;
};

TEST_F(QtDialogsTest, TreeSelectListsTheQueryAndReturnsTheChosenName) {
    const auto expected = sqlca_->selectAll(
        QStringLiteral("select ccode, cname from b_emp where department = 'KPRY' and sxh = ? order by ccode"),
        {QString::fromUtf8(demo::kSxh)});
    ASSERT_GE(expected.size(), 2);

    ui::QtDialogs dialogs(session_);
    QStringList shown;
    QString title, prompt;
    whenModal([&](QWidget* w) {
        auto* dlg = qobject_cast<ui::TreeSelectDialog*>(w);
        ASSERT_NE(dlg, nullptr);
        title = dlg->windowTitle();
        prompt = dlg->findChild<QLabel*>()->text();
        for (int i = 0; i < dlg->list()->topLevelItemCount(); ++i)
            shown << dlg->list()->topLevelItem(i)->text(0) + u'=' + dlg->list()->topLevelItem(i)->text(1);
        // Keyboard: the first row is current; Down, then Enter takes the second.
        key(dlg->list(), Qt::Key_Down);
        key(dlg->list(), Qt::Key_Return);
    });
    const QString chosen = dialogs.treeSelect(issuers());

    QStringList rows;
    for (const auto& r : expected) rows << r[0].toString() + u'=' + r[1].toString();
    EXPECT_EQ(shown, rows);
    EXPECT_EQ(title, QStringLiteral("开票人员"));
    EXPECT_EQ(prompt, QStringLiteral("请选择一个当前开票人员"));
    EXPECT_EQ(chosen, expected[1][1].toString());
}

TEST_F(QtDialogsTest, TreeSelectCancelledIsNull) {
    ui::QtDialogs dialogs(session_);
    whenModal([](QWidget* w) { key(w, Qt::Key_Escape); });
    EXPECT_TRUE(dialogs.treeSelect(issuers()).isNull());
}

TEST_F(QtDialogsTest, QuestionAnswersOneForYesAndTwoForNo) {
    ui::QtDialogs dialogs(session_);
    struct Case {
        QMessageBox::StandardButton button;
        int result;
    };
    for (const Case c : {Case{QMessageBox::Yes, 1}, Case{QMessageBox::No, 2}}) {
        QString title;
        whenModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            box->button(c.button)->click();
        });
        EXPECT_EQ(dialogs.question(QStringLiteral("确定吗？")), c.result);
        EXPECT_EQ(title, QStringLiteral("提示"));
    }
    whenModal([](QWidget* w) { key(w, Qt::Key_Escape); });
    EXPECT_EQ(dialogs.question(QStringLiteral("确定吗？")), 2);
}

TEST_F(QtDialogsTest, BusyRunnerRunsTheWorkElsewhereBehindAModalIndicator) {
    QSemaphore indicatorSeen;
    QString label;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        QWidget* w = QApplication::activeModalWidget();
        auto* p = qobject_cast<QProgressDialog*>(w);
        if (p) label = p->labelText();
        modal = p && p->isModal();
        // A click outside the indicator cannot reach anything: the indicator is
        // application modal, and Escape does not close it.
        if (w) key(w, Qt::Key_Escape);
        indicatorSeen.release();
    });
    QThread* workThread = nullptr;
    bool done = false;
    const auto runner = ui::makeBusyRunner([] { return nullptr; });
    runner([&] {
        indicatorSeen.acquire(); // the work ends only after the indicator was up
        workThread = QThread::currentThread();
        done = true;
    });
    EXPECT_TRUE(done);
    EXPECT_NE(workThread, QThread::currentThread());
    EXPECT_TRUE(modal);
    EXPECT_EQ(label, QStringLiteral("正在与税务服务器通讯，请稍候……"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A wait for another issuer's save: the same modal indicator with its own text,
// one for the whole wait however often it is told, gone when the wait is over.
TEST_F(QtDialogsTest, LockWaitIndicatorShowsOneModalIndicatorForTheWholeWait) {
    using LockWait = Transaction::LockWait;
    const auto indicator = ui::makeLockWaitIndicator([] { return nullptr; });
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    indicator(LockWait::Waiting);
    auto* shown = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(shown->labelText(), QStringLiteral("其他开票员正在保存同一批次的发票，请稍候……"));
    EXPECT_EQ(shown->labelText(), HostServices::lockWaitText());
    key(shown, Qt::Key_Escape); // the clerk cannot close it
    indicator(LockWait::Waiting);
    EXPECT_EQ(QApplication::activeModalWidget(), shown);
    EXPECT_TRUE(shown->isVisible());
    indicator(LockWait::Over);
    test::drainEvents();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QProgressDialog*>(w) && w->isVisible());
}

TEST(KeyMapTest, ShortcutCodesBecomeKeySequences) {
    struct Case {
        int code;
        const char* keys;
    };
    const Case cases[] = {
        {335, "Ctrl+O"}, {334, "Ctrl+N"}, {324, "Ctrl+D"}, {336, "Ctrl+P"}, {326, "Ctrl+F"}, {331, "Ctrl+K"},
        {333, "Ctrl+M"}, {325, "Ctrl+E"}, {339, "Ctrl+S"}, {116, "F5"},     {0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::keySequenceForShortcut(c.code), QKeySequence(QString::fromLatin1(c.keys))) << c.code;
    EXPECT_EQ(ui::hostKeyCode(Qt::Key_Return), 13);
    EXPECT_EQ(ui::hostKeyCode(Qt::Key_Enter), 13);
    EXPECT_EQ(ui::hostKeyCode(Qt::Key_Tab), 9);
    EXPECT_EQ(ui::hostKeyCode(Qt::Key_F5), 116);
}

} // namespace
} // namespace fp
