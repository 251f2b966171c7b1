#include "data_model/decimal.h"

#include <gtest/gtest.h>

#include <limits>

namespace fp {
namespace {

Decimal dec(const char* text) {
    const auto d = Decimal::parse(QString::fromUtf8(text));
    EXPECT_TRUE(d.has_value()) << text;
    return d.value_or(Decimal());
}

using PE = Decimal::ParseError;

TEST(DecimalParse, AcceptsAndRejects) {
    struct Case {
        const char* text;
        PE error;
        const char* value; // toString(4) when accepted
    };
    const Case cases[] = {
        {"0", PE::None, "0.0000"},
        {"-1234.5", PE::None, "-1234.5000"},
        {"+0.10", PE::None, "0.1000"},
        {".5", PE::None, "0.5000"},
        {"-.5", PE::None, "-0.5000"},
        {"7.", PE::None, "7.0000"},
        {"-0", PE::None, "0.0000"},
        {"0012.30", PE::None, "12.3000"},
        {"  12.34\t", PE::None, "12.3400"},
        {"1.23450000", PE::None, "1.2345"}, // zeros beyond four places are harmless
        {"123456789012345678901234", PE::None, "123456789012345678901234.0000"},
        {"0000000000000000000000000001", PE::None, "1.0000"},
        {"", PE::Empty, nullptr},
        {"   ", PE::Empty, nullptr},
        {"-", PE::Syntax, nullptr},
        {"+", PE::Syntax, nullptr},
        {".", PE::Syntax, nullptr},
        {"-.", PE::Syntax, nullptr},
        {"--1", PE::Syntax, nullptr},
        {"+-1", PE::Syntax, nullptr},
        {"1.2.3", PE::Syntax, nullptr},
        {"abc", PE::Syntax, nullptr},
        {"12a", PE::Syntax, nullptr},
        {"1e5", PE::Syntax, nullptr},
        {"1 2", PE::Syntax, nullptr},
        {"1-", PE::Syntax, nullptr},
        {"1,234.50", PE::Syntax, nullptr}, // no grouping in any input
        {"12,345,678.9012", PE::Syntax, nullptr},
        {"1,23", PE::Syntax, nullptr},
        {"1234,567", PE::Syntax, nullptr},
        {",123", PE::Syntax, nullptr},
        {"1,,234", PE::Syntax, nullptr},
        {"1,234,", PE::Syntax, nullptr},
        {"1.234,5", PE::Syntax, nullptr},
        {"１２", PE::Syntax, nullptr}, // fullwidth digits
        {"٣", PE::Syntax, nullptr},    // other scripts' digits
        {"0.12345", PE::TooManyPlaces, nullptr},
        {"1.00001", PE::TooManyPlaces, nullptr},
        {"1234567890123456789012345", PE::TooLarge, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PE error = PE::Syntax;
        const auto d = Decimal::parse(QString::fromUtf8(c.text), &error);
        EXPECT_EQ(error, c.error);
        ASSERT_EQ(d.has_value(), c.value != nullptr);
        if (d) {
            EXPECT_EQ(d->toString(4), QString::fromUtf8(c.value));
        }
    }
    EXPECT_FALSE(Decimal::parse(QStringView()).has_value()); // no error pointer needed
}

// Every amount, quantity and price, typed or received, is read by parseAmount;
// what it refuses is named by the field's label.
TEST(DecimalParse, AmountsHaveTwoPlacesAndSixteenDigits) {
    struct Case {
        const char* text;
        const char* value;   // toString(2) when accepted
        const char* message; // for the label 单价 when refused
    };
    const Case cases[] = {
        {"1234.5", "1234.50", nullptr},
        {"-0.01", "-0.01", nullptr},
        {" 12 ", "12.00", nullptr},
        {"1.000", "1.00", nullptr}, // zeros beyond two places change nothing
        {"9999999999999999.99", "9999999999999999.99", nullptr},
        {"00000000000000000001", "1.00", nullptr},
        {"", nullptr, ""},
        {"1.005", nullptr, "“单价”最多保留两位小数！"},
        {"1.00001", nullptr, "“单价”最多保留两位小数！"}, // the same as 1.005
        {"0.001", nullptr, "“单价”最多保留两位小数！"},
        {"10000000000000000", nullptr, "“单价”数值超出范围！"},
        {"4294967296.1234567", nullptr, "“单价”最多保留两位小数！"},
        {"1,234.50", nullptr, "“单价”必须是数字！"},
        {"1 234", nullptr, "“单价”必须是数字！"},
        {"1e3", nullptr, "“单价”必须是数字！"},
        {"１２", nullptr, "“单价”必须是数字！"},
        {"0x10", nullptr, "“单价”必须是数字！"},
        {"NaN", nullptr, "“单价”必须是数字！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PE error = PE::None;
        const auto d = Decimal::parseAmount(QString::fromUtf8(c.text), &error);
        ASSERT_EQ(d.has_value(), c.value != nullptr);
        if (d) {
            EXPECT_EQ(d->toString(2), QString::fromUtf8(c.value));
            EXPECT_TRUE(d->fitsStorage());
        }
        EXPECT_EQ(Decimal::amountError(error, QStringLiteral("单价")), QString::fromUtf8(c.message ? c.message : ""));
    }
}

TEST(DecimalRound, HalfAwayFromZeroToCents) {
    struct Case {
        const char* text;
        qint64 cents;
    };
    const Case cases[] = {
        {"0", 0},        {"0.0049", 0},       {"-0.0049", 0},    {"0.005", 1},
        {"-0.005", -1},  {"1.125", 113},      {"-1.125", -113},  {"2.675", 268},
        {"1.9949", 199}, {"9.995", 1000},     {"-9.995", -1000}, {"1234567890.125", 123456789013},
        {"12.34", 1234}, {"-12.3449", -1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Decimal d = dec(c.text);
        EXPECT_EQ(d.toCents(), c.cents);
        EXPECT_EQ(d.round2(), Decimal::fromCents(c.cents));
        EXPECT_EQ(d.round2().places() <= 2, true);
    }
}

TEST(DecimalArithmetic, ProductsAndSumsAreExact) {
    struct Case {
        const char* a;
        const char* b;
        const char* product; // toString(4)
    };
    const Case cases[] = {
        {"1.23", "4.56", "5.6088"},
        {"0.10", "0.10", "0.0100"},
        {"-2.50", "3.33", "-8.3250"},
        {"-2.50", "-3.33", "8.3250"},
        {"12345678.90", "98765.43", "1219326285200.4270"},
        {"120.5", "0", "0.0000"},
        // Beyond four places the product is rounded half away from zero.
        {"0.0001", "0.5", "0.0001"},
        {"-0.0001", "0.5", "-0.0001"},
        {"0.0001", "0.4", "0.0000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " x " + c.b);
        EXPECT_EQ((dec(c.a) * dec(c.b)).toString(4), QString::fromUtf8(c.product));
        EXPECT_EQ(dec(c.a) * dec(c.b), dec(c.b) * dec(c.a));
    }
    EXPECT_EQ(dec("0.1") + dec("0.2"), dec("0.3"));
    Decimal sum;
    for (int i = 0; i < 1000; ++i) sum += dec("0.01");
    EXPECT_EQ(sum, Decimal::fromInt(10));
    EXPECT_EQ(dec("5") - dec("7.25"), dec("-2.25"));
    EXPECT_LT(dec("-1"), dec("0.01"));
    EXPECT_GT(dec("1234567890.12"), dec("1234567890.11"));
}

// Results beyond the range are overflowed, never wrapped: they stay overflowed,
// fit no column, write as nothing and compare equal only to each other.
TEST(DecimalArithmetic, OverflowIsCheckedAndSticky) {
    const Decimal two32 = dec("4294967296");
    const Decimal two64 = two32 * two32;
    EXPECT_FALSE(two64.overflowed());
    EXPECT_EQ(two64.toString(), QStringLiteral("18446744073709551616.00"));
    EXPECT_FALSE(two64.fitsStorage());
    EXPECT_EQ(two64.round2(), two64) << "rounding a large value keeps it";

    const Decimal huge = Decimal::fromRaw(Decimal::maxMagnitude());
    EXPECT_FALSE(huge.overflowed());
    struct Case {
        const char* name;
        Decimal result;
    };
    const Case overflowing[] = {
        {"2^64 x 2^64 x 2^64", two64 * two64 * two64},
        {"largest x 2", huge * dec("2")},
        {"largest + 0.0001", huge + Decimal::fromRaw(1)},
        {"-largest - 0.0001", -huge - Decimal::fromRaw(1)},
        {"raw beyond the range", Decimal::fromRaw(Decimal::maxMagnitude() + 1)},
        {"overflow + 1", Decimal::overflow() + dec("1")},
        {"0 x overflow", dec("0") * Decimal::overflow()},
        {"-overflow", -Decimal::overflow()},
        {"overflow rounded", Decimal::overflow().round2()},
    };
    for (const Case& c : overflowing) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.result.overflowed());
        EXPECT_FALSE(c.result.fitsStorage());
        EXPECT_EQ(c.result.toString(), QString());
        EXPECT_EQ(c.result.sign(), 0);
        EXPECT_EQ(c.result, Decimal::overflow());
        EXPECT_NE(c.result, Decimal());
        EXPECT_GT(c.result, huge);
    }
    Decimal sum;
    for (int i = 0; i < 5; ++i) sum += dec("9999999999999999.99");
    EXPECT_EQ(sum.toString(), QStringLiteral("49999999999999999.95"));
    EXPECT_FALSE(sum.fitsStorage());
    // A value beyond storage saturates rather than wraps where cents are asked for.
    EXPECT_EQ(two64.toCents(), std::numeric_limits<qint64>::max());
    EXPECT_EQ((-two64).toCents(), std::numeric_limits<qint64>::min());
}

TEST(DecimalText, ExactValuesRoundTrip) {
    for (const char* text : {"0.10", "1234567890.12", "-0.01", "9999999999999999.99", "0.00"}) {
        SCOPED_TRACE(text);
        const Decimal d = dec(text);
        EXPECT_EQ(d.toString(), QString::fromUtf8(text));
        EXPECT_EQ(Decimal::fromVariant(QVariant(d.toString())), d);
        EXPECT_EQ(Decimal::fromVariant(QVariant::fromValue(d)), d);
    }
    // Doubles from a database driver come back as the intended two-place value.
    EXPECT_EQ(Decimal::fromVariant(QVariant(0.1)), dec("0.10"));
    EXPECT_EQ(Decimal::fromVariant(QVariant(1234567890.12)), dec("1234567890.12"));
    EXPECT_EQ(Decimal::fromVariant(QVariant(qlonglong(42))), Decimal::fromInt(42));
    EXPECT_EQ(Decimal::fromVariant(QVariant(7)), Decimal::fromInt(7));
    EXPECT_FALSE(Decimal::fromVariant(QVariant()).has_value());
    EXPECT_FALSE(Decimal::fromVariant(QVariant(QMetaType::fromType<QString>())).has_value());
    EXPECT_FALSE(Decimal::fromVariant(QVariant(QStringLiteral("abc"))).has_value());

    EXPECT_EQ(dec("0.10").toPlainString(), QStringLiteral("0.1"));
    EXPECT_EQ(dec("0.10").toPlainString(2), QStringLiteral("0.10"));
    EXPECT_EQ(dec("5").toPlainString(), QStringLiteral("5"));
    EXPECT_EQ(dec("-1.2345").toPlainString(), QStringLiteral("-1.2345"));
    EXPECT_EQ(dec("2.675").toString(), QStringLiteral("2.68"));
    EXPECT_EQ(dec("-0.004").toString(), QStringLiteral("0.00"));
    EXPECT_EQ(dec("2.5").toString(0), QStringLiteral("3"));
}

TEST(DecimalFormat, Patterns) {
    struct Case {
        const char* value;
        const char* pattern;
        const char* text;
    };
    const Case cases[] = {
        {"0", "#,###,###,##0.00", "0.00"},
        {"0.05", "#,###,###,##0.00", "0.05"},
        {"-0.05", "#,###,###,##0.00", "-0.05"},
        {"-0.004", "#,###,###,##0.00", "0.00"},
        {"123", "#,###,###,##0.00", "123.00"},
        {"-123", "#,###,###,##0.00", "-123.00"},
        {"1234.5", "#,###,###,##0.00", "1,234.50"},
        {"-1234.5", "#,###,###,##0.00", "-1,234.50"},
        {"100000", "#,###,###,##0.00", "100,000.00"},
        {"-999.995", "#,###,###,##0.00", "-1,000.00"},
        {"-1234567.891", "#,###,###,##0.00", "-1,234,567.89"},
        {"1234567890.12", "#,###,###,##0.00", "1,234,567,890.12"},
        {"1234.5", "#0.00", "1234.50"},
        {"-0.5", "#########0.00", "-0.50"},
        {"1234.5", "#,##0", "1,235"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " " + c.pattern);
        EXPECT_EQ(dec(c.value).format(QString::fromUtf8(c.pattern)), QString::fromUtf8(c.text));
    }
}

TEST(DecimalStorage, SixteenIntegerDigits) {
    EXPECT_TRUE(dec("9999999999999999.99").fitsStorage());
    EXPECT_TRUE(dec("-9999999999999999.99").fitsStorage());
    EXPECT_FALSE(dec("10000000000000000").fitsStorage());
    EXPECT_FALSE(dec("-10000000000000000").fitsStorage());
}

} // namespace
} // namespace fp
