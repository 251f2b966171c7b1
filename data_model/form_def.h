#pragma once
// Form definitions: every form, list, drop-down list and the print form of the
// module is described here as data. One engine (DataStore) retrieves, edits and
// writes them all; the rules that used to be expressions are typed C++ lambdas
// over the store.
//
// Column order is part of the contract: the upload reads the header and item
// forms by column position, so `columns` lists exactly the columns of the
// source in source order. A second view of a column (the tax office name shown
// for the office code) is a `view`: it has its own name, label, tag and edit
// style, but no value and no position of its own.
#include "data_model/decimal.h"
#include "data_model/dialect.h"
#include "data_model/schema.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

namespace fp {

class DataStore;
class Transaction;

enum class FormKind { FreeForm, Grid };
enum class EditStyle { Plain, CodeTable, DropDown, Masked };

// Colours are host colour values: red + 256 * green + 65536 * blue (0 = black).
constexpr int rgbColour(int r, int g, int b) { return r + 256 * g + 65536 * b; }
constexpr int redOf(int c) { return c & 0xff; }
constexpr int greenOf(int c) { return (c >> 8) & 0xff; }
constexpr int blueOf(int c) { return (c >> 16) & 0xff; }
inline constexpr int kColourBlack = 0;
inline constexpr int kColourRed = rgbColour(255, 0, 0);

// Markers inside a tag, each between bars.
inline const QString kTagNotNull = QStringLiteral("|notnull|");
inline const QString kTagEndCol = QStringLiteral("END_COL|");
inline const QString kTagPrintVisible = QStringLiteral("|printvisible=1|");

struct CodeEntry {
    QString display;
    QString stored;
};

struct DropDownSpec {
    QString form;          // definition of the list
    QString displayColumn; // what the field shows
    QString dataColumn;    // what the field stores
};

// (store, row 1-based) -> true when the rule holds for that row.
using RowRule = std::function<bool(const DataStore&, int row)>;
// (store, row) -> host colour value.
using ColourRule = std::function<int(const DataStore&, int row)>;

struct FormColumn {
    QString name;     // name on the form
    QString dbColumn; // column of the source table
    QString table;    // table holding dbColumn
    ColType type = ColType::Text;
    int width = 0;    // characters of a text column (from the table description)
    bool key = false; // part of the update key
    bool updatable = false;
    QString label; // text of the column's heading or label object (empty: none)
    QString tag;
    EditStyle edit = EditStyle::Plain;
    QList<CodeEntry> codeTable;
    DropDownSpec dropDown;
    QString mask;     // masked edit: the text shown in place of the value
    QString format;   // display format ("#,###,###,##0.00", "yyyy-mm-dd", ...)
    QVariant initial; // value of a freshly inserted row (null when invalid)
    bool visible = true;
    QString viewOf;    // for a view: the column whose value it shows
    RowRule protect;   // row cannot be edited in this column while true
    ColourRule colour; // text colour; black when empty

    bool required() const { return tag.contains(kTagNotNull); }
    bool isView() const { return !viewOf.isEmpty(); }
};

struct TextObject {
    QString name;
    QString text;
    QString tag;
    bool visible = true;
};

struct ComputedField {
    QString name;
    QString expression; // what it computes, for the reader
    QString format;
    QString tag;
    bool aggregate = true; // same value in every row
    std::function<QVariant(const DataStore&, int row)> eval;
    ColourRule colour;
};

struct RetrievalArg {
    QString name;    // as_sxh, as_fpdm, ...
    QString filters; // column or expression the argument filters
    ColType type = ColType::Text;
};

// Print layout: positions in layout units of the form (2629 units across).
enum class Band { Header, Detail, Summary, Page };
enum class Align { Left, Center, Right };

struct LayoutObject {
    QString name; // a text object, column or computed field of the form
    Band band = Band::Header;
    int x = 0;
    int y = 0;
    int height = 0;
    int width = 0;
    QString fontFamily; // "宋体" (serif) or "黑体" (sans)
    int fontSize = 10;  // points
    bool bold = false;
    bool hidden = false;
    Align align = Align::Left;
};

struct LayoutLine {
    Band band = Band::Header;
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

// Heading-area objects are placed from the top of the heading, item-row objects
// from the top of each item row, closing-area objects from the top of the area
// after the last item row, page objects from the top of the page. Rules may
// reach past the height of their area (the left border runs from the heading
// down beside the first item rows); they are drawn unclipped.
struct PrintLayout {
    int width = 0;         // layout units across
    int headerHeight = 0;  // heading area, drawn once at the top
    int detailHeight = 0;  // one item row
    int summaryHeight = 0; // closing area after the item rows
    double unitMm = 0.0;   // millimetres per layout unit
    // The paper the form prints on and where the layout's top-left corner sits
    // on it, in millimetres.
    double paperWidthMm = 0.0;
    double paperHeightMm = 0.0;
    double leftMm = 0.0;
    double topMm = 0.0;
    // Item rows the paper has room for; the closing area never prints higher
    // than after this many rows, however few the form holds.
    int paperItemRows = 0;
    std::vector<LayoutObject> objects;
    std::vector<LayoutLine> lines;

    const LayoutObject* object(const QString& name) const;
};

// Host functions that form expressions call. The host installs them at start-up
// (see host/judge_column.h); the data model itself links no host code.
struct FormHostFunctions {
    std::function<QString(const Decimal&)> convertToBig; // amount in capital numerals
};
FormHostFunctions& formHostFunctions();

struct FormDef {
    QString name;
    FormKind kind = FormKind::Grid;
    QStringList tables;                  // source tables
    QString select;                      // SELECT with '?' placeholders
    std::vector<RetrievalArg> arguments; // in the caller's order
    QStringList placeholderArgs;         // argument bound to each '?', in text order
    QVariantMap fixedValues;             // placeholders bound to a fixed value, not an argument
    std::vector<FormColumn> columns;     // in source order
    std::vector<FormColumn> views;       // second views of columns
    std::vector<TextObject> texts;
    std::vector<ComputedField> computed;
    QString updateTable;                       // empty: the form updates nothing
    QStringList keyColumns;                    // form column names of the update key
    std::shared_ptr<const PrintLayout> layout; // print forms only
    // A one-row form on screen, as its paper reads: lines of columns (or views),
    // left to right, also the order of Tab; a column named in no line is not
    // shown. Empty: every visible column in definition order.
    std::vector<QStringList> screenLines;
    // A list's columns in the order the screen shows them first, the others
    // after them (display only: the definition's column order, which fixes the
    // positions of uploads, stays).
    QStringList screenOrder;

    bool readOnly() const { return updateTable.isEmpty(); }
    // 0-based position of a column (not of a view); -1 when there is none.
    int columnIndex(const QString& name) const;
    // A column or a view by name (case-insensitive).
    const FormColumn* column(const QString& name) const;
    const TextObject* text(const QString& name) const;
    const ComputedField* computedField(const QString& name) const;
    QStringList columnNames() const;
};

// Display with the host's patterns: numbers "#,###,###,##0.00", "#0.00", "0.00"
// (Decimal and whole numbers), dates "yyyy-mm-dd", "yyyy年mm月dd日",
// "yyyymmddhhmmss" ("mm" is the month except right after the hour). Any other
// pattern gives the plain text of the value; a null value gives "".
QString formatDateTime(const QDateTime& dt, const QString& pattern);
QString formatValue(const QVariant& v, const QString& pattern);

// The label of a column for messages: the tag's text before the first "|" when
// that is not empty, else the column's label text.
QString columnLabelOf(const FormColumn& column);

// The fourteen definitions of the module, by name (case-insensitive); nullptr
// for an unknown name.
const FormDef* formDef(const QString& name);
QStringList formDefNames();

} // namespace fp
