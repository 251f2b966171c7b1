#pragma once
// Downloading one invoice, header and item lines, from the tax service into the
// local tables, and the display names of invoice status codes.
#include "host/host_services.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

namespace fp {

// A date-time as the tax service writes it in downloads and stock texts:
// characters 1-4 are the year, 5-6 the month, 7-8 the day and the last eight
// the time of day ("20090817 12:41:48"). The text is rewritten as year "-"
// month "-" and everything from the seventh character on; the first ten
// characters of that are the date (yyyy-MM-dd) and its last eight the time
// (HH:mm:ss). Returns an invalid QDateTime when either part is not a real date
// or time; an empty text is invalid too (callers store it as NULL).
QDateTime parseServerDateText(const QString& text);

// One invoice as a download reply carries it, converted for storing: the
// bound values of its header (33, in the column order of ptfp_fpk) and of each
// item line (17, in the column order of ptfp_fpxmmx; iserial is null when the
// service sent none).
struct DownloadedInvoice {
    QString status; // "1", "2" or "3"
    QVariantList header;
    QList<QVariantList> lines;
};

// Reads the body of a full-download reply (its text after "ok|@|") for invoice
// `fpdm`/`fphm` of the owner account `sxh`, without storing anything. Refused,
// with the message to show in `error`: a status other than 1, 2 or 3 (the
// service's text, or "指定发票未找到！"); a header of 32 or fewer, or of more than
// 34, fields; a header or line that names another invoice, or a header of
// another owner; a line without 17 fields; a number or date that does not
// convert; 33 fields on an invoice that is not blank-voided; an empty item list.
// Amounts with more than two places are rounded half up to two.
std::optional<DownloadedInvoice> parseDownloadReply(const QString& body, const QString& fpdm, const QString& fphm,
                                                    const QString& sxh, QString* error);

class Transaction;

// Writes a read invoice (header and lines) into ptfp_fpk and ptfp_fpxmmx
// inside the open transaction of `sqlca`. Lines already stored for this
// invoice (those of a replaced copy, or lines left without their header) give
// way to the service's; the header must not be stored yet. False with the
// message in `error`.
bool storeDownloadedInvoice(Transaction& sqlca, const DownloadedInvoice& invoice, QString& error);

// Downloads invoice `as_fpdm`/`as_fphm` with procedure 90239 (as_getinfo:1) and
// stores it in ptfp_fpk and ptfp_fpxmmx on the session's sqlca, in one
// transaction. A local copy owned by the logged-in account is replaced, header
// and lines, after the user agreed; one owned by another account is refused
// before the service is asked. A reply is read by parseDownloadReply before
// anything of it is stored; an empty numeric or date field is stored as NULL.
// The lines of the invoice are exactly those of the reply: they keep the
// service's serials when every line has one of its own that no other local
// line holds, and otherwise all get new local ones in the order of the reply.
// True when the invoice is stored and committed. Every false result except an
// empty argument, a declined question and a failed send has shown a message.
[[nodiscard]] bool gf_get_fp_from_remote(HostServices& host, const QString& as_fpdm, const QString& as_fphm);

// The name of an invoice status code ("1" -> "已开票！"); "未知发票状态！" for
// any other text, the empty text and a null text. No trimming.
QString f_get_fpzt_name(const QString& as_fpzt);

} // namespace fp
