#include "taxsim/request_text.h"

namespace taxsim {

QString ParsedRequest::value(const QString& key) const
{
    return unescapeValue(raw.value(key));
}

ParsedRequest parseRequest(const QString& text)
{
    ParsedRequest r;
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
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

QString unescapeValue(QString value)
{
    value.replace(QLatin1String("{[r]}"), QLatin1String("\r"));
    value.replace(QLatin1String("{[n]}"), QLatin1String("\n"));
    value.replace(QLatin1String("{[:]}"), QLatin1String(":"));
    return value;
}

QString escapeValue(QString value)
{
    value.replace(QLatin1String("\r"), QLatin1String("{[r]}"));
    value.replace(QLatin1String("\n"), QLatin1String("{[n]}"));
    value.replace(QLatin1String(":"), QLatin1String("{[:]}"));
    return value;
}

QStringList splitTerminated(const QString& text, const QString& sep)
{
    if (text.isEmpty())
        return {};
    QStringList parts = text.split(sep);
    if (text.endsWith(sep))
        parts.removeLast();
    return parts;
}

bool parseCents(const QString& text, qint64& cents)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    qint64 whole = 0;
    int digits = 0;
    for (; i < t.size() && t[i].isDigit(); ++i, ++digits) {
        if (whole > 100000000000000LL)
            return false;
        whole = whole * 10 + t[i].digitValue();
    }
    qint64 frac = 0;
    int places = 0;
    if (i < t.size() && t[i] == QLatin1Char('.')) {
        ++i;
        for (; i < t.size() && t[i].isDigit(); ++i, ++places) {
            if (places >= 2) {
                if (t[i] != QLatin1Char('0'))
                    return false;  // more than two significant places
                continue;
            }
            frac = frac * 10 + t[i].digitValue();
        }
        if (places == 0 && digits == 0)
            return false;
    }
    if (i != t.size() || (digits == 0 && places == 0))
        return false;
    if (places == 1)
        frac *= 10;
    cents = whole * 100 + frac;
    if (negative)
        cents = -cents;
    return true;
}

} // namespace taxsim
