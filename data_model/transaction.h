#pragma once
// sqlca: the database transaction every command runs on.
//
// Each statement reports through sqlcode (0 success, 100 no row, -1 error),
// sqlerrtext and sqlnrows. A write opens a transaction when none is open; the
// command that wrote ends it with exactly one commit() or rollback(). TxGuard
// rolls back whatever a command leaves open when it returns early.
//
// Values are always bound: statements carry '?' placeholders. A bound Decimal or
// QDateTime is stored in the engine's canonical form (see Dialect).
#include "data_model/dialect.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <functional>
#include <list>
#include <memory>

namespace fp {

// Makes chosen statements fail as a full disk or a lost connection would. Only
// tests install one (tests/support/statement_faults.h); a transaction without
// one runs every statement.
class StatementFaults {
public:
    virtual ~StatementFaults() = default;
    // The error `sql` is to fail with, or an empty text to run it. A commit is
    // asked for as "COMMIT".
    virtual QString failureFor(const QString& sql) = 0;
};

struct DatabaseConfig {
    QString driver = QStringLiteral("QSQLITE"); // or "QPSQL"
    QString database;                           // SQLite file, or PostgreSQL database name
    QString host;
    int port = 0;
    QString user;
    QString password;
    QString options; // PostgreSQL connection parameters, "name=value;..." (sslmode=require)
};

class Transaction {
public:
    // Opens a connection of its own (a unique Qt connection name).
    static std::unique_ptr<Transaction> open(const DatabaseConfig& config, QString* error);
    static std::unique_ptr<Transaction> openSqlite(const QString& path, QString* error) {
        DatabaseConfig c;
        c.database = path;
        return open(c, error);
    }
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    QSqlDatabase& db() { return db_; }
    const Dialect& dialect() const { return *dialect_; }
    QString connectionName() const { return connectionName_; }

    // The result of the last statement, read as sqlca.sqlcode: 0 success, 100
    // no row, -1 error. Written by the transaction itself and, for a whole
    // update, by the form engine (FormEngineAccess).
    const int& sqlcode = sqlcode_;
    const QString& sqlerrtext = sqlerrtext_;
    const int& sqlnrows = sqlnrows_;

    // What the form engine may write: an update it refused before any
    // statement ran, and the success of a whole update.
    class FormEngineAccess {
        friend class DataStore;
        FormEngineAccess() = default;
    };
    void reportRefusal(FormEngineAccess, const QString& text) { setError(text); }
    void reportSuccess(FormEngineAccess) {
        sqlcode_ = 0;
        sqlerrtext_.clear();
    }

    // Runs one statement. Returns true on success (sqlcode 0; a SELECT that finds no
    // row sets 100 but still returns true). The query stays readable via lastQuery().
    //
    // Statements are prepared once per connection and kept, keyed by their text
    // (the kStatementCacheSize most recently used); a repeated statement is only
    // bound again and run.
    [[nodiscard]] bool exec(const QString& sql, const QVariantList& binds = {});
    // The statement that ran last. It is valid, and its rows readable, only until
    // the next exec, selectInto, selectAll, begin, commit or rollback: each of
    // them first finishes it, and the same object may be run again for the
    // same text. Read what you need before issuing the next statement.
    QSqlQuery& lastQuery() { return *current_; }

    // SELECT ... INTO: the first row's values in `out`. Returns sqlcode (0, 100, -1);
    // on 100 or -1 `out` is left as it was. The statement is finished afterwards.
    [[nodiscard]] int selectInto(const QString& sql, const QVariantList& binds, QVariantList& out);
    // All rows of a SELECT; empty on error (sqlcode -1). The statement is finished afterwards.
    [[nodiscard]] QList<QVariantList> selectAll(const QString& sql, const QVariantList& binds = {});

    static constexpr int kStatementCacheSize = 64;
    // Prepared statements currently kept (for tests and diagnostics).
    int cachedStatementCount() const { return int(cache_.size()); }

    [[nodiscard]] bool begin();
    // Locks the rows a SELECT finds until the transaction ends (opening it):
    // on PostgreSQL those rows only; on SQLite the transaction's write lock,
    // which covers the whole file. Returns sqlcode like selectAll.
    [[nodiscard]] QList<QVariantList> lockRows(const QString& select, const QVariantList& binds = {});
    [[nodiscard]] bool commit();
    [[nodiscard]] bool rollback();
    bool inTransaction() const { return inTransaction_; }

    // How long a statement waits for a lock held by another connection (another
    // issuer's save) before it fails with lockTimeoutText(). Default 5 seconds.
    [[nodiscard]] bool setLockWaitMs(int milliseconds);
    int lockWaitMs() const { return lockWaitMs_; }

    // A wait for another connection's lock, told as it goes: Waiting each time
    // a slice of the wait has run out and the statement is about to wait
    // again, Over once when a wait that was told of has ended (the lock taken
    // or the whole wait run out). The caller's thread does the waiting, so an
    // observer can show that it waits (and keep its screen painted) between
    // slices.
    enum class LockWait { Waiting, Over };
    using LockWaitObserver = std::function<void(LockWait)>;
    static constexpr int kLockWaitSliceMs = 250;
    // With an observer the engine waits in slices of `sliceMs` up to the whole
    // lockWaitMs(); without one (nullptr) in one piece, and nothing is told.
    [[nodiscard]] bool setLockWaitObserver(LockWaitObserver observer, int sliceMs = kLockWaitSliceMs);
    // Whether the last failure was such a wait running out, and whether it was a
    // duplicate key.
    bool lastErrorWasLockTimeout() const { return lockTimedOut_; }
    bool lastErrorWasDuplicateKey() const { return duplicateKey_; }
    static QString lockTimeoutText();

    QVariant encode(const QVariant& value) const;
    std::optional<Decimal> decimalAt(const QVariant& stored) const { return dialect_->decodeDecimal(stored); }
    QDateTime dateTimeAt(const QVariant& stored) const { return dialect_->decodeDateTime(stored); }

    // On SQLite the engine's wait sleeps in short steps, none longer than this,
    // so that a waiting statement goes on soon after the lock is freed.
    static constexpr int kLockStepMaxMs = 5;
    // Installed by tests only: told of each step of an SQLite lock wait, with
    // its length in milliseconds, before the step is slept. It may free the
    // lock (through another connection), never use this one.
    using LockStepHook = std::function<void(int sleepMs)>;
    void setLockStepHook(LockStepHook hook);

    // Installed by tests only; nullptr (the default) runs every statement.
    void setStatementFaults(std::shared_ptr<StatementFaults> faults) { faults_ = std::move(faults); }

private:
    // A prepared statement kept for reuse.
    struct Statement {
        QString sql;
        std::unique_ptr<QSqlQuery> query;
        bool write = false; // isWrite(sql)
        int bindCount = 0;  // values bound when it was prepared
    };
    using StatementList = std::list<Statement>;

    Transaction() = default;
    void setError(const QString& text);
    void setError(const QSqlError& error);
    // Where the engine ends a transaction at its first failed statement, a
    // savepoint before each statement lets a failure undo that statement only,
    // so that every engine goes on as SQLite does.
    bool markStatement();
    void undoStatement();
    static bool isWrite(const QString& sql);
    static bool isDefinition(const QString& sql);
    bool execOnce(const QString& sql, const QVariantList& binds);
    bool beginOnce();
    // Runs `attempt` again while it fails on another connection's lock and the
    // whole wait has not run out, telling the observer; once when there is none
    // (or inside another such run).
    bool retryWhileLocked(const std::function<bool()>& attempt);
    // The engine's own wait: a slice with an observer, else the whole wait.
    bool applyLockWait(QString* error);
    // SQLite's wait, by a busy handler of ours on the connection.
    struct SqliteWait;
    bool installSqliteWait(int milliseconds, QString* error);

    // The kept statement for `sql`, moved to the front; nullptr when none.
    Statement* findStatement(const QString& sql);
    // Keeps a newly prepared statement, dropping the least recently used one
    // when the cache is full.
    Statement& keepStatement(Statement statement);
    // Takes a statement out of the cache; it lives on as the spare query.
    void dropStatement(const QString& sql);
    // Resets the statement read last (and every kept one, when `all`), so that no
    // statement holds a read snapshot or blocks commit and rollback.
    void finishStatements(bool all);
    // lastQuery() becomes an unused query, as after commit and rollback.
    void resetCurrent();

    QSqlDatabase db_;
    QString connectionName_;
    std::unique_ptr<Dialect> dialect_;
    StatementList cache_; // most recently used first
    QHash<QString, StatementList::iterator> cacheIndex_;
    std::unique_ptr<QSqlQuery> spare_; // a query outside the cache
    QSqlQuery* current_ = nullptr;     // what lastQuery() returns
    bool inTransaction_ = false;
    bool statementMarked_ = false;
    int lockWaitMs_ = 5000;
    LockWaitObserver lockObserver_;
    int lockSliceMs_ = kLockWaitSliceMs;
    bool retrying_ = false;
    bool lockTimedOut_ = false;
    bool duplicateKey_ = false;
    int sqlcode_ = 0;
    QString sqlerrtext_;
    int sqlnrows_ = 0;
    std::shared_ptr<StatementFaults> faults_;
    // Outlives the connection it is installed on (closed in the destructor).
    std::unique_ptr<SqliteWait> sqliteWait_;
};

// Rolls back on scope exit unless the transaction was ended by commit or rollback.
class TxGuard {
public:
    explicit TxGuard(Transaction& t) : t_(t) {}
    ~TxGuard() {
        // A rollback that fails leaves nothing more to undo: the connection
        // has dropped the transaction, or the command has already reported it.
        if (t_.inTransaction()) (void)t_.rollback();
    }
    TxGuard(const TxGuard&) = delete;
    TxGuard& operator=(const TxGuard&) = delete;

private:
    Transaction& t_;
};

} // namespace fp
