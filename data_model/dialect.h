#pragma once
// What differs between the database engines behind sqlca. Statements of the
// module are written once with '?' placeholders; the few engine-specific pieces
// (current local time, a month of a date, a row limit, concatenation, column
// types and the stored form of amounts and date-times) come from here.
#include "data_model/decimal.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace fp {

enum class ColType { Text, Decimal2, Whole, DateTime, Identity };

class Dialect {
public:
    enum class Kind { SQLite, PostgreSQL };
    virtual ~Dialect() = default;
    virtual Kind kind() const = 0;
    virtual QString driverName() const = 0;

    // SQL expression of the database's current local time, to the second.
    virtual QString currentTime() const = 0;
    // SQL expression giving "yyyy-mm" of a date-time expression.
    virtual QString monthOf(const QString& expr) const = 0;
    // SQL expression converting a text of digits to a 64-bit integer; NULL for
    // a text that is not all digits (never an error).
    virtual QString toBigint(const QString& expr) const = 0;
    // SQL expression of the last n characters of a text expression.
    virtual QString rightChars(const QString& expr, int n) const = 0;
    // Concatenation of SQL expressions.
    QString concat(const QStringList& parts) const { return parts.join(QStringLiteral(" || ")); }
    // Clause appended to a SELECT to keep its first n rows.
    QString limit(int n) const { return QStringLiteral(" LIMIT ") + QString::number(n); }

    // Column type of the DDL.
    virtual QString columnType(ColType type, int width) const = 0;
    // A statement that moves the generator of an identity column forward to
    // the highest value stored or to its one bound value (a floor), whichever
    // is higher, and never back, around rows inserted with values of their own
    // (lines downloaded with the service's serials); empty where the engine
    // keeps up by itself.
    virtual QString identityCatchUp(const QString& table, const QString& column) const = 0;

    // Stored form of an amount and back.
    virtual QVariant encodeDecimal(const Decimal& d) const = 0;
    virtual std::optional<Decimal> decodeDecimal(const QVariant& v) const = 0;
    // Stored form of a date-time (local time, to the second) and back.
    virtual QVariant encodeDateTime(const QDateTime& dt) const = 0;
    virtual QDateTime decodeDateTime(const QVariant& v) const = 0;

    // Settings applied to every new connection; false with a message on failure.
    virtual bool onOpen(QSqlDatabase& db, QString* error) const = 0;
    // How long a statement waits for a lock another connection holds before it
    // fails (see isLockTimeout); false with a message on failure.
    virtual bool setLockWait(QSqlDatabase& db, int milliseconds, QString* error) const = 0;
    // The statement that opens a writing transaction. On SQLite it takes the
    // write lock at once, so a transaction never has to upgrade a read.
    virtual QString beginStatement() const = 0;
    // Clause appended to a SELECT that locks the rows it reads until the end of
    // the transaction (empty where the transaction's write lock already covers it).
    virtual QString lockRowsClause() const = 0;
    // A statement that serializes schema changes between clients starting at
    // once, inside the transaction; empty when the write lock does.
    virtual QString schemaLockStatement() const = 0;
    // Whether an error means a lock wait ran out (the other party still holds it).
    virtual bool isLockTimeout(const QSqlError& error) const = 0;
    // Whether a failed statement ends the whole transaction on this engine
    // (then each statement of a transaction runs after a savepoint).
    virtual bool statementSavepoints() const = 0;
    // Whether an error is a duplicate key.
    virtual bool isDuplicateKey(const QSqlError& error) const = 0;
    // Whether a COMMIT that failed has ended the transaction all the same (it
    // was rolled back), so that nothing is left to roll back.
    virtual bool failedCommitEndsTransaction() const = 0;

    static std::unique_ptr<Dialect> forKind(Kind kind);
    static std::unique_ptr<Dialect> forDriver(const QString& driverName);
};

// The canonical text of a stored date-time: "yyyy-MM-dd HH:mm:ss" (local time).
inline QString canonicalDateTimeFormat() { return QStringLiteral("yyyy-MM-dd HH:mm:ss"); }

} // namespace fp
