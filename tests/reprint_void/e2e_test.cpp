// End to end over loopback HTTP: an invoice issued in the issuing window is
// printed in the reprint window and voided in the void window; an unused
// number is voided blank. The service's statuses tell what it accepted.
#include "issuing/w_fp_invoicing.h"
#include "services/pending_uploads.h"
#include "tests/reprint_void/lookup_fixture.h"

namespace fp::test {
namespace {

class EndToEndTest : public LookupTest {
protected:
    void SetUp() override {
        LookupTest::SetUp();
        host->setTransport(server->httpTransport());
        host->setTimeoutUnitMs(20);
    }
    // Issues number `number` with one line through the issuing window.
    void issue(const QString& number) {
        w_fp_invoicing w(*host);
        EXPECT_TRUE(w.open(OpenParams{1, QString()}));
        for (int i = 1; i <= w.ddlb_fpdm.count(); ++i)
            if (w.ddlb_fpdm.of_getid(i) == code50()) w.ddlb_fpdm.select(i);
        w.ddlb_fphm.setText(number);
        ASSERT_EQ(w.raise(QStringLiteral("ue_start")), 1) << dialogs.messages().join(u'|').toStdString();
        w.dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("示范建筑工程有限公司"));
        w.dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), QStringLiteral("组织机构代码"));
        w.dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("MA3C0001-2"));
        w.dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("餐饮服务"));
        w.dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("3"));
        w.dw_xm.typeInto(1, QStringLiteral("dj"), QStringLiteral("45.5"));
        dialogs.yes();
        ASSERT_EQ(w.raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
        dialogs.clear();
    }
};

TEST_F(EndToEndTest, IssuedInvoiceIsReprintedAndVoidedAndAnUnusedNumberVoidedBlank) {
    issue(QStringLiteral("00000001"));
    ASSERT_EQ(server->service().statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("1"));

    auto& r = openReprint();
    ASSERT_EQ(view(r, QStringLiteral("1")), 1) << dialogs.messages().join(u'|').toStdString();
    dialogs.yes();
    dialogs.printCopies(1, QStringLiteral("Office Printer"), QStringLiteral("A4"));
    EXPECT_EQ(r.raise(QStringLiteral("ue_save")), 1);
    ASSERT_EQ(server->service().prints().size(), 1u);
    EXPECT_EQ(server->service().prints()[0].bz, QStringLiteral("|@|Office Printer|A4|@|"));

    auto& v = openVoid();
    ASSERT_EQ(view(v, QStringLiteral("1")), 1) << dialogs.messages().join(u'|').toStdString();
    dialogs.yes();
    ASSERT_EQ(v.raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("2"));
    EXPECT_EQ(fpzt(QStringLiteral("00000001")), QStringLiteral("2"));

    v.cbx_blank.click();
    ASSERT_EQ(view(v, QStringLiteral("2")), 1) << dialogs.messages().join(u'|').toStdString();
    dialogs.yes();
    ASSERT_EQ(v.raise(QStringLiteral("ue_save")), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000002")), QStringLiteral("3"));
    EXPECT_EQ(fpzt(QStringLiteral("00000002")), QStringLiteral("3"));
    const auto voids = server->service().voids();
    ASSERT_EQ(voids.size(), 2u);
    EXPECT_EQ(voids[0].fpzt, QStringLiteral("2"));
    EXPECT_EQ(voids[1].fpzt, QStringLiteral("3"));
    EXPECT_EQ(voids[1].kpr, QStringLiteral("张晓明"));

    // The reprint window now shows the voided invoice; the blank one it refuses.
    ASSERT_EQ(view(r, QStringLiteral("1")), 1);
    EXPECT_EQ(r.dw_fp.store()->getString(1, QStringLiteral("fpzt")), QStringLiteral("2"));
    dialogs.clear();
    EXPECT_EQ(view(r, QStringLiteral("2")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("指定发票已作废（空白）！")});
}

TEST_F(EndToEndTest, RefusedVoidOverHttpLeavesBothSidesAsTheyWere) {
    issue(QStringLiteral("00000001"));
    auto& v = openVoid();
    ASSERT_EQ(view(v, QStringLiteral("1")), 1);
    const QString before = dbSnapshot();
    taxsim::Fault f;
    f.kind = taxsim::Fault::Kind::HttpError;
    f.httpStatus = 503;
    server->service().injectFault(f, 76129);
    dialogs.yes();
    EXPECT_EQ(v.raise(QStringLiteral("ue_save")), 0);
    EXPECT_EQ(server->service().statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("1"));
    // An HTTP error says nothing sure of what the service did: the report's
    // record stays, and only it, until reconcile finds the invoice valid there.
    QStringList after = dbSnapshot().split(u'\n');
    EXPECT_EQ(after.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("fp_pending_upload|")); }), 1);
    EXPECT_EQ(after.join(u'\n'), before);
    (void)gf_reconcile_pending_uploads(*host);
    EXPECT_EQ(dbSnapshot(), before);
}

} // namespace
} // namespace fp::test
