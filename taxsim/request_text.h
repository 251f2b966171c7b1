#pragma once
// The request and reply texts exchanged with the client.
//
// A request is "proc_id:NNN" followed by "as_key:value" lines, joined by CR LF
// (the last CR LF may be missing). A value is everything after the first colon
// of its line; CR, LF and ":" inside a value arrive as "{[r]}", "{[n]}" and
// "{[:]}". A successful reply begins with "ok|@|"; a refusal here begins with
// "err|@|" followed by the text shown to the issuer.
#include <QMap>
#include <QString>
#include <QStringList>

namespace taxsim {

inline constexpr const char* kOk = "ok|@|";
inline constexpr const char* kErr = "err|@|";
inline constexpr const char* kFieldSep = "|@|";  // reply fields, item line fields
inline constexpr const char* kHeaderSep = "|#|"; // invoice header fields
inline constexpr const char* kLineSep = "|&|";   // item lines, records

struct ParsedRequest {
    bool valid = false;
    QString error;              // why the text is not a request (when !valid)
    int procId = 0;             // 0 when the first line carries no usable number
    QMap<QString, QString> raw; // key -> value as sent (still escaped)

    bool has(const QString& key) const { return raw.contains(key); }
    // The value with its escape marks resolved.
    QString value(const QString& key) const;
};

ParsedRequest parseRequest(const QString& text);

// "{[r]}" -> CR, "{[n]}" -> LF, "{[:]}" -> ":".
QString unescapeValue(QString value);
// The reverse, as the client writes values.
QString escapeValue(QString value);

// Splits at `sep`; a single trailing separator does not produce an empty last
// piece ("a|@|b|@|" gives a and b), an empty text gives no piece.
QStringList splitTerminated(const QString& text, const QString& sep);

// Amounts as whole hundredths: "-12.5" -> -1250. NotANumber when the text is
// not a plain decimal number with at most two places (blanks around it
// allowed), OutOfRange when it does not fit in 64 bits of hundredths.
enum class AmountParse { Ok, NotANumber, OutOfRange };
AmountParse parseAmount(const QString& text, qint64& cents);
bool parseCents(const QString& text, qint64& cents); // parseAmount(...) == Ok

// An invoice number: exactly eight ASCII digits, nothing around them.
bool isInvoiceNumber(const QString& text);

// The separator fragment ("|#", "#|", "|@", ...) that a field begins or ends
// with, if any: such a field is what is left when a value carried part of a
// separator and the fields around it were split in the wrong place.
QString separatorFragment(const QString& field);

} // namespace taxsim
