// The reader of the purchased-stock text, without a database.
#include "services/stock_codes.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    fp::StockText stock;
    QString error;
    if (!fp::parseStockText(text, stock, error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    for (const auto& r : stock.records)
        if (r.values.size() != (r.purchase ? 10 : 8) || r.key.size() != (r.purchase ? 1 : 5)) std::abort();
    return 0;
}
