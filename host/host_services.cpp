#include "host/host_services.h"

#include "data_model/transaction.h"

namespace fp {

bool HostServices::setLockWaitIndicator(LockWaitIndicator indicator) {
    return !session_.sqlca || session_.sqlca->setLockWaitObserver(std::move(indicator));
}

QString HostServices::lockWaitText() { return QStringLiteral("其他开票员正在保存同一批次的发票，请稍候……"); }

QString HostServices::f_get_right(const QString& userid, const QString& funcId) {
    const QString none = QStringLiteral("00");
    if (!session_.sqlca) return none;
    QVariantList row;
    const int rc = session_.sqlca->selectInto(
        QStringLiteral("SELECT right_code FROM b_user_right WHERE userid = ? AND funcid = ?"), {userid, funcId}, row);
    if (rc != 0 || row.isEmpty() || row.first().isNull()) return none;
    const QString code = row.first().toString().trimmed();
    return code.isEmpty() ? none : code;
}

} // namespace fp
