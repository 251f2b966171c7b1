#include "data_model/dialect.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

namespace fp {
namespace {

// The digits of t[at, at + n) as a number; -1 when any is not a digit.
int digitsAt(const QString& t, int at, int n) {
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const char16_t c = t.at(i).unicode();
        if (c < u'0' || c > u'9') return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

// The canonical text "yyyy-MM-dd HH:mm:ss" (or with a 'T'), read without the
// general parser: a list reads one per row, and the parser costs some twenty
// microseconds a call. An invalid result means the text is not of that shape
// or not a real date and time.
QDateTime parseCanonical(const QString& t) {
    if (t.size() != 19 || t.at(4) != u'-' || t.at(7) != u'-' || (t.at(10) != u' ' && t.at(10) != u'T') ||
        t.at(13) != u':' || t.at(16) != u':')
        return QDateTime();
    const int y = digitsAt(t, 0, 4), mo = digitsAt(t, 5, 2), d = digitsAt(t, 8, 2);
    const int h = digitsAt(t, 11, 2), mi = digitsAt(t, 14, 2), sec = digitsAt(t, 17, 2);
    if (y < 0 || mo < 0 || d < 0 || h < 0 || mi < 0 || sec < 0) return QDateTime();
    const QDate date(y, mo, d);
    const QTime time(h, mi, sec);
    if (!date.isValid() || !time.isValid()) return QDateTime();
    return QDateTime(date, time);
}

QDateTime parseDateTimeText(const QString& s) {
    const QString t = s.trimmed();
    if (t.isEmpty()) return QDateTime();
    if (const QDateTime canonical = parseCanonical(t); canonical.isValid()) return canonical;
    for (const char* f : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm:ss.zzz",
                          "yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(f));
        if (dt.isValid()) return dt;
    }
    return QDateTime();
}

class SqliteDialect final : public Dialect {
public:
    Kind kind() const override { return Kind::SQLite; }
    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    QString currentTime() const override { return QStringLiteral("datetime('now','localtime')"); }
    QString monthOf(const QString& expr) const override { return QStringLiteral("substr(%1,1,7)").arg(expr); }
    QString toBigint(const QString& expr) const override {
        return QStringLiteral("(CASE WHEN %1 <> '' AND %1 NOT GLOB '*[^0-9]*' THEN CAST(%1 AS INTEGER) END)").arg(expr);
    }
    QString rightChars(const QString& expr, int n) const override {
        return QStringLiteral("substr(%1,-%2)").arg(expr).arg(n);
    }
    QString columnType(ColType type, int width) const override {
        switch (type) {
        case ColType::Text: return width > 0 ? QStringLiteral("VARCHAR(%1)").arg(width) : QStringLiteral("TEXT");
        // Amounts are stored as whole cents: exact, summable and comparable in SQL.
        case ColType::Decimal2: return QStringLiteral("INTEGER");
        case ColType::Whole: return QStringLiteral("INTEGER");
        case ColType::DateTime: return QStringLiteral("TEXT");
        case ColType::Identity: return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
        }
        return QStringLiteral("TEXT");
    }
    // AUTOINCREMENT keeps its counter at the highest value ever inserted.
    QString identityCatchUp(const QString&, const QString&) const override { return QString(); }
    QVariant encodeDecimal(const Decimal& d) const override { return QVariant(qlonglong(d.toCents())); }
    std::optional<Decimal> decodeDecimal(const QVariant& v) const override {
        if (!v.isValid() || v.isNull()) return std::nullopt;
        bool ok = false;
        const qlonglong cents = v.toLongLong(&ok);
        if (ok && (v.metaType().id() == QMetaType::LongLong || v.metaType().id() == QMetaType::Int ||
                   !v.toString().contains(u'.')))
            return Decimal::fromCents(cents);
        return Decimal::fromVariant(v); // a text or real written by another tool
    }
    QVariant encodeDateTime(const QDateTime& dt) const override {
        if (!dt.isValid()) return QVariant(QMetaType::fromType<QString>());
        return dt.toString(canonicalDateTimeFormat());
    }
    QDateTime decodeDateTime(const QVariant& v) const override {
        if (!v.isValid() || v.isNull()) return QDateTime();
        return parseDateTimeText(v.toString());
    }
    bool onOpen(QSqlDatabase& db, QString* error) const override {
        QSqlQuery q(db);
        for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON",
                                   "PRAGMA busy_timeout=5000"}) {
            if (!q.exec(QString::fromLatin1(pragma))) {
                if (error) *error = q.lastError().text();
                return false;
            }
        }
        return true;
    }
    bool setLockWait(QSqlDatabase& db, int ms, QString* error) const override {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(qMax(0, ms)))) {
            if (error) *error = q.lastError().text();
            return false;
        }
        return true;
    }
    QString beginStatement() const override { return QStringLiteral("BEGIN IMMEDIATE"); }
    bool statementSavepoints() const override { return false; }
    QString lockRowsClause() const override { return QString(); }
    QString schemaLockStatement() const override { return QString(); }
    bool isLockTimeout(const QSqlError& e) const override {
        // SQLITE_BUSY and SQLITE_LOCKED, with or without an extended code.
        bool ok = false;
        const int code = e.nativeErrorCode().toInt(&ok);
        return ok && ((code & 0xff) == 5 || (code & 0xff) == 6);
    }
    bool isDuplicateKey(const QSqlError& e) const override {
        bool ok = false;
        const int code = e.nativeErrorCode().toInt(&ok);
        // SQLITE_CONSTRAINT_PRIMARYKEY / _UNIQUE, or plain SQLITE_CONSTRAINT with its text.
        return ok &&
               (code == 1555 || code == 2067 || (code == 19 && e.databaseText().contains(QLatin1String("UNIQUE"))));
    }
    // A COMMIT refused while busy or over a deferred foreign key leaves the
    // transaction open.
    bool failedCommitEndsTransaction() const override { return false; }
};

class PostgresDialect final : public Dialect {
public:
    Kind kind() const override { return Kind::PostgreSQL; }
    QString driverName() const override { return QStringLiteral("QPSQL"); }
    // The time the statement runs (not the transaction's start), cut to the
    // second like SQLite's; "local" is the client's zone, set on every connection.
    QString currentTime() const override {
        return QStringLiteral("CAST(date_trunc('second', clock_timestamp()) AS TIMESTAMP(0) WITHOUT TIME ZONE)");
    }
    QString monthOf(const QString& expr) const override { return QStringLiteral("to_char(%1,'YYYY-MM')").arg(expr); }
    QString toBigint(const QString& expr) const override {
        return QStringLiteral("(CASE WHEN %1 ~ '^[0-9]{1,18}$' THEN CAST(%1 AS BIGINT) END)").arg(expr);
    }
    QString rightChars(const QString& expr, int n) const override {
        return QStringLiteral("right(%1,%2)").arg(expr).arg(n);
    }
    QString columnType(ColType type, int width) const override {
        switch (type) {
        case ColType::Text: return width > 0 ? QStringLiteral("VARCHAR(%1)").arg(width) : QStringLiteral("TEXT");
        case ColType::Decimal2: return QStringLiteral("NUMERIC(18,2)");
        case ColType::Whole: return QStringLiteral("BIGINT");
        case ColType::DateTime: return QStringLiteral("TIMESTAMP(0) WITHOUT TIME ZONE");
        case ColType::Identity: return QStringLiteral("BIGSERIAL PRIMARY KEY");
        }
        return QStringLiteral("TEXT");
    }
    // A BIGSERIAL's sequence knows nothing of values inserted explicitly: the
    // next default would collide with them. The sequence only ever moves
    // forward: max() sees committed rows only, and another issuer's lines not
    // yet committed may hold values past it that the sequence already gave out.
    QString identityCatchUp(const QString& table, const QString& column) const override {
        return QStringLiteral("SELECT setval(s.seq, s.top) FROM ( "
                              "SELECT pg_get_serial_sequence('%1', '%2')::regclass AS seq, "
                              "(SELECT GREATEST(max(%2), CAST(? AS BIGINT)) FROM %1) AS top ) s "
                              "WHERE s.top > COALESCE(pg_sequence_last_value(s.seq), 0)")
            .arg(table, column);
    }
    QVariant encodeDecimal(const Decimal& d) const override { return d.round2().toString(2); }
    // NUMERIC arrives as its exact text (the connection reads numbers at high
    // precision); integers from COUNT and SUM of whole numbers as integers.
    std::optional<Decimal> decodeDecimal(const QVariant& v) const override {
        if (!v.isValid() || v.isNull()) return std::nullopt;
        return Decimal::fromVariant(v);
    }
    QVariant encodeDateTime(const QDateTime& dt) const override {
        if (!dt.isValid()) return QVariant(QMetaType::fromType<QDateTime>());
        return dt.toString(canonicalDateTimeFormat());
    }
    QDateTime decodeDateTime(const QVariant& v) const override {
        if (!v.isValid() || v.isNull()) return QDateTime();
        if (v.metaType().id() == QMetaType::QDateTime) return v.toDateTime();
        return parseDateTimeText(v.toString());
    }
    bool onOpen(QSqlDatabase& db, QString* error) const override {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"))) {
            if (error) *error = q.lastError().text();
            return false;
        }
        // The database's current time is this machine's local time, as on SQLite.
        const QByteArray zone = QTimeZone::systemTimeZoneId();
        if (!zone.isEmpty()) {
            q.prepare(QStringLiteral("SELECT set_config('TimeZone', ?, false)"));
            q.addBindValue(QString::fromUtf8(zone));
            if (!q.exec()) {
                // An unknown zone name: fall back to the offset in force now.
                const int offset = QDateTime::currentDateTime().offsetFromUtc();
                q.prepare(QStringLiteral("SELECT set_config('TimeZone', ?, false)"));
                // POSIX offsets count west of Greenwich as positive.
                q.addBindValue(QStringLiteral("<LOCAL>%1%2")
                                   .arg(offset > 0 ? QStringLiteral("-") : QStringLiteral("+"))
                                   .arg(QTime(0, 0).addSecs(qAbs(offset)).toString(QStringLiteral("HH:mm"))));
                if (!q.exec()) {
                    if (error) *error = q.lastError().text();
                    return false;
                }
            }
        }
        return setLockWait(db, 5000, error);
    }
    bool setLockWait(QSqlDatabase& db, int ms, QString* error) const override {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT set_config('lock_timeout', ?, false)"));
        q.addBindValue(QString::number(qMax(0, ms)));
        if (!q.exec()) {
            if (error) *error = q.lastError().text();
            return false;
        }
        return true;
    }
    QString beginStatement() const override { return QStringLiteral("BEGIN"); }
    bool statementSavepoints() const override { return true; }
    QString lockRowsClause() const override { return QStringLiteral(" FOR UPDATE"); }
    QString schemaLockStatement() const override {
        // Any fixed key: every client that creates or upgrades the schema takes it.
        return QStringLiteral("SELECT pg_advisory_xact_lock(7302011)");
    }
    bool isLockTimeout(const QSqlError& e) const override {
        const QString code = e.nativeErrorCode();
        return code == QLatin1String("55P03") || code == QLatin1String("40P01");
    }
    bool isDuplicateKey(const QSqlError& e) const override { return e.nativeErrorCode() == QLatin1String("23505"); }
    // A COMMIT that fails rolls the transaction back; a ROLLBACK after it only
    // draws the server's warning that no transaction is in progress.
    bool failedCommitEndsTransaction() const override { return true; }
};

} // namespace

std::unique_ptr<Dialect> Dialect::forKind(Kind kind) {
    if (kind == Kind::PostgreSQL) return std::make_unique<PostgresDialect>();
    return std::make_unique<SqliteDialect>();
}

std::unique_ptr<Dialect> Dialect::forDriver(const QString& driverName) {
    return forKind(driverName == QLatin1String("QPSQL") ? Kind::PostgreSQL : Kind::SQLite);
}

} // namespace fp
