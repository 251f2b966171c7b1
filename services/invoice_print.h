#pragma once
// Printing an invoice: the layout of the retrieved print form for paper, and the
// print itself through the host's preview, with the print counted, logged and
// reported to the tax service in one transaction.
#include "host/dialogs.h"
#include "host/host_services.h"

#include <QString>

namespace fp {

class DataStore;

// Rows of the item area on the paper; the remark column beside them holds the
// remark in rows 1-3 and the payee's telephone in rows 4 and 5.
inline constexpr int kPrintItemRows = 5;
// The remark is cut into pieces of this display width (a wide character counts 2).
inline constexpr int kPrintRemarkPieceWidth = 21;

// gf_fp_zhty_print_format: lays a retrieved print form out for printing. Pads
// the item area to five rows (each added row gets row 1's issuer), puts the
// remark into rows 1-3 in pieces of display width 21 (a remark whose display
// width is at most 20 stays whole in row 1; what does not fit three pieces is
// not printed), "  收款方电话:" into row 4 and "  " + the first 19 characters of
// the payee's telephone into row 5; rows beyond five get an empty remark. A null
// form or one without rows is left alone. Nothing is written to the database.
void gf_fp_zhty_print_format(DataStore* adw_ref);

// The remark that is logged and reported with a print: "打印次数：" + the new
// count when it is 2 or more, then, when a printer is reported (neither null
// nor "0"), "|@|" + printer + "|" + information + "|@|" (no "|" of our own
// when the information already begins with one). Printer name and information
// are made safe for the request text first (reserved separators neutralised,
// CR, LF and ":" escaped) and the information is shortened so that the whole
// remark fits the log's remark column.
QString printRemark(long newCount, const s_printreturn& printed);

// gf_fp_zhty_print: checks the arguments, opens the preview with `parameter`
// (its print-form fields are filled here; s_col_visible_dynamic is the
// caller's), and when copies were printed adds them to the invoice's print
// count, writes the log row (operation "2") and reports the print with
// procedure 98179; the local changes are committed only after the service
// accepted. Returns -1 on any failure (shown, except a failed send, which the
// host reported), 0 when nothing was printed, otherwise the new print count.
// An invoice with more item lines than the paper has rows is refused (shown)
// before the preview opens.
[[nodiscard]] long gf_fp_zhty_print(HostServices& host, const QString& as_fpdm, const QString& as_fphm,
                                    DataStore* adw_ref, s_preview_parameter parameter);

} // namespace fp
