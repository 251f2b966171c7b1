// The red-letter start: identifying the reversed invoice and copying it negated,
// or preparing an invoice issued outside the system for typed lines.
#include "tests/issuing/issuing_fixture.h"

#include "services/invoice_fetch.h"

namespace fp::test {
namespace {

Decimal dec(const QString& s) { return *Decimal::parse(s); }
Decimal dec(const char* s) { return dec(QString::fromLatin1(s)); }

class RedLetterTest : public IssuingTest {
protected:
    // Issues number 1 with three lines through the window.
    void issueThreeLineInvoice() {
        open();
        ASSERT_TRUE(start());
        fillInvoice({{QStringLiteral("2"), QStringLiteral("120")},
                     {QStringLiteral("1.5"), QStringLiteral("0.10")},
                     {QStringLiteral("3"), QStringLiteral("93.33")}});
        win->dw_xm.typeInto(2, QStringLiteral("xmmc"), QStringLiteral("复印费"));
        win->dw_xm.typeInto(2, QStringLiteral("dj"), QStringLiteral("0.10"));
        dialogs.yes();
        ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
        dialogs.clear();
    }
    // The selector row for reversing `oldNumber` of the demo code (or one
    // issued outside the system with `outsideCode`), as number `number`.
    void chooseReversal(const QString& oldNumber, const QString& outsideCode = QString(),
                        const QString& number = QStringLiteral("2")) {
        chooseCode(code50());
        typeNumber(number);
        if (!win->cbx_ch.checked) win->cbx_ch.click();
        if (outsideCode.isEmpty()) {
            win->ddlb_oldfpdm.select(1);
            ASSERT_EQ(win->ddlb_oldfpdm.of_getid(1), code50());
        } else {
            win->ddlb_oldfpdm.select(win->ddlb_oldfpdm.count());
            win->sle_oldfpdm.setText(outsideCode);
        }
        win->sle_ch.setText(oldNumber);
    }
    long startRed() { return win->raise(QStringLiteral("ue_start")); }
    void setOld(const QString& column, const QVariant& value) {
        ASSERT_TRUE(
            db->tx().exec(QStringLiteral("UPDATE ptfp_fpk SET %1 = ? WHERE fpdm = ? AND fphm = '00000001'").arg(column),
                          {value, code50()}));
        ASSERT_TRUE(db->tx().commit());
    }
};

TEST_F(RedLetterTest, AThreeLineInvoiceIsCopiedNegatedInOrderAndSavesAsAReversal) {
    issueThreeLineInvoice();
    chooseReversal(QStringLiteral("1"));
    dialogs.yes(); // issued this month
    ASSERT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("被冲红发票为本月发票，确定要继续冲红吗？")});
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(win->sle_ch.text(), QStringLiteral("00000001"));

    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfmc")), QStringLiteral("示范建筑工程有限公司"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjlx")), QStringLiteral("组织机构代码"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fkfzjhm")), QStringLiteral("MA3C0001-2"));
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("-520.14"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("extprop1")), QStringLiteral("00000001"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("extprop2")), code50());
    EXPECT_EQ(fp().objectText(QStringLiteral("sgfpch_t")), QStringLiteral("0"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("fphm")), QStringLiteral("00000002"));

    const QList<QStringList> lines = {
        {"餐饮服务", "2", "-120", "-240"}, {"复印费", "1.5", "-0.1", "-0.15"}, {"餐饮服务", "3", "-93.33", "-279.99"}};
    ASSERT_EQ(xm().rowCount(), 3);
    for (int r = 1; r <= 3; ++r) {
        const QStringList& l = lines[r - 1];
        EXPECT_EQ(xm().getString(r, QStringLiteral("xmmc")), l[0]) << r;
        EXPECT_EQ(xm().getDecimal(r, QStringLiteral("mj")), dec(l[1])) << r;
        EXPECT_EQ(xm().getDecimal(r, QStringLiteral("dj")), dec(l[2])) << r;
        EXPECT_EQ(xm().getDecimal(r, QStringLiteral("je")), dec(l[3])) << r;
        EXPECT_EQ(xm().getString(r, QStringLiteral("fphm")), QStringLiteral("00000002")) << r;
    }
    // The payer and the copied amounts are protected; no line can be added.
    EXPECT_TRUE(fp().isProtected(1, QStringLiteral("fkfmc")));
    EXPECT_TRUE(xm().isProtected(1, QStringLiteral("je")));
    EXPECT_FALSE(win->ib_add_xm_script);
    EXPECT_EQ(win->raise(QStringLiteral("ue_newproj")), 0);
    EXPECT_EQ(xm().rowCount(), 3);
    // Toolbar: the line commands keep what the saved invoice left (disabled).
    EXPECT_FALSE(win->uo_toolbar.isEnabled(w_fp_invoicing::kNewProj));
    EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kSave));
    EXPECT_FALSE(win->uo_toolbar.isEnabled(w_fp_invoicing::kPrint));
    EXPECT_EQ(win->focusedName(), QStringLiteral("dw_fp"));
    EXPECT_EQ(win->dw_fp.currentColumn, QStringLiteral("kprq"));

    // Saved under the red-letter sign rules; the service holds the reversal.
    dialogs.clear();
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fphm = '00000002' AND extprop1 = '00000001' "
                                   "AND hjje < 0")),
              1);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fphm = '00000002' AND je < 0")), 3);
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000002")), QStringLiteral("1"));
}

TEST_F(RedLetterTest, RefusalsNameTheReasonAndLeaveNothingStarted) {
    issueThreeLineInvoice();
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString message;
    };
    const std::vector<Case> cases = {
        {"voided", [&] { setOld(QStringLiteral("fpzt"), QStringLiteral("2")); },
         QStringLiteral("发票状为：") + f_get_fpzt_name(QStringLiteral("2")) + QStringLiteral("，不能进行冲红处理！")},
        {"itself a reversal",
         [&] {
             setOld(QStringLiteral("fpzt"), QStringLiteral("1"));
             setOld(QStringLiteral("extprop1"), QStringLiteral("00000009"));
         },
         QStringLiteral("被冲红发票本身即为冲红发票，不能进行冲红！")},
        {"no lines",
         [&] {
             setOld(QStringLiteral("extprop1"), QString());
             setOld(QStringLiteral("kprq"), QDateTime(QDate(2026, 11, 30), QTime(23, 59, 59)));
             ASSERT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM ptfp_fpxmmx WHERE fphm = '00000001'")));
             ASSERT_TRUE(db->tx().commit());
         },
         QStringLiteral("被冲红发票的品目明细未找到！")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        dialogs.clear();
        chooseReversal(QStringLiteral("1"));
        EXPECT_EQ(startRed(), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        // Issued on the last day of the previous month: no same-month question.
        EXPECT_TRUE(dialogs.questions().isEmpty()) << dialogs.questions().join(u'|').toStdString();
        EXPECT_EQ(win->focusedName(), QStringLiteral("sle_ch"));
        EXPECT_FALSE(win->dw_fp.visible);
        EXPECT_EQ(win->is_fpdm, QString());
    }
}

TEST_F(RedLetterTest, AnInvoiceReversedOnceIsNotReversedAgainUntilItsReversalIsVoided) {
    issueThreeLineInvoice();
    chooseReversal(QStringLiteral("1"));
    dialogs.yes(); // issued this month
    ASSERT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
    dialogs.clear();
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();

    // A second reversal, inside the system or as if issued outside it, is
    // refused before a question is asked or the service is asked anything.
    struct Case {
        const char* what;
        QString outsideCode;
    };
    for (const Case& c : {Case{"held locally", QString()}, Case{"outside the system", code50()}}) {
        SCOPED_TRACE(c.what);
        dialogs.clear();
        chooseReversal(QStringLiteral("1"), c.outsideCode, QStringLiteral("3"));
        const size_t sent = host->exchanges().size();
        EXPECT_EQ(startRed(), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("该发票已被冲红，不能重复冲红！")});
        EXPECT_TRUE(dialogs.questions().isEmpty()) << dialogs.questions().join(u'|').toStdString();
        // Only the new number's status was asked.
        EXPECT_EQ(host->exchanges().size(), sent + 1);
        EXPECT_EQ(win->focusedName(), QStringLiteral("sle_ch"));
        EXPECT_FALSE(win->dw_fp.visible);
        EXPECT_EQ(win->is_fpdm, QString());
    }

    // Once the reversal is voided the invoice may be reversed again.
    ASSERT_TRUE(db->tx().exec(QStringLiteral("UPDATE ptfp_fpk SET fpzt = '2' WHERE fpdm = ? AND fphm = '00000002'"),
                              {code50()}));
    ASSERT_TRUE(db->tx().commit());
    dialogs.clear();
    chooseReversal(QStringLiteral("1"), QString(), QStringLiteral("3"));
    dialogs.yes(); // issued this month
    EXPECT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
}

// Two windows that both started a reversal of the same invoice: the first save
// stands; the tax service refuses the second upload, which is then stored
// nowhere.
TEST_F(RedLetterTest, OfTwoWindowsReversingOneInvoiceOnlyTheFirstSaves) {
    issueThreeLineInvoice();
    chooseReversal(QStringLiteral("1"), QString(), QStringLiteral("2"));
    dialogs.yes();
    ASSERT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
    std::unique_ptr<w_fp_invoicing> first = std::move(win);
    open();
    chooseReversal(QStringLiteral("1"), QString(), QStringLiteral("3"));
    dialogs.yes();
    ASSERT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
    std::unique_ptr<w_fp_invoicing> second = std::move(win);

    dialogs.clear();
    dialogs.yes();
    ASSERT_EQ(first->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
    const QString afterFirst = dbSnapshot();
    // The second is refused at its save, before the question, as at a start.
    dialogs.clear();
    EXPECT_EQ(second->raise(QStringLiteral("ue_save")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("该发票已被冲红，不能重复冲红！")});
    EXPECT_TRUE(dialogs.questions().isEmpty());
    EXPECT_EQ(dbSnapshot(), afterFirst);
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000002")), QStringLiteral("1"));
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000003")), QStringLiteral("0"));
    win = std::move(second);
}

TEST_F(RedLetterTest, SameMonthQuestionAnsweredNoStops) {
    issueThreeLineInvoice();
    chooseReversal(QStringLiteral("1"));
    dialogs.no();
    EXPECT_EQ(startRed(), 0);
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("被冲红发票为本月发票，确定要继续冲红吗？")});
    EXPECT_EQ(win->focusedName(), QStringLiteral("sle_ch"));
    EXPECT_FALSE(win->dw_fp.visible);
}

TEST_F(RedLetterTest, AnInvoiceMissingLocallyIsDownloadedOnlyWhenTheClerkAgrees) {
    issueThreeLineInvoice();
    // The local copy is lost; the service still holds it.
    ASSERT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM ptfp_fpxmmx")));
    ASSERT_TRUE(db->tx().exec(QStringLiteral("DELETE FROM ptfp_fpk")));
    ASSERT_TRUE(db->tx().commit());
    const QString ask = QStringLiteral("被冲红号码：00000001本地未找到，需要到服务器上去下载吗？");

    chooseReversal(QStringLiteral("1"));
    const size_t sent = host->exchanges().size();
    dialogs.no();
    EXPECT_EQ(startRed(), 0);
    EXPECT_EQ(dialogs.questions(), QStringList{ask});
    // Only the new number's status was asked, not the download.
    EXPECT_EQ(host->exchanges().size(), sent + 1);
    EXPECT_EQ(win->focusedName(), QStringLiteral("sle_ch"));

    dialogs.clear();
    dialogs.yes(); // download
    dialogs.yes(); // issued this month
    ASSERT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(xm().rowCount(), 3);
    EXPECT_EQ(fp().getDecimal(1, QStringLiteral("hjje")), dec("-520.14"));
}

TEST_F(RedLetterTest, AnInvoiceIssuedOutsideTheSystemMustBeUnknownToTheService) {
    open();
    // A number the service sold to the taxpayer is known to it ("0"): refused.
    chooseReversal(QStringLiteral("50"), code50(), QStringLiteral("1"));
    EXPECT_EQ(startRed(), 0);
    EXPECT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("被冲红号码：00000050已存在，不能进行“系统外票”冲红处理！")});
    EXPECT_EQ(win->focusedName(), QStringLiteral("sle_ch"));

    // One never sold through the system ("-2") is reversed with typed lines.
    dialogs.clear();
    chooseReversal(QStringLiteral("7"), QStringLiteral("137020000999"), QStringLiteral("1"));
    ASSERT_EQ(startRed(), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(host->exchanges().back().request,
              QStringLiteral("proc_id:90239\r\nas_fpdm:137020000999\r\nas_fphm:00000007\r\nas_getinfo:0"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("extprop1")), QStringLiteral("00000007"));
    EXPECT_EQ(fp().getString(1, QStringLiteral("extprop2")), QStringLiteral("137020000999"));
    EXPECT_EQ(fp().objectText(QStringLiteral("sgfpch_t")), QStringLiteral("1"));
    EXPECT_EQ(xm().rowCount(), 1);
    EXPECT_TRUE(win->ib_add_xm_script);
    EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kNewProj));
    EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kDelProj));

    // The clerk types the payer and a negative line and saves it.
    win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("刘芳"));
    win->dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), QStringLiteral("身份证件号码"));
    win->dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("370203199001010044"));
    EXPECT_FALSE(fp().isProtected(1, QStringLiteral("fkfmc")));
    win->dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("住宿费"));
    win->dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("1"));
    win->dw_xm.typeInto(1, QStringLiteral("dj"), QStringLiteral("-280"));
    dialogs.clear();
    dialogs.yes();
    ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE extprop2 = '137020000999' AND hjje = ?"),
                    {QVariant::fromValue(dec("-280"))}),
              1);
}

} // namespace
} // namespace fp::test
