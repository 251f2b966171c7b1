#pragma once
// taxsim: the simulated tax authority.
//
// Service answers one request at a time, independent of the transport
// (HttpServer serves it over HTTP, InProcessTransport calls it directly). It
// keeps its own SQLite store, authenticates every request against the
// taxpayers it knows, and refuses what a real authority would refuse. Every
// refusal is a reply beginning "err|@|" followed by the text for the issuer;
// every success begins "ok|@|".
//
// Procedures of the invoicing module (request keys in brackets):
//   90239  invoice status (as_fpdm, as_fphm, as_getinfo).
//          as_getinfo other than 1: "ok|@|" status "|@|" status name.
//          as_getinfo 1, status 1/2/3 of the caller's own invoice:
//            "ok|@|" status "|@|" the 33 header fields joined by "|#|", then,
//            when the invoice has lines, "|#|" and the lines joined by "|&|",
//            each line's 17 fields joined by "|@|". Dates are written
//            "yyyyMMdd HH:mm:ss", drcs and iserial as whole numbers.
//          as_getinfo 1, any other status: "ok|@|" status "|@|" explanation.
//          The status of a number is the same for every caller: 1 issued,
//          2 voided, 3 voided while blank, 0 sold but unused, -1 returned,
//          -2 never sold. Downloading another taxpayer's invoice is refused.
//   11633  upload of an issued invoice (as_data): header fields each followed
//          by "|#|" (33 of the integrated form or 23 of the real-estate and
//          building form), then the item lines, each field followed by "|@|"
//          (17 or 12 fields) and each line by "|&|". Stored with status 1.
//   98179  print report (as_fpdm, as_fphm, as_dycs, as_kpr, as_bz).
//   76129  void report (as_fpdm, as_fphm, as_fpzt 2 or 3, as_kpr).
//
// Procedures of the host application (not used by the invoicing module):
//   90001  server date-time: "ok|@|yyyy-MM-dd HH:mm:ss".
//   90002  the caller's purchased stock: "ok|@|" + the stock text that
//          gf_save_fplgqk stores ("lg" records of 11 fields and "tp" records of
//          10 fields, "|@|" between fields, "|&|" between records; dates as
//          "yyyyMMdd HH:mm:ss"). zjsyh is the highest number of the range that
//          was issued or voided.
//   90003  the code tables: "ok|@|" + the text that gf_save_fpzldm stores
//          (kinds fpzlbm|@|kplx|@|fpqc|@|fpjc|@|yxj joined by "|&|", then "|#|",
//          then codes fpdm|@|fpzlbm joined by "|&|").
//   90004  the caller's taxpayer record:
//          "ok|@|sxh|@|name|@|nsrsbh|@|lxdh|@|swjgdm|@|swjgmc".
//
// Control commands (Service::control, and POST /__control on HttpServer), one
// per line; the answer is "ok" or "err|@|" and the reason:
//   fault <kind> [proc=<id>] [times=<n>] [ms=<n>] [status=<n>] [text=<rest of line>]
//         kind: delay | refuse | http | malformed | drop | lost
//         proc 0 or absent: the next request of any procedure; times -1: until cleared
//   clear                       remove every pending fault
//   time <yyyy-MM-dd HH:mm:ss>  fix the server clock;  time wall  back to the wall clock
//   seed <seed line>            one line of the seed format (below)
//   ping
//
// Seed file (seedFromFile), one record per line, fields separated by "|";
// blank lines and lines starting with "#" are ignored; dates are
// "yyyy-MM-dd HH:mm:ss" or "yyyy-MM-dd":
//   demo                                          the built-in demo data
//   office|swjgdm|swjgmc
//   taxpayer|sxh|password|name|nsrsbh|lxdh|swjgdm
//   kind|fpzlbm|kplx|fpqc|fpjc|yxj
//   code|fpdm|fpzlbm
//   stock|lglsh|sxh|fpdm|fpqh|fpzh[|fsrq[|bjbz]]  a purchase; the tax office
//                                                 is the taxpayer's, the kind the code's
//   return|lglsh|tpqh|tpzh[|tprq]                 a range handed back from a purchase
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace taxsim {

struct Request {
    QString user; // HTTP Basic user: the taxpayer's owner account (sxh)
    QString password;
    QString path; // URL path, e.g. "/NormalServlet"
    QString body; // request text
};

struct Response {
    enum class Kind {
        Reply,      // HTTP 200 with `body`
        HttpStatus, // HTTP `httpStatus` with `body`
        Drop,       // close the connection without a complete answer
    };
    Kind kind = Kind::Reply;
    int httpStatus = 200;
    QString body;
    int delayMs = 0; // hold the answer back this long (the work is already done)
};

struct Fault {
    enum class Kind {
        Delay,     // answer normally after delayMs
        Refuse,    // "err|@|" + text, nothing stored
        HttpError, // HTTP httpStatus with text, nothing stored
        Malformed, // HTTP 200 with text that is not a reply, nothing stored
        Drop,      // connection closed, nothing stored
        LostReply, // the request is carried out and stored, then the connection closes
    };
    Kind kind = Kind::Refuse;
    int delayMs = 0; // also applies before any other kind
    int httpStatus = 500;
    QString text; // empty: a default text for the kind
};

struct Taxpayer {
    QString sxh;
    QString password;
    QString name;
    QString nsrsbh;
    QString lxdh;
    QString swjgdm;
};

struct InvoiceKind {
    QString fpzlbm;
    QString kplx; // "1" issued by the tax office, "2" issued by the taxpayer
    QString fpqc;
    QString fpjc;
    int yxj = 0;
};

struct Purchase {
    QString lglsh;
    QString sxh;
    QString fpdm;
    QString fpqh;
    QString fpzh;
    QString swjgdm; // empty: the taxpayer's tax office
    QString fpzlbm; // empty: the kind of the code
    QString bjbz = QStringLiteral("0");
    QDateTime fsrq;
};

struct ReturnedRange {
    QString lglsh; // the purchase the range belongs to
    QString tpqh;
    QString tpzh;
    QDateTime tprq;
};

// An invoice as the service keeps it: the 33 header fields and 17 fields per
// line of the integrated invoice (an upload of the real-estate and building
// form is stored in the same columns, the absent ones empty). Values are
// stored unescaped, as the client formatted them.
struct StoredInvoice {
    static const QStringList& headerColumns();
    static const QStringList& lineColumns();
    static StoredInvoice create(const QString& fpdm, const QString& fphm);

    QStringList header;             // headerColumns().size() values
    std::vector<QStringList> lines; // lineColumns().size() values each
    QString rawUpload;              // the request text of the upload, if uploaded

    QString value(const QString& column) const;
    void setValue(const QString& column, const QString& v);
    QString lineValue(int line, const QString& column) const;
    void setLineValue(int line, const QString& column, const QString& v);
    int addLine(); // an empty line; returns its index
};

struct PrintReport {
    QString fpdm, fphm, sxh, dycs, kpr, bz;
    QDateTime at;
};

struct VoidReport {
    QString fpdm, fphm, sxh, fpzt, kpr;
    QDateTime at;
};

struct LoggedRequest {
    QString user;
    QString body;
    int procId = 0;
    Response response;
};

class Service {
public:
    // `dbPath`: a file, or ":memory:" for a store that lives as long as the
    // service. Each service has its own connection.
    explicit Service(const QString& dbPath = QStringLiteral(":memory:"));
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    bool isOpen() const;
    QString lastError() const;

    // One request. Thread-safe; requests run one at a time.
    Response handle(const Request& request);

    // --- seed ---
    void seedDemo();
    bool seedFromFile(const QString& path, QString* error = nullptr);
    bool seedLine(const QString& line, QString* error = nullptr);

    void addTaxOffice(const QString& swjgdm, const QString& swjgmc);
    void addTaxpayer(const Taxpayer& taxpayer);
    void addKind(const InvoiceKind& kind);
    void addCode(const QString& fpdm, const QString& fpzlbm);
    bool addPurchase(const Purchase& purchase, QString* error = nullptr);
    bool addReturn(const ReturnedRange& range, QString* error = nullptr);
    // A pre-existing invoice (replaces one of the same code and number).
    void addInvoice(const StoredInvoice& invoice);
    bool hasTaxpayers() const;

    // --- faults ---
    // procId 0: the next request of any procedure. times < 0: until cleared.
    void injectFault(const Fault& fault, int procId = 0, int times = 1);
    void clearFaults();
    int pendingFaults() const;

    // --- clock ---
    void setServerTime(const QDateTime& fixed);      // the clock stands still
    void setClock(std::function<QDateTime()> clock); // empty: the wall clock
    QDateTime serverTime() const;

    // --- what was stored ---
    std::optional<StoredInvoice> invoice(const QString& fpdm, const QString& fphm) const;
    int invoiceCount() const;
    std::vector<PrintReport> prints() const;
    std::vector<VoidReport> voids() const;
    std::vector<LoggedRequest> requestLog() const; // the last 1000 requests
    // Status of a number as procedure 90239 reports it.
    QString statusOf(const QString& fpdm, const QString& fphm) const;

    // Control command text (see the top of this file).
    QString control(const QString& commands);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace taxsim
