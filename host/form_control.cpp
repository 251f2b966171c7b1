#include "host/form_control.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "host/base_window.h"
#include "host/controls.h"

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

void FormControl::editText(const QString& text) {
    pending_ = true;
    pendingText_ = text;
}

int FormControl::acceptText() {
    if (!pending_) return 1;
    if (!store_ || currentRow < 1 || currentRow > store_->rowCount() || currentColumn.isEmpty()) {
        discardEdit();
        return 1;
    }
    const int row = currentRow;
    const QString column = currentColumn;
    const QString text = pendingText_;
    if (store_->readOnly() || store_->isProtected(row, column)) {
        discardEdit();
        return 1;
    }
    const QString error = store_->setItemText(row, column, text);
    if (!error.isEmpty()) {
        if (parent()) parent()->host().mess(error);
        return -1;
    }
    discardEdit();
    notify();
    if (onItemChanged) onItemChanged(row, column, text);
    notify();
    return 1;
}

int FormControl::typeInto(int row, const QString& column, const QString& text) {
    currentRow = row;
    currentColumn = column;
    editText(text);
    return acceptText();
}

QStringList FormControl::tabColumns() const {
    QStringList cols;
    if (!store_) return cols;
    const int row = currentRow > 0 ? currentRow : 1;
    auto takesInput = [&](const QString& name) {
        return !(store_->rowCount() >= row && store_->isProtected(row, name));
    };
    const FormDef& def = store_->def();
    if (!def.screenLines.empty()) {
        // The screen's reading order: the fields as laid out, line by line.
        for (const QStringList& line : def.screenLines)
            for (const QString& name : line) {
                const FormColumn* c = def.column(name);
                if (c && !c->isView() && takesInput(c->name)) cols << c->name;
            }
        return cols;
    }
    for (const QString& name : def.screenOrder)
        if (const FormColumn* c = def.column(name); c && c->visible && takesInput(c->name)) cols << c->name;
    for (const auto& c : def.columns)
        if (c.visible && !cols.contains(c.name) && takesInput(c.name)) cols << c.name;
    return cols;
}

void FormControl::tabBackward() {
    const QStringList cols = tabColumns();
    if (cols.isEmpty() || !store_) return;
    const int idx = int(cols.indexOf(currentColumn));
    if (idx > 0) {
        currentColumn = cols[idx - 1];
    } else if (currentRow > 1) {
        --currentRow;
        currentColumn = cols.last();
    } else if (idx < 0) {
        // From a field that takes no input: the one before it on screen.
        const FormDef& def = store_->def();
        QStringList all;
        for (const QStringList& line : def.screenLines) all += line;
        const int at = int(all.indexOf(currentColumn));
        for (int i = at - 1; i >= 0; --i)
            if (cols.contains(all[i])) {
                currentColumn = all[i];
                break;
            }
    }
    notify();
}

void FormControl::keyDown(int key, int keyflags) {
    if (onKey && onKey(key, keyflags)) return;
    if (key == keys::Tab) {
        if (acceptText() == 1) tabForward();
    }
}

void FormControl::tabForward() {
    const QStringList cols = tabColumns();
    if (cols.isEmpty() || !store_) return;
    int idx = int(cols.indexOf(currentColumn));
    if (idx >= 0 && idx + 1 < cols.size()) {
        currentColumn = cols[idx + 1];
    } else if (currentRow < store_->rowCount()) {
        ++currentRow;
        currentColumn = cols.first();
    } else if (idx < 0) {
        currentColumn = cols.first();
    }
    notify();
}

} // namespace fp
