#pragma once
// Geometry, fonts and colours of the Qt views, in one place.
//
// Layout units -> pixels. Windows and controls are laid out in the host's
// layout units, which at 96 dpi with the host's 10-point system font are
//     x px = units * 0.22      y px = units * 0.25
// (a 3744 x 2372 window is 824 x 593 pixels). So that CJK text taller than
// the layout allows for is not clipped, both factors are multiplied by one
// font scale: the line height of 宋体 at 10
// points as this machine renders it, divided by 16 px, the line height the
// layout allows for (never below 1). "AR PL UMing CN" at 96 dpi is 13 px high,
// so there the factors stay 0.22 and 0.25; on a denser screen, where fonts
// grow in pixels, the layout grows with them.
#include <QColor>
#include <QFont>
#include <QString>

namespace fp::ui {

struct UnitScale {
    double x = 0.22;
    double y = 0.25;
};

// The factors in force; computed from the font on first use (needs a
// QGuiApplication), or fixed by setUnitScale.
UnitScale unitScale();
void setUnitScale(UnitScale scale);

int toPxX(int units);
int toPxY(int units);
int toUnitsX(int px);
int toUnitsY(int px);

// The host's font faces and their stand-ins on this system:
//   宋体 (serif)  -> "AR PL UMing CN"
//   黑体 (sans)   -> "WenQuanYi Zen Hei"
// Any other face is used as it is. `points` are typographic points.
QString fontFamilyFor(const QString& hostFace);
QFont fontFor(const QString& hostFace, int points, bool bold = false);
// The font of the frame's menus, status bar and dialogs.
QFont uiFont();

// Background of a field or cell that takes no input (read-only form, protected column).
QColor readOnlyFieldColour();

// A colour packed as the host packs it: r + g*256 + b*65536.
QColor colorFromPacked(int packed);

} // namespace fp::ui
