// The selector row: invoice code, invoice number, and the red-letter row.
#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "issuing/w_fp_invoicing.h"

namespace fp {

namespace {
const QString kDiscardQuestion = QStringLiteral("当前发票未保存，确定要〖放弃〗当前发票录入吗？");

bool hasUnsavedRows(FormControl& f) {
    DataStore* s = f.store();
    return s && s->modifiedCount() > 0;
}

// The next number of every open batch of a code: zjsyh + 1 for a used batch that
// is not exhausted, fpqh for a batch not used yet; 8 digits.
QString numberListSql(const Dialect& d) {
    const QString next =
        d.rightChars(d.concat({QStringLiteral("'00000000'"),
                               QStringLiteral("CAST(%1 + 1 AS VARCHAR(20))").arg(d.toBigint(QStringLiteral("zjsyh")))}),
                     8);
    return QStringLiteral("SELECT %1 mc, '' dm FROM bdcja_fplg t WHERE sxh = ? AND fpdm = ? AND bjbz = '0' "
                          "AND zjsyh < fpzh AND length( trim(zjsyh) ) > 0 "
                          "UNION SELECT fpqh mc, '' dm FROM bdcja_fplg t WHERE sxh = ? AND fpdm = ? AND bjbz = '0' "
                          "AND length( trim(coalesce(zjsyh, '')) ) = 0 ORDER BY 1")
        .arg(next);
}

QString oldCodeListSql(const Dialect& d) {
    return QStringLiteral("select %1 as mc, b.fpdm as dm from bm_bdcja_fpzl a, bm_bdcja_fpdm b "
                          "where a.fpzlbm = b.fpzlbm and a.kplx = '2' "
                          "and a.fpzlbm = (select fpzlbm from bm_bdcja_fpdm where fpdm = ?) order by b.fpdm")
        .arg(d.concat(
            {QStringLiteral("b.fpdm"), QStringLiteral("'('"), QStringLiteral("a.fpqc"), QStringLiteral("')'")}));
}
} // namespace

void w_fp_invoicing::emptyDropDown(DropDown& dd) {
    while (dd.deleteItem(1) >= 0) {}
    dd.setText(QString(QLatin1String("")));
}

void w_fp_invoicing::ddlb_fpdm_selectionchanged(int index) {
    if (hasUnsavedRows(dw_fp) || hasUnsavedRows(dw_xm)) {
        if (msg2(kDiscardQuestion) == 2) return;
    }
    if (!ib_auto_find_fphm) {
        dw_fp.hide();
        dw_xm.hide();
        if (dw_fp.store()) dw_fp.store()->reset();
        if (dw_xm.store()) dw_xm.store()->reset();
        dw_fp.notify();
        dw_xm.notify();
    }
    const QString code = ddlb_fpdm.of_getid(index);
    emptyDropDown(ddlb_fphm);
    if (!ib_auto_find_fphm) {
        is_fpdm.clear();
        is_fphm.clear();
        is_fpzl.clear();
        ib_sgfpch = false;
    }
    if (Transaction* t = session().sqlca) {
        const QString sxh = session().gs_sysuserid;
        ddlb_fphm.of_getdata_from_sql(*t, numberListSql(t->dialect()), {sxh, code, sxh, code}, QStringLiteral("dm"),
                                      QStringLiteral("mc"));
    }
    if (!ib_auto_find_fphm) {
        cbx_ch.setEnabled(true);
        ddlb_fphm.setEnabled(true);
        ddlb_fphm.setFocus();
    }
    ib_auto_find_fphm = false;
}

void w_fp_invoicing::ddlb_fphm_ue_key(int key, int) {
    if (key == keys::Enter && ib_write) raise(QStringLiteral("ue_start"));
}

void w_fp_invoicing::cbx_ch_clicked() {
    const QString code = ddlb_fpdm.of_getid(ddlb_fpdm.text());
    if (code.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        cbx_ch.setChecked(!cbx_ch.checked);
        ddlb_fpdm.setFocus();
        return;
    }
    const bool on = cbx_ch.checked;
    for (Control* c : std::initializer_list<Control*>{&st_oldfpdm, &ddlb_oldfpdm, &st_oldfphm, &sle_ch})
        c->setVisible(on);
    st_oldfpdm1.hide();
    sle_oldfpdm.hide();
    st_oldfphm.move(st_2.x, st_oldfphm.y);
    sle_ch.move(ddlb_fphm.x, sle_ch.y);
    if (on) {
        const int h = sle_ch.y + sle_ch.height + 16 - dw_fp.y;
        redShift_ = h;
        dw_fp.move(dw_fp.x, dw_fp.y + h);
        dw_xm.move(dw_xm.x, dw_xm.y + h);
        dw_xm.resize(dw_xm.width, dw_xm.height - h);
        emptyDropDown(ddlb_oldfpdm);
        if (Transaction* t = session().sqlca)
            ddlb_oldfpdm.of_getdata_from_sql(*t, oldCodeListSql(t->dialect()), {code}, QStringLiteral("dm"),
                                             QStringLiteral("mc"));
        ddlb_oldfpdm.of_additem(QStringLiteral("-1"), is_sgfp_name);
        ddlb_oldfpdm.setFocus();
    } else {
        const int h = redShift_;
        dw_fp.move(dw_fp.x, dw_fp.y - h);
        dw_xm.move(dw_xm.x, dw_xm.y - h);
        dw_xm.resize(dw_xm.width, dw_xm.height + h);
        redShift_ = 0;
        ddlb_fphm.setFocus();
    }
}

void w_fp_invoicing::ddlb_oldfpdm_selectionchanged(int index) {
    if (ddlb_oldfpdm.of_getid(index) == QLatin1String("-1")) {
        st_oldfpdm1.show();
        sle_oldfpdm.show();
        st_oldfphm.move(2496, st_oldfphm.y);
        sle_ch.move(2830, sle_ch.y);
        sle_oldfpdm.setFocus();
    } else {
        st_oldfpdm1.hide();
        sle_oldfpdm.hide();
        st_oldfphm.move(st_2.x, st_oldfphm.y);
        sle_ch.move(ddlb_fphm.x, sle_ch.y);
        sle_ch.setFocus();
    }
}

void w_fp_invoicing::sle_oldfpdm_keydown(int key) {
    if (key == keys::Enter) sle_ch.setFocus();
}

void w_fp_invoicing::sle_ch_keydown(int key) {
    if (key == keys::Enter && ib_write) raise(QStringLiteral("ue_start"));
}

} // namespace fp
