#pragma once
// Turning bytes that come from outside (the tax service's replies, the text
// files of the data commands) into text, refusing what is not text: bytes that
// do not decode in the named charset, a NUL character, or more than the size
// limit. Nothing is replaced or dropped silently.
#include <QByteArray>
#include <QString>

namespace fp {

// The most bytes a reply or a text file may have: far above the largest stock
// list, far below what would hold the window for long.
inline constexpr qsizetype kMaxExternalTextBytes = 8 * 1024 * 1024;

struct DecodedText {
    bool ok = false;
    QString text;
    // Why the bytes were refused, to follow a subject: "含有空字符（NUL）",
    // "不是有效的UTF-8文本", "使用了不支持的字符集“latin1”", "超过了8MB".
    QString problem;
};

// The charset parameter of a Content-Type value, lower case and unquoted
// ("text/plain; charset=\"GBK\"" -> "gbk"); empty when there is none.
QByteArray charsetOfContentType(const QByteArray& contentType);

// Decodes `bytes` as `charset`: UTF-8 when empty, "utf-8" or "utf8"; GB18030
// (which contains GBK and GB2312) for "gb18030", "gbk" and "gb2312". Any other
// charset, a byte sequence that does not decode, a NUL or more than
// kMaxExternalTextBytes bytes is refused. A UTF-8 byte order mark is dropped.
DecodedText decodeExternalText(const QByteArray& bytes, const QByteArray& charset = QByteArray());

// The same check on text that arrived already decoded (the simulated service
// in the same process): a NUL or an over-long text is refused.
DecodedText checkExternalText(const QString& text);

} // namespace fp
