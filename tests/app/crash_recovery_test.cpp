// A client killed while the service holds back its upload's answer: the
// service stored the invoice, the client's transaction died with it, and the
// record written before the save lets `fpdesk reconcile` complete it locally.
#include "data_model/demo_constants.h"
#include "tests/app/core_app.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace fp::test {
namespace {

QString code50() { return QString::fromUtf8(demo::kCode50); }

// How the record is settled: by fpdesk reconcile, or by the next fpdesk issue
// before its own invoice.
struct Settling {
    const char* name;
    bool issueNext;
};

class CrashRecovery : public ::testing::TestWithParam<Settling> {};

TEST_P(CrashRecovery, ASaveKilledAfterTheServiceStoredItIsCompletedOnTheNextRun) {
    coreApp();
    TempDb db(TempDb::Content::DemoData);
    TaxsimServer server(true);
    ASSERT_TRUE(server.isRunning());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList common{QStringLiteral("--server"), server.baseUrl(), QStringLiteral("--database"),
                             db.databaseArg()};
    QFile f(dir.filePath(QStringLiteral("in.json")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"fpdm": "237020000001", "fkfmc": "刘芳", "bz": "夜间入住",
               "items": [{"xmmc": "住宿费", "mj": "2", "dj": "280.00"}, {"xmmc": "餐饮服务", "mj": "1", "dj": "45.50"}]})");
    f.close();

    // The upload is carried out at once; its answer is held back for good.
    taxsim::Fault hold;
    hold.kind = taxsim::Fault::Kind::Delay;
    hold.delayMs = 600000;
    server.service().injectFault(hold, 11633);
    QProcess issue;
    issue.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("issue"), f.fileName(),
                                                        QStringLiteral("--issuer"), QStringLiteral("张晓明")} +
                                                common);
    ASSERT_TRUE(issue.waitForStarted());
    // Until the service holds the invoice (the client then waits for the answer).
    QElapsedTimer waited;
    waited.start();
    while (!server.service().invoice(code50(), QStringLiteral("00000001")) && waited.elapsed() < 60000 &&
           issue.state() == QProcess::Running)
        issue.waitForFinished(20);
    ASSERT_TRUE(server.service().invoice(code50(), QStringLiteral("00000001")).has_value())
        << QString::fromUtf8(issue.readAllStandardError()).toStdString();
    ASSERT_EQ(issue.state(), QProcess::Running);
    issue.kill(); // SIGKILL
    ASSERT_TRUE(issue.waitForFinished(10000));
    server.service().clearFaults();

    // Nothing of the save survived but its record.
    Transaction& t = db.tx();
    EXPECT_TRUE(tableRows(t, QStringLiteral("ptfp_fpk")).isEmpty());
    EXPECT_TRUE(tableRows(t, QStringLiteral("bdcja_fpk_log")).isEmpty());
    ASSERT_EQ(tableRows(t, QStringLiteral("fp_pending_upload")).size(), 1);

    QProcess settle;
    const bool issueNext = GetParam().issueNext;
    if (issueNext) {
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(
            R"({"fpdm": "237020000001", "fkfmc": "刘芳", "items": [{"xmmc": "住宿费", "mj": "1", "dj": "280.00"}]})");
        f.close();
        settle.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("issue"), f.fileName(),
                                                             QStringLiteral("--issuer"), QStringLiteral("张晓明")} +
                                                     common);
    } else {
        settle.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("reconcile")} + common);
    }
    ASSERT_TRUE(settle.waitForFinished(60000));
    const QString err = QString::fromUtf8(settle.readAllStandardError());
    EXPECT_EQ(settle.exitCode(), 0) << err.toStdString();
    // The next invoice of the file moves past the completed number.
    EXPECT_EQ(QString::fromUtf8(settle.readAllStandardOutput()),
              issueNext ? QStringLiteral("237020000001 00000002\n") : QString());
    EXPECT_TRUE(err.contains(QStringLiteral("发票代码237020000001、号码00000001：上次保存时未收到税务机关的应答，"
                                            "经核对税务机关已收到该发票，已补存本地数据！")))
        << err.toStdString();

    // The invoice as the save would have left it: header, lines, last-used
    // number, log row; and no record left.
    QList<QVariantList> header = t.selectAll(
        QStringLiteral("SELECT fkfmc, bz, kpr, hjje, fpzt FROM ptfp_fpk WHERE fpdm = ? AND fphm = '00000001'"),
        {code50()});
    ASSERT_EQ(header.size(), 1);
    EXPECT_EQ(header[0][0].toString(), QStringLiteral("刘芳"));
    EXPECT_EQ(header[0][1].toString(), QStringLiteral("夜间入住"));
    EXPECT_EQ(header[0][2].toString(), QStringLiteral("张晓明"));
    EXPECT_EQ(t.decimalAt(header[0][3]), Decimal::parse(u"605.50"));
    EXPECT_EQ(header[0][4].toString(), QStringLiteral("1"));
    QList<QVariantList> lines = t.selectAll(
        QStringLiteral("SELECT xmmc, je FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000001' ORDER BY iserial"),
        {code50()});
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0][0].toString(), QStringLiteral("住宿费"));
    EXPECT_EQ(t.decimalAt(lines[0][1]), Decimal::parse(u"560.00"));
    EXPECT_EQ(lines[1][0].toString(), QStringLiteral("餐饮服务"));
    QVariantList row;
    ASSERT_EQ(t.selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ? AND fpqh <= '00000001' AND "
                                          "fpzh >= '00000001'"),
                           {code50()}, row),
              0);
    EXPECT_EQ(row.value(0).toString(), issueNext ? QStringLiteral("00000002") : QStringLiteral("00000001"));
    EXPECT_EQ(t.selectAll(QStringLiteral("SELECT sxh FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = '00000001' AND "
                                         "czlx = '1'"),
                          {code50()})
                  .size(),
              1);
    EXPECT_TRUE(tableRows(t, QStringLiteral("fp_pending_upload")).isEmpty());

    // Settled once: a second run finds nothing and changes nothing.
    const QString settled = snapshot(t);
    QProcess again;
    again.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("reconcile")} + common);
    ASSERT_TRUE(again.waitForFinished(60000));
    EXPECT_EQ(again.exitCode(), 0);
    EXPECT_EQ(snapshot(t), settled);
}

INSTANTIATE_TEST_SUITE_P(Settling, CrashRecovery,
                         ::testing::Values(Settling{"reconcile", false}, Settling{"next_issue", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fp::test
