// The demo database: written whole or not at all, and its stock is what the
// windows expect (a code whose purchase was returned is in stock but not offered).
#include "data_model/demo_constants.h"
#include "data_model/demo_data.h"
#include "data_model/transaction.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

TEST(DemoData, CreatesTheDemoTaxpayerData) {
    test::TempDb db(test::TempDb::Content::DemoData);
    Transaction& t = db.tx();
    const std::pair<const char*, int> counts[] = {{"bm_bdcja_swjg", 2}, {"b_emp", 3},         {"b_corp", 3},
                                                  {"tbl_pm", 4},        {"bm_bdcja_fpzl", 4}, {"bm_bdcja_fpdm", 4},
                                                  {"bdcja_fplg", 4},    {"bdcja_sgtp", 1},    {"b_user_right", 4}};
    for (const auto& [table, n] : counts) EXPECT_EQ(test::tableRows(t, QString::fromLatin1(table)).size(), n) << table;

    const auto issuers =
        t.selectAll(QStringLiteral("SELECT ccode, cname FROM b_emp WHERE department = ? AND sxh = ? ORDER BY ccode"),
                    {"KPRY", QString::fromLatin1(demo::kSxh)});
    ASSERT_EQ(issuers.size(), 2);
    EXPECT_EQ(issuers[0][1].toString(), QStringLiteral("张晓明"));

    const auto price =
        t.selectAll(QStringLiteral("SELECT price FROM tbl_pm WHERE pmmc = ?"), {QStringLiteral("复印费")});
    ASSERT_EQ(price.size(), 1);
    EXPECT_EQ(t.decimalAt(price[0][0]), Decimal::fromCents(10));

    const auto kinds =
        t.selectAll(QStringLiteral("SELECT fpzlbm, fpqc FROM bm_bdcja_fpzl WHERE kplx = ? ORDER BY fpzlbm"), {"2"});
    ASSERT_EQ(kinds.size(), 3);
    EXPECT_EQ(kinds[2][1].toString(), QStringLiteral("综合统一发票"));

    // an unused range: empty (not null) last-used number, open
    const auto open = t.selectAll(QStringLiteral("SELECT zjsyh, bjbz FROM bdcja_fplg WHERE fpdm = ?"),
                                  {QString::fromLatin1(demo::kCode50)});
    ASSERT_EQ(open.size(), 1);
    EXPECT_FALSE(open[0][0].isNull());
    EXPECT_EQ(open[0][0].toString(), QString());
    EXPECT_EQ(open[0][1].toString(), QStringLiteral("0"));
}

TEST(DemoData, ReturnedStockIsInStockButNotOffered) {
    test::TempDb db(test::TempDb::Content::DemoData);
    Transaction& t = db.tx();
    const auto inStock =
        t.selectAll(QStringLiteral("SELECT DISTINCT fpdm FROM bdcja_fplg WHERE sxh = ? AND bjbz = ? ORDER BY fpdm"),
                    {QString::fromLatin1(demo::kSxh), "0"});
    QStringList stock;
    for (const auto& r : inStock) stock << r[0].toString();
    EXPECT_TRUE(stock.contains(QString::fromLatin1(demo::kCode50Returned)));

    // the invoice-code list: open batches not overlapped by a returned range of
    // the same purchase, of kinds issued by the taxpayer
    const auto offered = t.selectAll(
        QStringLiteral("SELECT DISTINCT b.fpdm FROM bdcja_fplg b JOIN bm_bdcja_fpzl a ON a.fpzlbm = b.fpzlbm "
                       "WHERE b.sxh = ? AND b.bjbz = ? AND a.kplx = ? AND NOT EXISTS (SELECT 1 FROM bdcja_sgtp s "
                       "WHERE s.lglsh = b.lglsh AND s.fpzlbm = b.fpzlbm AND s.fpdm = b.fpdm "
                       "AND s.tpqh <= b.fpzh AND s.tpzh >= b.fpqh) ORDER BY b.fpdm"),
        {QString::fromLatin1(demo::kSxh), "0", "2"});
    QStringList codes;
    for (const auto& r : offered) codes << r[0].toString();
    EXPECT_EQ(codes, (QStringList{QString::fromLatin1(demo::kCode50), QString::fromLatin1(demo::kCode20),
                                  QString::fromLatin1(demo::kCode40)}));
}

TEST(DemoData, SecondRunFailsAndLeavesTheDatabaseUnchanged) {
    test::TempDb db(test::TempDb::Content::DemoData);
    const QString before = test::snapshot(db.tx());
    QString error;
    EXPECT_FALSE(createDemoData(db.tx(), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("bm_bdcja_swjg: "))) << error.toStdString();
    EXPECT_FALSE(db.tx().inTransaction());
    EXPECT_EQ(test::snapshot(db.tx()), before);
}

} // namespace
} // namespace fp
