#include "reprint_void/w_fp_invoice_void.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "reprint_void/menus.h"
#include "services/journal_store.h"
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

bool w_fp_invoice_void::createBlankRow(const PendingRequest& record) {
    Session& s = session();
    Transaction& sqlca = *s.sqlca;
    // The row the record stands for: the kind and the server date it was written with.
    const BlankInvoice blank = blankInvoiceOf(record);
    if (!insertBlankInvoice(sqlca, s, blank)) {
        // Never go on to the stock, the log or the report without the row.
        const QString err = sqlca.sqlerrtext;
        (void)sqlca.rollback(); // the failure to report is `err`
        mess(QStringLiteral("发票作废操作失败！\r\n") + err);
        return false;
    }
    if (!markBlankNumberUsed(sqlca, blank)) {
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
    if (insertVoidLog(sqlca, is_fpdm, is_fphm, s.gs_sysuserid, s.gs_kprmc)) return true;
    const QString err = sqlca.sqlerrtext;
    (void)sqlca.rollback(); // the failure to report is `err`
    mess(QStringLiteral("发票作废失败1！\r\n") + err);
    return false;
}

bool w_fp_invoice_void::requireServerDate() {
    Session& s = session();
    if (!s.srvDateUnread) return true;
    QString reply;
    QString failure;
    if (host().sendRemoteMsgQuietly(QString(kRemoteEndpoint), QStringLiteral("proc_id:90001"), kTimeoutVoid, reply)) {
        const QString text = reply_body(reply).trimmed();
        const QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (t.isValid()) {
            s.setServerDate(t);
            return true;
        }
        failure = QStringLiteral("税务服务器时间无法识别：") + text;
    } else {
        failure = host().lastFailureText();
    }
    mess(QStringLiteral("取税务服务器时间失败，不能进行作废操作！\r\n") + failure);
    return false;
}

bool w_fp_invoice_void::recordVoid(PendingRequest& record) {
    const Session& s = session();
    const bool blank = cbx_blank.checked;
    record = PendingRequest{is_fpdm, is_fphm, QString(), s.gs_sysuserid, s.gs_userid, s.gs_username, s.gs_kprmc};
    record.op = blank ? JournalOp::BlankVoid : JournalOp::Void;
    record.srvrq = s.gdt_srv_date();
    if (blank) {
        QVariantList row;
        if (s.sqlca->selectInto(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?"), {is_fpdm}, row) == 0)
            record.fpzlbm = row.value(0).toString();
    }
    // The number's last request is settled first; it may have been this very void.
    QString error;
    switch (writeAfterSettling(host(), record, &error)) {
    case JournalWrite::Written: return true;
    case JournalWrite::Failed: mess(QStringLiteral("发票作废操作失败！\r\n") + error); return false;
    case JournalWrite::Taken: mess(pendingRecordRefusal()); return false;
    case JournalWrite::Blocked: break;
    }
    return false;
}

// The report's answer was lost: the service is asked whether it voided the
// invoice. Voided there -> the local side is completed as after an acceptance;
// otherwise the record stays (the report may still arrive) and the clerk is
// told how things stand.
bool w_fp_invoice_void::settleLostVoidReply(const PendingRequest& record, const QString& failure) {
    const Settlement settled = settlePendingRequest(host(), record.fpdm, record.fphm, true);
    switch (settled.outcome) {
    case Settlement::Outcome::Completed:
        showVoided();
        mess(QStringLiteral("作废应答未收到，经核对税务机关已作废该发票，数据已保存！"));
        return true;
    case Settlement::Outcome::Kept:
        mess(failure + QStringLiteral("\r\n\r\n经核对，税务机关目前没有作废该发票，本地数据未保存。"
                                      "税务机关可能稍后才收到，请先执行“核对未确认发票”再重新作废。"));
        return false;
    case Settlement::Outcome::Unreachable:
    case Settlement::Outcome::Gone:
        mess(failure + QStringLiteral("\r\n\r\n无法向税务机关核对该发票是否已作废，本地数据未保存。"
                                      "请在网络恢复后执行“核对未确认发票”。"));
        return false;
    case Settlement::Outcome::Failed:
    case Settlement::Outcome::Dropped: break;
    }
    mess(failure + QStringLiteral("\r\n\r\n") + settled.message);
    return false;
}

bool w_fp_invoice_void::reportAndCommit(const PendingRequest& record, const QString& issuerR) {
    Transaction& sqlca = *session().sqlca;
    const QString status = cbx_blank.checked ? kStatusBlankVoided : kStatusVoided;
    QString reply;
    if (!host().sendRemoteMsgQuietly(QString(kRemoteEndpoint), req_void(is_fpdmr, is_fphmr, status, issuerR),
                                     kTimeoutVoid, reply)) {
        (void)sqlca.rollback(); // the failure is reported below; the record comes back with it
        if (host().lastOutcome() == HostServices::Outcome::TransportFailed)
            return settleLostVoidReply(record, host().lastFailureText());
        dropPendingRequest(sqlca, record); // the service did nothing with the report
        mess(host().lastFailureText());
        return false;
    }
    reply = reply_body(reply);
    if (!sqlca.commit()) {
        // The service has voided it: the record stays for settling.
        const QString err = sqlca.sqlerrtext;
        (void)sqlca.rollback(); // the failure to report is `err`
        mess(QStringLiteral("税务机关已作废该发票，但本地数据保存失败！\r\n") + err +
             QStringLiteral("\r\n请执行“核对未确认发票”补存本地数据。"));
        return false;
    }
    showVoided();
    mess(QStringLiteral("发票作废成功！"));
    return true;
}

void w_fp_invoice_void::showVoided() {
    retrieveInvoice(is_fpdm, is_fphm);
    uo_toolbar.of_setenable(kVoid, false);
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
    if (!requireServerDate()) return 0;
    if (!(blank ? confirmBlankVoid() : confirmNormalVoid())) return 0;

    PendingRequest record;
    if (!recordVoid(record)) return 0;
    TxGuard guard(sqlca);
    if (!takePendingRequest(sqlca, record)) {
        const QString err = sqlca.sqlerrtext;
        (void)sqlca.rollback(); // the failure to report is `err`
        dropPendingRequest(sqlca, record);
        mess(QStringLiteral("发票作废操作失败！\r\n") + err);
        return 0;
    }
    if (!(blank ? createBlankRow(record) : markVoided()) || !writeLog()) {
        dropPendingRequest(sqlca, record); // nothing was sent
        return 0;
    }
    return reportAndCommit(record, issuerR) ? 1 : 0;
}

} // namespace fp
