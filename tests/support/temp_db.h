#pragma once
// A throw-away database for tests, with the whole schema (and, on request,
// the demo data), and a text snapshot of every table to compare the database
// before and after a command.
//
// The engine is SQLite (a file in its own temporary directory) unless the
// environment says FPDESK_TEST_ENGINE=postgresql: then every TempDb is a new
// database on the PostgreSQL server of FPDESK_TEST_PG_URL, dropped again at
// the end. scripts/test.sh starts such a server and runs the database,
// form-engine and window-flow suites once per engine; without a server the
// PostgreSQL runs are skipped.
#include "data_model/transaction.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace fp::test {

// Whether the tests of this process run on PostgreSQL.
bool testsUsePostgres();

class TempDb {
public:
    enum class Content { Schema, DemoData };
    // Throws std::runtime_error when the database cannot be created.
    explicit TempDb(Content content = Content::Schema);
    ~TempDb();
    TempDb(const TempDb&) = delete;
    TempDb& operator=(const TempDb&) = delete;

    Transaction& tx() { return *tx_; }
    // The SQLite file (empty on PostgreSQL).
    QString path() const { return path_; }
    // Where the database is, as `--database` takes it: the file or the URL.
    QString databaseArg() const;
    const DatabaseConfig& config() const { return config_; }
    bool isPostgres() const { return config_.driver == QLatin1String("QPSQL"); }
    // A second connection to the same database (another issuer's client).
    std::unique_ptr<Transaction> openAnother() const;

private:
    QTemporaryDir dir_;
    QString path_;
    DatabaseConfig config_;
    QString url_;
    std::unique_ptr<Transaction> tx_;
};

// Every table of the schema with its rows, one line per row ("table|v1|v2|..."
// with NULL for a null value), rows sorted within each table. Two snapshots
// compare equal exactly when the stored data is the same.
QString snapshot(Transaction& t);

// Rows of one table, as in snapshot().
QStringList tableRows(Transaction& t, const QString& table);

} // namespace fp::test
