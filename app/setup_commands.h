#pragma once
// Setting up a taxpayer's office in an empty database (one made by `db init`
// without --demo): the users who may open the module's windows, the issuers,
// the trading partners and the item catalogue. Each command refuses a
// duplicate or a bad value with a message and then changes nothing; each
// returns the process exit status (0 done, 1 refused or failed).
#include "data_model/transaction.h"
#include "host/dialogs.h"

#include <QString>
#include <cstdio>

namespace fp::setup {

// Function ids of the module's windows in the rights table: issuing, reprint, void, register.
inline const QStringList& windowFunctionIds() {
    static const QStringList ids = {QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03"),
                                    QStringLiteral("04")};
    return ids;
}

struct Output {
    Dialogs& messages;  // refusals and confirmations
    std::FILE* results; // what was created, one line (e.g. an issuer's code)
};

// A user USERID named NAME with the right code `right` ("02" issues, prints
// and voids) for each of the module's three windows.
int addUser(Transaction& t, Output out, const QString& userid, const QString& name, const QString& right);

// An issuer (department "KPRY") of the owner account `sxh`, with the next free
// staff code; the code goes to the results.
int addIssuer(Transaction& t, Output out, const QString& sxh, const QString& name);

// A trading partner of `sxh`, stored under the code `sxh` + CODE (which the
// payer lookup by code expects); DOCTYPE is one of "身份证件号码",
// "组织机构代码", "纳税人识别号".
int addPartner(Transaction& t, Output out, const QString& sxh, const QString& code, const QString& name,
               const QString& docType, const QString& docNumber);

// An item of the catalogue of `sxh` with its unit price (at most two places, not negative).
int addItem(Transaction& t, Output out, const QString& sxh, const QString& name, const QString& price);

} // namespace fp::setup
