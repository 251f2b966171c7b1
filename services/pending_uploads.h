#pragma once
// Saves whose upload (procedure 11633) is not confirmed: the record a save
// writes before its transaction, the question to the tax service whether it
// holds an invoice with our content, and the settling of the records that a
// crash or a lost reply left behind.
#include "host/host_services.h"
#include "services/invoice_fetch.h"

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

// One unconfirmed upload.
struct PendingUpload {
    QString fpdm;
    QString fphm;
    QString fpzlbm;
    QString sxh;      // the taxpayer's owner account
    QString userid;   // the session's user, whose start settles it
    QString username; // written as kpr of the log row when completed
    QString kpr;      // the issuer
    QString digest;   // contentDigest of what was uploaded
};

// Writes `record` in a transaction of its own and commits it, replacing a
// record of the same number. False with the database's text in `error`.
bool recordPendingUpload(Transaction& t, const PendingUpload& record, QString* error);
// Deletes the record of a number inside the caller's transaction (opening it).
bool deletePendingUpload(Transaction& t, const QString& fpdm, const QString& fphm);
// The records of a user of an owner account, oldest first.
QList<PendingUpload> pendingUploadsOf(Transaction& t, const QString& sxh, const QString& userid);

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

// Settles every record of the session's user: the service holds the invoice
// with the recorded content -> it is stored locally (header, lines, the stock
// record's last-used number, a log row) and the record dropped, in one
// transaction; it holds the number with other content -> said so, the number
// marked used in the stock and the record dropped; it does not hold it ->
// record dropped; the service cannot be reached -> every record kept and one
// message said. Each settled invoice is named in a message.
struct ReconcileResult {
    int completed = 0; // stored locally
    int dropped = 0;   // absent at the service, or issued there with other content
    int kept = 0;      // left for later (service unreachable, or a database failure)
};
ReconcileResult gf_reconcile_pending_uploads(HostServices& host);

} // namespace fp
