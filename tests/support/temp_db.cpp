#include "tests/support/temp_db.h"

#include "data_model/database_url.h"
#include "data_model/demo_data.h"
#include "data_model/schema.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <gtest/gtest.h>
#include <stdexcept>

namespace fp::test {

namespace {
// Qt's database drivers are plugins; loading them wants an application object.
void ensureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "fpdesk-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

[[noreturn]] void fail(const QString& what) { throw std::runtime_error(what.toStdString()); }

QString serverUrl() { return qEnvironmentVariable("FPDESK_TEST_PG_URL"); }

// The PostgreSQL runs skip every test when no server is there to run them on.
class EngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (testsUsePostgres() && serverUrl().isEmpty())
            GTEST_SKIP()
                << "FPDESK_TEST_ENGINE=postgresql without FPDESK_TEST_PG_URL (scripts/test.sh starts a server)";
    }
};
[[maybe_unused]] ::testing::Environment* const g_engineEnvironment =
    ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

// A connection to the server's maintenance database that creates and drops
// the tests' databases (outside any transaction, as those statements must be).
class PgAdmin {
public:
    static PgAdmin& instance() {
        static PgAdmin admin;
        return admin;
    }
    DatabaseConfig server() const { return server_; }

    QString createDatabase() {
        static QAtomicInt counter;
        const QString name =
            QStringLiteral("fpt_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter.fetchAndAddRelaxed(1));
        run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
        run(QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0").arg(name));
        return name;
    }
    void dropDatabase(const QString& name) {
        QSqlQuery q(db());
        q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    }

private:
    PgAdmin() {
        QString error;
        auto c = parseDatabaseUrl(serverUrl(), &error);
        if (!c) fail(QStringLiteral("FPDESK_TEST_PG_URL: ") + error);
        server_ = *c;
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("fp_test_admin"));
        d.setDatabaseName(server_.database);
        d.setHostName(server_.host);
        if (server_.port > 0) d.setPort(server_.port);
        d.setUserName(server_.user);
        d.setPassword(server_.password);
        if (!d.open()) fail(QStringLiteral("cannot reach the PostgreSQL test server: ") + d.lastError().text());
    }
    QSqlDatabase db() const { return QSqlDatabase::database(QStringLiteral("fp_test_admin")); }
    void run(const QString& sql) {
        QSqlQuery q(db());
        if (!q.exec(sql)) fail(sql + QStringLiteral(": ") + q.lastError().text());
    }
    DatabaseConfig server_;
};
} // namespace

bool testsUsePostgres() {
    return qEnvironmentVariable("FPDESK_TEST_ENGINE").compare(QLatin1String("postgresql"), Qt::CaseInsensitive) == 0;
}

TempDb::TempDb(Content content) {
    ensureApplication();
    if (testsUsePostgres()) {
        PgAdmin& admin = PgAdmin::instance();
        config_ = admin.server();
        config_.database = admin.createDatabase();
        url_ = describeDatabase(config_);
    } else {
        if (!dir_.isValid()) fail(QStringLiteral("no temporary directory: ") + dir_.errorString());
        path_ = dir_.filePath(QStringLiteral("fpdesk.db"));
        config_.database = path_;
    }
    QString error;
    tx_ = Transaction::open(config_, &error);
    if (!tx_) fail(QStringLiteral("cannot open test database: ") + error);
    if (!createSchema(*tx_, &error)) fail(QStringLiteral("cannot create schema: ") + error);
    if (content == Content::DemoData && !createDemoData(*tx_, &error))
        fail(QStringLiteral("cannot create demo data: ") + error);
}

TempDb::~TempDb() {
    tx_.reset();
    if (isPostgres()) PgAdmin::instance().dropDatabase(config_.database);
}

QString TempDb::databaseArg() const { return isPostgres() ? url_ : path_; }

std::unique_ptr<Transaction> TempDb::openAnother() const {
    QString error;
    auto t = Transaction::open(config_, &error);
    if (!t) fail(QStringLiteral("cannot open second connection: ") + error);
    return t;
}

QStringList tableRows(Transaction& t, const QString& table) {
    QStringList lines;
    QSqlQuery q(t.db());
    if (!q.exec(QStringLiteral("SELECT * FROM ") + table)) {
        lines << table + QStringLiteral("|<error>");
        return lines;
    }
    while (q.next()) {
        QStringList values{table};
        for (int i = 0; i < q.record().count(); ++i) {
            const QVariant v = q.value(i);
            if (v.isNull()) {
                values << QStringLiteral("NULL");
            } else if (v.metaType().id() == QMetaType::QDateTime) {
                values << v.toDateTime().toString(canonicalDateTimeFormat());
            } else {
                values << v.toString();
            }
        }
        lines << values.join(QLatin1Char('|'));
    }
    lines.sort();
    return lines;
}

QString snapshot(Transaction& t) {
    QStringList all;
    for (const TableDef& table : schemaTables()) all << tableRows(t, table.name);
    return all.join(QLatin1Char('\n'));
}

} // namespace fp::test
