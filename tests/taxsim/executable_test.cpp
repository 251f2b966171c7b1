// The taxsim program in its own process: base URL on the first line, demo or
// file seed, a store file that outlives the process, control over HTTP, and a
// clean stop on SIGTERM.
#include "tests/support/taxsim_fixture.h"
#include "tests/taxsim/taxsim_requests.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fp::test;
using fp::RemoteResult;

namespace {

RemoteResult send(const TaxsimProcess& p, const QString& request,
                  const fp::RemoteCredentials& credentials = demoCredentials(), int timeoutMs = 10000) {
    fp::HttpTransport transport(p.baseUrl(), credentials);
    return transport.post(QStringLiteral("NormalServlet"), request, timeoutMs);
}

TEST(TaxsimProgram, ServesTheDemoTaxpayerAndTakesControlCommands) {
    TaxsimProcess p({QStringLiteral("--control-token"), QStringLiteral("s3cret-token")});
    ASSERT_TRUE(p.error().isEmpty()) << p.error().toStdString();
    EXPECT_TRUE(p.baseUrl().startsWith(QStringLiteral("http://127.0.0.1:")));

    RemoteResult r = send(p, statusRequest(code50(), QStringLiteral("00000001")));
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(r.body, QStringLiteral("ok|@|0|@|未使用"));

    EXPECT_EQ(p.control(QStringLiteral("time 2009-08-17 12:41:48\nfault refuse proc=11633 text=号码已作废")),
              QStringLiteral("ok"));
    EXPECT_EQ(send(p, QStringLiteral("proc_id:90001")).body, QStringLiteral("ok|@|2009-08-17 12:41:48"));
    EXPECT_EQ(send(p, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000001")))).body,
              QStringLiteral("err|@|号码已作废"));
    EXPECT_EQ(send(p, statusRequest(code50(), QStringLiteral("00000001"))).body, QStringLiteral("ok|@|0|@|未使用"));

    EXPECT_EQ(p.control(QStringLiteral("fault drop")), QStringLiteral("ok"));
    EXPECT_EQ(send(p, QStringLiteral("proc_id:90001")).kind, RemoteResult::Kind::Dropped);

    EXPECT_EQ(p.stop(), 0);
    EXPECT_FALSE(p.isRunning());
}

TEST(TaxsimProgram, ControlExistsOnlyWithATokenAndAnswersOnlyToIt) {
    const QString cmd = QStringLiteral("fault refuse times=-1");
    int status = 0;
    {
        TaxsimProcess p; // no token: no control at all
        ASSERT_TRUE(p.error().isEmpty()) << p.error().toStdString();
        postControl(p.baseUrl(), QString(), cmd, &status);
        EXPECT_EQ(status, 404);
        postControl(p.baseUrl(), QStringLiteral("guess"), cmd, &status);
        EXPECT_EQ(status, 404);
        EXPECT_EQ(send(p, QStringLiteral("proc_id:90001")).body.left(5), QStringLiteral("ok|@|"));
    }
    // The token may come from the environment; --no-control overrides it.
    qputenv("TAXSIM_CONTROL_TOKEN", "from-env");
    {
        TaxsimProcess p;
        ASSERT_TRUE(p.error().isEmpty()) << p.error().toStdString();
        postControl(p.baseUrl(), QStringLiteral("from-envx"), cmd, &status);
        EXPECT_EQ(status, 404);
        EXPECT_EQ(postControl(p.baseUrl(), QStringLiteral("from-env"), QStringLiteral("ping"), &status),
                  QStringLiteral("ok"));
    }
    {
        TaxsimProcess p({QStringLiteral("--no-control")});
        ASSERT_TRUE(p.error().isEmpty()) << p.error().toStdString();
        postControl(p.baseUrl(), QStringLiteral("from-env"), cmd, &status);
        EXPECT_EQ(status, 404);
    }
    qunsetenv("TAXSIM_CONTROL_TOKEN");
}

TEST(TaxsimProgram, MaxBodyOption) {
    TaxsimProcess p({QStringLiteral("--max-body"), QStringLiteral("200")});
    ASSERT_TRUE(p.error().isEmpty()) << p.error().toStdString();
    EXPECT_EQ(send(p, statusRequest(code50(), QStringLiteral("00000001"))).body, QStringLiteral("ok|@|0|@|未使用"));
    const RemoteResult r = send(p, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000001"))));
    EXPECT_EQ(r.kind, RemoteResult::Kind::HttpError);
    EXPECT_EQ(r.httpStatus, 413);
    EXPECT_EQ(send(p, statusRequest(code50(), QStringLiteral("00000001"))).body, QStringLiteral("ok|@|0|@|未使用"));
}

TEST(TaxsimProgram, SeedFileAndStoreFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString seed = dir.filePath(QStringLiteral("seed.txt"));
    {
        QFile f(seed);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("demo\ntaxpayer|3700000000009|pw9|第九公司|N9|T9|13702000000\n").toUtf8());
    }
    const QString db = dir.filePath(QStringLiteral("store.db"));
    {
        TaxsimProcess p({QStringLiteral("--seed"), seed, QStringLiteral("--db"), db});
        ASSERT_TRUE(p.error().isEmpty()) << p.error().toStdString();
        EXPECT_TRUE(send(p, QStringLiteral("proc_id:90004"), {QStringLiteral("3700000000009"), QStringLiteral("pw9")})
                        .body.startsWith(QStringLiteral("ok|@|3700000000009|@|第九公司")));
        const RemoteResult r = send(p, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000003"))));
        EXPECT_EQ(r.body, QStringLiteral("ok|@|发票上传成功"));
        EXPECT_EQ(p.stop(), 0);
    }
    // Restarted on the same store without a seed: the data is still there.
    TaxsimProcess again({QStringLiteral("--db"), db});
    ASSERT_TRUE(again.error().isEmpty()) << again.error().toStdString();
    EXPECT_EQ(send(again, statusRequest(code50(), QStringLiteral("00000003"))).body, QStringLiteral("ok|@|1|@|已开票"));
    EXPECT_TRUE(send(again, QStringLiteral("proc_id:90001"), {QStringLiteral("3700000000009"), QStringLiteral("pw9")})
                    .body.startsWith(QStringLiteral("ok|@|")));
}

TEST(TaxsimProgram, RefusesABadSeedFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString seed = dir.filePath(QStringLiteral("seed.txt"));
    {
        QFile f(seed);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("nonsense\n");
    }
    TaxsimProcess p({QStringLiteral("--seed"), seed});
    EXPECT_TRUE(p.error().contains(QStringLiteral("未知的记录类型：nonsense"))) << p.error().toStdString();
    EXPECT_EQ(p.stop(), 1);
}

// Help and the version answer at once, on standard output, without serving;
// a misused command line says so on standard error.
TEST(TaxsimProgram, AnswersHelpAndVersion) {
    const QString name = QFileInfo(QString::fromUtf8(FPDESK_TAXSIM_EXE)).fileName();
    struct Case {
        QString arg;
        int status;
        QString outPattern, errPattern;
    };
    const QString help =
        QStringLiteral("^Usage: %1 \\[OPTION\\]\\.\\.\\.\\n(.|\\n)*  --control-token TOKEN ").arg(name);
    const QString version = QStringLiteral("^%1 \\d+\\.\\d+(\\.\\d+)*\\n$").arg(name);
    const Case cases[] = {
        {QStringLiteral("--help"), 0, help, QStringLiteral("^$")},
        {QStringLiteral("-h"), 0, help, QStringLiteral("^$")},
        {QStringLiteral("--version"), 0, version, QStringLiteral("^$")},
        {QStringLiteral("-v"), 0, version, QStringLiteral("^$")},
        {QStringLiteral("--bogus"), 2, QStringLiteral("^$"),
         QStringLiteral("^%1: unknown argument --bogus\\nusage: ").arg(name)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg.toStdString());
        QProcess p;
        p.start(QString::fromUtf8(FPDESK_TAXSIM_EXE), {c.arg});
        ASSERT_TRUE(p.waitForFinished(10000)); // it does not start serving
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), c.status);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(QRegularExpression(c.outPattern).match(out).hasMatch()) << out.toStdString();
        EXPECT_TRUE(QRegularExpression(c.errPattern).match(err).hasMatch()) << err.toStdString();
    }
}

} // namespace
