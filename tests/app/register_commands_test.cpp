// fpdesk list and fpdesk summary: the register window's list and summary on
// standard output or into a file, its checks and rights; bad options write
// nothing.
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "tests/app/fpdesk_process.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/temp_db.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

// December 2026: 7 valid (500.50), 8 red-letter reversing 7 (-120.00), 9 voided;
// November: 6.
class RegisterCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fpdesk({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db,
                          QStringLiteral("--demo")})
                      .exitCode,
                  0);
        setDemoSession(session);
        QString error;
        auto t = Transaction::openSqlite(db, &error);
        ASSERT_TRUE(t) << error.toStdString();
        const auto invoice = [](const char* number, QDate day, const QString& status) {
            IssuedInvoice inv;
            inv.fphm = QString::fromLatin1(number);
            inv.fpzt = status;
            inv.kprq = QDateTime(day, QTime(10, 0));
            return inv;
        };
        storeIssuedInvoice(*t, session, invoice("00000006", QDate(2026, 11, 20), QStringLiteral("1")));
        storeIssuedInvoice(*t, session, invoice("00000007", QDate(2026, 12, 9), QStringLiteral("1")));
        IssuedInvoice red = invoice("00000008", QDate(2026, 12, 10), QStringLiteral("1"));
        red.lines = {{QStringLiteral("餐饮服务"), QStringLiteral("-120.00")}};
        storeIssuedInvoice(*t, session, red);
        ASSERT_TRUE(t->exec(
            QStringLiteral("UPDATE ptfp_fpk SET extprop2 = fpdm, extprop1 = '00000007' WHERE fphm = '00000008'")));
        IssuedInvoice voided = invoice("00000009", QDate(2026, 12, 10), QStringLiteral("2"));
        voided.fkfmc = QStringLiteral("青岛海岸酒店");
        storeIssuedInvoice(*t, session, voided);
        ASSERT_TRUE(t->commit());
    }
    CliRun run(const QString& command, const QStringList& extra) {
        return fpdesk(QStringList{command, QStringLiteral("--database"), db} + extra);
    }
    static QStringList numbersIn(const QString& text) {
        QStringList found;
        for (const char* n : {"00000006", "00000007", "00000008", "00000009"})
            if (text.contains(QString::fromLatin1(n))) found << QString::fromLatin1(n).right(1);
        return found;
    }

    QTemporaryDir dir;
    QString db = QDir(dir.path()).filePath(QStringLiteral("fp.db"));
    Session session;
};

TEST_F(RegisterCommandsTest, TheListIsTheWindowsInEveryFormat) {
    const CliRun table = run(QStringLiteral("list"), {QStringLiteral("--month"), QStringLiteral("2026-12")});
    ASSERT_EQ(table.exitCode, 0) << table.err.toStdString();
    EXPECT_EQ(numbersIn(table.out), (QStringList{"7", "8", "9"}));
    EXPECT_TRUE(table.out.contains(QStringLiteral("共 3 份：有效 2 份，作废 1 份，空白作废 0 份；正数发票金额 500.50，"
                                                  "红字发票金额 -120.00，净额 380.50")))
        << table.out.toStdString();

    struct Case {
        const char* name;
        QStringList options;
        QStringList numbers;
    };
    const Case cases[] = {
        {"voided", {"--month", "2026-12", "--status", "void"}, {"9"}},
        // The red-letter invoice names the one it reverses.
        {"red-letter", {"--month", "2026-12", "--red"}, {"7", "8"}},
        {"normal", {"--month", "2026-12", "--normal"}, {"7", "9"}},
        {"payer", {"--month", "2026-12", "--payer", "海岸"}, {"9"}},
        {"a range", {"--from", "2026-11-01", "--to", "2026-12-09"}, {"6", "7"}},
        {"a kind with none", {"--month", "2026-12", "--kind", "20"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r =
            run(QStringLiteral("list"), c.options + QStringList{QStringLiteral("--format"), QStringLiteral("csv")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.raw.startsWith("\xEF\xBB\xBF")) << "the byte order mark";
        EXPECT_EQ(numbersIn(r.out), c.numbers);
    }

    const CliRun json = run(QStringLiteral("list"), {QStringLiteral("--month"), QStringLiteral("2026-12"),
                                                     QStringLiteral("--format"), QStringLiteral("json")});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QJsonObject doc = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(doc.value(QStringLiteral("rows")).toArray().size(), 3);

    const QString file = QDir(dir.path()).filePath(QStringLiteral("十二月.xlsx"));
    const CliRun xlsx =
        run(QStringLiteral("list"), {QStringLiteral("--month"), QStringLiteral("2026-12"), QStringLiteral("--format"),
                                     QStringLiteral("xlsx"), QStringLiteral("--output"), file});
    ASSERT_EQ(xlsx.exitCode, 0) << xlsx.err.toStdString();
    EXPECT_TRUE(xlsx.out.isEmpty());
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.read(2) == "PK"); // a zip, as every workbook
}

TEST_F(RegisterCommandsTest, TheSummaryAddsUpTheMonth) {
    const CliRun r = run(QStringLiteral("summary"), {QStringLiteral("--month"), QStringLiteral("2026-12")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("合计：开具 3 份（作废 1 份，红字 1 份），空白作废 0 份；正数发票金额 "
                                              "500.50，红字发票金额 -120.00，净额 380.50；剩余 246 份")))
        << r.out.toStdString();
}

TEST_F(RegisterCommandsTest, BadOptionsAndMissingRightsWriteNothing) {
    const QString file = QDir(dir.path()).filePath(QStringLiteral("out.csv"));
    struct Case {
        const char* name;
        QString command;
        QStringList options;
        int exitCode;
        QString message;
        bool toFile = true; // the case's own options follow --format csv --output FILE
    };
    const Case cases[] = {
        {"an impossible month", "list", {"--month", "2026-13"}, 2, "月份“2026-13”无效"},
        {"a month of one digit", "summary", {"--month", "2026-1"}, 2, "月份“2026-1”无效"},
        {"no month for the summary", "summary", {}, 2, "请用 --month 指定要汇总的月份"},
        {"an impossible day", "list", {"--from", "2026-02-30", "--to", "2026-03-01"}, 2, "日期“2026-02-30”无效"},
        {"half a range", "list", {"--from", "2026-12-01"}, 2, "--from 与 --to 须同时指定"},
        {"month and range",
         "list",
         {"--month", "2026-12", "--from", "2026-12-01", "--to", "2026-12-02"},
         2,
         "只能选一种"},
        {"an unknown status", "list", {"--month", "2026-12", "--status", "open"}, 2, "未知的状态“open”"},
        {"red and normal", "list", {"--month", "2026-12", "--red", "--normal"}, 2, "只能选一个"},
        {"an unknown kind", "list", {"--month", "2026-12", "--kind", "30"}, 2, "未知的发票种类“30”"},
        {"an unknown format", "list", {"--month", "2026-12", "--format", "xls"}, 2, "未知的格式“xls”"},
        {"a workbook to the terminal", "list", {"--month", "2026-12", "--format", "xlsx"}, 2, "须用 --output", false},
        {"an unknown option", "list", {"--month", "2026-12", "--colour"}, 2, "colour"},
        {"a code not of this taxpayer", "list", {"--month", "2026-12", "--code", "999"}, 1, "不在本纳税人的发票代码中"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList toFile{QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"), file};
        const CliRun r = run(c.command, (c.toFile ? toFile : QStringList()) + c.options);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(file));
    }

    // A user who may view but not export gets the terminal's table only.
    QString error;
    auto t = Transaction::openSqlite(db, &error);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->exec(QStringLiteral("UPDATE b_user_right SET right_code = '01' WHERE funcid = '04'")));
    ASSERT_TRUE(t->commit());
    EXPECT_EQ(run(QStringLiteral("list"), {QStringLiteral("--month"), QStringLiteral("2026-12")}).exitCode, 0);
    for (const QStringList& out :
         {QStringList{QStringLiteral("--format"), QStringLiteral("csv")},
          QStringList{QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--output"), file}}) {
        const CliRun r =
            run(QStringLiteral("list"), QStringList{QStringLiteral("--month"), QStringLiteral("2026-12")} + out);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral("您没有导出发票的权限！"))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(file));
    const CliRun audit = run(QStringLiteral("audit"), {QStringLiteral("--month"), QStringLiteral("2026-12")});
    EXPECT_EQ(audit.exitCode, 1);
    EXPECT_TRUE(audit.err.contains(QStringLiteral("您没有与税务机关核对的权限！"))) << audit.err.toStdString();
}

} // namespace
} // namespace fp::test
