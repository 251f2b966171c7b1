#pragma once
// The host's required-field check of a form, and the host functions that form
// expressions call.
#include <QString>

namespace fp {

class DataStore;
class HostServices;

// gf_judge_dw_column_isnull: goes through the rows in order and, within a row,
// the columns in order (a second view right after its column). At the first
// column whose tag holds "|notnull|" and whose value is null or blank it shows
// "<label>不能为空！" (on a grid of several rows "第<n>行<label>不能为空！") with
// host.mess, where the label is the tag's text before the first "|" or, when
// that is empty, the column's label text; it reports the row and the column
// name for the caller to focus and returns false. True when every required
// column is filled.
[[nodiscard]] bool gf_judge_dw_column_isnull(HostServices& host, DataStore& store, int* badRow = nullptr,
                                             QString* badColumn = nullptr);

// Installs the host functions used by form expressions (f_convert_to_big for
// the print form's total in capitals). Called once at start-up.
void installFormHostFunctions();

} // namespace fp
