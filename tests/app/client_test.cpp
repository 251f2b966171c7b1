// The client's profile and its start: database, tax service and server date.
#include "app/client.h"
#include "app/profile.h"
#include "data_model/demo_constants.h"
#include "taxsim/service.h"
#include "tests/app/core_app.h"
#include "tests/support/canned_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_db.h"

#include <QDir>
#include <QFile>
#include <QSqlDriver>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace fp {
namespace {

using app::Profile;

QString writeIni(const QTemporaryDir& dir, const QString& text) {
    const QString path = dir.filePath(QStringLiteral("profile.ini"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
    return path;
}

TEST(ProfileTest, AbsentValuesAreTheDemoTaxpayersAndTheIssuerIsAsked) {
    test::coreApp();
    QTemporaryDir dir;
    QString error;
    const auto p = Profile::load(writeIni(dir, QStringLiteral("[database]\npath=data/my.db\n")), &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->database.driver, QStringLiteral("QSQLITE"));
    EXPECT_EQ(p->database.database, dir.filePath(QStringLiteral("data/my.db"))); // beside the profile
    EXPECT_FALSE(p->demoData);
    EXPECT_EQ(p->serverMode, Profile::ServerMode::InProcess);
    EXPECT_EQ(p->serverStore, dir.filePath(QStringLiteral("data/taxsim.db")));
    EXPECT_EQ(p->timeoutUnitMs, 100);
    EXPECT_EQ(p->sysuserid, QString::fromUtf8(demo::kSxh));
    EXPECT_EQ(p->serverUser, QString::fromUtf8(demo::kSxh));
    EXPECT_EQ(p->userid, QString::fromUtf8(demo::kUserId));
    // The empty text, not null: only the empty text makes the issuing window ask.
    EXPECT_FALSE(p->kprmc.isNull());
    EXPECT_TRUE(p->kprmc.isEmpty());
    Session s;
    p->applyTo(s);
    EXPECT_FALSE(s.gs_kprmc.isNull());
    EXPECT_TRUE(s.gs_kprmc.isEmpty());
}

TEST(ProfileTest, EveryKeyIsRead) {
    test::coreApp();
    QTemporaryDir dir;
    QString error;
    const auto p = Profile::load(writeIni(dir, QStringLiteral("[database]\ndriver=QPSQL\nname=office\nhost=db.lan\n"
                                                              "port=5433\nuser=fp\npassword=pw\ndemo=true\n"
                                                              "[server]\nmode=http\nurl=https://tax.example/fp\n"
                                                              "user=U1\npassword=S1\ntimeout_unit_ms=250\n"
                                                              "[host]\nuserid=u7\nusername=王五\nsysuserid=S9\n"
                                                              "sysusername=某公司\nkprmc=李丽\nnsrsbh=N1\n"
                                                              "nsrlxdh=T1\nssswjgdm=G1\n")),
                                 &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->database.driver, QStringLiteral("QPSQL"));
    EXPECT_EQ(p->database.database, QStringLiteral("office"));
    EXPECT_EQ(p->database.host, QStringLiteral("db.lan"));
    EXPECT_EQ(p->database.port, 5433);
    EXPECT_EQ(p->database.user, QStringLiteral("fp"));
    EXPECT_EQ(p->database.password, QStringLiteral("pw"));
    EXPECT_TRUE(p->demoData);
    EXPECT_EQ(p->serverMode, Profile::ServerMode::Http);
    EXPECT_EQ(p->serverUrl, QStringLiteral("https://tax.example/fp"));
    EXPECT_EQ(p->serverUser, QStringLiteral("U1"));
    EXPECT_EQ(p->serverPassword, QStringLiteral("S1"));
    EXPECT_EQ(p->timeoutUnitMs, 250);
    Session s;
    p->applyTo(s);
    EXPECT_EQ(QStringList({s.gs_userid, s.gs_username, s.gs_sysuserid, s.gs_sysusername, s.gs_kprmc, s.gs_nsrsbh,
                           s.gs_nsrlxdh, s.gs_ssswjgdm}),
              QStringList({QStringLiteral("u7"), QStringLiteral("王五"), QStringLiteral("S9"), QStringLiteral("某公司"),
                           QStringLiteral("李丽"), QStringLiteral("N1"), QStringLiteral("T1"), QStringLiteral("G1")}));
}

TEST(ProfileTest, ValuesNotUnderstoodAreRefusedWithTheReason) {
    test::coreApp();
    struct Case {
        const char* ini;
        const char* reason;
    };
    const Case cases[] = {
        {"[server]\nmode=ftp\n", "server/mode"},
        {"[server]\nmode=http\n", "server/url"},
        {"[server]\ntimeout_unit_ms=abc\n", "timeout_unit_ms"},
        {"[database]\ndriver=QODBC\n", "QODBC"},
        {"[database]\ndemo=maybe\n", "database/demo"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        QString error;
        EXPECT_FALSE(Profile::load(writeIni(dir, QString::fromUtf8(c.ini)), &error)) << c.ini;
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.reason))) << error.toStdString();
    }
    QString error;
    EXPECT_FALSE(Profile::load(QStringLiteral("/nonexistent/fp.ini"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("/nonexistent/fp.ini")));
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::coreApp();
        ASSERT_TRUE(dir_.isValid());
        profile_ = Profile::embeddedDemo(dir_.path());
    }
    QTemporaryDir dir_;
    Profile profile_;
    test::ScriptedDialogs dialogs_;
};

TEST_F(ClientTest, EmbeddedDemoStartsWithDemoDataAndLearnsTheServerDate) {
    app::Client client(profile_);
    client.setDialogs(&dialogs_);
    QString error;
    ASSERT_TRUE(client.start(&error)) << error.toStdString();
    EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("fpdesk.db"))));
    EXPECT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("taxsim.db"))));
    QVariantList row;
    ASSERT_EQ(client.sqlca()->selectInto(QStringLiteral("SELECT COUNT(*) FROM b_emp WHERE sxh = ?"),
                                         {QString::fromUtf8(demo::kSxh)}, row),
              0);
    EXPECT_GT(row.value(0).toInt(), 0);
    EXPECT_EQ(client.session().gs_sysuserid, QString::fromUtf8(demo::kSxh));
    EXPECT_EQ(client.session().sqlca, client.sqlca());
    EXPECT_EQ(client.host().timeoutUnitMs(), 100);

    const QDateTime local(QDate(2024, 3, 1), QTime(8, 0, 0));
    const QDateTime server(QDate(2024, 3, 1), QTime(9, 30, 15));
    client.session().localClock = [&] { return local; };
    ASSERT_NE(client.service(), nullptr);
    client.service()->setServerTime(server);
    client.syncServerDate();
    EXPECT_EQ(client.session().gdt_srv_date(), server);
    EXPECT_TRUE(dialogs_.messages().isEmpty());
}

// Without a usable answer the local clock stays and the warning says why: the
// service's refusal in its own words, an unusable reply by what was wrong with it.
TEST_F(ClientTest, WithoutAUsableAnswerTheLocalClockStaysAndTheWarningSaysWhy) {
    struct Case {
        const char* name;
        std::function<void(app::Client&)> spoilAnswer;
        QString warning;
    };
    const Case cases[] = {
        {"refused",
         [](app::Client& client) {
             taxsim::Fault refuse;
             refuse.kind = taxsim::Fault::Kind::Refuse;
             refuse.text = QStringLiteral("维护中");
             client.service()->injectFault(refuse, 90001);
         },
         QStringLiteral("取税务服务器时间失败，暂以本机时间为准。\r\n维护中")},
        {"unusable",
         [](app::Client& client) {
             RemoteResult unusable;
             unusable.kind = RemoteResult::Kind::BadReply;
             unusable.httpStatus = 200;
             unusable.detail = QStringLiteral("不是有效的UTF-8文本");
             client.host().setTransport(std::make_shared<test::CannedTransport>(unusable));
         },
         QStringLiteral("取税务服务器时间失败，暂以本机时间为准。\r\n税务服务器的应答不是有效的UTF-8文本，无法使用！")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScriptedDialogs dialogs;
        app::Client client(profile_);
        client.setDialogs(&dialogs);
        QString error;
        ASSERT_TRUE(client.start(&error)) << error.toStdString();
        const QDateTime local(QDate(2024, 3, 1), QTime(8, 0, 0));
        client.session().localClock = [&] { return local; };
        c.spoilAnswer(client);
        client.syncServerDate();
        EXPECT_EQ(client.session().gdt_srv_date(), local);
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_TRUE(dialogs.messages().first().startsWith(c.warning)) << dialogs.messages().first().toStdString();
    }
}

// SQLite sets the lock wait on the open connection, which does not fail; on
// PostgreSQL it is a statement the database can refuse. This database refuses
// any lock wait longer than the five seconds every connection starts with.
TEST_F(ClientTest, ADatabaseThatRefusesTheLockWaitKeepsTheClientFromStarting) {
    if (!test::testsUsePostgres()) GTEST_SKIP() << "only a PostgreSQL database can refuse the lock wait";
    test::TempDb db;
    Transaction& t = db.tx();
    ASSERT_TRUE(t.exec(
        QStringLiteral("CREATE FUNCTION public.set_config(setting text, value text, is_local boolean) RETURNS text "
                       "LANGUAGE plpgsql AS $$ BEGIN "
                       "IF setting = 'lock_timeout' AND value::bigint > 5000 THEN "
                       "RAISE EXCEPTION 'no lock wait beyond 5000 ms here'; END IF; "
                       "RETURN pg_catalog.set_config(setting, value, is_local); END $$")))
        << t.sqlerrtext.toStdString();
    // Ahead of the built-in function for every new connection to this database.
    const QString name = t.db().driver()->escapeIdentifier(db.config().database, QSqlDriver::TableName);
    ASSERT_TRUE(t.exec(QStringLiteral("ALTER DATABASE %1 SET search_path = public, pg_catalog").arg(name)))
        << t.sqlerrtext.toStdString();
    ASSERT_TRUE(t.commit()) << t.sqlerrtext.toStdString();

    profile_.database = db.config();
    profile_.demoData = false;
    app::Client client(profile_);
    client.setDialogs(&dialogs_);
    QString error;
    EXPECT_FALSE(client.start(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("no lock wait beyond 5000 ms here"))) << error.toStdString();
    EXPECT_EQ(client.session().sqlca, nullptr);
    EXPECT_EQ(client.host().transport(), nullptr);
}

TEST_F(ClientTest, ASecondStartKeepsTheDataOfTheFirst) {
    {
        app::Client first(profile_);
        QString error;
        ASSERT_TRUE(first.start(&error)) << error.toStdString();
        ASSERT_TRUE(first.sqlca()->exec(QStringLiteral("DELETE FROM b_emp WHERE ccode = ?"), {QStringLiteral("002")}));
        ASSERT_TRUE(first.sqlca()->commit());
    }
    app::Client second(profile_);
    QString error;
    ASSERT_TRUE(second.start(&error)) << error.toStdString();
    QVariantList row;
    EXPECT_NE(second.sqlca()->selectInto(QStringLiteral("SELECT COUNT(*) FROM b_emp WHERE ccode = ?"),
                                         {QStringLiteral("002")}, row),
              -1);
    EXPECT_EQ(row.value(0).toInt(), 0);
}

} // namespace
} // namespace fp
