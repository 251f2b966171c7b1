// ue_start: checks that the chosen code and number may be issued now, opens the
// forms of the invoice kind and pre-fills the header.
#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "issuing/w_fp_invoicing.h"
#include "services/invoice_fetch.h"
#include "services/remote_text.h"

namespace fp {

namespace {
const QString kDiscardQuestion = QStringLiteral("当前发票未保存，确定要〖放弃〗当前发票录入吗？");

QString pad8(const QString& number) {
    if (number.size() >= 8) return number;
    return QString(QStringLiteral("00000000") + number).right(8);
}
} // namespace

bool w_fp_invoicing::formsModified() const {
    return (dw_fp.store() && dw_fp.store()->modifiedCount() > 0) ||
           (dw_xm.store() && dw_xm.store()->modifiedCount() > 0);
}

void w_fp_invoicing::resetInvoice() {
    ib_auto_find_fphm = false;
    dw_fp.hide();
    dw_xm.hide();
    dw_fp.discardEdit();
    dw_xm.discardEdit();
    if (dw_fp.store()) dw_fp.store()->reset();
    if (dw_xm.store()) dw_xm.store()->reset();
    dw_fp.notify();
    dw_xm.notify();
    is_fpdm.clear();
    is_fphm.clear();
    is_fpzl.clear();
    ib_sgfpch = false;
}

long w_fp_invoicing::ue_start() {
    Session& s = session();
    Transaction* sqlca = s.sqlca;

    // 1. Unsaved input.
    if (formsModified() && msg2(kDiscardQuestion) == 2) return 0;

    // 2. Reset.
    resetInvoice();

    // 3. The selection.
    const QString ls_fpdm = ddlb_fpdm.of_getid(ddlb_fpdm.text());
    QString ls_fphm = ddlb_fphm.text().trimmed().isEmpty() ? QString() : ddlb_fphm.text();
    // A typed number is the drop-down's text; a chosen one is an entry's name.
    if (!ls_fphm.isEmpty()) {
        const QString named = ddlb_fphm.of_getname(ddlb_fphm.text());
        if (!named.isEmpty()) ls_fphm = named;
    }

    // 4. The red-letter fields.
    QString ls_chhm, ls_chdm;
    if (cbx_ch.checked) {
        ls_chhm = sle_ch.text().trimmed();
        ls_chdm = ddlb_oldfpdm.of_getid(ddlb_oldfpdm.text());
        if (ls_chdm == QLatin1String("-1")) {
            ls_chdm = sle_oldfpdm.text();
            ib_sgfpch = true;
        }
    }

    // 5. Required selections.
    if (ls_fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (ls_fphm.isEmpty()) {
        mess(QStringLiteral("请决定要开发票的发票号码！"));
        ddlb_fphm.setFocus();
        return 0;
    }

    // 6. Red-letter fields.
    if (cbx_ch.checked) {
        if (ls_chdm.isEmpty()) {
            mess(QStringLiteral("冲红发票代码不能为空！"));
            if (sle_oldfpdm.visible)
                sle_oldfpdm.setFocus();
            else
                sle_ch.setFocus();
            return 0;
        }
        if (ls_chdm.size() != 12 &&
            msg2(QStringLiteral("冲红发票代码长度不是标准的12位长度，确定要继续吗？")) == 2)
            return 0;
        if (ls_chhm.isEmpty()) {
            mess(QStringLiteral("冲红号码不能为空！"));
            sle_ch.setFocus();
            return 0;
        }
    }

    // 7. Pad the numbers to 8 digits.
    if (ls_fphm.size() < 8) {
        ls_fphm = pad8(ls_fphm);
        ddlb_fphm.setText(ls_fphm);
    }
    if (ls_chhm.size() < 8) {
        ls_chhm = pad8(ls_chhm);
        sle_ch.setText(ls_chhm);
    }

    // 8. The kind of the code.
    QString ls_fpzl;
    if (sqlca) {
        QVariantList row;
        if (sqlca->selectInto(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?"), {ls_fpdm}, row) == 0)
            ls_fpzl = row.value(0).toString();
    }
    if (ls_fpzl.isEmpty()) {
        mess(QStringLiteral("指定的发票代码无效！"));
        return 0;
    }

    // 9. Forms by kind.
    QString fpForm, xmForm;
    if (ls_fpzl == QLatin1String("20")) {
        fpForm = QStringLiteral("d_fp_building_free");
        xmForm = QStringLiteral("d_fp_xmxx_estate_list");
    } else if (ls_fpzl == QLatin1String("40")) {
        fpForm = QStringLiteral("d_fp_building_free");
        xmForm = QStringLiteral("d_fp_xmxx_building_list");
    } else if (ls_fpzl != QLatin1String("50")) {
        mess(QStringLiteral("指定的发票类型本系统暂不支持！"));
        return 0;
    }
    if (!fpForm.isEmpty() && cbx_ch.checked) {
        // Reversals are issued on integrated invoices only.
        mess(QStringLiteral("不动产销售及建筑业发票不能在本系统开具冲红发票！"));
        return 0;
    }

    if (ls_fpzl == QLatin1String("50")) {
        // 10. The number lies in an open batch of the taxpayer's stock.
        qlonglong ll_rc = 0;
        QVariantList row;
        if (sqlca &&
            sqlca->selectInto(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE sxh = ? AND fpdm = ? AND fpzlbm = ? "
                                             "AND fpqh <= ? AND fpzh >= ? AND bjbz = '0'"),
                              {s.gs_sysuserid, ls_fpdm, ls_fpzl, ls_fphm, ls_fphm}, row) == 0)
            ll_rc = row.value(0).toLongLong();
        if (ll_rc < 1) {
            mess(QStringLiteral("指定发票号码无效！"));
            ddlb_fphm.setFocus();
            return 0;
        }
        // 11. Not issued here yet.
        row.clear();
        if (sqlca->selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                              {ls_fpdm, ls_fphm}, row) == 0)
            ll_rc = row.value(0).toLongLong();
        if (ll_rc > 0) {
            mess(QStringLiteral("当前发票号码已使用！"));
            ddlb_fphm.setFocus();
            return 0;
        }
        // 12. Texts that go to the server.
        QString ls_fpdmr = ls_fpdm, ls_fphmr = ls_fphm;
        if (!f_ptfp_valid_str(host(), ls_fpdmr, QStringLiteral("发票代码"))) {
            ddlb_fpdm.setFocus();
            return 0;
        }
        if (!f_ptfp_valid_str(host(), ls_fphmr, QStringLiteral("发票号码"))) {
            ddlb_fphm.setFocus();
            return 0;
        }
        // 13. The server's status of the number must be "0".
        QString ls_resp;
        if (!host().f_send_remote_msg(QString(kRemoteEndpoint), req_status(ls_fpdmr, ls_fphmr, false), kTimeoutStatus,
                                      ls_resp)) {
            ddlb_fphm.setFocus();
            return 0;
        }
        ls_resp = ls_resp.mid(5);
        QString ls_str = f_get_col(ls_resp, QStringLiteral("|@|")).trimmed();
        if (ls_str != QLatin1String("0")) {
            ls_str = f_get_fpzt_name(ls_str);
            if (ls_str == QStringLiteral("未知发票状态！")) {
                ls_str = f_get_col(ls_resp, QStringLiteral("|@|")).trimmed();
                ls_str = ls_str.isEmpty() ? QStringLiteral("未知发票状态！") : QStringLiteral("状态：") + ls_str;
            }
            mess(QStringLiteral("指定发票") + ls_str);
            ddlb_fphm.setFocus();
            return 0;
        }
        // 14. Integrated forms.
        fpForm = QStringLiteral("d_fp_integrated_free");
        xmForm = QStringLiteral("d_fp_xmxx_integrated_list");
        if (cbx_ch.checked) {
            // Reversal of an earlier invoice: not available in this window yet.
            mess(QStringLiteral("冲红发票功能暂未开放！"));
            return 0;
        }
    }

    // 15. Open the forms.
    dw_fp.setDataObject(fpForm);
    dw_xm.setDataObject(xmForm);
    dw_fp.setTransObject(sqlca);
    dw_xm.setTransObject(sqlca);
    dw_fp.show();
    dw_xm.show();
    dw_fp.setReadOnly(false);
    dw_xm.setReadOnly(false);
    dw_xm.onItemChanged = [this](int r, const QString& c, const QString& d) { return dw_xm_itemchanged(r, c, d); };
    dw_xm.onKey = [this](int k, int f) { return dw_xm_ukey(k, f); };

    // 16. Drop-down sources.
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    idwc_corp = fp ? fp->child(QStringLiteral("fkfmc")) : nullptr;
    if (idwc_corp) {
        idwc_corp->retrieve({s.gs_sysuserid});
        il_hdl_corp = reinterpret_cast<long>(idwc_corp);
    }
    idwc_pm = xm ? xm->child(QStringLiteral("xmmc")) : nullptr;
    if (idwc_pm) idwc_pm->retrieve({s.gs_sysuserid});

    // 17. The header row.
    if (fp) {
        const QDateTime now = s.gdt_srv_date();
        fp->insertRow(0);
        fp->setItem(1, QStringLiteral("fpdm"), ls_fpdm);
        fp->setItem(1, QStringLiteral("fphm"), ls_fphm);
        fp->setItem(1, QStringLiteral("fpzlbm"), ls_fpzl);
        fp->setItem(1, QStringLiteral("swjgdm"), s.gs_ssswjgdm);
        fp->setItem(1, QStringLiteral("sxh"), s.gs_sysuserid);
        fp->setItem(1, QStringLiteral("fpzt"), QStringLiteral("1"));
        fp->setItem(1, QStringLiteral("kpr"), s.gs_kprmc);
        fp->setItem(1, QStringLiteral("bcrq"), now);
        fp->setItem(1, QStringLiteral("kprq"), now);
        fp->setItem(1, QStringLiteral("drcs"), 0);
        fp->setItem(1, QStringLiteral("skfmc"), s.gs_sysusername);
        fp->setItem(1, QStringLiteral("skfzjlx"), QStringLiteral("纳税人识别号"));
        fp->setItem(1, QStringLiteral("skfzjhm"), s.gs_nsrsbh);
        fp->setItem(1, QStringLiteral("skflxdh"), s.gs_nsrlxdh);
        dw_fp.currentRow = 1;
    }

    // 18. Window state.
    is_fpdm = ls_fpdm;
    is_fphm = ls_fphm;
    is_fpzl = ls_fpzl;
    if (fp) fp->setObjectText(QStringLiteral("sgfpch_t"), QStringLiteral("0"));

    // 19. The first item line.
    uo_toolbar.of_setenable(kNewProj, ib_write);
    uo_toolbar.of_setenable(kDelProj, ib_write);
    ue_newproj();

    // 20. Finish.
    uo_toolbar.of_setenable(kSave, ib_write);
    uo_toolbar.of_setenable(kPrint, false);
    dw_fp.setColumn(QStringLiteral("kprq"));
    dw_fp.setFocus();
    return 1;
}

} // namespace fp
