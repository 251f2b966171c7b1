#pragma once
// The text of every exchange with the tax service: the check and escaping of a
// value before it goes into a request, the request texts of the four
// procedures, and the reading of a successful reply.
//
// A request is a "proc_id:" line followed by "as_" key lines joined by CR LF.
// Values are pasted as they stand, so every free-text value must have passed
// f_ptfp_valid_str (which escapes CR, LF and ":") before a builder sees it;
// the builders below neither check nor escape.
#include "host/host_services.h"

#include <QLatin1String>
#include <QString>

namespace fp {

// The endpoint every request is posted to.
inline constexpr QLatin1String kRemoteEndpoint("NormalServlet");

// Time-out values passed to f_send_remote_msg, by use.
inline constexpr int kTimeoutVoid = 100;       // 76129, void report
inline constexpr int kTimeoutStatus = 200;     // 90239 with as_getinfo:0, status query
inline constexpr int kTimeoutPrint = 200;      // 98179, print report
inline constexpr int kTimeoutUpload = 500;     // 11633, upload of an issued invoice
inline constexpr int kTimeoutDownload = 10000; // 90239 with as_getinfo:1, full download

// Reply structure.
inline constexpr QLatin1String kReplyOkPrefix("ok|@|"); // a successful reply begins with it
inline constexpr QLatin1String kSepField("|@|");        // top-level fields; fields of an item line
inline constexpr QLatin1String kSepHeader("|#|");       // header fields; sets the item list off
inline constexpr QLatin1String kSepLine("|&|");         // item lines

// An invoice number is exactly eight ASCII digits ("00000123"); anything else
// (a letter, a blank, a ninth digit, fullwidth digits) is not one.
bool isInvoiceNumber(QStringView text);
// The message for a number that is not one, naming it by `label` ("发票号码").
QString notInvoiceNumberMessage(const QString& label);

// f_ptfp_valid_str: checks a user-supplied value for the reserved texts and
// escapes it in place. A null or empty value becomes the empty text and passes.
// A value holding "|@|", "|&|", "|#|", ",", "{[r]}", "{[n]}" or "{[:]}" (checked
// in that order) is rejected: the message for the first one found is shown with
// mess, naming the data item by `label` ("数据项中" when the label is null or
// empty), `text` is left unchanged and the result is false. Otherwise CR, LF and
// ":" are replaced by "{[r]}", "{[n]}" and "{[:]}" and the result is true.
// A value that ends with "|#", "|@" or "|&", begins with "#|", "@|" or "&|", or
// is "#", "@" or "&" alone would merge with the separator beside it; it is
// rejected like a reserved text ("不能以系统保留字符的一部分开头或结尾：“|#”").
// Callers that still need the plain value pass a copy.
[[nodiscard]] bool f_ptfp_valid_str(HostServices& host, QString& text, QString label);

// 90239 status query, "as_getinfo:0". The start of a new invoice sends it
// without a final CR LF, the reprint and void windows with one.
QString req_status(const QString& fpdm, const QString& fphm, bool finalCrLf);
// 90239 full download, "as_getinfo:1", with a final CR LF.
QString req_download(const QString& fpdm, const QString& fphm);
// 76129 void report: new status `fpzt` and the operator `kpr`.
QString req_void(const QString& fpdm, const QString& fphm, const QString& fpzt, const QString& kpr);
// 98179 print report: print count `dycs`, issuer `kpr` and print remark `bz`.
QString req_print(const QString& fpdm, const QString& fphm, const QString& dycs, const QString& kpr, const QString& bz);
QString req_print(const QString& fpdm, const QString& fphm, qint64 dycs, const QString& kpr, const QString& bz);
// 11633 upload of an issued invoice: `data` is the "|#|"/"|@|"/"|&|" text.
QString req_upload(const QString& data);

// The reply of a successful exchange from its sixth character on: the five
// characters of "ok|@|" are dropped without being compared again.
QString reply_body(const QString& reply);
// The next "|@|" field of a reply body, trimmed of blanks at both ends; the body
// keeps the text after the separator. On the last field the body becomes empty.
QString reply_next_field(QString& body);
// `text` without the blanks (spaces, nothing else) at both ends: a status
// "1\t" or "1\n" is not "1".
QString trimBlanks(const QString& text);

} // namespace fp
