// The print form read from the database: the outer join, the identification
// number, the total in capitals and the colour rules.
#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "host/judge_column.h"
#include "host/text_helpers.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

const QString kSxh = QString::fromLatin1(demo::kSxh);
const QString kCode = QString::fromLatin1(demo::kCode50);

class PrintFormTest : public ::testing::Test {
protected:
    test::TempDb db{test::TempDb::Content::DemoData};
    Transaction& tx() { return db.tx(); }

    void header(const QString& fphm, const QString& fpzt, const char* total, const QDateTime& saved) {
        ASSERT_TRUE(tx().exec(
            QStringLiteral(
                "INSERT INTO ptfp_fpk (fpdm, fphm, fpzlbm, swjgdm, sxh, fpzt, fkfmc, hjje, kpr, bcrq, kprq, drcs) "
                "VALUES (?, ?, '50', ?, ?, ?, ?, ?, ?, ?, ?, 0)"),
            {kCode, fphm, QString::fromLatin1(demo::kSwjgdm), kSxh, fpzt, QStringLiteral("刘芳"),
             QVariant::fromValue(*Decimal::parse(QString::fromLatin1(total))), QStringLiteral("张晓明"), saved, saved}))
            << tx().sqlerrtext.toStdString();
    }
    void line(const QString& fphm, const QString& xmmc, const char* je) {
        const auto amount = QVariant::fromValue(*Decimal::parse(QString::fromLatin1(je)));
        ASSERT_TRUE(tx().exec(
            QStringLiteral("INSERT INTO ptfp_fpxmmx (fpdm, fphm, xmmc, mj, dj, je) VALUES (?, ?, ?, ?, ?, ?)"),
            {kCode, fphm, xmmc, QVariant::fromValue(Decimal::fromInt(1)), amount, amount}));
    }
    std::unique_ptr<DataStore> print(const QString& fphm, const QString& sxh = kSxh) {
        auto p = makeStore(QStringLiteral("d_fp_integrated_print"), tx());
        EXPECT_GE(p->retrieve({sxh, kCode, fphm}), 0) << p->lastError().toStdString();
        return p;
    }
    const QDateTime saved{QDate(2009, 3, 1), QTime(8, 5, 9)};
};

TEST_F(PrintFormTest, HeaderWithoutLinesYieldsOneRowWithEmptyItems) {
    header("00000001", "3", "0.00", saved);
    ASSERT_TRUE(tx().commit());
    auto p = print("00000001");
    ASSERT_EQ(p->rowCount(), 1);
    EXPECT_EQ(p->getString(1, QStringLiteral("ptfp_fpk_fphm")), QStringLiteral("00000001"));
    EXPECT_TRUE(p->isNull(1, QStringLiteral("ptfp_fpxmmx_xmmc")));
    EXPECT_TRUE(p->isNull(1, QStringLiteral("ptfp_fpxmmx_je")));
    EXPECT_FALSE(p->computed(QStringLiteral("cpt_amt")).isValid());
    EXPECT_EQ(p->describe(QStringLiteral("Evaluate('lookupdisplay(fpzt)',1)")), QStringLiteral("空白作废发票"));
}

TEST_F(PrintFormTest, OneRowPerLineInLineOrderAndOnlyForTheOwner) {
    header("00000002", "1", "6.00", saved);
    line("00000002", QStringLiteral("餐饮服务"), "1.00");
    line("00000002", QStringLiteral("住宿费"), "5.00");
    ASSERT_TRUE(tx().commit());
    auto p = print("00000002");
    ASSERT_EQ(p->rowCount(), 2);
    EXPECT_EQ(p->getString(2, QStringLiteral("ptfp_fpxmmx_xmmc")), QStringLiteral("住宿费"));
    EXPECT_EQ(p->getString(2, QStringLiteral("kpr")), QStringLiteral("张晓明"));
    EXPECT_EQ(p->computed(QStringLiteral("cpt_amt")).value<Decimal>(), Decimal::fromCents(600));
    EXPECT_EQ(p->displayText(1, QStringLiteral("kprq")), QStringLiteral("2009年03月01日"));
    EXPECT_EQ(p->displayText(2, QStringLiteral("ptfp_fpxmmx_je")), QStringLiteral("5.00"));
    // the office name is the second view of the office code, through the office list
    EXPECT_EQ(p->displayText(1, QStringLiteral("ptfp_fpk_swjgdm_1")), QString::fromUtf8(demo::kSwjgmc));
    EXPECT_EQ(print("00000002", QStringLiteral("someone-else"))->rowCount(), 0);
}

TEST_F(PrintFormTest, IdentificationNumberCountsSecondsSince1900) {
    const std::pair<QDateTime, qlonglong> cases[] = {
        {QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0)), 0},
        {QDateTime(QDate(1900, 1, 2), QTime(0, 0, 1)), 86401},
        {QDateTime(QDate(1900, 3, 1), QTime(0, 0, 0)), 59LL * 86400}, // 1900 has no 29 February
        {QDateTime(QDate(2009, 3, 1), QTime(8, 5, 9)), 39871LL * 86400 + 8 * 3600 + 5 * 60 + 9},
    };
    int n = 10;
    for (const auto& [when, expected] : cases) {
        const QString fphm = QStringLiteral("000000%1").arg(n++);
        header(fphm, "1", "1.00", when);
        auto p = print(fphm);
        ASSERT_EQ(p->rowCount(), 1);
        EXPECT_EQ(p->computed(QStringLiteral("compute_2"), 1).toLongLong(), expected) << when.toString().toStdString();
    }
}

TEST_F(PrintFormTest, TotalInCapitalsComesFromTheHostFunction) {
    header("00000003", "1", "1234.50", saved);
    line("00000003", QStringLiteral("设备维修"), "1234.50");
    auto p = print("00000003");
    installFormHostFunctions();
    EXPECT_EQ(p->computed(QStringLiteral("compute_1")).toString(), f_convert_to_big(Decimal::fromCents(123450)));
    formHostFunctions().convertToBig = nullptr;
    EXPECT_FALSE(p->computed(QStringLiteral("compute_1")).isValid());
}

TEST_F(PrintFormTest, NegativeTotalDrawsValuesRedAndStatusIsRedWhenNotValid) {
    header("00000004", "1", "-5.00", saved);
    line("00000004", QStringLiteral("住宿费"), "-5.00");
    header("00000005", "2", "5.00", saved);
    line("00000005", QStringLiteral("住宿费"), "5.00");
    auto red = print("00000004");
    for (const char* name :
         {"ptfp_fpk_fkfmc", "ptfp_fpxmmx_je", "kpr", "ptfp_fpk_swjgdm_1", "cpt_amt", "compute_1", "compute_2"})
        EXPECT_EQ(red->textColor(1, QString::fromLatin1(name)), kColourRed) << name;
    EXPECT_EQ(red->textColor(1, QStringLiteral("fpzt")), kColourBlack);

    auto voided = print("00000005");
    EXPECT_EQ(voided->textColor(1, QStringLiteral("fpzt")), kColourRed);
    EXPECT_EQ(voided->textColor(1, QStringLiteral("ptfp_fpk_fkfmc")), kColourBlack);
    // padding rows added for printing carry no status: black
    const int pad = voided->insertRow(0);
    EXPECT_EQ(voided->textColor(pad, QStringLiteral("fpzt")), kColourBlack);
}

} // namespace
} // namespace fp
