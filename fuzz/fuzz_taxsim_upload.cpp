// The simulated service's reader of upload data (procedure 11633, as_data):
// a text splits cleanly into one invoice or is refused with a reason.
#include "taxsim/upload_text.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const taxsim::UploadText upload = taxsim::parseUploadData(text);
    if (!upload.error.isEmpty()) return 0;
    if (upload.invoice.lines.empty()) std::abort();
    const QString fphm = upload.invoice.value(QStringLiteral("fphm"));
    if (fphm.size() != 8) std::abort();
    for (QChar c : fphm)
        if (c < u'0' || c > u'9') std::abort();
    return 0;
}
