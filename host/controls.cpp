#include "host/controls.h"

#include "data_model/transaction.h"
#include "host/base_window.h"

#include <QSqlRecord>

namespace fp {

Control::Control(BaseWindow* parent, QString name, Kind kind) : parent_(parent), name_(std::move(name)), kind_(kind) {}

void Control::setFocus() {
    if (parent_) parent_->setFocus(this);
}

void Edit::setText(const QString& t) {
    if (limit > 0 && t.size() > limit)
        text_ = t.left(limit);
    else
        text_ = t;
    notify();
}

int DropDown::of_getdata_from_sql(Transaction& sqlca, const QString& sql, const QVariantList& binds,
                                  const QString& idColumn, const QString& nameColumn) {
    items_.clear();
    selected_ = 0;
    if (!sqlca.exec(sql, binds)) {
        notify();
        return -1;
    }
    QSqlQuery& q = sqlca.lastQuery();
    const int idIdx = q.record().indexOf(idColumn);
    const int nameIdx = q.record().indexOf(nameColumn);
    while (q.next()) {
        const QString id = idIdx >= 0 ? q.value(idIdx).toString() : QString();
        const QString name = nameIdx >= 0 ? q.value(nameIdx).toString() : QString();
        items_.push_back({id, name});
    }
    notify();
    return count();
}

QString DropDown::of_getid(int index) const {
    if (index < 1 || index > count()) return QString(QLatin1String(""));
    return items_[size_t(index - 1)].id;
}

QString DropDown::of_getid(const QString& t) const {
    for (const auto& i : items_)
        if (i.text == t) return i.id;
    return QString(QLatin1String(""));
}

QString DropDown::of_getname(const QString& t) const {
    for (const auto& i : items_)
        if (i.text == t) return i.text;
    return QString(QLatin1String(""));
}

int DropDown::deleteItem(int index) {
    if (index < 1 || index > count()) return -1;
    items_.erase(items_.begin() + (index - 1));
    if (selected_ == index)
        selected_ = 0;
    else if (selected_ > index)
        --selected_;
    notify();
    return count();
}

void DropDown::selectItem(int index) {
    if (index < 1 || index > count()) {
        selected_ = 0;
    } else {
        selected_ = index;
        text_ = items_[size_t(index - 1)].text;
    }
    notify();
}

void DropDown::select(int index) {
    if (index < 1 || index > count()) return;
    selectItem(index);
    if (onSelectionChanged) onSelectionChanged(index);
}

void Toolbar::of_setenable(const QString& t, bool enable) {
    for (auto& b : buttons)
        if (b.text == t) b.enabled = enable;
    notify();
}

bool Toolbar::isEnabled(const QString& t) const {
    const Button* b = button(t);
    return b && b->enabled;
}

const Toolbar::Button* Toolbar::button(const QString& t) const {
    for (const auto& b : buttons)
        if (b.text == t && b.visible) return &b;
    for (const auto& b : buttons)
        if (b.text == t) return &b;
    return nullptr;
}

} // namespace fp
