#pragma once
// The journal of requests that change the tax service's state (upload 11633,
// void and blank void 76129, print report 98179) and are not confirmed
// locally: the record a command writes before its transaction, the question to
// the service what it holds, and the settling of the records that a crash, a
// lost reply or a failed commit left behind.
#include "host/host_services.h"
#include "services/invoice_fetch.h"
#include "services/journal_store.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace fp {

class Transaction;

// The fields of an invoice that decide whether the service's copy is the one
// a save uploaded, as text: header fpdm, fphm, sxh, fkfmc, fkfzjlx, fkfzjhm,
// hjje, bz, kpr; for each line in order xmmc, mj, dj, je. Amounts are written
// with two decimals, whatever form they arrived in; absent values are empty.
// Other fields are left out on purpose: dates, the print count and serials
// are the service's or the database's to set, and the capital-numeral total
// follows hjje.
struct InvoiceContent {
    QStringList header;
    QList<QStringList> lines;
};

// The content of an invoice as a download carries it back.
InvoiceContent contentOf(const DownloadedInvoice& invoice);
// The SHA-256 (hex) of the content's canonical text: every field followed by
// a unit separator, every line set off by a record separator.
QString contentDigest(const InvoiceContent& content);

// The request a journal record was written for (its czlx).
enum class JournalOp {
    Upload,    // "1": 11633, an invoice issued
    Print,     // "2": 98179, a print reported
    Void,      // "3": 76129 with status 2, an issued invoice voided
    BlankVoid, // "4": 76129 with status 3, an unused number voided
};

// One request to the service whose outcome is not confirmed locally yet.
struct PendingRequest {
    QString fpdm{};
    QString fphm{};
    QString fpzlbm{};
    QString sxh{};      // the taxpayer's owner account
    QString userid{};   // the session's user, whose start settles it
    QString username{}; // written as kpr of an issue's log row when completed
    QString kpr{};      // the issuer
    QString digest{};   // an upload: contentDigest of what was uploaded
    JournalOp op = JournalOp::Upload;
    qint64 dycs = 0;   // a print report: the print count after the print
    QString bz{};      // a print report: the remark of its log row
    QDateTime srvrq{}; // a blank void: the server date its blank row carries
    QString token{};   // set when written: tells this record from a later one of the same number
};

// How writing a record ended.
enum class JournalWrite {
    Written,
    Taken,   // the number has a record already: its request must be settled first
    Failed,  // the database's text in `error`
    Blocked, // writeAfterSettling: the record left there could not be settled (said)
};

// Writes `record` in a transaction of its own and commits it, giving it its
// token. A record of the same number is never replaced: another command's
// request may still be under way, or its outcome unknown.
[[nodiscard]] JournalWrite recordPendingRequest(Transaction& t, PendingRequest& record, QString* error);
// The first step of the command's own transaction (opening it): removes the
// command's record, so that the commit removes it for good, a rollback or a
// crash brings it back, and settling waits for the command to end. False on a
// database error (sqlcode -1) or when the record is gone (settled meanwhile).
[[nodiscard]] bool takePendingRequest(Transaction& t, const PendingRequest& record);
// After the command's rollback, when the service stored nothing: the record
// goes, in a transaction of its own. A failure only leaves a record that the
// next settling drops.
void dropPendingRequest(Transaction& t, const PendingRequest& record);
// The record of a number, if any.
std::optional<PendingRequest> pendingRequestOf(Transaction& t, const QString& fpdm, const QString& fphm);
// The records of a user of an owner account, oldest first.
QList<PendingRequest> pendingRequestsOf(Transaction& t, const QString& sxh, const QString& userid);
// The blank row a blank void's record stands for.
BlankInvoice blankInvoiceOf(const PendingRequest& record);
// What a command says when its number has a record it may not replace.
QString pendingRecordRefusal();
// Before a command writes its record: the record of the number that another
// command left (a lost answer, a crash, or one still running, which is waited
// for) is settled first, saying what settling found. True when the number has
// no record any more; false after a message when one stays.
[[nodiscard]] bool settleBeforeRequest(HostServices& host, const QString& fpdm, const QString& fphm);
// recordPendingRequest on the session's sqlca; a record of the number found
// there is settled first (settleBeforeRequest) and the writing tried once
// more. Taken: another command took the number meanwhile; Blocked: the record
// there stays, and settling said why.
[[nodiscard]] JournalWrite writeAfterSettling(HostServices& host, PendingRequest& record, QString* error);

// What the service says it holds under a number.
struct ServerInvoice {
    enum class Kind {
        Absent,      // not issued there (any status but 1, 2, 3)
        Present,     // issued, voided or blank-voided: `invoice` holds it
        Foreign,     // issued there for another owner account
        Unreachable, // no usable answer; `failure` says why
    };
    Kind kind = Kind::Unreachable;
    std::optional<DownloadedInvoice> invoice;
    QString failure;
};

// Asks the service for the whole invoice (90239 with as_getinfo:1) within the
// status request's time-out, showing nothing: a failed exchange or an answer
// that cannot be read is Unreachable with its text in `failure`.
ServerInvoice askServerForInvoice(HostServices& host, const QString& fpdm, const QString& fphm);

// How settling one record ended.
struct Settlement {
    enum class Outcome {
        Completed,   // the service holds the change: the local side was completed
        Dropped,     // the service does not hold it (or holds other content): record dropped
        Gone,        // no record (its command ended and removed it meanwhile)
        Unreachable, // the service could not be asked: record kept
        Failed,      // a database failure (or a command still running holds the record): record kept
        Kept,        // asked for by a command at once: the service does not hold the change (yet)
    };
    Outcome outcome = Outcome::Failed;
    QString message; // what to tell the user (empty for Gone)
    QString failure; // Unreachable: why
};

// Settles the record of one number: claims it first, in a transaction that
// waits while the command that wrote it is still running and holds it until
// the outcome is stored; then asks the service for the invoice and completes
// the local side of what the service holds, in that transaction:
// - an upload: ours there (the recorded content) -> header, lines, the stock
//   record's last-used number and the log row, in the tables of its kind;
//   other content there -> the number marked used;
// - a void: voided there -> the local status and the log row;
// - a blank void: blank-voided there -> the blank row, the stock record's
//   last-used number and the log row;
// - a print report: a print count there above ours -> that count and the log row.
// With `keepUnlessDone` (a command whose answer was just lost) a record whose
// change the service does not hold is kept (Kept): the request may still
// reach it. Shows nothing.
Settlement settlePendingRequest(HostServices& host, const QString& fpdm, const QString& fphm,
                                bool keepUnlessDone = false);

// Settles every record of the session's user, each as settlePendingRequest,
// naming each settled number in a message; the service unreachable -> every
// record kept and one message said.
struct ReconcileResult {
    int completed = 0; // stored locally
    int dropped = 0;   // absent at the service, or issued there with other content
    int kept = 0;      // left for later (service unreachable, or a database failure)
};
ReconcileResult gf_reconcile_pending_uploads(HostServices& host);

} // namespace fp
