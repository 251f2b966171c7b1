#pragma once
// The register's list and the monthly summary as report tables, the shape the
// exporters and the list printer take.
#include "services/invoice_register.h"
#include "services/monthly_summary.h"
#include "services/report_table.h"

namespace fp {

// The heading of a register report: the taxpayer, the month or range, and the
// filters in use (in the window's words).
QStringList registerHeading(const QString& taxpayer, const RegisterFilter& filter);
QStringList summaryHeading(const QString& taxpayer, const QString& month);

// The totals line of a list, as the window shows it under the list.
QString registerTotalsText(const RegisterTotals& totals);

// The list: code, number, date, kind, payer, payer's document, total, status,
// the reversed code and number, issuer, print count; the totals line last.
ReportTable registerReport(const QList<RegisterRow>& rows, const QStringList& heading);

// The summary: a row per code and kind with what the month used, each
// followed by the rows of its purchased batches with the numbers left.
ReportTable summaryReport(const MonthlySummary& summary, const QStringList& heading);

// Column positions of the register report (the window opens a row by them).
namespace register_column {
inline constexpr int Code = 0, Number = 1;
}

} // namespace fp
