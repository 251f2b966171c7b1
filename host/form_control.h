#pragma once
// uo_dw_grid: a control showing a form definition through a DataStore. It adds
// what belongs to the control rather than to the data: visibility, position, the
// current row and column, the pending edit and read-only mode.
#include "host/controls.h"

#include <QString>
#include <memory>

namespace fp {

class DataStore;
class Transaction;

class FormControl : public Control {
public:
    FormControl(BaseWindow* p, QString n);
    ~FormControl() override;

    // The definition shown; setting it replaces the data store (empty, unbound).
    QString dataObject() const { return dataObject_; }
    [[nodiscard]] bool setDataObject(const QString& definitionName);
    // settransobject: binds the store to the transaction.
    void setTransObject(Transaction* t);
    Transaction* transObject() const { return trans_; }

    DataStore* store() const { return store_.get(); }

    bool hScrollBar = false;
    bool vScrollBar = false;
    bool liveScroll = false;

    // Read-only mode as the form's "ReadOnly" property: "yes" or "no".
    bool readOnly() const;
    void setReadOnly(bool ro);

    int currentRow = 0; // 1-based, 0 = none
    QString currentColumn;
    void setRow(int row) {
        currentRow = row;
        notify();
    }
    void setColumn(const QString& col) {
        currentColumn = col;
        notify();
    }
    void scrollToRow(int row) { setRow(row); }

    // ---- editing ----
    // The text being typed into the current cell, not yet accepted.
    void editText(const QString& text);
    bool hasPendingEdit() const { return pending_; }
    QString pendingText() const { return pendingText_; }
    void discardEdit() {
        pending_ = false;
        pendingText_.clear();
    }
    // accepttext: validates the pending edit and stores it; a value the column
    // does not take is reported with mess and keeps the edit pending. 1 on
    // success (also with nothing pending), -1 on failure.
    [[nodiscard]] int acceptText();
    // What a user does in a cell: go to it, type, and leave it (accept).
    int typeInto(int row, const QString& column, const QString& text);
    // itemchanged(row, column, data), after the value is stored; 0 keeps it.
    std::function<long(int row, const QString& column, const QString& data)> onItemChanged;
    // A click in an open drop-down list of a column (ue_dddw): the list, and
    // the band and object under the pointer ("header", "cname_t\t1").
    std::function<void(DataStore* list, const QString& band, const QString& object)> onDropDownClick;
    // Key strokes in the form (u_key); true when the handler consumed the key.
    std::function<bool(int key, int keyflags)> onKey;
    // A key stroke: the handler first; an unconsumed Tab moves to the next column.
    void keyDown(int key, int keyflags = 0);
    // Tab: the next editable column of the row, else the first of the next row.
    void tabForward();
    // Shift+Tab: the same path backwards, to the previous editable column (the
    // last of the previous row from a row's first).
    void tabBackward();
    // Columns the user can reach with Tab, in order.
    QStringList tabColumns() const;

private:
    QString dataObject_;
    Transaction* trans_ = nullptr;
    std::unique_ptr<DataStore> store_;
    bool readOnly_ = false;
    bool pending_ = false;
    QString pendingText_;
};

} // namespace fp
