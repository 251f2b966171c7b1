// What the fpdesk executable answers before it opens anything: help, the
// version and a misused command line, on a machine without a display too.
#include "tests/app/fpdesk_process.h"
#include "tests/support/qt_printers.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace fp {
namespace {

TEST(FpdeskCommandLine, HelpVersionAndMisuseNeedNoDisplay) {
    struct Case {
        QStringList args;
        int status;
        const char* outStartsWith;
        const char* errSays;
        bool onlyWithoutDisplay = false; // with a display it would open the client
    };
    const Case cases[] = {
        {{QStringLiteral("--help")}, 0, "Usage: fpdesk [--profile FILE]", ""},
        {{QStringLiteral("-h")}, 0, "Usage: fpdesk [--profile FILE]", ""},
        {{QStringLiteral("--version")}, 0, "fpdesk ", ""},
        {{QStringLiteral("-v")}, 0, "fpdesk ", ""},
        {{QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--help")},
         0,
         "Usage: fpdesk db init --database FILE|URL [--demo]\ncreate the schema",
         ""},
        // a command that paints, and one whose arguments are missing
        {{QStringLiteral("print"), QStringLiteral("--help")}, 0, "Usage: fpdesk print CODE NUMBER --pdf FILE", ""},
        {{QStringLiteral("printer"), QStringLiteral("offset"), QStringLiteral("-h")},
         0,
         "Usage: fpdesk printer offset PRINTER",
         ""},
        {{QStringLiteral("--bogus")}, 2, "", "fpdesk: Unknown option 'bogus'."},
        {{QStringLiteral("--profile")}, 2, "", "fpdesk: Missing value after '--profile'."},
        {{QStringLiteral("--screenshot"), QStringLiteral("a.png"), QStringLiteral("--frobnicate")},
         2,
         "",
         "Unknown option 'frobnicate'"},
        {{}, 1, "", "fpdesk: no display to open the client on (DISPLAY is not set)", true},
        {{QStringLiteral("--profile"), QStringLiteral("office.ini")}, 1, "", "DISPLAY is not set", true},
    };
    const std::pair<const char*, QProcessEnvironment> environments[] = {
        {"without a display", test::withoutDisplay()},
        {"offscreen", test::environmentWith({{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}})},
    };
    for (const auto& [name, env] : environments) {
        for (const Case& c : cases) {
            if (c.onlyWithoutDisplay && env.contains(QStringLiteral("QT_QPA_PLATFORM"))) continue;
            SCOPED_TRACE(std::string(name) + ": fpdesk " + c.args.join(u' ').toStdString());
            const test::CliRun r = test::fpdesk(c.args, env);
            EXPECT_EQ(r.exitCode, c.status) << r.err.toStdString();
            const QString start = QString::fromUtf8(c.outStartsWith);
            EXPECT_EQ(r.out.left(start.size()), start) << r.out.toStdString();
            EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.errSays))) << r.err.toStdString();
            if (c.status == 0)
                EXPECT_EQ(r.err, QString());
            else
                EXPECT_EQ(r.out, QString());
        }
    }
}

TEST(FpdeskCommandLine, VersionIsOneLine) {
    const test::CliRun r = test::fpdesk({QStringLiteral("--version")}, test::withoutDisplay());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^fpdesk \\d+\\.\\d+(\\.\\d+)*\\n$")).match(r.out).hasMatch())
        << r.out.toStdString();
}

// Every command's help names it with its synopsis, as the general help lists it.
TEST(FpdeskCommandLine, EachCommandAnswersItsHelp) {
    const test::CliRun all = test::fpdesk({QStringLiteral("--help")}, test::withoutDisplay());
    ASSERT_EQ(all.exitCode, 0);
    const QStringList lines = all.out.split(u'\n');
    const qsizetype commands = lines.indexOf(QStringLiteral("Commands:"));
    ASSERT_GT(commands, 0) << all.out.toStdString();
    int seen = 0;
    for (qsizetype i = commands + 1; i < lines.size() && lines[i].startsWith(QStringLiteral("  ")); i += 2) {
        const QString synopsis = lines[i].trimmed();
        // the words of the command are the leading lower-case ones
        QStringList words;
        for (const QString& w : synopsis.split(u' ')) {
            if (w.isEmpty() || !w.at(0).isLower()) break;
            words << w;
        }
        ASSERT_FALSE(words.isEmpty()) << lines[i].toStdString();
        const test::CliRun r = test::fpdesk(words + QStringList{QStringLiteral("--help")}, test::withoutDisplay());
        EXPECT_EQ(r.exitCode, 0) << synopsis.toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: fpdesk ") + synopsis + u'\n')) << r.out.toStdString();
        ++seen;
    }
    EXPECT_GE(seen, 15);
}

} // namespace
} // namespace fp
