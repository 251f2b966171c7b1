#pragma once
// Internals of taxsim::Service shared by its source files (service.cpp,
// procedures.cpp, seed.cpp, control.cpp). Everything here runs on the
// service's database thread.
#include "taxsim/db_thread.h"
#include "taxsim/request_text.h"
#include "taxsim/service.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

#include <deque>
#include <stdexcept>

namespace taxsim {

struct DbError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A refusal of the request: its text goes to the issuer.
struct Refusal {
    QString text;
};

inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss";   // stored dates
inline constexpr const char* kUploadDateFormat = "yyyyMMddHHmmss";      // dates in the upload
inline constexpr const char* kReplyDateFormat = "yyyyMMdd HH:mm:ss";    // dates in replies

struct TaxpayerRow {
    Taxpayer t;
    QString swjgmc;
};

struct PurchaseRow {
    QString lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq;
};

// Where a number stands: the invoice if there is one, else the purchase that
// holds it and whether it was handed back.
struct NumberInfo {
    QString status;          // "1" "2" "3" "0" "-1" "-2"
    bool hasInvoice = false;
    QString invoiceSxh;
    bool sold = false;
    PurchaseRow purchase;
    bool returned = false;
};

struct Service::Impl {
    QString connectionName;
    QString dbPath;
    QSqlDatabase db;
    bool open = false;
    QString error;

    struct PendingFault {
        Fault fault;
        int procId = 0;
        int times = 1;
    };
    std::vector<PendingFault> faults;
    std::function<QDateTime()> clock;
    std::deque<LoggedRequest> log;

    DbThread thread;  // last: started after everything above exists

    // --- database helpers ---
    void openDb();
    void closeDb();
    QSqlQuery run(const QString& sql, const QVariantList& binds = {});
    void begin();
    void commit();
    void rollback();

    QDateTime now() const;

    // --- lookups ---
    std::optional<TaxpayerRow> taxpayer(const QString& sxh);
    QString codeKind(const QString& fpdm);
    NumberInfo numberInfo(const QString& fpdm, const QString& fphm);
    std::optional<StoredInvoice> loadInvoice(const QString& fpdm, const QString& fphm);
    void storeInvoice(const StoredInvoice& inv, const QString& layout);

    // --- requests ---
    Response handle(const Request& request);
    QString process(const Request& request, const ParsedRequest& pr);
    QString procStatus(const QString& caller, const ParsedRequest& pr);
    QString procUpload(const QString& caller, const ParsedRequest& pr, const QString& body);
    QString procPrint(const QString& caller, const ParsedRequest& pr);
    QString procVoid(const QString& caller, const ParsedRequest& pr);
    QString procServerTime();
    QString procStock(const QString& caller);
    QString procCodes();
    QString procTaxpayer(const QString& caller);
    std::optional<Fault> takeFault(int procId);

    // --- seed (seed.cpp) ---
    void addTaxOffice(const QString& swjgdm, const QString& swjgmc);
    void addTaxpayer(const Taxpayer& t);
    void addKind(const InvoiceKind& k);
    void addCode(const QString& fpdm, const QString& fpzlbm);
    void addPurchase(const Purchase& p);   // throws Refusal
    void addReturn(const ReturnedRange& r);  // throws Refusal
    void seedDemo();
    void seedLine(const QString& line);     // throws Refusal

    // --- control (control.cpp) ---
    QString control(const QString& commands);
};

// Names of statuses as the status reply gives them.
QString statusName(const QString& status);

} // namespace taxsim
