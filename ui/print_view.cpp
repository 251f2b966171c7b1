#include "ui/print_view.h"

#include "data_model/data_store.h"
#include "data_model/form_def.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace fp::ui {

namespace {
constexpr int kMarginPx = 8;

double paperAspect() {
    const PrintLayout& l = invoicePrintLayout();
    return l.paperHeightMm / l.paperWidthMm;
}
} // namespace

PrintView::PrintView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("print_view"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PrintView::setForm(const DataStore* form) {
    form_ = form;
    update();
}

void PrintView::setOptions(const PrintOptions& options) {
    options_ = options;
    update();
}

QRect PrintView::sheetRect() const {
    const int w = std::max(1, width() - 2 * kMarginPx);
    int h = int(w * paperAspect());
    int sheetWidth = w;
    if (h > height() - 2 * kMarginPx && height() > 2 * kMarginPx) { // too low: fit the height instead
        h = height() - 2 * kMarginPx;
        sheetWidth = int(h / paperAspect());
    }
    return QRect((width() - sheetWidth) / 2, kMarginPx, sheetWidth, h);
}

QSize PrintView::sizeHint() const {
    // The paper at its real size on this screen.
    const PrintLayout& l = invoicePrintLayout();
    const double dotsPerMm = logicalDpiX() / 25.4;
    return QSize(int(l.paperWidthMm * dotsPerMm) + 2 * kMarginPx, int(l.paperHeightMm * dotsPerMm) + 2 * kMarginPx);
}

QSize PrintView::minimumSizeHint() const { return QSize(240, int(240 * paperAspect())); }

int PrintView::heightForWidth(int width) const { return int((width - 2 * kMarginPx) * paperAspect()) + 2 * kMarginPx; }

void PrintView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    const QRect sheet = sheetRect();
    painter.fillRect(sheet.translated(2, 2), QColor(0, 0, 0, 60));
    painter.fillRect(sheet, Qt::white);
    painter.setPen(QColor(120, 120, 120));
    painter.drawRect(sheet.adjusted(0, 0, -1, -1));
    if (!form_) return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setClipRect(sheet);
    painter.translate(sheet.topLeft());
    // The renderer draws at the screen's real size; scale that to the sheet.
    const PrintLayout& l = invoicePrintLayout();
    const double fullWidth = l.paperWidthMm * logicalDpiX() / 25.4;
    const double scale = sheet.width() / fullWidth;
    painter.scale(scale, scale * logicalDpiX() / logicalDpiY());
    renderInvoicePage(painter, *form_, options_);
}

} // namespace fp::ui
