// A client killed while the service holds back the answer to a void, a blank
// void or a print report: the service carried out the request, the client's
// transaction died with it, and the record written before it lets `fpdesk
// reconcile` complete the local side.
#include "data_model/demo_constants.h"
#include "host/judge_column.h"
#include "tests/app/core_app.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

namespace fp::test {
namespace {

QString code50() { return QString::fromUtf8(demo::kCode50); }

struct Killed {
    const char* name;
    int proc;
    QString number;
    QStringList args;    // the command, before the common options
    QString czlx;        // its log row
    QString fpzt;        // the local status afterwards
    qlonglong drcs;      // the local print count afterwards
    const char* settled; // what reconcile says after the number
};

class KilledRequest : public ::testing::TestWithParam<Killed> {};

TEST_P(KilledRequest, IsCompletedByReconcile) {
    const Killed& k = GetParam();
    coreApp();
    installFormHostFunctions();
    TempDb db(TempDb::Content::DemoData);
    TaxsimServer server(true);
    ASSERT_TRUE(server.isRunning());
    server.service().setServerTime(QDateTime(QDate(2026, 12, 10), QTime(9, 30, 15)));
    Session session;
    setDemoSession(session);
    IssuedInvoice invoice;
    storeIssuedInvoice(db.tx(), session, invoice);
    registerOnServer(server.service(), session, invoice);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList common{QStringLiteral("--server"), server.baseUrl(),           QStringLiteral("--database"),
                             db.databaseArg(),           QStringLiteral("--issuer"), QStringLiteral("张晓明")};
    QStringList args = k.args;
    args.replaceInStrings(QStringLiteral("<dir>"), dir.path());
    const QString before = snapshot(db.tx());

    // The request is carried out at once; its answer is held back for good.
    taxsim::Fault hold;
    hold.kind = taxsim::Fault::Kind::Delay;
    hold.delayMs = 600000;
    server.service().injectFault(hold, k.proc);
    const auto carriedOut = [&] {
        return k.proc == 98179 ? !server.service().prints().empty()
                               : server.service().statusOf(code50(), k.number) != QLatin1String("0") &&
                                     server.service().statusOf(code50(), k.number) != QLatin1String("1");
    };
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    client.setProcessEnvironment(env);
    client.start(QStringLiteral(FPDESK_EXE), args + common);
    ASSERT_TRUE(client.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!carriedOut() && waited.elapsed() < 60000 && client.state() == QProcess::Running) client.waitForFinished(20);
    ASSERT_TRUE(carriedOut()) << QString::fromUtf8(client.readAllStandardError()).toStdString();
    ASSERT_EQ(client.state(), QProcess::Running);
    client.kill(); // SIGKILL
    ASSERT_TRUE(client.waitForFinished(10000));
    server.service().clearFaults();

    // Nothing of the command survived but its record.
    QStringList after = snapshot(db.tx()).split(u'\n');
    EXPECT_EQ(after.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("fp_pending_upload|")); }), 1);
    EXPECT_EQ(after.join(u'\n'), before);

    QProcess settle;
    settle.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("reconcile")} + common.mid(0, 4));
    ASSERT_TRUE(settle.waitForFinished(60000));
    const QString err = QString::fromUtf8(settle.readAllStandardError());
    EXPECT_EQ(settle.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("发票代码") + code50() + QStringLiteral("、号码") + k.number +
                             QString::fromUtf8(k.settled)))
        << err.toStdString();

    Transaction& t = db.tx();
    const QList<QVariantList> header = t.selectAll(
        QStringLiteral("SELECT fpzt, drcs FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"), {code50(), k.number});
    ASSERT_EQ(header.size(), 1);
    EXPECT_EQ(header[0][0].toString(), k.fpzt);
    EXPECT_EQ(header[0][1].toLongLong(), k.drcs);
    EXPECT_EQ(t.selectAll(QStringLiteral("SELECT kpr FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = ? AND czlx = ? "
                                         "AND kpr = '张晓明'"),
                          {code50(), k.number, k.czlx})
                  .size(),
              1);
    EXPECT_EQ(server.service().statusOf(code50(), k.number), k.fpzt);
    EXPECT_TRUE(tableRows(t, QStringLiteral("fp_pending_upload")).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Journal, KilledRequest,
    ::testing::Values(
        Killed{"print_report", 98179, QStringLiteral("00000007"),
               QStringList{QStringLiteral("print"), code50(), QStringLiteral("7"), QStringLiteral("--pdf"),
                           QStringLiteral("<dir>/7.pdf")},
               QStringLiteral("2"), QStringLiteral("1"), 1,
               "：上次打印时未收到税务机关的应答，经核对税务机关已记录该次打印，已补存本地打印次数！"},
        Killed{"void", 76129, QStringLiteral("00000007"),
               QStringList{QStringLiteral("void"), code50(), QStringLiteral("7"), QStringLiteral("--yes")},
               QStringLiteral("3"), QStringLiteral("2"), 0,
               "：上次作废时未收到税务机关的应答，经核对税务机关已作废该发票，已补存本地数据！"},
        Killed{"blank_void", 76129, QStringLiteral("00000042"),
               QStringList{QStringLiteral("void"), code50(), QStringLiteral("42"), QStringLiteral("--blank"),
                           QStringLiteral("--yes")},
               QStringLiteral("3"), QStringLiteral("3"), 0,
               "：上次空白发票作废时未收到税务机关的应答，经核对税务机关已作废该空白发票，已补存本地数据！"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fp::test
