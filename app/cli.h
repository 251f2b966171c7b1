#pragma once
// The fpdesk command line.
//
//   fpdesk [--profile FILE] [--screenshot FILE]     the client (GUI)
//   fpdesk db init --database FILE [--demo]         create the schema (and demo data)
//   fpdesk stock import FILE | codes import FILE    store a text received from the service
//   fpdesk stock fetch | codes fetch                ask the service and store its answer
//   fpdesk fetch CODE NUMBER [--yes|--no]           download one invoice
//   fpdesk print CODE NUMBER --pdf FILE [--copies N] [--yes|--no] [--issuer NAME]
//                                                   reprint an invoice into a PDF
//   fpdesk void CODE NUMBER [--blank] [--yes|--no] [--issuer NAME]
//                                                   void an issued (or blank) invoice
//   fpdesk audit --month YYYY-MM [--fix] [--yes|--no]
//                                                   check a month against the tax service
//   fpdesk --help | --version | COMMAND --help
// The data commands take --database FILE, --server URL and --profile FILE.
//
// A subcommand is one or more leading words; each has its own options, parsed
// after the words. Subcommands run without a display and report on standard
// error; their exit code is 0 on success.
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace fp::app {

struct CliCommand {
    QStringList words; // {"db", "init"}
    QString synopsis;  // options after the words, for the help text
    QString summary;
    // `args`: the program name followed by the arguments after the words.
    std::function<int(const QStringList& args)> run;
    // Paints (a PDF): runs with a GUI application, offscreen when no platform is set.
    bool paints = false;
};

// Every subcommand, in the order the help lists them.
const std::vector<CliCommand>& cliCommands();

// The help text, and one command's.
QString usageText();
QString commandHelpText(const CliCommand& command);
// "fpdesk VERSION".
QString versionText();

// Entry point of the executable.
int runMain(int argc, char** argv);

} // namespace fp::app
