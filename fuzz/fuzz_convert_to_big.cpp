// f_convert_to_big on any value a Decimal can hold (and overflowed ones): the
// capital numerals are written without a crash, and every non-zero amount
// rounded to cents says something other than 零元整.
#include "data_model/decimal.h"
#include "host/text_helpers.h"

#include <cstdlib>
#include <cstring>

using fp::Decimal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Decimal::Raw raw = 0;
    std::memcpy(&raw, data, std::min(size, sizeof raw));
    const Decimal d = Decimal::fromRaw(raw);
    const QString big = fp::f_convert_to_big(d);
    if (d.overflowed() != big.isEmpty()) std::abort();
    if (!d.overflowed() && d.round2().isZero() != (big == QStringLiteral("零元整"))) std::abort();
    if (!d.overflowed() && (d.sign() < 0 && !d.round2().isZero()) != big.startsWith(QChar(u'负'))) std::abort();
    return 0;
}
