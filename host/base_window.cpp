#include "host/base_window.h"

namespace fp {

BaseWindow::BaseWindow(HostServices& host, QString name) : host_(host), name_(std::move(name)) {
    uo_toolbar.height = 128;
    uo_toolbar.tabOrder = 70;
    registerControl(&uo_toolbar);
}

BaseWindow::~BaseWindow() = default;

bool BaseWindow::open(const OpenParams& params) {
    imess_open = params;
    if (!created_) {
        created_ = true;
        create();
        buildToolbarFromMenu();
    }
    opened_ = true;
    on_open();
    return !closed_;
}

bool BaseWindow::close() {
    if (closed_) return true;
    if (closing_) return false;
    closing_ = true;
    const int veto = closequery();
    closing_ = false;
    if (veto != 0) return false;
    closed_ = true;
    destroy();
    if (onClosedByItself) onClosedByItself();
    return true;
}

void BaseWindow::ue_resize(int, int newWidth, int newHeight) {
    width = newWidth;
    height = newHeight;
}

long BaseWindow::raise(const QString& event) {
    if (closed_) return 0;
    auto it = events_.constFind(event);
    if (it == events_.constEnd()) return 0;
    return it.value()();
}

void BaseWindow::chooseMenuItem(const QString& itemName) {
    for (const auto& item : menu.items) {
        if (item.name == itemName && !item.event.isEmpty()) {
            const Toolbar::Button* b = uo_toolbar.button(item.textUpToTab());
            if (b && !b->enabled) return; // a disabled command cannot be chosen
            raise(item.event);
            return;
        }
    }
}

void BaseWindow::keyDown(int key, int keyflags) {
    for (Control* c : controls_) {
        if (!is_keyevent_send.contains(QLatin1Char('|') + c->name() + QLatin1Char('|'))) continue;
        if (auto* dd = dynamic_cast<DropDown*>(c); dd && dd->onKey) dd->onKey(key, keyflags);
    }
}

void BaseWindow::registerControl(Control* c) { controls_.push_back(c); }

Control* BaseWindow::control(const QString& n) const {
    for (Control* c : controls_)
        if (c->name() == n) return c;
    return nullptr;
}

void BaseWindow::setFocus(Control* c) {
    focused_ = c;
    focusLog_.append(c ? c->name() : QString());
    if (auto* e = dynamic_cast<Edit*>(c); e && e->onGetFocus) e->onGetFocus();
    if (onFocusChanged) onFocusChanged(c);
}

void BaseWindow::buildToolbarFromMenu() {
    uo_toolbar.buttons.clear();
    for (const auto& item : menu.items) {
        if (item.isSeparator() || item.event.isEmpty()) continue;
        Toolbar::Button b;
        b.text = item.textUpToTab();
        b.toolbarText = item.toolbarText;
        b.picture = item.picture;
        b.event = item.event;
        b.visible = item.visible && item.buttonVisible;
        b.space = item.space;
        uo_toolbar.buttons.push_back(b);
    }
    uo_toolbar.notify();
}

} // namespace fp
