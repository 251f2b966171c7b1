// What the issuing window refuses at the trust boundary: numbers that are not
// eight digits, amounts beyond the range, values that would merge with a
// separator of the upload. Each refusal leaves the database and the service as
// they were.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

const QString kConfirm =
    QStringLiteral("发票代码：237020000001\r\n发票号码：00000001\r\n\r\n一旦保存即不可修改，确定要保存吗？");

class TrustBoundaryTest : public IssuingTest {
protected:
    void SetUp() override {
        IssuingTest::SetUp();
        // A range whose text comparison admits letters: "0000001x" lies between
        // 00000001 and 99999999 as text.
        EXPECT_TRUE(
            db->tx().exec(QStringLiteral("UPDATE bdcja_fplg SET fpzh = '99999999' WHERE fpdm = ?"), {code50()}));
        EXPECT_TRUE(db->tx().commit());
    }
    bool save() { return win->raise(QStringLiteral("ue_save")) == 1; }
};

TEST_F(TrustBoundaryTest, StartRefusesNumbersThatAreNotEightDigits) {
    w_fp_invoicing& w = open();
    for (const char* number : {"0000001x", "0000001 ", "123456789", "１２３", "-1", "0x1f"}) {
        SCOPED_TRACE(number);
        dialogs.clear();
        chooseCode(code50());
        typeNumber(QString::fromUtf8(number));
        EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票号码必须是8位数字！")});
        EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
        EXPECT_FALSE(w.dw_fp.visible);
        EXPECT_TRUE(host->exchanges().empty());
    }
    // The number of a reversed invoice likewise.
    chooseCode(code50());
    typeNumber(QStringLiteral("2"));
    w.cbx_ch.click();
    w.ddlb_oldfpdm.select(w.ddlb_oldfpdm.count());
    w.sle_oldfpdm.setText(code50());
    w.sle_ch.setText(QStringLiteral("1234567x"));
    dialogs.clear();
    EXPECT_EQ(w.raise(QStringLiteral("ue_start")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("冲红号码必须是8位数字！")});
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_ch"));
    EXPECT_TRUE(host->exchanges().empty());

    // Short numbers are still padded and started.
    w.cbx_ch.click();
    dialogs.clear();
    ASSERT_TRUE(start(QStringLiteral("1")));
    EXPECT_EQ(w.is_fphm, QStringLiteral("00000001"));
}

TEST_F(TrustBoundaryTest, AnAmountBeyondTheRangeIsRefusedNotWrapped) {
    open();
    ASSERT_TRUE(start());
    const QString before = dbSnapshot();
    // 2^32 x 2^32 = 2^64: in cents this wrapped to 0.00 before.
    fillInvoice({{QStringLiteral("4294967296"), QStringLiteral("4294967296")}});
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("“金额”数值超出范围！")});
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("je"))->toString(), QStringLiteral("18446744073709551616.00"));

    dialogs.clear();
    dialogs.yes();
    EXPECT_FALSE(save());
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages().front().endsWith(QStringLiteral("“合计金额”数值超出范围！")))
        << dialogs.messages().front().toStdString();
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_FALSE(server->service().invoice(code50(), QStringLiteral("00000001")).has_value());

    // Typed amounts: the one reader, the same message for 1.005 and 1.00001.
    for (const char* price : {"1.005", "1.00001"}) {
        dialogs.clear();
        EXPECT_EQ(win->dw_xm.typeInto(1, QStringLiteral("dj"), QString::fromLatin1(price)), -1);
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("“单价”最多保留两位小数！")});
        win->dw_xm.discardEdit();
    }
    dialogs.clear();
    EXPECT_EQ(win->dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("1,000")), -1);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("“数量”必须是数字！")});
}

TEST_F(TrustBoundaryTest, AValueEndingInAPieceOfASeparatorIsNotUploaded) {
    open();
    ASSERT_TRUE(start());
    fillInvoice({{QStringLiteral("1"), QStringLiteral("10")}});
    const QString before = dbSnapshot();
    struct Case {
        const char* payer;
        const char* fragment;
    };
    for (const Case& c : {Case{"某公司|#", "|#"}, Case{"#|某公司", "#|"}, Case{"某公司|&", "|&"}}) {
        SCOPED_TRACE(c.payer);
        ASSERT_EQ(win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QString::fromUtf8(c.payer)), 1);
        dialogs.clear();
        EXPECT_FALSE(save());
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("付款方名称不能以系统保留字符的一部分开头或结尾：“") +
                                                  QString::fromUtf8(c.fragment) + QStringLiteral("”，请修改！")});
        EXPECT_TRUE(dialogs.questions().isEmpty()) << "refused before the confirmation";
        EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("fkfmc"));
        EXPECT_EQ(dbSnapshot(), before);
        EXPECT_FALSE(server->service().invoice(code50(), QStringLiteral("00000001")).has_value());
    }
    // A line's value too: the lines are checked inside the transaction, which is rolled back.
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("某公司"));
    win->dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("@|咨询"));
    dialogs.clear();
    dialogs.yes();
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(), QStringList{xm().describe(QStringLiteral("xmmc_t.text")) +
                                              QStringLiteral("不能以系统保留字符的一部分开头或结尾：“@|”，请修改！")});
    EXPECT_EQ(dbSnapshot(), before);
    EXPECT_FALSE(server->service().invoice(code50(), QStringLiteral("00000001")).has_value());
}

} // namespace
} // namespace fp::test
