#pragma once
// The invoice data of an upload (11633, key as_data) taken apart, without the
// store: header fields each followed by "|#|" (33 of the integrated form or 23
// of the real-estate and building form), then the item lines, each field
// followed by "|@|" (17 or 12 fields) and each line by "|&|"; values escaped.
#include "taxsim/service.h"

#include <QString>

namespace taxsim {

struct UploadText {
    StoredInvoice invoice;  // values unescaped, in the integrated columns
    bool integrated = true; // false: the real-estate and building form
    QString error;          // empty when the text split cleanly
};

// Refuses a text whose fields do not split cleanly (a field that begins or
// ends with part of a separator, a separator inside a header value, a wrong
// number of fields), that has no lines, no code or number, or a number that
// is not eight digits. Who may upload it is the caller's question.
UploadText parseUploadData(const QString& data);

} // namespace taxsim
