#pragma once
// GridView: a form control (uo_dw_grid) whose definition is a list, shown as a
// table of its rows with the definition's summary ("合  计" and the total)
// underneath.
//
// Cells are edited with an editor per edit style: a line edit (as many
// characters as the column holds), a choose-only list for a code table, a list
// that also takes typed text for a drop-down of names (the item catalogue).
// What is typed is the control's pending edit; leaving the cell accepts it, so
// that the window's itemchanged handler runs. Enter and Tab go to the control
// as key strokes (the window's handler adds a line or moves on); the view then
// follows the control's current cell, which it also sets when the user moves.
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>
#include <functional>

class QLabel;

namespace fp {
class FormControl;
}

namespace fp::ui {

class FormTableModel;

class GridTable : public QTableView {
    Q_OBJECT
public:
    GridTable(FormControl& control, QWidget* parent);
    // Tab past the last cell or Shift+Tab before the first: the focus leaves the form.
    std::function<void(bool forward)> onLeave;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    FormControl& control_;
};

class FormItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    FormItemDelegate(FormControl& control, FormTableModel& model, QObject* parent);
    // Keys of the window's menu: an editor leaves them to the menu.
    std::function<bool(const QKeyEvent&)> isCommandKey;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FormControl& control_;
    FormTableModel& model_;
};

class GridView : public QWidget {
    Q_OBJECT
public:
    GridView(FormControl& control, QWidget* parent);

    // Re-reads the control: rows, cells, read-only mode, current cell, summary.
    void mirror();

    GridTable* table() const { return table_; }
    FormTableModel* model() const { return model_; }
    // The summary line: its caption ("合  计") and the total.
    QLabel* summaryCaption() const { return sumCaption_; }
    QLabel* summaryValue() const { return sumValue_; }
    // The widget that takes the focus for the form.
    QWidget* focusTarget() const;

    std::function<void(bool forward)> onLeave;
    void setCommandKeys(std::function<bool(const QKeyEvent&)> isCommandKey);

private:
    void sizeColumns();
    void placeSummary();
    void followCurrentCell();

    FormControl& control_;
    GridTable* table_ = nullptr;
    FormTableModel* model_ = nullptr;
    FormItemDelegate* delegate_ = nullptr;
    QWidget* summary_ = nullptr;
    QLabel* sumCaption_ = nullptr;
    QLabel* sumValue_ = nullptr;
    QString sizedFor_;     // the definition the columns were sized for
    QString sumColumn_;    // the column the total stands under
    bool syncing_ = false; // the view moves its current cell after the control
};

} // namespace fp::ui
