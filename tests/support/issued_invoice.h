#pragma once
// An invoice issued before the test starts: its local rows (header and lines,
// committed) and, when wanted, the tax service's copy of it.
#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "host/session.h"
#include "taxsim/service.h"

#include <QDateTime>
#include <QString>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace fp::test {

struct IssuedInvoice {
    QString fpdm = QString::fromUtf8(demo::kCode50);
    QString fphm = QStringLiteral("00000007");
    QString fpzt = QStringLiteral("1");
    QString kpr = QStringLiteral("张晓明");
    QString fkfmc = QStringLiteral("示范建筑工程有限公司");
    QString bz;
    QDateTime kprq = QDateTime(QDate(2026, 12, 9), QTime(15, 20, 5));
    QVariant drcs; // print count; null when never counted
    // (item, amount) per line; quantity 1, price = amount.
    std::vector<std::pair<QString, QString>> lines = {{QStringLiteral("餐饮服务"), QStringLiteral("120.00")},
                                                      {QStringLiteral("住宿费"), QStringLiteral("380.50")}};
};

inline void storeIssuedInvoice(Transaction& t, const Session& s, const IssuedInvoice& inv) {
    Decimal total = Decimal::fromInt(0);
    for (const auto& l : inv.lines) total = total + *Decimal::parse(l.second);
    ASSERT_TRUE(t.exec(
        QStringLiteral("INSERT INTO ptfp_fpk (fpdm, fphm, fpzlbm, swjgdm, sxh, fpzt, fkfmc, fkfzjlx, fkfzjhm, "
                       "skfmc, skfzjhm, skflxdh, hjje, bz, kpr, bcrq, kprq, drcs, userid) "
                       "VALUES (?, ?, '50', ?, ?, ?, ?, '组织机构代码', 'MA3C0001-2', ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {inv.fpdm, inv.fphm, s.gs_ssswjgdm, s.gs_sysuserid, inv.fpzt, inv.fkfmc, s.gs_sysusername, s.gs_nsrsbh,
         s.gs_nsrlxdh, QVariant::fromValue(total), inv.bz.isNull() ? QVariant() : inv.bz, inv.kpr, inv.kprq,
         inv.kprq.isValid() ? QVariant(inv.kprq) : QVariant(), inv.drcs, s.gs_userid}))
        << t.sqlerrtext.toStdString();
    for (const auto& [item, amount] : inv.lines) {
        const QVariant je = QVariant::fromValue(*Decimal::parse(amount));
        ASSERT_TRUE(
            t.exec(QStringLiteral("INSERT INTO ptfp_fpxmmx (fpdm, fphm, xmmc, mj, dj, je) VALUES (?, ?, ?, ?, ?, ?)"),
                   {inv.fpdm, inv.fphm, item, QVariant::fromValue(Decimal::fromInt(1)), je, je}))
            << t.sqlerrtext.toStdString();
    }
    ASSERT_TRUE(t.commit());
}

// The service's copy: the same header and lines with the given status.
inline void registerOnServer(taxsim::Service& service, const Session& s, const IssuedInvoice& inv,
                             const QString& status = QStringLiteral("1")) {
    taxsim::StoredInvoice stored = taxsim::StoredInvoice::create(inv.fpdm, inv.fphm);
    stored.setValue(QStringLiteral("fpzlbm"), QStringLiteral("50"));
    stored.setValue(QStringLiteral("swjgdm"), s.gs_ssswjgdm);
    stored.setValue(QStringLiteral("sxh"), s.gs_sysuserid);
    stored.setValue(QStringLiteral("fpzt"), status);
    stored.setValue(QStringLiteral("fkfmc"), inv.fkfmc);
    stored.setValue(QStringLiteral("skfmc"), s.gs_sysusername);
    stored.setValue(QStringLiteral("kpr"), inv.kpr);
    stored.setValue(QStringLiteral("bz"), inv.bz);
    if (inv.kprq.isValid()) {
        stored.setValue(QStringLiteral("kprq"), inv.kprq.toString(QStringLiteral("yyyyMMdd HH:mm:ss")));
        stored.setValue(QStringLiteral("bcrq"), inv.kprq.toString(QStringLiteral("yyyyMMdd HH:mm:ss")));
    }
    stored.setValue(QStringLiteral("drcs"), QStringLiteral("0"));
    Decimal total = Decimal::fromInt(0);
    int serial = 1;
    for (const auto& [item, amount] : inv.lines) {
        total = total + *Decimal::parse(amount);
        const int l = stored.addLine();
        stored.setLineValue(l, QStringLiteral("iserial"), QString::number(serial++));
        stored.setLineValue(l, QStringLiteral("fpdm"), inv.fpdm);
        stored.setLineValue(l, QStringLiteral("fphm"), inv.fphm);
        stored.setLineValue(l, QStringLiteral("xmmc"), item);
        stored.setLineValue(l, QStringLiteral("mj"), QStringLiteral("1"));
        stored.setLineValue(l, QStringLiteral("dj"), amount);
        stored.setLineValue(l, QStringLiteral("je"), amount);
    }
    stored.setValue(QStringLiteral("hjje"), total.toString(2));
    service.addInvoice(stored);
}

} // namespace fp::test
