#include "services/remote_text.h"

#include "host/text_helpers.h"

namespace fp {

namespace {
const QString kCrLf = QStringLiteral("\r\n");

struct Reserved {
    QLatin1String piece;
    const char16_t* message; // follows the label
};

// In the order they are looked for. Only the first message lacks the 中 after
// the label.
const Reserved kReserved[] = {
    {QLatin1String("|@|"), u"不能出现系统保留字符：“|@|”，请修改！"},
    {QLatin1String("|&|"), u"中不能出现系统保留字符：“|&|”，请修改！"},
    {QLatin1String("|#|"), u"中不能出现系统保留字符：“|#|”，请修改！"},
    {QLatin1String(","), u"中不能出现系统保留字符：“,”(逗号)，请修改！"},
    {QLatin1String("{[r]}"), u"中不能出现系统保留字符：“{[r]}”，请修改！"},
    {QLatin1String("{[n]}"), u"中不能出现系统保留字符：“{[n]}”，请修改！"},
    {QLatin1String("{[:]}"), u"中不能出现系统保留字符：“{[:]}”，请修改！"},
};

// Pieces of a separator that would join the separator next to the value into
// a whole one ("某公司|#" + "|#|" reads as "某公司" and a shifted field): a value
// may not end with the first two characters of a separator, begin with its last
// two, or be its middle character alone.
const QLatin1String kSeparatorEnds[] = {QLatin1String("|#"), QLatin1String("|@"), QLatin1String("|&")};
const QLatin1String kSeparatorStarts[] = {QLatin1String("#|"), QLatin1String("@|"), QLatin1String("&|")};
const QLatin1String kSeparatorMiddles[] = {QLatin1String("#"), QLatin1String("@"), QLatin1String("&")};

// The separator piece at an edge of `text`, or an empty text.
QString separatorFragment(const QString& text) {
    for (const QLatin1String& m : kSeparatorMiddles)
        if (text == m) return m;
    for (const QLatin1String& e : kSeparatorEnds)
        if (text.endsWith(e)) return e;
    for (const QLatin1String& b : kSeparatorStarts)
        if (text.startsWith(b)) return b;
    return QString();
}

QString keyLine(const char* key, const QString& value) { return QLatin1String(key) + value + kCrLf; }
} // namespace

bool isInvoiceNumber(QStringView text) {
    if (text.size() != 8) return false;
    for (QChar c : text)
        if (c.unicode() < u'0' || c.unicode() > u'9') return false;
    return true;
}

QString notInvoiceNumberMessage(const QString& label) { return label + QStringLiteral("必须是8位数字！"); }

bool f_ptfp_valid_str(HostServices& host, QString& text, QString label) {
    if (text.isEmpty()) {
        text = QStringLiteral("");
        return true;
    }
    if (label.isEmpty()) label = QStringLiteral("数据项中");
    for (const Reserved& r : kReserved) {
        if (text.contains(r.piece)) {
            host.mess(label + QString::fromUtf16(r.message));
            return false;
        }
    }
    if (const QString fragment = separatorFragment(text); !fragment.isEmpty()) {
        host.mess(label + QStringLiteral("不能以系统保留字符的一部分开头或结尾：“") + fragment +
                  QStringLiteral("”，请修改！"));
        return false;
    }
    QString escaped = gf_string_replace_all(text, QStringLiteral("\r"), QStringLiteral("{[r]}"));
    escaped = gf_string_replace_all(escaped, QStringLiteral("\n"), QStringLiteral("{[n]}"));
    escaped = gf_string_replace_all(escaped, QStringLiteral(":"), QStringLiteral("{[:]}"));
    text = escaped;
    return true;
}

QString req_status(const QString& fpdm, const QString& fphm, bool finalCrLf) {
    QString r = QStringLiteral("proc_id:90239\r\n") + keyLine("as_fpdm:", fpdm) + keyLine("as_fphm:", fphm) +
                QStringLiteral("as_getinfo:0");
    if (finalCrLf) r += kCrLf;
    return r;
}

QString req_download(const QString& fpdm, const QString& fphm) {
    return QStringLiteral("proc_id:90239\r\n") + keyLine("as_fpdm:", fpdm) + keyLine("as_fphm:", fphm) +
           QStringLiteral("as_getinfo:1\r\n");
}

QString req_void(const QString& fpdm, const QString& fphm, const QString& fpzt, const QString& kpr) {
    return QStringLiteral("proc_id:76129\r\n") + keyLine("as_fpdm:", fpdm) + keyLine("as_fphm:", fphm) +
           keyLine("as_fpzt:", fpzt) + keyLine("as_kpr:", kpr);
}

QString req_print(const QString& fpdm, const QString& fphm, const QString& dycs, const QString& kpr,
                  const QString& bz) {
    return QStringLiteral("proc_id:98179\r\n") + keyLine("as_fpdm:", fpdm) + keyLine("as_fphm:", fphm) +
           keyLine("as_dycs:", dycs) + keyLine("as_kpr:", kpr) + keyLine("as_bz:", bz);
}

QString req_print(const QString& fpdm, const QString& fphm, qint64 dycs, const QString& kpr, const QString& bz) {
    return req_print(fpdm, fphm, QString::number(dycs), kpr, bz);
}

QString req_upload(const QString& data) { return QStringLiteral("proc_id:11633\r\n") + keyLine("as_data:", data); }

QString reply_body(const QString& reply) {
    return reply.size() > kReplyOkPrefix.size() ? reply.mid(kReplyOkPrefix.size()) : QStringLiteral("");
}

QString trimBlanks(const QString& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && text.at(from) == u' ') ++from;
    while (to > from && text.at(to - 1) == u' ') --to;
    return text.mid(from, to - from);
}

QString reply_next_field(QString& body) { return trimBlanks(f_get_col(body, kSepField)); }

} // namespace fp
