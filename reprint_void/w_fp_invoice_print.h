#pragma once
// w_fp_invoice_print: the reprint window. An issuer looks up an invoice that
// has been issued (or voided), checks it on screen exactly as it prints, and
// prints it again; the print is counted, logged and reported like the first.
#include "reprint_void/invoice_lookup_window.h"

namespace fp {

class w_fp_invoice_print : public InvoiceLookupWindow {
public:
    explicit w_fp_invoice_print(HostServices& host);

    static const QString kPrint; // "发票打印(&P)"
    // The function id the host opens the window with (its rights are granted on it).
    static constexpr int kFunctionId = 2;

    // ue_save, the print command: the result of the print (-1 failure, 0
    // nothing printed or stopped before the preview, else the new print count).
    long ue_save();

    QString commandItem() const override { return kPrint; }

protected:
    void create() override;
    QString issuerDialogTitle() const override { return QStringLiteral("开票人员"); }
    QString issuerDialogPrompt() const override { return QStringLiteral("请选择一个当前开票人员"); }
    QString emptyNumberMessage() const override { return QStringLiteral("请决定要打印发票的发票号码！"); }
    bool acceptServerStatus(const QString& status, QString& body) override;
};

} // namespace fp
