#pragma once
// w_fp_invoice_query: the invoice register (发票查询). A clerk lists the
// owner's invoices of a month or a date range with filters, reads the totals,
// opens a row in the reprint window, and at month end shows the monthly
// summary, exports or prints what is shown, and audits the month against the
// tax service. Any right but "00" may view; "02" may also export and audit.
#include "host/base_window.h"
#include "services/invoice_register.h"
#include "services/register_audit.h"
#include "services/report_table.h"

#include <optional>

namespace fp {

class w_fp_invoice_query : public BaseWindow {
public:
    explicit w_fp_invoice_query(HostServices& host);

    // The function id the host opens the window with (its rights are granted on it).
    static constexpr int kFunctionId = 4;

    // Toolbar item texts of the commands.
    static const QString kQuery;   // "查询(&K)"
    static const QString kExport;  // "导出(&E)"
    static const QString kPrint;   // "打印清单(&P)"
    static const QString kSummary; // "月度汇总(&M)"
    static const QString kAudit;   // "与税务机关核对(&H)"

    // Filters, in tab order.
    StaticText st_month{this, QStringLiteral("st_month")};
    Edit sle_month{this, QStringLiteral("sle_month")};
    StaticText st_from{this, QStringLiteral("st_from")};
    Edit sle_from{this, QStringLiteral("sle_from")};
    StaticText st_to{this, QStringLiteral("st_to")};
    Edit sle_to{this, QStringLiteral("sle_to")};
    StaticText st_fpdm{this, QStringLiteral("st_fpdm")};
    DropDown ddlb_fpdm{this, QStringLiteral("ddlb_fpdm")};
    StaticText st_fphm{this, QStringLiteral("st_fphm")};
    Edit sle_fphm_from{this, QStringLiteral("sle_fphm_from")};
    StaticText st_fphm_to{this, QStringLiteral("st_fphm_to")};
    Edit sle_fphm_to{this, QStringLiteral("sle_fphm_to")};
    StaticText st_fpzt{this, QStringLiteral("st_fpzt")};
    DropDown ddlb_fpzt{this, QStringLiteral("ddlb_fpzt")};
    StaticText st_sign{this, QStringLiteral("st_sign")};
    DropDown ddlb_sign{this, QStringLiteral("ddlb_sign")};
    StaticText st_fpzl{this, QStringLiteral("st_fpzl")};
    DropDown ddlb_fpzl{this, QStringLiteral("ddlb_fpzl")};
    StaticText st_kpr{this, QStringLiteral("st_kpr")};
    DropDown ddlb_kpr{this, QStringLiteral("ddlb_kpr")};
    StaticText st_payer{this, QStringLiteral("st_payer")};
    Edit sle_payer{this, QStringLiteral("sle_payer")};
    // What is shown: the list, the summary or the audit's findings.
    ListView lv_list{this, QStringLiteral("lv_list")};
    StaticText st_totals{this, QStringLiteral("st_totals")};

    QString is_right = QStringLiteral("00");

    enum class Shown { Nothing, List, Summary, Audit };
    Shown shown() const { return shown_; }
    // The report of what is shown (for export and print).
    const ReportTable& report() const { return report_; }

    // The commands; 1 when done, 0 when refused or failed (said).
    long ue_query();
    long ue_summary();
    long ue_export();
    long ue_print_list();
    // The audit of the month in sle_month against the tax service: findings
    // listed, then mended all at once when the clerk agrees; Enter on a
    // finding mends that one. 1 when the two agree at the end.
    long ue_audit();
    // How fast the audit asks (tests ask without pause).
    AuditPacer auditPacer = steadyPacer(kAuditRequestsPerSecond);
    const QList<AuditDisagreement>& findings() const { return findings_; }
    // Writes what is shown (the list when nothing is, queried first) to `file`
    // in `format` ("xlsx", "csv", "json"); the export command after its file
    // choice, and the command line's.
    long exportTo(const QString& file, const QString& format);

    // The filters as the controls hold them; nothing after saying what is wrong
    // (the focus then is on the control to mend).
    std::optional<RegisterFilter> filter();

    // Chooses the entry of a drop-down whose id is `id`; false when none has it.
    static bool chooseId(DropDown& dd, const QString& id);

protected:
    void create() override;
    void on_open() override;
    void ue_resize(int sizetype, int newWidth, int newHeight) override;

private:
    Shown shown_ = Shown::Nothing;
    ReportTable report_;
    QList<AuditDisagreement> findings_;
    QList<std::optional<AuditMend>> mends_; // per finding, once mended (or tried)
    AuditResult audit_;

    void fillChoices();
    void showReport(const ReportTable& report, Shown shown, const QList<int>& colours);
    void openRow(int row);
    void showFindings();
    void mendRow(int row);
    bool mayWrite();
};

} // namespace fp
