// Voids whose outcome at the service is not confirmed: the answer lost, or the
// local commit failing after the service voided. The service's void always
// gets its local twin: at once when the service can be asked, or from the
// record that reconcile settles.
#include "services/pending_uploads.h"
#include "tests/reprint_void/lookup_fixture.h"
#include "tests/support/statement_faults.h"

namespace fp::test {
namespace {

const QString kBlankNumber = QStringLiteral("00000042");

class VoidJournalTest : public LookupTest {
protected:
    // Views the invoice to void: issued 00000007, or the unused 00000042 with
    // the blank box checked.
    void viewFor(bool blank) {
        auto& w = openVoid();
        if (blank) {
            w.cbx_blank.click();
            ASSERT_EQ(view(w, kBlankNumber), 1) << dialogs.messages().join(u'|').toStdString();
        } else {
            issued(IssuedInvoice{});
            ASSERT_EQ(view(w, QStringLiteral("7")), 1) << dialogs.messages().join(u'|').toStdString();
        }
        dialogs.clear();
    }
    long voidIt() {
        dialogs.yes();
        return voidWin->raise(QStringLiteral("ue_save"));
    }
    void fault(taxsim::Fault::Kind kind, int proc) {
        taxsim::Fault f;
        f.kind = kind;
        server->service().injectFault(f, proc);
    }
    static QString number(bool blank) { return blank ? kBlankNumber : QStringLiteral("00000007"); }
    // The local side of a void is complete: the status, the one log row, and
    // for a blank void its row and the stock's last-used number; no record left.
    void expectVoidedLocally(bool blank) {
        const QString n = number(blank);
        EXPECT_EQ(fpzt(n), blank ? QStringLiteral("3") : QStringLiteral("2"));
        EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = ? AND czlx = '3' "
                                       "AND kpr = '张晓明' AND bz = '空白发票'"),
                        {code50(), n}),
                  1);
        if (blank) {
            EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ? AND kpr = ? "
                                           "AND fkfmc = ' ' AND hjje = 0"),
                            {code50(), n, session.gs_userid}),
                      1);
            EXPECT_EQ(
                count(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE fpdm = ? AND zjsyh = ?"), {code50(), n}),
                1);
        }
        EXPECT_TRUE(tableRows(db->tx(), QStringLiteral("fp_pending_upload")).isEmpty());
    }
    // The database as before but for the void's record.
    void expectOnlyTheRecordAdded(const QString& before) {
        QStringList after = dbSnapshot().split(u'\n');
        EXPECT_EQ(after.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("fp_pending_upload|")); }),
                  1);
        EXPECT_EQ(after.join(u'\n'), before);
    }
};

// The service voided but its answer was lost: the question finds the void
// there and the local side is committed as after an acceptance.
TEST_F(VoidJournalTest, AVoidWhoseAnswerIsLostIsCompletedAtOnce) {
    for (bool blank : {false, true}) {
        SCOPED_TRACE(blank ? "blank void" : "void");
        viewFor(blank);
        fault(taxsim::Fault::Kind::LostReply, 76129);
        EXPECT_EQ(voidIt(), 1) << dialogs.messages().join(u'|').toStdString();
        EXPECT_EQ(dialogs.messages(),
                  QStringList{QStringLiteral("作废应答未收到，经核对税务机关已作废该发票，数据已保存！")});
        expectVoidedLocally(blank);
        EXPECT_FALSE(voidWin->uo_toolbar.isEnabled(w_fp_invoice_void::kVoid));
    }
}

// The service voided, and then neither its answer nor the question came back,
// or the local commit failed: the record stays, the database is otherwise as
// before, and reconcile completes the void from what the service holds.
TEST_F(VoidJournalTest, AnUnconfirmedVoidIsCompletedByReconcile) {
    struct Case {
        const char* name;
        bool blank;
        bool failCommit; // else: answer and question lost
    };
    const Case cases[] = {{"void, answer lost", false, false},
                          {"blank void, answer lost", true, false},
                          {"void, commit failed", false, true},
                          {"blank void, commit failed", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        db = std::make_unique<TempDb>(TempDb::Content::DemoData);
        server = std::make_unique<TaxsimServer>(true);
        SetUp();
        viewFor(c.blank);
        const QString before = dbSnapshot();
        if (c.failCommit) {
            failCommit(db->tx(), 1); // the record's commit goes through, the void's fails
        } else {
            fault(taxsim::Fault::Kind::LostReply, 76129);
            fault(taxsim::Fault::Kind::Drop, 90239);
        }
        EXPECT_EQ(voidIt(), 0);
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_TRUE(dialogs.messages()[0].contains(
            c.failCommit ? QStringLiteral("税务机关已作废该发票，但本地数据保存失败！\r\ndisk full")
                         : QStringLiteral("无法向税务机关核对该发票是否已作废，本地数据未保存。")))
            << dialogs.messages()[0].toStdString();
        EXPECT_EQ(server->service().statusOf(code50(), number(c.blank)),
                  c.blank ? QStringLiteral("3") : QStringLiteral("2"));
        expectOnlyTheRecordAdded(before);

        dialogs.clear();
        const ReconcileResult r = gf_reconcile_pending_uploads(*host);
        EXPECT_EQ(r.completed, 1) << dialogs.messages().join(u'|').toStdString();
        EXPECT_EQ(dialogs.messages(),
                  QStringList{QStringLiteral("发票代码") + code50() + QStringLiteral("、号码") + number(c.blank) +
                              (c.blank ? QStringLiteral("：上次空白发票作废时未收到税务机关的应答，"
                                                        "经核对税务机关已作废该空白发票，已补存本地数据！")
                                       : QStringLiteral("：上次作废时未收到税务机关的应答，"
                                                        "经核对税务机关已作废该发票，已补存本地数据！"))});
        expectVoidedLocally(c.blank);
    }
}

// The report never reached the service: the record stays until reconcile
// finds nothing voided there and drops it; then the void can be made again.
TEST_F(VoidJournalTest, AVoidThatNeverArrivedIsDroppedByReconcileAndCanBeRepeated) {
    viewFor(false);
    const QString before = dbSnapshot();
    fault(taxsim::Fault::Kind::Drop, 76129);
    EXPECT_EQ(voidIt(), 0);
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages()[0].contains(QStringLiteral("经核对，税务机关目前没有作废该发票，本地数据未保存。")))
        << dialogs.messages()[0].toStdString();
    expectOnlyTheRecordAdded(before);
    // While it stays, a new void settles it first.
    dialogs.clear();
    EXPECT_EQ(voidIt(), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.messages(),
              (QStringList{QStringLiteral("发票代码") + code50() +
                               QStringLiteral("、号码00000007：上次作废未完成，税务机关没有作废该发票。"),
                           QStringLiteral("发票作废成功！")}));
    expectVoidedLocally(false);
}

// The server's date could not be read at start: the month rule does not trust
// the local clock; the date is asked for again, and without it nothing is voided.
TEST_F(VoidJournalTest, AVoidNeedsTheServersDate) {
    IssuedInvoice inv;
    inv.kprq = QDateTime(QDate(2026, 11, 30), QTime(18, 0));
    issued(inv);
    localNow = QDateTime(QDate(2026, 11, 30), QTime(20, 0)); // the local clock is still last month
    session.srvDateUnread = true;
    auto& w = openVoid();
    ASSERT_EQ(view(w, QStringLiteral("7")), 1);
    const QString before = dbSnapshot();

    fault(taxsim::Fault::Kind::Drop, 90001);
    dialogs.clear();
    EXPECT_EQ(voidWin->raise(QStringLiteral("ue_save")), 0);
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages()[0].startsWith(QStringLiteral("取税务服务器时间失败，不能进行作废操作！\r\n")))
        << dialogs.messages()[0].toStdString();
    EXPECT_TRUE(session.srvDateUnread);

    dialogs.clear();
    EXPECT_EQ(voidWin->raise(QStringLiteral("ue_save")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("只能作废本月发票！")});
    EXPECT_FALSE(session.srvDateUnread);
    EXPECT_EQ(session.gdt_srv_date(), serverNow);
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000007")), QStringLiteral("1"));
}

} // namespace
} // namespace fp::test
