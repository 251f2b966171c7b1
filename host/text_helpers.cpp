#include "host/text_helpers.h"

#include <algorithm>
#include <iterator>

namespace fp {

QString f_get_col(QString& text, const QString& sep) {
    const qsizetype at = sep.isEmpty() ? -1 : text.indexOf(sep);
    if (at < 0) {
        QString whole = text;
        text = whole.isNull() ? QString() : QStringLiteral("");
        return whole;
    }
    QString col = text.left(at);
    text = text.mid(at + sep.size());
    return col;
}

str_str_array f_split_str(const QString& text, const QString& sep) {
    str_str_array out;
    if (text.isEmpty()) return out;
    if (sep.isEmpty()) {
        out.val1.append(text);
        return out;
    }
    out.val1 = text.split(sep, Qt::KeepEmptyParts, Qt::CaseSensitive);
    return out;
}

QString gf_string_replace_all(const QString& text, const QString& oldPiece, const QString& newPiece) {
    if (oldPiece.isEmpty() || text.isEmpty()) return text;
    QString out = text;
    out.replace(oldPiece, newPiece, Qt::CaseSensitive);
    return out;
}

namespace {
struct Range {
    char32_t first;
    char32_t last;
};

// Code points of East Asian Width W or F (Unicode 14), adjacent ranges merged
// across unassigned code points; the unassigned CJK ideograph planes count as
// wide, as the Unicode data file assigns them.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x3247},   {0x3250, 0x4DBF},   {0x4E00, 0xA4C6},   {0xA960, 0xA97C},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6B},   {0xFF01, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x16FE0, 0x1B2FB}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E},
    {0x1F191, 0x1F19A}, {0x1F200, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393},
    {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567},
    {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5},
    {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC},
    {0x1F7E0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAF6},
    {0x20000, 0x3FFFD},
};

// Length in UTF-16 units and code point of the character starting at `i`.
// A lone surrogate counts as a character of its own.
char32_t codePointAt(const QString& s, qsizetype i, int& units) {
    const QChar c = s.at(i);
    if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
        units = 2;
        return QChar::surrogateToUcs4(c, s.at(i + 1));
    }
    units = 1;
    return c.unicode();
}
} // namespace

int displayWidth(char32_t ch) {
    if (ch < kWide[0].first) return 1;
    const auto it = std::upper_bound(std::begin(kWide), std::end(kWide), ch,
                                     [](char32_t v, const Range& r) { return v < r.first; });
    if (it == std::begin(kWide)) return 1;
    return ch <= std::prev(it)->last ? 2 : 1;
}

int displayWidth(const QString& text) {
    int width = 0;
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        width += displayWidth(codePointAt(text, i, units));
        i += units;
    }
    return width;
}

QString leftc(const QString& text, int width) {
    if (width <= 0) return text.isNull() ? QString() : QStringLiteral("");
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        int units = 1;
        const int w = displayWidth(codePointAt(text, end, units));
        if (used + w > width) break;
        used += w;
        end += units;
    }
    return text.left(end);
}

namespace {
constexpr char16_t kDigits[] = u"零壹贰叁肆伍陆柒捌玖";
// Unit of each digit position in a group of four; the ones position has none.
constexpr char16_t kSmallUnits[] = {u'\0', u'拾', u'佰', u'仟'};

using Big = Decimal::Raw;
constexpr Big kWan = 10000;
constexpr Big kYi = Big(100000000);

QChar digit(int d) { return QChar(kDigits[d]); }

// 1..9999 within one group: a run of zeros between digits becomes one 零,
// zeros at the end are not written.
QString group4(int n) {
    QString s;
    bool pendingZero = false;
    bool started = false;
    for (int pos = 3, div = 1000; pos >= 0; --pos, div /= 10) {
        const int d = (n / div) % 10;
        if (d == 0) {
            if (started) pendingZero = true;
            continue;
        }
        if (pendingZero) s += digit(0);
        pendingZero = false;
        started = true;
        s += digit(d);
        if (pos > 0) s += QChar(kSmallUnits[pos]);
    }
    return s;
}

// A positive whole number. The lower part of a 亿 or 万 split starts with 零
// when its leading digit position is zero (壹亿零壹万, 壹万零壹拾).
QString integerPart(Big n) {
    if (n >= kYi) {
        const Big hi = n / kYi, lo = n % kYi;
        QString s = integerPart(hi) + QChar(u'亿');
        if (lo > 0) {
            if (lo < kYi / 10) s += digit(0);
            s += integerPart(lo);
        }
        return s;
    }
    if (n >= kWan) {
        const Big hi = n / kWan, lo = n % kWan;
        QString s = group4(int(hi)) + QChar(u'万');
        if (lo > 0) {
            if (lo < kWan / 10) s += digit(0);
            s += group4(int(lo));
        }
        return s;
    }
    return group4(int(n));
}
} // namespace

QString f_convert_to_big(const Decimal& amount) {
    if (amount.overflowed()) return QString(QLatin1String(""));
    // Round to cents, half away from zero, on the exact value.
    const Big raw = amount.raw();
    const Big mag = raw < 0 ? -raw : raw;
    Big cents = mag / 100;
    if ((mag % 100) * 2 >= 100) ++cents;
    if (cents == 0) return QStringLiteral("零元整");

    const Big yuan = cents / 100;
    const int jiao = int((cents / 10) % 10);
    const int fen = int(cents % 10);

    QString s;
    if (raw < 0) s += QChar(u'负');
    if (yuan > 0) s += integerPart(yuan) + QChar(u'元');
    if (jiao == 0 && fen == 0) {
        s += QChar(u'整');
        return s;
    }
    if (jiao > 0) {
        if (yuan > 0 && yuan % 10 == 0) s += digit(0);
        s += digit(jiao);
        s += QChar(u'角');
    } else if (yuan > 0) {
        s += digit(0);
    }
    if (fen > 0) {
        s += digit(fen);
        s += QChar(u'分');
    }
    return s;
}

} // namespace fp
