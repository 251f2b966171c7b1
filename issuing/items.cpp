// Item lines: add and delete a line, amount = quantity x price, header total =
// sum of the line amounts, catalogue price, Enter in the grid.
#include "data_model/data_store.h"
#include "issuing/w_fp_invoicing.h"

namespace fp {

namespace {
constexpr int kMaxItemLines = 5;
}

QString w_fp_invoicing::itemLabel() const {
    DataStore* xm = dw_xm.store();
    if (!xm) return QString();
    const QString tag = xm->objectTag(QStringLiteral("xmmc_t"));
    return tag.isEmpty() ? xm->objectText(QStringLiteral("xmmc_t")) : tag;
}

bool w_fp_invoicing::entryOpen() const {
    DataStore* fp = dw_fp.store();
    return fp && fp->rowCount() > 0 && !dw_fp.readOnly() && dw_fp.visible;
}

bool w_fp_invoicing::requireInvoiceAndAccept() {
    if (is_fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return false;
    }
    if (is_fphm.isEmpty()) {
        mess(QStringLiteral("请决定要开发票的发票号码！"));
        ddlb_fphm.setFocus();
        return false;
    }
    if (dw_fp.acceptText() != 1) {
        dw_fp.setFocus();
        return false;
    }
    if (dw_xm.acceptText() != 1) {
        dw_xm.setFocus();
        return false;
    }
    return true;
}

long w_fp_invoicing::ue_newproj() {
    // 1. In red-letter mode only the program adds lines (or the user, for an
    //    invoice issued outside the system).
    if (cbx_ch.checked && !ib_add_xm_script) return 0;
    if (!requireInvoiceAndAccept()) return 0;
    if (!entryOpen()) {
        mess(QStringLiteral("请先进行“开始录入新票”操作！"));
        return 0;
    }
    DataStore* xm = dw_xm.store();
    if (!xm) return 0;
    if (xm->rowCount() >= kMaxItemLines) {
        mess(QStringLiteral("达到发票明细限制，不能再增加！"));
        return 0;
    }
    const int row = xm->insertRow(0);
    dw_xm.scrollToRow(row);
    setOwnValue(*xm, row, QStringLiteral("fpdm"), is_fpdm);
    setOwnValue(*xm, row, QStringLiteral("fphm"), is_fphm);
    dw_xm.setColumn(QStringLiteral("xmmc"));
    dw_xm.setFocus();
    return row;
}

long w_fp_invoicing::ue_delproj() {
    if (!requireInvoiceAndAccept()) return 0;
    if (!entryOpen()) {
        mess(QStringLiteral("请先进行“开始录入新票”操作！"));
        return 0;
    }
    const QString label = itemLabel();
    const int row = dw_xm.currentRow;
    DataStore* xm = dw_xm.store();
    if (row < 1 || !xm || row > xm->rowCount()) {
        mess(QStringLiteral("请选择一个需要删除的") + label + QStringLiteral("！"));
        return 0;
    }
    if (msg2(QStringLiteral("确定要删除当前") + label + QStringLiteral("吗？")) == 2) return 0;
    (void)xm->deleteRow(row); // `row` is a row of the list: checked above
    if (dw_xm.currentRow > xm->rowCount()) dw_xm.currentRow = xm->rowCount();
    dw_xm.notify();
    dw_xm.setFocus();
    return 1;
}

long w_fp_invoicing::dw_xm_itemchanged(int row, const QString& column, const QString& data) {
    DataStore* xm = dw_xm.store();
    if (!xm || row < 1 || row > xm->rowCount() || column.isEmpty()) return 0;
    // The edit is already in the row, so cpt_amount includes it.
    auto syncTotal = [&] {
        DataStore* fp = dw_fp.store();
        if (!fp || fp->rowCount() < 1) return;
        const QVariant total = xm->computed(QStringLiteral("cpt_amount"), 1);
        setOwnValue(*fp, 1, QStringLiteral("hjje"), total);
        dw_fp.notify();
    };
    const QString col = column.toLower();
    if (col == QLatin1String("dj") || col == QLatin1String("mj")) {
        const QString other = col == QLatin1String("dj") ? QStringLiteral("mj") : QStringLiteral("dj");
        const std::optional<Decimal> a = xm->getDecimal(row, other);
        const std::optional<Decimal> b = Decimal::parseAmount(data);
        if (a && b) {
            const Decimal amount = *a * *b; // exact, no rounding here
            setOwnValue(*xm, row, QStringLiteral("je"), QVariant::fromValue(amount));
            // Kept as computed, so that the save refuses it by name too.
            if (!amount.fitsStorage()) mess(Decimal::rangeError(xm->messageName(QStringLiteral("je"))));
        } else {
            setOwnValue(*xm, row, QStringLiteral("je"), QVariant());
        }
        syncTotal();
    } else if (col == QLatin1String("je")) {
        syncTotal();
    } else if (col == QLatin1String("xmmc")) {
        if (!idwc_pm || idwc_pm->rowCount() < 1) return 0;
        const int found =
            idwc_pm->find([&](const DataStore::RowView& r) { return r.getString(QStringLiteral("pmmc")) == data; }, 1,
                          idwc_pm->rowCount());
        if (found < 1) return 0;
        setOwnValue(*xm, row, QStringLiteral("dj"), idwc_pm->getVariant(found, QStringLiteral("price")));
    }
    dw_xm.notify();
    return 0;
}

bool w_fp_invoicing::dw_xm_ukey(int key, int) {
    if (key != keys::Enter) return false;
    if (dw_xm.acceptText() != 1) return true;
    DataStore* xm = dw_xm.store();
    if (xm && dw_xm.currentRow == xm->rowCount() &&
        dw_xm.currentColumn.compare(QLatin1String("je"), Qt::CaseInsensitive) == 0) {
        raise(QStringLiteral("ue_newproj"));
        return true;
    }
    dw_xm.tabForward();
    return true;
}

} // namespace fp
