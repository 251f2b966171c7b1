#include "data_model/decimal.h"

#include <limits>

namespace fp {
namespace {
constexpr Decimal::Raw kUnit = 10000;

constexpr Decimal::Raw pow10(int n) {
    Decimal::Raw p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

constexpr Decimal::Raw kMaxMagnitude = pow10(36);
// 16 integer digits and the scale: what a database column holds.
constexpr Decimal::Raw kStorageLimit = pow10(16 + Decimal::kScaleDigits);
// Integer digits parse() reads at most (before leading zeros are dropped).
constexpr int kMaxParsedDigits = 24;
constexpr int kAmountPlaces = 2;
constexpr int kAmountIntegerDigits = 16;

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

bool isAsciiDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

// The pieces of a number text: sign, integer digits without leading zeros and
// the decimals without trailing zeros.
struct NumberText {
    bool negative = false;
    QStringView integer;
    QStringView fraction;
};

Decimal::ParseError splitNumber(QStringView text, NumberText& out) {
    using PE = Decimal::ParseError;
    QStringView t = text.trimmed();
    if (t.isEmpty()) return PE::Empty;
    if (t.front() == u'-' || t.front() == u'+') {
        out.negative = t.front() == u'-';
        t = t.mid(1);
    }
    const qsizetype dot = t.indexOf(u'.');
    QStringView intPart = dot < 0 ? t : t.left(dot);
    QStringView fracPart = dot < 0 ? QStringView() : t.mid(dot + 1);
    if (intPart.isEmpty() && fracPart.isEmpty()) return PE::Syntax;
    for (QChar c : intPart)
        if (!isAsciiDigit(c)) return PE::Syntax;
    for (QChar c : fracPart)
        if (!isAsciiDigit(c)) return PE::Syntax;
    while (intPart.size() > 0 && intPart.front() == u'0') intPart = intPart.mid(1);
    while (fracPart.size() > 0 && fracPart.back() == u'0') fracPart.chop(1);
    out.integer = intPart;
    out.fraction = fracPart;
    return PE::None;
}

std::optional<Decimal> parseWith(QStringView text, int maxPlaces, int maxIntegerDigits, Decimal::ParseError* error) {
    using PE = Decimal::ParseError;
    auto fail = [&](PE e) -> std::optional<Decimal> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (error) *error = PE::None;
    NumberText n;
    if (const PE e = splitNumber(text, n); e != PE::None) return fail(e);
    if (n.fraction.size() > maxPlaces) return fail(PE::TooManyPlaces);
    if (n.integer.size() > maxIntegerDigits) return fail(PE::TooLarge);
    Decimal::Raw v = 0;
    for (QChar c : n.integer) v = v * 10 + (c.unicode() - u'0');
    for (int i = 0; i < Decimal::kScaleDigits; ++i) {
        v *= 10;
        if (i < n.fraction.size()) v += n.fraction[i].unicode() - u'0';
    }
    return Decimal::fromRaw(n.negative ? -v : v);
}

} // namespace

Decimal Decimal::fromRaw(Raw units) {
    if (units > kMaxMagnitude || units < -kMaxMagnitude) return overflow();
    return Decimal(units);
}

Decimal Decimal::overflow() {
    Decimal d;
    d.overflow_ = true;
    return d;
}

Decimal::Raw Decimal::maxMagnitude() { return kMaxMagnitude; }

std::optional<Decimal> Decimal::parse(QStringView text, ParseError* error) {
    return parseWith(text, kScaleDigits, kMaxParsedDigits, error);
}

std::optional<Decimal> Decimal::parseAmount(QStringView text, ParseError* error) {
    return parseWith(text, kAmountPlaces, kAmountIntegerDigits, error);
}

QString Decimal::amountError(ParseError error, const QString& label) {
    switch (error) {
    case ParseError::None:
    case ParseError::Empty: return QString();
    case ParseError::Syntax: return QStringLiteral("“") + label + QStringLiteral("”必须是数字！");
    case ParseError::TooManyPlaces: return QStringLiteral("“") + label + QStringLiteral("”最多保留两位小数！");
    case ParseError::TooLarge: return rangeError(label);
    }
    return QString();
}

QString Decimal::rangeError(const QString& label) {
    return QStringLiteral("“") + label + QStringLiteral("”数值超出范围！");
}

std::optional<Decimal> Decimal::fromVariant(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return std::nullopt;
    if (v.metaType() == QMetaType::fromType<Decimal>()) return v.value<Decimal>();
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt: return fromInt(v.toLongLong());
    case QMetaType::ULongLong: return fromRaw(Raw(v.toULongLong()) * kUnit);
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        return parse(QString::number(d, 'f', kScaleDigits));
    }
    default: return parse(v.toString());
    }
}

qint64 Decimal::toCents() const {
    if (overflow_) return 0;
    const Raw cents = roundDiv(units_, 100);
    if (cents > std::numeric_limits<qint64>::max()) return std::numeric_limits<qint64>::max();
    if (cents < std::numeric_limits<qint64>::min()) return std::numeric_limits<qint64>::min();
    return qint64(cents);
}

Decimal Decimal::round2() const {
    if (overflow_) return *this;
    return fromRaw(roundDiv(units_, 100) * 100);
}

int Decimal::places() const {
    if (overflow_) return 0;
    Raw v = units_ < 0 ? -units_ : units_;
    int p = kScaleDigits;
    while (p > 0 && v % 10 == 0) {
        v /= 10;
        --p;
    }
    return p;
}

QString Decimal::toString(int places) const {
    if (overflow_) return QString(QLatin1String(""));
    if (places < 0) places = 0;
    if (places > kScaleDigits) places = kScaleDigits;
    const Raw div = pow10(kScaleDigits - places);
    const Raw scaled = roundDiv(units_, div); // value * 10^places
    const bool neg = scaled < 0;
    const Raw a = neg ? -scaled : scaled;
    const Raw pow = pow10(places);
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
    if (!pattern.contains(u',')) return s;
    const bool neg = s.startsWith(u'-');
    if (neg) s.remove(0, 1);
    qsizetype intEnd = s.indexOf(u'.');
    if (intEnd < 0) intEnd = s.size();
    for (qsizetype i = intEnd - 3; i > 0; i -= 3) s.insert(i, u',');
    return neg ? QLatin1Char('-') + s : s;
}

double Decimal::toDouble() const { return toString(kScaleDigits).toDouble(); }

Decimal Decimal::operator-() const { return overflow_ ? *this : Decimal(-units_); }

Decimal Decimal::operator+(const Decimal& o) const {
    if (overflow_ || o.overflow_) return overflow();
    return fromRaw(units_ + o.units_); // both at most 10^36: the sum cannot wrap
}

Decimal Decimal::operator-(const Decimal& o) const {
    if (overflow_ || o.overflow_) return overflow();
    return fromRaw(units_ - o.units_);
}

Decimal Decimal::operator*(const Decimal& o) const {
    if (overflow_ || o.overflow_) return overflow();
    Raw product = 0;
    if (__builtin_mul_overflow(units_, o.units_, &product)) return overflow();
    return fromRaw(roundDiv(product, kUnit));
}

std::strong_ordering Decimal::operator<=>(const Decimal& o) const {
    if (overflow_ || o.overflow_) return overflow_ <=> o.overflow_;
    return units_ <=> o.units_;
}

bool Decimal::fitsStorage() const { return !overflow_ && units_ < kStorageLimit && units_ > -kStorageLimit; }

} // namespace fp
