#include "app/window_commands.h"

#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "reprint_void/w_fp_invoice_print.h"
#include "reprint_void/w_fp_invoice_void.h"
#include "services/print_render.h"

#include <QFileInfo>
#include <cstdio>
#include <functional>

namespace fp::cli {

namespace {

// The result line: the invoice's code and number as the window used them.
void printResult(const InvoiceLookupWindow& w) {
    const QByteArray b = (w.is_fpdm + QLatin1Char(' ') + w.is_fphm + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fflush(stdout);
}

// The issuer of the command: --issuer or the profile's, one of the taxpayer's
// issuers. False after saying why.
bool takeIssuer(HostServices& host, const QString& requested) {
    Session& s = host.session();
    const QString name = requested.isEmpty() ? s.gs_kprmc.trimmed() : requested.trimmed();
    if (name.isEmpty()) {
        host.mess(QStringLiteral("未指定开票人员：请用 --issuer 指定，或在配置文件的 [host] kprmc 中设置！"));
        return false;
    }
    QVariantList row;
    if (!s.sqlca ||
        s.sqlca->selectInto(
            QStringLiteral("SELECT count(1) FROM b_emp WHERE department = 'KPRY' AND sxh = ? AND cname = ?"),
            {s.gs_sysuserid, name}, row) != 0 ||
        row.value(0).toLongLong() < 1) {
        host.mess(QStringLiteral("“") + name + QStringLiteral("”不是本纳税人的开票人员！"));
        return false;
    }
    s.gs_kprmc = name;
    return true;
}

// Opens the window, checks the right and views the invoice. False after
// saying why (the window has said it, or we do).
bool openAndView(HostServices& host, InvoiceLookupWindow& w, int functionId, const QString& rightText,
                 const WindowCommand& c, const std::function<void()>& beforeView = {}) {
    if (!w.open(OpenParams{functionId, QString()})) return false;
    if (!w.ib_write) {
        host.mess(QStringLiteral("当前用户没有") + rightText + QStringLiteral("的权限！"));
        return false;
    }
    if (!w.chooseCode(c.code)) {
        host.mess(QStringLiteral("指定的发票代码无效！"));
        return false;
    }
    w.ddlb_fphm.setText(c.number);
    if (beforeView) beforeView();
    return w.raise(QStringLiteral("ue_start")) == 1;
}

} // namespace

int CommandDialogs::question(const QString& text) {
    for (const QString& p : confirmations_)
        if (text.startsWith(p)) return 1;
    return console_.question(text);
}

s_printreturn CommandDialogs::printPreview(const s_preview_parameter& parameter) {
    if (pdf_.isEmpty() || !parameter.dw_datawindow) return {};
    PrintOptions options;
    options.mode = PrintMode::WholeForm;
    options.visibleDynamic = parameter.s_col_visible_dynamic;
    QString error;
    if (!printInvoiceToPdf(*parameter.dw_datawindow, pdf_, copies_, options, &error)) {
        message(QStringLiteral("无法打印到文件“") + pdf_ + QStringLiteral("”：") +
                (error.isEmpty() ? QStringLiteral("文件不能写入") : error));
        return {};
    }
    pdfWritten_ = true;
    s_printreturn r;
    r.sl_printcnt = copies_;
    r.ss_printer = QStringLiteral("PDF");
    r.ss_printer_info = QFileInfo(pdf_).fileName();
    return r;
}

int printInvoice(HostServices& host, CommandDialogs& dialogs, const WindowCommand& command, const QString& pdf,
                 int copies) {
    if (!takeIssuer(host, command.issuer)) return 1;
    w_fp_invoice_print w(host);
    if (!openAndView(host, w, w_fp_invoice_print::kFunctionId, QStringLiteral("发票补打"), command)) return 1;
    dialogs.setPdf(pdf, copies);
    dialogs.setConfirmations({QStringLiteral("确定要打印：\r\n")});
    const long printed = w.raise(QStringLiteral("ue_save"));
    dialogs.setConfirmations({});
    if (printed > 0) {
        printResult(w);
        return 0;
    }
    if (dialogs.pdfWritten()) {
        host.mess(QStringLiteral("发票已打印到文件“") + pdf + QStringLiteral("”，但打印记录未能保存！"));
        return 3;
    }
    return 1;
}

int voidInvoice(HostServices& host, CommandDialogs& dialogs, const WindowCommand& command, bool blank) {
    if (!takeIssuer(host, command.issuer)) return 1;
    w_fp_invoice_void w(host);
    if (!openAndView(host, w, w_fp_invoice_void::kFunctionId, QStringLiteral("发票作废"), command,
                     [&] { w.cbx_blank.setChecked(blank); }))
        return 1;
    dialogs.setConfirmations({QStringLiteral("确定要将当前\r\n"), QStringLiteral("确定要将指定的空白发票\r\n")});
    const long done = w.raise(QStringLiteral("ue_save"));
    dialogs.setConfirmations({});
    if (done != 1) return 1;
    printResult(w);
    return 0;
}

} // namespace fp::cli
