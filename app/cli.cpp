#include "app/cli.h"

#include "app/audit_command.h"
#include "app/client.h"
#include "app/data_commands.h"
#include "app/gui.h"
#include "app/issue_file.h"
#include "app/register_commands.h"
#include "app/setup_commands.h"
#include "app/window_commands.h"
#include "data_model/database_url.h"
#include "services/printer_offsets.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPrinterInfo>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

namespace fp::app {

namespace {

void printErr(const QString& text) {
    const QByteArray b = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

void printOut(const QString& text) {
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
}

const QString kCommonNote =
    QStringLiteral("The data commands take --database FILE|URL (an SQLite file or a postgresql://\n"
                   "URL), --server URL (the tax service) and --profile FILE. Messages go to\n"
                   "standard error; the exit status is 0 only when the command succeeded, 2 for\n"
                   "a misused command line.\n");

// Options shared by the subcommands that work on a database or a tax service.
const QCommandLineOption& databaseOption() {
    static const QCommandLineOption o(QStringLiteral("database"),
                                      QStringLiteral("SQLite database file or postgresql:// URL."),
                                      QStringLiteral("FILE|URL"));
    return o;
}
const QCommandLineOption& serverOption() {
    static const QCommandLineOption o(QStringLiteral("server"), QStringLiteral("Base URL of the tax service."),
                                      QStringLiteral("URL"));
    return o;
}
const QCommandLineOption& profileOption() {
    static const QCommandLineOption o(QStringLiteral("profile"), QStringLiteral("Profile (INI)."),
                                      QStringLiteral("FILE"));
    return o;
}

// The database a --database value names: a postgresql:// URL (a password
// missing from it may come from the profile) or an SQLite file.
std::optional<DatabaseConfig> databaseArgument(const QString& value, const QString& profilePassword, QString* error) {
    if (isDatabaseUrl(value)) {
        auto c = parseDatabaseUrl(value, error);
        if (c && c->password.isEmpty()) c->password = profilePassword;
        return c;
    }
    DatabaseConfig c;
    c.database = QFileInfo(value).absoluteFilePath();
    return c;
}

// Parses a subcommand's arguments and checks the number of positional ones;
// false after printing the error.
bool parse(QCommandLineParser& parser, const QStringList& args, const QString& name, int positional) {
    if (!parser.parse(args)) {
        printErr(QStringLiteral("fpdesk %1: %2").arg(name, parser.errorText()));
        return false;
    }
    if (parser.positionalArguments().size() != positional) {
        printErr(QStringLiteral("fpdesk %1: expected %2 argument(s), got %3\n")
                     .arg(name)
                     .arg(positional)
                     .arg(parser.positionalArguments().size()) +
                 usageText());
        return false;
    }
    return true;
}

void addClientOptions(QCommandLineParser& parser) {
    parser.addOption(profileOption());
    parser.addOption(databaseOption());
    parser.addOption(serverOption());
}

// The profile of a data command: --profile, else the embedded demo; --database
// names the SQLite file (and puts the simulated service's store beside it),
// --server a tax service over HTTP.
std::optional<Profile> clientProfile(const QCommandLineParser& parser) {
    Profile p;
    if (parser.isSet(profileOption())) {
        QString error;
        auto loaded = Profile::load(parser.value(profileOption()), &error);
        if (!loaded) {
            printErr(error);
            return std::nullopt;
        }
        p = *loaded;
    } else {
        p = Profile::embeddedDemo(defaultDataDir());
    }
    if (parser.isSet(databaseOption())) {
        QString error;
        const auto config = databaseArgument(parser.value(databaseOption()), p.databasePassword, &error);
        if (!config) {
            printErr(error);
            return std::nullopt;
        }
        p.database = *config;
        p.demoData = false;
        if (!isDatabaseUrl(parser.value(databaseOption())))
            p.serverStore = QFileInfo(p.database.database).absoluteDir().filePath(QStringLiteral("taxsim.db"));
    }
    if (parser.isSet(serverOption())) {
        p.serverMode = Profile::ServerMode::Http;
        p.serverUrl = parser.value(serverOption());
        // A profile of its own must name the taxpayer the service is asked for.
        if (!p.sourceFile.isEmpty() && !p.serverModeError().isEmpty()) {
            printErr(p.serverModeError());
            return std::nullopt;
        }
    }
    return p;
}

// Runs a data command on a started client with console dialogs.
int withClient(const QCommandLineParser& parser, cli::ConsoleDialogs::Preset preset, bool needsServerDate,
               const std::function<int(HostServices&)>& command) {
    const auto profile = clientProfile(parser);
    if (!profile) return 1;
    cli::ConsoleDialogs dialogs(preset);
    Client client(*profile);
    client.setDialogs(&dialogs);
    QString error;
    if (!client.start(&error)) {
        printErr(error);
        return 1;
    }
    if (needsServerDate) client.syncServerDate();
    return command(client.host());
}

// Starts the client of a command that talks to the service anyway: the server's
// date, then the settling of unconfirmed uploads (kept records are said and wait
// for later). False when the client could not start; the error is printed.
bool startForServerWork(Client& client) {
    QString error;
    if (!client.start(&error)) {
        printErr(error);
        return false;
    }
    client.syncServerDate();
    (void)cli::reconcilePendingUploads(client.host()); // the outcome is said; the command goes on
    return true;
}

int importCommand(const QStringList& args, const QString& name, int (*run)(HostServices&, const QString&)) {
    QCommandLineParser parser;
    addClientOptions(parser);
    if (!parse(parser, args, name, 1)) return 2;
    const QString file = parser.positionalArguments().first();
    return withClient(parser, cli::ConsoleDialogs::Preset::Ask, false,
                      [&](HostServices& host) { return run(host, file); });
}

// fpdesk reconcile: settles the unconfirmed requests of the profile's user.
int reconcileCommand(const QStringList& args) {
    QCommandLineParser parser;
    addClientOptions(parser);
    if (!parse(parser, args, QStringLiteral("reconcile"), 0)) return 2;
    return withClient(parser, cli::ConsoleDialogs::Preset::No, false, cli::reconcilePendingUploads);
}

int fetchCommand(const QStringList& args, const QString& name, int (*run)(HostServices&)) {
    QCommandLineParser parser;
    addClientOptions(parser);
    if (!parse(parser, args, name, 0)) return 2;
    return withClient(parser, cli::ConsoleDialogs::Preset::Ask, true, run);
}

// --yes / --no, or nullopt after reporting that both were given.
std::optional<cli::ConsoleDialogs::Preset> answerPreset(const QCommandLineParser& parser, const QString& name,
                                                        const QCommandLineOption& yes, const QCommandLineOption& no) {
    if (parser.isSet(yes) && parser.isSet(no)) {
        printErr(QStringLiteral("fpdesk %1: --yes and --no exclude each other").arg(name));
        return std::nullopt;
    }
    return parser.isSet(yes)  ? cli::ConsoleDialogs::Preset::Yes
           : parser.isSet(no) ? cli::ConsoleDialogs::Preset::No
                              : cli::ConsoleDialogs::Preset::Ask;
}

int fetchInvoice(const QStringList& args) {
    const QString name = QStringLiteral("fetch");
    QCommandLineParser parser;
    addClientOptions(parser);
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Answer every question with yes."));
    const QCommandLineOption no(QStringLiteral("no"), QStringLiteral("Answer every question with no."));
    parser.addOption(yes);
    parser.addOption(no);
    if (!parse(parser, args, name, 2)) return 2;
    const auto preset = answerPreset(parser, name, yes, no);
    if (!preset) return 2;
    const QStringList pos = parser.positionalArguments();
    return withClient(parser, *preset, true, [&](HostServices& host) {
        // Unconfirmed saves are settled first; an unreachable service holds nothing up.
        (void)cli::reconcilePendingUploads(host);
        return cli::fetchInvoice(host, pos[0], pos[1]);
    });
}

// fpdesk issue FILE: running it confirms each save; --yes / --no answer the
// other questions (such as the same-month question of a red-letter invoice).
int issueCommand(const QStringList& args) {
    const QString name = QStringLiteral("issue");
    QCommandLineParser parser;
    addClientOptions(parser);
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Answer every other question with yes."));
    const QCommandLineOption no(QStringLiteral("no"), QStringLiteral("Answer every other question with no."));
    const QCommandLineOption issuer(QStringLiteral("issuer"), QStringLiteral("The issuer (开票员) by name."),
                                    QStringLiteral("NAME"));
    parser.addOption(yes);
    parser.addOption(no);
    parser.addOption(issuer);
    if (!parse(parser, args, name, 1)) return 2;
    const auto preset = answerPreset(parser, name, yes, no);
    if (!preset) return 2;
    const QString file = parser.positionalArguments().first();
    const QString issuerName = parser.value(issuer);
    const auto profile = clientProfile(parser);
    if (!profile) return 1;
    cli::ConsoleDialogs console(*preset);
    cli::IssueDialogs dialogs(console);
    Client client(*profile);
    client.setDialogs(&dialogs);
    if (!startForServerWork(client)) return 1;
    return cli::issueFile(client.host(), dialogs, file, issuerName, stdout);
}

// A command of the reprint or void window: the client with dialogs that
// confirm the command itself and leave the other questions to the console.
int windowCommand(const QStringList& args, const QString& name, const QList<QCommandLineOption>& extra,
                  const std::function<int(const QCommandLineParser&, HostServices&, cli::CommandDialogs&,
                                          const cli::WindowCommand&)>& run) {
    QCommandLineParser parser;
    addClientOptions(parser);
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Answer every other question with yes."));
    const QCommandLineOption no(QStringLiteral("no"), QStringLiteral("Answer every other question with no."));
    const QCommandLineOption issuer(QStringLiteral("issuer"), QStringLiteral("The issuer (开票员)."),
                                    QStringLiteral("NAME"));
    parser.addOptions({yes, no, issuer});
    parser.addOptions(extra);
    if (!parse(parser, args, name, 2)) return 2;
    const auto preset = answerPreset(parser, name, yes, no);
    if (!preset) return 2;
    const auto profile = clientProfile(parser);
    if (!profile) return 1;
    cli::ConsoleDialogs console(*preset);
    cli::CommandDialogs dialogs(console);
    Client client(*profile);
    client.setDialogs(&dialogs);
    if (!startForServerWork(client)) return 1;
    const QStringList pos = parser.positionalArguments();
    return run(parser, client.host(), dialogs, cli::WindowCommand{pos[0], pos[1], parser.value(issuer)});
}

int printCommand(const QStringList& args) {
    const QString name = QStringLiteral("print");
    const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("Print into this PDF file."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption copies(QStringLiteral("copies"), QStringLiteral("Number of copies (default 1)."),
                                    QStringLiteral("N"), QStringLiteral("1"));
    return windowCommand(args, name, {pdf, copies},
                         [&](const QCommandLineParser& p, HostServices& host, cli::CommandDialogs& dialogs,
                             const cli::WindowCommand& c) {
                             if (p.value(pdf).isEmpty()) {
                                 printErr(QStringLiteral("fpdesk print: --pdf FILE is required"));
                                 return 2;
                             }
                             bool ok = false;
                             const int n = p.value(copies).toInt(&ok);
                             if (!ok || n < 1 || n > 99) {
                                 printErr(QStringLiteral("fpdesk print: --copies takes a number from 1 to 99"));
                                 return 2;
                             }
                             return cli::printInvoice(host, dialogs, c, QFileInfo(p.value(pdf)).absoluteFilePath(), n);
                         });
}

int voidCommand(const QStringList& args) {
    const QString name = QStringLiteral("void");
    const QCommandLineOption blank(QStringLiteral("blank"), QStringLiteral("Void an unused (blank) invoice number."));
    return windowCommand(
        args, name, {blank},
        [&](const QCommandLineParser& p, HostServices& host, cli::CommandDialogs& dialogs,
            const cli::WindowCommand& c) { return cli::voidInvoice(host, dialogs, c, p.isSet(blank)); });
}

// fpdesk audit: the month is checked before anything is opened or asked.
int auditCommand(const QStringList& args) {
    const QString name = QStringLiteral("audit");
    QCommandLineParser parser;
    addClientOptions(parser);
    const QCommandLineOption month(QStringLiteral("month"), QStringLiteral("The month to audit."),
                                   QStringLiteral("YYYY-MM"));
    const QCommandLineOption fix(QStringLiteral("fix"), QStringLiteral("Mend each disagreement after asking."));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Answer every question with yes."));
    const QCommandLineOption no(QStringLiteral("no"), QStringLiteral("Answer every question with no."));
    parser.addOptions({month, fix, yes, no});
    if (!parse(parser, args, name, 0)) return 2;
    const auto preset = answerPreset(parser, name, yes, no);
    if (!preset) return 2;
    const QString monthError = cli::auditMonthOptionError(parser.value(month), parser.isSet(month));
    if (!monthError.isEmpty()) {
        printErr(monthError);
        return 2;
    }
    const auto profile = clientProfile(parser);
    if (!profile) return 1;
    cli::ConsoleDialogs dialogs(*preset);
    Client client(*profile);
    client.setDialogs(&dialogs);
    if (!startForServerWork(client)) return 1;
    return cli::runAudit(client.host(), cli::AuditCommand{parser.value(month), parser.isSet(fix)}, stdout, stderr,
                         cli::isTerminal(stderr));
}

// The options of the register's commands; nullopt after printing what is wrong.
std::optional<cli::RegisterOptions> registerOptions(QCommandLineParser& parser, const QStringList& args,
                                                    const QString& name, bool summary) {
    const QCommandLineOption month(QStringLiteral("month"), QStringLiteral("The month."), QStringLiteral("YYYY-MM"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("The first day."),
                                  QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("The last day."), QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption code(QStringLiteral("code"), QStringLiteral("The invoice code."), QStringLiteral("CODE"));
    const QCommandLineOption status(QStringLiteral("status"), QStringLiteral("valid, void or blank."),
                                    QStringLiteral("STATUS"));
    const QCommandLineOption red(QStringLiteral("red"), QStringLiteral("Red-letter invoices only."));
    const QCommandLineOption normal(QStringLiteral("normal"), QStringLiteral("Normal invoices only."));
    const QCommandLineOption kind(QStringLiteral("kind"), QStringLiteral("50, 20 or 40."), QStringLiteral("KIND"));
    const QCommandLineOption issuer(QStringLiteral("issuer"), QStringLiteral("The issuer."), QStringLiteral("NAME"));
    const QCommandLineOption payer(QStringLiteral("payer"), QStringLiteral("Part of the payer's name."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("table, csv, xlsx or json."),
                                    QStringLiteral("FORMAT"), QStringLiteral("table"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The file to write."),
                                    QStringLiteral("FILE"));
    parser.addOptions({month, format, output});
    if (!summary) parser.addOptions({from, to, code, status, red, normal, kind, issuer, payer});
    if (!parse(parser, args, name, 0)) return std::nullopt;
    cli::RegisterOptions o;
    o.month = parser.value(month);
    o.format = parser.value(format);
    o.output = parser.value(output);
    if (!summary) {
        o.from = parser.value(from);
        o.to = parser.value(to);
        o.code = parser.value(code);
        o.status = parser.value(status);
        o.red = parser.isSet(red);
        o.normal = parser.isSet(normal);
        o.kind = parser.value(kind);
        o.issuer = parser.value(issuer);
        o.payer = parser.value(payer);
    }
    const QString error = cli::registerOptionError(o, summary);
    if (!error.isEmpty()) {
        printErr(QStringLiteral("fpdesk %1: ").arg(name) + error);
        return std::nullopt;
    }
    return o;
}

// fpdesk list: the register window's list. Without a month or range it is the
// server date's month, as the window opens.
int listCommand(const QStringList& args) {
    QCommandLineParser parser;
    addClientOptions(parser);
    const auto options = registerOptions(parser, args, QStringLiteral("list"), false);
    if (!options) return 2;
    const bool serverMonth = options->month.isEmpty() && options->from.isEmpty();
    return withClient(parser, cli::ConsoleDialogs::Preset::No, serverMonth,
                      [&](HostServices& host) { return cli::runList(host, *options, stdout); });
}

int summaryCommand(const QStringList& args) {
    QCommandLineParser parser;
    addClientOptions(parser);
    const auto options = registerOptions(parser, args, QStringLiteral("summary"), true);
    if (!options) return 2;
    return withClient(parser, cli::ConsoleDialogs::Preset::No, false,
                      [&](HostServices& host) { return cli::runSummary(host, *options, stdout); });
}

int dbInit(const QStringList& args) {
    const QString name = QStringLiteral("db init");
    QCommandLineParser parser;
    parser.addOption(databaseOption());
    const QCommandLineOption demo(QStringLiteral("demo"), QStringLiteral("Also write the demo data."));
    parser.addOption(demo);
    if (!parse(parser, args, name, 0)) return 2;
    const QString where = parser.value(databaseOption());
    if (where.isEmpty()) {
        printErr(QStringLiteral("fpdesk %1: --database FILE|URL is required").arg(name));
        return 2;
    }
    QString error;
    const auto config = databaseArgument(where, QString(), &error);
    if (!config) {
        printErr(error);
        return 2;
    }
    if (config->driver == QLatin1String("QSQLITE")) {
        const QFileInfo fi(config->database);
        if (!QDir().mkpath(fi.absolutePath())) {
            printErr(QStringLiteral("无法创建目录：%1").arg(fi.absolutePath()));
            return 1;
        }
    }
    auto t = Transaction::open(*config, &error);
    if (!t) {
        printErr(QStringLiteral("无法打开数据库 %1：%2").arg(describeDatabase(*config), error));
        return 1;
    }
    bool demoCreated = false;
    if (!initDatabase(*t, parser.isSet(demo), &error, &demoCreated)) {
        printErr(QStringLiteral("初始化数据库失败：%1").arg(error));
        return 1;
    }
    if (parser.isSet(demo) && !demoCreated) printErr(QStringLiteral("数据库中已有数据，未写入演示数据。"));
    return 0;
}

// Shows a printer's print offset, or sets it with --down and --right (the one
// not given stays as it was).
int printerOffset(const QStringList& args) {
    const QString name = QStringLiteral("printer offset");
    QCommandLineParser parser;
    const QCommandLineOption down(QStringLiteral("down"), QStringLiteral("Shift down in mm (negative: up)."),
                                  QStringLiteral("MM"));
    const QCommandLineOption right(QStringLiteral("right"), QStringLiteral("Shift right in mm (negative: left)."),
                                   QStringLiteral("MM"));
    parser.addOption(down);
    parser.addOption(right);
    if (!parse(parser, args, name, 1)) return 2;
    const QString printer = parser.positionalArguments().first().trimmed();
    if (printer.isEmpty()) {
        printErr(QStringLiteral("打印机名称不能为空！"));
        return 1;
    }
    PrinterOffsets offsets(clientSettings());
    PrintOffsetMm offset = offsets.offsetFor(printer);
    for (const auto& [option, shift] : {std::pair{&down, &offset.down}, std::pair{&right, &offset.right}}) {
        if (!parser.isSet(*option)) continue;
        bool ok = false;
        const double value = parser.value(*option).toDouble(&ok);
        if (!ok || !(std::abs(value) <= PrinterOffsets::kLimitMm)) {
            printErr(QStringLiteral("偏移量必须是 -%1 到 %1 之间的毫米数：%2")
                         .arg(PrinterOffsets::kLimitMm)
                         .arg(parser.value(*option)));
            return 1;
        }
        *shift = value;
    }
    // An offset is found by the printer's exact name: a misspelt one would be
    // kept and never used. The preview's PDF output keeps its own as "PDF".
    const QStringList installed = QPrinterInfo::availablePrinterNames();
    if (printer != QLatin1String("PDF") && !installed.contains(printer))
        printErr(QStringLiteral("警告：本机没有名为“%1”的打印机，偏移量只用于名称完全相同的打印机。已安装的打印机：%2")
                     .arg(printer, installed.isEmpty() ? QStringLiteral("无") : installed.join(QStringLiteral("、"))));
    if (parser.isSet(down) || parser.isSet(right)) offsets.setOffset(printer, offset);
    printOut(QStringLiteral("%1：向下 %2 毫米，向右 %3 毫米\n")
                 .arg(printer)
                 .arg(offset.down, 0, 'f', 1)
                 .arg(offset.right, 0, 'f', 1));
    return 0;
}

// Runs a set-up command on the database of --database or the profile, with
// the owner account of the profile's [host] sysuserid.
int withDatabase(
    const QStringList& args, const QString& name, int positional, const std::vector<QCommandLineOption>& extra,
    const std::function<int(Transaction&, setup::Output, const QString& sxh, const QCommandLineParser&)>& run) {
    QCommandLineParser parser;
    parser.addOption(profileOption());
    parser.addOption(databaseOption());
    for (const auto& o : extra) parser.addOption(o);
    if (!parse(parser, args, name, positional)) return 2;
    const auto profile = clientProfile(parser);
    if (!profile) return 1;
    QString error;
    auto t = openDatabase(*profile, &error);
    if (!t) {
        printErr(error);
        return 1;
    }
    cli::ConsoleDialogs dialogs(cli::ConsoleDialogs::Preset::No);
    return run(*t, setup::Output{dialogs, stdout}, profile->sysuserid, parser);
}

int userAdd(const QStringList& args) {
    const QCommandLineOption right(QStringLiteral("right"), QStringLiteral("Right code (default 02)."),
                                   QStringLiteral("CODE"), QStringLiteral("02"));
    return withDatabase(args, QStringLiteral("user add"), 2, {right},
                        [&](Transaction& t, setup::Output out, const QString&, const QCommandLineParser& p) {
                            const QStringList pos = p.positionalArguments();
                            return setup::addUser(t, out, pos[0], pos[1], p.value(right));
                        });
}

int issuerAdd(const QStringList& args) {
    return withDatabase(args, QStringLiteral("issuer add"), 1, {},
                        [](Transaction& t, setup::Output out, const QString& sxh, const QCommandLineParser& p) {
                            return setup::addIssuer(t, out, sxh, p.positionalArguments()[0]);
                        });
}

int partnerAdd(const QStringList& args) {
    return withDatabase(args, QStringLiteral("partner add"), 4, {},
                        [](Transaction& t, setup::Output out, const QString& sxh, const QCommandLineParser& p) {
                            const QStringList pos = p.positionalArguments();
                            return setup::addPartner(t, out, sxh, pos[0], pos[1], pos[2], pos[3]);
                        });
}

int itemAdd(const QStringList& args) {
    return withDatabase(args, QStringLiteral("item add"), 2, {},
                        [](Transaction& t, setup::Output out, const QString& sxh, const QCommandLineParser& p) {
                            const QStringList pos = p.positionalArguments();
                            return setup::addItem(t, out, sxh, pos[0], pos[1]);
                        });
}

} // namespace

const std::vector<CliCommand>& cliCommands() {
    static const std::vector<CliCommand> commands = {
        {{QStringLiteral("db"), QStringLiteral("init")},
         QStringLiteral("--database FILE|URL [--demo]"),
         QStringLiteral("create the schema (and the demo data)"),
         dbInit},
        {{QStringLiteral("stock"), QStringLiteral("import")},
         QStringLiteral("FILE [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("store a purchased-stock text received from the tax service"),
         [](const QStringList& a) { return importCommand(a, QStringLiteral("stock import"), cli::stockImport); }},
        {{QStringLiteral("codes"), QStringLiteral("import")},
         QStringLiteral("FILE [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("store a code-table text received from the tax service"),
         [](const QStringList& a) { return importCommand(a, QStringLiteral("codes import"), cli::codesImport); }},
        {{QStringLiteral("stock"), QStringLiteral("fetch")},
         QStringLiteral("[--database FILE|URL] [--server URL] [--profile FILE]"),
         QStringLiteral("ask the tax service for the purchased stock and store it"),
         [](const QStringList& a) { return fetchCommand(a, QStringLiteral("stock fetch"), cli::fetchStock); }},
        {{QStringLiteral("codes"), QStringLiteral("fetch")},
         QStringLiteral("[--database FILE|URL] [--server URL] [--profile FILE]"),
         QStringLiteral("ask the tax service for the code tables and store them"),
         [](const QStringList& a) { return fetchCommand(a, QStringLiteral("codes fetch"), cli::fetchCodes); }},
        {{QStringLiteral("fetch")},
         QStringLiteral("CODE NUMBER [--yes|--no] [--database FILE|URL] [--server URL] [--profile FILE]"),
         QStringLiteral("download one invoice from the tax service"),
         fetchInvoice},
        {{QStringLiteral("reconcile")},
         QStringLiteral("[--database FILE|URL] [--server URL] [--profile FILE]"),
         QStringLiteral(
             "settle uploads, voids and print reports whose outcome was not confirmed (a lost reply, a failed "
             "commit, a crash) with the tax service"),
         reconcileCommand},
        {{QStringLiteral("issue")},
         QStringLiteral("FILE [--yes|--no] [--issuer NAME] [--database FILE|URL] [--server URL] [--profile FILE]"),
         QStringLiteral("issue the integrated invoices of a JSON file, printing \"CODE NUMBER\" for each"),
         issueCommand},
        {{QStringLiteral("printer"), QStringLiteral("offset")},
         QStringLiteral("PRINTER [--down MM] [--right MM]"),
         QStringLiteral("show or set where a printer's print lands on the invoice paper"),
         printerOffset},
        {{QStringLiteral("print")},
         QStringLiteral("CODE NUMBER --pdf FILE [--copies N] [--yes|--no] [--issuer NAME] [--database FILE|URL] "
                        "[--server URL] [--profile FILE]"),
         QStringLiteral("print an issued invoice again, into a PDF file; counted, logged and reported"),
         printCommand,
         true},
        {{QStringLiteral("void")},
         QStringLiteral("CODE NUMBER [--blank] [--yes|--no] [--issuer NAME] [--database FILE|URL] [--server URL] "
                        "[--profile FILE]"),
         QStringLiteral("void an issued invoice of this month, or with --blank an unused number"),
         voidCommand},
        {{QStringLiteral("list")},
         QStringLiteral(
             "[--month YYYY-MM | --from YYYY-MM-DD --to YYYY-MM-DD] [--code CODE] [--status valid|void|blank] "
             "[--red|--normal] [--kind 50|20|40] [--issuer NAME] [--payer TEXT] "
             "[--format table|csv|xlsx|json] [--output FILE] [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("list the invoices of a month or range (the 发票查询 window's list)"),
         listCommand},
        {{QStringLiteral("summary")},
         QStringLiteral("--month YYYY-MM [--format table|csv|xlsx|json] [--output FILE] [--database FILE|URL] "
                        "[--profile FILE]"),
         QStringLiteral("the monthly summary per code and kind, with the numbers left per purchased batch"),
         summaryCommand},
        {{QStringLiteral("audit")},
         QStringLiteral("--month YYYY-MM [--fix] [--yes|--no] [--database FILE|URL] [--server URL] [--profile FILE]"),
         QStringLiteral("check the month's invoices against the tax service and list every disagreement; --fix "
                        "mends them"),
         auditCommand},
        {{QStringLiteral("user"), QStringLiteral("add")},
         QStringLiteral("USERID NAME [--right CODE] [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("add a user with the right CODE (default 02) for the issuing, reprint and void windows"),
         userAdd},
        {{QStringLiteral("issuer"), QStringLiteral("add")},
         QStringLiteral("NAME [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("add an issuer (开票员) of the taxpayer with the next free code"),
         issuerAdd},
        {{QStringLiteral("partner"), QStringLiteral("add")},
         QStringLiteral("CODE NAME DOCTYPE DOCNUMBER [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("add a trading partner (DOCTYPE 身份证件号码, 组织机构代码 or 纳税人识别号)"),
         partnerAdd},
        {{QStringLiteral("item"), QStringLiteral("add")},
         QStringLiteral("NAME PRICE [--database FILE|URL] [--profile FILE]"),
         QStringLiteral("add an item to the taxpayer's catalogue"),
         itemAdd},
    };
    return commands;
}

QString versionText() { return QStringLiteral("fpdesk " FPDESK_VERSION "\n"); }

QString usageText() {
    QString t = QStringLiteral("Usage: fpdesk [--profile FILE] [--screenshot FILE]\n"
                               "  or:  fpdesk COMMAND [ARGUMENT]... [OPTION]...\n"
                               "Issue, print and void integrated unified invoices (综合统一发票) through the tax\n"
                               "authority's network invoicing service. Without a command it opens the client;\n"
                               "the commands do the same work without a display.\n"
                               "\n"
                               "Options:\n"
                               "  --profile FILE       the profile (INI) naming the database, the tax service and\n"
                               "                       the taxpayer; without one the embedded demo\n"
                               "  --screenshot FILE    open the issuing window, save the main window as a PNG\n"
                               "                       and exit\n"
                               "  -h, --help           show this help and exit (fpdesk COMMAND --help: the\n"
                               "                       command's)\n"
                               "  -v, --version        show the version and exit\n"
                               "\n"
                               "Commands:\n");
    // The summary under the command, at the column where the options' texts
    // start: also how the manual page (made from this text) tells them apart.
    for (const CliCommand& c : cliCommands())
        t += QStringLiteral("  %1 %2\n%3%4\n")
                 .arg(c.words.join(QLatin1Char(' ')), c.synopsis, QString(23, QLatin1Char(' ')), c.summary);
    t += QStringLiteral("\n") + kCommonNote;
    return t;
}

QString commandHelpText(const CliCommand& command) {
    return QStringLiteral("Usage: fpdesk %1 %2\n%3\n\n")
               .arg(command.words.join(QLatin1Char(' ')), command.synopsis, command.summary) +
           kCommonNote;
}

namespace {

// Asks a command for its help: -h or --help among its arguments (before "--").
bool asksForHelp(const QStringList& args) {
    for (const QString& a : args) {
        if (a == QLatin1String("--")) return false;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) return true;
    }
    return false;
}

// Options the toolkit takes on any GUI program's command line (-platform,
// -display, -style...); the application object removes them from the
// arguments, so the client's own parser sees them only here.
QList<QCommandLineOption> toolkitOptions() {
    QList<QCommandLineOption> options;
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
          "qmljsdebugger", "session", "display", "geometry", "name", "title", "style", "stylesheet"}) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("VALUE"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        options << o;
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        options << o;
    }
    return options;
}

// The client's command line is read before the application object exists:
// help, the version and a misused command line need no display. Returns the
// exit status when the run ends here.
std::optional<int> readClientOptions(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({help, version, profileOption(),
                       QCommandLineOption(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"))});
    parser.addOptions(toolkitOptions());
    if (!parser.parse(args)) {
        printErr(QStringLiteral("fpdesk: %1\nTry \"fpdesk --help\".").arg(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        printOut(usageText());
        return 0;
    }
    if (parser.isSet(version)) {
        printOut(versionText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printErr(QStringLiteral("fpdesk: unknown command \"%1\"\nTry \"fpdesk --help\".")
                     .arg(parser.positionalArguments().join(QLatin1Char(' '))));
        return 2;
    }
    // Without a platform named and without a display the toolkit would abort
    // with its own message and a core dump; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !parser.isSet(QStringLiteral("platform")) &&
        !parser.isSet(QStringLiteral("display")) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        printErr(QStringLiteral("fpdesk: no display to open the client on (DISPLAY is not set); the commands work "
                                "without one, see \"fpdesk --help\"."));
        return 1;
    }
    return std::nullopt;
}

} // namespace

int runMain(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);

    if (args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))) {
        const CliCommand* match = nullptr;
        for (const CliCommand& c : cliCommands()) {
            if (args.size() - 1 < c.words.size()) continue;
            if (args.mid(1, c.words.size()) == c.words && (!match || c.words.size() > match->words.size())) match = &c;
        }
        if (!match) {
            printErr(QStringLiteral("fpdesk: unknown command \"%1\"\n").arg(args.mid(1).join(QLatin1Char(' '))) +
                     usageText());
            return 2;
        }
        QStringList rest{args.first() + QLatin1Char(' ') + match->words.join(QLatin1Char(' '))};
        rest += args.mid(1 + match->words.size());
        if (asksForHelp(rest.mid(1))) {
            printOut(commandHelpText(*match));
            return 0;
        }
        std::unique_ptr<QCoreApplication> app;
        if (match->paints) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
            app = std::make_unique<QGuiApplication>(argc, argv);
        } else {
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        QCoreApplication::setApplicationName(QStringLiteral("fpdesk"));
        return match->run(rest);
    }
    if (const auto status = readClientOptions(args)) return *status;
    return runGui(argc, argv);
}

} // namespace fp::app
