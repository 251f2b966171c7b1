#pragma once
// Print offsets: per printer, how far everything printed is shifted down and
// right (millimetres, negative allowed) so print and pre-printed paper line
// up. Kept in the client's settings under "print_offset/<printer>"; every
// print on a printer applies its offset.
#include "services/print_render.h"

#include <QString>

class QSettings;

namespace fp {

class PrinterOffsets {
public:
    // The settings outlive this object.
    explicit PrinterOffsets(QSettings& settings) : settings_(settings) {}
    // 0, 0 for a printer never calibrated (or an unreadable setting). Read
    // afresh: an offset set by another process since is seen.
    PrintOffsetMm offsetFor(const QString& printer) const;
    // Held within kLimitMm either way; an empty printer name stores nothing.
    void setOffset(const QString& printer, const PrintOffsetMm& offset);

    // The largest shift either way a clerk can set.
    static constexpr double kLimitMm = 50.0;

private:
    QSettings& settings_;
};

// The client's own settings (this user on this machine):
// ~/.config/fpdesk/fpdesk.ini.
QSettings& clientSettings();

} // namespace fp
