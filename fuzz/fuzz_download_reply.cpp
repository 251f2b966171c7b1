// The reader of the full-download reply (procedure 90239, as_getinfo:1),
// without a database: it accepts or refuses with a message, and what it
// accepts belongs to the invoice asked for.
#include "services/invoice_fetch.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString body = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QString code = QStringLiteral("237020000001");
    static const QString number = QStringLiteral("00000007");
    static const QString owner = QStringLiteral("3702000012345");
    QString error;
    const auto invoice = fp::parseDownloadReply(body, code, number, owner, &error);
    if (!invoice) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    if (invoice->header.size() != 33 || invoice->header.at(0).toString() != code ||
        invoice->header.at(1).toString() != number || invoice->header.at(4).toString() != owner)
        std::abort();
    for (const QVariantList& line : invoice->lines)
        if (line.size() != 17 || line.at(1).toString() != code || line.at(2).toString() != number) std::abort();
    return 0;
}
