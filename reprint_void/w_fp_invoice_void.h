#pragma once
// w_fp_invoice_void: the void window. An issued invoice of this month is
// looked up, shown and voided (status "2"); with "空白发票" checked, a number
// of the purchased stock that was never used is voided blank (status "3": a
// local row is created and the stock's last-used number advances). Either
// void is logged and reported with procedure 76129 and committed only after
// the tax service accepted it.
#include "reprint_void/invoice_lookup_window.h"
#include "services/pending_uploads.h"

namespace fp {

class w_fp_invoice_void : public InvoiceLookupWindow {
public:
    explicit w_fp_invoice_void(HostServices& host);

    static const QString kVoid; // "发票作废(&F)"
    // The function id the host opens the window with (its rights are granted on it).
    static constexpr int kFunctionId = 3;

    CheckBox cbx_blank{this, QStringLiteral("cbx_blank")};

    // ue_save, the void command: 1 when the void was committed, else 0.
    long ue_save();

    QString commandItem() const override { return kVoid; }

protected:
    void create() override;
    QString issuerDialogTitle() const override { return QStringLiteral("作废人员"); }
    QString issuerDialogPrompt() const override { return QStringLiteral("请选择一个当前作废人员"); }
    QString emptyNumberMessage() const override { return QStringLiteral("请决定要作废发票的发票号码！"); }
    QString numberListSql() const override;
    QVariantList numberListBinds(const QString& code) const override;
    bool acceptServerStatus(const QString& status, QString& body) override;
    bool readInvoice(const QString& code, const QString& number) override;

private:
    // The checks and question of each kind of void; false when it stops.
    bool confirmNormalVoid();
    bool confirmBlankVoid();
    // The local changes of each kind; false after rollback and message.
    bool markVoided();
    bool createBlankRow(const PendingRequest& record);
    bool writeLog();
    // The service's date for the month rule and the blank row, asked for again
    // when it could not be read at start; false after a message.
    bool requireServerDate();
    // The journal's record of the report, written before the transaction.
    bool recordVoid(PendingRequest& record);
    // Reports the void (the issuer escaped) and commits; false after rollback and message.
    bool reportAndCommit(const PendingRequest& record, const QString& issuerR);
    bool settleLostVoidReply(const PendingRequest& record, const QString& failure);
    void showVoided();
};

} // namespace fp
