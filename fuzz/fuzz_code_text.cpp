// The reader of the code-table text, without a database.
#include "services/stock_codes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    fp::CodeText tables;
    QString error;
    if (!fp::parseCodeText(text, tables, error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    for (const QVariantList& k : tables.kinds)
        if (k.size() != 5) std::abort();
    for (const QVariantList& c : tables.codes)
        if (c.size() != 2) std::abort();
    if (tables.kinds.isEmpty() && !tables.codes.isEmpty()) std::abort();
    return 0;
}
