#pragma once
// The common ground of the reprint and void windows: an issuer looks an issued
// invoice up by code and number, the window asks the tax service for its
// status, brings the local status into line, fetches the invoice when it is
// not stored locally, and shows it read-only exactly as it prints. What the
// window then does with it (print, void) is the derived window's command.
//
// The five invoice variables is_fpdm, is_fphm, is_fpzl, is_fpdmr, is_fphmr are
// either all set (an invoice is shown and dw_fp is visible) or all empty.
#include "host/base_window.h"
#include "host/form_control.h"

namespace fp {

class DataStore;

class InvoiceLookupWindow : public BaseWindow {
public:
    // Toolbar item text of the view command.
    static const QString kView; // "查看发票(&K)"

    // Controls, in creation order.
    StaticText st_1{this, QStringLiteral("st_1")};
    StaticText st_2{this, QStringLiteral("st_2")};
    FormControl dw_fp{this, QStringLiteral("dw_fp")};
    DropDown ddlb_fpdm{this, QStringLiteral("ddlb_fpdm")};
    DropDown ddlb_fphm{this, QStringLiteral("ddlb_fphm")};

    // Instance variables.
    QString is_fpdm;
    QString is_fphm;
    QString is_fpzl;
    QString is_fpdmr; // is_fpdm escaped for request text
    QString is_fphmr; // is_fphm escaped for request text
    bool ib_write = false;
    QString is_right = QStringLiteral("00");

    // ue_start, the view command: 1 when an invoice is shown, else 0.
    long ue_start();

    // The issuer choice of the open (values bound).
    TreeSelectRequest issuerChoiceRequest() const;
    // The code list of the open: every code of a kind the taxpayer issues.
    static QString codeListSql();
    // Chooses the code entry whose id is `code` as a user would; false when the
    // list has none.
    bool chooseCode(const QString& code);

    // Shows invoice `code`/`number` as the view command does after a user chose
    // the code and typed the number (the register opens a row so); 0 when the
    // code is not in the list or the view refused (said).
    long lookUp(const QString& code, const QString& number);

    // The window's own command item ("发票打印(&P)" / "发票作废(&F)").
    virtual QString commandItem() const = 0;

protected:
    InvoiceLookupWindow(HostServices& host, const QString& name);

    void create() override;
    void on_open() override;
    void ue_resize(int sizetype, int newWidth, int newHeight) override;

    // What differs between the windows.
    virtual QString issuerDialogTitle() const = 0;
    virtual QString issuerDialogPrompt() const = 0;
    virtual QString emptyNumberMessage() const = 0;
    // The number list of a code: query and bound values.
    virtual QString numberListSql() const;
    virtual QVariantList numberListBinds(const QString& code) const;
    // The server status `status` may be shown here; otherwise says why (`body`
    // holds the reply's remaining fields), moves the focus and returns false.
    virtual bool acceptServerStatus(const QString& status, QString& body) = 0;
    // Reads the invoice into dw_fp (offering the download when it is missing
    // locally); false after saying why and moving the focus.
    virtual bool readInvoice(const QString& code, const QString& number);

    // The form read again, then laid out for printing (the form's retrieve-end).
    int retrieveInvoice(const QString& code, const QString& number);
    // Hides and clears the form and forgets the shown invoice.
    void forgetInvoice();
    // "指定发票" + the status name, or "状态：" + the service's text, or unknown.
    void refuseStatus(const QString& status, QString& body);
    // The download offer and the second read.
    bool offerDownload(const QString& code, const QString& number);

private:
    void ddlb_fpdm_selectionchanged(int index);
    void ddlb_fphm_ue_key(int key, int keyflags);
    // The local status brought into line with the service's; false when the
    // update failed (rolled back and shown).
    bool synchroniseStatus(const QString& code, const QString& number, const QString& local, const QString& server);
};

} // namespace fp
