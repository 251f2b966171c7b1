#include "reprint_void/w_fp_invoice_void.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "reprint_void/menus.h"
#include "services/remote_text.h"

namespace fp {

const QString w_fp_invoice_void::kVoid = QStringLiteral("发票作废(&F)");

namespace {
const QString kStatusVoided = QStringLiteral("2");
const QString kStatusBlankVoided = QStringLiteral("3");
constexpr int kNumberListSize = 15;
} // namespace

w_fp_invoice_void::w_fp_invoice_void(HostServices& host)
    : InvoiceLookupWindow(host, QStringLiteral("w_fp_invoice_void")) {
    title = QStringLiteral("发票作废");
    menu = m_fp_invoice_void();
}

void w_fp_invoice_void::create() {
    InvoiceLookupWindow::create();
    registerControl(&cbx_blank);
    cbx_blank.x = 2542;
    cbx_blank.y = 164;
    cbx_blank.width = 343;
    cbx_blank.height = 64;
    cbx_blank.tabOrder = 30;
    cbx_blank.setText(QStringLiteral("空白发票"));
    cbx_blank.onClicked = [this] { ddlb_fphm.setFocus(); };
    defineEvent(QStringLiteral("ue_save"), [this] { return ue_save(); });
}

QString w_fp_invoice_void::numberListSql() const {
    const Transaction* t = session().sqlca;
    if (!t) return QString();
    // Valid invoices of the current issuer first printed in the server's month.
    return QStringLiteral("SELECT fphm mc, '' dm FROM ptfp_fpk T WHERE sxh = ? AND fpdm = ? AND fpzt = '1' AND kpr = ? "
                          "AND %1 = ? ORDER BY fphm DESC")
               .arg(t->dialect().monthOf(QStringLiteral("kprq"))) +
           t->dialect().limit(kNumberListSize);
}

QVariantList w_fp_invoice_void::numberListBinds(const QString& code) const {
    const Session& s = session();
    return InvoiceLookupWindow::numberListBinds(code) << s.gdt_srv_date().toString(QStringLiteral("yyyy-MM"));
}

bool w_fp_invoice_void::acceptServerStatus(const QString& status, QString& body) {
    if (cbx_blank.checked && status == QLatin1String("1")) {
        mess(QStringLiteral("当前发票已使用，不能进行空白发票作废操作！"));
        ddlb_fphm.setFocus();
        return false;
    }
    if (!cbx_blank.checked && status == QLatin1String("0")) {
        mess(QStringLiteral("当前发票还未使用，不能进行发票作废操作！"));
        ddlb_fphm.setFocus();
        return false;
    }
    // Unused (blank) and issued invoices may be viewed here.
    if (status == QLatin1String("1") || status == QLatin1String("0")) return true;
    refuseStatus(status, body);
    return false;
}

bool w_fp_invoice_void::readInvoice(const QString& code, const QString& number) {
    if (retrieveInvoice(code, number) >= 1) return true;
    // A blank invoice has no local row: the empty form is what there is to see.
    if (cbx_blank.checked) return true;
    return offerDownload(code, number);
}

bool w_fp_invoice_void::confirmNormalVoid() {
    DataStore* form = dw_fp.store();
    if (!form || form->rowCount() < 1) {
        mess(QStringLiteral("请先进行“查看发票”操作，确认无误后再进行作废操作！"));
        return false;
    }
    const QString status = form->getString(1, QStringLiteral("fpzt"));
    if (status == kStatusVoided || status == kStatusBlankVoided) {
        mess(QStringLiteral("发票已作废！"));
        ddlb_fphm.setFocus();
        return false;
    }
    // Only this month's invoices, by the server's date; no issue date passes.
    const QDateTime issued = form->getDateTime(1, QStringLiteral("kprq"));
    const QDateTime today = session().gdt_srv_date();
    if (issued.isValid() && today.isValid() &&
        issued.toString(QStringLiteral("yyyyMM")) != today.toString(QStringLiteral("yyyyMM"))) {
        mess(QStringLiteral("只能作废本月发票！"));
        ddlb_fphm.setFocus();
        return false;
    }
    return msg2(QStringLiteral("确定要将当前\r\n    发票代码：") + is_fpdm + QStringLiteral("\r\n    发票号码：") +
                is_fphm + QStringLiteral("\r\n作废吗？")) != 2;
}

bool w_fp_invoice_void::confirmBlankVoid() {
    QVariantList row;
    Transaction& sqlca = *session().sqlca;
    // A number whose use cannot be read is not taken for an unused one.
    if (sqlca.selectInto(QStringLiteral("SELECT count ( 1 ) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                         {is_fpdm, is_fphm}, row) == -1) {
        mess(QStringLiteral("发票作废操作失败！\r\n") + sqlca.sqlerrtext);
        return false;
    }
    if (row.value(0).toLongLong() >= 1) {
        mess(QStringLiteral("发票已使用，不能当空白发票作废！"));
        return false;
    }
    return msg2(QStringLiteral("确定要将指定的空白发票\r\n    发票代码：") + is_fpdm +
                QStringLiteral("\r\n    发票号码：") + is_fphm + QStringLiteral("\r\n作废吗？")) != 2;
}

bool w_fp_invoice_void::markVoided() {
    Transaction& sqlca = *session().sqlca;
    if (sqlca.exec(QStringLiteral("UPDATE ptfp_fpk SET fpzt = '2' WHERE fpdm = ? AND fphm = ? AND fpzt = '1'"),
                   {is_fpdm, is_fphm}))
        return true;
    const QString err = sqlca.sqlerrtext;
    (void)sqlca.rollback(); // the failure to report is `err`
    mess(QStringLiteral("发票作废操作失败！\r\n") + err);
    return false;
}

bool w_fp_invoice_void::createBlankRow() {
    Session& s = session();
    Transaction& sqlca = *s.sqlca;
    QVariantList row;
    QString kind;
    if (sqlca.selectInto(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?"), {is_fpdm}, row) == 0)
        kind = row.value(0).toString();

    // The blank invoice's own row: one-blank payer, the taxpayer as payee, total 0.
    if (!sqlca.exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm , fphm , fpzlbm , swjgdm , sxh , fpzt , kpr , bcrq , "
                                   "fkfmc , fkfzjhm , skfmc , skfzjhm , skflxdh , hjje ) "
                                   "VALUES ( ? , ? , ? , ? , ? , ? , ? , ? , ' ' , ' ' , ? , ? , ? , ? )"),
                    {is_fpdm, is_fphm, kind, s.gs_ssswjgdm, s.gs_sysuserid, kStatusBlankVoided, s.gs_userid,
                     s.gdt_srv_date(), s.gs_sysusername, s.gs_nsrsbh, s.gs_nsrlxdh,
                     QVariant::fromValue(Decimal::fromInt(0))})) {
        // Never go on to the stock, the log or the report without the row.
        const QString err = sqlca.sqlerrtext;
        (void)sqlca.rollback(); // the failure to report is `err`
        mess(QStringLiteral("发票作废操作失败！\r\n") + err);
        return false;
    }
    // The batch holding the number records it as its last used one, unless it
    // has already used a higher number.
    if (!sqlca.exec(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = ? WHERE fpdm = ? AND fpzlbm = ? AND fpqh <= ? "
                                   "AND fpzh >= ? AND ( zjsyh IS NULL OR TRIM( zjsyh ) = '' OR zjsyh < ? )"),
                    {is_fphm, is_fpdm, kind, is_fphm, is_fphm, is_fphm})) {
        const QString err = sqlca.sqlerrtext;
        (void)sqlca.rollback(); // the failure to report is `err`
        mess(QStringLiteral("发票库数据保存失败！\r\n") + err);
        return false;
    }
    return true;
}

bool w_fp_invoice_void::writeLog() {
    Session& s = session();
    Transaction& sqlca = *s.sqlca;
    if (sqlca.exec(QStringLiteral("INSERT INTO bdcja_fpk_log ( fpdm , fphm , sxh , czlx , kpr , czrq , bz ) "
                                  "VALUES ( ? , ? , ? , '3' , ? , %1 , '空白发票' )")
                       .arg(sqlca.dialect().currentTime()),
                   {is_fpdm, is_fphm, s.gs_sysuserid, s.gs_kprmc}))
        return true;
    const QString err = sqlca.sqlerrtext;
    (void)sqlca.rollback(); // the failure to report is `err`
    mess(QStringLiteral("发票作废失败1！\r\n") + err);
    return false;
}

long w_fp_invoice_void::ue_save() {
    Session& s = session();
    if (is_fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (is_fphm.isEmpty()) {
        mess(QStringLiteral("请决定要作废发票的发票号码！"));
        ddlb_fphm.setFocus();
        return 0;
    }
    QString issuerR = s.gs_kprmc;
    if (!f_ptfp_valid_str(host(), issuerR, QStringLiteral("开票人"))) {
        mess(QStringLiteral("不能进行作废操作！"));
        return 0;
    }
    if (!s.sqlca) return 0;
    Transaction& sqlca = *s.sqlca;

    const bool blank = cbx_blank.checked;
    if (!(blank ? confirmBlankVoid() : confirmNormalVoid())) return 0;

    TxGuard guard(sqlca);
    if (!(blank ? createBlankRow() : markVoided())) return 0;
    if (!writeLog()) return 0;

    const QString status = blank ? kStatusBlankVoided : kStatusVoided;
    QString reply;
    if (!host().f_send_remote_msg(QString(kRemoteEndpoint), req_void(is_fpdmr, is_fphmr, status, issuerR), kTimeoutVoid,
                                  reply)) {
        (void)sqlca.rollback(); // the exchange's failure has been shown
        return 0;
    }
    reply = reply_body(reply);
    if (!sqlca.commit()) {
        const QString err = sqlca.sqlerrtext;
        (void)sqlca.rollback(); // the failure to report is `err`
        mess(QStringLiteral("发票作废操作失败！\r\n") + err);
        return 0;
    }

    retrieveInvoice(is_fpdm, is_fphm);
    uo_toolbar.of_setenable(kVoid, false);
    mess(QStringLiteral("发票作废成功！"));
    return 1;
}

} // namespace fp
