#pragma once
// The tables the module reads and writes, column by column in table order, with
// their keys and widths. The DDL, the width checks before writes and the form
// definitions all read this one description.
#include "data_model/dialect.h"

#include <QString>
#include <QVariantMap>
#include <vector>

namespace fp {

class Transaction;

struct ColumnDef {
    QString name;
    ColType type = ColType::Text;
    int width = 0;      // characters, for text columns; 0 = not fixed
    bool key = false;   // part of the primary key
    QString label;      // the column's meaning in the system's language (messages)
};

struct TableDef {
    QString name;
    std::vector<ColumnDef> columns;
    std::vector<QStringList> indexes;  // extra indexes serving the module's queries

    const ColumnDef* column(const QString& name) const;
    int columnIndex(const QString& name) const;
    QStringList columnNames() const;
    QStringList keyNames() const;
};

const std::vector<TableDef>& schemaTables();
const TableDef* findTable(const QString& name);

// Creates every table and index that does not exist yet, in one transaction.
bool createSchema(Transaction& t, QString* error);

// Display width of a text in characters (code points).
int textLength(const QString& value);
// The message for a text value longer than its column allows, or an empty text.
QString widthError(const ColumnDef& column, const QString& value);
// Checks every text value of `values` (column -> value) against `table`.
QString widthError(const TableDef& table, const QVariantMap& values);

} // namespace fp
