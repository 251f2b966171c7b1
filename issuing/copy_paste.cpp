// Copy and paste of an invoice: the invoice on screen into the window's
// buffers, and the listed columns of the buffers into the invoice being
// entered.
#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "issuing/w_fp_invoicing.h"

namespace fp {

namespace {
bool listed(const QString& list, const QString& column) {
    return list.contains(QLatin1Char('|') + column + QLatin1Char('|'));
}
} // namespace

bool w_fp_invoicing::isRedLetterOnScreen() const {
    const DataStore* fp = dw_fp.store();
    return fp && fp->rowCount() > 0 && !fp->getString(1, QStringLiteral("extprop1")).trimmed().isEmpty();
}

long w_fp_invoicing::ue_copy() {
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    Transaction* sqlca = session().sqlca;
    if ((fp && fp->modifiedCount() > 0) || (xm && xm->modifiedCount() > 0)) {
        mess(QStringLiteral("数据未保存，请先保存！"));
        return 0;
    }
    if (!fp || !xm || fp->rowCount() < 1 || xm->rowCount() < 1) {
        mess(QStringLiteral("没有数据可复制！"));
        return 0;
    }
    if (isRedLetterOnScreen()) {
        mess(QStringLiteral("冲红发票不能复制！"));
        return 0;
    }
    if (!sqlca) return 0;
    ids_fp = makeStore(fp->name(), *sqlca);
    ids_xm = makeStore(xm->name(), *sqlca);
    if (!ids_fp || !fp->rowsCopy(1, fp->rowCount(), *ids_fp, 0)) {
        mess(QStringLiteral("发票信息复制失败！"));
        uo_toolbar.of_setenable(kPaste, false);
        return 0;
    }
    if (!ids_xm || !xm->rowsCopy(1, xm->rowCount(), *ids_xm, 0)) {
        mess(QStringLiteral("发票明细信息复制失败！"));
        uo_toolbar.of_setenable(kPaste, false);
        return 0;
    }
    uo_toolbar.of_setenable(kPaste, ib_write);
    mess(QStringLiteral("发票及明细信息已复制！"));
    return 1;
}

long w_fp_invoicing::ue_paste() {
    if (dw_fp.acceptText() != 1) {
        dw_fp.setFocus();
        return 0;
    }
    if (dw_xm.acceptText() != 1) {
        dw_xm.setFocus();
        return 0;
    }
    if (is_fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (is_fphm.isEmpty()) {
        mess(QStringLiteral("请决定要开发票的发票号码！"));
        ddlb_fphm.setFocus();
        return 0;
    }
    if (!entryOpen()) {
        mess(QStringLiteral("请先进行“开始录入新票”操作！"));
        return 0;
    }
    if (isRedLetterOnScreen()) {
        mess(QStringLiteral("冲红发票不能粘贴！"));
        return 0;
    }
    if (!ids_fp || ids_fp->rowCount() < 1) {
        mess(QStringLiteral("没有数据可粘贴！"));
        return 0;
    }
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    if (!xm || !ids_xm || ids_fp->name() != fp->name() || ids_xm->name() != xm->name()) {
        mess(QStringLiteral("发票类型不同，无法粘贴！"));
        return 0;
    }
    if (pasteWouldOverwrite() && msg2(QStringLiteral("粘贴操作将覆盖当前发票的相关信息，确定要继续吗？")) == 2)
        return 0;
    pasteHeader();
    pasteLines();
    dw_fp.notify();
    dw_xm.notify();
    return 1;
}

// Something the clerk entered would be overwritten: a value in a column that
// paste writes, or a line deleted. A freshly started invoice holds its
// pre-filled rows only, and is pasted into without a question.
bool w_fp_invoicing::pasteWouldOverwrite() const {
    const DataStore* fp = dw_fp.store();
    const DataStore* xm = dw_xm.store();
    if (xm->deletedCount() > 0) return true;
    for (int c = 1; c <= fp->columnCount(); ++c)
        if (listed(is_fp_col_copy, fp->columnName(c)) && !fp->getString(1, c).isEmpty()) return true;
    for (int r = 1; r <= xm->rowCount(); ++r)
        for (int c = 1; c <= xm->columnCount(); ++c)
            if (listed(is_xm_col_copy, xm->columnName(c)) && !xm->getString(r, c).isEmpty()) return true;
    return false;
}

void w_fp_invoicing::pasteHeader() {
    DataStore* fp = dw_fp.store();
    for (int c = 1; c <= ids_fp->columnCount(); ++c)
        if (listed(is_fp_col_copy, ids_fp->columnName(c))) setOwnValue(*fp, 1, c, ids_fp->getVariant(1, c));
}

// Lines beyond the ones on screen are appended carrying the invoice's code and
// number, as a line added by hand does, so that the save finds them again.
void w_fp_invoicing::pasteLines() {
    DataStore* xm = dw_xm.store();
    for (int r = 1; r <= ids_xm->rowCount(); ++r) {
        if (xm->rowCount() < r) {
            const int row = xm->insertRow(0);
            setOwnValue(*xm, row, QStringLiteral("fpdm"), is_fpdm);
            setOwnValue(*xm, row, QStringLiteral("fphm"), is_fphm);
        }
        for (int c = 1; c <= ids_xm->columnCount(); ++c)
            if (listed(is_xm_col_copy, ids_xm->columnName(c))) setOwnValue(*xm, r, c, ids_xm->getVariant(r, c));
    }
}

} // namespace fp
