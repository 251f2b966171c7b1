// fpdesk print and fpdesk void: the reprint and void windows driven headless,
// in this process against the simulated service, and the executable's
// handling of their options.
#include "app/window_commands.h"

#include "data_model/transaction.h"
#include "host/judge_column.h"
#include "tests/app/fpdesk_process.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

class WindowCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        installFormHostFunctions();
        server.service().setServerTime(now);
        setDemoSession(session);
        session.gs_kprmc = QStringLiteral(""); // the profile names no issuer
        session.sqlca = &db.tx();
        session.localClock = [this] { return now; };
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server.inProcessTransport());
        host->setTimeoutUnitMs(1);
        invoice.kprq = QDateTime(QDate(2026, 12, 9), QTime(15, 0));
    }
    cli::WindowCommand command(const QString& number = QStringLiteral("00000007"),
                               const QString& issuer = QStringLiteral("张晓明")) {
        return cli::WindowCommand{QString::fromUtf8(demo::kCode50), number, issuer};
    }
    QString fpzt(const QString& number) {
        QVariantList row;
        EXPECT_NE(db.tx().selectInto(QStringLiteral("SELECT fpzt FROM ptfp_fpk WHERE fphm = ?"), {number}, row), -1);
        return row.value(0).toString();
    }

    QDateTime now{QDate(2026, 12, 10), QTime(9, 30)};
    TempDb db{TempDb::Content::DemoData};
    TaxsimServer server{true};
    Session session;
    ScriptedDialogs console; // stands for the terminal: --yes / --no answers
    cli::CommandDialogs dialogs{console};
    std::unique_ptr<HostServices> host;
    IssuedInvoice invoice;
};

TEST_F(WindowCommandTest, RefusedWithoutIssuerRightOrValidCode) {
    storeIssuedInvoice(db.tx(), session, invoice);
    registerOnServer(server.service(), session, invoice);
    struct Case {
        const char* name;
        std::function<void()> arrange;
        cli::WindowCommand command;
        QString message;
    };
    const Case cases[] = {
        {"no issuer", [] {}, command(QStringLiteral("00000007"), QString()),
         QStringLiteral("未指定开票人员：请用 --issuer 指定，或在配置文件的 [host] kprmc 中设置！")},
        {"not an issuer of the taxpayer", [] {}, command(QStringLiteral("00000007"), QStringLiteral("王强")),
         QStringLiteral("“王强”不是本纳税人的开票人员！")},
        {"unknown code", [] {},
         cli::WindowCommand{QStringLiteral("999"), QStringLiteral("1"), QStringLiteral("张晓明")},
         QStringLiteral("指定的发票代码无效！")},
        {"unused number", [] {}, command(QStringLiteral("00000042")),
         QStringLiteral("当前发票还未使用，不能进行发票作废操作！")},
        {"no right",
         [&] {
             EXPECT_TRUE(db.tx().exec(QStringLiteral("UPDATE b_user_right SET right_code = '01'")));
             EXPECT_TRUE(db.tx().commit());
         },
         command(), QStringLiteral("当前用户没有发票作废的权限！")},
    };
    const QString before = snapshot(db.tx());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        console.clear();
        session.gs_kprmc = QStringLiteral("");
        c.arrange();
        EXPECT_EQ(cli::voidInvoice(*host, dialogs, c.command, false), 1);
        EXPECT_EQ(console.messages().value(0), c.message);
    }
    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("1"));
    EXPECT_EQ(server.service().voids().size(), 0u);
    (void)before;
}

TEST_F(WindowCommandTest, VoidIsConfirmedByRunningItAndCommitted) {
    storeIssuedInvoice(db.tx(), session, invoice);
    registerOnServer(server.service(), session, invoice);
    EXPECT_EQ(cli::voidInvoice(*host, dialogs, command(), false), 0);
    EXPECT_TRUE(console.questions().isEmpty());
    EXPECT_EQ(console.messages(), QStringList{QStringLiteral("发票作废成功！")});
    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("2"));
    EXPECT_EQ(server.service().statusOf(invoice.fpdm, invoice.fphm), QStringLiteral("2"));
    EXPECT_EQ(session.gs_kprmc, QStringLiteral("张晓明"));

    console.clear();
    EXPECT_EQ(cli::voidInvoice(*host, dialogs, command(QStringLiteral("42")), true), 0);
    EXPECT_EQ(fpzt(QStringLiteral("00000042")), QStringLiteral("3"));
    EXPECT_EQ(server.service().statusOf(invoice.fpdm, QStringLiteral("00000042")), QStringLiteral("3"));
}

TEST_F(WindowCommandTest, TheDownloadQuestionIsTheConsolesToAnswer) {
    registerOnServer(server.service(), session, invoice);
    console.no();
    EXPECT_EQ(cli::voidInvoice(*host, dialogs, command(), false), 1);
    EXPECT_EQ(console.questions(), QStringList{QStringLiteral("指定发票号码在本地未找到，需要到服务器上下载吗？")});
    EXPECT_TRUE(fpzt(QStringLiteral("00000007")).isEmpty());

    console.clear();
    console.yes();
    EXPECT_EQ(cli::voidInvoice(*host, dialogs, command(), false), 0);
    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("2"));
}

// A downloaded invoice with more lines than one sheet of the paper has rows:
// fpdesk print refuses it as the window does, writes no file and counts and
// reports nothing.
TEST_F(WindowCommandTest, PrintRefusesAnInvoiceLongerThanOneSheet) {
    QTemporaryDir dir;
    int number = 50;
    for (int lines : {6, 11}) {
        SCOPED_TRACE(lines);
        IssuedInvoice longer;
        longer.fphm = QStringLiteral("000000%1").arg(number++);
        longer.lines.clear();
        for (int i = 1; i <= lines; ++i)
            longer.lines.emplace_back(QStringLiteral("项目%1").arg(i), QStringLiteral("10.00"));
        registerOnServer(server.service(), session, longer);
        console.clear();
        console.yes(); // download it
        const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
        EXPECT_EQ(cli::printInvoice(*host, dialogs, command(longer.fphm), pdf, 1), 1);
        EXPECT_EQ(console.messages(),
                  QStringList{QStringLiteral("该发票有%1行项目，一张发票纸只能打印5行，没有打印！\r\n"
                                             "每张发票纸都印有自己的号码，不能接着打印到下一张上。"
                                             "请作废该发票，将项目分开重新开具，每张发票不超过5行。")
                                  .arg(lines)});
        EXPECT_FALSE(QFile::exists(pdf));
        QVariantList row;
        ASSERT_EQ(db.tx().selectInto(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fphm = ? AND czlx = '2'"),
                                     {longer.fphm}, row),
                  0);
        EXPECT_EQ(row.value(0).toLongLong(), 0); // no print logged
        ASSERT_EQ(db.tx().selectInto(QStringLiteral("SELECT count(1), max(drcs) FROM ptfp_fpk WHERE fphm = ?"),
                                     {longer.fphm}, row),
                  0);
        EXPECT_EQ(row.value(0).toLongLong(), 1); // downloaded
        EXPECT_EQ(row.value(1).toLongLong(), 0);
    }
    EXPECT_TRUE(server.service().prints().empty());
}

// ---- the executable ------------------------------------------------------

TEST(FpdeskWindowCommands, OptionsAreCheckedAndListed) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    const QString code = QString::fromUtf8(demo::kCode50);
    struct Case {
        QStringList args;
        const char* saysOnStderr;
    };
    const Case cases[] = {
        {{QStringLiteral("print"), code, QStringLiteral("1"), QStringLiteral("--database"), db}, "--pdf"},
        {{QStringLiteral("print"), code, QStringLiteral("1"), QStringLiteral("--pdf"),
          dir.filePath(QStringLiteral("a.pdf")), QStringLiteral("--copies"), QStringLiteral("0"),
          QStringLiteral("--database"), db},
         "--copies"},
        {{QStringLiteral("void"), code}, "argument"},
        {{QStringLiteral("void"), code, QStringLiteral("1"), QStringLiteral("--yes"), QStringLiteral("--no")}, "--yes"},
    };
    for (const Case& c : cases) {
        const CliRun r = fpdesk(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(u' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.saysOnStderr))) << r.err.toStdString();
    }
    const CliRun help = fpdesk({QStringLiteral("--help")});
    EXPECT_TRUE(help.out.contains(QStringLiteral("print CODE NUMBER --pdf FILE [--copies N]")));
    EXPECT_TRUE(help.out.contains(QStringLiteral("void CODE NUMBER [--blank]")));
}

TEST(FpdeskWindowCommands, VoidRunsAgainstAServiceOverHttp) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    ASSERT_EQ(fpdesk({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db,
                      QStringLiteral("--demo")})
                  .exitCode,
              0);
    TaxsimServer server(true);
    const QStringList common{QStringLiteral("--database"), db, QStringLiteral("--server"), server.baseUrl()};
    const QString code = QString::fromUtf8(demo::kCode50);

    CliRun r = fpdesk(QStringList{QStringLiteral("void"), code, QStringLiteral("42"), QStringLiteral("--blank"),
                                  QStringLiteral("--issuer"), QStringLiteral("李丽")} +
                      common);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, code + QStringLiteral(" 00000042\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("发票作废成功！")));
    EXPECT_EQ(server.service().statusOf(code, QStringLiteral("00000042")), QStringLiteral("3"));

    EXPECT_EQ(fpdesk(QStringList{QStringLiteral("void"), code, QStringLiteral("42"), QStringLiteral("--blank"),
                                 QStringLiteral("--issuer"), QStringLiteral("李丽")} +
                     common)
                  .exitCode,
              1); // already voided
    r = fpdesk(QStringList{QStringLiteral("void"), code, QStringLiteral("43"), QStringLiteral("--issuer"),
                           QStringLiteral("李丽")} +
               common);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("当前发票还未使用，不能进行发票作废操作！"))) << r.err.toStdString();
}

// Painting the PDF needs a GUI application, which the print command starts
// in its own process (offscreen).
TEST(FpdeskWindowCommands, PrintWritesTheCopiesIntoThePdfAndRecordsThePrint) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    ASSERT_EQ(fpdesk({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db,
                      QStringLiteral("--demo")})
                  .exitCode,
              0);
    installFormHostFunctions();
    TaxsimServer server(true);
    Session session;
    setDemoSession(session);
    IssuedInvoice invoice;
    {
        QString error;
        auto t = Transaction::openSqlite(db, &error);
        ASSERT_TRUE(t) << error.toStdString();
        storeIssuedInvoice(*t, session, invoice);
    }
    registerOnServer(server.service(), session, invoice);
    const QStringList common{QStringLiteral("--database"), db,
                             QStringLiteral("--server"),   server.baseUrl(),
                             QStringLiteral("--issuer"),   QStringLiteral("张晓明")};
    const QString pdf = dir.filePath(QStringLiteral("发票 7.pdf"));

    CliRun r = fpdesk(QStringList{QStringLiteral("print"), invoice.fpdm, QStringLiteral("7"), QStringLiteral("--pdf"),
                                  pdf, QStringLiteral("--copies"), QStringLiteral("2")} +
                      common);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, invoice.fpdm + QStringLiteral(" 00000007\n"));
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString bytes = QString::fromLatin1(file.readAll());
    EXPECT_EQ(bytes.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))), 2); // one page a copy
    file.close();
    const QString remark = QStringLiteral("打印次数：2|@|PDF|发票 7.pdf|@|");
    {
        QString error;
        auto t = Transaction::openSqlite(db, &error);
        QVariantList row;
        EXPECT_NE(t->selectInto(QStringLiteral("SELECT drcs FROM ptfp_fpk WHERE fphm = '00000007'"), {}, row), -1);
        EXPECT_EQ(row.value(0).toLongLong(), 2);
        EXPECT_NE(t->selectInto(QStringLiteral("SELECT bz FROM bdcja_fpk_log WHERE czlx = '2'"), {}, row), -1);
        EXPECT_EQ(row.value(0).toString(), remark);
    }
    ASSERT_EQ(server.service().prints().size(), 1u);
    EXPECT_EQ(server.service().prints()[0].bz, remark);
    EXPECT_EQ(server.service().prints()[0].dycs, QStringLiteral("0"));

    // The service refuses the report: the file is written, the print not recorded.
    QFile::remove(pdf);
    taxsim::Fault f;
    f.kind = taxsim::Fault::Kind::Refuse;
    f.text = QStringLiteral("打印信息不予接收");
    server.service().injectFault(f, 98179);
    r = fpdesk(QStringList{QStringLiteral("print"), invoice.fpdm, QStringLiteral("7"), QStringLiteral("--pdf"), pdf} +
               common);
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(pdf));
    EXPECT_TRUE(r.err.contains(QStringLiteral("打印信息不予接收"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    // A file that cannot be written: nothing printed, nothing recorded.
    r = fpdesk(QStringList{QStringLiteral("print"), invoice.fpdm, QStringLiteral("7"), QStringLiteral("--pdf"),
                           dir.filePath(QStringLiteral("no/such/dir/x.pdf"))} +
               common);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("无法打印到文件"))) << r.err.toStdString();
    EXPECT_EQ(server.service().prints().size(), 1u);
}

} // namespace
} // namespace fp::test
