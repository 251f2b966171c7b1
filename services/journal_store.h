#pragma once
// The local rows that issuing, printing and voiding write beside the invoice:
// the log rows, and the row and stock use of a blank void. The windows write
// them in their commands and settling writes the same when it completes a
// request whose answer was lost.
#include <QDateTime>
#include <QString>

namespace fp {

class Transaction;
class Session;

// Inside the caller's transaction (opening it); each returns the statement's
// result (sqlcode, sqlerrtext). The log's time is the database's current time.
// Operation 1, an invoice issued.
[[nodiscard]] bool insertIssueLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh,
                                  const QString& kpr);
// Operation 2, a print, with its remark.
[[nodiscard]] bool insertPrintLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh,
                                  const QString& kpr, const QString& bz);
// Operation 3, a void of either kind; its remark is "空白发票" for both.
[[nodiscard]] bool insertVoidLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh,
                                 const QString& kpr);

// An unused number voided.
struct BlankInvoice {
    QString fpdm;
    QString fphm;
    QString fpzlbm;
    QString sxh;    // the owner account
    QString userid; // the logged-in user, written as its kpr
    QDateTime bcrq; // the server's date
};
// Its own row: one-blank payer, the taxpayer (from the session) as payee, total 0, status 3.
[[nodiscard]] bool insertBlankInvoice(Transaction& t, const Session& s, const BlankInvoice& blank);
// The batch holding the number records it as its last used one, unless it has
// already used a higher number.
[[nodiscard]] bool markBlankNumberUsed(Transaction& t, const BlankInvoice& blank);

} // namespace fp
