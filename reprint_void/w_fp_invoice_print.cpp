#include "reprint_void/w_fp_invoice_print.h"

#include "data_model/data_store.h"
#include "reprint_void/menus.h"
#include "services/invoice_print.h"

namespace fp {

const QString w_fp_invoice_print::kPrint = QStringLiteral("发票打印(&P)");

w_fp_invoice_print::w_fp_invoice_print(HostServices& host)
    : InvoiceLookupWindow(host, QStringLiteral("w_fp_invoice_print")) {
    title = QStringLiteral("发票补打");
    menu = m_fp_invoice_print();
}

void w_fp_invoice_print::create() {
    InvoiceLookupWindow::create();
    defineEvent(QStringLiteral("ue_save"), [this] { return ue_save(); });
}

bool w_fp_invoice_print::acceptServerStatus(const QString& status, QString& body) {
    // Issued and voided invoices may be viewed (and printed).
    if (status == QLatin1String("1") || status == QLatin1String("2")) return true;
    refuseStatus(status, body);
    return false;
}

long w_fp_invoice_print::ue_save() {
    if (is_fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (is_fphm.isEmpty()) {
        mess(QStringLiteral("请决定要打印发票的发票号码！"));
        ddlb_fphm.setFocus();
        return 0;
    }
    DataStore* form = dw_fp.store();
    if (!form || form->rowCount() < 1) {
        mess(QStringLiteral("请先进行“查看发票”操作，确认无误后再进行补打操作！"));
        return 0;
    }
    if (msg2(QStringLiteral("确定要打印：\r\n发票代码：") + is_fpdm + QStringLiteral("\r\n发票号码：") + is_fphm +
             QStringLiteral("\r\n（确定打印前请仔细核对）？")) == 2)
        return 0;

    s_preview_parameter parameter;
    if (form->getString(1, QStringLiteral("fpzt")) != QLatin1String("1")) {
        const QString shown = form->describe(QStringLiteral("Evaluate( 'lookupdisplay( fpzt )',1 )"));
        if (msg2(QStringLiteral("发票") + shown + QStringLiteral("，确定要打印吗？")) == 2) return 0;
        parameter.s_col_visible_dynamic = QStringLiteral("|fpzt|");
    }
    return gf_fp_zhty_print(host(), is_fpdm, is_fphm, form, parameter);
}

} // namespace fp
