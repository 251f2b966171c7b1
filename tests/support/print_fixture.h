#pragma once
// Invoices for printing tests: a header of the demo taxpayer with its item
// lines written straight into the database, and the print form read back.
#include "data_model/data_store.h"
#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace fp::test {

struct PrintLine {
    const char* xmmc;
    const char* mj;
    const char* dj;
    const char* je;
};

inline QVariant decimalValue(const char* v) { return QVariant::fromValue(*Decimal::parse(QString::fromLatin1(v))); }

// An invoice of the demo code 237020000001, saved and issued 2009-03-01 08:05:09
// by 张晓明, the demo taxpayer as payee.
inline void insertPrintInvoice(Transaction& tx, const QString& fphm, const QString& fpzt, const char* total,
                               const QString& payer, std::initializer_list<PrintLine> lines) {
    const QDateTime saved(QDate(2009, 3, 1), QTime(8, 5, 9));
    const QString code = QString::fromLatin1(demo::kCode50);
    ASSERT_TRUE(tx.exec(
        QStringLiteral("INSERT INTO ptfp_fpk (fpdm, fphm, fpzlbm, swjgdm, sxh, fpzt, fkfmc, fkfzjlx, fkfzjhm, skfmc, "
                       "skfzjlx, skfzjhm, hjje, kpr, bcrq, kprq, drcs) "
                       "VALUES (?, ?, '50', ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0)"),
        {code, fphm, QString::fromLatin1(demo::kSwjgdm), QString::fromLatin1(demo::kSxh), fpzt, payer,
         QStringLiteral("纳税人识别号"), QStringLiteral("370203198001011234"), QString::fromUtf8(demo::kTaxpayerName),
         QStringLiteral("纳税人识别号"), QString::fromLatin1(demo::kNsrsbh), decimalValue(total),
         QStringLiteral("张晓明"), saved, saved}))
        << tx.sqlerrtext.toStdString();
    // iserial numbers every line of the table in the order written
    for (const PrintLine& l : lines)
        ASSERT_TRUE(tx.exec(
            QStringLiteral("INSERT INTO ptfp_fpxmmx (fpdm, fphm, xmmc, mj, dj, je) "
                           "VALUES (?, ?, ?, ?, ?, ?)"),
            {code, fphm, QString::fromUtf8(l.xmmc), decimalValue(l.mj), decimalValue(l.dj), decimalValue(l.je)}))
            << tx.sqlerrtext.toStdString();
}

// The print form d_fp_integrated_print retrieved for a number of the demo code.
inline std::unique_ptr<DataStore> retrievePrintForm(Transaction& tx, const QString& fphm) {
    auto p = makeStore(QStringLiteral("d_fp_integrated_print"), tx);
    EXPECT_GE(p->retrieve({QString::fromLatin1(demo::kSxh), QString::fromLatin1(demo::kCode50), fphm}), 1)
        << p->lastError().toStdString();
    return p;
}

// A known invoice: three lines, 1,234.50 in all, payer 青岛海滨餐饮有限公司.
inline std::unique_ptr<DataStore> knownPrintInvoice(Transaction& tx, const QString& fphm = QStringLiteral("00000011")) {
    insertPrintInvoice(tx, fphm, QStringLiteral("1"), "1234.50", QStringLiteral("青岛海滨餐饮有限公司"),
                       {{"餐饮服务", "2.00", "300.00", "600.00"},
                        {"住宿费", "1.00", "580.00", "580.00"},
                        {"停车费", "3.00", "18.17", "54.50"}});
    return retrievePrintForm(tx, fphm);
}

// An invoice of `lines` item lines "项目1", "项目2"... of 10.00 each, paid by 刘芳.
inline std::unique_ptr<DataStore> printInvoiceOfLines(Transaction& tx, const QString& fphm, int lines) {
    insertPrintInvoice(tx, fphm, QStringLiteral("1"), "0.00", QStringLiteral("刘芳"), {});
    for (int i = 1; i <= lines; ++i)
        EXPECT_TRUE(tx.exec(QStringLiteral("INSERT INTO ptfp_fpxmmx (fpdm, fphm, xmmc, mj, dj, je) "
                                           "VALUES (?, ?, ?, ?, ?, ?)"),
                            {QString::fromLatin1(demo::kCode50), fphm, QStringLiteral("项目%1").arg(i),
                             decimalValue("1.00"), decimalValue("10.00"), decimalValue("10.00")}))
            << tx.sqlerrtext.toStdString();
    return retrievePrintForm(tx, fphm);
}

} // namespace fp::test
