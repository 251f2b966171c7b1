#include "services/invoice_status.h"

#include "data_model/transaction.h"
#include "services/invoice_fetch.h"

namespace fp {

QString headerTableName(InvoiceTable table) {
    return table == InvoiceTable::Estate ? QStringLiteral("bdcja_fpk") : QStringLiteral("ptfp_fpk");
}

bool syncLocalStatus(Transaction& t, InvoiceTable table, const QString& code, const QString& number,
                     const QString& local, const QString& server, QString* error) {
    if (local == QLatin1String("0") || server == local || f_get_fpzt_name(server) == QStringLiteral("未知发票状态！"))
        return true;
    TxGuard guard(t);
    if (t.exec(QStringLiteral("UPDATE %1 SET fpzt = ? WHERE fpdm = ? AND fphm = ?").arg(headerTableName(table)),
               {server, code, number}) &&
        t.commit())
        return true;
    const QString err = t.sqlerrtext;
    (void)t.rollback(); // the failure to report is `err`
    if (error)
        *error = QStringLiteral("同步发票状态失败：\r\n本地发票状态：") + f_get_fpzt_name(local) +
                 QStringLiteral("\r\n服务器发票状态：") + f_get_fpzt_name(server) + QStringLiteral("\r\n") + err;
    return false;
}

} // namespace fp
