#include "data_model/stock_use.h"

#include "data_model/transaction.h"

namespace fp {

bool recordNumberUsed(Transaction& t, const QString& code, const QString& kind, const QString& number) {
    // Numbers are 8-digit texts, so text order is number order.
    return t.exec(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = CASE WHEN zjsyh IS NULL OR trim(zjsyh) = '' "
                                 "OR zjsyh < ? THEN ? ELSE zjsyh END "
                                 "WHERE fpdm = ? AND fpzlbm = ? AND fpqh <= ? AND fpzh >= ?"),
                  {number, number, code, kind, number, number});
}

} // namespace fp
