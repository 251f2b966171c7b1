#pragma once
// A report as a table: what the register's list and the monthly summary hand
// to the exporters (XLSX, CSV, JSON) and to the list printer. Every cell is
// text; its column's type says how a writer stores it: an amount as a number
// with two decimals, a count as a whole number, text as text (so codes and
// numbers keep their leading zeros). An empty cell is an empty cell.
#include <QList>
#include <QString>
#include <QStringList>

namespace fp {

struct ReportColumn {
    enum class Type { Text, Amount, Count };
    QString title;
    Type type = Type::Text;
    // The column's width in characters of a Chinese text (two Latin ones).
    int width = 10;
};

struct ReportTable {
    // "发票清单", "月度汇总": the sheet's name and the print's heading.
    QString title;
    // What the print heads each page with: the taxpayer, the month, the filters.
    QStringList headingLines;
    QList<ReportColumn> columns;
    // One entry a row, one cell a column, as text: amounts as "-12.30".
    QList<QStringList> rows;
    // What follows the last row: the totals of the list, one line each.
    QStringList totalsLines;
};

} // namespace fp
