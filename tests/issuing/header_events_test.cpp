// The header form's handlers: partner lookup by name, prefix, part and code,
// Enter moving on, and sorting the open payer list by a heading.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

class PayerTest : public IssuingTest {
protected:
    void SetUp() override {
        IssuingTest::SetUp();
        // Two more partners whose names begin like the demo ones.
        const QString sxh = session.gs_sysuserid;
        for (const auto& [code, name] : {std::pair{"004", "示范餐饮有限公司"}, std::pair{"005", "东方示范学校"}})
            ASSERT_TRUE(db->tx().exec(
                QStringLiteral("INSERT INTO b_corp (code, cname, type, lc_no, sxh) VALUES (?, ?, ?, ?, ?)"),
                QVariantList{QString(sxh + QLatin1String(code)), QString::fromUtf8(name),
                             QStringLiteral("纳税人识别号"), QString(QStringLiteral("NO") + QLatin1String(code)),
                             sxh}));
        ASSERT_TRUE(db->tx().commit());
        open();
        ASSERT_TRUE(start());
    }
    // The clerk types into the payer name and presses Enter.
    void enterPayer(const QString& text) {
        win->dw_fp.setColumn(QStringLiteral("fkfmc"));
        win->dw_fp.editText(text);
        win->dw_fp.keyDown(keys::Enter);
    }
    QString highlighted() {
        const int r = win->idwc_corp->getSelectedRow(0);
        return r > 0 ? win->idwc_corp->getString(r, QStringLiteral("cname")) : QString();
    }
};

TEST_F(PayerTest, FullNameFillsTheDocumentFieldsAndMovesOn) {
    enterPayer(QStringLiteral("  示范物业管理有限公司 "));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("示范物业管理有限公司"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjlx")), QStringLiteral("纳税人识别号"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("91370200MA3C00002Y"));
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfzjlx"));
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(PayerTest, APrefixStepsThroughTheMatchesAndWraps) {
    // Names beginning with 示范 in list order, then round to the first.
    const QStringList expected = {QStringLiteral("示范建筑工程有限公司"), QStringLiteral("示范物业管理有限公司"),
                                  QStringLiteral("示范餐饮有限公司"), QStringLiteral("示范建筑工程有限公司")};
    for (const QString& name : expected) {
        enterPayer(QStringLiteral("示范"));
        EXPECT_EQ(highlighted(), name);
        // Highlighted, not taken: the cursor stays, the document fields stay empty.
        EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfmc"));
        EXPECT_TRUE(fp().getString(1, QStringLiteral("fkfzjhm")).isEmpty());
    }
    // A part of a name when no name begins with it.
    enterPayer(QStringLiteral("学校"));
    EXPECT_EQ(highlighted(), QStringLiteral("东方示范学校"));
}

TEST_F(PayerTest, ACodeWithoutTheOwnerPrefixTakesThePartner) {
    enterPayer(QStringLiteral("003"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("刘芳"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjlx")), QStringLiteral("身份证件号码"));
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfzjlx"));
    // With the prefix typed it is found the same, above the highlighted partner too.
    enterPayer(session.gs_sysuserid + QStringLiteral("002"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("示范物业管理有限公司"));
}

TEST_F(PayerTest, BlankOrUnknownTextStaysAndEnterElsewhereMovesOn) {
    enterPayer(QStringLiteral("   "));
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfmc"));
    enterPayer(QStringLiteral("不存在的单位"));
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfmc"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("不存在的单位"));
    EXPECT_TRUE(dialogs.messages().isEmpty());
    // Enter in the remarks jumps to the item name; elsewhere it moves on.
    win->dw_fp.setColumn(QStringLiteral("fkfzjhm"));
    win->dw_fp.keyDown(keys::Enter);
    EXPECT_NE(win->dw_fp.currentColumn, QStringLiteral("fkfzjhm"));
    win->dw_fp.setColumn(QStringLiteral("bz"));
    win->dw_fp.editText(QStringLiteral("月结"));
    win->dw_fp.keyDown(keys::Enter);
    EXPECT_EQ(fp().getString(1, QStringLiteral("bz")), QStringLiteral("月结"));
    EXPECT_EQ(win->focusedName(), QStringLiteral("dw_xm"));
    EXPECT_EQ(win->dw_xm.currentColumn, QStringLiteral("xmmc"));
}

TEST_F(PayerTest, AHeadingClickSortsTheOpenPayerListAscendingThenDescending) {
    DataStore& list = *win->idwc_corp;
    auto first = [&] { return list.getString(1, QStringLiteral("cname")); };
    auto click = [&](const QString& object, const QString& band = QStringLiteral("header")) {
        win->dw_fp_ue_dddw(win->il_hdl_corp, 1281, band, object + QStringLiteral("\t1"));
    };
    click(QStringLiteral("cname_t"));
    EXPECT_EQ(win->is_sort_corp, QStringLiteral("cname A"));
    const QString ascending = first();
    click(QStringLiteral("cname_t"));
    EXPECT_EQ(win->is_sort_corp, QStringLiteral("cname D"));
    EXPECT_NE(first(), ascending);
    click(QStringLiteral("lc_no_t"));
    EXPECT_EQ(win->is_sort_corp, QStringLiteral("lc_no A"));
    // A click on a row, another list or another notification sorts nothing.
    click(QStringLiteral("cname_t"), QStringLiteral("detail\t2"));
    win->dw_fp_ue_dddw(win->idwc_pm, 1281, QStringLiteral("header"), QStringLiteral("cname_t"));
    win->dw_fp_ue_dddw(win->il_hdl_corp, 1, QStringLiteral("header"), QStringLiteral("cname_t"));
    EXPECT_EQ(win->is_sort_corp, QStringLiteral("lc_no A"));
}

TEST_F(PayerTest, ChoosingAPartnerFromTheListFillsTheDocumentFields) {
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("刘芳"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("370203199001010044"));
    // An unknown name leaves them as they are.
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("散客"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("370203199001010044"));
}

} // namespace
} // namespace fp::test
