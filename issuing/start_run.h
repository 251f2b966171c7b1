#pragma once
// The working values of one run of the issuing window's start command, shared
// by its normal and red-letter steps.
#include "data_model/data_store.h"
#include "issuing/w_fp_invoicing.h"

#include <memory>

namespace fp {

struct w_fp_invoicing::StartRun {
    QString fpdm, fphm, fpzl; // the invoice to issue
    QString chdm, chhm;       // red-letter mode: the invoice to reverse
    QString fpForm, xmForm;   // the forms of the kind
    // The reversed invoice held locally: header and lines, for this run only.
    std::unique_ptr<DataStore> oldFp, oldXm;
};

} // namespace fp
