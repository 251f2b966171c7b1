#include "ui/form_table_model.h"

#include "data_model/data_store.h"
#include "host/form_control.h"
#include "ui/form_editing.h"
#include "ui/ui_metrics.h"

#include <QColor>

namespace fp::ui {

FormTableModel::FormTableModel(FormControl& control, QObject* parent) : QAbstractTableModel(parent), control_(control) {
    refresh();
}

DataStore* FormTableModel::store() const { return control_.store(); }

void FormTableModel::refresh() {
    DataStore* s = store();
    QStringList cols;
    if (s) {
        // The screen's order first (on an integrated invoice 品目, 数量, 单价, 金额), then the rest.
        for (const QString& name : s->def().screenOrder)
            if (const FormColumn* c = s->def().column(name); c && c->visible) cols << c->name;
        for (const auto& c : s->def().columns)
            if (c.visible && !cols.contains(c.name)) cols << c.name;
    }
    const int rows = s ? s->rowCount() : 0;
    const QString def = control_.dataObject();
    if (s != storeId_ || def != definition_ || cols != columns_ || rows != rows_) {
        beginResetModel();
        if (def != definition_ || cols != columns_) shownHeadings_.clear();
        storeId_ = s;
        definition_ = def;
        columns_ = cols;
        rows_ = rows;
        endResetModel();
        return;
    }
    if (rows_ > 0 && !columns_.isEmpty()) emit dataChanged(index(0, 0), index(rows_ - 1, int(columns_.size()) - 1));
    emit headerDataChanged(Qt::Vertical, 0, std::max(0, rows_ - 1));
}

QString FormTableModel::columnName(int modelColumn) const { return columns_.value(modelColumn); }

int FormTableModel::modelColumn(const QString& columnName) const {
    for (int i = 0; i < columns_.size(); ++i)
        if (columns_[i].compare(columnName, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

const FormColumn* FormTableModel::formColumn(int modelColumn) const {
    DataStore* s = store();
    if (!s || modelColumn < 0 || modelColumn >= columns_.size()) return nullptr;
    return s->def().column(columns_[modelColumn]);
}

int FormTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int FormTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(columns_.size()); }

bool FormTableModel::validCell(const QModelIndex& index, DataStore** out) const {
    DataStore* s = store();
    // The store may have changed under the view (a handler that has not
    // notified yet): only rows it still has are read.
    if (!s || s != storeId_ || !index.isValid() || index.column() >= columns_.size() || index.row() >= s->rowCount())
        return false;
    *out = s;
    return true;
}

void FormTableModel::setShownHeading(int modelColumn, const QString& text) {
    if (shownHeadings_.value(modelColumn) == text) return;
    shownHeadings_.insert(modelColumn, text);
    emit headerDataChanged(Qt::Horizontal, modelColumn, modelColumn);
}

QString FormTableModel::editText(const QModelIndex& index) const {
    DataStore* s = nullptr;
    if (!validCell(index, &s)) return QString();
    return editTextOf(*s, index.row() + 1, columns_[index.column()]);
}

QVariant FormTableModel::data(const QModelIndex& index, int role) const {
    DataStore* s = nullptr;
    if (!validCell(index, &s)) return {};
    const int row = index.row() + 1;
    const QString& col = columns_[index.column()];
    switch (role) {
    case Qt::DisplayRole: return s->displayText(row, col);
    case Qt::EditRole: return editText(index);
    case Qt::BackgroundRole:
        // A cell that takes no input is tinted like the read-only fields of a free form.
        return flags(index) & Qt::ItemIsEditable ? QVariant() : QVariant(readOnlyFieldColour());
    case Qt::ForegroundRole: {
        const int colour = s->textColor(row, col);
        return colour == kColourBlack ? QVariant() : QVariant(colorFromPacked(colour));
    }
    case Qt::TextAlignmentRole: {
        const FormColumn* c = s->def().column(col);
        const bool number = c && c->edit == EditStyle::Plain &&
                            (c->type == ColType::Decimal2 || c->type == ColType::Whole || c->type == ColType::Identity);
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    case Qt::ToolTipRole: {
        const FormColumn* c = s->def().column(col);
        return c ? columnLabelOf(*c) : QString();
    }
    default: return {};
    }
}

QVariant FormTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Vertical) return section + 1;
    if (const auto it = shownHeadings_.constFind(section); it != shownHeadings_.constEnd()) return *it;
    const FormColumn* c = formColumn(section);
    return c ? headingText(c->label) : QVariant();
}

Qt::ItemFlags FormTableModel::flags(const QModelIndex& index) const {
    DataStore* s = nullptr;
    if (!validCell(index, &s)) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!control_.readOnly() && !s->readOnly() && !s->isProtected(index.row() + 1, columns_[index.column()]))
        f |= Qt::ItemIsEditable;
    return f;
}

bool FormTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
    const QString text = value.toString();
    if (text == editText(index)) return true;
    typeText(control_, index.row() + 1, columns_[index.column()], text);
    return leaveCell(control_) == 1;
}

} // namespace fp::ui
