#pragma once
// Writers of a report table to a file a spreadsheet or another program reads:
// XLSX for the clerk (typed cells, heading and totals lines, frozen header),
// CSV and JSON for machines (CSV holds the header row and the rows only).
//
// A row with fewer cells than the table has columns is filled with empty
// cells; cells beyond the last column are not written.
#include "services/report_table.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace fp {

enum class ExportFormat { Xlsx, Csv, Json };

// "xlsx", "csv", "json"; nothing for any other name.
std::optional<ExportFormat> exportFormatFromName(const QString& name);
QString exportFormatName(ExportFormat format);

// Writes `table` to `file` completely or not at all: the content goes to a
// temporary file beside the target, which replaces the target only once it is
// whole. On failure nothing is left behind, an existing target is unchanged,
// and `error` (when given) holds "导出文件写入失败：<file>\r\n<reason>".
[[nodiscard]] bool exportReport(const ReportTable& table, ExportFormat format, const QString& file, QString* error);

// What a CSV export holds: UTF-8 with a byte order mark, comma separated, CRLF
// line ends, fields quoted where they must be; the column titles, then the
// rows. A text cell that a spreadsheet would read as a formula (beginning with
// = + - @, a tab or a carriage return) gets a leading apostrophe.
QByteArray csvReport(const ReportTable& table);

// What a JSON export holds (UTF-8, indented):
// {"title", "heading": [...], "columns": [{"title", "type": "text|amount|count"}],
//  "rows": [[...], ...], "totals": [...]}. Amounts are strings exactly as in
// the table ("-12.30"), counts are integers, texts strings, empty cells null.
QByteArray jsonReport(const ReportTable& table);

// The worksheet name Excel accepts for `title`: at most 31 characters, none
// of : \ / ? * [ ], no apostrophe at either end, not empty, not "History".
QString xlsxSheetName(const QString& title);

} // namespace fp
