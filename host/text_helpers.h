#pragma once
// Text helpers of the host: splitting reply texts at separators, replacing
// pieces, cutting a text to a display width and writing an amount in Chinese
// capital numerals. All are free functions without state.
#include "data_model/decimal.h"

#include <QString>
#include <QStringList>

namespace fp {

// f_get_col: returns the text before the first `sep` and leaves the text after
// that separator in `text`. When `text` holds no `sep` (or `sep` is empty) the
// whole text is returned and `text` becomes empty, so a loop of calls always
// ends.
QString f_get_col(QString& text, const QString& sep);

// The host's string-array structure; `val1` holds the pieces in order and its
// size is the number of pieces.
struct str_str_array {
    QStringList val1;
};

// f_split_str: the pieces of `text` between the separators, in order. Empty
// pieces are kept, also before a leading and after a trailing separator
// ("a|&||&|b" gives "a", "", "b"; "a|@|" gives "a", ""). An empty (or null)
// text gives no pieces at all; a text without the separator gives itself as
// the only piece. An empty separator does not split.
str_str_array f_split_str(const QString& text, const QString& sep);

// gf_string_replace_all: `text` with every occurrence of `oldPiece` replaced by
// `newPiece`, scanning left to right; replaced text is not scanned again. An
// empty `oldPiece` leaves the text unchanged.
QString gf_string_replace_all(const QString& text, const QString& oldPiece, const QString& newPiece);

// Display width of one character: 2 for wide and fullwidth characters (East
// Asian Width W or F: CJK ideographs, kana, hangul, CJK punctuation, fullwidth
// forms, wide emoji), 1 for every other character.
int displayWidth(char32_t ch);
// Display width of a whole text.
int displayWidth(const QString& text);

// leftc: the longest leading part of `text` whose display width is at most
// `width`. A character is never split: a wide character that would straddle
// the limit is left out, and a surrogate pair is kept or dropped whole. A width
// of 0 or less gives the empty text.
QString leftc(const QString& text, int width);

// f_convert_to_big: the amount in Chinese capital numerals as written on bills,
// without a currency prefix. The amount is first rounded half away from zero to
// two places.
//  - Digits 零壹贰叁肆伍陆柒捌玖, units 拾佰仟 within a group of four, groups
//    万 and 亿 (亿 groups repeat for larger amounts: 壹万亿), then 元, 角, 分.
//    Ten to nineteen keep the 壹: 壹拾, 壹拾万.
//  - A run of zeros between non-zero digits is written once as 零 (陆仟零柒,
//    壹万零壹拾, 壹亿零壹万零壹). Zeros at the end of a group before the group
//    word are not written (壹拾万柒仟, 贰拾亿).
//  - 整 follows 元 when there are neither 角 nor 分 (壹佰元整); after 角 no 整 is
//    written (壹仟肆佰零玖元伍角).
//  - 零 follows 元 when the 元 digit is zero and 角 is not (壹仟陆佰捌拾元零叁角贰分),
//    and when 角 is zero and 分 is not (壹佰万元零伍分).
//  - Below one yuan no 元 is written (伍角, 伍分, 叁角贰分); zero is 零元整.
//  - A negative amount is prefixed with 负.
//  - An overflowed amount (see Decimal) gives the empty text.
QString f_convert_to_big(const Decimal& amount);

} // namespace fp
