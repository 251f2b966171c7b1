#include "host/form_control.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"

namespace fp {

FormControl::FormControl(BaseWindow* p, QString n) : Control(p, std::move(n), Kind::Form) {}
FormControl::~FormControl() = default;

bool FormControl::setDataObject(const QString& definitionName) {
    if (!formDef(definitionName)) return false;
    dataObject_ = definitionName;
    store_.reset();
    if (trans_) store_ = makeStore(dataObject_, *trans_);
    readOnly_ = false;
    currentRow = 0;
    currentColumn.clear();
    notify();
    return true;
}

void FormControl::setTransObject(Transaction* t) {
    if (t == trans_ && store_) return;
    trans_ = t;
    if (trans_ && !dataObject_.isEmpty()) store_ = makeStore(dataObject_, *trans_);
    notify();
}

bool FormControl::readOnly() const { return readOnly_; }

void FormControl::setReadOnly(bool ro) {
    readOnly_ = ro;
    if (store_) store_->setReadOnly(ro);
    notify();
}

} // namespace fp
