#include "services/journal_store.h"

#include "data_model/decimal.h"
#include "data_model/transaction.h"
#include "host/session.h"

namespace fp {

namespace {

bool insertLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh, const QString& czlx,
               const QString& kpr, const QVariant& bz) {
    return t.exec(QStringLiteral("INSERT INTO bdcja_fpk_log ( fpdm , fphm , sxh , czlx , kpr , czrq , bz ) "
                                 "VALUES ( ? , ? , ? , ? , ? , %1 , ? )")
                      .arg(t.dialect().currentTime()),
                  {fpdm, fphm, sxh, czlx, kpr, bz});
}

} // namespace

bool insertIssueLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh, const QString& kpr) {
    return insertLog(t, fpdm, fphm, sxh, QStringLiteral("1"), kpr, QVariant(QMetaType::fromType<QString>()));
}

bool insertPrintLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh, const QString& kpr,
                    const QString& bz) {
    return insertLog(t, fpdm, fphm, sxh, QStringLiteral("2"), kpr, bz);
}

bool insertVoidLog(Transaction& t, const QString& fpdm, const QString& fphm, const QString& sxh, const QString& kpr) {
    return insertLog(t, fpdm, fphm, sxh, QStringLiteral("3"), kpr, QStringLiteral("空白发票"));
}

bool insertBlankInvoice(Transaction& t, const Session& s, const BlankInvoice& b) {
    return t.exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm , fphm , fpzlbm , swjgdm , sxh , fpzt , kpr , bcrq , "
                                 "fkfmc , fkfzjhm , skfmc , skfzjhm , skflxdh , hjje ) "
                                 "VALUES ( ? , ? , ? , ? , ? , '3' , ? , ? , ' ' , ' ' , ? , ? , ? , ? )"),
                  {b.fpdm, b.fphm, b.fpzlbm, s.gs_ssswjgdm, b.sxh, b.userid, b.bcrq, s.gs_sysusername, s.gs_nsrsbh,
                   s.gs_nsrlxdh, QVariant::fromValue(Decimal::fromInt(0))});
}

bool markBlankNumberUsed(Transaction& t, const BlankInvoice& b) {
    return t.exec(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = ? WHERE fpdm = ? AND fpzlbm = ? AND fpqh <= ? "
                                 "AND fpzh >= ? AND ( zjsyh IS NULL OR TRIM( zjsyh ) = '' OR zjsyh < ? )"),
                  {b.fphm, b.fpdm, b.fpzlbm, b.fphm, b.fphm, b.fphm});
}

} // namespace fp
