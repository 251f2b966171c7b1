#include "taxsim/request_text.h"

namespace taxsim {

QString ParsedRequest::value(const QString& key) const { return unescapeValue(raw.value(key)); }

ParsedRequest parseRequest(const QString& text) {
    ParsedRequest r;
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    if (lines.isEmpty()) {
        r.error = QStringLiteral("请求内容为空");
        return r;
    }
    const QString first = lines.first();
    if (!first.startsWith(QLatin1String("proc_id:"))) {
        r.error = QStringLiteral("请求的第一行不是业务编号");
        return r;
    }
    bool ok = false;
    const int proc = first.mid(8).trimmed().toInt(&ok);
    if (!ok || proc <= 0) {
        r.error = QStringLiteral("业务编号有误：") + first.mid(8);
        return r;
    }
    r.procId = proc;
    for (int i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) {
            r.error = QStringLiteral("第") + QString::number(i + 1) + QStringLiteral("行格式有误");
            return r;
        }
        r.raw.insert(line.left(colon), line.mid(colon + 1));
    }
    r.valid = true;
    return r;
}

QString unescapeValue(QString value) {
    value.replace(QLatin1String("{[r]}"), QLatin1String("\r"));
    value.replace(QLatin1String("{[n]}"), QLatin1String("\n"));
    value.replace(QLatin1String("{[:]}"), QLatin1String(":"));
    return value;
}

QString escapeValue(QString value) {
    value.replace(QLatin1String("\r"), QLatin1String("{[r]}"));
    value.replace(QLatin1String("\n"), QLatin1String("{[n]}"));
    value.replace(QLatin1String(":"), QLatin1String("{[:]}"));
    return value;
}

QStringList splitTerminated(const QString& text, const QString& sep) {
    if (text.isEmpty()) return {};
    QStringList parts = text.split(sep);
    if (text.endsWith(sep)) parts.removeLast();
    return parts;
}

AmountParse parseAmount(const QString& text, qint64& cents) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    const auto digit = [&](int at) { return t[at] >= QLatin1Char('0') && t[at] <= QLatin1Char('9'); };
    bool overflow = false;
    qint64 value = 0; // hundredths, accumulated negative when the sign says so
    const auto push = [&](int d) {
        const qint64 signedDigit = negative ? -d : d;
        overflow = overflow || __builtin_mul_overflow(value, qint64(10), &value) ||
                   __builtin_add_overflow(value, signedDigit, &value);
    };
    int digits = 0;
    for (; i < t.size() && digit(i); ++i, ++digits) push(t[i].unicode() - '0');
    int places = 0;
    if (i < t.size() && t[i] == QLatin1Char('.')) {
        ++i;
        for (; i < t.size() && digit(i); ++i) {
            if (places >= 2) {
                if (t[i] != QLatin1Char('0')) return AmountParse::NotANumber; // more than two significant places
                continue;
            }
            push(t[i].unicode() - '0');
            ++places;
        }
    }
    if (i != t.size() || (digits == 0 && places == 0)) return AmountParse::NotANumber;
    for (; places < 2; ++places) push(0);
    if (overflow) return AmountParse::OutOfRange;
    cents = value;
    return AmountParse::Ok;
}

bool parseCents(const QString& text, qint64& cents) { return parseAmount(text, cents) == AmountParse::Ok; }

bool isInvoiceNumber(const QString& text) {
    if (text.size() != 8) return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    }
    return true;
}

QString separatorFragment(const QString& field) {
    static const char* const kStarts[] = {"#|", "@|", "&|"};
    static const char* const kEnds[] = {"|#", "|@", "|&"};
    for (const char* f : kStarts) {
        if (field.startsWith(QLatin1String(f))) return QString::fromLatin1(f);
    }
    for (const char* f : kEnds) {
        if (field.endsWith(QLatin1String(f))) return QString::fromLatin1(f);
    }
    return QString();
}

} // namespace taxsim
