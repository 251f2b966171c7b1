// The fpdesk executable's command line, run as a separate process.
#include "app/data_commands.h"
#include "data_model/schema.h"
#include "data_model/transaction.h"
#include "services/printer_offsets.h"
#include "tests/app/core_app.h"
#include "tests/support/qt_printers.h"

#include <QPrinterInfo>
#include <QProcess>
#include <QSettings>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fp {
namespace {

struct ProcessRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// `configHome`, when given, holds the user's settings (XDG_CONFIG_HOME).
ProcessRun fpdesk(const QStringList& args, const QString& configHome = QString()) {
    test::coreApp();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!configHome.isEmpty()) env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FPDESK_EXE), args);
    ProcessRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

qlonglong count(Transaction& t, const QString& table) {
    QVariantList row;
    EXPECT_NE(t.selectInto(QStringLiteral("SELECT COUNT(*) FROM ") + table, {}, row), -1);
    return row.value(0).toLongLong();
}

// A question answered without a terminal, or by --yes / --no, is shown with
// the answer taken: a command it stops does not end without a word.
TEST(ConsoleDialogs, AQuestionAnsweredWithoutAskingIsShownWithItsAnswer) {
    struct Case {
        cli::ConsoleDialogs::Preset preset;
        int answer;
        QString shown;
    };
    const QString question = QStringLiteral("被冲红发票为本月发票，确定要继续冲红吗？");
    const Case cases[] = {
        {cli::ConsoleDialogs::Preset::Ask, 2, question + QStringLiteral(" (y/n) n（没有终端可以询问，按“否”回答）\n")},
        {cli::ConsoleDialogs::Preset::No, 2, question + QStringLiteral(" (y/n) n（预设回答）\n")},
        {cli::ConsoleDialogs::Preset::Yes, 1, question + QStringLiteral(" (y/n) y（预设回答）\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        std::FILE* err = std::tmpfile();
        ASSERT_NE(err, nullptr);
        cli::ConsoleDialogs dialogs(c.preset, stdin, err, false);
        EXPECT_EQ(dialogs.question(question), c.answer);
        std::rewind(err);
        QByteArray written;
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, err)) written.append(buf, qsizetype(n));
        std::fclose(err);
        EXPECT_EQ(QString::fromUtf8(written), c.shown);
    }
}

TEST(FpdeskCli, DbInitWithDemoCreatesEveryTableAndColumn) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("sub/fp.db"));
    const ProcessRun r = fpdesk(
        {QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db, QStringLiteral("--demo")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    QString e;
    auto t = Transaction::openSqlite(db, &e);
    ASSERT_TRUE(t) << e.toStdString();
    for (const TableDef& table : schemaTables()) {
        ASSERT_TRUE(t->exec(QStringLiteral("PRAGMA table_info(%1)").arg(table.name)));
        QStringList columns;
        QSqlQuery& q = t->lastQuery();
        while (q.next()) columns << q.value(QStringLiteral("name")).toString().toLower();
        QStringList expected;
        for (const ColumnDef& c : table.columns) expected << c.name.toLower();
        EXPECT_EQ(columns, expected) << table.name.toStdString();
    }
    EXPECT_GT(count(*t, QStringLiteral("bm_bdcja_fpzl")), 0);
    EXPECT_GT(count(*t, QStringLiteral("b_emp")), 0);
    EXPECT_GT(count(*t, QStringLiteral("bdcja_fplg")), 0);
}

TEST(FpdeskCli, DbInitAgainKeepsTheDataAsItIs) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    const QStringList args{QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db,
                           QStringLiteral("--demo")};
    ASSERT_EQ(fpdesk(args).exitCode, 0);
    qlonglong before = 0;
    {
        auto t = Transaction::openSqlite(db, nullptr);
        before = count(*t, QStringLiteral("b_emp"));
    }
    const ProcessRun again = fpdesk(args);
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(again.err.isEmpty()); // says the demo data was not written again
    auto t = Transaction::openSqlite(db, nullptr);
    EXPECT_EQ(count(*t, QStringLiteral("b_emp")), before);
}

TEST(FpdeskCli, DbInitWithoutDemoLeavesTheTablesEmpty) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    ASSERT_EQ(fpdesk({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db}).exitCode, 0);
    auto t = Transaction::openSqlite(db, nullptr);
    ASSERT_TRUE(t);
    for (const TableDef& table : schemaTables()) EXPECT_EQ(count(*t, table.name), 0) << table.name.toStdString();
}

TEST(FpdeskCli, MisuseIsReportedWithAnErrorStatus) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    struct Case {
        QStringList args;
        int status;
        const char* saysOnStderr;
    };
    const Case cases[] = {
        {{QStringLiteral("db"), QStringLiteral("init")}, 2, "--database"},
        {{QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db, QStringLiteral("extra")},
         2,
         "argument"},
        {{QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--bogus")}, 2, "bogus"},
        {{QStringLiteral("frobnicate")}, 2, "unknown command"},
        {{QStringLiteral("fetch"), QStringLiteral("237020000001")}, 2, "argument"},
        {{QStringLiteral("fetch"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("--yes"),
          QStringLiteral("--no")},
         2,
         "--yes"},
        {{QStringLiteral("--profile"), dir.filePath(QStringLiteral("missing.ini")), QStringLiteral("--screenshot"),
          dir.filePath(QStringLiteral("x.png"))},
         1,
         "missing.ini"},
    };
    for (const auto& c : cases) {
        const ProcessRun r = fpdesk(c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args.join(u' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.saysOnStderr))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(db));
}

TEST(FpdeskCli, HelpListsTheCommands) {
    const ProcessRun r = fpdesk({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* c : {"--profile FILE", "--screenshot FILE", "db init --database FILE|URL [--demo]", "stock import",
                          "codes import", "fetch CODE NUMBER [--yes|--no]", "user add USERID NAME [--right CODE]",
                          "issuer add NAME", "partner add CODE NAME DOCTYPE DOCNUMBER", "item add NAME PRICE"})
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(c))) << c;
}

TEST(FpdeskCli, PrinterOffsetIsSetShownAndCheckedPerPrinter) {
    QTemporaryDir config;
    auto offset = [&](QStringList args) {
        args.prepend(QStringLiteral("offset"));
        args.prepend(QStringLiteral("printer"));
        return fpdesk(args, config.path());
    };
    const QString printer = QStringLiteral("EPSON LQ-630K");
    ProcessRun r = offset({printer});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, printer + QStringLiteral("：向下 0.0 毫米，向右 0.0 毫米\n"));

    r = offset({printer, QStringLiteral("--down"), QStringLiteral("3"), QStringLiteral("--right=-2")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, printer + QStringLiteral("：向下 3.0 毫米，向右 -2.0 毫米\n"));
    r = offset({printer, QStringLiteral("--right"), QStringLiteral("1.5")}); // down stays
    EXPECT_EQ(r.out, printer + QStringLiteral("：向下 3.0 毫米，向右 1.5 毫米\n"));
    EXPECT_TRUE(QFile::exists(config.filePath(QStringLiteral("fpdesk/fpdesk.ini"))));

    // another printer has its own; bad values are refused and change nothing
    EXPECT_EQ(offset({QStringLiteral("\\\\office\\HP")}).out,
              QStringLiteral("\\\\office\\HP：向下 0.0 毫米，向右 0.0 毫米\n"));
    for (const char* bad : {"abc", "51", "-50.5", "nan"}) {
        r = offset({printer, QStringLiteral("--down"), QString::fromLatin1(bad)});
        EXPECT_EQ(r.exitCode, 1) << bad;
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("偏移量必须是 -50 到 50 之间的毫米数："))) << r.err.toStdString();
    }
    EXPECT_EQ(offset({printer}).out, printer + QStringLiteral("：向下 3.0 毫米，向右 1.5 毫米\n"));
    EXPECT_EQ(offset({QStringLiteral(" ")}).exitCode, 1);
}

// An offset is found by the printer's exact name: a name no installed printer
// has is said at once (and kept, for a printer installed later).
TEST(FpdeskCli, PrinterOffsetWarnsOfAPrinterThatIsNotInstalled) {
    QTemporaryDir config;
    struct Case {
        QString printer;
        bool warns;
    };
    QList<Case> cases{{QStringLiteral("PDF"), false}, // the preview's PDF output
                      {QStringLiteral("EPSON LQ-630K 未安装 7f3a"), true},
                      {QStringLiteral("pdf"), true}};
    for (const QString& installed : QPrinterInfo::availablePrinterNames()) cases.append({installed, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printer.toStdString());
        for (const QStringList& extra : {QStringList{}, QStringList{QStringLiteral("--down"), QStringLiteral("2")}}) {
            const ProcessRun r = fpdesk(
                QStringList{QStringLiteral("printer"), QStringLiteral("offset"), c.printer} + extra, config.path());
            EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_TRUE(r.out.startsWith(c.printer + QStringLiteral("：向下 "))) << r.out.toStdString();
            if (c.warns)
                EXPECT_TRUE(r.err.startsWith(QStringLiteral("警告：本机没有名为“%1”的打印机").arg(c.printer)))
                    << r.err.toStdString();
            else
                EXPECT_EQ(r.err, QString());
        }
        QSettings settings(config.filePath(QStringLiteral("fpdesk/fpdesk.ini")), QSettings::IniFormat);
        EXPECT_DOUBLE_EQ(PrinterOffsets(settings).offsetFor(c.printer).down, 2.0); // kept all the same
    }
}

// A client that is running sees an offset the command sets, at its next print.
TEST(FpdeskCli, APrinterOffsetSetByTheCommandReachesARunningClient) {
    QTemporaryDir config;
    const QString printer = QStringLiteral("EPSON LQ-630K");
    QSettings settings(config.filePath(QStringLiteral("fpdesk/fpdesk.ini")), QSettings::IniFormat);
    PrinterOffsets running(settings);
    EXPECT_DOUBLE_EQ(running.offsetFor(printer).down, 0.0);
    for (const char* down : {"3", "-4.5"}) {
        const ProcessRun r = fpdesk({QStringLiteral("printer"), QStringLiteral("offset"), printer,
                                     QStringLiteral("--down"), QString::fromLatin1(down), QStringLiteral("--right=1")},
                                    config.path());
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_DOUBLE_EQ(running.offsetFor(printer).down, QString::fromLatin1(down).toDouble()) << down;
        EXPECT_DOUBLE_EQ(running.offsetFor(printer).right, 1.0) << down;
    }
}

} // namespace
} // namespace fp
