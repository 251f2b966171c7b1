// ue_print: a saved invoice goes through the print service; unsaved changes,
// a missing invoice and answered-no questions stop it.
#include "tests/issuing/issuing_fixture.h"

namespace fp::test {
namespace {

const QString kConfirm =
    QStringLiteral("确定要打印：\r\n发票代码：237020000001\r\n发票号码：00000001\r\n（确定打印前请仔细核对）？");

class PrintCommandTest : public IssuingTest {
protected:
    // Opens the window, starts number 1, fills two lines and saves.
    void saveInvoice() {
        open();
        ASSERT_TRUE(start());
        fillInvoice({{QStringLiteral("2"), QStringLiteral("120")}, {QStringLiteral("1"), QStringLiteral("30.5")}});
        dialogs.yes();
        ASSERT_EQ(win->raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
        dialogs.clear();
    }
    long print() { return win->raise(QStringLiteral("ue_print")); }
    void setStatus(const QVariant& fpzt) {
        ASSERT_TRUE(db->tx().exec(QStringLiteral("UPDATE ptfp_fpk SET fpzt = ? WHERE fphm = '00000001'"), {fpzt}));
        ASSERT_TRUE(db->tx().commit());
    }
};

TEST_F(PrintCommandTest, SavedInvoiceIsPrintedAfterOneConfirmation) {
    saveInvoice();
    dialogs.yes();
    dialogs.printCopies(1);
    EXPECT_EQ(print(), 1);
    EXPECT_EQ(dialogs.questions(), QStringList{kConfirm});
    ASSERT_EQ(dialogs.previews().size(), 1u);
    const s_preview_parameter& p = dialogs.previews()[0];
    EXPECT_EQ(p.dw_datawindow, win->dw_print.store());
    EXPECT_EQ(p.s_col_visible_dynamic, QString());
    // The print form holds the saved invoice laid out for paper.
    DataStore& form = *win->dw_print.store();
    ASSERT_EQ(form.rowCount(), 5);
    EXPECT_EQ(form.getString(1, QStringLiteral("ptfp_fpxmmx_xmmc")), QStringLiteral("餐饮服务"));
    EXPECT_EQ(form.getString(5, QStringLiteral("kpr")), QStringLiteral("张晓明"));
    EXPECT_EQ(count(QStringLiteral("SELECT drcs FROM ptfp_fpk WHERE fphm = '00000001'")), 1);
    EXPECT_EQ(server->service().prints().size(), 1u);
    EXPECT_EQ(win->dw_print.visible, false);
}

TEST_F(PrintCommandTest, StatusOtherThanIssuedNeedsASecondConfirmationAndPrintsTheStatus) {
    saveInvoice();
    setStatus(QStringLiteral("2"));
    dialogs.yes();
    dialogs.yes();
    dialogs.printCopies(1);
    EXPECT_EQ(print(), 1);
    EXPECT_EQ(dialogs.questions(), (QStringList{kConfirm, QStringLiteral("发票作废发票，确定要打印吗？")}));
    EXPECT_EQ(dialogs.previews()[0].s_col_visible_dynamic, QStringLiteral("|fpzt|"));

    // A no to the second question prints nothing.
    dialogs.clear();
    dialogs.yes();
    dialogs.no();
    EXPECT_EQ(print(), 0);
    EXPECT_TRUE(dialogs.previews().empty());
}

TEST_F(PrintCommandTest, NullStatusNeedsOneConfirmationOnly) {
    saveInvoice();
    setStatus(QVariant());
    dialogs.yes();
    dialogs.closePreview();
    EXPECT_EQ(print(), 0);
    EXPECT_EQ(dialogs.questions(), QStringList{kConfirm});
    EXPECT_EQ(dialogs.previews()[0].s_col_visible_dynamic, QString());
}

TEST_F(PrintCommandTest, UnsavedChangesAreRefused) {
    open();
    ASSERT_TRUE(start());
    fillInvoice({{QStringLiteral("1"), QStringLiteral("10")}});
    dialogs.clear();
    EXPECT_EQ(print(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("有数据变动未保存，请先保存！")});
}

TEST_F(PrintCommandTest, ALineDeletedAfterTheSaveIsAnUnsavedChange) {
    saveInvoice();
    ASSERT_TRUE(xm().deleteRow(2));
    EXPECT_EQ(print(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("有数据变动未保存，请先保存！")});
    EXPECT_TRUE(dialogs.previews().empty());
}

TEST_F(PrintCommandTest, InvoiceGoneFromTheLocalDatabaseIsNamed) {
    saveInvoice();
    ASSERT_TRUE(db->tx().exec(QStringLiteral("UPDATE ptfp_fpk SET sxh = 'other' WHERE fphm = '00000001'")));
    ASSERT_TRUE(db->tx().commit());
    EXPECT_EQ(print(), 0);
    EXPECT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("当前发票代码的发票号码数据未找到！\r\n发票代码：237020000001\r\n"
                                         "发票号码：00000001")});
    EXPECT_TRUE(dialogs.questions().isEmpty());
}

TEST_F(PrintCommandTest, NothingChosenAndANoChangeNothing) {
    open();
    EXPECT_EQ(print(), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("请先选择发票代码！")});
    EXPECT_EQ(win->focusedName(), QStringLiteral("ddlb_fpdm"));

    win.reset();
    saveInvoice();
    const QString before = dbSnapshot();
    dialogs.no();
    EXPECT_EQ(print(), 0);
    EXPECT_TRUE(dialogs.previews().empty());
    EXPECT_EQ(dbSnapshot(), before);
}

} // namespace
} // namespace fp::test
