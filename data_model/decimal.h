#pragma once
// An exact decimal number for money, quantities and prices.
//
// Values are held as a signed 128-bit count of ten-thousandths, so sums and the
// product of two two-place values (quantity x price) are exact. Rounding happens
// only where it is asked for: round2() rounds half away from zero to two places,
// which is what storage does.
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
    static Decimal fromCents(qint64 cents) { return Decimal(Raw(cents) * 100); }
    static Decimal fromInt(qint64 v) { return Decimal(Raw(v) * 10000); }
    static Decimal fromRaw(Raw units) { return Decimal(units); }

    enum class ParseError { None, Empty, Syntax, TooManyPlaces, TooLarge };
    // Parses "-1234.5", "+0.10", ".5", "1,234.50" (grouping commas allowed only in
    // groups of three), with at most four decimal places. Leading/trailing blanks ignored.
    static std::optional<Decimal> parse(QStringView text, ParseError* error = nullptr);
    // Reads a database or form value: integers, decimal texts; doubles only as a last
    // resort (rounded to four places).
    static std::optional<Decimal> fromVariant(const QVariant& v);

    Raw raw() const { return units_; }
    // Value in cents after rounding half away from zero.
    qint64 toCents() const;
    Decimal round2() const { return fromCents(toCents()); }
    bool isZero() const { return units_ == 0; }
    int sign() const { return units_ < 0 ? -1 : (units_ > 0 ? 1 : 0); }
    // Number of decimal places in use (0..4).
    int places() const;

    // Plain text with exactly `places` decimals (rounded half away from zero): "-1234.50".
    QString toString(int places = 2) const;
    // Text with the fewest decimals that keep the value exact, at least `minPlaces`.
    QString toPlainString(int minPlaces = 0) const;
    // Display with a format such as "#,###,###,##0.00", "#0.00" or "#########0.00":
    // thousands grouping when the pattern holds a comma, decimals as the pattern's.
    QString format(const QString& pattern) const;
    double toDouble() const;  // display and charts only, never for money paths

    Decimal operator-() const { return Decimal(-units_); }
    Decimal operator+(const Decimal& o) const { return Decimal(units_ + o.units_); }
    Decimal operator-(const Decimal& o) const { return Decimal(units_ - o.units_); }
    // Exact while the product has at most four places (e.g. two-place x two-place);
    // otherwise rounded half away from zero to four places.
    Decimal operator*(const Decimal& o) const;
    Decimal& operator+=(const Decimal& o) { units_ += o.units_; return *this; }
    Decimal& operator-=(const Decimal& o) { units_ -= o.units_; return *this; }
    auto operator<=>(const Decimal& o) const = default;
    bool operator==(const Decimal& o) const = default;

    // Largest magnitude the database columns accept: 16 integer digits, 2 decimals.
    bool fitsStorage() const;

private:
    constexpr explicit Decimal(Raw u) : units_(u) {}
    Raw units_ = 0;
};

} // namespace fp

Q_DECLARE_METATYPE(fp::Decimal)
