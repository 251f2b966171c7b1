#include "reprint_void/w_fp_invoice_query.h"

#include "data_model/transaction.h"
#include "reprint_void/invoice_lookup_window.h"
#include "reprint_void/menus.h"
#include "services/monthly_summary.h"
#include "services/register_report.h"
#include "services/remote_text.h"
#include "services/table_export.h"

#include <QRegularExpression>

namespace fp {

const QString w_fp_invoice_query::kQuery = QStringLiteral("查询(&K)");
const QString w_fp_invoice_query::kExport = QStringLiteral("导出(&E)");
const QString w_fp_invoice_query::kPrint = QStringLiteral("打印清单(&P)");
const QString w_fp_invoice_query::kSummary = QStringLiteral("月度汇总(&M)");
const QString w_fp_invoice_query::kAudit = QStringLiteral("与税务机关核对(&H)");

namespace {

constexpr int kRowHeight = 100;
constexpr int kGrey = 0x808080;

void place(Control& c, int x, int y, int w, int h = 52) {
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
}

void label(StaticText& st, const char* text, int x, int y, int w) {
    place(st, x, y + 16, w);
    st.setText(QString::fromUtf8(text));
}

QString pad8(const QString& number) { return QString(QStringLiteral("00000000") + number).right(8); }

std::vector<ListView::Column> listColumns(const ReportTable& report) {
    std::vector<ListView::Column> columns;
    for (const ReportColumn& c : report.columns)
        columns.push_back({c.title, c.type != ReportColumn::Type::Text, c.width});
    return columns;
}

// A date typed "yyyy-MM-dd" (or "yyyyMMdd"); invalid for anything else.
QDate typedDate(const QString& text) {
    const QString t = text.trimmed();
    QDate d = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid()) d = QDate::fromString(t, QStringLiteral("yyyyMMdd"));
    return d;
}

} // namespace

w_fp_invoice_query::w_fp_invoice_query(HostServices& host) : BaseWindow(host, QStringLiteral("w_fp_invoice_query")) {
    title = QStringLiteral("发票查询");
    menu = m_fp_invoice_query();
    width = 3744;
    height = 2372;
}

void w_fp_invoice_query::create() {
    for (Control* c : std::initializer_list<Control*>{
             &st_month, &sle_month,     &st_from,    &sle_from,    &st_to,    &sle_to,    &st_fpdm, &ddlb_fpdm,
             &st_fphm,  &sle_fphm_from, &st_fphm_to, &sle_fphm_to, &st_fpzt,  &ddlb_fpzt, &st_sign, &ddlb_sign,
             &st_fpzl,  &ddlb_fpzl,     &st_kpr,     &ddlb_kpr,    &st_payer, &sle_payer, &lv_list, &st_totals})
        registerControl(c);

    int y = 150;
    label(st_month, "月份", 23, y, 150);
    place(sle_month, 180, y, 260, kRowHeight - 12);
    sle_month.limit = 7;
    label(st_from, "或开票日期", 500, y, 300);
    place(sle_from, 810, y, 330, kRowHeight - 12);
    sle_from.limit = 10;
    label(st_to, "至", 1160, y, 70);
    place(sle_to, 1240, y, 330, kRowHeight - 12);
    sle_to.limit = 10;
    label(st_fpdm, "发票代码", 1640, y, 256);
    place(ddlb_fpdm, 1910, y - 16, 1100, 0);

    y += kRowHeight + 10;
    label(st_fphm, "发票号码", 23, y, 256);
    place(sle_fphm_from, 290, y, 300, kRowHeight - 12);
    sle_fphm_from.limit = 8;
    label(st_fphm_to, "至", 610, y, 70);
    place(sle_fphm_to, 690, y, 300, kRowHeight - 12);
    sle_fphm_to.limit = 8;
    label(st_fpzt, "状态", 1040, y, 140);
    place(ddlb_fpzt, 1190, y - 16, 380, 0);
    label(st_sign, "正负", 1640, y, 140);
    place(ddlb_sign, 1790, y - 16, 420, 0);
    label(st_fpzl, "种类", 2260, y, 140);
    place(ddlb_fpzl, 2410, y - 16, 600, 0);

    y += kRowHeight + 10;
    label(st_kpr, "开票员", 23, y, 200);
    place(ddlb_kpr, 290, y - 16, 700, 0);
    ddlb_kpr.allowEdit = true;
    ddlb_kpr.limit = 50;
    label(st_payer, "付款方", 1040, y, 200);
    place(sle_payer, 1250, y, 1760, kRowHeight - 12);
    sle_payer.limit = 50;

    int order = 10;
    for (Control* c :
         std::initializer_list<Control*>{&sle_month, &sle_from, &sle_to, &ddlb_fpdm, &sle_fphm_from, &sle_fphm_to,
                                         &ddlb_fpzt, &ddlb_sign, &ddlb_fpzl, &ddlb_kpr, &sle_payer, &lv_list}) {
        c->tabOrder = order;
        order += 10;
    }
    place(lv_list, 27, y + kRowHeight + 20, 3690, 1650);
    place(st_totals, 27, 2290, 3690, 60);

    // Enter in a filter runs the query, as the toolbar's first command.
    for (Edit* e : {&sle_month, &sle_from, &sle_to, &sle_fphm_from, &sle_fphm_to, &sle_payer})
        e->onKeyDown = [this](int key) {
            if (key == keys::Enter) (void)ue_query();
        };
    for (DropDown* d : {&ddlb_fpdm, &ddlb_fpzt, &ddlb_sign, &ddlb_fpzl, &ddlb_kpr})
        d->onKey = [this](int key, int) {
            if (key == keys::Enter) (void)ue_query();
        };
    lv_list.onActivated = [this](int row) { openRow(row); };

    defineEvent(QStringLiteral("ue_query"), [this] { return ue_query(); });
    defineEvent(QStringLiteral("ue_summary"), [this] { return ue_summary(); });
    defineEvent(QStringLiteral("ue_export"), [this] { return ue_export(); });
    defineEvent(QStringLiteral("ue_print_list"), [this] { return ue_print_list(); });
    defineEvent(QStringLiteral("ue_audit"), [this] { return ue_audit(); });
}

void w_fp_invoice_query::on_open() {
    Session& s = session();
    const QString funcId = QStringLiteral("%1").arg(imess_open.functionId, 2, 10, QLatin1Char('0'));
    is_right = host().f_get_right(s.gs_userid, funcId);
    const bool view = is_right != QLatin1String("00");
    for (const QString& item : {kQuery, kSummary, kPrint}) uo_toolbar.of_setenable(item, view);
    for (const QString& item : {kExport, kAudit}) uo_toolbar.of_setenable(item, mayWrite());

    fillChoices();
    const QDateTime today = s.gdt_srv_date();
    sle_month.setText(today.isValid() ? today.toString(QStringLiteral("yyyy-MM")) : QString());
    st_totals.setText(view ? QStringLiteral("请输入条件后按回车或“查询”。") : QStringLiteral("您没有查询发票的权限！"));
    sle_month.setFocus();
}

void w_fp_invoice_query::ue_resize(int sizetype, int newWidth, int newHeight) {
    BaseWindow::ue_resize(sizetype, newWidth, newHeight);
    lv_list.width = newWidth - lv_list.x - 16;
    lv_list.height = std::max(200, newHeight - lv_list.y - 110);
    lv_list.notify();
    st_totals.move(st_totals.x, lv_list.y + lv_list.height + 20);
    st_totals.resize(lv_list.width, st_totals.height);
}

void w_fp_invoice_query::fillChoices() {
    Transaction* sqlca = session().sqlca;
    ddlb_fpdm.reset();
    ddlb_fpdm.of_additem(QString(), QStringLiteral("全部"));
    ddlb_fpzl.reset();
    ddlb_fpzl.of_additem(QString(), QStringLiteral("全部"));
    ddlb_kpr.reset();
    ddlb_kpr.of_additem(QString(), QStringLiteral("全部"));
    if (sqlca) {
        for (const QVariantList& r : sqlca->selectAll(InvoiceLookupWindow::codeListSql()))
            ddlb_fpdm.of_additem(r.value(1).toString(), r.value(0).toString());
        for (const QVariantList& r : sqlca->selectAll(
                 QStringLiteral("SELECT fpzlbm, fpjc FROM bm_bdcja_fpzl WHERE kplx = '2' ORDER BY fpzlbm")))
            ddlb_fpzl.of_additem(r.value(0).toString(),
                                 r.value(0).toString() + QLatin1Char(' ') + r.value(1).toString());
        for (const QVariantList& r : sqlca->selectAll(QStringLiteral("SELECT cname FROM b_emp WHERE department = "
                                                                     "'KPRY' AND sxh = ? ORDER BY ccode"),
                                                      {session().gs_sysuserid}))
            ddlb_kpr.of_additem(r.value(0).toString(), r.value(0).toString());
    }
    ddlb_fpzt.reset();
    ddlb_fpzt.of_additem(QString(), QStringLiteral("全部"));
    ddlb_fpzt.of_additem(QStringLiteral("1"), QStringLiteral("有效"));
    ddlb_fpzt.of_additem(QStringLiteral("2"), QStringLiteral("作废"));
    ddlb_fpzt.of_additem(QStringLiteral("3"), QStringLiteral("空白作废"));
    ddlb_sign.reset();
    ddlb_sign.of_additem(QString(), QStringLiteral("全部"));
    ddlb_sign.of_additem(QStringLiteral("normal"), QStringLiteral("仅正数发票"));
    ddlb_sign.of_additem(QStringLiteral("red"), QStringLiteral("仅红字发票"));
    for (DropDown* d : {&ddlb_fpdm, &ddlb_fpzt, &ddlb_sign, &ddlb_fpzl, &ddlb_kpr}) d->selectItem(1);
}

bool w_fp_invoice_query::chooseId(DropDown& dd, const QString& id) {
    for (int i = 1; i <= dd.count(); ++i) {
        if (dd.of_getid(i) == id) {
            dd.selectItem(i);
            return true;
        }
    }
    return false;
}

std::optional<RegisterFilter> w_fp_invoice_query::filter() {
    RegisterFilter f;
    const auto refuse = [this](const QString& text, Control& at) {
        mess(text);
        at.setFocus();
        return std::nullopt;
    };
    const QString fromText = sle_from.text().trimmed(), toText = sle_to.text().trimmed();
    if (!fromText.isEmpty() || !toText.isEmpty()) {
        f.from = typedDate(fromText);
        f.to = typedDate(toText);
        if (!f.from.isValid())
            return refuse(QStringLiteral("开始日期无效，请按“年-月-日”输入，如 2026-12-01。"), sle_from);
        if (!f.to.isValid()) return refuse(QStringLiteral("结束日期无效，请按“年-月-日”输入，如 2026-12-31。"), sle_to);
        if (f.from > f.to) return refuse(QStringLiteral("开始日期不能晚于结束日期！"), sle_from);
    } else {
        f.month = sle_month.text().trimmed();
        if (f.month.isEmpty()) return refuse(QStringLiteral("请输入月份或开票日期范围！"), sle_month);
        if (!firstDayOfMonth(f.month).isValid()) return refuse(monthRefusal(f.month), sle_month);
    }
    for (Edit* e : {&sle_fphm_from, &sle_fphm_to}) {
        const QString t = e->text().trimmed();
        if (t.isEmpty()) continue;
        if (!isInvoiceNumber(pad8(t)) || t.size() > 8)
            return refuse(notInvoiceNumberMessage(QStringLiteral("发票号码")), *e);
        (e == &sle_fphm_from ? f.numberFrom : f.numberTo) = pad8(t);
    }
    f.code = ddlb_fpdm.selectedIndex() > 0 ? ddlb_fpdm.of_getid(ddlb_fpdm.selectedIndex()) : QString();
    f.status = ddlb_fpzt.selectedIndex() > 0 ? ddlb_fpzt.of_getid(ddlb_fpzt.selectedIndex()) : QString();
    const QString sign = ddlb_sign.selectedIndex() > 0 ? ddlb_sign.of_getid(ddlb_sign.selectedIndex()) : QString();
    f.sign = sign == QLatin1String("red")      ? RegisterFilter::Sign::RedOnly
             : sign == QLatin1String("normal") ? RegisterFilter::Sign::NormalOnly
                                               : RegisterFilter::Sign::All;
    f.kind = ddlb_fpzl.selectedIndex() > 0 ? ddlb_fpzl.of_getid(ddlb_fpzl.selectedIndex()) : QString();
    // The issuer is chosen, or typed; "全部" is every issuer.
    const QString issuer = ddlb_kpr.text().trimmed();
    f.issuer = issuer == QStringLiteral("全部") ? QString() : issuer;
    f.payer = sle_payer.text().trimmed();
    return f;
}

long w_fp_invoice_query::ue_query() {
    if (is_right == QLatin1String("00")) {
        mess(QStringLiteral("您没有查询发票的权限！"));
        return 0;
    }
    Transaction* sqlca = session().sqlca;
    if (!sqlca) return 0;
    const auto f = filter();
    if (!f) return 0;
    QString error;
    const auto rows = readRegister(*sqlca, session().gs_sysuserid, *f, &error);
    if (!rows) {
        mess(QStringLiteral("查询发票失败：\r\n") + error);
        return 0;
    }
    // Red-letter invoices in red, voided ones grey, as the issuing form shows them.
    QList<int> colours;
    colours.reserve(rows->size());
    for (const RegisterRow& r : *rows)
        colours << (r.fpzt == QLatin1String("2") || r.fpzt == QLatin1String("3") ? kGrey : r.red() ? kRgbRed : 0);
    showReport(registerReport(*rows, registerHeading(session().gs_sysusername, *f)), Shown::List, colours);
    if (rows->isEmpty())
        sle_month.setFocus();
    else
        lv_list.setFocus();
    return 1;
}

long w_fp_invoice_query::ue_summary() {
    if (is_right == QLatin1String("00")) {
        mess(QStringLiteral("您没有查询发票的权限！"));
        return 0;
    }
    Transaction* sqlca = session().sqlca;
    if (!sqlca) return 0;
    const QString month = sle_month.text().trimmed();
    if (month.isEmpty()) {
        mess(QStringLiteral("请输入要汇总的月份！"));
        sle_month.setFocus();
        return 0;
    }
    QString error;
    const auto summary = readMonthlySummary(*sqlca, session().gs_sysuserid, month, &error);
    if (!summary) {
        mess(firstDayOfMonth(month).isValid() ? QStringLiteral("月度汇总失败：\r\n") + error : error);
        sle_month.setFocus();
        return 0;
    }
    const ReportTable table = summaryReport(*summary, summaryHeading(session().gs_sysusername, month));
    // The batches' rows in grey under the line of their code.
    QList<int> colours;
    for (const QStringList& row : table.rows) colours << (row.value(2) == QStringLiteral("领购批次") ? kGrey : 0);
    showReport(table, Shown::Summary, colours);
    lv_list.setFocus();
    return 1;
}

void w_fp_invoice_query::showReport(const ReportTable& report, Shown shown, const QList<int>& colours) {
    report_ = report;
    shown_ = shown;
    lv_list.setRows(listColumns(report_), report_.rows, colours);
    st_totals.setText(report_.totalsLines.join(QStringLiteral("  ")));
}

bool w_fp_invoice_query::mayWrite() { return is_right == QLatin1String("02"); }

long w_fp_invoice_query::ue_export() {
    if (!mayWrite()) {
        mess(QStringLiteral("您没有导出发票的权限！"));
        return 0;
    }
    if (shown_ == Shown::Nothing && ue_query() != 1) return 0;
    QString format;
    const QString suggested =
        report_.title + QLatin1Char('_') +
        (sle_month.text().trimmed().isEmpty() ? sle_from.text().trimmed() : sle_month.text().trimmed()) +
        QStringLiteral(".xlsx");
    const QString file = host().dialogs().chooseExportFile(suggested, &format);
    if (file.isEmpty()) return 0;
    return exportTo(file, format);
}

long w_fp_invoice_query::ue_print_list() {
    if (is_right == QLatin1String("00")) {
        mess(QStringLiteral("您没有查询发票的权限！"));
        return 0;
    }
    if (shown_ == Shown::Nothing && ue_query() != 1) return 0;
    host().dialogs().previewReport(report_);
    return 1;
}

long w_fp_invoice_query::exportTo(const QString& file, const QString& format) {
    if (!mayWrite()) {
        mess(QStringLiteral("您没有导出发票的权限！"));
        return 0;
    }
    const auto kind = exportFormatFromName(format);
    if (!kind) {
        mess(QStringLiteral("不支持的导出格式“%1”，请选择 xlsx、csv 或 json。").arg(format));
        return 0;
    }
    if (shown_ == Shown::Nothing && ue_query() != 1) return 0;
    QString error;
    if (!exportReport(report_, *kind, file, &error)) {
        mess(error);
        return 0;
    }
    return 1;
}

long w_fp_invoice_query::ue_audit() {
    if (!mayWrite()) {
        mess(QStringLiteral("您没有与税务机关核对的权限！"));
        return 0;
    }
    const QString month = sle_month.text().trimmed();
    if (!firstDayOfMonth(month).isValid()) {
        mess(month.isEmpty() ? QStringLiteral("请输入要核对的月份！") : monthRefusal(month));
        sle_month.setFocus();
        return 0;
    }
    AuditOptions options;
    options.pacer = auditPacer;
    const QString text = QStringLiteral("正在与税务机关核对 %1 的发票……").arg(month);
    options.progress = [this, &text](int done, int total) { return host().dialogs().progress(text, done, total); };
    audit_ = auditMonth(host(), month, session().gs_sysuserid, options);
    (void)host().dialogs().progress(text, audit_.total, audit_.total); // closes it however the audit ended
    findings_ = audit_.disagreements;
    mends_ = QList<std::optional<AuditMend>>(findings_.size());
    showFindings();
    // An audit that stopped early changes nothing: what was found is listed.
    if (!audit_.complete()) mess(audit_.stopMessage);
    if (findings_.isEmpty()) return audit_.complete() ? 1 : 0;
    lv_list.setFocus();
    if (!audit_.complete()) return 0;
    if (msg2(QStringLiteral("与税务机关核对发现 %1 处不一致，是否全部按税务机关修正？\r\n"
                            "（选“否”可在清单中逐条按回车修正）")
                 .arg(findings_.size())) != 1)
        return 0;
    const QList<AuditMend> results = mendAll(host(), findings_);
    int mended = 0;
    for (int i = 0; i < results.size() && i < mends_.size(); ++i) {
        mends_[i] = results[i];
        if (results[i].done()) ++mended;
    }
    showFindings();
    mess(QStringLiteral("已修正 %1 处，未修正 %2 处。").arg(mended).arg(findings_.size() - mended));
    return mended == findings_.size() ? 1 : 0;
}

void w_fp_invoice_query::showFindings() {
    ReportTable table;
    table.title = QStringLiteral("核对结果");
    table.headingLines = summaryHeading(session().gs_sysusername, sle_month.text().trimmed());
    table.columns = {{QStringLiteral("发票代码"), ReportColumn::Type::Text, 7},
                     {QStringLiteral("发票号码"), ReportColumn::Type::Text, 5},
                     {QStringLiteral("不一致"), ReportColumn::Type::Text, 12},
                     {QStringLiteral("本地状态"), ReportColumn::Type::Text, 8},
                     {QStringLiteral("税务机关状态"), ReportColumn::Type::Text, 8},
                     {QStringLiteral("处理结果"), ReportColumn::Type::Text, 24}};
    QList<int> colours;
    for (int i = 0; i < findings_.size(); ++i) {
        const AuditDisagreement& d = findings_[i];
        const std::optional<AuditMend>& m = mends_.value(i);
        QString outcome = d.note;
        if (m) outcome = m->done() ? QStringLiteral("已修正") : m->message;
        table.rows << QStringList{d.fpdm, d.fphm, auditKindName(d.kind), d.localName, d.serverName, outcome};
        colours << (m && m->done() ? kGrey : kRgbRed);
    }
    table.totalsLines << QStringLiteral("已核对 %1 张（共 %2 张），不一致 %3 处")
                             .arg(audit_.checked)
                             .arg(audit_.total)
                             .arg(findings_.size());
    const int current = lv_list.currentRow();
    showReport(table, Shown::Audit, colours);
    if (current >= 1 && current <= lv_list.rowCount()) lv_list.setCurrentRow(current);
}

void w_fp_invoice_query::mendRow(int row) {
    const int i = row - 1;
    if (i < 0 || i >= findings_.size() || (mends_[i] && mends_[i]->done())) return;
    const AuditDisagreement& d = findings_[i];
    if (msg2(QStringLiteral("发票 %1 %2：%3。\r\n是否按税务机关修正？").arg(d.fpdm, d.fphm, auditKindName(d.kind))) !=
        1)
        return;
    mends_[i] = mendDisagreement(host(), d);
    showFindings();
    if (!mends_[i]->done()) mess(mends_[i]->message);
}

void w_fp_invoice_query::openRow(int row) {
    if (shown_ == Shown::Audit) return mendRow(row);
    if (shown_ != Shown::List) return;
    const QString code = lv_list.cell(row, register_column::Code);
    const QString number = lv_list.cell(row, register_column::Number);
    if (code.isEmpty() || number.isEmpty()) return;
    if (!host().openInvoice(code, number)) mess(QStringLiteral("无法打开发票补打窗口！"));
}

} // namespace fp
