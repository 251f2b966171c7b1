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
    int width = 0;    // characters, for text columns; 0 = not fixed
    bool key = false; // part of the primary key
    QString label;    // the column's meaning in the system's language (messages)
};

struct TableDef {
    QString name;
    std::vector<ColumnDef> columns;
    std::vector<QStringList> indexes; // extra indexes serving the module's queries

    const ColumnDef* column(const QString& name) const;
    int columnIndex(const QString& name) const;
    QStringList columnNames() const;
    QStringList keyNames() const;
};

const std::vector<TableDef>& schemaTables();
const TableDef* findTable(const QString& name);

// The version of the tables this release reads and writes. A database keeps
// its version in the table fp_schema_version (one row); a later release that
// changes the tables raises the number and adds the step that upgrades a
// database of the previous version in place.
// Version 2 adds fp_pending_upload (saves whose upload is not yet confirmed);
// version 3 makes it the journal of every request in flight (uploads, voids,
// blank voids, print reports).
inline constexpr int kSchemaVersion = 4;
inline constexpr const char* kSchemaVersionTable = "fp_schema_version";

// The version a database is at: 0 when it has no version row (new, or made
// before versions were kept), -1 on a read error (sqlerrtext says why).
int schemaVersion(Transaction& t);

// Creates every table and index that does not exist yet and brings the
// database to kSchemaVersion, in one transaction; clients starting at once
// wait for each other. Refuses a database of a newer version than this release.
[[nodiscard]] bool createSchema(Transaction& t, QString* error);

// Display width of a text in characters (code points).
int textLength(const QString& value);
// The message for a text value longer than its column allows, or an empty text.
QString widthError(const ColumnDef& column, const QString& value);
// Checks every text value of `values` (column -> value) against `table`.
QString widthError(const TableDef& table, const QVariantMap& values);

} // namespace fp
