#pragma once
// The local status of an invoice brought into line with the tax service's, as
// the reprint and void windows do when they look an invoice up and as the
// month's audit mends a status that differs.
#include <QString>

namespace fp {

class Transaction;

// The header table an invoice is kept in: the integrated invoices (and every
// blank void) in ptfp_fpk, the real-estate and building invoices in bdcja_fpk.
enum class InvoiceTable { Integrated, Estate };
QString headerTableName(InvoiceTable table);

// Sets the local status `local` of invoice `code`/`number` in `table` to the
// service's `server`, in a transaction of its own. Nothing to do (true) when
// the invoice is not stored here (`local` "0"), the two agree, or the service's
// status has no name. A failed update or commit is rolled back and false, with
// the message to show in `error`.
[[nodiscard]] bool syncLocalStatus(Transaction& t, InvoiceTable table, const QString& code, const QString& number,
                                   const QString& local, const QString& server, QString* error);

} // namespace fp
