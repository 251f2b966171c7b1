#include "ui/key_map.h"

#include <QKeyEvent>

namespace fp::ui {

namespace {
// Virtual-key code -> Qt key, for the keys a shortcut or a key handler can name.
int qtKeyOf(int vk) {
    if (vk >= 'A' && vk <= 'Z') return Qt::Key_A + (vk - 'A');
    if (vk >= '0' && vk <= '9') return Qt::Key_0 + (vk - '0');
    if (vk >= 112 && vk <= 123) return Qt::Key_F1 + (vk - 112);
    switch (vk) {
    case 8: return Qt::Key_Backspace;
    case 9: return Qt::Key_Tab;
    case 13: return Qt::Key_Return;
    case 27: return Qt::Key_Escape;
    case 32: return Qt::Key_Space;
    case 33: return Qt::Key_PageUp;
    case 34: return Qt::Key_PageDown;
    case 35: return Qt::Key_End;
    case 36: return Qt::Key_Home;
    case 37: return Qt::Key_Left;
    case 38: return Qt::Key_Up;
    case 39: return Qt::Key_Right;
    case 40: return Qt::Key_Down;
    case 45: return Qt::Key_Insert;
    case 46: return Qt::Key_Delete;
    default: return 0;
    }
}
} // namespace

QKeySequence keySequenceForShortcut(int code) {
    if (code <= 0) return {};
    const bool ctrl = code >= 256;
    const int key = qtKeyOf(code % 256);
    if (key == 0) return {};
    return QKeySequence(ctrl ? QKeyCombination(Qt::ControlModifier, Qt::Key(key)) : QKeyCombination(Qt::Key(key)));
}

int hostKeyCode(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) return 112 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    default: return 0;
    }
}

int hostKeyFlags(const QKeyEvent& event) {
    int f = 0;
    if (event.modifiers() & Qt::ShiftModifier) f |= 1;
    if (event.modifiers() & Qt::ControlModifier) f |= 2;
    return f;
}

} // namespace fp::ui
