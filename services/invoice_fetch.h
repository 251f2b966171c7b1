#pragma once
// Downloading one invoice, header and item lines, from the tax service into the
// local tables, and the display names of invoice status codes.
#include "host/host_services.h"

#include <QDateTime>
#include <QString>

namespace fp {

// A date-time as the tax service writes it in downloads and stock texts:
// characters 1-4 are the year, 5-6 the month, 7-8 the day and the last eight
// the time of day ("20090817 12:41:48"). The text is rewritten as year "-"
// month "-" and everything from the seventh character on; the first ten
// characters of that are the date (yyyy-MM-dd) and its last eight the time
// (HH:mm:ss). Returns an invalid QDateTime when either part is not a real date
// or time; an empty text is invalid too (callers store it as NULL).
QDateTime parseServerDateText(const QString& text);

// Downloads invoice `as_fpdm`/`as_fphm` with procedure 90239 (as_getinfo:1) and
// stores it in ptfp_fpk and ptfp_fpxmmx on the session's sqlca, in one
// transaction. A local copy owned by the logged-in account is replaced, header
// and lines, after the user agreed; one owned by another account is refused
// before the service is asked. A numeric or date field of the reply that does
// not parse is refused instead of being stored; an empty one is stored as NULL.
// True when the invoice is stored and committed. Every false result except an
// empty argument, a declined question and a failed send has shown a message.
bool gf_get_fp_from_remote(HostServices& host, const QString& as_fpdm, const QString& as_fphm);

// The name of an invoice status code ("1" -> "已开票！"); "未知发票状态！" for
// any other text, the empty text and a null text. No trimming.
QString f_get_fpzt_name(const QString& as_fpzt);

} // namespace fp
