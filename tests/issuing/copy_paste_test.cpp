// ue_copy and ue_paste: what is copied, what paste writes, and every refusal.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

Decimal dec(const QString& s) { return *Decimal::parse(s); }
Decimal dec(const char* s) { return dec(QString::fromLatin1(s)); }

class CopyPasteTest : public IssuingTest {
protected:
    // Issues number 1 with three lines and a remark.
    void issueThreeLines() {
        open();
        ASSERT_TRUE(start());
        fillInvoice({{QStringLiteral("2"), QStringLiteral("120")},
                     {QStringLiteral("1"), QStringLiteral("280")},
                     {QStringLiteral("3"), QStringLiteral("0.10")}});
        win->dw_fp.typeInto(1, QStringLiteral("bz"), QStringLiteral("十二月会议"));
        dialogs.yes();
        ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
        dialogs.clear();
    }
    long copy() { return win->raise(QStringLiteral("ue_copy")); }
    long paste() { return win->raise(QStringLiteral("ue_paste")); }
};

TEST_F(CopyPasteTest, AThreeLineInvoiceIsPastedIntoTheNextAndSavesUnderItsNumber) {
    issueThreeLines();
    ASSERT_EQ(copy(), 1);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票及明细信息已复制！")});
    EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kPaste));

    ASSERT_TRUE(start(QStringLiteral("2")));
    dialogs.clear();
    ASSERT_EQ(paste(), 1);
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("示范建筑工程有限公司"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjlx")), QStringLiteral("组织机构代码"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("MA3C0001-2"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("bz")), QStringLiteral("十二月会议"));
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("520.3"));
    // The new invoice keeps its own identity.
    EXPECT_EQ(fp().getString(1, QStringLiteral("fphm")), QStringLiteral("00000002"));
    EXPECT_TRUE(fp().getString(1, QStringLiteral("hjdx")).isEmpty());
    ASSERT_EQ(xm().rowCount(), 3); // two appended to the empty one
    const QList<QStringList> lines = {
        {"餐饮服务", "2", "120", "240"}, {"餐饮服务", "1", "280", "280"}, {"餐饮服务", "3", "0.1", "0.3"}};
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(xm().getString(r, QStringLiteral("xmmc")), lines[r - 1][0]) << r;
        EXPECT_EQ(xm().getDecimal(r, QStringLiteral("je")), dec(lines[r - 1][3])) << r;
        // Appended lines carry the invoice's code and number.
        EXPECT_EQ(xm().getString(r, QStringLiteral("fpdm")), code50()) << r;
        EXPECT_EQ(xm().getString(r, QStringLiteral("fphm")), QStringLiteral("00000002")) << r;
        EXPECT_TRUE(xm().isNull(r, QStringLiteral("iserial"))) << r;
    }

    // Pasting again asks, and yes writes the same values without adding lines.
    EXPECT_TRUE(xm().setItem(1, QStringLiteral("mj"), QStringLiteral("9")));
    dialogs.yes();
    ASSERT_EQ(paste(), 1);
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("粘贴操作将覆盖当前发票的相关信息，确定要继续吗？")});
    EXPECT_EQ(xm().rowCount(), 3);
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("mj")), dec("2"));
    dialogs.no();
    EXPECT_TRUE(xm().setItem(1, QStringLiteral("mj"), QStringLiteral("9")));
    EXPECT_EQ(paste(), 0);
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("mj")), dec("9"));
    EXPECT_TRUE(xm().setItem(1, QStringLiteral("mj"), QStringLiteral("2")));

    // The pasted invoice saves with its three lines under its own number.
    dialogs.clear();
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000002'"), {code50()}), 3);
}

TEST_F(CopyPasteTest, CopyRefusals) {
    open();
    EXPECT_EQ(copy(), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("没有数据可复制！"));
    ASSERT_TRUE(start());
    EXPECT_EQ(copy(), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("数据未保存，请先保存！"));
    EXPECT_FALSE(win->ids_fp);
    // A red-letter invoice on screen.
    EXPECT_TRUE(fp().setItem(1, QStringLiteral("extprop1"), QStringLiteral("00000009")));
    fp().resetUpdate();
    xm().resetUpdate();
    EXPECT_EQ(copy(), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("冲红发票不能复制！"));
}

TEST_F(CopyPasteTest, PasteRefusals) {
    issueThreeLines();
    // Onto the saved, read-only invoice; nothing copied yet.
    EXPECT_EQ(paste(), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("请先进行“开始录入新票”操作！"));
    ASSERT_TRUE(start(QStringLiteral("2")));
    EXPECT_EQ(paste(), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("没有数据可粘贴！"));
    // Into a red-letter invoice.
    win->ids_fp = makeStore(QStringLiteral("d_fp_integrated_free"), db->tx());
    EXPECT_TRUE(fp().setItem(1, QStringLiteral("extprop1"), QStringLiteral("00000001")));
    EXPECT_EQ(paste(), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("冲红发票不能粘贴！"));
}

TEST_F(CopyPasteTest, AnInvoiceOfAnotherTypeCannotBePasted) {
    open();
    // A saved estate invoice is copied...
    ASSERT_TRUE(start(QStringLiteral("1"), QString::fromUtf8(demo::kCode20)));
    EXPECT_TRUE(fp().setItem(1, QStringLiteral("fkfmc"), QStringLiteral("刘芳")));
    fp().resetUpdate();
    xm().resetUpdate();
    ASSERT_EQ(copy(), 1);
    // ... and pasted into an integrated one.
    ASSERT_TRUE(start());
    dialogs.clear();
    EXPECT_EQ(paste(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票类型不同，无法粘贴！")});
    EXPECT_TRUE(fp().getString(1, QStringLiteral("fkfmc")).isEmpty());
}

TEST_F(CopyPasteTest, WithoutTheIssuingRightPasteStaysDisabled) {
    issueThreeLines();
    win->ib_write = false;
    ASSERT_EQ(copy(), 1);
    EXPECT_FALSE(win->uo_toolbar.isEnabled(w_fp_invoicing::kPaste));
}

} // namespace
} // namespace fp::test
