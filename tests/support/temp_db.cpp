#include "tests/support/temp_db.h"

#include "data_model/demo_data.h"
#include "data_model/schema.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QSqlRecord>
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
} // namespace

TempDb::TempDb(Content content) {
    ensureApplication();
    if (!dir_.isValid()) fail(QStringLiteral("no temporary directory: ") + dir_.errorString());
    path_ = dir_.filePath(QStringLiteral("fpdesk.db"));
    QString error;
    tx_ = Transaction::openSqlite(path_, &error);
    if (!tx_) fail(QStringLiteral("cannot open test database: ") + error);
    if (!createSchema(*tx_, &error)) fail(QStringLiteral("cannot create schema: ") + error);
    if (content == Content::DemoData && !createDemoData(*tx_, &error))
        fail(QStringLiteral("cannot create demo data: ") + error);
}

TempDb::~TempDb() { tx_.reset(); }

std::unique_ptr<Transaction> TempDb::openAnother() const {
    QString error;
    auto t = Transaction::openSqlite(path_, &error);
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
            values << (v.isNull() ? QStringLiteral("NULL") : v.toString());
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
