#pragma once
// Internals of taxsim::Service shared by its source files (service.cpp,
// procedures.cpp, seed.cpp, control.cpp).
//
// Threads: every write, and every read of a store in memory, runs on the one
// writer thread. A store in a file (WAL journal) also has a few reader
// threads, each with its own connection, for the procedures that only read;
// they see what the writer committed and are never held up by it, nor by one
// another. Faults, the clock, the request log and the credentials cache are
// shared by all threads and guarded by `stateMutex`.
#include "taxsim/db_thread.h"
#include "taxsim/request_text.h"
#include "taxsim/service.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

#include <QHash>

#include <sqlite3.h>

#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace taxsim {

struct DbError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A refusal of the request: its text goes to the issuer.
struct Refusal : std::runtime_error {
    explicit Refusal(const QString& refusal) : std::runtime_error(refusal.toStdString()), text(refusal) {}
    QString text;
};

inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss"; // stored dates
inline constexpr const char* kUploadDateFormat = "yyyyMMddHHmmss";    // dates in the upload
inline constexpr const char* kReplyDateFormat = "yyyyMMdd HH:mm:ss";  // dates in replies

struct TaxpayerRow {
    Taxpayer t;
    QString swjgmc;
};

struct PurchaseRow {
    QString lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq;
};

// Where a number stands: the invoice if there is one, else the purchase that
// holds it and whether it was handed back.
struct NumberInfo {
    QString status; // "1" "2" "3" "0" "-1" "-2"
    bool hasInvoice = false;
    QString invoiceSxh;
    bool sold = false;
    PurchaseRow purchase;
    bool returned = false;
};

// One database connection and the statements prepared on it, kept for reuse.
struct Connection {
    QString name;
    QSqlDatabase db;
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> statements;
    // Statements stepped through SQLite's own interface, for the scans
    // where the per-row cost of the Qt layer would dominate.
    std::unordered_map<QString, sqlite3_stmt*> rawStatements;
};

// How a request's credentials stand.
enum class Authentication { Ok, Missing, Wrong, StoreUnavailable };

struct Service::Impl {
    QString connectionName;
    QString dbPath;
    bool open = false;
    QString error;

    static constexpr int kReaderThreads = 4;
    static constexpr size_t kLogEntries = 1000;
    static constexpr qint64 kLogBytes = 8 << 20; // texts kept in the request log

    struct PendingFault {
        Fault fault;
        int procId = 0;
        int times = 1;
    };
    mutable std::mutex stateMutex;
    std::vector<PendingFault> faults;
    std::function<QDateTime()> clock;
    std::deque<LoggedRequest> log;
    qint64 logBytes = 0;
    QHash<QString, TaxpayerRow> knownTaxpayers; // credentials cache: sxh -> row

    // Writing procedures queue here; the writer runs all that are waiting in
    // one transaction, each in a savepoint of its own, and commits them
    // together before any of them is answered.
    struct WriteJob {
        std::function<QString()> work;
        QString result;
    };
    static constexpr size_t kWriteBatch = 128;
    std::mutex writeMutex;
    std::deque<WriteJob*> writeQueue;
    bool inBatch = false;       // writer thread only
    bool savepointOpen = false; // writer thread only
    // The journal of a file store is checkpointed after every kCheckpointEvery
    // commits, by a job of its own on the writer (no request waits for it),
    // and cut back to kJournalSizeLimit when it starts over.
    static constexpr int kCheckpointEvery = 32;
    static constexpr qint64 kJournalSizeLimit = 8 << 20;
    static constexpr int kBusyTimeoutMs = 5000; // a connection's wait for a lock
    int commitsSinceCheckpoint = 0;             // writer thread only
    bool checkpointQueued = false;              // writer thread only

    DbThread writer;                   // started after everything above exists
    std::unique_ptr<DbThread> readers; // file stores only; after the writer made the schema

    // --- database helpers (on a database thread) ---
    void openDb();
    void closeDb();
    void openReaders();
    void tuneConnection();
    void addLastUsedColumn();
    void refreshLastUsed(const QString& lglsh);
    Connection& connection();
    // Executes the statement prepared for `sql` (once per connection). The
    // result stays valid until the same text runs again.
    QSqlQuery& run(const QString& sql, const QVariantList& binds = {});
    void finishStatements();
    // The statement for `sql` with the texts bound, ready for sqlite3_step.
    sqlite3_stmt* runRaw(const QString& sql, const QStringList& binds);
    void begin();
    void commit();
    // Counts a commit of the writer; every kCheckpointEvery of them queues
    // a checkpoint().
    void committed();
    void checkpoint();
    void rollback();

    // Runs `f` on the writer, or for a read on a reader when there are any,
    // and resets the statements it left open.
    template <class F>
    auto onWriter(F&& f) -> std::invoke_result_t<F>;
    template <class F>
    auto onReader(F&& f) -> std::invoke_result_t<F>;

    QDateTime now() const;

    // --- lookups ---
    std::optional<TaxpayerRow> taxpayer(const QString& sxh);
    QString codeKind(const QString& fpdm);
    std::optional<PurchaseRow> purchaseHolding(const QString& fpdm, const QString& fphm);
    NumberInfo numberInfo(const QString& fpdm, const QString& fphm);
    std::optional<StoredInvoice> loadInvoice(const QString& fpdm, const QString& fphm);
    void storeInvoice(const StoredInvoice& inv, const QString& layout);
    void refuseRepeatedReversal(const StoredInvoice& inv); // throws Refusal

    // --- requests (any thread) ---
    Response handle(const Request& request);
    Authentication authenticate(const Request& request);
    void forgetTaxpayers();
    void logRequest(LoggedRequest entry);
    QString process(const Request& request, const ParsedRequest& pr, Authentication auth);
    QString runWrite(std::function<QString()> work);
    void runWriteBatch();
    // --- requests (on a database thread) ---
    QString runProcedure(const Request& request, const ParsedRequest& pr);
    QString procStatus(const QString& caller, const ParsedRequest& pr);
    QString procUpload(const QString& caller, const ParsedRequest& pr, const QString& body);
    QString procPrint(const QString& caller, const ParsedRequest& pr);
    QString procVoid(const QString& caller, const ParsedRequest& pr);
    QString procServerTime();
    QString procStock(const QString& caller);
    QString procCodes();
    QString procTaxpayer(const QString& caller);
    std::optional<Fault> takeFault(int procId);

    // --- seed (seed.cpp) ---
    void addTaxOffice(const QString& swjgdm, const QString& swjgmc);
    void addTaxpayer(const Taxpayer& t);
    void addKind(const InvoiceKind& k);
    void addCode(const QString& fpdm, const QString& fpzlbm);
    void addPurchase(const Purchase& p); // throws Refusal
    void refuseOverlap(const Purchase& p);
    void addReturn(const ReturnedRange& r); // throws Refusal
    void seedDemo();
    void seedLine(const QString& line); // throws Refusal

    // --- control (control.cpp) ---
    QString control(const QString& commands);
};

// Names of statuses as the status reply gives them.
QString statusName(const QString& status);

// A stored date "yyyy-MM-dd HH:mm:ss" as replies write it, "yyyyMMdd HH:mm:ss".
QString replyDateOfStored(const QString& stored);

template <class F>
auto Service::Impl::onWriter(F&& f) -> std::invoke_result_t<F> {
    if (writer.isOwnThread()) return f();
    return writer.call([&]() -> std::invoke_result_t<F> {
        struct Reset {
            Impl* self;
            ~Reset() { self->finishStatements(); }
        } reset{this};
        return f();
    });
}

template <class F>
auto Service::Impl::onReader(F&& f) -> std::invoke_result_t<F> {
    if (!readers || writer.isOwnThread()) return onWriter(std::forward<F>(f));
    if (readers->isOwnThread()) return f();
    return readers->call([&]() -> std::invoke_result_t<F> {
        struct Reset {
            Impl* self;
            ~Reset() { self->finishStatements(); }
        } reset{this};
        return f();
    });
}

} // namespace taxsim
