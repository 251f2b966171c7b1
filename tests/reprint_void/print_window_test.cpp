// The reprint window: open, number list, view command (status request,
// synchronisation, allowed statuses, download offer) and print command.
#include "tests/reprint_void/lookup_fixture.h"
#include "tests/support/canned_transport.h"
#include "tests/support/statement_faults.h"

namespace fp::test {
namespace {

const QString kPrintItem = QStringLiteral("发票打印(&P)");
const QString kViewItem = QStringLiteral("查看发票(&K)");

class ReprintTest : public LookupTest {};

TEST_F(ReprintTest, OpensWithRightsCodeListAndHiddenReadOnlyForm) {
    auto& w = openReprint();
    EXPECT_TRUE(w.ib_write);
    EXPECT_TRUE(w.uo_toolbar.isEnabled(kViewItem));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(kPrintItem));
    EXPECT_FALSE(w.dw_fp.visible);
    EXPECT_TRUE(w.dw_fp.readOnly());
    EXPECT_EQ(w.dw_fp.dataObject(), QStringLiteral("d_fp_integrated_print"));
    QStringList ids;
    for (int i = 1; i <= w.ddlb_fpdm.count(); ++i) ids << w.ddlb_fpdm.of_getid(i);
    EXPECT_TRUE(ids.contains(code50()));
    EXPECT_TRUE(ids.contains(QString::fromUtf8(demo::kCode20)));
    EXPECT_TRUE(w.ddlb_fpdm.items()[size_t(ids.indexOf(code50()))].text.startsWith(code50() + QStringLiteral("(")));
    EXPECT_TRUE(dialogs.treeRequests().empty());
}

TEST_F(ReprintTest, WithoutTheRightCodeViewIsDisabledAndEnterLeavesPrintDisabled) {
    issued(IssuedInvoice{});
    auto& w = openReprint(9); // no right granted for function 09
    EXPECT_EQ(w.is_right, QStringLiteral("00"));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(kViewItem));
    ASSERT_TRUE(w.chooseCode(code50()));
    w.ddlb_fphm.setText(QStringLiteral("7"));
    w.keyDown(keys::Enter);
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000007"));
    EXPECT_TRUE(w.dw_fp.visible);
    EXPECT_FALSE(w.uo_toolbar.isEnabled(kPrintItem));
}

TEST_F(ReprintTest, AsksForTheIssuerWhenNoneIsSetAndClosesWhenNoneIsChosen) {
    session.gs_kprmc = QStringLiteral("");
    dialogs.choose(QStringLiteral("李丽"));
    auto& w = openReprint();
    ASSERT_TRUE(w.isOpen());
    EXPECT_EQ(session.gs_kprmc, QStringLiteral("李丽"));
    EXPECT_EQ(session.st_kpr_text, QStringLiteral("开票员:李丽"));
    ASSERT_EQ(dialogs.treeRequests().size(), 1u);
    EXPECT_TRUE(
        dialogs.treeRequests()[0].paramText().startsWith(QStringLiteral("2开票人员|请选择一个当前开票人员|select ")));
    EXPECT_EQ(dialogs.treeRequests()[0].binds.value(1).toString(), session.gs_sysuserid);

    for (const QString& answer : {QString(), QStringLiteral("  "), QStringLiteral("\r\n")}) {
        session.gs_kprmc = QStringLiteral("");
        dialogs.choose(answer);
        openReprint();
        EXPECT_TRUE(reprint->isClosed());
    }
}

TEST_F(ReprintTest, NumberListHoldsTheFifteenHighestValidNumbersOfTheIssuer) {
    for (int n = 1; n <= 18; ++n) {
        IssuedInvoice inv;
        inv.fphm = QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0'));
        inv.lines = {{QStringLiteral("餐饮服务"), QStringLiteral("1.00")}};
        if (n == 18) inv.kpr = QStringLiteral("李丽");
        if (n == 17) inv.fpzt = QStringLiteral("2");
        storeIssuedInvoice(db->tx(), session, inv);
    }
    auto& w = openReprint();
    ASSERT_TRUE(w.chooseCode(code50()));
    QStringList offered;
    for (const auto& i : w.ddlb_fphm.items()) offered << i.text;
    QStringList expected;
    for (int n = 16; n >= 2; --n) expected << QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0'));
    EXPECT_EQ(offered, expected);
    EXPECT_TRUE(w.ddlb_fphm.enabled);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
}

TEST_F(ReprintTest, ViewPadsTheNumberAsksTheServiceAndShowsTheInvoiceAsItPrints) {
    IssuedInvoice inv;
    inv.fphm = QStringLiteral("00000123");
    inv.bz = QStringLiteral("现金支付");
    issued(inv);
    auto& w = openReprint();
    ASSERT_EQ(view(w, QStringLiteral("123")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral("00000123"));
    ASSERT_EQ(host->exchanges().size(), 1u);
    EXPECT_EQ(host->exchanges()[0].request,
              QStringLiteral("proc_id:90239\r\nas_fpdm:237020000001\r\nas_fphm:00000123\r\nas_getinfo:0\r\n"));
    EXPECT_EQ(host->exchanges()[0].timeout, 200);
    EXPECT_EQ(w.is_fpdm, code50());
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000123"));
    EXPECT_EQ(w.is_fpzl, QStringLiteral("50"));
    EXPECT_EQ(w.is_fpdmr, code50());
    EXPECT_EQ(w.is_fphmr, QStringLiteral("00000123"));
    EXPECT_TRUE(w.dw_fp.visible);
    EXPECT_TRUE(w.uo_toolbar.isEnabled(kPrintItem));
    EXPECT_EQ(w.focusedName(), QStringLiteral("dw_fp"));
    // The print layout: five rows, the remark beside the items.
    DataStore& f = *w.dw_fp.store();
    ASSERT_EQ(f.rowCount(), 5);
    EXPECT_EQ(f.getString(1, QStringLiteral("bz")), QStringLiteral("现金支付"));
    EXPECT_EQ(f.getString(4, QStringLiteral("bz")), QStringLiteral("  收款方电话:"));
    EXPECT_TRUE(dialogs.messages().isEmpty());

    // A number of eight or more characters is used as typed.
    EXPECT_EQ(view(w, QStringLiteral("000001234")), 0);
    EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral("000001234"));
}

TEST_F(ReprintTest, LocalStatusFollowsTheServiceAndAVoidedInvoicePrintsWithItsStatus) {
    issued(IssuedInvoice{}, QStringLiteral("2"));
    auto& w = openReprint();
    ASSERT_EQ(view(w, QStringLiteral("00000007")), 1);
    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("2"));
    EXPECT_FALSE(db->tx().inTransaction());
    EXPECT_EQ(w.dw_fp.store()->getString(1, QStringLiteral("fpzt")), QStringLiteral("2"));

    dialogs.yes();
    dialogs.yes();
    dialogs.printCopies(1);
    EXPECT_EQ(w.raise(QStringLiteral("ue_save")), 1);
    EXPECT_EQ(
        dialogs.questions(),
        (QStringList{QStringLiteral(
                         "确定要打印：\r\n发票代码：237020000001\r\n发票号码：00000007\r\n（确定打印前请仔细核对）？"),
                     QStringLiteral("发票作废发票，确定要打印吗？")}));
    ASSERT_EQ(dialogs.previews().size(), 1u);
    EXPECT_EQ(dialogs.previews()[0].s_col_visible_dynamic, QStringLiteral("|fpzt|"));
    EXPECT_EQ(dialogs.previews()[0].dw_datawindow, w.dw_fp.store());
    EXPECT_EQ(server->service().prints().size(), 1u);
}

TEST_F(ReprintTest, StatusesThatCannotBeViewedAndUnnamedStatusesLeaveTheLocalRow) {
    issued(IssuedInvoice{});
    struct Case {
        const char* name;
        QString reply;
        QString message;
        QString localAfter; // a named status is taken over locally, an unnamed one is not
    };
    const Case cases[] = {
        {"unnamed with text", QStringLiteral("ok|@| 9 |@| 冻结 "), QStringLiteral("指定发票状态：冻结"),
         QStringLiteral("1")},
        {"unnamed without text", QStringLiteral("ok|@|9"), QStringLiteral("指定发票未知发票状态！"),
         QStringLiteral("1")},
        {"returned", QStringLiteral("ok|@|-1|@|已退库"), QStringLiteral("指定发票已退库！"), QStringLiteral("-1")},
        {"blank voided", QStringLiteral("ok|@|3|@|空白作废"), QStringLiteral("指定发票已作废（空白）！"),
         QStringLiteral("3")},
        {"unused", QStringLiteral("ok|@|0|@|未使用"), QStringLiteral("指定发票未使用！"), QStringLiteral("0")},
    };
    auto& w = openReprint();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host->setTransport(std::make_shared<CannedTransport>(c.reply));
        dialogs.clear();
        EXPECT_EQ(view(w, QStringLiteral("00000007")), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
        EXPECT_TRUE(nothingShown(w));
        EXPECT_EQ(fpzt(QStringLiteral("00000007")), c.localAfter);
    }
}

TEST_F(ReprintTest, LocalRowInStatusZeroIsNeverSynchronised) {
    IssuedInvoice inv;
    inv.fpzt = QStringLiteral("0");
    storeIssuedInvoice(db->tx(), session, inv);
    registerOnServer(server->service(), session, inv, QStringLiteral("2"));
    auto& w = openReprint();
    EXPECT_EQ(view(w, QStringLiteral("00000007")), 1);
    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("0"));
}

TEST_F(ReprintTest, FailedSynchronisationIsRolledBackAndShown) {
    issued(IssuedInvoice{}, QStringLiteral("2"));
    auto& w = openReprint();
    const QString before = dbSnapshot();
    fp::test::failNextMatching(db->tx(), QStringLiteral("UPDATE ptfp_fpk SET fpzt"),
                               QStringLiteral("database is locked"));
    EXPECT_EQ(view(w, QStringLiteral("00000007")), 0);
    EXPECT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("同步发票状态失败：\r\n本地发票状态：已开票！\r\n服务器发票状态：已作废！\r\n"
                                         "database is locked")});
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
    EXPECT_TRUE(nothingShown(w));
}

TEST_F(ReprintTest, MissingInvoiceIsDownloadedOnlyWhenTheUserAgrees) {
    IssuedInvoice inv;
    registerOnServer(server->service(), session, inv);
    auto& w = openReprint();
    dialogs.no();
    EXPECT_EQ(view(w, QStringLiteral("00000007")), 0);
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("指定发票号码在本地未找到，需要到服务器上下载吗？")});
    EXPECT_EQ(host->exchanges().size(), 1u); // the status request only
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
    EXPECT_TRUE(nothingShown(w));

    dialogs.yes();
    ASSERT_EQ(view(w, QStringLiteral("00000007")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(w.dw_fp.store()->getString(2, QStringLiteral("ptfp_fpxmmx_xmmc")), QStringLiteral("住宿费"));
    EXPECT_TRUE(host->exchanges().back().request.contains(QStringLiteral("as_getinfo:1")));
}

TEST_F(ReprintTest, RefusalsOfViewAndPrint) {
    issued(IssuedInvoice{});
    auto& w = openReprint();
    struct Case {
        const char* name;
        std::function<long()> run;
        QString message;
        QString focus;
    };
    const Case cases[] = {
        {"view without code", [&] { return w.raise(QStringLiteral("ue_start")); }, QStringLiteral("请先选择发票代码！"),
         QStringLiteral("ddlb_fpdm")},
        {"print without code", [&] { return w.raise(QStringLiteral("ue_save")); }, QStringLiteral("请先选择发票代码！"),
         QStringLiteral("ddlb_fpdm")},
        {"view without number",
         [&] {
             w.chooseCode(code50());
             w.ddlb_fphm.setText(QStringLiteral(" "));
             return w.raise(QStringLiteral("ue_start"));
         },
         QStringLiteral("请决定要打印发票的发票号码！"), QStringLiteral("ddlb_fphm")},
        {"number with a reserved text", [&] { return view(w, QStringLiteral("1,2")); },
         QStringLiteral("发票号码中不能出现系统保留字符：“,”(逗号)，请修改！"), QStringLiteral("ddlb_fphm")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.clear();
        EXPECT_EQ(c.run(), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(w.focusedName(), c.focus);
    }

    // After a view, another code forgets the invoice; print stays enabled and says so.
    ASSERT_EQ(view(w, QStringLiteral("00000007")), 1);
    ASSERT_TRUE(w.chooseCode(QString::fromUtf8(demo::kCode20)));
    EXPECT_TRUE(nothingShown(w));
    EXPECT_TRUE(w.uo_toolbar.isEnabled(kPrintItem));
    dialogs.clear();
    EXPECT_EQ(w.raise(QStringLiteral("ue_save")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("请先选择发票代码！")});
}

TEST_F(ReprintTest, PrintAfterViewCountsAndReportsAndANoStopsIt) {
    issued(IssuedInvoice{});
    auto& w = openReprint();
    ASSERT_EQ(view(w, QStringLiteral("00000007")), 1);
    const QString before = dbSnapshot();
    dialogs.no();
    EXPECT_EQ(w.raise(QStringLiteral("ue_save")), 0);
    EXPECT_TRUE(dialogs.previews().empty());
    EXPECT_EQ(dbSnapshot(), before);

    dialogs.yes();
    dialogs.printCopies(1, QStringLiteral("HP"), QStringLiteral("A4"));
    EXPECT_EQ(w.raise(QStringLiteral("ue_save")), 1);
    EXPECT_EQ(dialogs.previews()[0].s_col_visible_dynamic, QString());
    EXPECT_EQ(count(QStringLiteral("SELECT drcs FROM ptfp_fpk WHERE fphm = '00000007'")), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE czlx = '2' AND bz = '|@|HP|A4|@|'")), 1);
    // Printing does not change what is shown.
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000007"));
    EXPECT_TRUE(w.dw_fp.visible);
}

TEST_F(ReprintTest, ResizeStretchesTheForm) {
    auto& w = openReprint();
    w.il_baseheight = 100;
    w.resizeTo(3000, 2000);
    EXPECT_EQ(w.dw_fp.width, 3000 - w.dw_fp.x - 8);
    EXPECT_EQ(w.dw_fp.height, 2000 - w.dw_fp.y + 100 - 16);
}

} // namespace
} // namespace fp::test
