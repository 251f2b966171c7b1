#pragma once
// FormTableModel: the rows of a form control's data store as a table model.
//
// One model row per store row, one model column per visible column of the
// definition. Cells show the store's display text (code-table and drop-down
// names, formats), negative amounts in the colour the definition gives them;
// headings are the column labels. A cell is editable unless the store or the
// control is read-only or the definition protects it.
//
// The model reads the control's current store on every call: the control may
// replace it (another definition) or change its rows at any time. refresh(),
// run when the control notifies, tells the views what changed.
#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

namespace fp {
class DataStore;
class FormControl;
struct FormColumn;
} // namespace fp

namespace fp::ui {

class FormTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FormTableModel(FormControl& control, QObject* parent = nullptr);

    FormControl& control() const { return control_; }
    DataStore* store() const;

    // Re-reads the control: a new definition, store or row count resets the
    // model, anything else updates every cell.
    void refresh();

    // The store column of a model column and back (-1 when not shown).
    QString columnName(int modelColumn) const;
    int modelColumn(const QString& columnName) const;
    const FormColumn* formColumn(int modelColumn) const;

    // A heading as the view lays it out (broken into shorter lines to fit its
    // column); the label's own text when none is set. Kept until the
    // definition or its columns change.
    void setShownHeading(int modelColumn, const QString& text);

    // The text an editor of the cell starts with: the shown text, amounts
    // without digit grouping.
    QString editText(const QModelIndex& index) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Typing `value` into the cell and leaving it, through the control.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    bool validCell(const QModelIndex& index, DataStore** store) const;

    FormControl& control_;
    QString definition_;
    const DataStore* storeId_ = nullptr; // identity only: never dereferenced
    int rows_ = 0;
    QStringList columns_;
    QHash<int, QString> shownHeadings_;
};

} // namespace fp::ui
