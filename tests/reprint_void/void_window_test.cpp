// The void window: what differs from the reprint window in open, number list
// and view, and the void command of both kinds with its one transaction.
#include "tests/reprint_void/lookup_fixture.h"
#include "tests/support/statement_faults.h"

namespace fp::test {
namespace {

const QString kVoidItem = QStringLiteral("发票作废(&F)");
const QString kNormalQuestion =
    QStringLiteral("确定要将当前\r\n    发票代码：237020000001\r\n    发票号码：00000007\r\n作废吗？");
const QString kBlankQuestion =
    QStringLiteral("确定要将指定的空白发票\r\n    发票代码：237020000001\r\n    发票号码：00000042\r\n作废吗？");

class VoidTest : public LookupTest {
protected:
    long voidIt() { return voidWin->raise(QStringLiteral("ue_save")); }
    // Views 00000042, an unused number of the demo stock, with the blank box checked.
    void viewBlank(const QString& number = QStringLiteral("00000042")) {
        auto& w = openVoid();
        w.cbx_blank.click();
        ASSERT_EQ(view(w, number), 1) << dialogs.messages().join(u'|').toStdString();
    }
    QString zjsyh() {
        QVariantList row;
        EXPECT_NE(
            db->tx().selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ? AND fpqh <= '00000042' "
                                               "AND fpzh >= '00000042'"),
                                {code50()}, row),
            -1);
        return row.value(0).toString();
    }
};

TEST_F(VoidTest, OpensWithItsOwnIssuerDialogAndTheVoidItemDisabled) {
    session.gs_kprmc = QStringLiteral("");
    dialogs.choose(QStringLiteral("李丽"));
    auto& w = openVoid();
    ASSERT_TRUE(w.isOpen());
    EXPECT_TRUE(
        dialogs.treeRequests()[0].paramText().startsWith(QStringLiteral("2作废人员|请选择一个当前作废人员|select ")));
    EXPECT_EQ(session.st_kpr_text, QStringLiteral("开票员:李丽"));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(kVoidItem));
    EXPECT_TRUE(w.uo_toolbar.isEnabled(QStringLiteral("查看发票(&K)")));
    EXPECT_EQ(w.cbx_blank.text(), QStringLiteral("空白发票"));
    EXPECT_EQ(w.controls().back(), &w.cbx_blank);
    w.cbx_blank.click();
    EXPECT_TRUE(w.cbx_blank.checked);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
}

TEST_F(VoidTest, NumberListHoldsOnlyThisMonthsValidInvoices) {
    const std::pair<const char*, QDateTime> invoices[] = {
        {"00000001", QDateTime(QDate(2026, 11, 30), QTime(23, 59, 59))},
        {"00000002", QDateTime(QDate(2026, 12, 1), QTime(0, 0, 0))},
        {"00000003", QDateTime(QDate(2026, 12, 9), QTime(10, 0, 0))},
        {"00000004", QDateTime()},
    };
    for (const auto& [number, when] : invoices) {
        IssuedInvoice inv;
        inv.fphm = QString::fromLatin1(number);
        inv.kprq = when;
        storeIssuedInvoice(db->tx(), session, inv);
    }
    auto& w = openVoid();
    ASSERT_TRUE(w.chooseCode(code50()));
    QStringList offered;
    for (const auto& i : w.ddlb_fphm.items()) offered << i.text;
    EXPECT_EQ(offered, (QStringList{QStringLiteral("00000003"), QStringLiteral("00000002")}));
}

TEST_F(VoidTest, NormalVoidUpdatesLogsReportsCommitsAndShowsTheNewStatus) {
    issued(IssuedInvoice{});
    auto& w = openVoid();
    ASSERT_EQ(view(w, QStringLiteral("7")), 1);
    EXPECT_TRUE(w.uo_toolbar.isEnabled(kVoidItem));
    dialogs.yes();
    ASSERT_EQ(voidIt(), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.questions(), QStringList{kNormalQuestion});
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票作废成功！")});

    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("2"));
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = '00000007' AND czlx = '3' "
                             "AND kpr = '张晓明' AND bz = '空白发票' AND sxh = ?"),
              {code50(), session.gs_sysuserid}),
        1);
    EXPECT_FALSE(db->tx().inTransaction());
    const auto& last = host->exchanges().back();
    EXPECT_EQ(last.request, QStringLiteral("proc_id:76129\r\nas_fpdm:237020000001\r\nas_fphm:00000007\r\nas_fpzt:2\r\n"
                                           "as_kpr:张晓明\r\n"));
    EXPECT_EQ(last.timeout, 100);
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000007")), QStringLiteral("2"));

    EXPECT_EQ(w.dw_fp.store()->getString(1, QStringLiteral("fpzt")), QStringLiteral("2"));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(kVoidItem));
    // The same invoice again (the command reached directly): refused.
    dialogs.clear();
    EXPECT_EQ(voidIt(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票已作废！")});
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
}

TEST_F(VoidTest, MonthRuleUsesTheServerDateNotTheLocalClock) {
    struct Case {
        const char* name;
        QDateTime issuedAt; // null: never printed
        QDateTime localClock;
        bool allowed;
    };
    const Case cases[] = {
        {"last month's invoice, local clock also last month", QDateTime(QDate(2026, 11, 30), QTime(18, 0)),
         QDateTime(QDate(2026, 11, 30), QTime(20, 0)), false},
        {"this month's invoice, local clock still last month", QDateTime(QDate(2026, 12, 1), QTime(8, 0)),
         QDateTime(QDate(2026, 11, 30), QTime(20, 0)), true},
        {"same month a year ago", QDateTime(QDate(2025, 12, 9), QTime(8, 0)),
         QDateTime(QDate(2026, 12, 10), QTime(8, 0)), false},
        {"no issue date", QDateTime(), QDateTime(QDate(2027, 3, 1), QTime(8, 0)), true},
    };
    int n = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IssuedInvoice inv;
        inv.fphm = QStringLiteral("%1").arg(++n, 8, 10, QLatin1Char('0'));
        inv.kprq = c.issuedAt;
        issued(inv);
        localNow = c.localClock;
        session.setServerDate(serverNow);
        auto& w = openVoid();
        ASSERT_EQ(view(w, inv.fphm), 1);
        dialogs.clear();
        if (c.allowed) dialogs.yes();
        const QString before = dbSnapshot();
        EXPECT_EQ(voidIt(), c.allowed ? 1 : 0);
        if (!c.allowed) {
            EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("只能作废本月发票！")});
            EXPECT_EQ(dbSnapshot(), before);
        } else {
            EXPECT_EQ(fpzt(inv.fphm), QStringLiteral("2"));
        }
    }
}

TEST_F(VoidTest, BlankVoidCreatesTheRowAdvancesTheStockAndReportsStatusThree) {
    viewBlank();
    EXPECT_EQ(voidWin->dw_fp.store()->rowCount(), 0);
    EXPECT_TRUE(voidWin->dw_fp.visible);
    dialogs.yes();
    ASSERT_EQ(voidIt(), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.questions(), QStringList{kBlankQuestion});

    QVariantList row;
    EXPECT_NE(db->tx().selectInto(
                  QStringLiteral("SELECT fpzlbm, swjgdm, sxh, fpzt, kpr, bcrq, fkfmc, fkfzjhm, skfmc, skfzjhm, "
                                 "skflxdh, hjje FROM ptfp_fpk WHERE fpdm = ? AND fphm = '00000042'"),
                  {code50()}, row),
              -1);
    ASSERT_EQ(row.size(), 12);
    EXPECT_EQ(row[0].toString(), QStringLiteral("50"));
    EXPECT_EQ(row[1].toString(), session.gs_ssswjgdm);
    EXPECT_EQ(row[2].toString(), session.gs_sysuserid);
    EXPECT_EQ(row[3].toString(), QStringLiteral("3"));
    EXPECT_EQ(row[4].toString(), session.gs_userid);
    EXPECT_EQ(db->tx().dateTimeAt(row[5]), serverNow);
    EXPECT_EQ(row[6].toString(), QStringLiteral(" "));
    EXPECT_EQ(row[7].toString(), QStringLiteral(" "));
    EXPECT_EQ(row[8].toString(), session.gs_sysusername);
    EXPECT_EQ(row[9].toString(), session.gs_nsrsbh);
    EXPECT_EQ(row[10].toString(), session.gs_nsrlxdh);
    EXPECT_EQ(db->tx().decimalAt(row[11]), Decimal::fromInt(0));
    EXPECT_EQ(zjsyh(), QStringLiteral("00000042"));
    EXPECT_EQ(count(QStringLiteral(
                  "SELECT count(1) FROM bdcja_fpk_log WHERE fphm = '00000042' AND czlx = '3' AND bz = '空白发票'")),
              1);
    EXPECT_TRUE(host->exchanges().back().request.contains(QStringLiteral("\r\nas_fpzt:3\r\n")));
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000042")), QStringLiteral("3"));
    // The form shows the new blank row, laid out for paper.
    EXPECT_EQ(voidWin->dw_fp.store()->rowCount(), 5);
    EXPECT_EQ(voidWin->dw_fp.store()->getString(1, QStringLiteral("fpzt")), QStringLiteral("3"));
    EXPECT_FALSE(voidWin->uo_toolbar.isEnabled(kVoidItem));
}

TEST_F(VoidTest, BlankVoidBelowTheLastUsedNumberLeavesTheStockRecord) {
    ASSERT_TRUE(db->tx().exec(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = '00000050' WHERE fpdm = ?"), {code50()}));
    ASSERT_TRUE(db->tx().commit());
    viewBlank();
    dialogs.yes();
    ASSERT_EQ(voidIt(), 1);
    EXPECT_EQ(zjsyh(), QStringLiteral("00000050"));
    EXPECT_EQ(fpzt(QStringLiteral("00000042")), QStringLiteral("3"));
}

TEST_F(VoidTest, ViewFollowsTheBlankRules) {
    issued(IssuedInvoice{});
    issued(
        [] {
            IssuedInvoice v;
            v.fphm = QStringLiteral("00000008");
            v.fpzt = QStringLiteral("2");
            return v;
        }(),
        QStringLiteral("2"));
    auto& w = openVoid();
    struct Case {
        const char* name;
        bool blank;
        QString number;
        QString message;
    };
    const Case cases[] = {
        {"blank box, issued invoice", true, QStringLiteral("00000007"),
         QStringLiteral("当前发票已使用，不能进行空白发票作废操作！")},
        {"no blank box, unused number", false, QStringLiteral("00000042"),
         QStringLiteral("当前发票还未使用，不能进行发票作废操作！")},
        {"voided invoice", false, QStringLiteral("00000008"), QStringLiteral("指定发票已作废！")},
        {"empty number", false, QStringLiteral(""), QStringLiteral("请决定要作废发票的发票号码！")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.cbx_blank.setChecked(c.blank);
        dialogs.clear();
        EXPECT_EQ(view(w, c.number), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
        EXPECT_TRUE(nothingShown(w));
    }
    // The blank box and an unused number: an empty form, no download offered.
    w.cbx_blank.setChecked(true);
    dialogs.clear();
    EXPECT_EQ(view(w, QStringLiteral("00000042")), 1);
    EXPECT_TRUE(dialogs.questions().isEmpty());
}

TEST_F(VoidTest, RefusalsOfTheVoidCommand) {
    // A local row of an unused number (status 0) blocks a blank void.
    IssuedInvoice stale;
    stale.fphm = QStringLiteral("00000042");
    stale.fpzt = QStringLiteral("0");
    storeIssuedInvoice(db->tx(), session, stale);
    viewBlank();
    const QString before = dbSnapshot();
    dialogs.clear();
    EXPECT_EQ(voidIt(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票已使用，不能当空白发票作废！")});

    session.gs_kprmc = QStringLiteral("张:|#|");
    dialogs.clear();
    EXPECT_EQ(voidIt(), 0);
    EXPECT_EQ(dialogs.messages(), (QStringList{QStringLiteral("开票人中不能出现系统保留字符：“|#|”，请修改！"),
                                               QStringLiteral("不能进行作废操作！")}));
    EXPECT_EQ(dbSnapshot(), before);

    auto& w = openVoid();
    dialogs.clear();
    EXPECT_EQ(voidIt(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("请先选择发票代码！")});
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fpdm"));
}

TEST_F(VoidTest, ABlankNumberWhoseUseCannotBeReadIsRefusedBeforeTheQuestion) {
    viewBlank();
    const QString before = dbSnapshot();
    const size_t requestsBefore = host->exchanges().size();
    fp::test::failNextMatching(db->tx(), QStringLiteral("SELECT count ( 1 ) FROM ptfp_fpk"),
                               QStringLiteral("disk I/O error"));
    dialogs.clear();
    // No answer is queued: a question would mean the number was taken for an unused one.
    EXPECT_EQ(voidIt(), 0);
    EXPECT_TRUE(dialogs.questions().isEmpty());
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票作废操作失败！\r\ndisk I/O error")});
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_FALSE(db->tx().inTransaction());
    EXPECT_EQ(host->exchanges().size(), requestsBefore);
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000042")), QStringLiteral("0"));
    EXPECT_TRUE(voidWin->uo_toolbar.isEnabled(kVoidItem));
}

TEST_F(VoidTest, EveryFailureAfterTheQuestionLeavesNoTrace) {
    issued(IssuedInvoice{});
    struct Case {
        const char* name;
        bool blank;
        QString failing; // statement that fails; empty: the service refuses
        QString message; // empty: the host's message
    };
    const Case cases[] = {
        {"normal: status update", false, QStringLiteral("UPDATE ptfp_fpk SET fpzt"),
         QStringLiteral("发票作废操作失败！\r\nno space")},
        {"normal: log", false, QStringLiteral("INSERT INTO bdcja_fpk_log"),
         QStringLiteral("发票作废失败1！\r\nno space")},
        {"normal: service refuses", false, QString(), QString()},
        {"blank: row insert", true, QStringLiteral("INSERT INTO ptfp_fpk"),
         QStringLiteral("发票作废操作失败！\r\nno space")},
        {"blank: stock update", true, QStringLiteral("UPDATE bdcja_fplg"),
         QStringLiteral("发票库数据保存失败！\r\nno space")},
        {"blank: log", true, QStringLiteral("INSERT INTO bdcja_fpk_log"),
         QStringLiteral("发票作废失败1！\r\nno space")},
        {"blank: service refuses", true, QString(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& w = openVoid();
        w.cbx_blank.setChecked(c.blank);
        ASSERT_EQ(view(w, c.blank ? QStringLiteral("00000042") : QStringLiteral("00000007")), 1);
        const QString before = dbSnapshot();
        const size_t voidsBefore = server->service().voids().size();
        const size_t requestsBefore = host->exchanges().size();
        if (c.failing.isEmpty()) {
            taxsim::Fault f;
            f.kind = taxsim::Fault::Kind::Refuse;
            f.text = QStringLiteral("作废不予受理");
            server->service().injectFault(f, 76129);
        } else {
            fp::test::failNextMatching(db->tx(), c.failing, QStringLiteral("no space"));
        }
        dialogs.clear();
        dialogs.yes();
        EXPECT_EQ(voidIt(), 0);
        EXPECT_EQ(dbSnapshot(), before);
        EXPECT_FALSE(db->tx().inTransaction());
        EXPECT_EQ(server->service().voids().size(), voidsBefore);
        if (!c.message.isEmpty()) {
            EXPECT_EQ(dialogs.messages(), QStringList{c.message});
            EXPECT_EQ(host->exchanges().size(), requestsBefore); // never reported
        } else {
            EXPECT_EQ(dialogs.messages().size(), 1);
        }
        EXPECT_TRUE(w.uo_toolbar.isEnabled(kVoidItem));
    }
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000007")), QStringLiteral("1"));
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000042")), QStringLiteral("0"));
}

} // namespace
} // namespace fp::test
