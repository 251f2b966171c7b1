// ue_start: checks that the chosen code and number may be issued now, opens the
// forms of the invoice kind and pre-fills the header.
#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "issuing/start_run.h"
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
    if (!confirmDiscardUnsaved()) return 0;
    resetInvoice();

    StartRun run;
    readSelection(run);
    if (!checkRequiredSelections(run)) return 0;
    if (!padNumbers(run)) return 0;
    if (!chooseFormsByKind(run)) return 0;
    if (run.fpzl == QLatin1String("50")) {
        if (!checkNumberIssuable(run)) return 0;
        if (cbx_ch.checked && !identifyReversedInvoice(run)) return 0;
    }
    openForms(run);
    prefillHeader(run);
    startItemLines(run);
    finishStart();
    return 1;
}

bool w_fp_invoicing::confirmDiscardUnsaved() { return !formsModified() || msg2(kDiscardQuestion) != 2; }

void w_fp_invoicing::readSelection(StartRun& run) {
    run.fpdm = ddlb_fpdm.of_getid(ddlb_fpdm.text());
    // A typed number is the drop-down's text; a chosen one is an entry's name.
    run.fphm = ddlb_fphm.text().trimmed().isEmpty() ? QString() : ddlb_fphm.text();
    if (!run.fphm.isEmpty()) {
        const QString named = ddlb_fphm.of_getname(ddlb_fphm.text());
        if (!named.isEmpty()) run.fphm = named;
    }
    if (cbx_ch.checked) {
        run.chhm = sle_ch.text().trimmed();
        run.chdm = ddlb_oldfpdm.of_getid(ddlb_oldfpdm.text());
        if (run.chdm == QLatin1String("-1")) {
            run.chdm = sle_oldfpdm.text();
            ib_sgfpch = true;
        }
    }
}

bool w_fp_invoicing::checkRequiredSelections(const StartRun& run) {
    if (run.fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return false;
    }
    if (run.fphm.isEmpty()) {
        mess(QStringLiteral("请决定要开发票的发票号码！"));
        ddlb_fphm.setFocus();
        return false;
    }
    if (!cbx_ch.checked) return true;
    if (run.chdm.isEmpty()) {
        mess(QStringLiteral("冲红发票代码不能为空！"));
        if (sle_oldfpdm.visible)
            sle_oldfpdm.setFocus();
        else
            sle_ch.setFocus();
        return false;
    }
    if (run.chdm.size() != 12 && msg2(QStringLiteral("冲红发票代码长度不是标准的12位长度，确定要继续吗？")) == 2)
        return false;
    if (run.chhm.isEmpty()) {
        mess(QStringLiteral("冲红号码不能为空！"));
        sle_ch.setFocus();
        return false;
    }
    return true;
}

// Numbers are 8 digits; a shorter one is padded and written back, anything
// else is refused.
bool w_fp_invoicing::padNumbers(StartRun& run) {
    if (run.fphm.size() < 8) {
        run.fphm = pad8(run.fphm);
        ddlb_fphm.setText(run.fphm);
    }
    if (run.chhm.size() < 8) {
        run.chhm = pad8(run.chhm);
        sle_ch.setText(run.chhm);
    }
    // "0000001x" would pass the text range test of the stock.
    if (!isInvoiceNumber(run.fphm)) {
        mess(notInvoiceNumberMessage(QStringLiteral("发票号码")));
        ddlb_fphm.setFocus();
        return false;
    }
    if (cbx_ch.checked && !isInvoiceNumber(run.chhm)) {
        mess(notInvoiceNumberMessage(QStringLiteral("冲红号码")));
        sle_ch.setFocus();
        return false;
    }
    return true;
}

bool w_fp_invoicing::chooseFormsByKind(StartRun& run) {
    if (Transaction* sqlca = session().sqlca) {
        QVariantList row;
        if (sqlca->selectInto(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?"), {run.fpdm}, row) == 0)
            run.fpzl = row.value(0).toString();
    }
    if (run.fpzl.isEmpty()) {
        mess(QStringLiteral("指定的发票代码无效！"));
        return false;
    }
    if (run.fpzl == QLatin1String("20")) {
        run.fpForm = QStringLiteral("d_fp_building_free");
        run.xmForm = QStringLiteral("d_fp_xmxx_estate_list");
    } else if (run.fpzl == QLatin1String("40")) {
        run.fpForm = QStringLiteral("d_fp_building_free");
        run.xmForm = QStringLiteral("d_fp_xmxx_building_list");
    } else if (run.fpzl == QLatin1String("50")) {
        run.fpForm = QStringLiteral("d_fp_integrated_free");
        run.xmForm = QStringLiteral("d_fp_xmxx_integrated_list");
        return true;
    } else {
        mess(QStringLiteral("指定的发票类型本系统暂不支持！"));
        return false;
    }
    if (cbx_ch.checked) {
        // Reversals are issued on integrated invoices only.
        mess(QStringLiteral("不动产销售及建筑业发票不能在本系统开具冲红发票！"));
        return false;
    }
    return true;
}

// The number lies in an open batch of the taxpayer's stock, is not issued here
// yet, and the tax service reports it unused.
bool w_fp_invoicing::checkNumberIssuable(const StartRun& run) {
    const Session& s = session();
    Transaction* sqlca = s.sqlca;
    qlonglong ll_rc = 0;
    QVariantList row;
    if (sqlca && sqlca->selectInto(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE sxh = ? AND fpdm = ? AND "
                                                  "fpzlbm = ? AND fpqh <= ? AND fpzh >= ? AND bjbz = '0'"),
                                   {s.gs_sysuserid, run.fpdm, run.fpzl, run.fphm, run.fphm}, row) == 0)
        ll_rc = row.value(0).toLongLong();
    if (ll_rc < 1) {
        mess(QStringLiteral("指定发票号码无效！"));
        ddlb_fphm.setFocus();
        return false;
    }
    row.clear();
    if (sqlca->selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                          {run.fpdm, run.fphm}, row) == 0)
        ll_rc = row.value(0).toLongLong();
    if (ll_rc > 0) {
        mess(QStringLiteral("当前发票号码已使用！"));
        ddlb_fphm.setFocus();
        return false;
    }
    QString fpdmr = run.fpdm, fphmr = run.fphm;
    if (!f_ptfp_valid_str(host(), fpdmr, QStringLiteral("发票代码"))) {
        ddlb_fpdm.setFocus();
        return false;
    }
    if (!f_ptfp_valid_str(host(), fphmr, QStringLiteral("发票号码"))) {
        ddlb_fphm.setFocus();
        return false;
    }
    QString resp;
    if (!host().f_send_remote_msg(QString(kRemoteEndpoint), req_status(fpdmr, fphmr, false), kTimeoutStatus, resp)) {
        ddlb_fphm.setFocus();
        return false;
    }
    resp = resp.mid(5);
    QString status = trimBlanks(f_get_col(resp, QStringLiteral("|@|")));
    if (status == QLatin1String("0")) return true;
    status = f_get_fpzt_name(status);
    if (status == QStringLiteral("未知发票状态！")) {
        status = trimBlanks(f_get_col(resp, QStringLiteral("|@|")));
        status = status.isEmpty() ? QStringLiteral("未知发票状态！") : QStringLiteral("状态：") + status;
    }
    mess(QStringLiteral("指定发票") + status);
    ddlb_fphm.setFocus();
    return false;
}

void w_fp_invoicing::openForms(const StartRun& run) {
    const Session& s = session();
    // chooseFormsByKind names only the module's own definitions.
    (void)dw_fp.setDataObject(run.fpForm);
    (void)dw_xm.setDataObject(run.xmForm);
    dw_fp.setTransObject(s.sqlca);
    dw_xm.setTransObject(s.sqlca);
    dw_fp.show();
    dw_xm.show();
    dw_fp.setReadOnly(false);
    dw_xm.setReadOnly(false);
    dw_xm.onItemChanged = [this](int r, const QString& c, const QString& d) { return dw_xm_itemchanged(r, c, d); };
    dw_xm.onKey = [this](int k, int f) { return dw_xm_ukey(k, f); };
    dw_fp.onItemChanged = [this](int r, const QString& c, const QString& d) { return dw_fp_itemchanged(r, c, d); };
    dw_fp.onKey = [this](int k, int f) { return dw_fp_ukey(k, f); };
    dw_fp.onDropDownClick = [this](DataStore* list, const QString& band, const QString& object) {
        dw_fp_ue_dddw(list, 1281, band, object);
    };

    // The drop-down sources: the taxpayer's partners and item catalogue.
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    idwc_corp = fp ? fp->child(QStringLiteral("fkfmc")) : nullptr;
    if (idwc_corp) {
        // A list that cannot be read stays empty: the payer is then typed.
        (void)idwc_corp->retrieve({s.gs_sysuserid});
        il_hdl_corp = idwc_corp;
    }
    idwc_pm = xm ? xm->child(QStringLiteral("xmmc")) : nullptr;
    if (idwc_pm) (void)idwc_pm->retrieve({s.gs_sysuserid}); // likewise the items
}

void w_fp_invoicing::prefillHeader(const StartRun& run) {
    const Session& s = session();
    DataStore* fp = dw_fp.store();
    if (fp) {
        const QDateTime now = s.gdt_srv_date();
        fp->insertRow(0);
        setOwnValue(*fp, 1, QStringLiteral("fpdm"), run.fpdm);
        setOwnValue(*fp, 1, QStringLiteral("fphm"), run.fphm);
        setOwnValue(*fp, 1, QStringLiteral("fpzlbm"), run.fpzl);
        setOwnValue(*fp, 1, QStringLiteral("swjgdm"), s.gs_ssswjgdm);
        setOwnValue(*fp, 1, QStringLiteral("sxh"), s.gs_sysuserid);
        setOwnValue(*fp, 1, QStringLiteral("fpzt"), QStringLiteral("1"));
        setOwnValue(*fp, 1, QStringLiteral("kpr"), s.gs_kprmc);
        setOwnValue(*fp, 1, QStringLiteral("bcrq"), now);
        setOwnValue(*fp, 1, QStringLiteral("kprq"), now);
        setOwnValue(*fp, 1, QStringLiteral("drcs"), 0);
        setOwnValue(*fp, 1, QStringLiteral("skfmc"), s.gs_sysusername);
        setOwnValue(*fp, 1, QStringLiteral("skfzjlx"), QStringLiteral("纳税人识别号"));
        setOwnValue(*fp, 1, QStringLiteral("skfzjhm"), s.gs_nsrsbh);
        setOwnValue(*fp, 1, QStringLiteral("skflxdh"), s.gs_nsrlxdh);
        dw_fp.currentRow = 1;
    }
    is_fpdm = run.fpdm;
    is_fphm = run.fphm;
    is_fpzl = run.fpzl;
    // The marker is an object of every header form.
    if (fp) (void)fp->setObjectText(QStringLiteral("sgfpch_t"), QStringLiteral("0"));
}

void w_fp_invoicing::startItemLines(StartRun& run) {
    if (cbx_ch.checked) {
        startRedLetterLines(run);
        return;
    }
    uo_toolbar.of_setenable(kNewProj, ib_write);
    uo_toolbar.of_setenable(kDelProj, ib_write);
    ue_newproj();
}

void w_fp_invoicing::finishStart() {
    uo_toolbar.of_setenable(kSave, ib_write);
    uo_toolbar.of_setenable(kPrint, false);
    dw_fp.setColumn(QStringLiteral("kprq"));
    dw_fp.setFocus();
}

} // namespace fp
