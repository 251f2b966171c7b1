#include "data_model/transaction.h"

#include <QAtomicInt>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlRecord>

namespace fp {

namespace {
QAtomicInt g_connectionCounter;

QString errorText(const QSqlError& e) {
    QString t = e.databaseText();
    if (t.isEmpty()) t = e.text();
    if (!e.driverText().isEmpty() && !t.contains(e.driverText()) && e.databaseText().isEmpty()) t = e.driverText();
    return t.trimmed();
}
} // namespace

std::unique_ptr<Transaction> Transaction::open(const DatabaseConfig& config, QString* error) {
    std::unique_ptr<Transaction> t(new Transaction());
    t->dialect_ = Dialect::forDriver(config.driver);
    t->connectionName_ = QStringLiteral("fp_sqlca_%1").arg(g_connectionCounter.fetchAndAddRelaxed(1));
    t->db_ = QSqlDatabase::addDatabase(t->dialect_->driverName(), t->connectionName_);
    t->db_.setDatabaseName(config.database);
    if (!config.host.isEmpty()) t->db_.setHostName(config.host);
    if (config.port > 0) t->db_.setPort(config.port);
    if (!config.user.isEmpty()) t->db_.setUserName(config.user);
    if (!config.password.isEmpty()) t->db_.setPassword(config.password);
    if (!t->db_.open()) {
        if (error) *error = errorText(t->db_.lastError());
        return nullptr;
    }
    QString e;
    if (!t->dialect_->onOpen(t->db_, &e)) {
        if (error) *error = e;
        return nullptr;
    }
    t->query_ = std::make_unique<QSqlQuery>(t->db_);
    return t;
}

Transaction::~Transaction() {
    if (inTransaction_) rollback();
    query_.reset();
    const QString name = connectionName_;
    if (db_.isValid()) db_.close();
    db_ = QSqlDatabase();
    if (!name.isEmpty()) QSqlDatabase::removeDatabase(name);
}

bool Transaction::isWrite(const QString& sql) {
    static const QRegularExpression re(QStringLiteral("^\\s*(insert|update|delete|replace|create|drop|alter)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(sql).hasMatch();
}

void Transaction::setError(const QString& text) {
    sqlcode = -1;
    sqlerrtext = text;
    sqlnrows = 0;
}

QVariant Transaction::encode(const QVariant& value) const {
    if (value.metaType() == QMetaType::fromType<Decimal>()) return dialect_->encodeDecimal(value.value<Decimal>());
    if (value.metaType().id() == QMetaType::QDateTime) return dialect_->encodeDateTime(value.toDateTime());
    if (value.metaType().id() == QMetaType::QString && value.isNull()) return QVariant(QMetaType::fromType<QString>());
    return value;
}

bool Transaction::exec(const QString& sql, const QVariantList& binds) {
    sqlcode = 0;
    sqlerrtext.clear();
    sqlnrows = 0;
    if (!failFragment_.isEmpty() && sql.contains(failFragment_)) {
        failFragment_.clear();
        if (isWrite(sql) && !inTransaction_) begin();
        setError(failError_);
        return false;
    }
    if (isWrite(sql) && !inTransaction_ && !begin()) return false;
    query_ = std::make_unique<QSqlQuery>(db_);
    if (!query_->prepare(sql)) {
        setError(errorText(query_->lastError()));
        return false;
    }
    for (const QVariant& b : binds) query_->addBindValue(encode(b));
    if (!query_->exec()) {
        setError(errorText(query_->lastError()));
        return false;
    }
    if (query_->isSelect()) {
        sqlnrows = 0;
    } else {
        sqlnrows = query_->numRowsAffected();
    }
    return true;
}

int Transaction::selectInto(const QString& sql, const QVariantList& binds, QVariantList& out) {
    if (!exec(sql, binds)) return sqlcode;
    if (!query_->next()) {
        sqlcode = 100;
        return sqlcode;
    }
    const int n = query_->record().count();
    QVariantList row;
    row.reserve(n);
    for (int i = 0; i < n; ++i) row.append(query_->value(i));
    out = row;
    sqlnrows = 1;
    return sqlcode;
}

QList<QVariantList> Transaction::selectAll(const QString& sql, const QVariantList& binds) {
    QList<QVariantList> rows;
    if (!exec(sql, binds)) return rows;
    const int n = query_->record().count();
    while (query_->next()) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i) row.append(query_->value(i));
        rows.append(row);
    }
    sqlnrows = int(rows.size());
    if (rows.isEmpty()) sqlcode = 100;
    return rows;
}

bool Transaction::begin() {
    if (inTransaction_) return true;
    if (!db_.transaction()) {
        setError(errorText(db_.lastError()));
        return false;
    }
    inTransaction_ = true;
    return true;
}

bool Transaction::commit() {
    sqlcode = 0;
    sqlerrtext.clear();
    if (!inTransaction_) return true;
    query_ = std::make_unique<QSqlQuery>(db_);
    if (!db_.commit()) {
        setError(errorText(db_.lastError()));
        return false;
    }
    inTransaction_ = false;
    return true;
}

bool Transaction::rollback() {
    sqlcode = 0;
    sqlerrtext.clear();
    if (!inTransaction_) return true;
    query_ = std::make_unique<QSqlQuery>(db_);
    inTransaction_ = false;
    if (!db_.rollback()) {
        setError(errorText(db_.lastError()));
        return false;
    }
    return true;
}

} // namespace fp
