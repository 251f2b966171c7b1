#pragma once
// DataStore: the rows of one form definition, read from and written to the
// database through the caller's Transaction.
//
// Rows live in a primary buffer (what the form shows) and a delete buffer (rows
// deleted since the last reset of the update flags). Every row keeps its
// original and current values, a status and a modified flag per column. Rows and
// columns are numbered from 1, as the windows number them.
//
// update() writes deletes, then updates (located by the ORIGINAL key values),
// then inserts, all inside the caller's transaction; it never commits or rolls
// back. When any statement fails, every buffer and flag stays as it was, so the
// same rows are written again after the caller rolled back and corrected the
// cause.
#include "data_model/form_def.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace fp {

class Transaction;

enum class RowStatus { NotModified, DataModified, New, NewModified };

class DataStore {
public:
    DataStore(const FormDef& def, Transaction& transaction);
    ~DataStore();
    DataStore(const DataStore&) = delete;
    DataStore& operator=(const DataStore&) = delete;

    const FormDef& def() const { return def_; }
    QString name() const { return def_.name; }
    Transaction& transaction() const { return *tx_; }
    void setTransaction(Transaction& transaction);

    // ---- retrieval and rows ----
    // Arguments in the definition's order. Returns the row count, or -1 with the
    // database error in lastError() (the buffers are then left as they were).
    [[nodiscard]] int retrieve(const QVariantList& args = {});
    // Inserts an empty row (initial values) before `before`; 0 or a row past the
    // end appends. Returns the new row's number.
    int insertRow(int before = 0);
    // Moves the row to the delete buffer (a row never written is dropped).
    [[nodiscard]] bool deleteRow(int row);
    // Discards every row of both buffers.
    void reset();
    int rowCount() const { return int(primary_.size()); }
    // Rows with changes to write (DataModified or NewModified).
    int modifiedCount() const;
    // Retrieved rows deleted and not yet written.
    int deletedCount() const;

    RowStatus rowStatus(int row) const;
    void setRowStatus(int row, RowStatus status);
    bool isModified(int row, const QString& column) const;

    // ---- values ----
    // Null values read as: empty QString, std::nullopt, invalid QDateTime, invalid QVariant.
    QString getString(int row, const QString& column) const;
    QString getString(int row, int column) const;
    std::optional<Decimal> getDecimal(int row, const QString& column) const;
    std::optional<Decimal> getDecimal(int row, int column) const;
    QDateTime getDateTime(int row, const QString& column) const;
    QDateTime getDateTime(int row, int column) const;
    // The stored value: QString, fp::Decimal, QDateTime or qlonglong; invalid = null.
    QVariant getVariant(int row, const QString& column) const;
    QVariant getVariant(int row, int column) const;
    bool isNull(int row, const QString& column) const;
    // The original (as retrieved or last written) value.
    QVariant getOriginal(int row, const QString& column) const;

    // Sets a value, converted to the column's type (a Decimal travels as
    // fp::Decimal in the QVariant; texts and numbers are accepted for numeric
    // and date columns). Marks the column modified. False for an unknown row or
    // column, or a value that does not convert; lastError() then says why.
    [[nodiscard]] bool setItem(int row, const QString& column, const QVariant& value);
    [[nodiscard]] bool setItem(int row, int column, const QVariant& value);

    // ---- edit text ----
    // The error for entering `text` in the cell (type, width, range), or an
    // empty text when it would be accepted.
    QString validateText(int row, const QString& column, const QString& text) const;
    // validateText and, when it passes, sets the value (code-table and drop-down
    // display texts are stored as their data values; an empty text is null).
    [[nodiscard]] QString setItemText(int row, const QString& column, const QString& text);
    // The text to show in a cell: display value of a code table or drop-down,
    // the mask of a masked column, otherwise the value in the column's format.
    QString displayText(int row, const QString& column) const;

    // The control that shows the store installs its pending-edit commit here;
    // update(true) runs it first. It returns an empty text or the error.
    void setAcceptTextHandler(std::function<QString()> handler) { acceptText_ = std::move(handler); }
    [[nodiscard]] int acceptText();

    // ---- writing ----
    [[nodiscard]] int update(bool acceptText = true, bool resetFlags = true);
    // Marks every row not modified, original = current, and empties the delete buffer.
    void resetUpdate();
    QString lastError() const { return lastError_; }

    // ---- finding and ordering ----
    class RowView {
    public:
        RowView(const DataStore& s, int row) : s_(s), row_(row) {}
        int row() const { return row_; }
        QString getString(const QString& c) const { return s_.getString(row_, c); }
        std::optional<Decimal> getDecimal(const QString& c) const { return s_.getDecimal(row_, c); }
        QDateTime getDateTime(const QString& c) const { return s_.getDateTime(row_, c); }
        QVariant getVariant(const QString& c) const { return s_.getVariant(row_, c); }
        bool isNull(const QString& c) const { return s_.isNull(row_, c); }

    private:
        const DataStore& s_;
        int row_;
    };
    using Predicate = std::function<bool(const RowView&)>;
    // First row from startRow to endRow (backwards when startRow > endRow) for
    // which the predicate holds; 0 when none. endRow past the end means the last row.
    int find(const Predicate& predicate, int startRow, int endRow) const;
    // "col A" / "col D", several keys separated by ","; nulls first. An empty
    // text keeps the order. False for an unknown column.
    [[nodiscard]] bool sort(const QString& text);
    [[nodiscard]] bool setSort(const QString& text); // stores the sort text without sorting
    QString sortText() const { return sort_; }
    [[nodiscard]] bool sort() { return sort(sort_); }

    // Copies rows startRow..endRow into `target` before `beforeRow` (0 appends),
    // column by column position. The copies are new rows of the target
    // (NewModified: written as inserts by the target's update).
    [[nodiscard]] bool rowsCopy(int startRow, int endRow, DataStore& target, int beforeRow = 0) const;

    // Selection of rows (list highlighting).
    void selectRow(int row, bool selected); // row 0: every row
    bool isSelected(int row) const;
    // First selected row after `row`; 0 when none.
    int getSelectedRow(int afterRow) const;

    // ---- description ----
    int columnCount() const { return int(def_.columns.size()); }
    QString columnName(int n) const; // 1-based; empty when out of range
    // Column number of a column or view (1-based), 0 when unknown.
    int columnId(const QString& column) const;
    bool hasObject(const QString& name) const;
    QString objectText(const QString& name) const;
    // The name of a column in the store's own messages ("金额").
    QString messageName(const QString& column) const;
    [[nodiscard]] bool setObjectText(const QString& name, const QString& text);
    QString objectTag(const QString& name) const;
    QString columnTag(const QString& column) const;
    QString columnLabel(const QString& column) const;
    // Display value of `stored` in the column's code table or drop-down list;
    // the value itself when none matches.
    QString lookupDisplay(const QString& column, const QVariant& stored) const;
    // The drop-down list store of a drop-down column (or view); nullptr otherwise.
    DataStore* child(const QString& column) const;
    QVariant computed(const QString& name, int row = 1) const;
    bool isProtected(int row, const QString& column) const;
    int textColor(int row, const QString& name) const;
    // Answers "obj.text", "obj.tag", "obj.visible", "col.id", "col.name", "#n.name",
    // "datawindow.column.count", "datawindow.readonly",
    // "evaluate('lookupdisplay(col)',row)"; "!" for anything else.
    QString describe(const QString& what) const;

    bool readOnly() const { return readOnly_; }
    void setReadOnly(bool ro) { readOnly_ = ro; }

private:
    struct Row {
        QVariantList original;
        QVariantList current;
        std::vector<bool> modified;
        RowStatus status = RowStatus::New;
        bool selected = false;
    };
    struct Ref {
        int index = -1;                  // 0-based column index of the value
        const FormColumn* def = nullptr; // the column or the view named
    };

    Ref ref(const QString& column) const;
    Ref ref(int column) const;
    const Row* rowAt(int row) const;
    Row* rowAt(int row);
    QVariant convert(const FormColumn& c, const QVariant& v, QString* error) const;
    QVariant decode(const FormColumn& c, const QVariant& stored) const;
    QVariant nullBind(const FormColumn& c) const;
    bool setValue(int row, int index, const QVariant& value);
    QString displayName(const FormColumn& c) const;
    QString checkStorage(const Row& r, bool onlyModified) const;
    // update()'s passes and their helpers.
    int failUpdate(const QString& error);
    QString storageRefusal() const;
    bool writeDeletes();
    bool writeUpdates();
    bool writeInserts(std::vector<std::pair<size_t, qlonglong>>& assigned);
    int identityIndex() const;
    QVariant bindValue(int index, const QVariant& v) const;
    QString keyWhere(const Row& r, QVariantList& binds) const;
    bool execWrite(const QString& sql, const QVariantList& binds, bool mustHitRow);
    void ensureChildrenRetrieved();

    const FormDef& def_;
    Transaction* tx_;
    std::vector<Row> primary_;
    std::vector<Row> deleted_;
    QHash<QString, QString> objectTexts_;
    std::map<QString, std::unique_ptr<DataStore>> children_;
    std::function<QString()> acceptText_;
    QString lastError_;
    QString sort_;
    bool readOnly_ = false;
};

// A store over the named definition; nullptr for an unknown name.
std::unique_ptr<DataStore> makeStore(const QString& name, Transaction& transaction);

} // namespace fp
