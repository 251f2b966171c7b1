#pragma once
// The audit of a month against the tax service: every local invoice of the
// month and every number missing from the runs of numbers used that month is
// asked its status at the service (90239 with as_getinfo:0), and every number
// where the two disagree is listed with the kind of disagreement. A
// disagreement is then mended one by one or all at once: a status is brought
// into line as the reprint window does it, an invoice the service holds and
// this database lacks is downloaded.
//
// The audit itself writes nothing. It asks quietly (no message box per
// failure) and ends at the first exchange that gets no usable answer.
#include "host/host_services.h"
#include "services/invoice_status.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace fp {

enum class AuditKind {
    VoidedThere,  // valid here, voided at the service
    ValidThere,   // voided here, valid at the service
    UnknownThere, // stored here, not issued at the service
    MissingHere,  // a number the service holds (issued or voided) with no invoice here
    Mismatch,     // any other difference (a blank void on one side, a status the service does not name)
    Unchecked,    // a local number that cannot be asked (not eight digits, reserved text)
};
// The kind as the list shows it ("本地有效，税务机关已作废").
QString auditKindName(AuditKind kind);

struct AuditDisagreement {
    QString fpdm;
    QString fphm;
    AuditKind kind = AuditKind::Mismatch;
    QString localStatus;               // "1", "2", "3"; empty when the invoice is not stored here
    QString serverStatus;              // as the service answered ("1", "0", "-2" ...); empty when not asked
    QString localName;                 // f_get_fpzt_name, or "无" when not stored here
    QString serverName;                // f_get_fpzt_name, or the service's own text for a status it names otherwise
    QString note;                      // Unchecked: why
    std::optional<InvoiceTable> table; // where the local invoice is kept
};

struct AuditResult {
    enum class Stop {
        None,          // every number was asked
        Cancelled,     // the progress callback said stop
        Unreachable,   // an exchange got no usable answer
        Refused,       // the service refused a question (credentials, no connection), or no such month
        DatabaseError, // the local tables could not be read
    };
    int total = 0;                          // numbers to ask
    int checked = 0;                        // numbers done: answered, or found unfit to ask
    QList<AuditDisagreement> disagreements; // of the numbers checked, by code and number
    Stop stop = Stop::None;
    QString stopMessage; // what to tell the user when stop is not None
    bool complete() const { return stop == Stop::None; }
    bool agrees() const { return complete() && disagreements.isEmpty(); }
};

// Called after each answered number with the numbers done and the total (and
// once with 0 before the first); false stops the audit, keeping what was
// answered.
using AuditProgress = std::function<bool(int done, int total)>;
// Called before each request but the first; it waits as long as the pace asks.
using AuditPacer = std::function<void()>;

// A pacer that lets at most `perSecond` requests start in any second, measured
// on a monotonic timer; it sleeps the calling thread.
AuditPacer steadyPacer(int perSecond);
inline constexpr int kAuditRequestsPerSecond = 10;

struct AuditOptions {
    AuditProgress progress;                                  // empty: never stops
    AuditPacer pacer = steadyPacer(kAuditRequestsPerSecond); // empty: as fast as the service answers
};

// Whether `month` is a real month written "yyyy-MM".
bool isAuditMonth(const QString& month);

// The numbers of month `month` ("yyyy-MM") of owner `sxh`: the register's
// invoices of the month (both header tables) and, for every code, each number
// between the lowest and highest used that month that is stored nowhere here.
// Asked on the session's sqlca and the host's transport.
AuditResult auditMonth(HostServices& host, const QString& month, const QString& sxh, const AuditOptions& options = {});

// How mending one disagreement ended.
struct AuditMend {
    enum class Outcome {
        Mended,  // the local side now agrees with the service
        Agrees,  // asked again, the two agree already: nothing was done
        Left,    // the client cannot mend it; `message` says what to do
        Skipped, // the user declined (the question before it, or the replacement of a blank row)
        Failed,  // the mend failed and was rolled back; `message` says why
    };
    Outcome outcome = Outcome::Failed;
    QString message;
    bool done() const { return outcome == Outcome::Mended || outcome == Outcome::Agrees; }
};

// Mends one disagreement. The number is asked again first and its local status
// read again, so that a change made since the audit is not undone: a status is
// set to the service's (syncLocalStatus, in the invoice's own table); an
// invoice missing here, or a blank void here that the service holds as an
// invoice, is downloaded (gf_get_fp_from_remote, which asks before it replaces
// the blank row). An invoice the service does not hold is left, with advice.
// Messages are returned, never shown.
AuditMend mendDisagreement(HostServices& host, const AuditDisagreement& disagreement);

// Mends each in turn; `ask`, when set, is asked before each (false: Skipped).
// An unreachable service ends the run: the rest are Failed with the same
// message. One result per disagreement, in their order.
QList<AuditMend> mendAll(HostServices& host, const QList<AuditDisagreement>& disagreements,
                         const std::function<bool(const AuditDisagreement&)>& ask = {});

} // namespace fp
