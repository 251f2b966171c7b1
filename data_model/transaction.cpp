#include "data_model/transaction.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>
#include <chrono>
#include <sqlite3.h>
#include <thread>

namespace fp {

// SQLite's own timed wait backs off to sleeps of 100 ms, so a statement may
// sleep on long after the lock it waits for is free. This one wakes every few
// milliseconds to try again, up to the same bound.
struct Transaction::SqliteWait {
    int boundMs = 0;
    QElapsedTimer waited;
    LockStepHook hook;

    // SQLite's busy handler: nonzero to try the lock again, 0 to give up (the
    // statement then fails with SQLITE_BUSY). `count` is 0 at the first call
    // of each wait.
    static int onBusy(void* self, int count) {
        auto* w = static_cast<SqliteWait*>(self);
        if (count == 0) w->waited.start();
        const qint64 left = w->boundMs - w->waited.elapsed();
        if (left <= 0) return 0;
        // 1 ms at first, a millisecond longer every 16 steps: a short wait is
        // noticed at once, a long one costs a few hundred wake-ups a second.
        const int step = int(std::min<qint64>({qint64(kLockStepMaxMs), qint64(1 + count / 16), left}));
        if (w->hook) w->hook(step);
        std::this_thread::sleep_for(std::chrono::milliseconds(step));
        return 1;
    }
};

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
    if (!config.options.isEmpty()) t->db_.setConnectOptions(config.options);
    // Exact amounts: NUMERIC columns are read as their text, never as a double.
    t->db_.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!t->db_.open()) {
        if (error) *error = errorText(t->db_.lastError());
        return nullptr;
    }
    QString e;
    if (!t->dialect_->onOpen(t->db_, &e)) {
        if (error) *error = e;
        return nullptr;
    }
    if (!t->applyLockWait(&e)) {
        if (error) *error = e;
        return nullptr;
    }
    t->resetCurrent();
    return t;
}

Transaction::~Transaction() {
    // Nothing is left to report to: the connection closes and ends the
    // transaction in any case.
    if (inTransaction_) (void)rollback();
    // Every statement goes before the connection does.
    finishStatements(true);
    current_ = nullptr;
    cacheIndex_.clear();
    cache_.clear();
    spare_.reset();
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

bool Transaction::isDefinition(const QString& sql) {
    static const QRegularExpression re(QStringLiteral("^\\s*(create|drop|alter)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(sql).hasMatch();
}

void Transaction::setError(const QString& text) {
    sqlcode_ = -1;
    sqlerrtext_ = text;
    sqlnrows_ = 0;
    lockTimedOut_ = false;
    duplicateKey_ = false;
}

void Transaction::setError(const QSqlError& error) {
    const bool timedOut = dialect_->isLockTimeout(error);
    setError(timedOut ? lockTimeoutText() + QStringLiteral("\r\n") + errorText(error) : errorText(error));
    lockTimedOut_ = timedOut;
    duplicateKey_ = dialect_->isDuplicateKey(error);
}

QString Transaction::lockTimeoutText() {
    return QStringLiteral("其他开票员正在使用同一数据，等待超时，本次操作未做任何更改，请稍后重试。");
}

bool Transaction::setLockWaitMs(int milliseconds) {
    const int before = lockWaitMs_;
    lockWaitMs_ = milliseconds;
    QString e;
    if (!applyLockWait(&e)) {
        lockWaitMs_ = before;
        setError(e);
        return false;
    }
    return true;
}

bool Transaction::setLockWaitObserver(LockWaitObserver observer, int sliceMs) {
    lockObserver_ = std::move(observer);
    lockSliceMs_ = std::max(1, sliceMs);
    QString e;
    if (!applyLockWait(&e)) {
        setError(e);
        return false;
    }
    return true;
}

bool Transaction::applyLockWait(QString* error) {
    const int engineWait = lockObserver_ ? std::min(lockSliceMs_, lockWaitMs_) : lockWaitMs_;
    if (dialect_->kind() == Dialect::Kind::SQLite) return installSqliteWait(engineWait, error);
    return dialect_->setLockWait(db_, engineWait, error);
}

bool Transaction::installSqliteWait(int milliseconds, QString* error) {
    const QVariant handle = db_.driver() ? db_.driver()->handle() : QVariant();
    sqlite3* const connection = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
                                    ? *static_cast<sqlite3* const*>(handle.constData())
                                    : nullptr;
    if (!connection) {
        if (error) *error = QStringLiteral("无法取得数据库连接，未能设置等待锁的时限。");
        return false;
    }
    if (!sqliteWait_) sqliteWait_ = std::make_unique<SqliteWait>();
    sqliteWait_->boundMs = std::max(0, milliseconds);
    // Replaces the handler the connection's busy_timeout set.
    if (sqlite3_busy_handler(connection, &SqliteWait::onBusy, sqliteWait_.get()) != SQLITE_OK) {
        if (error) *error = QString::fromUtf8(sqlite3_errmsg(connection));
        return false;
    }
    return true;
}

void Transaction::setLockStepHook(LockStepHook hook) {
    if (!sqliteWait_) sqliteWait_ = std::make_unique<SqliteWait>();
    sqliteWait_->hook = std::move(hook);
}

bool Transaction::retryWhileLocked(const std::function<bool()>& attempt) {
    if (!lockObserver_ || retrying_) return attempt();
    retrying_ = true;
    QElapsedTimer waited;
    waited.start();
    bool told = false;
    bool ok = false;
    for (;;) {
        ok = attempt();
        if (ok || !lockTimedOut_ || waited.elapsed() >= lockWaitMs_) break;
        told = true;
        // A copy: the observer may replace itself.
        const LockWaitObserver observer = lockObserver_;
        observer(LockWait::Waiting);
    }
    retrying_ = false;
    if (told && lockObserver_) {
        const LockWaitObserver observer = lockObserver_;
        observer(LockWait::Over);
    }
    return ok;
}

QList<QVariantList> Transaction::lockRows(const QString& select, const QVariantList& binds) {
    if (!begin()) return {};
    return selectAll(select + dialect_->lockRowsClause(), binds);
}

QVariant Transaction::encode(const QVariant& value) const {
    if (value.metaType() == QMetaType::fromType<Decimal>()) return dialect_->encodeDecimal(value.value<Decimal>());
    if (value.metaType().id() == QMetaType::QDateTime) return dialect_->encodeDateTime(value.toDateTime());
    if (value.metaType().id() == QMetaType::QString && value.isNull()) return QVariant(QMetaType::fromType<QString>());
    return value;
}

Transaction::Statement* Transaction::findStatement(const QString& sql) {
    const auto it = cacheIndex_.constFind(sql);
    if (it == cacheIndex_.constEnd()) return nullptr;
    if (*it != cache_.begin()) cache_.splice(cache_.begin(), cache_, *it);
    return &cache_.front();
}

Transaction::Statement& Transaction::keepStatement(Statement statement) {
    while (int(cache_.size()) >= kStatementCacheSize) {
        Statement& oldest = cache_.back();
        if (oldest.query.get() == current_) resetCurrent();
        cacheIndex_.remove(oldest.sql);
        cache_.pop_back();
    }
    cache_.push_front(std::move(statement));
    cacheIndex_.insert(cache_.front().sql, cache_.begin());
    return cache_.front();
}

void Transaction::dropStatement(const QString& sql) {
    const auto it = cacheIndex_.constFind(sql);
    if (it == cacheIndex_.constEnd()) return;
    const StatementList::iterator s = *it;
    cacheIndex_.erase(it);
    QSqlQuery* const oldSpare = spare_.get();
    spare_ = std::move(s->query);
    cache_.erase(s);
    if (current_ == oldSpare) current_ = spare_.get();
}

void Transaction::finishStatements(bool all) {
    if (current_ && current_->isActive()) current_->finish();
    if (!all) return;
    for (Statement& s : cache_)
        if (s.query->isActive()) s.query->finish();
}

void Transaction::resetCurrent() {
    spare_ = std::make_unique<QSqlQuery>(db_);
    current_ = spare_.get();
}

bool Transaction::exec(const QString& sql, const QVariantList& binds) {
    return retryWhileLocked([&] { return execOnce(sql, binds); });
}

bool Transaction::execOnce(const QString& sql, const QVariantList& binds) {
    sqlcode_ = 0;
    sqlerrtext_.clear();
    sqlnrows_ = 0;
    // Whatever ran before is done with: a half-read SELECT must not keep its read
    // snapshot into a write transaction, nor be re-run while still open.
    finishStatements(false);
    if (faults_) {
        if (const QString injected = faults_->failureFor(sql); !injected.isEmpty()) {
            // A failing write fails inside its transaction, as a real one would.
            if (isWrite(sql) && !inTransaction_ && !begin()) return false;
            setError(injected);
            return false;
        }
    }
    // Definitions cannot be prepared on every engine (PostgreSQL prepares only
    // queries and data changes); they take no values and run directly.
    if (binds.isEmpty() && isDefinition(sql)) {
        if (!inTransaction_ && !begin()) return false;
        if (!markStatement()) return false;
        resetCurrent();
        if (!current_->exec(sql)) {
            setError(current_->lastError());
            undoStatement();
            return false;
        }
        return true;
    }
    Statement* s = findStatement(sql);
    // A different number of values than the statement was prepared for is the
    // driver's to refuse: prepare afresh rather than leave old values bound.
    if (s && s->bindCount != binds.size()) {
        dropStatement(sql);
        s = nullptr;
    }
    const bool write = s ? s->write : isWrite(sql);
    if (write && !inTransaction_ && !begin()) return false;
    if (!markStatement()) return false;
    if (!s) {
        auto q = std::make_unique<QSqlQuery>(db_);
        if (!q->prepare(sql)) {
            setError(q->lastError());
            undoStatement();
            spare_ = std::move(q);
            current_ = spare_.get();
            return false;
        }
        s = &keepStatement(Statement{sql, std::move(q), write, int(binds.size())});
    }
    QSqlQuery& q = *s->query;
    current_ = &q;
    for (int i = 0; i < binds.size(); ++i) q.bindValue(i, encode(binds.at(i)));
    if (!q.exec()) {
        setError(q.lastError());
        undoStatement();
        // A statement that failed is not trusted again; it stays readable as lastQuery().
        dropStatement(sql);
        return false;
    }
    if (q.isSelect()) {
        sqlnrows_ = 0;
    } else {
        sqlnrows_ = q.numRowsAffected();
    }
    return true;
}

int Transaction::selectInto(const QString& sql, const QVariantList& binds, QVariantList& out) {
    if (!exec(sql, binds)) return sqlcode_;
    QSqlQuery& q = *current_;
    if (!q.next()) {
        q.finish();
        sqlcode_ = 100;
        return sqlcode_;
    }
    const int n = q.record().count();
    QVariantList row;
    row.reserve(n);
    for (int i = 0; i < n; ++i) row.append(q.value(i));
    q.finish();
    out = row;
    sqlnrows_ = 1;
    return sqlcode_;
}

QList<QVariantList> Transaction::selectAll(const QString& sql, const QVariantList& binds) {
    QList<QVariantList> rows;
    if (!exec(sql, binds)) return rows;
    QSqlQuery& q = *current_;
    const int n = q.record().count();
    while (q.next()) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i) row.append(q.value(i));
        rows.append(row);
    }
    q.finish();
    sqlnrows_ = int(rows.size());
    if (rows.isEmpty()) sqlcode_ = 100;
    return rows;
}

bool Transaction::markStatement() {
    if (!inTransaction_ || !dialect_->statementSavepoints()) return true;
    QSqlQuery q(db_);
    // The previous statement's mark goes in the same exchange as the new one.
    const QString sql = statementMarked_ ? QStringLiteral("RELEASE SAVEPOINT fp_stmt; SAVEPOINT fp_stmt")
                                         : QStringLiteral("SAVEPOINT fp_stmt");
    if (!q.exec(sql)) {
        setError(q.lastError());
        return false;
    }
    statementMarked_ = true;
    return true;
}

void Transaction::undoStatement() {
    if (!inTransaction_ || !statementMarked_) return;
    // Keep the error of the statement; only its effects go.
    QSqlQuery q(db_);
    q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT fp_stmt"));
}

bool Transaction::begin() {
    if (inTransaction_) return true;
    return retryWhileLocked([this] { return beginOnce(); });
}

bool Transaction::beginOnce() {
    finishStatements(false);
    QSqlQuery q(db_);
    if (!q.exec(dialect_->beginStatement())) {
        setError(q.lastError());
        return false;
    }
    inTransaction_ = true;
    statementMarked_ = false;
    return true;
}

bool Transaction::commit() {
    sqlcode_ = 0;
    sqlerrtext_.clear();
    if (!inTransaction_) return true;
    // SQLite refuses to end a transaction while a statement is still stepping.
    finishStatements(true);
    resetCurrent();
    // A commit refused as a full disk refuses it: the transaction stays open.
    if (faults_) {
        if (const QString injected = faults_->failureFor(QStringLiteral("COMMIT")); !injected.isEmpty()) {
            setError(injected);
            return false;
        }
    }
    if (!db_.commit()) {
        setError(db_.lastError());
        // The failure stays reported; the rollback that follows has nothing
        // to send where the engine has ended the transaction itself.
        if (dialect_->failedCommitEndsTransaction()) inTransaction_ = false;
        return false;
    }
    inTransaction_ = false;
    return true;
}

bool Transaction::rollback() {
    sqlcode_ = 0;
    sqlerrtext_.clear();
    if (!inTransaction_) return true;
    finishStatements(true);
    resetCurrent();
    inTransaction_ = false;
    if (!db_.rollback()) {
        setError(errorText(db_.lastError()));
        return false;
    }
    return true;
}

} // namespace fp
