#include "data_model/decimal.h"

#include <QStringList>

namespace fp {
namespace {
constexpr Decimal::Raw kUnit = 10000;

Decimal::Raw roundDiv(Decimal::Raw value, Decimal::Raw divisor) {
    // Half away from zero.
    Decimal::Raw q = value / divisor;
    Decimal::Raw r = value % divisor;
    if (r < 0) r = -r;
    if (r * 2 >= divisor) q += (value < 0 ? -1 : 1);
    return q;
}

QString rawDigits(Decimal::Raw v) {
    if (v == 0) return QStringLiteral("0");
    QString s;
    while (v > 0) {
        s.prepend(QChar(u'0' + int(v % 10)));
        v /= 10;
    }
    return s;
}
} // namespace

std::optional<Decimal> Decimal::parse(QStringView text, ParseError* error) {
    auto fail = [&](ParseError e) -> std::optional<Decimal> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (error) *error = ParseError::None;
    QStringView t = text.trimmed();
    if (t.isEmpty()) return fail(ParseError::Empty);
    bool neg = false;
    if (t.front() == u'-' || t.front() == u'+') {
        neg = t.front() == u'-';
        t = t.mid(1);
    }
    if (t.isEmpty()) return fail(ParseError::Syntax);
    const qsizetype dot = t.indexOf(u'.');
    QStringView intPart = dot < 0 ? t : t.left(dot);
    QStringView fracPart = dot < 0 ? QStringView() : t.mid(dot + 1);
    if (intPart.isEmpty() && fracPart.isEmpty()) return fail(ParseError::Syntax);
    // Grouping commas: every group after the first exactly three digits.
    QString digits;
    if (intPart.contains(u',')) {
        const auto groups = intPart.split(u',');
        for (qsizetype i = 0; i < groups.size(); ++i) {
            const auto g = groups[i];
            if (g.isEmpty() || (i > 0 && g.size() != 3) || (i == 0 && g.size() > 3)) return fail(ParseError::Syntax);
            digits += g.toString();
        }
    } else {
        digits = intPart.toString();
    }
    for (QChar c : digits)
        if (!c.isDigit() || c.unicode() > u'9') return fail(ParseError::Syntax);
    for (QChar c : fracPart)
        if (!c.isDigit() || c.unicode() > u'9') return fail(ParseError::Syntax);
    if (fracPart.size() > kScaleDigits) {
        // Trailing zeros beyond the scale are harmless.
        for (qsizetype i = kScaleDigits; i < fracPart.size(); ++i)
            if (fracPart[i] != u'0') return fail(ParseError::TooManyPlaces);
        fracPart = fracPart.left(kScaleDigits);
    }
    // Strip leading zeros to bound the length check.
    qsizetype lead = 0;
    while (lead < digits.size() - 1 && digits[lead] == u'0') ++lead;
    digits = digits.mid(lead);
    if (digits.size() > 24) return fail(ParseError::TooLarge);
    Raw v = 0;
    for (QChar c : digits) v = v * 10 + (c.unicode() - u'0');
    for (int i = 0; i < kScaleDigits; ++i) {
        v *= 10;
        if (i < fracPart.size()) v += fracPart[i].unicode() - u'0';
    }
    return Decimal(neg ? -v : v);
}

std::optional<Decimal> Decimal::fromVariant(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return std::nullopt;
    if (v.canConvert<Decimal>() && v.metaType() == QMetaType::fromType<Decimal>()) return v.value<Decimal>();
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return fromInt(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        return parse(QString::number(d, 'f', kScaleDigits));
    }
    default:
        return parse(v.toString());
    }
}

qint64 Decimal::toCents() const { return qint64(roundDiv(units_, 100)); }

int Decimal::places() const {
    Raw v = units_ < 0 ? -units_ : units_;
    int p = kScaleDigits;
    while (p > 0 && v % 10 == 0) {
        v /= 10;
        --p;
    }
    return p;
}

QString Decimal::toString(int places) const {
    if (places < 0) places = 0;
    if (places > kScaleDigits) places = kScaleDigits;
    Raw div = 1;
    for (int i = places; i < kScaleDigits; ++i) div *= 10;
    Raw scaled = roundDiv(units_, div);  // value * 10^places
    const bool neg = scaled < 0;
    Raw a = neg ? -scaled : scaled;
    Raw pow = 1;
    for (int i = 0; i < places; ++i) pow *= 10;
    QString s = rawDigits(a / pow);
    if (places > 0) {
        QString frac = rawDigits(a % pow);
        s += QLatin1Char('.') + frac.rightJustified(places, u'0');
    }
    return neg ? QLatin1Char('-') + s : s;
}

QString Decimal::toPlainString(int minPlaces) const { return toString(qMax(places(), minPlaces)); }

QString Decimal::format(const QString& pattern) const {
    const qsizetype dot = pattern.indexOf(u'.');
    const int places = dot < 0 ? 0 : int(pattern.size() - dot - 1);
    QString s = toString(places);
    if (!pattern.contains(u','))
        return s;
    const bool neg = s.startsWith(u'-');
    if (neg) s.remove(0, 1);
    qsizetype intEnd = s.indexOf(u'.');
    if (intEnd < 0) intEnd = s.size();
    for (qsizetype i = intEnd - 3; i > 0; i -= 3) s.insert(i, u',');
    return neg ? QLatin1Char('-') + s : s;
}

double Decimal::toDouble() const { return toString(kScaleDigits).toDouble(); }

Decimal Decimal::operator*(const Decimal& o) const { return Decimal(roundDiv(units_ * o.units_, kUnit)); }

bool Decimal::fitsStorage() const {
    static const Raw kMax = [] {
        Raw m = 1;
        for (int i = 0; i < 16 + kScaleDigits; ++i) m *= 10;
        return m;
    }();
    return units_ < kMax && units_ > -kMax;
}

} // namespace fp
