// The invoice register: invoices of both header tables chosen by month or
// range and the clerk's filters, and the totals of a list.
#include "services/invoice_register.h"
#include "services/monthly_summary.h"
#include "services/register_report.h"

#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

const QString kCode20 = QString::fromUtf8(demo::kCode20);

class RegisterTest : public ::testing::Test {
protected:
    void SetUp() override {
        setDemoSession(session);
        issue("00000001", QDateTime(QDate(2026, 11, 30), QTime(23, 59, 59)), {});
        issue("00000002", QDateTime(QDate(2026, 12, 1), QTime(0, 0)),
              {{QStringLiteral("住宿费"), QStringLiteral("280.00")}}, QStringLiteral("1"), QStringLiteral("刘芳_%"),
              QStringLiteral("李丽"));
        issue("00000003", QDateTime(QDate(2026, 12, 9), QTime(10, 0)),
              {{QStringLiteral("餐饮服务"), QStringLiteral("100.00")}}, QStringLiteral("2"));
        // A red-letter invoice reversing 00000002.
        issue("00000004", QDateTime(QDate(2026, 12, 10), QTime(9, 0)),
              {{QStringLiteral("住宿费"), QStringLiteral("-280.00")}});
        exec(QStringLiteral("UPDATE ptfp_fpk SET extprop2 = ?, extprop1 = '00000002' WHERE fphm = '00000004'"),
             {code50()});
        // A blank void: no issue date, saved on the 10th.
        exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, kpr, bcrq, fkfmc, fkfzjhm, hjje ) "
                            "VALUES ( ?, '00000005', '50', ?, '3', 'admin', ?, ' ', ' ', ? )"),
             {code50(), session.gs_sysuserid, QDateTime(QDate(2026, 12, 10), QTime(11, 0)),
              QVariant::fromValue(Decimal::fromInt(0))});
        // A real-estate invoice.
        exec(QStringLiteral("INSERT INTO bdcja_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, fkfmc, hjje, kpr, kprq, drcs ) "
                            "VALUES ( ?, '00000001', '20', ?, '1', '王强', ?, '张晓明', ?, 2 )"),
             {kCode20, session.gs_sysuserid, QVariant::fromValue(*Decimal::parse(u"1000.00")),
              QDateTime(QDate(2026, 12, 5), QTime(14, 0))});
        // Another owner's invoice never shows.
        exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, fkfmc, hjje, kpr, kprq ) "
                            "VALUES ( ?, '00000006', '50', 'other', '1', '刘芳', ?, '张晓明', ? )"),
             {code50(), QVariant::fromValue(*Decimal::parse(u"9.00")), QDateTime(QDate(2026, 12, 6), QTime(8, 0))});
        ASSERT_TRUE(db.tx().commit());
    }
    static QString code50() { return QString::fromUtf8(demo::kCode50); }
    void issue(const char* number, const QDateTime& when, std::vector<std::pair<QString, QString>> lines,
               const QString& status = QStringLiteral("1"), const QString& payer = QString(),
               const QString& issuer = QString()) {
        IssuedInvoice inv;
        inv.fphm = QString::fromLatin1(number);
        inv.kprq = when;
        inv.fpzt = status;
        if (!lines.empty()) inv.lines = std::move(lines);
        if (!payer.isEmpty()) inv.fkfmc = payer;
        if (!issuer.isEmpty()) inv.kpr = issuer;
        storeIssuedInvoice(db.tx(), session, inv);
    }
    void exec(const QString& sql, const QVariantList& binds) {
        ASSERT_TRUE(db.tx().exec(sql, binds)) << db.tx().sqlerrtext.toStdString();
    }
    QList<RegisterRow> read(const RegisterFilter& f) {
        QString error;
        const auto rows = readRegister(db.tx(), session.gs_sysuserid, f, &error);
        EXPECT_TRUE(rows.has_value()) << error.toStdString();
        return rows.value_or(QList<RegisterRow>());
    }
    // "code/number" of each row, the estate code shortened to "E".
    static QStringList numbers(const QList<RegisterRow>& rows) {
        QStringList out;
        for (const RegisterRow& r : rows)
            out << (r.fpdm == kCode20 ? QStringLiteral("E") : QString()) + r.fphm.right(1);
        return out;
    }

    TempDb db{TempDb::Content::DemoData};
    Session session;
};

TEST_F(RegisterTest, FiltersChooseTheOwnersInvoicesOfBothTables) {
    const auto december = [] {
        RegisterFilter f;
        f.month = QStringLiteral("2026-12");
        return f;
    };
    struct Case {
        const char* name;
        std::function<void(RegisterFilter&)> set;
        QStringList expected;
    };
    const Case cases[] = {
        {"the month", [](RegisterFilter&) {}, {"2", "3", "4", "5", "E1"}},
        {"last month", [](RegisterFilter& f) { f.month = QStringLiteral("2026-11"); }, {"1"}},
        {"a range across the month's turn, both days included",
         [](RegisterFilter& f) {
             f.month.clear();
             f.from = QDate(2026, 11, 30);
             f.to = QDate(2026, 12, 1);
         },
         {"1", "2"}},
        {"valid", [](RegisterFilter& f) { f.status = QStringLiteral("1"); }, {"2", "4", "E1"}},
        {"blank-voided", [](RegisterFilter& f) { f.status = QStringLiteral("3"); }, {"5"}},
        {"red-letter only", [](RegisterFilter& f) { f.sign = RegisterFilter::Sign::RedOnly; }, {"4"}},
        {"normal only", [](RegisterFilter& f) { f.sign = RegisterFilter::Sign::NormalOnly; }, {"2", "3", "5", "E1"}},
        {"kind 20", [](RegisterFilter& f) { f.kind = QStringLiteral("20"); }, {"E1"}},
        {"issuer", [](RegisterFilter& f) { f.issuer = QStringLiteral("李丽"); }, {"2"}},
        {"payer with wildcard characters taken as text",
         [](RegisterFilter& f) { f.payer = QStringLiteral("芳_%"); },
         {"2"}},
        {"payer part", [](RegisterFilter& f) { f.payer = QStringLiteral("王"); }, {"E1"}},
        {"an underscore matches only itself", [](RegisterFilter& f) { f.payer = QStringLiteral("王_"); }, {}},
        {"code and number range",
         [](RegisterFilter& f) {
             f.code = code50();
             f.numberFrom = QStringLiteral("00000003");
             f.numberTo = QStringLiteral("00000004");
         },
         {"3", "4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegisterFilter f = december();
        c.set(f);
        EXPECT_EQ(numbers(read(f)), c.expected);
    }
}

TEST_F(RegisterTest, RowsCarryWhatTheListShowsAndTotalsAddUp) {
    RegisterFilter f;
    f.month = QStringLiteral("2026-12");
    const QList<RegisterRow> rows = read(f);
    ASSERT_EQ(rows.size(), 5);
    const RegisterRow& red = rows[2];
    EXPECT_TRUE(red.red());
    EXPECT_EQ(red.reversedCode, code50());
    EXPECT_EQ(red.reversedNumber, QStringLiteral("00000002"));
    EXPECT_EQ(red.hjje, Decimal::parse(u"-280.00"));
    EXPECT_EQ(red.kindName, QStringLiteral("综合发票"));
    EXPECT_EQ(red.statusName, QStringLiteral("已开票！"));
    const RegisterRow& blank = rows[3];
    EXPECT_EQ(blank.statusName, QStringLiteral("已作废（空白）！"));
    EXPECT_EQ(blank.kprq, QDateTime(QDate(2026, 12, 10), QTime(11, 0)));
    const RegisterRow& estate = rows[4];
    EXPECT_EQ(estate.kindName, QStringLiteral("不动产发票"));
    EXPECT_EQ(estate.fkfmc, QStringLiteral("王强"));
    EXPECT_EQ(estate.drcs, 2);
    EXPECT_FALSE(estate.red());

    const RegisterTotals t = registerTotals(rows);
    EXPECT_EQ(t.valid, 3);
    EXPECT_EQ(t.voided, 1);
    EXPECT_EQ(t.blankVoided, 1);
    EXPECT_EQ(t.normalSum, *Decimal::parse(u"1280.00"));
    EXPECT_EQ(t.redSum, *Decimal::parse(u"-280.00"));
    EXPECT_EQ(t.net(), *Decimal::parse(u"1000.00"));
}

TEST_F(RegisterTest, TheMonthlySummaryAddsUpPerCodeAndBatch) {
    QString error;
    const auto december = readMonthlySummary(db.tx(), session.gs_sysuserid, QStringLiteral("2026-12"), &error);
    ASSERT_TRUE(december) << error.toStdString();
    ASSERT_EQ(december->lines.size(), 2);
    const SummaryLine& c50 = december->lines[0].fpdm == code50() ? december->lines[0] : december->lines[1];
    const SummaryLine& c20 = december->lines[0].fpdm == code50() ? december->lines[1] : december->lines[0];
    // 2 valid, 3 voided, 4 red-letter reversing 2, 5 blank-voided; 1 is November's.
    EXPECT_EQ(c50.firstNumber, QStringLiteral("00000002"));
    EXPECT_EQ(c50.lastNumber, QStringLiteral("00000005"));
    EXPECT_EQ(c50.kindName, QStringLiteral("综合发票"));
    EXPECT_EQ(std::make_tuple(c50.issued, c50.voided, c50.blankVoided, c50.red), std::make_tuple(3, 1, 1, 1));
    EXPECT_EQ(c50.normalSum, *Decimal::parse(u"280.00"));
    EXPECT_EQ(c50.redSum, *Decimal::parse(u"-280.00"));
    EXPECT_EQ(c50.net(), Decimal::fromInt(0));
    EXPECT_EQ(std::make_tuple(c20.issued, c20.voided, c20.blankVoided, c20.red), std::make_tuple(1, 0, 0, 0));
    EXPECT_EQ(c20.normalSum, *Decimal::parse(u"1000.00"));
    EXPECT_EQ(december->total().net(), *Decimal::parse(u"1000.00"));

    // Batches: the demo's four, each with what was left at the month's end;
    // another owner's use of a number of the code is no use of this stock.
    QStringList batches;
    for (const SummaryBatch& b : december->batches)
        batches << QStringLiteral("%1 %2-%3 size %4 used %5 left %6")
                       .arg(b.fpzlbm, b.firstNumber, b.lastNumber)
                       .arg(b.size)
                       .arg(b.usedInMonth)
                       .arg(b.left);
    EXPECT_EQ(batches.filter(QStringLiteral("50 00000001-00000100")),
              QStringList{QStringLiteral("50 00000001-00000100 size 100 used 4 left 95")});
    EXPECT_EQ(batches.filter(QStringLiteral("20 ")),
              QStringList{QStringLiteral("20 00000001-00000050 size 50 used 1 left 49")});
    EXPECT_EQ(december->batches.size(), 4);

    const auto november = readMonthlySummary(db.tx(), session.gs_sysuserid, QStringLiteral("2026-11"), &error);
    ASSERT_TRUE(november) << error.toStdString();
    ASSERT_EQ(november->lines.size(), 1);
    EXPECT_EQ(november->lines[0].normalSum, *Decimal::parse(u"500.50"));

    for (const char* bad : {"2026-13", "2026-1", "26-12", "2026-12-01", ""}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(readMonthlySummary(db.tx(), session.gs_sysuserid, QString::fromLatin1(bad), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("无效"))) << error.toStdString();
        RegisterFilter f;
        f.month = QString::fromLatin1(bad);
        if (!f.month.isEmpty()) {
            EXPECT_FALSE(readRegister(db.tx(), session.gs_sysuserid, f, &error));
        }
    }
}

TEST_F(RegisterTest, ReportsCarryTheListAndTheSummaryAsText) {
    RegisterFilter f;
    f.month = QStringLiteral("2026-12");
    f.sign = RegisterFilter::Sign::RedOnly;
    const ReportTable list = registerReport(read(f), registerHeading(QStringLiteral("演示纳税人"), f));
    ASSERT_EQ(list.rows.size(), 1);
    EXPECT_EQ(list.rows[0][register_column::Number], QStringLiteral("00000004"));
    EXPECT_EQ(list.rows[0][6], QStringLiteral("-280.00"));
    EXPECT_EQ(list.rows[0][9], QStringLiteral("00000002"));
    EXPECT_EQ(list.headingLines.last(), QStringLiteral("条件：仅红字发票"));
    EXPECT_EQ(list.totalsLines,
              QStringList{QStringLiteral("共 1 份：有效 1 份，作废 0 份，空白作废 0 份；正数发票金额 0.00，"
                                         "红字发票金额 -280.00，净额 -280.00")});

    QString error;
    const auto summary = readMonthlySummary(db.tx(), session.gs_sysuserid, QStringLiteral("2026-12"), &error);
    ASSERT_TRUE(summary);
    const ReportTable table = summaryReport(*summary, summaryHeading(QStringLiteral("演示纳税人"), summary->month));
    // Four codes with stock (one line each), each followed by its batch.
    ASSERT_EQ(table.rows.size(), 8);
    for (const QStringList& row : table.rows) EXPECT_EQ(row.size(), table.columns.size());
    EXPECT_TRUE(table.totalsLines.first().endsWith(QStringLiteral("净额 1000.00；剩余 244 份")))
        << table.totalsLines.first().toStdString();
}

} // namespace
} // namespace fp::test
