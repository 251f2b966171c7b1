#pragma once
// The invoice print renderer: paints the print form d_fp_integrated_print from
// its layout onto any paint device (a widget, a printer, a PDF, an image).
//
// Geometry: the layout's unit, its paper and the place of the layout on the
// paper are data of the layout (PrintLayout: unitMm, paperWidthMm,
// paperHeightMm, leftMm, topMm; chosen in data_model/forms/print_form.cpp).
// Everything here derives from them.
#include <QPageSize>
#include <QRectF>
#include <QString>

class QPainter;
class QPagedPaintDevice;

namespace fp {

class DataStore;
struct PrintLayout;
struct LayoutObject;

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

// Puts the layout's paper on a printer or PDF writer: its size, portrait,
// without margins. A printer whose driver cannot take a paper of that size
// keeps its own (Letter, A4), where the print would lose its right part: false
// then, with paperRefusal() in *error, and nothing may be printed on it.
[[nodiscard]] bool setInvoicePaper(QPagedPaintDevice& device, const PrintLayout& layout, QString* error);
// The refusal of a printer (named by `printer` when given) that cannot take
// the layout's paper; it names the paper's size.
QString paperRefusal(const PrintLayout& layout, const QString& printer = QString());

// An invoice prints on one sheet: the paper has `paperItemRows` item rows and
// under them the closing area with the totals. Each sheet carries its own
// pre-printed number, so an invoice with more lines cannot go on over a second
// sheet (that sheet's number would be used up by a print of another invoice):
// it is refused before anything is printed or counted.
[[nodiscard]] bool fitsOneSheet(const PrintLayout& layout, const DataStore& form);
// The refusal of an invoice of `lines` item lines that does not fit one sheet;
// it tells the clerk what to do instead.
QString itemLinesRefusal(const PrintLayout& layout, int lines);

// Prints `copies` pages, one a copy, to a PDF file. False with a message in
// *error when the file cannot be written, or not completely (a full disk): a
// partly written file is removed; or when the invoice does not fit one sheet
// (no file then).
[[nodiscard]] bool printInvoiceToPdf(const DataStore& form, const QString& file, int copies,
                                     const PrintOptions& options, QString* error);

// Prints `copies` pages, one a copy, on a paged device (a printer, a PDF
// writer) already set up by the caller (setInvoicePaper); the painter origin
// must be the paper's corner (a printer in full-page mode). False with a
// message in *error when the device cannot be painted on or the invoice does
// not fit one sheet (nothing painted then).
[[nodiscard]] bool printInvoicePages(QPagedPaintDevice& device, const DataStore& form, int copies,
                                     const PrintOptions& options, QString* error);

// The alignment test page: the layout's frame (its rules for five item rows, the
// outline of every value box with its name) and the offset in use, so a clerk
// can print it on the invoice paper and see how far print and paper differ.
void renderTestPage(QPainter& painter, const PrintLayout& layout, const PrintOffsetMm& offset);

// The layout of the print form d_fp_integrated_print.
const PrintLayout& invoicePrintLayout();
// The paper of a layout, for printers and PDF writers.
QPageSize paperOf(const PrintLayout& layout);
// Where an object's box lies on the paper, in millimetres, with `itemRows`
// item rows before the closing area; `itemRow` (1-based) places an item-row
// object. The offset is included.
QRectF objectBoxMm(const PrintLayout& layout, const LayoutObject& object, int itemRow, int itemRows,
                   const PrintOffsetMm& offset = {});
// The font family that stands for a layout font name ("宋体", "黑体").
QString printFontFamily(const QString& layoutFamily);

} // namespace fp
