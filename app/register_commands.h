#pragma once
// fpdesk list and fpdesk summary: the register window's list and monthly
// summary without a screen. The commands fill the window's filters and run its
// commands, so a script gets exactly the window's checks and messages; the
// result goes to standard output (a table for the terminal, CSV or JSON) or
// into a file in any export format.
#include "host/host_services.h"
#include "services/report_table.h"

#include <QString>
#include <cstdio>
#include <optional>

namespace fp::cli {

struct RegisterOptions {
    QString month; // "yyyy-MM"; with from/to empty
    QString from;  // "yyyy-MM-dd"
    QString to;
    QString code;
    QString status; // "valid", "void", "blank"
    bool red = false;
    bool normal = false;
    QString kind; // "50", "20", "40"
    QString issuer;
    QString payer;
    QString format = QStringLiteral("table"); // "table", "csv", "xlsx", "json"
    QString output;                           // a file; empty: standard output
};

// Why the options cannot be used, checked before anything is opened; empty
// when they can. `summary`: the summary's options (a month, a format).
QString registerOptionError(const RegisterOptions& options, bool summary);

// The report as a table for a terminal: the heading lines, the column titles
// and the rows padded to the width they take on screen (a Chinese character
// two columns), amounts and counts right-aligned, then the totals lines.
QString textTable(const ReportTable& report);

// Runs the list or the summary on a started client: 0 written, 1 refused or
// failed (said through the dialogs).
int runList(HostServices& host, const RegisterOptions& options, std::FILE* out);
int runSummary(HostServices& host, const RegisterOptions& options, std::FILE* out);

} // namespace fp::cli
