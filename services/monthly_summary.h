#pragma once
// The month-end figures of the owner account: per invoice code and kind the
// numbers used in the month and what became of them, the amounts, and per
// purchased batch the numbers left at the end of the month.
#include "data_model/decimal.h"

#include <QList>
#include <QString>
#include <optional>

namespace fp {

class Transaction;

struct SummaryLine {
    QString fpdm;
    QString fpzlbm;
    QString kindName;
    QString firstNumber;                     // the lowest number used in the month (any status)
    QString lastNumber;                      // the highest
    int issued = 0;                          // invoices issued in the month: valid or voided since
    int voided = 0;                          // of those, voided
    int blankVoided = 0;                     // numbers voided unused
    int red = 0;                             // red-letter invoices issued (valid or voided)
    Decimal normalSum = Decimal::fromInt(0); // valid normal invoices
    Decimal redSum = Decimal::fromInt(0);    // valid red-letter invoices (not above zero)
    Decimal net() const { return normalSum + redSum; }
};

struct SummaryBatch {
    QString fpdm;
    QString fpzlbm;
    QString kindName;
    QString firstNumber; // the batch's range
    QString lastNumber;
    qint64 size = 0;
    qint64 usedInMonth = 0; // numbers of the batch used in the month
    qint64 left = 0;        // numbers of the batch not used by the month's end
};

struct MonthlySummary {
    QString month;               // "yyyy-MM"
    QList<SummaryLine> lines;    // by code and kind
    QList<SummaryBatch> batches; // by code and first number
    SummaryLine total() const;   // every line added up (codes and numbers empty)
};

// The summary of `month` ("yyyy-MM") for owner `sxh`. An invoice falls in the
// month by its issue date, a blank void by its save date. A batch is listed
// when it was bought before the month's end and had numbers left at the
// month's start. Nothing with a database error or an impossible month; `error`
// then says why.
std::optional<MonthlySummary> readMonthlySummary(Transaction& t, const QString& sxh, const QString& month,
                                                 QString* error);

} // namespace fp
