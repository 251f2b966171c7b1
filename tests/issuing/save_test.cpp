// ue_save: checks, the one transaction, the upload and what the service stored.
#include "tests/issuing/issuing_fixture.h"

#include "taxsim/http_server.h"
#include "tests/support/statement_faults.h"

namespace fp::test {
namespace {

Decimal dec(const char* s) { return *Decimal::parse(QString::fromLatin1(s)); }

const QString kConfirm =
    QStringLiteral("发票代码：237020000001\r\n发票号码：00000001\r\n\r\n一旦保存即不可修改，确定要保存吗？");

class SaveTest : public IssuingTest {
protected:
    // Opens the window, starts number 1 and fills a two-line invoice.
    void prepare() {
        open();
        ASSERT_TRUE(start());
        fillInvoice({{QStringLiteral("2"), QStringLiteral("120")}, {QStringLiteral("1.5"), QStringLiteral("0.10")}});
        dialogs.clear();
    }
    bool save() { return win->raise(QStringLiteral("ue_save")) == 1; }
};

TEST_F(SaveTest, SavesUploadsAndCommitsOverHttp) {
    useHttp();
    prepare();
    EXPECT_TRUE(fp().setItem(1, QStringLiteral("bz"), QStringLiteral("备注:第一行\r\n第二行")));
    dialogs.yes();
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.questions(), QStringList{kConfirm});
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("数据保存成功！")});

    // Local data: header, lines, used number, log row.
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = '00000001' AND hjje = ?"),
                    {code50(), QVariant::fromValue(dec("240.15"))}),
              1);
    QVariantList row;
    EXPECT_NE(
        db->tx().selectInto(QStringLiteral("SELECT hjdx, kpr, fkfmc FROM ptfp_fpk WHERE fpdm = ?"), {code50()}, row),
        -1);
    EXPECT_EQ(row.value(0).toString(), QStringLiteral("贰佰肆拾元零壹角伍分"));
    EXPECT_EQ(row.value(1).toString(), QStringLiteral("张晓明"));
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000001'"), {code50()}), 2);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE fpdm = ? AND zjsyh = '00000001'"), {code50()}), 1);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = '00000001' AND czlx = '1' "
                             "AND kpr = ? AND sxh = ?"),
              {code50(), session.gs_username, session.gs_sysuserid}),
        1);

    // What the service stored: the upload in its grammar.
    const auto stored = server->service().invoice(code50(), QStringLiteral("00000001"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->value(QStringLiteral("hjje")), QStringLiteral("240.15"));
    EXPECT_EQ(stored->value(QStringLiteral("bz")), QStringLiteral("备注:第一行\r\n第二行"));
    ASSERT_EQ(stored->lines.size(), 2u);
    EXPECT_EQ(stored->lineValue(0, QStringLiteral("je")), QStringLiteral("240.00"));
    EXPECT_EQ(stored->lineValue(1, QStringLiteral("je")), QStringLiteral("0.15"));
    const QString raw = stored->rawUpload;
    ASSERT_TRUE(raw.startsWith(QStringLiteral("proc_id:11633\r\nas_data:"))) << raw.toStdString();
    ASSERT_TRUE(raw.endsWith(QStringLiteral("|&|\r\n")));
    const QString data = raw.mid(QStringLiteral("proc_id:11633\r\nas_data:").size()).chopped(2);
    const QStringList headerAndRest = data.split(QStringLiteral("|#|"));
    ASSERT_EQ(headerAndRest.size(), 34); // 33 fields each followed by the separator, then the lines
    EXPECT_EQ(headerAndRest[0], code50());
    EXPECT_EQ(headerAndRest[15], QStringLiteral("240.15"));                          // hjje, two decimals
    EXPECT_EQ(headerAndRest[22], QStringLiteral("20261210093015"));                  // bcrq, 14 digits
    EXPECT_EQ(headerAndRest[23], QStringLiteral("20261210093015"));                  // kprq
    EXPECT_EQ(headerAndRest[24], QStringLiteral("0.00"));                            // drcs
    EXPECT_EQ(headerAndRest[20], QStringLiteral("备注{[:]}第一行{[r]}{[n]}第二行")); // escaped in the request
    const QStringList lines = headerAndRest[33].split(QStringLiteral("|&|"));
    ASSERT_EQ(lines.size(), 3); // two lines, each followed by "|&|"
    EXPECT_TRUE(lines[2].isEmpty());
    for (int i = 0; i < 2; ++i) {
        const QStringList f = lines[i].split(QStringLiteral("|@|"));
        ASSERT_EQ(f.size(), 18) << lines[i].toStdString(); // 17 fields each followed by "|@|"
        EXPECT_TRUE(f[17].isEmpty());
        EXPECT_TRUE(f[0].endsWith(QStringLiteral(".00"))); // iserial, two decimals
        EXPECT_EQ(f[3], QStringLiteral("餐饮服务"));
    }
    EXPECT_EQ(lines[0].split(QStringLiteral("|@|"))[7], QStringLiteral("2.00"));
    EXPECT_EQ(lines[1].split(QStringLiteral("|@|"))[8], QStringLiteral("0.10"));

    // The window: read-only, toolbar, the next number offered, the invoice still shown.
    w_fp_invoicing& w = *win;
    EXPECT_TRUE(w.dw_fp.readOnly());
    EXPECT_TRUE(w.dw_xm.readOnly());
    EXPECT_TRUE(w.dw_fp.visible);
    EXPECT_EQ(fp().modifiedCount(), 0);
    EXPECT_FALSE(w.uo_toolbar.isEnabled(w_fp_invoicing::kNewProj));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(w_fp_invoicing::kDelProj));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(w_fp_invoicing::kSave));
    EXPECT_TRUE(w.uo_toolbar.isEnabled(w_fp_invoicing::kCopy));
    EXPECT_TRUE(w.uo_toolbar.isEnabled(w_fp_invoicing::kPrint));
    EXPECT_EQ(offeredNumbers(), QStringList{QStringLiteral("00000002")});
    EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral("00000002"));
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000001"));
    EXPECT_FALSE(w.ib_auto_find_fphm);
    EXPECT_EQ(w.focusedName(), QStringLiteral("dw_xm")); // not moved by the refresh
    // A saved invoice takes no more lines, and a new start does not ask.
    EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("请先进行“开始录入新票”操作！"));
    w.keyDown(keys::Enter); // the offered number starts at once
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000002"));
    EXPECT_FALSE(w.dw_fp.readOnly());
}

TEST_F(SaveTest, AnsweringNoWritesNothing) {
    prepare();
    const QString before = dbSnapshot();
    dialogs.no();
    EXPECT_FALSE(save());
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_EQ(server->service().invoiceCount(), 0);
    EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kSave));
    EXPECT_FALSE(win->dw_fp.readOnly());
}

// Every failure after the confirmation leaves the database as it was, and the
// same invoice can be saved once the cause is gone.
struct FailureCase {
    const char* name;
    std::function<void(SaveTest&)> arrange;
    QString messagePrefix;
};

class SaveFailureTest : public SaveTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SaveFailureTest, RollsBackCompletelyAndCanBeRepeated) {
    prepare();
    const QString before = dbSnapshot();
    GetParam().arrange(*this);
    dialogs.yes();
    EXPECT_FALSE(save());
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages()[0].startsWith(GetParam().messagePrefix)) << dialogs.messages()[0].toStdString();
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_FALSE(win->dw_fp.readOnly());
    EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kSave));

    // The same rows are written again by a repeated save.
    server->service().clearFaults();
    const bool lostReply = server->service().invoice(code50(), QStringLiteral("00000001")).has_value();
    dialogs.clear();
    dialogs.yes();
    if (lostReply) {
        // The service kept the invoice although the answer was lost: it refuses
        // the number now, and nothing is stored locally.
        EXPECT_FALSE(save());
        EXPECT_EQ(dbSnapshot(), before);
        return;
    }
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk")), 1);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000001'"), {code50()}), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log")), 1);
    EXPECT_EQ(server->service().invoice(code50(), QStringLiteral("00000001"))->lines.size(), 2u);
}

void failSql(SaveTest& t, const char* fragment) {
    fp::test::failNextMatching(t.db->tx(), QString::fromLatin1(fragment), QStringLiteral("disk I/O error"));
}
void fault(SaveTest& t, taxsim::Fault::Kind kind) {
    taxsim::Fault f;
    f.kind = kind;
    if (kind == taxsim::Fault::Kind::Delay) {
        f.delayMs = 10000;
        t.host->setTimeoutUnitMs(1); // the upload's 500 units: half a second
    }
    t.server->service().injectFault(f, 11633);
}

INSTANTIATE_TEST_SUITE_P(
    AfterConfirmation, SaveFailureTest,
    ::testing::Values(FailureCase{"header", [](SaveTest& t) { failSql(t, "INSERT INTO ptfp_fpk "); },
                                  QStringLiteral("发票数据保存失败！\r\ndisk I/O error")},
                      FailureCase{"lines", [](SaveTest& t) { failSql(t, "INSERT INTO ptfp_fpxmmx "); },
                                  QStringLiteral("品目明细数据保存失败！\r\ndisk I/O error")},
                      FailureCase{"stock", [](SaveTest& t) { failSql(t, "UPDATE bdcja_fplg"); },
                                  QStringLiteral("发票库数据保存失败！\r\ndisk I/O error")},
                      FailureCase{"log", [](SaveTest& t) { failSql(t, "INSERT INTO bdcja_fpk_log"); },
                                  QStringLiteral("发票库数据保存失败！\r\ndisk I/O error")},
                      // A refusal, and an answer that is no reply: the service did nothing.
                      // (Lost answers are asked after: lost_reply_test.cpp.)
                      FailureCase{"refused", [](SaveTest& t) { fault(t, taxsim::Fault::Kind::Refuse); }, QString()},
                      FailureCase{"malformed", [](SaveTest& t) { fault(t, taxsim::Fault::Kind::Malformed); },
                                  QString()}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& c : n)
            if (c == ' ') c = '_';
        return n;
    });

// Over HTTP: a refusal leaves the database as it was; an HTTP error or a
// dropped connection (nothing stored, as the service then says) rolls back
// too, keeping only the record of the unconfirmed upload.
TEST_F(SaveTest, FailuresOverHttpRollBackToo) {
    useHttp();
    prepare();
    const QString before = dbSnapshot();
    for (auto kind : {taxsim::Fault::Kind::Malformed, taxsim::Fault::Kind::HttpError, taxsim::Fault::Kind::Drop}) {
        fault(*this, kind);
        dialogs.clear();
        dialogs.yes();
        EXPECT_FALSE(save());
        EXPECT_EQ(dialogs.messages().size(), 1);
        const QStringList pending = tableRows(db->tx(), QStringLiteral("fp_pending_upload"));
        EXPECT_EQ(pending.size(), kind == taxsim::Fault::Kind::Malformed ? 0 : 1);
        if (!pending.isEmpty()) {
            ASSERT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM fp_pending_upload")));
            ASSERT_TRUE(db->tx().commit());
        }
        EXPECT_EQ(dbSnapshot(), before);
    }
}

TEST_F(SaveTest, ANumberSavedMeanwhileByAnotherIssuerIsNamedAsUsed) {
    prepare();
    auto other = db->openAnother();
    ASSERT_TRUE(other->exec(
        QStringLiteral("INSERT INTO ptfp_fpk (fpdm, fphm, sxh, fpzt, kpr) VALUES (?, '00000001', ?, '1', '李丽')"),
        {code50(), session.gs_sysuserid}));
    ASSERT_TRUE(other->commit());
    const QString before = dbSnapshot();
    dialogs.yes();
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("当前发票号码已使用！")});
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_EQ(server->service().invoiceCount(), 0);
}

// Another issuer is saving on the same batch: the save waits for it behind the
// window's indicator, and goes on once the other save is done.
TEST_F(SaveTest, ASaveWaitingForAnotherIssuersSaveAsksForTheIndicator) {
    prepare();
    auto other = db->openAnother();
    ASSERT_TRUE(other->exec(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = zjsyh WHERE fpdm = ?"), {code50()}));
    ASSERT_TRUE(db->tx().setLockWaitMs(30000));
    QList<Transaction::LockWait> told;
    ASSERT_TRUE(host->setLockWaitIndicator([&](Transaction::LockWait state) {
        told << state;
        if (told.size() == 1) {
            ASSERT_TRUE(other->rollback()); // the other save ends
        }
    }));
    dialogs.yes();
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(told, (QList<Transaction::LockWait>{Transaction::LockWait::Waiting, Transaction::LockWait::Over}));
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("数据保存成功！")});
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE fpdm = ? AND zjsyh = '00000001'"), {code50()}), 1);
}

TEST_F(SaveTest, RefusalsBeforeTheConfirmation) {
    struct Case {
        const char* name;
        std::function<void(SaveTest&)> arrange;
        QString message;
        QString focus;
    };
    const Case cases[] = {
        {"payer missing", [](SaveTest& t) { EXPECT_TRUE(t.fp().setItem(1, QStringLiteral("fkfmc"), QVariant())); },
         QStringLiteral("付款方名称不能为空！"), QStringLiteral("dw_fp")},
        {"negative quantity",
         [](SaveTest& t) { EXPECT_TRUE(t.xm().setItem(2, QStringLiteral("mj"), QStringLiteral("-1"))); },
         QStringLiteral("数量不能小于零"), QStringLiteral("dw_xm")},
        {"negative price",
         [](SaveTest& t) { EXPECT_TRUE(t.xm().setItem(1, QStringLiteral("dj"), QStringLiteral("-1"))); },
         QStringLiteral("单价不能小于零"), QStringLiteral("dw_xm")},
        {"negative amount",
         [](SaveTest& t) { EXPECT_TRUE(t.xm().setItem(2, QStringLiteral("je"), QStringLiteral("-0.01"))); },
         QStringLiteral("金额不能小于零"), QStringLiteral("dw_xm")},
        {"reserved text",
         [](SaveTest& t) { EXPECT_TRUE(t.fp().setItem(1, QStringLiteral("bz"), QStringLiteral("a,b"))); },
         QStringLiteral("备注中不能出现系统保留字符：“,”(逗号)，请修改！"), QStringLiteral("dw_fp")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        win.reset();
        db = std::make_unique<TempDb>(TempDb::Content::DemoData);
        session.sqlca = &db->tx();
        prepare();
        const QString before = dbSnapshot();
        c.arrange(*this);
        EXPECT_FALSE(save());
        EXPECT_TRUE(dialogs.questions().isEmpty());
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(win->focusedName(), c.focus);
        EXPECT_EQ(dbSnapshot(), before);
    }
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("bz"));
}

// The total is the system's to fill from the lines: an empty total sends the
// clerk to the first line without an amount, never to the protected total.
TEST_F(SaveTest, AnEmptyTotalPointsAtTheFirstLineWithoutAnAmount) {
    prepare();
    ASSERT_EQ(win->raise(QStringLiteral("ue_newproj")), 3);
    win->dw_xm.typeInto(3, QStringLiteral("xmmc"), QStringLiteral("复印费"));
    EXPECT_TRUE(xm().setItem(2, QStringLiteral("je"), QVariant()));
    EXPECT_TRUE(fp().setItem(1, QStringLiteral("hjje"), QVariant()));
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("合计金额不能为空！")});
    EXPECT_EQ(win->focusedName(), QStringLiteral("dw_xm"));
    EXPECT_EQ(win->dw_xm.currentRow, 2);
    EXPECT_EQ(win->dw_xm.currentColumn, QStringLiteral("je"));
}

TEST_F(SaveTest, SignRulesAreReversedForARedLetterInvoice) {
    prepare();
    win->cbx_ch.setChecked(true); // as a red-letter start leaves it
    EXPECT_TRUE(xm().setItem(1, QStringLiteral("dj"), QStringLiteral("100")));
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("冲红单价不能大于零"));
    EXPECT_EQ(win->dw_xm.currentRow, 1);
    EXPECT_EQ(win->dw_xm.currentColumn, QStringLiteral("dj"));
    EXPECT_TRUE(xm().setItem(1, QStringLiteral("dj"), QStringLiteral("-100")));
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("冲红金额不能大于零"));
    // A reversal with non-positive prices and amounts, and an empty quantity, passes
    // the sign rules and reaches the confirmation.
    for (int r = 1; r <= 2; ++r) {
        EXPECT_TRUE(xm().setItem(r, QStringLiteral("mj"), QVariant()));
        EXPECT_TRUE(xm().setItem(r, QStringLiteral("dj"), QStringLiteral("-100")));
        EXPECT_TRUE(xm().setItem(r, QStringLiteral("je"), QStringLiteral("-100")));
    }
    dialogs.clear();
    dialogs.no();
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.questions().size(), 1);
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(SaveTest, TheHeaderTotalFollowsTheLinesAndIsSpelledOut) {
    prepare();
    EXPECT_TRUE(fp().setItem(1, QStringLiteral("hjje"), QStringLiteral("999")));
    dialogs.yes();
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("240.15"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("hjdx")), QStringLiteral("贰佰肆拾元零壹角伍分"));
    QVariantList stored;
    ASSERT_EQ(db->tx().selectInto(QStringLiteral("SELECT hjje FROM ptfp_fpk"), {}, stored), 0);
    EXPECT_EQ(db->tx().decimalAt(stored.value(0)), dec("240.15"));
}

TEST_F(SaveTest, NothingToSaveAndNoLines) {
    prepare();
    dialogs.yes();
    ASSERT_TRUE(save());
    dialogs.clear();
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("没有数据变动，不需要保存！")});

    typeNumber(QStringLiteral("00000002"));
    ASSERT_EQ(win->raise(QStringLiteral("ue_start")), 1);
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_delproj")), 1);
    dialogs.clear();
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("品目明细必须录入！")});
    EXPECT_EQ(win->focusedName(), QStringLiteral("dw_xm"));
}

TEST_F(SaveTest, EstateInvoiceIsSavedToItsOwnTables) {
    open();
    ASSERT_TRUE(startEstateInvoice());
    dialogs.clear();
    dialogs.yes();
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk WHERE fpdm = ? AND hjje = ?"),
                    {QString::fromUtf8(demo::kCode20), QVariant::fromValue(dec("885000"))}),
              1);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fpxmmx WHERE fpdm = ?"), {QString::fromUtf8(demo::kCode20)}),
        1);
    EXPECT_TRUE(server->service().invoice(QString::fromUtf8(demo::kCode20), QStringLiteral("00000001")).has_value());
}

} // namespace
} // namespace fp::test
