// The selector row: number list, red-letter box and reversed-invoice row.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

class SelectorTest : public IssuingTest {
protected:
    void setBatches(const QList<QStringList>& batches) { // fpqh, fpzh, zjsyh, bjbz
        EXPECT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM bdcja_fplg WHERE fpdm = ?"), {code50()}));
        int n = 0;
        for (const QStringList& b : batches)
            EXPECT_TRUE(db->tx().exec(
                QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz) "
                               "VALUES (?, ?, ?, '50', ?, ?, ?, ?, ?)"),
                {QStringLiteral("LGT%1").arg(++n), session.gs_ssswjgdm, session.gs_sysuserid, code50(), b[0], b[1],
                 b[2], b[3]}));
        EXPECT_TRUE(db->tx().commit());
    }
};

TEST_F(SelectorTest, NumberListOffersTheNextNumberOfEveryOpenBatch) {
    struct Case {
        QList<QStringList> batches;
        QStringList offered;
    };
    const Case cases[] = {
        {{{"00000100", "00000150", "00000120", "0"}, {"00000151", "00000200", "", "0"}}, {"00000121", "00000151"}},
        {{{"00000001", "00000100", "00000099", "0"}}, {"00000100"}},
        {{{"00000001", "00000100", "00000100", "0"}}, {}},                                              // used up
        {{{"00000001", "00000100", "", "1"}, {"00000200", "00000300", "00000250", "0"}}, {"00000251"}}, // closed batch
        {{{"00000000", "00000010", "00000000", "0"}}, {"00000001"}},
    };
    for (const Case& c : cases) {
        setBatches(c.batches);
        open();
        chooseCode(code50());
        EXPECT_EQ(offeredNumbers(), c.offered);
    }
}

TEST_F(SelectorTest, ChoosingACodeEnablesTheNumberBoxAndFocusesIt) {
    w_fp_invoicing& w = open();
    chooseCode(code50());
    EXPECT_TRUE(w.ddlb_fphm.enabled);
    EXPECT_TRUE(w.cbx_ch.enabled);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
    EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral(""));
    EXPECT_EQ(offeredNumbers(), QStringList{QStringLiteral("00000001")});
}

TEST_F(SelectorTest, ChoosingAnotherCodeAsksBeforeDiscardingAnInvoice) {
    w_fp_invoicing& w = open();
    ASSERT_TRUE(start());
    dialogs.no();
    chooseCode(QString::fromUtf8(demo::kCode20));
    EXPECT_TRUE(w.dw_fp.visible);
    EXPECT_EQ(w.is_fpdm, code50());
    EXPECT_EQ(offeredNumbers(), QStringList{QStringLiteral("00000001")});

    dialogs.yes();
    chooseCode(QString::fromUtf8(demo::kCode20));
    EXPECT_FALSE(w.dw_fp.visible);
    EXPECT_EQ(w.is_fpdm, QStringLiteral(""));
    EXPECT_EQ(fp().rowCount(), 0);
}

TEST_F(SelectorTest, RedLetterBoxWithoutACodeIsUndone) {
    w_fp_invoicing& w = open();
    w.cbx_ch.setEnabled(true);
    w.cbx_ch.click();
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("请先选择发票代码！")});
    EXPECT_FALSE(w.cbx_ch.checked);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fpdm"));
    EXPECT_FALSE(w.sle_ch.visible);
}

TEST_F(SelectorTest, RedLetterBoxShowsItsRowAndMovesTheFormsDownAndBack) {
    w_fp_invoicing& w = open();
    chooseCode(code50());
    const int fpY = w.dw_fp.y, xmY = w.dw_xm.y, xmH = w.dw_xm.height;

    w.cbx_ch.click();
    for (Control* c : std::initializer_list<Control*>{&w.st_oldfpdm, &w.ddlb_oldfpdm, &w.st_oldfphm, &w.sle_ch})
        EXPECT_TRUE(c->visible) << c->name().toStdString();
    EXPECT_FALSE(w.sle_oldfpdm.visible);
    EXPECT_EQ(w.dw_fp.y, fpY + 120);
    EXPECT_EQ(w.dw_xm.y, xmY + 120);
    EXPECT_EQ(w.dw_xm.height, xmH - 120);
    EXPECT_EQ(w.sle_ch.x, w.ddlb_fphm.x);
    EXPECT_EQ(w.st_oldfphm.x, w.st_2.x);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_oldfpdm"));
    // Codes of the same kind, then the entry for invoices issued elsewhere.
    ASSERT_GE(w.ddlb_oldfpdm.count(), 2);
    EXPECT_EQ(w.ddlb_oldfpdm.of_getid(1), code50());
    EXPECT_EQ(w.ddlb_oldfpdm.items().back().id, QStringLiteral("-1"));
    EXPECT_EQ(w.ddlb_oldfpdm.items().back().text, QStringLiteral("系统外票"));
    for (const auto& i : w.ddlb_oldfpdm.items()) EXPECT_NE(i.id, QString::fromUtf8(demo::kCode20));

    w.cbx_ch.click();
    EXPECT_EQ(w.dw_fp.y, fpY);
    EXPECT_EQ(w.dw_xm.y, xmY);
    EXPECT_EQ(w.dw_xm.height, xmH);
    EXPECT_FALSE(w.sle_ch.visible);
    EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
}

TEST_F(SelectorTest, OutsideInvoiceEntryShowsTheTypedCodeAndAnotherCodeHidesIt) {
    w_fp_invoicing& w = open();
    chooseCode(code50());
    w.cbx_ch.click();
    w.ddlb_oldfpdm.select(w.ddlb_oldfpdm.count()); // 系统外票
    EXPECT_TRUE(w.sle_oldfpdm.visible);
    EXPECT_TRUE(w.st_oldfpdm1.visible);
    EXPECT_EQ(w.sle_ch.x, 2830);
    EXPECT_EQ(w.st_oldfphm.x, 2496);
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_oldfpdm"));
    // Enter in the typed code moves on to the number, which selects its text.
    w.sle_ch.setText(QStringLiteral("123"));
    w.sle_oldfpdm.onKeyDown(keys::Enter);
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_ch"));
    EXPECT_EQ(w.sle_ch.selStart, 1);
    EXPECT_EQ(w.sle_ch.selLength, 100);

    w.ddlb_oldfpdm.select(1);
    EXPECT_FALSE(w.sle_oldfpdm.visible);
    EXPECT_EQ(w.sle_ch.x, w.ddlb_fphm.x);
    EXPECT_EQ(w.st_oldfphm.x, w.st_2.x);
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_ch"));
}

} // namespace
} // namespace fp::test
