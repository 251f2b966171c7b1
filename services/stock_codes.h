#pragma once
// Storing what the tax service hands the host about the taxpayer's invoices:
// the purchased stock (purchase and return records) and the code tables of
// invoice kinds and invoice codes. Each call is one transaction on the
// session's sqlca: everything given is committed, or nothing is.
#include "host/host_services.h"

#include <QList>
#include <QString>
#include <QVariantList>

namespace fp {

// A stock text as read, ready to be stored: for each record the key of the row
// it replaces and the values of its row.
struct StockText {
    struct Record {
        bool purchase = true; // "lg" -> bdcja_fplg, "tp" -> bdcja_sgtp
        QVariantList key;     // purchase: lglsh; return: lglsh, sxh, fpdm, tpqh, tpzh
        QVariantList values;  // the columns of the insert, in its order
    };
    QList<Record> records;
    bool anyEntry = false; // the text held an entry at all (empty ones count)
};
// Reads a stock text (below) without storing it: false with the message in `error`.
[[nodiscard]] bool parseStockText(const QString& text, StockText& out, QString& error);

// A code text as read: kind rows (fpzlbm, kplx, fpqc, fpjc, yxj) and code rows
// (fpdm, fpzlbm). When no kind record is found the codes are not read.
struct CodeText {
    QList<QVariantList> kinds;
    QList<QVariantList> codes;
};
// Reads a code text (below) without storing it: false with the message in `error`.
[[nodiscard]] bool parseCodeText(const QString& text, CodeText& out, QString& error);

// Stores the stock text: records separated by "|&|", fields by "|@|".
//   "lg" purchase, 11 fields: lg, lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh,
//        zjsyh, bjbz, fsrq -> replaces the purchase of the same lglsh in bdcja_fplg.
//        A blank zjsyh (nothing used yet) is stored as the empty text.
//   "tp" return, 10 fields: tp, lglsh, swjgdm, sxh, fpzlbm, fpdm, tpqh, tpzh,
//        tprq, (unused) -> replaces the identical returned range in bdcja_sgtp.
// Dates are server date texts (see parseServerDateText); an empty one is NULL,
// one that does not parse refuses the whole text. Empty records are skipped.
// False for a null text and on any failure (message shown, rolled back); true
// when committed, or when the text held no record at all (after a message).
[[nodiscard]] bool gf_save_fplgqk(HostServices& host, const QString& as_ref);

// Replaces bm_bdcja_fpzl and bm_bdcja_fpdm whole from the code text: kind
// records (fpzlbm, kplx, fpqc, fpjc, yxj), "|#|", code records (fpdm, fpzlbm);
// records separated by "|&|", fields by "|@|". False for a null text, a text
// without "|#|" and any failure (message shown, rolled back). When either list
// holds no record, nothing is replaced: rolled back, a message, and true (a
// kind that cannot be stored fails before an empty code list is reported).
[[nodiscard]] bool gf_save_fpzldm(HostServices& host, const QString& as_ref);

} // namespace fp
