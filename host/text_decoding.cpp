#include "host/text_decoding.h"

#include <QByteArrayList>
#include <QStringDecoder>

namespace fp {

namespace {

DecodedText refused(const QString& problem) {
    DecodedText d;
    d.problem = problem;
    return d;
}

QString sizeProblem() {
    return QStringLiteral("超过了") + QString::number(kMaxExternalTextBytes / (1024 * 1024)) + QStringLiteral("MB");
}

} // namespace

QByteArray charsetOfContentType(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray p = parts[i].trimmed();
        const qsizetype eq = p.indexOf('=');
        if (eq < 0 || p.left(eq).trimmed().toLower() != "charset") continue;
        QByteArray value = p.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) value = value.mid(1, value.size() - 2);
        return value.trimmed().toLower();
    }
    return QByteArray();
}

DecodedText decodeExternalText(const QByteArray& bytes, const QByteArray& charset) {
    if (bytes.size() > kMaxExternalTextBytes) return refused(sizeProblem());
    const QByteArray name = charset.trimmed().toLower();
    const bool utf8 = name.isEmpty() || name == "utf-8" || name == "utf8";
    const bool gb = name == "gb18030" || name == "gbk" || name == "gb2312";
    if (!utf8 && !gb)
        return refused(QStringLiteral("使用了不支持的字符集“") + QString::fromLatin1(charset) + QStringLiteral("”"));
    QStringDecoder decoder = utf8 ? QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless)
                                  : QStringDecoder("GB18030", QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return refused(QStringLiteral("使用了不支持的字符集“") + QString::fromLatin1(charset) + QStringLiteral("”"));
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return refused(QStringLiteral("不是有效的") + (utf8 ? QStringLiteral("UTF-8") : QStringLiteral("GB18030")) +
                       QStringLiteral("文本"));
    if (utf8 && text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    DecodedText checked = checkExternalText(text);
    return checked;
}

DecodedText checkExternalText(const QString& text) {
    if (text.size() > kMaxExternalTextBytes) return refused(sizeProblem());
    if (text.contains(QChar(u'\0'))) return refused(QStringLiteral("含有空字符（NUL）"));
    DecodedText d;
    d.ok = true;
    d.text = text;
    return d;
}

} // namespace fp
