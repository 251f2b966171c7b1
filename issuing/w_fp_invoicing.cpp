#include "issuing/w_fp_invoicing.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "reprint_void/menus.h"

namespace fp {

const QString w_fp_invoicing::kStart = QStringLiteral("发票录入(&O)");
const QString w_fp_invoicing::kNewProj = QStringLiteral("新增品目(&N)");
const QString w_fp_invoicing::kDelProj = QStringLiteral("删除品目(&D)");
const QString w_fp_invoicing::kSave = QStringLiteral("发票保存(&S)");
const QString w_fp_invoicing::kCopy = QStringLiteral("发票复制(&C)");
const QString w_fp_invoicing::kPaste = QStringLiteral("发票粘贴(&V)");
const QString w_fp_invoicing::kPrint = QStringLiteral("发票打印(&P)");

namespace {
void place(Control& c, int x, int y, int w, int h) {
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
}
} // namespace

// The columns are the window's own and the values come from its forms, its
// lists or its own arithmetic, so the form engine takes them: the result is
// not examined (the window's tests read every such value back). What the clerk
// types goes through the edit checks instead (dw_fp_itemchanged, dw_xm_itemchanged).
void w_fp_invoicing::setOwnValue(DataStore& store, int row, const QString& column, const QVariant& value) {
    (void)store.setItem(row, column, value);
}
void w_fp_invoicing::setOwnValue(DataStore& store, int row, int column, const QVariant& value) {
    (void)store.setItem(row, column, value);
}

w_fp_invoicing::w_fp_invoicing(HostServices& host) : BaseWindow(host, QStringLiteral("w_fp_invoicing")) {
    title = QStringLiteral("发票开具");
    width = 3744;
    height = 2372;
    menu = m_fp_invoicing();
}

w_fp_invoicing::~w_fp_invoicing() = default;

void w_fp_invoicing::create() {
    // Controls in creation order, after the inherited toolbar.
    for (Control* c :
         std::initializer_list<Control*>{&st_1, &st_2, &dw_xm, &ddlb_fpdm, &ddlb_fphm, &dw_print, &cbx_ch, &sle_ch,
                                         &ddlb_oldfpdm, &st_oldfpdm, &sle_oldfpdm, &st_oldfpdm1, &dw_fp, &st_oldfphm})
        registerControl(c);

    place(st_1, 23, 168, 256, 52);
    st_1.setText(QStringLiteral("发票代码"));

    place(ddlb_fpdm, 338, 152, 1234, 0);
    ddlb_fpdm.tabOrder = 10;

    place(st_2, 1614, 168, 256, 52);
    st_2.setText(QStringLiteral("发票号码"));

    place(ddlb_fphm, 1925, 152, 498, 0);
    ddlb_fphm.tabOrder = 20;
    ddlb_fphm.enabled = false;
    ddlb_fphm.allowEdit = true;
    ddlb_fphm.autoHScroll = true;
    ddlb_fphm.limit = 8;

    place(cbx_ch, 2542, 164, 343, 64);
    cbx_ch.tabOrder = 30;
    cbx_ch.enabled = false;
    cbx_ch.setText(QStringLiteral("发票冲红"));

    place(st_oldfpdm, 23, 292, 302, 52);
    st_oldfpdm.visible = false;
    st_oldfpdm.textColor = kColourRed;
    st_oldfpdm.setText(QStringLiteral("原发票代码"));

    place(ddlb_oldfpdm, 338, 272, 1234, 0);
    ddlb_oldfpdm.visible = false;
    ddlb_oldfpdm.textColor = kColourRed;
    ddlb_oldfpdm.tabOrder = 20;

    place(st_oldfpdm1, 1614, 292, 311, 52);
    st_oldfpdm1.visible = false;
    st_oldfpdm1.textColor = kColourRed;
    st_oldfpdm1.setText(QStringLiteral("原发票代码"));

    place(sle_oldfpdm, 1925, 276, 498, 84);
    sle_oldfpdm.visible = false;
    sle_oldfpdm.textColor = kColourRed;
    sle_oldfpdm.tabOrder = 60;
    sle_oldfpdm.limit = 12;

    place(st_oldfphm, 2496, 292, 311, 52);
    st_oldfphm.visible = false;
    st_oldfphm.textColor = kColourRed;
    st_oldfphm.setText(QStringLiteral("原发票号码"));

    place(sle_ch, 2830, 276, 498, 84);
    sle_ch.visible = false;
    sle_ch.textColor = kColourRed;
    sle_ch.tabOrder = 40;
    sle_ch.limit = 8;

    place(dw_fp, 27, 256, 3520, 1128);
    dw_fp.tabOrder = 50;
    (void)dw_fp.setDataObject(QStringLiteral("d_fp_integrated_free"));

    place(dw_xm, 27, 1380, 3520, 716);
    dw_xm.tabOrder = 60;
    dw_xm.hScrollBar = true;
    dw_xm.vScrollBar = true;
    (void)dw_xm.setDataObject(QStringLiteral("d_fp_xmxx_integrated_list")); // the module's own definitions

    place(dw_print, 2405, 0, 384, 108);
    dw_print.visible = false;
    dw_print.liveScroll = true;
    (void)dw_print.setDataObject(QStringLiteral("d_fp_integrated_print"));

    is_keyevent_send = QStringLiteral("|ddlb_fphm|");

    // Commands.
    defineEvent(QStringLiteral("ue_start"), [this] { return ue_start(); });
    defineEvent(QStringLiteral("ue_newproj"), [this] { return ue_newproj(); });
    defineEvent(QStringLiteral("ue_delproj"), [this] { return ue_delproj(); });
    defineEvent(QStringLiteral("ue_save"), [this] { return ue_save(); });
    defineEvent(QStringLiteral("ue_copy"), [this] { return ue_copy(); });
    defineEvent(QStringLiteral("ue_paste"), [this] { return ue_paste(); });
    defineEvent(QStringLiteral("ue_print"), [this] { return ue_print(); });

    // Handlers.
    ddlb_fpdm.onSelectionChanged = [this](int i) { ddlb_fpdm_selectionchanged(i); };
    ddlb_fphm.of_set_space(0); // constructor of the number drop-down
    ddlb_fphm.onKey = [this](int k, int f) { ddlb_fphm_ue_key(k, f); };
    cbx_ch.onClicked = [this] { cbx_ch_clicked(); };
    ddlb_oldfpdm.onSelectionChanged = [this](int i) { ddlb_oldfpdm_selectionchanged(i); };
    sle_oldfpdm.onKeyDown = [this](int k) { sle_oldfpdm_keydown(k); };
    sle_oldfpdm.onGetFocus = [this] { sle_oldfpdm.selectText(1, 100); };
    sle_ch.onKeyDown = [this](int k) { sle_ch_keydown(k); };
    sle_ch.onGetFocus = [this] { sle_ch.selectText(1, 100); };
}

TreeSelectRequest w_fp_invoicing::issuerChoiceRequest() const {
    TreeSelectRequest r;
    r.kind = QStringLiteral("2");
    r.title = QStringLiteral("开票人员");
    r.prompt = QStringLiteral("请选择一个当前开票人员");
    r.sql = QStringLiteral(
        "select ccode code, cname name, ? pcode from b_emp where department = 'KPRY' and sxh = ? order by ccode ");
    // pcode is a carriage return (char(13)): every issuer is a root entry.
    r.binds = {QStringLiteral("\r"), session().gs_sysuserid};
    return r;
}

QString w_fp_invoicing::codeListSql() {
    // Codes of the owner's stock that is still open and not covered by a returned
    // range of the same purchase, of a kind issued by the taxpayer (kplx '2').
    return QStringLiteral(
        "select b.fpdm || '(' || a.fpqc || ')' as mc, b.fpdm as dm "
        "from bm_bdcja_fpzl a, "
        "(select distinct fpzlbm, fpdm, sxh from bdcja_fplg t where sxh = ? and bjbz = '0' and not exists "
        "( select * from bdcja_sgtp a where a.lglsh = t.lglsh and a.fpzlbm = t.fpzlbm and a.fpdm = t.fpdm "
        "and a.tpqh <= t.fpzh and a.tpzh >= t.fpqh )) b "
        "where a.fpzlbm = b.fpzlbm and a.kplx = '2' order by b.fpdm");
}

void w_fp_invoicing::on_open() {
    Session& s = session();
    // Rights: the function id as two digits.
    const QString funcId = QStringLiteral("%1").arg(imess_open.functionId, 2, 10, QLatin1Char('0'));
    is_right = host().f_get_right(s.gs_userid, funcId);
    if (is_right != QLatin1String("02"))
        uo_toolbar.of_setenable(kStart, false);
    else
        ib_write = true;

    for (const QString& t : {kNewProj, kDelProj, kSave, kCopy, kPaste, kPrint}) uo_toolbar.of_setenable(t, false);

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

    if (s.sqlca)
        ddlb_fpdm.of_getdata_from_sql(*s.sqlca, codeListSql(), {s.gs_sysuserid}, QStringLiteral("dm"),
                                      QStringLiteral("mc"));

    dw_fp.setTransObject(s.sqlca);
    dw_xm.setTransObject(s.sqlca);
    dw_print.setTransObject(s.sqlca);

    dw_fp.hide();
    dw_xm.hide();
}

void w_fp_invoicing::ue_resize(int sizetype, int newWidth, int newHeight) {
    BaseWindow::ue_resize(sizetype, newWidth, newHeight);
    dw_fp.width = newWidth - dw_fp.x - 8;
    dw_xm.width = dw_fp.width;
    dw_xm.height = newHeight - dw_xm.y + il_baseheight - 16;
    dw_fp.notify();
    dw_xm.notify();
}

int w_fp_invoicing::closequery() {
    const int rc = BaseWindow::closequery();
    ids_fp.reset();
    ids_xm.reset();
    return rc;
}

void w_fp_invoicing::destroy() {}

} // namespace fp
