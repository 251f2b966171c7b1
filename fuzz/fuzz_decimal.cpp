// Decimal: every text either parses or is refused with a reason; what parses
// survives arithmetic (checked, never wrapped) and writes back as itself.
#include "data_model/decimal.h"
#include "host/text_helpers.h"

#include <cstdlib>

using fp::Decimal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    Decimal::ParseError error = Decimal::ParseError::None;
    const auto any = Decimal::parse(text, &error);
    if (any.has_value() != (error == Decimal::ParseError::None)) std::abort();
    const auto amount = Decimal::parseAmount(text, &error);
    if (amount) {
        if (!amount->fitsStorage() || amount->places() > 2) std::abort();
        // The plain text reads back as the same value.
        if (Decimal::parseAmount(amount->toString(2)) != amount) std::abort();
        const Decimal square = *amount * *amount;
        const Decimal sum = *amount + *amount + *amount;
        const Decimal cube = square * *amount * *amount * *amount;
        // A sum of three stored amounts is far inside the range; a square may
        // overflow (the 128-bit product of the counts) but never wraps.
        if (sum.overflowed()) std::abort();
        if (!square.overflowed() && square.sign() != (amount->isZero() ? 0 : 1)) std::abort();
        if (amount->toCents() > -1000000000 && amount->toCents() < 1000000000 && square.overflowed()) std::abort();
        if (sum - *amount - *amount != *amount) std::abort();
        (void)cube.round2().toString(2);
        (void)fp::f_convert_to_big(cube);
        (void)amount->format(QStringLiteral("#,###,###,##0.00"));
    } else if (error == Decimal::ParseError::None) {
        std::abort();
    }
    (void)Decimal::amountError(error, QStringLiteral("金额"));
    return 0;
}
