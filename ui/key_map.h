#pragma once
// Keys between Qt and the host. The host counts keys by their virtual-key codes
// (Enter 13, Tab 9, Escape 27, 'A'..'Z' 65..90, '0'..'9' 48..57, F1..F12
// 112..123) and stores a menu shortcut as that code plus 256 when Ctrl is held
// (Ctrl+O 335, F5 116).
#include <QKeySequence>

class QKeyEvent;

namespace fp::ui {

// The QKeySequence of a menu item's shortcut code; empty for 0 or an unknown key.
QKeySequence keySequenceForShortcut(int code);

// The host key code of a Qt key, 0 when the host has none for it.
int hostKeyCode(int qtKey);
// The host's key flags of a key event: 1 Shift, 2 Ctrl.
int hostKeyFlags(const QKeyEvent& event);

} // namespace fp::ui
