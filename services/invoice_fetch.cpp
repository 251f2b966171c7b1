#include "services/invoice_fetch.h"

#include "data_model/decimal.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "services/remote_text.h"

#include <QDate>
#include <QTime>
#include <QVariant>

namespace fp {

namespace {

const QString kHeaderInsert = QStringLiteral(
    "INSERT INTO ptfp_fpk ( fpdm , fphm , fpzlbm , swjgdm , sxh , fpzt , fkfmc , fkfzjlx , fkfzjhm , zbrbz , "
    "skfmc , skfzjlx , skfzjhm , skflxdh , fbrbz , hjje , hjdx , sl , se , wspzh , bz , kpr , bcrq , kprq , "
    "drcs , userid , username , mjlx , extprop1 , extprop2 , extprop3 , extprop4 , extprop5 ) VALUES ( "
    "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ? )");
const QString kLineInsert = QStringLiteral(
    "INSERT INTO ptfp_fpxmmx ( iserial , fpdm , fphm , xmmc , xmbh , jsxm , bdclph , mj , dj , kxxz , je , "
    "wspzh , extprop1 , extprop2 , extprop3 , extprop4 , extprop5 ) VALUES ( "
    "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ? )");

constexpr int kHeaderFields = 33;
constexpr int kLineFields = 17;
constexpr int kFpztField = 5;  // 0-based position of fpzt among the header fields

// Decimal: an amount (parseAmount). Count: a whole number of 0 or more (a
// print count). Serial: a whole number of 1 or more (a line's serial).
enum class FieldKind { Decimal, Count, Serial, Date };

// How a field of the reply is converted, by 0-based position, with the name
// used when the value is refused.
struct FieldConv {
    int index;
    FieldKind kind;
    const char16_t* label;
};

constexpr FieldConv kHeaderConv[] = {
    {15, FieldKind::Decimal, u"合计金额"}, {17, FieldKind::Decimal, u"税率"},
    {18, FieldKind::Decimal, u"税额"},     {22, FieldKind::Date, u"保存日期"},
    {23, FieldKind::Date, u"开票日期"},    {24, FieldKind::Count, u"打印次数"},
};

constexpr FieldConv kLineConv[] = {
    {0, FieldKind::Serial, u"序号"},        {7, FieldKind::Decimal, u"数量"},
    {8, FieldKind::Decimal, u"单价"},       {10, FieldKind::Decimal, u"金额"},
    {12, FieldKind::Decimal, u"扩展数值1"}, {13, FieldKind::Decimal, u"扩展数值2"},
};

// A text field as it arrived; an empty piece is stored as the empty text, not NULL.
QVariant textValue(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

// Converts `text` to the bound value of a field of `kind`. Blank text is NULL.
// False when the text is not a valid number or date.
bool convert(FieldKind kind, const QString& text, QVariant& out) {
    if (text.trimmed().isEmpty()) {
        out = QVariant();
        return true;
    }
    switch (kind) {
    case FieldKind::Decimal: {
        const auto d = Decimal::parseAmount(text);
        if (!d) return false;
        out = QVariant::fromValue(*d);
        return true;
    }
    case FieldKind::Count:
    case FieldKind::Serial: {
        const auto d = Decimal::parseAmount(text);
        if (!d || d->places() > 0 || d->sign() < (kind == FieldKind::Serial ? 1 : 0)) return false;
        out = QVariant(qlonglong(d->toCents() / 100));
        return true;
    }
    case FieldKind::Date: {
        const QDateTime dt = parseServerDateText(text);
        if (!dt.isValid()) return false;
        out = QVariant(dt);
        return true;
    }
    }
    return false;
}

QString refusal(FieldKind kind, const QString& what, const QString& value) {
    const QString tail = kind == FieldKind::Date      ? QStringLiteral("”不是有效的日期！")
                         : kind == FieldKind::Decimal ? QStringLiteral("”不是有效的数字！")
                                                      : QStringLiteral("”不是有效的整数！");
    return QStringLiteral("发票数据下载失败：") + what + QStringLiteral("“") + value + tail;
}

// The bound values of `fields` (the first `count` of them) converted by `conv`.
// On a refused field, `error` names it (with `prefix` before the field's name).
template <size_t N>
bool convertFields(const QStringList& fields, int count, const FieldConv (&conv)[N], const QString& prefix,
                   QVariantList& binds, QString& error) {
    binds.clear();
    binds.reserve(count);
    for (int i = 0; i < count; ++i) binds.append(textValue(fields.at(i)));
    for (const FieldConv& c : conv) {
        QVariant v;
        if (!convert(c.kind, fields.at(c.index), v)) {
            error = refusal(c.kind, prefix + QString::fromUtf16(c.label), fields.at(c.index));
            return false;
        }
        binds[c.index] = v;
    }
    return true;
}

QString dbFailure(const QString& head, const Transaction& t) {
    return head + QStringLiteral("\r\nsqlcode = ") + QString::number(t.sqlcode) + QStringLiteral("\r\nsqlerrtext = ")
           + t.sqlerrtext;
}

} // namespace

QDateTime parseServerDateText(const QString& text) {
    if (text.size() < 8) return QDateTime();
    const QString rewritten =
        text.left(4) + QLatin1Char('-') + text.mid(4, 2) + QLatin1Char('-') + text.mid(6);
    const QString datePart = rewritten.left(10);
    const QString timePart = rewritten.right(8);
    // The number written with exactly `n` digits from `at`, or -1.
    auto number = [](const QString& s, int at, int n) {
        int v = 0;
        for (int i = at; i < at + n; ++i) {
            const char16_t c = s.at(i).unicode();
            if (c < u'0' || c > u'9') return -1;
            v = v * 10 + (c - u'0');
        }
        return v;
    };
    if (datePart.size() != 10 || datePart.at(4) != u'-' || datePart.at(7) != u'-') return QDateTime();
    if (timePart.size() != 8 || timePart.at(2) != u':' || timePart.at(5) != u':') return QDateTime();
    const int year = number(datePart, 0, 4), month = number(datePart, 5, 2), day = number(datePart, 8, 2);
    const int hour = number(timePart, 0, 2), minute = number(timePart, 3, 2), second = number(timePart, 6, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return QDateTime();
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) return QDateTime();
    return QDateTime(date, time);
}

bool gf_get_fp_from_remote(HostServices& host, const QString& as_fpdm, const QString& as_fphm) {
    if (as_fpdm.isEmpty() || as_fphm.isEmpty()) return false;
    Transaction* t = host.session().sqlca;
    if (!t) return false;
    Transaction& sqlca = *t;
    const QString owner = host.session().gs_sysuserid;
    TxGuard guard(sqlca);

    // A failed read leaves the count as it was.
    qlonglong count = 0;
    QVariantList row;
    if (sqlca.selectInto(QStringLiteral("SELECT Count ( 1 ) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                         {as_fpdm, as_fphm}, row) == 0 && !row.isEmpty())
        count = row.first().toLongLong();

    if (count > 0) {
        row.clear();
        if (sqlca.selectInto(
                QStringLiteral("SELECT Count ( 1 ) FROM ptfp_fpk WHERE sxh = ? AND fpdm = ? AND fphm = ?"),
                {owner, as_fpdm, as_fphm}, row) == 0 && !row.isEmpty())
            count = row.first().toLongLong();
        if (count == 0) {
            host.mess(QStringLiteral("你无权操作此发票！"));
            return false;
        }
        if (host.msg2(QStringLiteral("本地发票已存在，确定要从服务器上下载下来覆盖本地数据吗？")) == 2) return false;
        sqlca.exec(QStringLiteral("DELETE FROM ptfp_fpk WHERE sxh = ? AND fpdm = ? AND fphm = ?"),
                   {owner, as_fpdm, as_fphm});
        // The old lines go with the old header: afterwards the invoice has
        // exactly the lines the service sends.
        if (!sqlca.exec(QStringLiteral("DELETE FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = ?"), {as_fpdm, as_fphm})) {
            const QString text = dbFailure(QStringLiteral("发票数据保存失败！"), sqlca);
            sqlca.rollback();
            host.mess(text);
            return false;
        }
    }

    QString code = as_fpdm;
    QString number = as_fphm;
    if (!f_ptfp_valid_str(host, code, QStringLiteral("发票代码"))
        || !f_ptfp_valid_str(host, number, QStringLiteral("发票号码"))) {
        sqlca.rollback();
        return false;
    }
    if (!isInvoiceNumber(as_fphm)) {
        sqlca.rollback();
        host.mess(notInvoiceNumberMessage(QStringLiteral("发票号码")));
        return false;
    }

    QString reply;
    if (!host.f_send_remote_msg(kRemoteEndpoint, req_download(code, number), kTimeoutDownload, reply)) {
        sqlca.rollback();
        return false;
    }

    QString body = reply_body(reply);
    const QString status = reply_next_field(body);
    if (status != QLatin1String("1") && status != QLatin1String("2") && status != QLatin1String("3")) {
        const QString text = body.trimmed().isEmpty() ? QStringLiteral("指定发票未找到！") : body;
        sqlca.rollback();
        host.mess(text);
        return false;
    }

    const QStringList header = f_split_str(body, kSepHeader).val1;
    if (header.size() <= kHeaderFields - 1) {
        sqlca.rollback();
        host.mess(QStringLiteral("发票信息下载失败：接收参数数目有误！"));
        return false;
    }

    QVariantList binds;
    QString refused;
    if (!convertFields(header, kHeaderFields, kHeaderConv, QString(), binds, refused)) {
        sqlca.rollback();
        host.mess(refused);
        return false;
    }
    if (!sqlca.exec(kHeaderInsert, binds) || sqlca.sqlcode != 0) {
        const QString text = dbFailure(QStringLiteral("发票数据保存失败！"), sqlca);
        sqlca.rollback();
        host.mess(text);
        return false;
    }

    auto commitOrReport = [&]() {
        if (sqlca.commit()) return true;
        const QString text = dbFailure(QStringLiteral("发票数据保存失败！"), sqlca);
        sqlca.rollback();
        host.mess(text);
        return false;
    };

    if (header.size() == kHeaderFields) {
        if (header.at(kFpztField) == QLatin1String("3")) return commitOrReport();
        sqlca.rollback();
        host.mess(QStringLiteral("发票数据下载失败：接收品目数据有误！"));
        return false;
    }

    const QStringList lines = f_split_str(header.at(kHeaderFields), kSepLine).val1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (line.isEmpty()) continue;
        const QStringList fields = f_split_str(line, kSepField).val1;
        if (fields.size() != kLineFields) {
            sqlca.rollback();
            host.mess(QStringLiteral("发票数据下载失败：接收品目数据有误1！"));
            return false;
        }
        const QString prefix = QStringLiteral("第") + QString::number(i + 1) + QStringLiteral("条品目的");
        if (!convertFields(fields, kLineFields, kLineConv, prefix, binds, refused)) {
            sqlca.rollback();
            host.mess(refused);
            return false;
        }
        if (!sqlca.exec(kLineInsert, binds) || sqlca.sqlcode != 0) {
            const QString text = dbFailure(QStringLiteral("发票品目数据提取失败！"), sqlca);
            sqlca.rollback();
            host.mess(text);
            return false;
        }
    }
    if (lines.isEmpty()) {
        sqlca.rollback();
        host.mess(QStringLiteral("发票数据下载失败：指定发票品目信息未找到！"));
        return false;
    }
    return commitOrReport();
}

QString f_get_fpzt_name(const QString& as_fpzt) {
    struct Name {
        QLatin1String code;
        const char16_t* name;
    };
    static const Name kNames[] = {
        {QLatin1String("-2"), u"未领购！"}, {QLatin1String("-1"), u"已退库！"},
        {QLatin1String("0"), u"未使用！"},  {QLatin1String("1"), u"已开票！"},
        {QLatin1String("2"), u"已作废！"},  {QLatin1String("3"), u"已作废（空白）！"},
    };
    for (const Name& n : kNames)
        if (as_fpzt == n.code) return QString::fromUtf16(n.name);
    return QStringLiteral("未知发票状态！");
}

} // namespace fp
