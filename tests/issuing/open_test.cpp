// Opening the issuing window: rights, issuer choice, code list, toolbar, resize.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

struct RightsCase {
    const char* right; // nullptr: no row in the rights table
    bool mayIssue;
};

class OpenRightsTest : public IssuingTest, public ::testing::WithParamInterface<RightsCase> {};

TEST_P(OpenRightsTest, OnlyRightsCode02MayIssue) {
    EXPECT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM b_user_right")));
    if (GetParam().right) {
        EXPECT_TRUE(
            db->tx().exec(QStringLiteral("INSERT INTO b_user_right (userid, funcid, right_code) VALUES (?, '01', ?)"),
                          {session.gs_userid, QString::fromUtf8(GetParam().right)}));
    }
    EXPECT_TRUE(db->tx().commit());
    w_fp_invoicing& w = open(1);
    EXPECT_EQ(w.ib_write, GetParam().mayIssue);
    EXPECT_EQ(w.uo_toolbar.isEnabled(w_fp_invoicing::kStart), GetParam().mayIssue);
    for (const QString& t : {w_fp_invoicing::kNewProj, w_fp_invoicing::kDelProj, w_fp_invoicing::kSave,
                             w_fp_invoicing::kCopy, w_fp_invoicing::kPaste, w_fp_invoicing::kPrint})
        EXPECT_FALSE(w.uo_toolbar.isEnabled(t)) << t.toStdString();

    // Enter in the number box starts only for a user who may issue.
    chooseCode(code50());
    w.ddlb_fphm.setText(QStringLiteral("00000001"));
    w.keyDown(keys::Enter);
    EXPECT_EQ(w.dw_fp.visible, GetParam().mayIssue);
    EXPECT_EQ(w.is_fphm.isEmpty(), !GetParam().mayIssue);
    if (!GetParam().mayIssue) {
        // Nor does Enter in the reversed number.
        w.cbx_ch.click();
        dialogs.clear();
        w.sle_ch.setText(QStringLiteral("1"));
        w.sle_ch.onKeyDown(keys::Enter);
        EXPECT_TRUE(dialogs.log().isEmpty());
        EXPECT_FALSE(w.dw_fp.visible);
        // Nor the menu item or its Ctrl+O: a disabled command cannot be chosen.
        w.cbx_ch.click();
        w.chooseMenuItem(QStringLiteral("m_acco"));
        w.chooseMenuItem(QStringLiteral("m_save"));
        EXPECT_TRUE(dialogs.log().isEmpty());
        EXPECT_FALSE(w.dw_fp.visible);
        EXPECT_TRUE(w.is_fphm.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Rights, OpenRightsTest,
                         ::testing::Values(RightsCase{"02", true}, RightsCase{"01", false}, RightsCase{"00", false},
                                           RightsCase{nullptr, false}));

TEST_F(IssuingTest, TheFunctionIdIsAskedAsTwoDigits) {
    EXPECT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM b_user_right")));
    EXPECT_TRUE(
        db->tx().exec(QStringLiteral("INSERT INTO b_user_right (userid, funcid, right_code) VALUES (?, '07', '02')"),
                      {session.gs_userid}));
    EXPECT_TRUE(db->tx().commit());
    EXPECT_TRUE(open(7).ib_write);
}

struct IssuerCase {
    const char* name;
    QString answer; // what the choice dialog returns
    bool stays;     // the window stays open
};

class IssuerChoiceTest : public IssuingTest, public ::testing::WithParamInterface<IssuerCase> {};

TEST_P(IssuerChoiceTest, AnEmptyIssuerIsAskedFor) {
    session.gs_kprmc = QStringLiteral("");
    session.st_kpr_text = QStringLiteral("before");
    dialogs.choose(GetParam().answer);
    w_fp_invoicing& w = open();
    ASSERT_EQ(dialogs.treeRequests().size(), 1u);
    const TreeSelectRequest& r = dialogs.treeRequests().front();
    EXPECT_EQ(r.kind + r.title + QLatin1Char('|') + r.prompt, QStringLiteral("2开票人员|请选择一个当前开票人员"));
    // The query lists the taxpayer's issuers with the owner bound, not pasted.
    EXPECT_FALSE(r.sql.contains(session.gs_sysuserid));
    EXPECT_TRUE(r.binds.contains(session.gs_sysuserid));
    EXPECT_EQ(w.isClosed(), !GetParam().stays);
    if (GetParam().stays) {
        EXPECT_EQ(session.gs_kprmc, GetParam().answer);
        EXPECT_EQ(session.st_kpr_text, QStringLiteral("开票员:") + GetParam().answer);
        EXPECT_GT(w.ddlb_fpdm.count(), 0);
    } else {
        EXPECT_EQ(session.gs_kprmc, QStringLiteral(""));
        EXPECT_EQ(session.st_kpr_text, QStringLiteral("before"));
        EXPECT_EQ(w.ddlb_fpdm.count(), 0); // nothing loaded after the close
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, IssuerChoiceTest,
                         ::testing::Values(IssuerCase{"chosen", QStringLiteral("李丽"), true},
                                           IssuerCase{"cancelled", QString(), false},
                                           IssuerCase{"blank", QStringLiteral("   "), false},
                                           IssuerCase{"crlf", QStringLiteral("\r\n"), false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IssuingTest, ASetOrNullIssuerIsNotAskedFor) {
    for (const QString& issuer : {QStringLiteral("张晓明"), QString()}) {
        session.gs_kprmc = issuer;
        session.st_kpr_text = QStringLiteral("unchanged");
        w_fp_invoicing& w = open();
        EXPECT_FALSE(w.isClosed());
        EXPECT_TRUE(dialogs.treeRequests().empty());
        EXPECT_EQ(session.st_kpr_text, QStringLiteral("unchanged"));
        EXPECT_EQ(session.gs_kprmc.isNull(), issuer.isNull());
    }
}

TEST_F(IssuingTest, CodeListOffersCodesWithUnreturnedStockOfKindsIssuedHere) {
    // A code of a kind issued by the tax office is never offered.
    EXPECT_TRUE(
        db->tx().exec(QStringLiteral("INSERT INTO bm_bdcja_fpdm (fpdm, fpzlbm) VALUES ('237020000101', '10')")));
    EXPECT_TRUE(db->tx().exec(
        QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz) "
                       "VALUES ('LGX', ?, ?, '10', '237020000101', '00000001', '00000010', '', '0')"),
        {session.gs_ssswjgdm, session.gs_sysuserid}));
    // Another taxpayer's stock is not offered either.
    EXPECT_TRUE(db->tx().exec(
        QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz) "
                       "VALUES ('LGY', ?, '9999999999999', '50', '237020000009', '00000001', '00000010', '', '0')"),
        {session.gs_ssswjgdm}));
    EXPECT_TRUE(db->tx().commit());
    w_fp_invoicing& w = open();
    QStringList ids, texts;
    for (const auto& i : w.ddlb_fpdm.items()) {
        ids << i.id;
        texts << i.text;
    }
    EXPECT_EQ(ids, (QStringList{QString::fromUtf8(demo::kCode50), QString::fromUtf8(demo::kCode20),
                                QString::fromUtf8(demo::kCode40)}));
    EXPECT_TRUE(texts.contains(QString::fromUtf8(demo::kCode50) + QStringLiteral("(综合统一发票)")));
}

TEST_F(IssuingTest, PartlyReturnedStockIsNoLongerOffered) {
    EXPECT_TRUE(
        db->tx().exec(QStringLiteral("INSERT INTO bdcja_sgtp (lglsh, swjgdm, sxh, fpzlbm, fpdm, tpqh, tpzh) "
                                     "VALUES (?, ?, ?, '50', ?, '00000090', '00000100')"),
                      {QString::fromUtf8(demo::kLglsh50), session.gs_ssswjgdm, session.gs_sysuserid, code50()}));
    EXPECT_TRUE(db->tx().commit());
    w_fp_invoicing& w = open();
    for (const auto& i : w.ddlb_fpdm.items()) EXPECT_NE(i.id, code50());
}

TEST_F(IssuingTest, OpensWithItsControlsAndFormsHidden) {
    w_fp_invoicing& w = open();
    EXPECT_FALSE(w.dw_fp.visible);
    EXPECT_FALSE(w.dw_xm.visible);
    EXPECT_FALSE(w.ddlb_fphm.enabled);
    EXPECT_FALSE(w.cbx_ch.enabled);
    EXPECT_EQ(w.is_keyevent_send, QStringLiteral("|ddlb_fphm|"));
    EXPECT_EQ(w.dw_fp.dataObject(), QStringLiteral("d_fp_integrated_free"));
    EXPECT_EQ(w.dw_xm.dataObject(), QStringLiteral("d_fp_xmxx_integrated_list"));
    EXPECT_EQ(w.dw_print.dataObject(), QStringLiteral("d_fp_integrated_print"));
    for (const char* n :
         {"st_oldfpdm", "ddlb_oldfpdm", "st_oldfpdm1", "sle_oldfpdm", "st_oldfphm", "sle_ch", "dw_print"})
        EXPECT_FALSE(w.control(QString::fromLatin1(n))->visible) << n;
    EXPECT_EQ(w.st_1.text(), QStringLiteral("发票代码"));
    EXPECT_EQ(w.cbx_ch.text(), QStringLiteral("发票冲红"));
    // Fourteen controls besides the toolbar.
    EXPECT_EQ(w.controls().size(), 15u);
}

TEST_F(IssuingTest, ResizeWidensBothFormsAndStretchesTheGrid) {
    w_fp_invoicing& w = open();
    w.il_baseheight = 40;
    for (int width : {3000, 3744, 5000}) {
        w.resizeTo(width, 2600);
        EXPECT_EQ(w.dw_fp.width, width - w.dw_fp.x - 8);
        EXPECT_EQ(w.dw_xm.width, width - w.dw_fp.x - 8);
        EXPECT_EQ(w.dw_xm.height, 2600 - w.dw_xm.y + 40 - 16);
        EXPECT_EQ(w.dw_fp.height, 1128);
    }
}

TEST_F(IssuingTest, ClosingDropsTheCopyBuffers) {
    w_fp_invoicing& w = open();
    w.ids_fp = makeStore(QStringLiteral("d_fp_integrated_free"), db->tx());
    EXPECT_TRUE(w.close());
    EXPECT_EQ(w.ids_fp, nullptr);
}

} // namespace
} // namespace fp::test
