#include "services/printer_offsets.h"

#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace fp {

namespace {

// A printer name may hold "/" or a backslash (network printers); keys hold it encoded.
QString keyOf(const QString& printer, const char* what) {
    return QStringLiteral("print_offset/%1/%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(printer)), QString::fromLatin1(what));
}

double readShift(const QSettings& settings, const QString& key) {
    bool ok = false;
    const double v = settings.value(key).toDouble(&ok);
    if (!ok || !std::isfinite(v)) return 0.0;
    return std::clamp(v, -PrinterOffsets::kLimitMm, PrinterOffsets::kLimitMm);
}

} // namespace

PrintOffsetMm PrinterOffsets::offsetFor(const QString& printer) const {
    if (printer.isEmpty()) return {};
    // Another process (`fpdesk printer offset`, a second client) may have set
    // it meanwhile: the file is read again when it changed, which costs a look
    // at its time stamp otherwise.
    settings_.sync();
    return {readShift(settings_, keyOf(printer, "down")), readShift(settings_, keyOf(printer, "right"))};
}

void PrinterOffsets::setOffset(const QString& printer, const PrintOffsetMm& offset) {
    if (printer.isEmpty()) return;
    settings_.setValue(keyOf(printer, "down"), std::clamp(offset.down, -kLimitMm, kLimitMm));
    settings_.setValue(keyOf(printer, "right"), std::clamp(offset.right, -kLimitMm, kLimitMm));
    settings_.sync();
}

QSettings& clientSettings() {
    static QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("fpdesk"),
                              QStringLiteral("fpdesk"));
    return settings;
}

} // namespace fp
