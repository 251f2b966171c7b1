// The header form's own handlers: the payer chosen from the partner list fills
// its document fields; Enter looks a typed payer up, moves on, or jumps from
// the remarks to the items; a heading click sorts the open payer list.
#include "data_model/data_store.h"
#include "issuing/w_fp_invoicing.h"

namespace fp {

namespace {
const QString kPayer = QStringLiteral("fkfmc");

// The first row from `start` on for which the predicate holds, wrapping round
// to the top; 0 when none.
int findFrom(const DataStore& list, int start, const DataStore::Predicate& p) {
    if (list.rowCount() < 1) return 0;
    if (const int r = list.find(p, start, list.rowCount()); r > 0) return r;
    return start > 1 ? list.find(p, 1, start - 1) : 0;
}
} // namespace

long w_fp_invoicing::dw_fp_itemchanged(int row, const QString& column, const QString& data) {
    if (column.compare(kPayer, Qt::CaseInsensitive) != 0) return 0;
    if (!idwc_corp || idwc_corp->rowCount() < 1) return 0;
    const int found = findFrom(
        *idwc_corp, 1, [&](const DataStore::RowView& r) { return r.getString(QStringLiteral("cname")) == data; });
    if (found < 1) return 0;
    DataStore* fp = dw_fp.store();
    setOwnValue(*fp, row, QStringLiteral("fkfzjlx"), idwc_corp->getVariant(found, QStringLiteral("type")));
    setOwnValue(*fp, row, QStringLiteral("fkfzjhm"), idwc_corp->getVariant(found, QStringLiteral("lc_no")));
    dw_fp.notify();
    return 0;
}

bool w_fp_invoicing::dw_fp_ukey(int key, int) {
    if (key != keys::Enter) return false;
    // The text as typed, before the edit is committed into the row.
    const QString typed = dw_fp.hasPendingEdit() ? dw_fp.pendingText() : QString();
    const bool wasPending = dw_fp.hasPendingEdit();
    if (dw_fp.acceptText() != 1) return true;
    const QString column = dw_fp.currentColumn.toLower();
    if (column == QLatin1String("bz")) {
        dw_xm.setColumn(QStringLiteral("xmmc"));
        dw_xm.setFocus();
        return true;
    }
    if (column == kPayer) {
        DataStore* fp = dw_fp.store();
        const QString text = (wasPending ? typed : fp->getString(1, kPayer)).trimmed();
        if (text.isEmpty() || !lookUpPayer(text)) return true;
    }
    dw_fp.tabForward();
    return true;
}

// Exact name, else the next name that begins with or contains the text (shown
// highlighted, not taken), else the partner code with the owner-account prefix.
// Each search runs from the row after the highlighted one round to it, so
// repeated Enter steps through the matches and wraps to the top, and a partner
// above the highlighted one is still found. True when a partner was taken.
bool w_fp_invoicing::lookUpPayer(const QString& text) {
    DataStore* list = idwc_corp;
    if (!list || list->rowCount() < 1) return false;
    int start = list->getSelectedRow(0) + 1;
    if (start > list->rowCount()) start = 1;
    auto name = [](const DataStore::RowView& r) { return r.getString(QStringLiteral("cname")); };

    int found = findFrom(*list, start, [&](const DataStore::RowView& r) { return name(r) == text; });
    if (found > 0) return takePayer(found);

    found = findFrom(*list, start, [&](const DataStore::RowView& r) { return name(r).startsWith(text); });
    if (found < 1) found = findFrom(*list, start, [&](const DataStore::RowView& r) { return name(r).contains(text); });
    if (found > 0) highlightPayer(found);

    const QString owner = session().gs_sysuserid;
    const QString code = text.startsWith(owner) ? text : owner + text;
    const int byCode = findFrom(
        *list, start, [&](const DataStore::RowView& r) { return r.getString(QStringLiteral("ccode")) == code; });
    return byCode > 0 && takePayer(byCode);
}

void w_fp_invoicing::highlightPayer(int row) {
    idwc_corp->selectRow(0, false);
    idwc_corp->selectRow(row, true);
    dw_fp.notify();
}

bool w_fp_invoicing::takePayer(int row) {
    highlightPayer(row);
    const QString name = idwc_corp->getString(row, QStringLiteral("cname"));
    DataStore* fp = dw_fp.store();
    setOwnValue(*fp, 1, kPayer, name);
    dw_fp_itemchanged(1, kPayer, name);
    return true;
}

// A click in the open payer list: a heading ("<column>_t") sorts the list by
// that column, ascending first, then descending on the next click.
void w_fp_invoicing::dw_fp_ue_dddw(const DataStore* childHandle, int notification, const QString& band,
                                   const QString& object) {
    if (notification != 1281 || childHandle != il_hdl_corp || !idwc_corp) return;
    if (!band.left(6).startsWith(QLatin1String("header"))) return;
    QString name = object.section(QLatin1Char('\t'), 0, 0);
    name.chop(2);
    if (name.isEmpty()) return;
    if (idwc_corp->columnId(name) < 1) return;
    if (!is_sort_corp.startsWith(name))
        is_sort_corp = name + QStringLiteral(" A");
    else if (is_sort_corp.endsWith(QLatin1Char('A')))
        is_sort_corp = name + QStringLiteral(" D");
    else
        is_sort_corp = name + QStringLiteral(" A");
    // The column was checked above, so the sort text is valid.
    (void)idwc_corp->setSort(is_sort_corp);
    (void)idwc_corp->sort();
    dw_fp.notify();
}

} // namespace fp
