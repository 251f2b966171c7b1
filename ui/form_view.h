#pragma once
// FormView: a form control (uo_dw_grid) whose definition is a one-row free
// form (the invoice header), shown as labelled fields.
//
// Layout: the visible columns in definition order (a second view of a column,
// the tax office name, right after its column), three label/field pairs to a
// line; the fields share the width, the labels take what their text needs. The
// whole scrolls when the form is lower than its fields.
//
// Fields by edit style: a line edit holding at most the column's width; a
// choose-only list for a code table and for a drop-down that shows a name for a
// code; a list that also takes typed text for a drop-down of names (the payer).
// Dates show as "yyyy-mm-dd", amounts as the definition formats them, negative
// amounts in the definition's colour; a field being edited holds the plain
// value (an amount without its grouping), as a grid cell's editor does. Protected columns and a read-only form
// take no input.
//
// Input goes through the control: typing is the pending edit; leaving the field
// or Enter accepts it (Enter then moves on like Tab, unless the form's key
// handler takes it); the field with the focus is the control's current column,
// and the focus follows the current column when the control moves it.
#include <QScrollArea>
#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QGridLayout;

namespace fp {
class DataStore;
class FormControl;
struct FormColumn;
} // namespace fp

namespace fp::ui {

class FieldCombo;

class FormView : public QScrollArea {
    Q_OBJECT
public:
    // Label/field pairs on one line.
    static constexpr int kPairsPerLine = 3;

    FormView(FormControl& control, QWidget* parent);

    // Re-reads the control: values, lists, read-only mode, colours, current column.
    void mirror();

    // The field of a column (or view), null when the form shows none.
    QWidget* editorFor(const QString& column) const;
    QLabel* labelFor(const QString& column) const;
    // Columns shown, in field order.
    QStringList columns() const;
    // The widget that takes the focus for the form: the current column's field.
    QWidget* focusTarget() const;

    std::function<void(bool forward)> onLeave;
    std::function<bool(const QKeyEvent&)> isCommandKey;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Field {
        QString column;
        QLabel* label = nullptr;
        QWidget* editor = nullptr;
        QLineEdit* line = nullptr;   // plain fields
        FieldCombo* combo = nullptr; // code tables and drop-downs
    };

    void build();
    Field* fieldOf(const QObject* widget);
    Field* fieldFor(const QString& column);
    // Shows the column's value: the text to edit while the field has the
    // focus, else the text as the form formats it.
    void showValue(Field& f);
    bool handleKey(Field& f, QKeyEvent* event);
    void showListColumns(Field& f, const DataStore& list, const FormColumn& column);

    FormControl& control_;
    QWidget* body_ = nullptr;
    QString builtFor_;
    QString followed_; // the current column the focus last followed
    std::vector<Field> fields_;
    bool syncing_ = false; // focus moved by the view, not the user
    bool busy_ = false;    // inside a key or leave, while the control works
};

} // namespace fp::ui
