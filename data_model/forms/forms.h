#pragma once
// Builders of the module's form definitions, grouped by use, and the small
// helpers they share. The registry (formDef) collects them once.
#include "data_model/form_def.h"

#include <initializer_list>
#include <utility>
#include <vector>

namespace fp::forms {

// Header forms and item lists of the three invoice kinds.
std::vector<FormDef> invoiceForms();
// Drop-down lists and the host's maintenance lists.
std::vector<FormDef> listForms();
// The printed integrated invoice.
FormDef integratedPrintForm();

// ---- helpers ----
// A column of `table` (type, width and key from the table description); the
// form name defaults to the database column.
FormColumn tableColumn(const QString& table, const QString& dbColumn, const QString& label = QString(),
                       const QString& tag = QString(), const QString& formName = QString());
QList<CodeEntry> codes(std::initializer_list<std::pair<QString, QString>> pairs);
// The "col_t" heading objects of the columns and views that carry a label.
void addLabelObjects(FormDef& d);
// Marks the columns of the update table updatable and the key columns as key;
// checks that every name the definition uses exists (aborts otherwise: a
// definition error is a programming error).
void finish(FormDef& d);
// Comma-separated database columns of the definition (qualified by table when
// `qualified`).
QString selectList(const FormDef& d, bool qualified = false);

// Computed-field helpers.
QVariant sumOf(const DataStore& s, const QString& column); // null when no value
QVariant maxTextOf(const DataStore& s, const QString& column);
ComputedField sumField(const QString& name, const QString& column, const QString& format = QString());
ComputedField rowNumberField(const QString& name = QStringLiteral("compute_row"));
// Red when the decimal column (or computed field) of the row is negative.
ColourRule redWhenNegative(const QString& name);

inline const QString kMoneyFormat = QStringLiteral("#,###,###,##0.00");
inline const QString kDateFormat = QStringLiteral("yyyy-mm-dd");

} // namespace fp::forms
