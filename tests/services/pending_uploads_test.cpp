// Settling the records of unconfirmed uploads against the tax service.
#include "services/pending_uploads.h"

#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "tests/support/demo_session.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

const QString kCode = QString::fromUtf8(demo::kCode50);

class ReconcileTest : public ::testing::Test {
protected:
    ReconcileTest() {
        test::setDemoSession(session);
        session.sqlca = &db.tx();
        host.setTransport(server.httpTransport());
    }

    // An invoice the service holds under `number`, for the demo taxpayer.
    void atService(const QString& number, const QString& payer, const QString& code = kCode,
                   const QString& kind = QStringLiteral("50")) {
        taxsim::StoredInvoice inv = taxsim::StoredInvoice::create(code, number);
        inv.setValue(QStringLiteral("sxh"), session.gs_sysuserid);
        inv.setValue(QStringLiteral("fpzlbm"), kind);
        inv.setValue(QStringLiteral("fpzt"), QStringLiteral("1"));
        inv.setValue(QStringLiteral("fkfmc"), payer);
        inv.setValue(QStringLiteral("kpr"), QStringLiteral("张晓明"));
        inv.setValue(QStringLiteral("hjje"), QStringLiteral("280.00"));
        const int line = inv.addLine();
        inv.setLineValue(line, QStringLiteral("iserial"), QStringLiteral("41"));
        inv.setLineValue(line, QStringLiteral("xmmc"), QStringLiteral("住宿费"));
        inv.setLineValue(line, QStringLiteral("mj"), QStringLiteral("1"));
        inv.setLineValue(line, QStringLiteral("dj"), QStringLiteral("280.00"));
        inv.setLineValue(line, QStringLiteral("je"), QStringLiteral("280.00"));
        server.service().addInvoice(inv);
    }
    void record(const QString& number, const QString& digest, const QString& code = kCode,
                const QString& kind = QStringLiteral("50")) {
        QString error;
        PendingRequest r{
            code,  number, kind, session.gs_sysuserid, session.gs_userid, session.gs_username, QStringLiteral("张晓明"),
            digest};
        ASSERT_EQ(recordPendingRequest(db.tx(), r, &error), JournalWrite::Written) << error.toStdString();
    }
    // The digest of what the service holds under `number`.
    QString digestAtService(const QString& number, const QString& code = kCode) {
        const ServerInvoice s = askServerForInvoice(host, code, number);
        EXPECT_EQ(s.kind, ServerInvoice::Kind::Present) << s.failure.toStdString();
        return s.invoice ? contentDigest(contentOf(*s.invoice)) : QString();
    }
    QStringList rows(const QString& table) { return test::tableRows(db.tx(), table); }
    QString lastUsed() {
        QVariantList row;
        EXPECT_NE(
            db.tx().selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ? AND fpqh <= '00000003' AND "
                                              "fpzh >= '00000003'"),
                               {kCode}, row),
            -1);
        return row.value(0).toString();
    }

    test::TempDb db{test::TempDb::Content::DemoData};
    test::TaxsimServer server;
    Session session;
    test::ScriptedDialogs dialogs;
    HostServices host{session, dialogs};
};

// Ours at the service -> completed locally; other content there -> said, the
// number marked used, dropped; not at the service -> dropped.
TEST_F(ReconcileTest, EachRecordIsSettledByWhatTheServiceHolds) {
    atService(QStringLiteral("00000003"), QStringLiteral("另一位客户"));
    atService(QStringLiteral("00000004"), QStringLiteral("刘芳"));
    record(QStringLiteral("00000003"), QStringLiteral("本机保存的内容摘要"));
    record(QStringLiteral("00000004"), digestAtService(QStringLiteral("00000004")));
    record(QStringLiteral("00000005"), QStringLiteral("本机保存的内容摘要"));
    // Another user's record waits for that user.
    ASSERT_TRUE(db.tx().exec(QStringLiteral("UPDATE fp_pending_upload SET userid = 'other' WHERE fphm = '00000005'")));
    ASSERT_TRUE(db.tx().commit());
    record(QStringLiteral("00000006"), QStringLiteral("本机保存的内容摘要"));
    dialogs.clear();

    const ReconcileResult r = gf_reconcile_pending_uploads(host);
    EXPECT_EQ(r.completed, 1);
    EXPECT_EQ(r.dropped, 2);
    EXPECT_EQ(r.kept, 0);
    EXPECT_EQ(dialogs.messages(),
              (QStringList{QStringLiteral("发票代码237020000001、号码00000003：税务机关的该号码发票与本机上次未完成的"
                                          "保存内容不同，本机的保存未生效，该号码已被使用！"),
                           QStringLiteral("发票代码237020000001、号码00000004：上次保存时未收到税务机关的应答，"
                                          "经核对税务机关已收到该发票，已补存本地数据！"),
                           QStringLiteral("发票代码237020000001、号码00000006：上次保存未完成，税务机关没有收到该发票，"
                                          "该号码仍可使用。")}));
    // Only the invoice that was ours is stored, with its line, log row and the
    // stock's last-used number; the other content is not downloaded.
    const QStringList headers = rows(QStringLiteral("ptfp_fpk"));
    ASSERT_EQ(headers.size(), 1);
    EXPECT_TRUE(headers[0].startsWith(QStringLiteral("ptfp_fpk|237020000001|00000004|50|")))
        << headers[0].toStdString();
    EXPECT_EQ(rows(QStringLiteral("ptfp_fpxmmx")).size(), 1);
    const QStringList log = rows(QStringLiteral("bdcja_fpk_log"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("bdcja_fpk_log|237020000001|00000004|") + session.gs_sysuserid +
                                  QStringLiteral("|1|") + session.gs_username + u'|'))
        << log[0].toStdString();
    EXPECT_EQ(lastUsed(), QStringLiteral("00000004"));
    const QStringList left = rows(QStringLiteral("fp_pending_upload"));
    ASSERT_EQ(left.size(), 1);
    EXPECT_TRUE(left[0].startsWith(QStringLiteral("fp_pending_upload|237020000001|00000005|")));
}

// The service unreachable: every record kept, the database unchanged, one line.
TEST_F(ReconcileTest, AnUnreachableServiceKeepsEveryRecordAndSaysSoOnce) {
    record(QStringLiteral("00000003"), QStringLiteral("a"));
    record(QStringLiteral("00000004"), QStringLiteral("b"));
    const QString before = test::snapshot(db.tx());
    for (bool configured : {true, false}) {
        SCOPED_TRACE(configured ? "nothing listens" : "no connection configured");
        host.setTransport(
            configured ? std::make_shared<HttpTransport>(QStringLiteral("http://127.0.0.1:1"), test::demoCredentials())
                       : nullptr);
        dialogs.clear();
        const ReconcileResult r = gf_reconcile_pending_uploads(host);
        EXPECT_EQ(r.kept, 2);
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_TRUE(dialogs.messages()[0].startsWith(
            QStringLiteral("有2张发票的上传结果尚未确认，暂时无法向税务机关核对（") +
            (configured ? QStringLiteral("无法连接税务服务器") : QStringLiteral("没有配置税务服务器的连接"))))
            << dialogs.messages()[0].toStdString();
        EXPECT_EQ(test::snapshot(db.tx()), before);
    }
}

// A real-estate invoice goes to the estate tables, as its save puts it, and
// its batch records the number; nothing lands in the integrated tables.
TEST_F(ReconcileTest, AnEstateInvoiceIsCompletedInTheEstateTables) {
    const QString code20 = QString::fromUtf8(demo::kCode20);
    atService(QStringLiteral("00000003"), QStringLiteral("刘芳"), code20, QStringLiteral("20"));
    record(QStringLiteral("00000003"), digestAtService(QStringLiteral("00000003"), code20), code20,
           QStringLiteral("20"));
    dialogs.clear();
    EXPECT_EQ(gf_reconcile_pending_uploads(host).completed, 1) << dialogs.messages().join(u'|').toStdString();
    const QStringList headers = rows(QStringLiteral("bdcja_fpk"));
    ASSERT_EQ(headers.size(), 1);
    EXPECT_TRUE(headers[0].startsWith(QStringLiteral("bdcja_fpk|") + code20 + QStringLiteral("|00000003|20|")))
        << headers[0].toStdString();
    const QStringList lines = rows(QStringLiteral("bdcja_fpxmmx"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("bdcja_fpxmmx|") + code20 + QStringLiteral("|00000003|住宿费|")))
        << lines[0].toStdString();
    EXPECT_TRUE(rows(QStringLiteral("ptfp_fpk")).isEmpty());
    EXPECT_TRUE(rows(QStringLiteral("ptfp_fpxmmx")).isEmpty());
    QVariantList row;
    ASSERT_EQ(db.tx().selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ?"), {code20}, row), 0);
    EXPECT_EQ(row.value(0).toString(), QStringLiteral("00000003"));
    EXPECT_EQ(rows(QStringLiteral("bdcja_fpk_log")).size(), 1);
    EXPECT_TRUE(rows(QStringLiteral("fp_pending_upload")).isEmpty());
}

} // namespace
} // namespace fp
