#pragma once
// w_fp_invoicing: the window in which an issuer issues integrated unified
// invoices (kinds "50", "20", "40") and red-letter invoices reversing them.
//
// The window's state is the combination of its forms' visibility and read-only
// mode, is_fpdm/is_fphm, cbx_ch and the flags below. Each command lives in a unit
// of its own (start, selectors, items, save, ...); this header is their shared
// state.
#include "host/base_window.h"
#include "host/form_control.h"

#include <memory>

namespace fp {

class DataStore;

class w_fp_invoicing : public BaseWindow {
public:
    explicit w_fp_invoicing(HostServices& host);
    ~w_fp_invoicing() override;

    // Toolbar item texts: the texts of_setenable addresses.
    static const QString kStart;   // "发票录入(&O)"
    static const QString kNewProj; // "新增品目(&N)"
    static const QString kDelProj; // "删除品目(&D)"
    static const QString kSave;    // "发票保存(&S)"
    static const QString kCopy;    // "发票复制(&C)"
    static const QString kPaste;   // "发票粘贴(&V)"
    static const QString kPrint;   // "发票打印(&P)"
    // The function id the host opens the window with (its rights are granted on it).
    static constexpr int kFunctionId = 1;

    // Controls, in creation order.
    StaticText st_1{this, QStringLiteral("st_1")};
    StaticText st_2{this, QStringLiteral("st_2")};
    FormControl dw_xm{this, QStringLiteral("dw_xm")};
    DropDown ddlb_fpdm{this, QStringLiteral("ddlb_fpdm")};
    DropDown ddlb_fphm{this, QStringLiteral("ddlb_fphm")};
    FormControl dw_print{this, QStringLiteral("dw_print")};
    CheckBox cbx_ch{this, QStringLiteral("cbx_ch")};
    Edit sle_ch{this, QStringLiteral("sle_ch")};
    DropDown ddlb_oldfpdm{this, QStringLiteral("ddlb_oldfpdm")};
    StaticText st_oldfpdm{this, QStringLiteral("st_oldfpdm")};
    Edit sle_oldfpdm{this, QStringLiteral("sle_oldfpdm")};
    StaticText st_oldfpdm1{this, QStringLiteral("st_oldfpdm1")};
    FormControl dw_fp{this, QStringLiteral("dw_fp")};
    StaticText st_oldfphm{this, QStringLiteral("st_oldfphm")};

    // Instance variables.
    QString is_fpdm;
    QString is_fphm;
    QString is_fpzl;
    bool ib_write = false;
    QString is_right = QStringLiteral("00");
    QString is_fp_col_copy = QStringLiteral("|fkfmc|fkfzjlx|fkfzjhm|bz|hjje|");
    QString is_xm_col_copy = QStringLiteral("|xmmc|mj|dj|je|");
    bool ib_add_xm_script = false;
    bool ib_sgfpch = false;
    QString is_sgfp_name = QStringLiteral("系统外票");
    bool ib_auto_find_fphm = false;
    DataStore* idwc_corp = nullptr;         // payer drop-down of dw_fp.fkfmc
    const DataStore* il_hdl_corp = nullptr; // the payer list the drop-down event is for
    QString is_sort_corp;
    DataStore* idwc_pm = nullptr;      // item-name drop-down of dw_xm.xmmc
    std::unique_ptr<DataStore> ids_fp; // copy buffers
    std::unique_ptr<DataStore> ids_xm;

    // The red-letter row's shift of the forms while cbx_ch is checked.
    int redRowShift() const { return redShift_; }

    // Commands (user events), also reachable through raise(name).
    long ue_start();
    long ue_newproj();
    long ue_delproj();
    long ue_save();
    long ue_copy();
    long ue_paste();
    // Prints the saved invoice (print.cpp): the print service's result, 0 when
    // a check or an answer stopped it.
    long ue_print();

    // The item label of messages: tag of xmmc_t, else its text.
    QString itemLabel() const;
    // An invoice is open for entry: a header row, not read-only, visible.
    bool entryOpen() const;

    // A click in a drop-down list of the header form (ue_dddw): the list's
    // handle, the notification code (1281 for a click) and the band and object
    // under the pointer ("header", "cname_t\t..."). A heading of the payer list
    // sorts it by that column.
    void dw_fp_ue_dddw(const DataStore* childHandle, int notification, const QString& band, const QString& object);

    // Issuer choice query of w_tree_select (values bound).
    TreeSelectRequest issuerChoiceRequest() const;
    // The invoice-code list query of the open (values bound).
    static QString codeListSql();

protected:
    void create() override;
    void on_open() override;
    void ue_resize(int sizetype, int newWidth, int newHeight) override;
    int closequery() override;
    void destroy() override;

private:
    // Selector handlers (the code, number and red-letter controls).
    void ddlb_fpdm_selectionchanged(int index);
    void ddlb_fphm_ue_key(int key, int keyflags);
    void cbx_ch_clicked();
    void ddlb_oldfpdm_selectionchanged(int index);
    void sle_oldfpdm_keydown(int key);
    void sle_ch_keydown(int key);
    // Item grid handlers.
    long dw_xm_itemchanged(int row, const QString& column, const QString& data);
    bool dw_xm_ukey(int key, int keyflags);
    // Copy and paste.
    bool isRedLetterOnScreen() const;
    bool pasteWouldOverwrite() const;
    void pasteHeader();
    void pasteLines();
    // Header form handlers: the payer.
    long dw_fp_itemchanged(int row, const QString& column, const QString& data);
    bool dw_fp_ukey(int key, int keyflags);
    bool lookUpPayer(const QString& text);
    // Sets a value the window composed itself, or copied from a row it read,
    // into one of its own forms' columns.
    static void setOwnValue(DataStore& store, int row, const QString& column, const QVariant& value);
    static void setOwnValue(DataStore& store, int row, int column, const QVariant& value);
    void highlightPayer(int row);
    bool takePayer(int row);
    // A code and number are chosen and both forms' pending edits are accepted;
    // otherwise says what is missing, moves the focus and returns false.
    bool requireInvoiceAndAccept();
    // The start command's reset: nothing started.
    void resetInvoice();
    bool formsModified() const;

    // ---- ue_start's steps (start.cpp) ----
    struct StartRun;
    bool confirmDiscardUnsaved();
    void readSelection(StartRun& run);
    bool checkRequiredSelections(const StartRun& run);
    bool padNumbers(StartRun& run);
    bool chooseFormsByKind(StartRun& run);
    bool checkNumberIssuable(const StartRun& run);
    bool identifyReversedInvoice(StartRun& run);
    bool checkNotReversedYet(const QString& code, const QString& number);
    bool checkOutsideInvoiceUnknown(const StartRun& run);
    bool loadReversedInvoice(StartRun& run);
    void startRedLetterLines(StartRun& run);
    void copyReversedInvoice(StartRun& run);
    void openForms(const StartRun& run);
    void prefillHeader(const StartRun& run);
    void startItemLines(StartRun& run);
    void finishStart();

    // ---- ue_save's steps (save.cpp) ----
    struct SaveRun;
    bool requireItemLines();
    bool requireNotReversedYet();
    bool requireChanges();
    bool requireFilledColumns();
    bool checkLineSigns();
    void settleTotals();
    bool appendHeaderUpload(SaveRun& run);
    bool confirmSave();
    bool writeHeader(SaveRun& run);
    bool writeLines(SaveRun& run);
    bool checkLineSerials(SaveRun& run);
    bool appendLinesUpload(SaveRun& run);
    bool markNumberUsed(SaveRun& run);
    bool logIssue(SaveRun& run);
    bool recordPendingSave(SaveRun& run);
    bool takePendingRecord(SaveRun& run);
    bool uploadAndCommit(SaveRun& run);
    bool settleLostUploadReply(SaveRun& run);
    bool commitAccepted(SaveRun& run);
    QString enteredContentDigest() const;
    // The one way out of the save's transaction: rolls back, puts the lines as
    // entered back on screen, drops the record of the pending upload unless the
    // upload may still have been stored, and reports `message` (none when empty).
    bool failSave(SaveRun& run, const QString& message);
    void lockSavedInvoice();
    void moveToNextNumber();
    QString uploadValue(DataStore& store, int row, int position, bool header) const;
    QString fieldLabel(DataStore& store, int position) const;
    // Reads dw_print for the invoice on the window and lays it out for paper.
    int dw_print_retrieve();
    // Empties a drop-down entry by entry.
    static void emptyDropDown(DropDown& dd);

    int redShift_ = 0;
    friend class InvoicingTestAccess;
};

} // namespace fp
