#pragma once
// The stock record's last-used number (bdcja_fplg.zjsyh) when an invoice is
// saved. Several issuers save numbers of one batch in any order, so the record
// keeps the highest number saved: a lower number saved later never moves it
// back (which would offer a used number again).
#include <QString>

namespace fp {

class Transaction;

// Marks `number` used in the batch of code `code` and kind `kind` that holds
// it, inside the caller's transaction (opening it). On PostgreSQL the batch's
// row stays locked until the transaction ends, so another save of the same
// batch waits for it and saves of other batches do not. Returns the
// transaction's result (sqlcode, sqlerrtext).
[[nodiscard]] bool recordNumberUsed(Transaction& t, const QString& code, const QString& kind, const QString& number);

} // namespace fp
