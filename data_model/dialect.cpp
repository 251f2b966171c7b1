#include "data_model/dialect.h"

#include <QSqlError>
#include <QSqlQuery>

namespace fp {
namespace {

QDateTime parseDateTimeText(const QString& s) {
    const QString t = s.trimmed();
    if (t.isEmpty()) return QDateTime();
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
    QString toBigint(const QString& expr) const override { return QStringLiteral("CAST(%1 AS INTEGER)").arg(expr); }
    QString rightChars(const QString& expr, int n) const override { return QStringLiteral("substr(%1,-%2)").arg(expr).arg(n); }
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
    QVariant encodeDecimal(const Decimal& d) const override { return QVariant(qlonglong(d.toCents())); }
    std::optional<Decimal> decodeDecimal(const QVariant& v) const override {
        if (!v.isValid() || v.isNull()) return std::nullopt;
        bool ok = false;
        const qlonglong cents = v.toLongLong(&ok);
        if (ok && (v.metaType().id() == QMetaType::LongLong || v.metaType().id() == QMetaType::Int ||
                   !v.toString().contains(u'.')))
            return Decimal::fromCents(cents);
        return Decimal::fromVariant(v);  // a text or real written by another tool
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
};

class PostgresDialect final : public Dialect {
public:
    Kind kind() const override { return Kind::PostgreSQL; }
    QString driverName() const override { return QStringLiteral("QPSQL"); }
    QString currentTime() const override { return QStringLiteral("LOCALTIMESTAMP(0)"); }
    QString monthOf(const QString& expr) const override { return QStringLiteral("to_char(%1,'YYYY-MM')").arg(expr); }
    QString toBigint(const QString& expr) const override { return QStringLiteral("CAST(%1 AS BIGINT)").arg(expr); }
    QString rightChars(const QString& expr, int n) const override { return QStringLiteral("right(%1,%2)").arg(expr).arg(n); }
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
    QVariant encodeDecimal(const Decimal& d) const override { return d.toString(2); }
    std::optional<Decimal> decodeDecimal(const QVariant& v) const override {
        if (!v.isValid() || v.isNull()) return std::nullopt;
        return Decimal::parse(v.toString());
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
        return true;
    }
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
