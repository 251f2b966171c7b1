#include "host/text_helpers.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

Decimal dec(const char* text) {
    const auto d = Decimal::parse(QString::fromUtf8(text));
    EXPECT_TRUE(d.has_value()) << text;
    return d.value_or(Decimal());
}

TEST(ConvertToBig, WritesAmountsAsOnBills) {
    struct Case {
        const char* amount;
        const char* capitals;
    };
    const Case cases[] = {
        // Published examples of the bill-writing rules.
        {"1409.50", "壹仟肆佰零玖元伍角"},
        {"6007.14", "陆仟零柒元壹角肆分"},
        {"1680.32", "壹仟陆佰捌拾元零叁角贰分"},
        {"107000.53", "壹拾万柒仟元零伍角叁分"},
        {"16409.02", "壹万陆仟肆佰零玖元零贰分"},
        {"325.04", "叁佰贰拾伍元零肆分"},
        // Whole amounts end in 整; 壹 is kept before 拾.
        {"0", "零元整"},
        {"0.00", "零元整"},
        {"1", "壹元整"},
        {"10", "壹拾元整"},
        {"15", "壹拾伍元整"},
        {"100", "壹佰元整"},
        {"10000", "壹万元整"},
        {"100000000", "壹亿元整"},
        // Zeros inside a group, and at the ends of the 万 and 亿 groups.
        {"1001", "壹仟零壹元整"},
        {"1010", "壹仟零壹拾元整"},
        {"1100", "壹仟壹佰元整"},
        {"10010.00", "壹万零壹拾元整"},
        {"100050", "壹拾万零伍拾元整"},
        {"101000000", "壹亿零壹佰万元整"},
        {"110000000", "壹亿壹仟万元整"},
        {"100000001", "壹亿零壹元整"},
        {"100010001.01", "壹亿零壹万零壹元零壹分"},
        {"100200300.45", "壹亿零贰拾万零叁佰元零肆角伍分"},
        {"2000000000.00", "贰拾亿元整"},
        {"1234567.89", "壹佰贰拾叁万肆仟伍佰陆拾柒元捌角玖分"},
        {"1000100000000", "壹万零壹亿元整"},
        {"1000000010000", "壹万亿零壹万元整"},
        {"9999999999999999.99", "玖仟玖佰玖拾玖万玖仟玖佰玖拾玖亿玖仟玖佰玖拾玖万玖仟玖佰玖拾玖元玖角玖分"},
        // 角 and 分: no 整 after 角; 零 after 元 when its digit or 角 is zero.
        {"20.30", "贰拾元零叁角"},
        {"20.03", "贰拾元零叁分"},
        {"21.03", "贰拾壹元零叁分"},
        {"1000000.05", "壹佰万元零伍分"},
        {"0.05", "伍分"},
        {"0.50", "伍角"},
        {"0.32", "叁角贰分"},
        // Rounded half away from zero to two places first.
        {"0.005", "壹分"},
        {"0.0049", "零元整"},
        {"1.995", "贰元整"},
        {"1.9949", "壹元玖角玖分"},
        {"9.995", "壹拾元整"},
        // Negative amounts (red-letter totals).
        {"-1409.50", "负壹仟肆佰零玖元伍角"},
        {"-100", "负壹佰元整"},
        {"-0.05", "负伍分"},
        {"-0.005", "负壹分"},
        {"-0.004", "零元整"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.amount);
        EXPECT_EQ(f_convert_to_big(dec(c.amount)).toStdString(), c.capitals);
    }
}

TEST(Leftc, CutsAtDisplayWidthWithoutSplittingCharacters) {
    struct Case {
        const char16_t* text;
        int width;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"abc", 2, u"ab"},
        {u"abc", 3, u"abc"},
        {u"abc", 10, u"abc"},
        {u"abc", 0, u""},
        {u"abc", -1, u""},
        {u"", 5, u""},
        // CJK ideographs count 2: an odd width never splits one.
        {u"中文abc", 4, u"中文"},
        {u"中文abc", 3, u"中"},
        {u"中文abc", 5, u"中文a"},
        {u"a中b", 1, u"a"},
        {u"a中b", 2, u"a"},
        {u"a中b", 3, u"a中"},
        {u"a中b", 4, u"a中b"},
        {u"房屋销售款（含税）12", 21, u"房屋销售款（含税）12"},
        {u"一二三四五六七八九十一二", 21, u"一二三四五六七八九十"},
        // Fullwidth forms, CJK punctuation, ideographic space, kana, hangul: 2.
        {u"ＡＢ", 3, u"Ａ"},
        {u"，。", 3, u"，"},
        {u"\u3000x", 2, u"\u3000"},
        {u"カナ", 2, u"カ"},
        {u"한글", 3, u"한"},
        // Halfwidth katakana and accented Latin: 1.
        {u"ｱｲｳ", 2, u"ｱｲ"},
        {u"éé", 1, u"é"},
        // Surrogate pairs stay whole: a wide ideograph outside the BMP, and a
        // narrow symbol outside the BMP.
        {u"a\U00020000b", 2, u"a"},
        {u"a\U00020000b", 3, u"a\U00020000"},
        {u"\U0001D11Ex", 1, u"\U0001D11E"},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString() + " / " + std::to_string(c.width));
        EXPECT_EQ(leftc(text, c.width).toStdString(), QString::fromUtf16(c.expected).toStdString());
    }
}

TEST(DisplayWidth, CountsWideCharactersTwice) {
    EXPECT_EQ(displayWidth(QStringLiteral("abc")), 3);
    EXPECT_EQ(displayWidth(QString::fromUtf16(u"发票abc")), 7);
    EXPECT_EQ(displayWidth(QString::fromUtf16(u"（１）")), 6);
    EXPECT_EQ(displayWidth(QString::fromUtf16(u"\U00020000\U0001D11E")), 3);
    EXPECT_EQ(displayWidth(QString()), 0);
}

TEST(GetCol, TakesFieldBeforeSeparatorAndKeepsRest) {
    struct Case {
        const char* text;
        const char* col;
        const char* rest;
    };
    const Case cases[] = {
        {"0|@|未使用", "0", "未使用"},
        {"a|@|b|@|c", "a", "b|@|c"},
        {"|@|x", "", "x"},
        {"x|@|", "x", ""},
        {"a|@b|@|c", "a|@b", "c"},
        // No separator: the whole text, nothing left.
        {"abc", "abc", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(f_get_col(text, QStringLiteral("|@|")), QString::fromUtf8(c.col));
        EXPECT_EQ(text, QString::fromUtf8(c.rest));
    }
}

TEST(GetCol, RepeatedReadsWalkAllFieldsAndEnd) {
    QString text = QStringLiteral("1|@|2|@|3");
    QStringList got;
    for (int guard = 0; !text.isEmpty() && guard < 10; ++guard) got << f_get_col(text, QStringLiteral("|@|"));
    EXPECT_EQ(got, (QStringList{"1", "2", "3"}));
    EXPECT_TRUE(text.isEmpty());

    QString unsplittable = QStringLiteral("abc");
    EXPECT_EQ(f_get_col(unsplittable, QString()), QStringLiteral("abc"));
    EXPECT_TRUE(unsplittable.isEmpty());
}

TEST(SplitStr, PiecesInOrderWithEmptyOnesKept) {
    struct Case {
        const char* text;
        const char* sep;
        QStringList pieces;
    };
    const Case cases[] = {
        {"a|&|b", "|&|", {"a", "b"}},
        {"a|&||&|b", "|&|", {"a", "", "b"}},
        {"a|@|", "|@|", {"a", ""}},
        {"|@|a", "|@|", {"", "a"}},
        {"|&|", "|&|", {"", ""}},
        {"abc", "|#|", {"abc"}},
        {"x|@|y|#|z", "|#|", {"x|@|y", "z"}},
        {"", "|&|", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(f_split_str(QString::fromUtf8(c.text), QString::fromUtf8(c.sep)).val1, c.pieces);
    }
    EXPECT_TRUE(f_split_str(QString(), QStringLiteral("|&|")).val1.isEmpty());
}

TEST(StringReplaceAll, ReplacesEveryOccurrenceOnce) {
    struct Case {
        const char* text;
        const char* oldPiece;
        const char* newPiece;
        const char* expected;
    };
    const Case cases[] = {
        {"a:b:c", ":", "{[:]}", "a{[:]}b{[:]}c"},
        {"aaa", "a", "aa", "aaaaaa"}, // inserted text is not scanned again
        {"a::b", "::", ":", "a:b"},
        {"abc", "x", "y", "abc"},
        {"abc", "", "x", "abc"},
        {"ABC", "b", "x", "ABC"}, // case matters
        {"", ":", "x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gf_string_replace_all(QString::fromUtf8(c.text), QString::fromUtf8(c.oldPiece),
                                        QString::fromUtf8(c.newPiece)),
                  QString::fromUtf8(c.expected));
    }
}

} // namespace
} // namespace fp
