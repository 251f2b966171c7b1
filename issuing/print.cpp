// ue_print: prints the saved invoice on the window through the print preview;
// the print is counted, logged and reported by the shared print service.
#include "data_model/data_store.h"
#include "issuing/w_fp_invoicing.h"
#include "services/invoice_print.h"

namespace fp {

namespace {
bool hasUnsavedChanges(const DataStore* header, const DataStore* lines) {
    return (header && header->modifiedCount() > 0) ||
           (lines && (lines->modifiedCount() > 0 || lines->deletedCount() > 0));
}
} // namespace

int w_fp_invoicing::dw_print_retrieve() {
    DataStore* form = dw_print.store();
    if (!form) return -1;
    const int rows = form->retrieve({session().gs_sysuserid, is_fpdm, is_fphm});
    // retrieveend of dw_print: the layout for paper.
    gf_fp_zhty_print_format(form);
    dw_print.notify();
    return rows;
}

long w_fp_invoicing::ue_print() {
    if (is_fpdm.isEmpty()) {
        mess(QStringLiteral("请先选择发票代码！"));
        ddlb_fpdm.setFocus();
        return 0;
    }
    if (is_fphm.isEmpty()) {
        mess(QStringLiteral("请决定要开发票的发票号码！"));
        ddlb_fphm.setFocus();
        return 0;
    }
    if (dw_fp.acceptText() != 1) {
        dw_fp.setFocus();
        return 0;
    }
    if (dw_xm.acceptText() != 1) {
        dw_xm.setFocus();
        return 0;
    }
    const DataStore* header = dw_fp.store();
    if (!header || header->rowCount() < 1) {
        mess(QStringLiteral("请先进行“开始录入新票”操作，进行发票录入，保存成功后再打印！"));
        return 0;
    }
    if (hasUnsavedChanges(header, dw_xm.store())) {
        mess(QStringLiteral("有数据变动未保存，请先保存！"));
        return 0;
    }

    if (dw_print_retrieve() < 1) {
        mess(QStringLiteral("当前发票代码的发票号码数据未找到！\r\n发票代码：") + is_fpdm +
             QStringLiteral("\r\n发票号码：") + is_fphm);
        return 0;
    }
    if (msg2(QStringLiteral("确定要打印：\r\n发票代码：") + is_fpdm + QStringLiteral("\r\n发票号码：") + is_fphm +
             QStringLiteral("\r\n（确定打印前请仔细核对）？")) == 2)
        return 0;

    DataStore* form = dw_print.store();
    s_preview_parameter parameter;
    if (!form->isNull(1, QStringLiteral("fpzt")) && form->getString(1, QStringLiteral("fpzt")) != QLatin1String("1")) {
        const QString shown = form->describe(QStringLiteral("Evaluate( 'lookupdisplay( fpzt )',1 )"));
        if (msg2(QStringLiteral("发票") + shown + QStringLiteral("，确定要打印吗？")) == 2) return 0;
        parameter.s_col_visible_dynamic = QStringLiteral("|fpzt|");
    }
    return gf_fp_zhty_print(host(), is_fpdm, is_fphm, form, parameter);
}

} // namespace fp
