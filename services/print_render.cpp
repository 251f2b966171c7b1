#include "services/print_render.h"

namespace fp {

void renderInvoicePage(QPainter& painter, const DataStore& form, const PrintOptions& options) {
    (void)painter;
    (void)form;
    (void)options;
}

bool printInvoiceToPdf(const DataStore& form, const QString& file, int copies, const PrintOptions& options,
                       QString* error) {
    (void)form;
    (void)file;
    (void)copies;
    (void)options;
    if (error) *error = QStringLiteral("打印功能暂未开放！");
    return false;
}

} // namespace fp
