#include "ui/ui_metrics.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <optional>

namespace fp::ui {

namespace {
std::optional<UnitScale>& scaleSlot() {
    static std::optional<UnitScale> s;
    return s;
}

// Line height in pixels the layout was drawn for (the host's 10-point font).
constexpr double kLayoutLineHeightPx = 16.0;

UnitScale computeScale() {
    UnitScale s;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return s;
    const QFontMetrics fm(fontFor(QStringLiteral("宋体"), 10));
    const double f = std::max(1.0, fm.height() / kLayoutLineHeightPx);
    s.x *= f;
    s.y *= f;
    return s;
}
} // namespace

UnitScale unitScale() {
    auto& s = scaleSlot();
    if (!s) s = computeScale();
    return *s;
}

void setUnitScale(UnitScale scale) { scaleSlot() = scale; }

int toPxX(int units) { return int(std::lround(units * unitScale().x)); }
int toPxY(int units) { return int(std::lround(units * unitScale().y)); }
int toUnitsX(int px) { return int(std::lround(px / unitScale().x)); }
int toUnitsY(int px) { return int(std::lround(px / unitScale().y)); }

QString fontFamilyFor(const QString& hostFace) {
    if (hostFace == QStringLiteral("宋体") || hostFace.isEmpty()) return QStringLiteral("AR PL UMing CN");
    if (hostFace == QStringLiteral("黑体")) return QStringLiteral("WenQuanYi Zen Hei");
    return hostFace;
}

QFont fontFor(const QString& hostFace, int points, bool bold) {
    QFont f(fontFamilyFor(hostFace));
    f.setPointSize(points > 0 ? points : 10);
    f.setBold(bold);
    f.setStyleHint(hostFace == QStringLiteral("黑体") ? QFont::SansSerif : QFont::Serif);
    return f;
}

QFont uiFont() { return fontFor(QStringLiteral("黑体"), 9); }

QColor readOnlyFieldColour() { return QColor(244, 241, 232); }

QColor colorFromPacked(int packed) { return QColor(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF); }

} // namespace fp::ui
