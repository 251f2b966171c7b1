// The number box of the reprint and void windows takes exactly 8 digits, as the
// issuing window does; a shorter digit string is padded with zeros.
#include "tests/reprint_void/lookup_fixture.h"

namespace fp::test {
namespace {

class NumberBoxTest : public LookupTest {};

TEST_F(NumberBoxTest, BothWindowsRefuseAnythingButEightDigitsBeforeAskingTheService) {
    IssuedInvoice inv;
    inv.fphm = QStringLiteral("00000123");
    issued(inv);
    const QString before = snapshot(db->tx());
    struct Case {
        const char* typed;
        const char* shownAfter; // the box after the refusal
    };
    const Case refused[] = {
        {"12a", "0000012a"},        // padded as before, then refused
        {"0000001x", "0000001x"},   // would pass the text range test of the stock
        {"000001234", "000001234"}, // nine digits
        {"１２３", "00000１２３"},  // full-width digits are no digits
        {"0000 123", "0000 123"},   // a blank inside
        {"-0000123", "-0000123"},   // a sign
    };
    for (bool voidWindow : {false, true}) {
        InvoiceLookupWindow& w = voidWindow ? static_cast<InvoiceLookupWindow&>(openVoid())
                                            : static_cast<InvoiceLookupWindow&>(openReprint());
        for (const Case& c : refused) {
            SCOPED_TRACE(std::string(voidWindow ? "void " : "reprint ") + c.typed);
            dialogs.clear();
            const size_t exchanges = host->exchanges().size();
            EXPECT_EQ(view(w, QString::fromUtf8(c.typed)), 0);
            EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票号码必须是8位数字！")});
            EXPECT_EQ(w.ddlb_fphm.text(), QString::fromUtf8(c.shownAfter));
            EXPECT_EQ(w.focusedName(), QStringLiteral("ddlb_fphm"));
            EXPECT_EQ(host->exchanges().size(), exchanges) << "the service is not asked";
            EXPECT_TRUE(w.is_fphm.isEmpty());
        }
        // A short digit string is still padded and viewed.
        dialogs.clear();
        ASSERT_EQ(view(w, QStringLiteral("123")), 1) << dialogs.messages().join(u'|').toStdString();
        EXPECT_EQ(w.ddlb_fphm.text(), QStringLiteral("00000123"));
        EXPECT_EQ(w.is_fphm, QStringLiteral("00000123"));
    }
    EXPECT_EQ(snapshot(db->tx()), before);
}

} // namespace
} // namespace fp::test
