#pragma once
// A throw-away SQLite database for tests: a file in its own temporary
// directory with the whole schema (and, on request, the demo data), and a
// text snapshot of every table to compare the database before and after a
// command.
#include "data_model/transaction.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace fp::test {

class TempDb {
public:
    enum class Content { Schema, DemoData };
    // Throws std::runtime_error when the database cannot be created.
    explicit TempDb(Content content = Content::Schema);
    ~TempDb();
    TempDb(const TempDb&) = delete;
    TempDb& operator=(const TempDb&) = delete;

    Transaction& tx() { return *tx_; }
    QString path() const { return path_; }
    // A second connection to the same file (another issuer's client).
    std::unique_ptr<Transaction> openAnother() const;

private:
    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<Transaction> tx_;
};

// Every table of the schema with its rows, one line per row ("table|v1|v2|..."
// with NULL for a null value), rows sorted within each table. Two snapshots
// compare equal exactly when the stored data is the same.
QString snapshot(Transaction& t);

// Rows of one table, as in snapshot().
QStringList tableRows(Transaction& t, const QString& table);

} // namespace fp::test
