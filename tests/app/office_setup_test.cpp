// Setting up a real taxpayer's office on an empty database with the set-up
// commands, then issuing with it; the refusals of the set-up commands; and the
// profile check that keeps a server-mode profile from using the demo
// taxpayer's account. Runs on SQLite and, in the PostgreSQL runs, on a server.
#include "app/profile.h"
#include "data_model/demo_constants.h"
#include "tests/app/core_app.h"
#include "tests/support/qt_printers.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fp {
namespace {

struct CommandRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CommandRun fpdesk(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FPDESK_EXE), args);
    CommandRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString utf8(const char* s) { return QString::fromUtf8(s); }

void writeFile(const QString& path, const QString& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

// The office's profile: the taxpayer and its account at the tax service.
QString officeProfile(const QString& serverUrl) {
    return QStringLiteral(
               "[server]\nmode=http\nurl=%1\nuser=%2\npassword=%3\ntimeout_unit_ms=20\n"
               "[host]\nuserid=zhang\nusername=张晓明\nsysuserid=%2\nsysusername=%4\nnsrsbh=%5\nssswjgdm=%6\n")
        .arg(serverUrl, utf8(demo::kSxh), utf8(demo::kPassword), utf8(demo::kTaxpayerName), utf8(demo::kNsrsbh),
             utf8(demo::kSwjgdm));
}

class OfficeSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::coreApp();
        db = std::make_unique<test::TempDb>(test::TempDb::Content::Schema);
        server = std::make_unique<test::TaxsimServer>(true);
        ASSERT_TRUE(dir.isValid());
        profile = dir.filePath(QStringLiteral("office.ini"));
        writeFile(profile, officeProfile(server->baseUrl()));
    }
    // The command's words, then the office's options, then its arguments.
    CommandRun command(const QStringList& args) {
        const int words = args.first() == QLatin1String("issue") ? 1 : 2;
        return fpdesk(
            args.mid(0, words) +
            QStringList{QStringLiteral("--profile"), profile, QStringLiteral("--database"), db->databaseArg()} +
            args.mid(words));
    }
    qlonglong count(const QString& sql, const QVariantList& binds = {}) {
        QVariantList row;
        EXPECT_NE(db->tx().selectInto(sql, binds, row), -1);
        return row.value(0).toLongLong();
    }

    QTemporaryDir dir;
    QString profile;
    std::unique_ptr<test::TempDb> db;
    std::unique_ptr<test::TaxsimServer> server;
};

TEST_F(OfficeSetupTest, AnEmptyDatabaseIsSetUpWithTheCommandsAndIssues) {
    const QList<QStringList> steps = {
        {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("zhang"), QStringLiteral("张晓明")},
        {QStringLiteral("issuer"), QStringLiteral("add"), QStringLiteral("张晓明")},
        {QStringLiteral("partner"), QStringLiteral("add"), QStringLiteral("001"),
         QStringLiteral("示范建筑工程有限公司"), QStringLiteral("组织机构代码"), QStringLiteral("MA3C0001-2")},
        {QStringLiteral("item"), QStringLiteral("add"), QStringLiteral("餐饮服务"), QStringLiteral("120.00")},
        {QStringLiteral("codes"), QStringLiteral("fetch")},
        {QStringLiteral("stock"), QStringLiteral("fetch")},
    };
    for (const QStringList& step : steps) {
        const CommandRun r = command(step);
        ASSERT_EQ(r.exitCode, 0) << step.join(QLatin1Char(' ')).toStdString() << ": " << r.err.toStdString();
        if (step.first() == QLatin1String("issuer")) {
            EXPECT_EQ(r.out.trimmed(), QStringLiteral("001"));
        }
    }
    EXPECT_EQ(test::tableRows(db->tx(), QStringLiteral("b_user_right")),
              (QStringList{QStringLiteral("b_user_right|zhang|01|02"), QStringLiteral("b_user_right|zhang|02|02"),
                           QStringLiteral("b_user_right|zhang|03|02"), QStringLiteral("b_user_right|zhang|04|02")}));
    EXPECT_EQ(test::tableRows(db->tx(), QStringLiteral("b_corp")),
              QStringList{QStringLiteral("b_corp|") + utf8(demo::kSxh) +
                          QStringLiteral("001|示范建筑工程有限公司|组织机构代码|MA3C0001-2|") + utf8(demo::kSxh)});

    const QString invoices = dir.filePath(QStringLiteral("invoices.json"));
    writeFile(invoices, QStringLiteral("{\"fpdm\": \"%1\", \"fkfmc\": \"示范建筑工程有限公司\", "
                                       "\"items\": [{\"xmmc\": \"餐饮服务\", \"mj\": \"2\", \"dj\": \"120.00\"}]}")
                            .arg(utf8(demo::kCode50)));
    const CommandRun issued =
        command({QStringLiteral("issue"), invoices, QStringLiteral("--issuer"), QStringLiteral("张晓明")});
    ASSERT_EQ(issued.exitCode, 0) << issued.err.toStdString();
    EXPECT_EQ(issued.out.trimmed(), utf8(demo::kCode50) + QStringLiteral(" 00000001"));
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM ptfp_fpk WHERE fpdm = ? AND fphm = '00000001' AND kpr = ? "
                                   "AND fkfzjhm = 'MA3C0001-2'"),
                    {utf8(demo::kCode50), QStringLiteral("张晓明")}),
              1);
    EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM bdcja_fplg WHERE fpdm = ? AND zjsyh = '00000001'"),
                    {utf8(demo::kCode50)}),
              1);
}

TEST_F(OfficeSetupTest, DuplicatesAndBadValuesAreRefusedAndChangeNothing) {
    ASSERT_EQ(
        command({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("zhang"), QStringLiteral("张晓明")})
            .exitCode,
        0);
    ASSERT_EQ(command({QStringLiteral("issuer"), QStringLiteral("add"), QStringLiteral("张晓明")}).exitCode, 0);
    ASSERT_EQ(command({QStringLiteral("partner"), QStringLiteral("add"), QStringLiteral("001"), QStringLiteral("刘芳"),
                       QStringLiteral("身份证件号码"), QStringLiteral("370203199001010044")})
                  .exitCode,
              0);
    ASSERT_EQ(command({QStringLiteral("item"), QStringLiteral("add"), QStringLiteral("复印费"), QStringLiteral("0.10")})
                  .exitCode,
              0);

    struct Case {
        QStringList args;
        const char* message; // part of what standard error says
    };
    const QString tooLong(51, QLatin1Char('x'));
    const Case cases[] = {
        {{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("zhang"), QStringLiteral("另一人")},
         "用户“zhang”已存在"},
        {{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("li"), QStringLiteral("李丽"),
          QStringLiteral("--right"), QStringLiteral("2")},
         "权限代码"},
        {{QStringLiteral("issuer"), QStringLiteral("add"), QStringLiteral("张晓明")}, "开票员“张晓明”已存在"},
        {{QStringLiteral("partner"), QStringLiteral("add"), QStringLiteral("001"), QStringLiteral("别家"),
          QStringLiteral("纳税人识别号"), QStringLiteral("91370200MA3C00002Y")},
         "往来单位编码“001”已存在"},
        {{QStringLiteral("partner"), QStringLiteral("add"), QStringLiteral("002"), QStringLiteral("别家"),
          QStringLiteral("护照"), QStringLiteral("E1234")},
         "证件类型应为"},
        {{QStringLiteral("item"), QStringLiteral("add"), QStringLiteral("复印费"), QStringLiteral("0.20")},
         "品目“复印费”已存在"},
        {{QStringLiteral("item"), QStringLiteral("add"), QStringLiteral("--"), QStringLiteral("装订"),
          QStringLiteral("-1")},
         "单价“-1”无效"},
        {{QStringLiteral("item"), QStringLiteral("add"), QStringLiteral("装订"), QStringLiteral("1.234")},
         "单价“1.234”无效"},
        {{QStringLiteral("item"), QStringLiteral("add"), QStringLiteral("装订"), QStringLiteral("一元")},
         "单价“一元”无效"},
        {{QStringLiteral("item"), QStringLiteral("add"), tooLong, QStringLiteral("1.00")}, "最多50个字符"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const QString before = test::snapshot(db->tx());
        const CommandRun r = command(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(utf8(c.message))) << r.err.toStdString();
        EXPECT_EQ(test::snapshot(db->tx()), before);
    }
}

TEST(ServerProfileTest, AServerModeProfileMustNameItsTaxpayerAndCredentials) {
    test::coreApp();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.ini"));
    struct Case {
        const char* text;
        QStringList missing; // empty: accepted
    };
    const Case cases[] = {
        {"[server]\nmode=http\nurl=http://127.0.0.1:1\n",
         {QStringLiteral("[host] userid"), QStringLiteral("[host] sysuserid"), QStringLiteral("[host] sysusername"),
          QStringLiteral("[host] nsrsbh"), QStringLiteral("[host] ssswjgdm"), QStringLiteral("[server] password")}},
        {"[server]\nmode=http\nurl=http://"
         "127.0.0.1:1\npassword=x\n[host]\nuserid=u\nsysuserid=1\nsysusername=n\nnsrsbh=9\n",
         {QStringLiteral("[host] ssswjgdm")}},
        {"[server]\nmode=http\nurl=http://"
         "127.0.0.1:1\npassword=x\n[host]\nuserid=u\nsysuserid=1\nsysusername=n\nnsrsbh=9\n"
         "ssswjgdm=1\n",
         {}},
        {"[server]\nmode=inprocess\n", {}}, // the simulated service in the client: the demo taxpayer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        writeFile(file, QString::fromUtf8(c.text));
        QString error;
        const auto p = app::Profile::load(file, &error);
        EXPECT_EQ(bool(p), c.missing.isEmpty()) << error.toStdString();
        for (const QString& key : c.missing) EXPECT_TRUE(error.contains(key)) << error.toStdString();
    }

    // An inprocess profile used with --server must name its taxpayer too.
    writeFile(file, QStringLiteral("[server]\nmode=inprocess\n"));
    const CommandRun r = fpdesk({QStringLiteral("stock"), QStringLiteral("fetch"), QStringLiteral("--profile"), file,
                                 QStringLiteral("--server"), QStringLiteral("http://127.0.0.1:1"),
                                 QStringLiteral("--database"), dir.filePath(QStringLiteral("x.db"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("[server] password"))) << r.err.toStdString();
}

TEST(ServerProfileTest, DatabaseUrlInTheProfileAndOnTheCommandLine) {
    test::coreApp();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("p.ini"));
    writeFile(file,
              QStringLiteral("[database]\nurl=postgresql://kp@db.lan:5433/fp?sslmode=require\npassword=p%40ss\n"));
    QString error;
    const auto p = app::Profile::load(file, &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->database.driver, QStringLiteral("QPSQL"));
    EXPECT_EQ(p->database.host, QStringLiteral("db.lan"));
    EXPECT_EQ(p->database.port, 5433);
    EXPECT_EQ(p->database.password, QStringLiteral("p%40ss")); // a profile value is not percent-encoded
    EXPECT_EQ(p->database.options, QStringLiteral("sslmode=require"));

    writeFile(file, QStringLiteral("[database]\nurl=postgresql://kp@db.lan/\n"));
    EXPECT_FALSE(app::Profile::load(file, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("数据库名"))) << error.toStdString();

    const CommandRun bad = fpdesk({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"),
                                   QStringLiteral("postgresql://kp@db.lan:0/fp")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("端口"))) << bad.err.toStdString();
}

} // namespace
} // namespace fp
