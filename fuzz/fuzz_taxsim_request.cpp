// The simulated service's reader of request texts ("proc_id:" and "as_" lines)
// and of escaped values.
#include "taxsim/request_text.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const taxsim::ParsedRequest r = taxsim::parseRequest(text);
    if (!r.valid && r.error.isEmpty()) std::abort();
    for (auto it = r.raw.cbegin(); it != r.raw.cend(); ++it) (void)r.value(it.key());
    // Escaping and unescaping give back the value.
    if (taxsim::unescapeValue(taxsim::escapeValue(text)) != text && !text.contains(QStringLiteral("{["))) std::abort();
    (void)taxsim::splitTerminated(text, QStringLiteral("|@|"));
    qint64 cents = 0;
    (void)taxsim::parseCents(text, cents);
    return 0;
}
