#pragma once
// An exact decimal number for money, quantities and prices.
//
// Values are held as a signed 128-bit count of ten-thousandths, so sums and the
// product of two two-place values (quantity x price) are exact. Rounding happens
// only where it is asked for: round2() rounds half away from zero to two places,
// which is what storage does.
//
// Arithmetic is checked. A result whose magnitude exceeds maxMagnitude() (or
// that the 128-bit count cannot hold) is an overflowed Decimal: it stays
// overflowed through every further operation, never fits storage, and writes as
// the empty text, so it can be refused by name ("“金额”数值超出范围！") but never
// be stored as a wrapped or zero value.
#include <QString>
#include <QVariant>
#include <compare>
#include <optional>

namespace fp {

class Decimal {
public:
    static constexpr int kScaleDigits = 4;
    using Raw = __int128;

    constexpr Decimal() = default;
    static Decimal fromCents(qint64 cents) { return fromRaw(Raw(cents) * 100); }
    static Decimal fromInt(qint64 v) { return fromRaw(Raw(v) * 10000); }
    // Beyond the largest magnitude the value is overflowed.
    static Decimal fromRaw(Raw units);
    static Decimal overflow();
    // Largest magnitude of a value, as a count of ten-thousandths (10^36: 32
    // integer digits, far beyond anything stored, well inside 128 bits).
    static Raw maxMagnitude();

    enum class ParseError { None, Empty, Syntax, TooManyPlaces, TooLarge };
    // Parses "-1234.5", "+0.10", ".5", "7." with at most four decimal places
    // (zeros beyond them are harmless). No grouping, no exponent, ASCII digits
    // only; blanks around the number are ignored.
    static std::optional<Decimal> parse(QStringView text, ParseError* error = nullptr);
    // The one reader of amounts, quantities and prices, whether typed by a user
    // or received from the tax service: the grammar of parse() with at most two
    // decimal places (zeros beyond them are harmless) and at most 16 integer
    // digits (what the database stores). TooManyPlaces for "1.005" and
    // "1.00001" alike.
    static std::optional<Decimal> parseAmount(QStringView text, ParseError* error = nullptr);
    // The message for an amount of field `label` that parseAmount refused:
    // “label”必须是数字！ / 最多保留两位小数！ / 数值超出范围！. Empty for None and Empty.
    static QString amountError(ParseError error, const QString& label);
    // "“label”数值超出范围！"
    static QString rangeError(const QString& label);
    // Reads a database or form value: integers, decimal texts; doubles only as a last
    // resort (rounded to four places).
    static std::optional<Decimal> fromVariant(const QVariant& v);

    Raw raw() const { return units_; }
    bool overflowed() const { return overflow_; }
    // Value in cents after rounding half away from zero. Meaningful only for a
    // value that fits storage; others saturate at the limits of qint64.
    qint64 toCents() const;
    Decimal round2() const;
    bool isZero() const { return !overflow_ && units_ == 0; }
    // 0 for an overflowed value: it is neither above nor below anything.
    int sign() const { return overflow_ ? 0 : (units_ < 0 ? -1 : (units_ > 0 ? 1 : 0)); }
    // Number of decimal places in use (0..4).
    int places() const;

    // Plain text with exactly `places` decimals (rounded half away from zero): "-1234.50".
    // The empty text for an overflowed value.
    QString toString(int places = 2) const;
    // Text with the fewest decimals that keep the value exact, at least `minPlaces`.
    QString toPlainString(int minPlaces = 0) const;
    // Display with a format such as "#,###,###,##0.00", "#0.00" or "#########0.00":
    // thousands grouping when the pattern holds a comma, decimals as the pattern's.
    QString format(const QString& pattern) const;
    double toDouble() const; // display and charts only, never for money paths

    Decimal operator-() const;
    Decimal operator+(const Decimal& o) const;
    Decimal operator-(const Decimal& o) const;
    // Exact while the product has at most four places (e.g. two-place x two-place);
    // otherwise rounded half away from zero to four places.
    Decimal operator*(const Decimal& o) const;
    Decimal& operator+=(const Decimal& o) { return *this = *this + o; }
    Decimal& operator-=(const Decimal& o) { return *this = *this - o; }
    // Overflowed values are equal to each other and order after every value.
    std::strong_ordering operator<=>(const Decimal& o) const;
    bool operator==(const Decimal& o) const { return overflow_ == o.overflow_ && (overflow_ || units_ == o.units_); }

    // Largest magnitude the database columns accept: 16 integer digits, 2 decimals.
    // False for an overflowed value.
    bool fitsStorage() const;

private:
    constexpr explicit Decimal(Raw u) : units_(u) {}
    Raw units_ = 0;
    bool overflow_ = false;
};

} // namespace fp

Q_DECLARE_METATYPE(fp::Decimal)
