#include "reprint_void/invoice_lookup_window.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "services/invoice_fetch.h"
#include "services/invoice_print.h"
#include "services/invoice_status.h"
#include "services/remote_text.h"

namespace fp {

const QString InvoiceLookupWindow::kView = QStringLiteral("查看发票(&K)");

namespace {

const QString kUnknownStatus = QStringLiteral("未知发票状态！");
constexpr int kNumberListSize = 15;

void place(Control& c, int x, int y, int w, int h) {
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
}

QString pad8(const QString& number) {
    if (number.size() >= 8) return number;
    return QString(QStringLiteral("00000000") + number).right(8);
}

void emptyDropDown(DropDown& dd) {
    while (dd.deleteItem(1) >= 0) {}
    dd.setText(QStringLiteral(""));
}

} // namespace

InvoiceLookupWindow::InvoiceLookupWindow(HostServices& host, const QString& name) : BaseWindow(host, name) {
    width = 3744;
    height = 2372;
}

void InvoiceLookupWindow::create() {
    for (Control* c : std::initializer_list<Control*>{&st_1, &st_2, &dw_fp, &ddlb_fpdm, &ddlb_fphm}) registerControl(c);

    place(st_1, 23, 168, 256, 52);
    st_1.setText(QStringLiteral("发票代码"));
    place(ddlb_fpdm, 338, 152, 1234, 0);
    ddlb_fpdm.tabOrder = 10;

    place(st_2, 1614, 168, 256, 52);
    st_2.setText(QStringLiteral("发票号码"));
    place(ddlb_fphm, 1925, 152, 498, 0);
    ddlb_fphm.tabOrder = 20;
    ddlb_fphm.enabled = false; // until a code is chosen
    ddlb_fphm.allowEdit = true;
    ddlb_fphm.autoHScroll = true;
    ddlb_fphm.limit = 8;

    place(dw_fp, 27, 256, 3520, 1980);
    dw_fp.tabOrder = 40;
    dw_fp.hScrollBar = true;
    dw_fp.vScrollBar = true;
    (void)dw_fp.setDataObject(QStringLiteral("d_fp_integrated_print")); // one of the module's definitions

    is_keyevent_send = QStringLiteral("|ddlb_fphm|");

    defineEvent(QStringLiteral("ue_start"), [this] { return ue_start(); });

    ddlb_fpdm.onSelectionChanged = [this](int i) { ddlb_fpdm_selectionchanged(i); };
    ddlb_fphm.of_set_space(0); // constructor of the number drop-down
    ddlb_fphm.onKey = [this](int k, int f) { ddlb_fphm_ue_key(k, f); };
}

TreeSelectRequest InvoiceLookupWindow::issuerChoiceRequest() const {
    TreeSelectRequest r;
    r.kind = QStringLiteral("2");
    r.title = issuerDialogTitle();
    r.prompt = issuerDialogPrompt();
    r.sql = QStringLiteral(
        "select ccode code, cname name, ? pcode from b_emp where department = 'KPRY' and sxh = ? order by ccode ");
    // pcode is a carriage return (char(13)): every issuer is a root entry.
    r.binds = {QStringLiteral("\r"), session().gs_sysuserid};
    return r;
}

QString InvoiceLookupWindow::codeListSql() {
    return QStringLiteral("select b.fpdm || '(' || a.fpqc || ')' as mc, b.fpdm as dm "
                          "from bm_bdcja_fpzl a, bm_bdcja_fpdm b where a.fpzlbm = b.fpzlbm and a.kplx = '2' "
                          "order by b.fpdm");
}

bool InvoiceLookupWindow::chooseCode(const QString& code) {
    for (int i = 1; i <= ddlb_fpdm.count(); ++i) {
        if (ddlb_fpdm.of_getid(i) == code) {
            ddlb_fpdm.select(i);
            return true;
        }
    }
    return false;
}

long InvoiceLookupWindow::lookUp(const QString& code, const QString& number) {
    // The view command's right: a user who may not view here may not by a row either.
    if (!uo_toolbar.isEnabled(kView)) {
        mess(QStringLiteral("您没有在本窗口查看发票的权限！"));
        return 0;
    }
    if (!chooseCode(code)) {
        mess(QStringLiteral("指定的发票代码无效！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    ddlb_fphm.setText(number);
    return ue_start();
}

void InvoiceLookupWindow::on_open() {
    Session& s = session();
    const QString funcId = QStringLiteral("%1").arg(imess_open.functionId, 2, 10, QLatin1Char('0'));
    is_right = host().f_get_right(s.gs_userid, funcId);
    if (is_right != QLatin1String("02"))
        uo_toolbar.of_setenable(kView, false);
    else
        ib_write = true;
    // The command works only on an invoice that has been viewed.
    uo_toolbar.of_setenable(commandItem(), false);

    // Issuer choice, only when the issuer is the empty text (a null issuer skips it).
    if (!s.gs_kprmc.isNull() && s.gs_kprmc.isEmpty()) {
        const QString chosen = host().dialogs().treeSelect(issuerChoiceRequest());
        if (chosen.isNull() || chosen.trimmed().isEmpty() || chosen == QLatin1String("\r\n")) {
            (void)close(); // nothing keeps a window open that has shown nothing yet
            return;
        }
        s.gs_kprmc = chosen;
        s.setKprLabel(QStringLiteral("开票员:") + s.gs_kprmc);
    }

    if (s.sqlca) ddlb_fpdm.of_getdata_from_sql(*s.sqlca, codeListSql(), {}, QStringLiteral("dm"), QStringLiteral("mc"));

    dw_fp.setTransObject(s.sqlca);
    dw_fp.setReadOnly(true);
    dw_fp.hide();
}

void InvoiceLookupWindow::ue_resize(int sizetype, int newWidth, int newHeight) {
    BaseWindow::ue_resize(sizetype, newWidth, newHeight);
    dw_fp.width = newWidth - dw_fp.x - 8;
    dw_fp.height = newHeight - dw_fp.y + il_baseheight - 16;
    dw_fp.notify();
}

QString InvoiceLookupWindow::numberListSql() const {
    const Transaction* t = session().sqlca;
    return QStringLiteral("SELECT fphm mc, '' dm FROM ptfp_fpk T WHERE sxh = ? AND fpdm = ? AND fpzt = '1' AND kpr = ? "
                          "ORDER BY fphm DESC") +
           (t ? t->dialect().limit(kNumberListSize) : QString());
}

QVariantList InvoiceLookupWindow::numberListBinds(const QString& code) const {
    const Session& s = session();
    return {s.gs_sysuserid, code, s.gs_kprmc};
}

void InvoiceLookupWindow::forgetInvoice() {
    dw_fp.hide();
    is_fpdm.clear();
    is_fphm.clear();
    is_fpzl.clear();
    is_fpdmr.clear();
    is_fphmr.clear();
    if (dw_fp.store()) dw_fp.store()->reset();
    dw_fp.notify();
}

void InvoiceLookupWindow::ddlb_fpdm_selectionchanged(int index) {
    const QString code = ddlb_fpdm.of_getid(index);
    emptyDropDown(ddlb_fphm);
    forgetInvoice();
    if (Transaction* t = session().sqlca)
        ddlb_fphm.of_getdata_from_sql(*t, numberListSql(), numberListBinds(code), QStringLiteral("dm"),
                                      QStringLiteral("mc"));
    ddlb_fphm.setEnabled(true);
    ddlb_fphm.setFocus();
}

void InvoiceLookupWindow::ddlb_fphm_ue_key(int key, int) {
    if (key == keys::Enter) raise(QStringLiteral("ue_start"));
}

int InvoiceLookupWindow::retrieveInvoice(const QString& code, const QString& number) {
    DataStore* form = dw_fp.store();
    if (!form) return -1;
    const int rows = form->retrieve({session().gs_sysuserid, code, number});
    gf_fp_zhty_print_format(form);
    dw_fp.notify();
    return rows;
}

void InvoiceLookupWindow::refuseStatus(const QString& status, QString& body) {
    QString name = f_get_fpzt_name(status);
    if (name == kUnknownStatus) {
        const QString text = reply_next_field(body);
        name = text.isEmpty() ? kUnknownStatus : QStringLiteral("状态：") + text;
    }
    mess(QStringLiteral("指定发票") + name);
    ddlb_fphm.setFocus();
}

bool InvoiceLookupWindow::synchroniseStatus(const QString& code, const QString& number, const QString& local,
                                            const QString& server) {
    QString error;
    if (syncLocalStatus(*session().sqlca, InvoiceTable::Integrated, code, number, local, server, &error)) return true;
    mess(error);
    ddlb_fphm.setFocus();
    return false;
}

bool InvoiceLookupWindow::offerDownload(const QString& code, const QString& number) {
    if (msg2(QStringLiteral("指定发票号码在本地未找到，需要到服务器上下载吗？")) == 2) {
        ddlb_fphm.setFocus();
        return false;
    }
    if (!gf_get_fp_from_remote(host(), code, number)) {
        ddlb_fphm.setFocus();
        return false;
    }
    if (retrieveInvoice(code, number) < 1) {
        mess(QStringLiteral("指定发票号码未找到！"));
        ddlb_fphm.setFocus();
        return false;
    }
    return true;
}

bool InvoiceLookupWindow::readInvoice(const QString& code, const QString& number) {
    if (retrieveInvoice(code, number) >= 1) return true;
    return offerDownload(code, number);
}

long InvoiceLookupWindow::ue_start() {
    Session& s = session();
    forgetInvoice();
    if (!s.sqlca) return 0;
    Transaction& sqlca = *s.sqlca;

    const QString code = ddlb_fpdm.of_getid(ddlb_fpdm.text());
    // A typed number is the box's text; a chosen one an entry's name.
    QString number = ddlb_fphm.text().trimmed().isEmpty() ? QStringLiteral("") : ddlb_fphm.text();
    if (code.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (number.isEmpty()) {
        mess(emptyNumberMessage());
        ddlb_fphm.setFocus();
        return 0;
    }
    if (number.size() < 8) {
        number = pad8(number);
        ddlb_fphm.setText(number);
    }

    QVariantList row;
    QString kind;
    if (sqlca.selectInto(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?"), {code}, row) == 0)
        kind = row.value(0).toString();
    if (kind.isEmpty()) {
        mess(QStringLiteral("指定的发票代码无效！"));
        return 0;
    }
    QString local;
    row.clear();
    if (sqlca.selectInto(QStringLiteral("SELECT fpzt FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"), {code, number},
                         row) == 0)
        local = row.value(0).toString();
    // No local status: the invoice is not stored here.
    if (local.trimmed().isEmpty()) local = QStringLiteral("0");

    QString codeR = code, numberR = number;
    if (!f_ptfp_valid_str(host(), codeR, QStringLiteral("发票代码"))) {
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (!f_ptfp_valid_str(host(), numberR, QStringLiteral("发票号码"))) {
        ddlb_fphm.setFocus();
        return 0;
    }
    // Exactly 8 digits, as the issuing window takes them: "12a", "0000001x" or
    // "123456789" would otherwise be looked up, asked of the service or voided.
    if (!isInvoiceNumber(number)) {
        mess(notInvoiceNumberMessage(QStringLiteral("发票号码")));
        ddlb_fphm.setFocus();
        return 0;
    }

    QString reply;
    if (!host().f_send_remote_msg(QString(kRemoteEndpoint), req_status(codeR, numberR, true), kTimeoutStatus, reply)) {
        ddlb_fphm.setFocus();
        return 0;
    }
    QString body = reply_body(reply);
    const QString server = reply_next_field(body);

    if (!synchroniseStatus(code, number, local, server)) return 0;
    if (!acceptServerStatus(server, body)) return 0;
    if (!readInvoice(code, number)) return 0;

    is_fpdm = code;
    is_fphm = number;
    is_fpzl = kind;
    is_fpdmr = codeR;
    is_fphmr = numberR;
    dw_fp.show();
    uo_toolbar.of_setenable(commandItem(), ib_write);
    dw_fp.setFocus();
    return 1;
}

} // namespace fp
