#pragma once
// The invoice register: the invoices of the logged-in owner account, of all
// three kinds (integrated from ptfp_fpk, real estate and building from
// bdcja_fpk), chosen by month or date range and the clerk's filters, with the
// totals a clerk reads at month end.
#include "data_model/decimal.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace fp {

class Transaction;

struct RegisterFilter {
    QString month; // "yyyy-MM"; empty: the date range below
    QDate from;    // with `to`, both days included
    QDate to;
    QString code;       // fpdm; empty: every code
    QString numberFrom; // fphm range; empty: open
    QString numberTo;
    QString status; // "1", "2", "3"; empty: every status
    enum class Sign { All, RedOnly, NormalOnly } sign = Sign::All;
    QString kind;   // "50", "20", "40"; empty: every kind
    QString issuer; // kpr, exactly
    QString payer;  // part of fkfmc
};

struct RegisterRow {
    QString fpdm;
    QString fphm;
    QDateTime kprq; // the issue date; a blank void has none and shows its save date
    QString fpzlbm;
    QString kindName; // the kind's short name (bm_bdcja_fpzl.fpjc)
    QString fkfmc;
    QString fkfzjhm;
    std::optional<Decimal> hjje;
    QString fpzt;
    QString statusName;   // f_get_fpzt_name
    QString reversedCode; // red-letter: the invoice it reverses
    QString reversedNumber;
    QString kpr;
    qint64 drcs = 0;
    bool red() const { return !reversedNumber.trimmed().isEmpty(); }
};

struct RegisterTotals {
    int valid = 0;
    int voided = 0;
    int blankVoided = 0;
    Decimal normalSum = Decimal::fromInt(0); // valid normal invoices
    Decimal redSum = Decimal::fromInt(0);    // valid red-letter invoices (not above zero)
    Decimal net() const { return normalSum + redSum; }
};

// The day an invoice counts on, for a header table aliased "h": its issue
// date, or its save date when it has none (a blank void). The headers' index
// for the register is on this very expression.
const QString& registerDayOf();

// The first day of a month written "yyyy-MM" (four-digit year, two-digit
// month); an invalid date for any other text or an impossible month.
QDate firstDayOfMonth(const QString& month);
// What a clerk is told of a month that firstDayOfMonth does not take.
QString monthRefusal(const QString& month);

// The invoices of owner `sxh` that `filter` chooses, sorted by code and
// number. An impossible month gives nothing. An invoice falls in a month (or range) by its issue date, or by its
// save date when it has none (a blank void). Nothing with a database error;
// `error` then says why.
std::optional<QList<RegisterRow>> readRegister(Transaction& t, const QString& sxh, const RegisterFilter& filter,
                                               QString* error);

// The totals line of a list.
RegisterTotals registerTotals(const QList<RegisterRow>& rows);

} // namespace fp
