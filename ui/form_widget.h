#pragma once
// FormWidget: the widget of a form control (uo_dw_grid). It shows the control's
// definition with the view that fits it, a FormView for a free form (one row of
// labelled fields) or a GridView for a list, and switches views when the
// definition changes kind.
//
// Focus: the form's focus proxy is the view's current field or table, so that
// the window's setFocus lands in the current column; any widget of the form
// taking the focus makes the control the window's focused control.
#include <QFrame>
#include <functional>

class QKeyEvent;

namespace fp {
class FormControl;
}

namespace fp::ui {

class FormView;
class GridView;

class FormWidget : public QFrame {
    Q_OBJECT
public:
    FormWidget(FormControl& control, QWidget* parent);
    ~FormWidget() override;

    // Mirrors the control: definition, rows, values, read-only mode, current cell.
    void mirror();

    FormControl& control() const { return control_; }
    // The view in use (one of them is null; both before the form is first shown).
    FormView* formView() const { return formView_; }
    GridView* gridView() const { return gridView_; }

    // Tab past the form's last cell (forward) or Shift+Tab before its first.
    std::function<void(bool forward)> onLeave;
    // True for a key that chooses a command of the window's menu (Ctrl+N...):
    // the form's fields and cell editors leave such keys to the menu.
    std::function<bool(const QKeyEvent&)> isCommandKey;

private:
    void focusChanged(QWidget* now);

    FormControl& control_;
    FormView* formView_ = nullptr;
    GridView* gridView_ = nullptr;
    // Cut in the destructor: QWidget's own destructor moves the focus, and the
    // handler must not run on a form that is half destroyed.
    QMetaObject::Connection focusWatch_;
};

} // namespace fp::ui
