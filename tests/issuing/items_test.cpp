// Item lines: add, delete, the five-line limit, amount and total, catalogue price, Enter.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

Decimal dec(const char* s) { return *Decimal::parse(QString::fromLatin1(s)); }

TEST_F(IssuingTest, LinesUpToFive) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    for (int row = 2; row <= 5; ++row) EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), row);
    EXPECT_EQ(w.dw_xm.currentRow, 5);
    EXPECT_EQ(w.dw_xm.currentColumn, QStringLiteral("xmmc"));
    EXPECT_EQ(w.focusedName(), QStringLiteral("dw_xm"));
    EXPECT_EQ(xm().getString(5, QStringLiteral("fphm")), QStringLiteral("00000001"));
    EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("达到发票明细限制，不能再增加！")});
    EXPECT_EQ(xm().rowCount(), 5);
}

TEST_F(IssuingTest, LineCommandsNeedAnOpenInvoice) {
    w_fp_invoicing& w = open();
    // Nothing started.
    EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), 0);
    EXPECT_EQ(w.raise(QStringLiteral("ue_delproj")), 0);
    EXPECT_EQ(dialogs.messages(),
              (QStringList{QStringLiteral("请先选择发票代码！"), QStringLiteral("请先选择发票代码！")}));
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fpdm"));
    // Code and number set, but no form open (as after a save): the entry message.
    w.is_fpdm = code50();
    w.is_fphm = QStringLiteral("00000001");
    dialogs.clear();
    EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), 0);
    EXPECT_EQ(w.raise(QStringLiteral("ue_delproj")), 0);
    EXPECT_EQ(dialogs.messages(), (QStringList{QStringLiteral("请先进行“开始录入新票”操作！"),
                                               QStringLiteral("请先进行“开始录入新票”操作！")}));
}

TEST_F(IssuingTest, RedLetterModeAddsLinesOnlyForTheProgram) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    w.cbx_ch.setChecked(true);
    EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), 0);
    EXPECT_TRUE(dialogs.messages().isEmpty());
    w.ib_add_xm_script = true;
    EXPECT_EQ(w.raise(QStringLiteral("ue_newproj")), 2);
}

TEST_F(IssuingTest, AmountFollowsQuantityTimesPriceAndTheTotalFollowsTheLines) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    w.dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("2.5"));
    EXPECT_TRUE(xm().isNull(1, QStringLiteral("je"))); // price still empty
    w.dw_xm.typeInto(1, QStringLiteral("dj"), QStringLiteral("100"));
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("je")), dec("250.00"));
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("250.00"));

    ASSERT_EQ(w.raise(QStringLiteral("ue_newproj")), 2);
    w.dw_xm.typeInto(2, QStringLiteral("mj"), QStringLiteral("3"));
    w.dw_xm.typeInto(2, QStringLiteral("dj"), QStringLiteral("0.10"));
    EXPECT_EQ(xm().getDecimal(2, QStringLiteral("je")), dec("0.30")); // exact, not 0.30000000000000004
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("250.30"));

    // An amount typed by hand.
    w.dw_xm.typeInto(1, QStringLiteral("je"), QStringLiteral("300"));
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("300.30"));
    // A product with more places is held with two: the total agrees with the lines.
    w.dw_xm.typeInto(2, QStringLiteral("dj"), QStringLiteral("0.335"));
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("“单价”最多保留两位小数！"));
    w.dw_xm.discardEdit();
    w.dw_xm.typeInto(2, QStringLiteral("mj"), QStringLiteral("0.33"));
    w.dw_xm.typeInto(2, QStringLiteral("dj"), QStringLiteral("0.33"));
    EXPECT_EQ(xm().getDecimal(2, QStringLiteral("je")), dec("0.11"));
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("300.11"));
    // Emptying a factor empties the amount.
    w.dw_xm.typeInto(2, QStringLiteral("mj"), QString());
    EXPECT_TRUE(xm().isNull(2, QStringLiteral("je")));
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("300.00"));
}

TEST_F(IssuingTest, ChoosingACatalogueItemFillsThePriceOnly) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    w.dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("2"));
    w.dw_xm.typeInto(1, QStringLiteral("dj"), QStringLiteral("10"));
    w.dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("餐饮服务"));
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("dj")), dec("120.00"));
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("je")), dec("20.00")); // until mj or dj changes
    w.dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("不在目录中"));
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("dj")), dec("120.00"));
}

TEST_F(IssuingTest, DeletingALineAsksFirst) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    w.dw_xm.typeInto(1, QStringLiteral("je"), QStringLiteral("5"));
    ASSERT_EQ(w.raise(QStringLiteral("ue_newproj")), 2);
    w.dw_xm.typeInto(2, QStringLiteral("je"), QStringLiteral("7"));

    dialogs.no();
    EXPECT_EQ(w.raise(QStringLiteral("ue_delproj")), 0);
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("确定要删除当前品目明细吗？")});
    EXPECT_EQ(xm().rowCount(), 2);

    dialogs.yes();
    w.dw_xm.setRow(1);
    EXPECT_EQ(w.raise(QStringLiteral("ue_delproj")), 1);
    ASSERT_EQ(xm().rowCount(), 1);
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("je")), dec("7.00"));
    // The header total keeps its value until the invoice is saved.
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("12.00"));

    w.dw_xm.setRow(0);
    EXPECT_EQ(w.raise(QStringLiteral("ue_delproj")), 0);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("请选择一个需要删除的品目明细！"));
}

TEST_F(IssuingTest, EnterMovesOnAndAddsALineAtTheLastAmount) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    w.dw_xm.setRow(1);
    w.dw_xm.setColumn(QStringLiteral("mj"));
    w.dw_xm.editText(QStringLiteral("2"));
    w.dw_xm.keyDown(keys::Enter);
    EXPECT_EQ(xm().getDecimal(1, QStringLiteral("mj")), dec("2"));
    EXPECT_EQ(w.dw_xm.currentColumn, QStringLiteral("dj"));
    EXPECT_EQ(xm().rowCount(), 1);

    w.dw_xm.setColumn(QStringLiteral("je"));
    w.dw_xm.editText(QStringLiteral("8"));
    w.dw_xm.keyDown(keys::Enter);
    EXPECT_EQ(xm().rowCount(), 2);
    EXPECT_EQ(w.dw_xm.currentRow, 2);
    EXPECT_EQ(w.dw_xm.currentColumn, QStringLiteral("xmmc"));

    // A value the column does not take keeps the cursor where it is.
    w.dw_xm.setColumn(QStringLiteral("mj"));
    w.dw_xm.editText(QStringLiteral("abc"));
    w.dw_xm.keyDown(keys::Enter);
    EXPECT_EQ(w.dw_xm.currentColumn, QStringLiteral("mj"));
    EXPECT_TRUE(w.dw_xm.hasPendingEdit());
}

} // namespace
} // namespace fp::test
