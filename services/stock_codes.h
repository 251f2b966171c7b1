#pragma once
// Storing what the tax service hands the host about the taxpayer's invoices:
// the purchased stock (purchase and return records) and the code tables of
// invoice kinds and invoice codes. Each call is one transaction on the
// session's sqlca: everything given is committed, or nothing is.
#include "host/host_services.h"

#include <QString>

namespace fp {

// Stores the stock text: records separated by "|&|", fields by "|@|".
//   "lg" purchase, 11 fields: lg, lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh,
//        zjsyh, bjbz, fsrq -> replaces the purchase of the same lglsh in bdcja_fplg.
//   "tp" return, 10 fields: tp, lglsh, swjgdm, sxh, fpzlbm, fpdm, tpqh, tpzh,
//        tprq, (unused) -> replaces the identical returned range in bdcja_sgtp.
// Dates are server date texts (see parseServerDateText); an empty one is NULL,
// one that does not parse refuses the whole text. Empty records are skipped.
// False for a null text and on any failure (message shown, rolled back); true
// when committed, or when the text held no record at all (after a message).
bool gf_save_fplgqk(HostServices& host, const QString& as_ref);

// Replaces bm_bdcja_fpzl and bm_bdcja_fpdm whole from the code text: kind
// records (fpzlbm, kplx, fpqc, fpjc, yxj), "|#|", code records (fpdm, fpzlbm);
// records separated by "|&|", fields by "|@|". False for a null text, a text
// without "|#|" and any failure (message shown, rolled back). When either list
// holds no record, nothing is replaced: rolled back, a message, and true.
bool gf_save_fpzldm(HostServices& host, const QString& as_ref);

} // namespace fp
