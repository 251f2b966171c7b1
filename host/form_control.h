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
    bool setDataObject(const QString& definitionName);
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

    int currentRow = 0;       // 1-based, 0 = none
    QString currentColumn;
    void setRow(int row) { currentRow = row; notify(); }
    void setColumn(const QString& col) { currentColumn = col; notify(); }

private:
    QString dataObject_;
    Transaction* trans_ = nullptr;
    std::unique_ptr<DataStore> store_;
    bool readOnly_ = false;
};

} // namespace fp
