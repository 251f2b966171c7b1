#include "host/controls.h"

#include "data_model/transaction.h"
#include "host/base_window.h"

#include <QSqlRecord>

#include <algorithm>
#include <numeric>

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

void ListView::setRows(std::vector<Column> columns, QList<QStringList> rows, QList<int> colours) {
    columns_ = std::move(columns);
    rows_ = std::move(rows);
    colours_ = std::move(colours);
    current_ = rows_.isEmpty() ? 0 : 1;
    sortColumn_ = -1;
    ascending_ = true;
    ++revision_;
    notify();
}

QString ListView::cell(int row, int column) const {
    if (row < 1 || row > rows_.size()) return QString();
    return rows_[row - 1].value(column);
}

void ListView::sortBy(int column) {
    if (column < 0 || column >= int(columns_.size())) return;
    ascending_ = !(sortColumn_ == column && ascending_);
    sortColumn_ = column;
    const bool number = columns_[size_t(column)].number;
    std::vector<int> order(size_t(rows_.size()));
    std::iota(order.begin(), order.end(), 0);
    const auto less = [&](int a, int b) {
        const QString& x = rows_[a].value(column);
        const QString& y = rows_[b].value(column);
        if (number) return x.toDouble() < y.toDouble();
        return x < y;
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return ascending_ ? less(a, b) : less(b, a); });
    QList<QStringList> rows;
    QList<int> colours;
    rows.reserve(rows_.size());
    int current = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        rows << rows_[order[i]];
        if (order[i] < colours_.size()) colours << colours_[order[i]];
        if (order[i] + 1 == current_) current = int(i) + 1;
    }
    rows_ = std::move(rows);
    if (colours.size() == rows_.size()) colours_ = std::move(colours);
    current_ = current;
    ++revision_;
    notify();
}

void ListView::setCurrentRow(int row) {
    if (row < 0 || row > rows_.size() || row == current_) return;
    current_ = row;
    notify();
}

void ListView::activate() {
    if (current_ >= 1 && onActivated) onActivated(current_);
}

} // namespace fp
