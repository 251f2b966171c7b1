#pragma once
// ChildView: the MDI child that shows one toolkit-neutral window.
//
// It creates one widget per registered control and mirrors the control's state
// (visible, enabled, text, colour, position, items, checked) into it whenever
// the control notifies. Widget events go back as control events: a click on a
// check box is CheckBox::click(), a choice in a drop-down DropDown::select(),
// typed text the control's text, Enter the window's key handlers, a toolbar
// button the button's user event, a menu shortcut BaseWindow::chooseMenuItem.
// Focus follows the window's focused control both ways. A form control is shown
// by a FormWidget (fields or a grid); Tab out of a form's last cell goes to the
// next control in tab order. Closing the child asks the window (closequery may
// veto); a window that closes itself closes the child.
#include "host/base_window.h"

#include <QList>
#include <QMdiSubWindow>
#include <memory>
#include <vector>

class QAction;
class QKeyEvent;
class QToolBar;

namespace fp::ui {

class ChildView : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit ChildView(std::unique_ptr<BaseWindow> window, QWidget* parent = nullptr);
    ~ChildView() override;

    // Runs the window's open with `params` and builds the widgets. False when the
    // window closed itself while opening (nothing is built then).
    bool openWindow(const OpenParams& params);

    // Gives the focus to the window's focused control, or else to the first
    // control in tab order (once the child is shown and active).
    void focusFirst();

    BaseWindow& window() const { return *window_; }
    int functionId() const { return window_->imess_open.functionId; }

    // The surface the controls sit on (the subwindow's widget).
    QWidget* canvas() const { return canvas_; }
    // The widget of a control (object name = control name), or null.
    QWidget* widgetFor(const QString& controlName) const;
    QToolBar* toolBar() const { return toolBar_; }
    // The window's command menu as actions for the frame's menu bar: visible items
    // and separators, each choosing its item; enabled as its toolbar button.
    const QList<QAction*>& commandActions() const { return commandActions_; }

    // Pixel size of the window's layout size.
    QSize layoutSizePx() const;

signals:
    // The child is closing (its window agreed): the last moment its size and
    // place can be read.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Binding {
        Control* control = nullptr;
        QWidget* widget = nullptr;
        QString toolbarSignature; // toolbar: the button layout last built
        bool fromWidget = false;  // the change came from the widget itself
    };

    void build();
    QWidget* createWidget(Binding& b);
    void mirror(Binding& b);
    void mirrorGeometry(Binding& b);
    void mirrorToolbar(Binding& b);
    void mirrorList(Binding& b);
    void buildShortcuts();
    void buildCommandActions();
    void refreshCommandActions();
    void applyTabOrder();
    void focusControl(Control* c);
    // Tab out of a form: the next (or previous) control in tab order that is
    // shown and enabled takes the focus.
    void focusNeighbour(Control* from, bool forward);
    Binding* bindingOf(const QObject* widget);
    // Whether a key is one of the window's menu shortcuts.
    bool isWindowShortcut(const QKeyEvent& e) const;
    bool deliverKey(Binding& b, int key, int keyflags);

    std::unique_ptr<BaseWindow> window_;
    QWidget* canvas_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    std::vector<std::unique_ptr<Binding>> bindings_;
    QList<QAction*> shortcutActions_;
    QList<QAction*> commandActions_;
    bool built_ = false;
    bool inCloseEvent_ = false;
    bool syncingFocus_ = false;
    bool dying_ = false;
};

} // namespace fp::ui
