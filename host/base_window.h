#pragma once
// w_base_child: the ancestor of the module's windows. A window is a set of
// handlers; every command is a user event raised by name (a name the window does
// not handle is ignored). Controls register by name so the view and the tests can
// find them; the focused control is observable.
#include "host/controls.h"
#include "host/host_services.h"
#include "host/menu.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace fp {

// imess_open: the window's open parameters; functionId is its function number.
struct OpenParams {
    int functionId = 0;
    QString text;
};

class BaseWindow {
public:
    BaseWindow(HostServices& host, QString name);
    virtual ~BaseWindow();
    BaseWindow(const BaseWindow&) = delete;
    BaseWindow& operator=(const BaseWindow&) = delete;

    const QString& name() const { return name_; }
    HostServices& host() { return host_; }
    Session& session() { return host_.session(); }
    const Session& session() const { return host_.session(); }

    int width = 0;
    int height = 0;
    int backColor = rgb(255, 251, 240);
    QString title;

    Toolbar uo_toolbar{this, QStringLiteral("uo_toolbar")};
    OpenParams imess_open;
    int il_baseheight = 0;    // height kept below the forms (the toolbar's share)
    QString is_keyevent_send; // "|ctl|...": controls whose ue_key gets the window's keys
    Menu menu;

    // Lifecycle. open() runs create (once) and the open handler; false when the
    // window closed itself while opening.
    [[nodiscard]] bool open(const OpenParams& params);
    // Asks closequery; closes unless it vetoes. True when closed.
    [[nodiscard]] bool close();
    bool isOpen() const { return opened_ && !closed_; }
    bool isClosed() const { return closed_; }
    // ue_resize(sizetype, newwidth, newheight)
    void resizeTo(int newWidth, int newHeight) { ue_resize(0, newWidth, newHeight); }

    // Raises a user event by name; the handler's result, 0 when not handled.
    long raise(const QString& event);
    bool handles(const QString& event) const { return events_.contains(event); }
    // Choosing a menu item or its button: raises its event.
    void chooseMenuItem(const QString& itemName);
    // A key stroke on the window (Enter, Tab...), passed to the key receivers.
    void keyDown(int key, int keyflags = 0);

    // Controls and focus.
    void registerControl(Control* c);
    Control* control(const QString& name) const;
    const std::vector<Control*>& controls() const { return controls_; }
    void setFocus(Control* c);
    Control* focused() const { return focused_; }
    QString focusedName() const { return focused_ ? focused_->name() : QString(); }
    const QStringList& focusLog() const { return focusLog_; }

    // The view listens: focus moves, the window closes.
    std::function<void(Control*)> onFocusChanged;
    std::function<void()> onClosedByItself;

protected:
    virtual void create() {}
    virtual void on_open() {}
    virtual void ue_resize(int sizetype, int newWidth, int newHeight);
    // 0 lets the window close, 1 keeps it open.
    virtual int closequery() { return 0; }
    virtual void destroy() {}

    void defineEvent(const QString& event, std::function<long()> handler) { events_.insert(event, std::move(handler)); }
    // Fills the toolbar from the menu's items.
    void buildToolbarFromMenu();

    // mess/msg2 of the host.
    void mess(const QString& text) { host_.mess(text); }
    int msg2(const QString& text) { return host_.msg2(text); }

private:
    HostServices& host_;
    QString name_;
    QHash<QString, std::function<long()>> events_;
    std::vector<Control*> controls_;
    Control* focused_ = nullptr;
    QStringList focusLog_;
    bool created_ = false;
    bool opened_ = false;
    bool closed_ = false;
    bool closing_ = false;
};

} // namespace fp
