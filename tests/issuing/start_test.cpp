// ue_start: the checks in their order, the forms by kind and the header pre-fill.
#include "tests/issuing/issuing_fixture.h"
#include "tests/support/canned_transport.h"

namespace fp::test {
namespace {

TEST_F(IssuingTest, StartOpensAnIntegratedInvoiceWithItsHeaderPrefilled) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start(QStringLiteral("1")));
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(u'\n').toStdString();
    // The typed number is padded before any check and shown padded.
    EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral("00000001"));
    EXPECT_EQ(w.sle_ch.text(), QStringLiteral("00000000"));
    EXPECT_EQ(w.is_fpdm, code50());
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000001"));
    EXPECT_EQ(w.is_fpzl, QStringLiteral("50"));
    EXPECT_EQ(w.dw_fp.dataObject(), QStringLiteral("d_fp_integrated_free"));
    EXPECT_EQ(w.dw_xm.dataObject(), QStringLiteral("d_fp_xmxx_integrated_list"));
    EXPECT_TRUE(w.dw_fp.visible);
    EXPECT_TRUE(w.dw_xm.visible);
    EXPECT_FALSE(w.dw_fp.readOnly());

    ASSERT_EQ(fp().rowCount(), 1);
    const QDateTime srv(QDate(2026, 12, 10), QTime(9, 30, 15));
    const QList<QPair<QString, QVariant>> expected = {
        {"fpdm", code50()},
        {"fphm", QStringLiteral("00000001")},
        {"fpzlbm", QStringLiteral("50")},
        {"swjgdm", session.gs_ssswjgdm},
        {"sxh", session.gs_sysuserid},
        {"fpzt", QStringLiteral("1")},
        {"kpr", QStringLiteral("张晓明")},
        {"bcrq", srv},
        {"kprq", srv},
        {"drcs", qlonglong(0)},
        {"skfmc", session.gs_sysusername},
        {"skfzjlx", QStringLiteral("纳税人识别号")},
        {"skfzjhm", session.gs_nsrsbh},
        {"skflxdh", session.gs_nsrlxdh},
    };
    for (const auto& [col, value] : expected) EXPECT_EQ(fp().getVariant(1, col), value) << col.toStdString();
    EXPECT_EQ(fp().objectText(QStringLiteral("sgfpch_t")), QStringLiteral("0"));

    // One empty item line for the invoice.
    ASSERT_EQ(xm().rowCount(), 1);
    EXPECT_EQ(xm().getString(1, QStringLiteral("fpdm")), code50());
    EXPECT_EQ(xm().getString(1, QStringLiteral("fphm")), QStringLiteral("00000001"));
    // The payer and item-name lists of the taxpayer are there.
    ASSERT_NE(w.idwc_corp, nullptr);
    EXPECT_GT(w.idwc_corp->rowCount(), 0);
    ASSERT_NE(w.idwc_pm, nullptr);
    EXPECT_GT(w.idwc_pm->rowCount(), 0);

    // Toolbar and focus.
    EXPECT_TRUE(w.uo_toolbar.isEnabled(w_fp_invoicing::kNewProj));
    EXPECT_TRUE(w.uo_toolbar.isEnabled(w_fp_invoicing::kDelProj));
    EXPECT_TRUE(w.uo_toolbar.isEnabled(w_fp_invoicing::kSave));
    EXPECT_FALSE(w.uo_toolbar.isEnabled(w_fp_invoicing::kPrint));
    EXPECT_EQ(w.focusedName(), QStringLiteral("dw_fp"));
    EXPECT_EQ(w.dw_fp.currentColumn, QStringLiteral("kprq"));

    // The status request: no final line break, time-out 200.
    ASSERT_EQ(host->exchanges().size(), 1u);
    EXPECT_EQ(host->exchanges()[0].url, QStringLiteral("NormalServlet"));
    EXPECT_EQ(host->exchanges()[0].request, QStringLiteral("proc_id:90239\r\nas_fpdm:") + code50() +
                                                QStringLiteral("\r\nas_fphm:00000001\r\nas_getinfo:0"));
    EXPECT_EQ(host->exchanges()[0].timeout, 200);
    // The invoice's identity and the system's values cannot be typed over.
    for (const char* col : {"fpdm", "fphm", "sxh", "fpzt", "bcrq", "hjje"}) {
        const QVariant before = fp().getVariant(1, QString::fromLatin1(col));
        w.dw_fp.typeInto(1, QString::fromLatin1(col), QStringLiteral("12"));
        EXPECT_EQ(fp().getVariant(1, QString::fromLatin1(col)), before) << col;
        EXPECT_FALSE(w.dw_fp.tabColumns().contains(QString::fromLatin1(col))) << col;
    }
    EXPECT_EQ(w.dw_fp.tabColumns().mid(0, 2), (QStringList{"kprq", "fkfmc"}));
    // Starting writes nothing.
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk")), 0);
}

TEST_F(IssuingTest, StartRefusals) {
    // Stock the server never sold, and an invoice already issued here.
    EXPECT_TRUE(db->tx().exec(
        QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz) "
                       "VALUES ('LGL', ?, ?, '50', ?, '00000500', '00000510', '', '0')"),
        {session.gs_ssswjgdm, session.gs_sysuserid, code50()}));
    EXPECT_TRUE(db->tx().exec(
        QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz) "
                       "VALUES ('LGC', ?, ?, '50', ?, '00000600', '00000610', '', '1')"),
        {session.gs_ssswjgdm, session.gs_sysuserid, code50()}));
    EXPECT_TRUE(
        db->tx().exec(QStringLiteral("INSERT INTO ptfp_fpk (fpdm, fphm, sxh, fpzt) VALUES (?, '00000003', ?, '1')"),
                      {code50(), session.gs_sysuserid}));
    EXPECT_TRUE(db->tx().commit());
    taxsim::StoredInvoice issued = taxsim::StoredInvoice::create(code50(), QStringLiteral("00000004"));
    issued.setValue(QStringLiteral("sxh"), session.gs_sysuserid);
    issued.setValue(QStringLiteral("fpzt"), QStringLiteral("1"));
    server->service().addInvoice(issued);

    struct Case {
        const char* name;
        QString number;
        QString message;
        QString focus;
        bool asksServer;
    };
    const Case cases[] = {
        {"no number", QString(), QStringLiteral("请决定要开发票的发票号码！"), QStringLiteral("ddlb_fphm"), false},
        {"outside the stock", QStringLiteral("00000101"), QStringLiteral("指定发票号码无效！"),
         QStringLiteral("ddlb_fphm"), false},
        {"closed batch", QStringLiteral("00000601"), QStringLiteral("指定发票号码无效！"), QStringLiteral("ddlb_fphm"),
         false},
        {"used here", QStringLiteral("3"), QStringLiteral("当前发票号码已使用！"), QStringLiteral("ddlb_fphm"), false},
        {"issued elsewhere", QStringLiteral("00000004"), QStringLiteral("指定发票已开票！"),
         QStringLiteral("ddlb_fphm"), true},
        {"never sold", QStringLiteral("00000505"), QStringLiteral("指定发票未领购！"), QStringLiteral("ddlb_fphm"),
         true},
    };
    w_fp_invoicing& w = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.clear();
        const size_t sent = host->exchanges().size();
        chooseCode(code50());
        typeNumber(c.number);
        EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(w.focusedName(), c.focus);
        EXPECT_EQ(host->exchanges().size() > sent, c.asksServer);
        EXPECT_FALSE(w.dw_fp.visible);
        EXPECT_EQ(w.is_fpdm, QStringLiteral(""));
    }
    // No code at all.
    dialogs.clear();
    w.ddlb_fpdm.setText(QString());
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("请先选择发票代码！")});
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fpdm"));
}

TEST_F(IssuingTest, ServerFailureOrOddStatusStopsTheStart) {
    struct Case {
        const char* name;
        QString reply;
        QString message;
    };
    const Case cases[] = {
        {"unknown status with text", QStringLiteral("ok|@|7|@|冻结"), QStringLiteral("指定发票状态：冻结")},
        {"unknown status without text", QStringLiteral("ok|@|7"), QStringLiteral("指定发票未知发票状态！")},
        {"voided", QStringLiteral("ok|@|2|@|作废"), QStringLiteral("指定发票已作废！")},
        {"refused", QStringLiteral("err|@|系统维护中"), QStringLiteral("系统维护中")},
    };
    w_fp_invoicing& w = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host->setTransport(std::make_shared<CannedTransport>(c.reply));
        dialogs.clear();
        ASSERT_FALSE(start());
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
        EXPECT_FALSE(w.dw_fp.visible);
    }
    // A dropped connection: the transport's message, nothing opened.
    host->setTransport(server->inProcessTransport());
    {
        taxsim::Fault drop;
        drop.kind = taxsim::Fault::Kind::Drop;
        server->service().injectFault(drop);
    }
    dialogs.clear();
    ASSERT_FALSE(start());
    EXPECT_EQ(dialogs.messages().size(), 1);
    EXPECT_FALSE(w.dw_fp.visible);
}

TEST_F(IssuingTest, EstateAndBuildingKindsOpenWithoutStockOrServerChecks) {
    struct Case {
        const char* code;
        const char* header;
        const char* items;
        const char* label;
    };
    const Case cases[] = {
        {demo::kCode20, "d_fp_building_free", "d_fp_xmxx_estate_list", "不动产项目明细"},
        {demo::kCode40, "d_fp_building_free", "d_fp_xmxx_building_list", "工程项目明细"},
    };
    w_fp_invoicing& w = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        if (w.dw_fp.visible) dialogs.yes(); // the previous invoice is discarded (the code handler asks)
        // A number outside any stock still opens: these kinds are not checked.
        chooseCode(QString::fromUtf8(c.code));
        typeNumber(QStringLiteral("99999999"));
        ASSERT_EQ(w.raise(QStringLiteral("ue_start")), 1);
        EXPECT_EQ(w.dw_fp.dataObject(), QString::fromUtf8(c.header));
        EXPECT_EQ(w.dw_xm.dataObject(), QString::fromUtf8(c.items));
        EXPECT_EQ(w.itemLabel(), QString::fromUtf8(c.label));
        EXPECT_TRUE(host->exchanges().empty());
        EXPECT_EQ(fp().getString(1, QStringLiteral("kpr")), QStringLiteral("张晓明"));
        EXPECT_EQ(xm().rowCount(), 1);
    }
}

TEST_F(IssuingTest, RedLetterOnEstateOrBuildingKindsIsRefused) {
    w_fp_invoicing& w = open();
    chooseCode(QString::fromUtf8(demo::kCode20));
    typeNumber(QStringLiteral("1"));
    w.cbx_ch.click();
    w.ddlb_oldfpdm.select(1);
    w.sle_ch.setText(QStringLiteral("5"));
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("不动产销售及建筑业发票不能在本系统开具冲红发票！")});
    EXPECT_FALSE(w.dw_fp.visible);
}

TEST_F(IssuingTest, RedLetterFieldChecks) {
    w_fp_invoicing& w = open();
    chooseCode(code50());
    typeNumber(QStringLiteral("1"));
    w.cbx_ch.click();
    // Nothing chosen as the reversed code.
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("冲红发票代码不能为空！"));
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_ch"));
    // An outside invoice with a short code: asked, "no" stops.
    w.ddlb_oldfpdm.select(w.ddlb_oldfpdm.count());
    w.sle_oldfpdm.setText(QStringLiteral("12345678901"));
    dialogs.no();
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.questions().last(), QStringLiteral("冲红发票代码长度不是标准的12位长度，确定要继续吗？"));
    // "yes" goes on to the number check.
    dialogs.yes();
    w.sle_ch.setText(QStringLiteral("  "));
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("冲红号码不能为空！"));
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_ch"));
}

TEST_F(IssuingTest, StartingAgainAsksAndNoKeepsEverything) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    w.dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("示范建筑工程有限公司"));
    const size_t sent = host->exchanges().size();

    dialogs.no();
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("当前发票未保存，确定要〖放弃〗当前发票录入吗？")});
    EXPECT_TRUE(w.dw_fp.visible);
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("示范建筑工程有限公司"));
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000001"));
    EXPECT_EQ(host->exchanges().size(), sent);

    // Yes discards it even when a later check stops the new start.
    dialogs.yes();
    typeNumber(QStringLiteral("00000101"));
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("指定发票号码无效！"));
    EXPECT_FALSE(w.dw_fp.visible);
    EXPECT_EQ(fp().rowCount(), 0);
    EXPECT_EQ(w.is_fpdm, QStringLiteral(""));
}

TEST_F(IssuingTest, ANumberThatIsNotEightDigitsIsRefusedBeforeTheServerIsAsked) {
    // A code whose number range admits a reserved text: the stock check compares texts.
    EXPECT_TRUE(db->tx().exec(QStringLiteral("UPDATE bdcja_fplg SET fpzh = '99999999' WHERE fpdm = ?"), {code50()}));
    EXPECT_TRUE(db->tx().commit());
    w_fp_invoicing& w = open();
    chooseCode(code50());
    typeNumber(QStringLiteral("1|@|")); // padded to 00001|@|, inside the range as text
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("发票号码必须是8位数字！"));
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
    EXPECT_TRUE(host->exchanges().empty());
}

} // namespace
} // namespace fp::test
