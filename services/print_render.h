#pragma once
// The invoice print renderer: paints the print form d_fp_integrated_print from
// its layout onto any paint device (a widget, a printer, a PDF, an image).
#include <QString>

class QPainter;

namespace fp {

class DataStore;

// Onto pre-printed paper only the values print (the paper carries headings,
// rules and title); the whole form adds them (screen view, PDF).
enum class PrintMode { PrePrintedPaper, WholeForm };

// A user-set shift of everything printed, in millimetres; negative allowed.
struct PrintOffsetMm {
    double down = 0.0;
    double right = 0.0;
};

struct PrintOptions {
    PrintMode mode = PrintMode::WholeForm;
    PrintOffsetMm offset;
    // "|col|col|": columns printed although the form does not mark them printable.
    QString visibleDynamic;
};

// Paints one invoice page. The painter's device decides the resolution; the
// page origin is the painter's origin.
void renderInvoicePage(QPainter& painter, const DataStore& form, const PrintOptions& options);

// Prints `copies` pages, one a copy, to a PDF file. False with a message in
// *error when the file cannot be written.
bool printInvoiceToPdf(const DataStore& form, const QString& file, int copies, const PrintOptions& options,
                       QString* error);

} // namespace fp
