#pragma once
// fpdesk audit --month YYYY-MM [--fix]: the month's invoices checked against
// the tax service, one line per disagreement on standard output
// ("CODE NUMBER KIND LOCAL SERVICE") and a count line; with --fix each
// disagreement is mended after its question (answered by --yes / --no, the
// terminal, or no). Messages go to standard error, with the progress when it
// is a terminal.
//
// Exit status: 0 local and service agree (with --fix: every disagreement was
// mended); 1 otherwise, or the audit stopped early; 2 bad options.
#include "app/data_commands.h"
#include "host/host_services.h"

#include <QString>
#include <cstdio>

namespace fp::cli {

struct AuditCommand {
    QString month; // "yyyy-MM"
    bool fix = false;
};

// Why the --month value cannot be used (`given`: the option was there); empty
// when it can.
QString auditMonthOptionError(const QString& month, bool given);

// Runs the audit on a started client; `progress`: show it on `err`.
int runAudit(HostServices& host, const AuditCommand& command, std::FILE* out, std::FILE* err, bool progress);

} // namespace fp::cli
