#include "services/invoice_fetch.h"

#include "data_model/decimal.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "services/remote_text.h"

#include <QDate>
#include <QSet>
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
// The same line with a serial chosen by the database.
const QString kLineInsertNewSerial =
    QStringLiteral("INSERT INTO ptfp_fpxmmx ( fpdm , fphm , xmmc , xmbh , jsxm , bdclph , mj , dj , kxxz , je , "
                   "wspzh , extprop1 , extprop2 , extprop3 , extprop4 , extprop5 ) VALUES ( "
                   "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ? )");

constexpr int kHeaderFields = 33;
constexpr int kLineFields = 17;
// 0-based positions among the header fields and the fields of a line.
constexpr int kFpdmField = 0;
constexpr int kFphmField = 1;
constexpr int kSxhField = 4;
constexpr int kFpztField = 5;
constexpr int kLineSerialField = 0;
constexpr int kLineFpdmField = 1;
constexpr int kLineFphmField = 2;

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
    {15, FieldKind::Decimal, u"合计金额"}, {17, FieldKind::Decimal, u"税率"},  {18, FieldKind::Decimal, u"税额"},
    {22, FieldKind::Date, u"保存日期"},    {23, FieldKind::Date, u"开票日期"}, {24, FieldKind::Count, u"打印次数"},
};

constexpr FieldConv kLineConv[] = {
    {0, FieldKind::Serial, u"序号"},   {7, FieldKind::Decimal, u"数量"},       {8, FieldKind::Decimal, u"单价"},
    {10, FieldKind::Decimal, u"金额"}, {12, FieldKind::Decimal, u"扩展数值1"}, {13, FieldKind::Decimal, u"扩展数值2"},
};

// A text field as it arrived; an empty piece is stored as the empty text, not NULL.
QVariant textValue(const QString& s) { return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s); }

// A number of the reply for a two-place column: its decimal text with any
// number of places, rounded half up to two places as every stored amount is.
// Nothing when the text is not a number (no grouping, no exponent, ASCII digits
// only) or the rounded value has more than 16 integer digits.
std::optional<Decimal> downloadedAmount(const QString& text) {
    QStringView t = QStringView(text).trimmed();
    // Places beyond the fourth cannot change the rounding to two: they are
    // checked to be digits and dropped, so that the reader below takes the rest.
    if (const qsizetype dot = t.indexOf(u'.'); dot >= 0 && t.size() - dot - 1 > Decimal::kScaleDigits) {
        for (QChar c : t.mid(dot + 1 + Decimal::kScaleDigits))
            if (c < u'0' || c > u'9') return std::nullopt;
        t = t.left(dot + 1 + Decimal::kScaleDigits);
    }
    const auto d = Decimal::parse(t);
    if (!d) return std::nullopt;
    const Decimal rounded = d->round2();
    if (!rounded.fitsStorage()) return std::nullopt;
    return rounded;
}

// Converts `text` to the bound value of a field of `kind`. Blank text is NULL.
// False when the text is not a valid number or date.
bool convert(FieldKind kind, const QString& text, QVariant& out) {
    if (text.trimmed().isEmpty()) {
        out = QVariant();
        return true;
    }
    switch (kind) {
    case FieldKind::Decimal: {
        const auto d = downloadedAmount(text);
        if (!d) return false;
        out = QVariant::fromValue(*d);
        return true;
    }
    case FieldKind::Count:
    case FieldKind::Serial: {
        // A serial the service left empty is chosen locally (blank -> NULL above).
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
    return head + QStringLiteral("\r\nsqlcode = ") + QString::number(t.sqlcode) + QStringLiteral("\r\nsqlerrtext = ") +
           t.sqlerrtext;
}

} // namespace

QDateTime parseServerDateText(const QString& text) {
    if (text.size() < 8) return QDateTime();
    const QString rewritten = text.left(4) + QLatin1Char('-') + text.mid(4, 2) + QLatin1Char('-') + text.mid(6);
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

std::optional<DownloadedInvoice> parseDownloadReply(const QString& body, const QString& fpdm, const QString& fphm,
                                                    const QString& sxh, QString* error) {
    auto refuse = [&](const QString& text) -> std::optional<DownloadedInvoice> {
        if (error) *error = text;
        return std::nullopt;
    };
    QString rest = body;
    DownloadedInvoice invoice;
    invoice.status = reply_next_field(rest);
    if (invoice.status != QLatin1String("1") && invoice.status != QLatin1String("2") &&
        invoice.status != QLatin1String("3"))
        return refuse(trimBlanks(rest).isEmpty() ? QStringLiteral("指定发票未找到！") : rest);

    // 33 header fields and the item list; more means a value has shifted the fields.
    const QStringList header = f_split_str(rest, kSepHeader).val1;
    if (header.size() < kHeaderFields || header.size() > kHeaderFields + 1)
        return refuse(QStringLiteral("发票信息下载失败：接收参数数目有误！"));
    if (header.at(kFpdmField) != fpdm || header.at(kFphmField) != fphm)
        return refuse(QStringLiteral("发票数据下载失败：服务器返回的发票（") + header.at(kFpdmField) +
                      QLatin1Char(' ') + header.at(kFphmField) + QStringLiteral("）不是所请求的发票（") + fpdm +
                      QLatin1Char(' ') + fphm + QStringLiteral("）！"));
    if (header.at(kSxhField) != sxh)
        return refuse(QStringLiteral("发票数据下载失败：服务器返回的发票属于其他纳税人（") + header.at(kSxhField) +
                      QStringLiteral("），不能保存！"));
    QString refused;
    if (!convertFields(header, kHeaderFields, kHeaderConv, QString(), invoice.header, refused)) return refuse(refused);

    if (header.size() == kHeaderFields) {
        // Only an invoice voided while blank comes without lines.
        if (header.at(kFpztField) == QLatin1String("3")) return invoice;
        return refuse(QStringLiteral("发票数据下载失败：接收品目数据有误！"));
    }

    const QStringList lines = f_split_str(header.at(kHeaderFields), kSepLine).val1;
    if (lines.isEmpty()) return refuse(QStringLiteral("发票数据下载失败：指定发票品目信息未找到！"));
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (line.isEmpty()) continue;
        const QStringList fields = f_split_str(line, kSepField).val1;
        if (fields.size() != kLineFields) return refuse(QStringLiteral("发票数据下载失败：接收品目数据有误1！"));
        const QString prefix = QStringLiteral("第") + QString::number(i + 1) + QStringLiteral("条品目的");
        if (fields.at(kLineFpdmField) != fpdm || fields.at(kLineFphmField) != fphm)
            return refuse(QStringLiteral("发票数据下载失败：第") + QString::number(i + 1) +
                          QStringLiteral("条品目属于其他发票（") + fields.at(kLineFpdmField) + QLatin1Char(' ') +
                          fields.at(kLineFphmField) + QStringLiteral("）！"));
        QVariantList binds;
        if (!convertFields(fields, kLineFields, kLineConv, prefix, binds, refused)) return refuse(refused);
        invoice.lines.append(binds);
    }
    return invoice;
}

namespace {

// Whether a local line already holds `serial`: nothing when it cannot be told.
std::optional<bool> serialTaken(Transaction& sqlca, const QVariant& serial) {
    QVariantList row;
    if (sqlca.selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE iserial = ?"), {serial}, row) != 0)
        return std::nullopt;
    return row.value(0).toLongLong() > 0;
}

} // namespace

bool storeDownloadedInvoice(Transaction& sqlca, const DownloadedInvoice& invoice, QString& error) {
    const QVariant fpdm = invoice.header.at(kFpdmField);
    const QVariant fphm = invoice.header.at(kFphmField);
    if (!sqlca.exec(QStringLiteral("DELETE FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm}) ||
        !sqlca.exec(kHeaderInsert, invoice.header) || sqlca.sqlcode != 0) {
        error = dbFailure(QStringLiteral("发票数据保存失败！"), sqlca);
        return false;
    }
    auto lineFailure = [&] {
        error = dbFailure(QStringLiteral("发票品目数据提取失败！"), sqlca);
        return false;
    };
    // The lines are shown, printed and reversed in the order of their serials.
    // The service's serials are kept only when every line can keep its own:
    // when one is missing, repeated in the reply or held by another local line,
    // every line of the invoice gets a new serial, in the order of the reply,
    // so that no line moves before or after another.
    bool keepSerials = true;
    QSet<qlonglong> inReply;
    for (const QVariantList& line : invoice.lines) {
        const QVariant serial = line.at(kLineSerialField);
        if (!serial.isValid() || serial.isNull() || inReply.contains(serial.toLongLong())) {
            keepSerials = false;
            break;
        }
        inReply.insert(serial.toLongLong());
        const std::optional<bool> taken = serialTaken(sqlca, serial);
        if (!taken) return lineFailure();
        if (*taken) {
            keepSerials = false;
            break;
        }
    }
    // Serials kept from the service (or written explicitly by anyone before)
    // must not be handed out again: the generator is moved past a serial before
    // it is kept, before a line takes a new serial and once the lines are in.
    const QString catchUp = sqlca.dialect().identityCatchUp(QStringLiteral("ptfp_fpxmmx"), QStringLiteral("iserial"));
    auto catchUpSerials = [&](const QVariant& floor) {
        return catchUp.isEmpty() || !sqlca.selectAll(catchUp, {floor}).isEmpty() || sqlca.sqlcode != -1;
    };
    for (const QVariantList& line : invoice.lines) {
        if (!catchUpSerials(keepSerials ? line.at(kLineSerialField) : QVariant(qlonglong(0)))) return lineFailure();
        const bool stored = keepSerials ? sqlca.exec(kLineInsert, line) : sqlca.exec(kLineInsertNewSerial, line.mid(1));
        if (!stored || sqlca.sqlcode != 0) return lineFailure();
    }
    if (!catchUpSerials(QVariant(qlonglong(0)))) return lineFailure();
    return true;
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
                         {as_fpdm, as_fphm}, row) == 0 &&
        !row.isEmpty())
        count = row.first().toLongLong();

    if (count > 0) {
        row.clear();
        if (sqlca.selectInto(QStringLiteral("SELECT Count ( 1 ) FROM ptfp_fpk WHERE sxh = ? AND fpdm = ? AND fphm = ?"),
                             {owner, as_fpdm, as_fphm}, row) == 0 &&
            !row.isEmpty())
            count = row.first().toLongLong();
        if (count == 0) {
            host.mess(QStringLiteral("你无权操作此发票！"));
            return false;
        }
        if (host.msg2(QStringLiteral("本地发票已存在，确定要从服务器上下载下来覆盖本地数据吗？")) == 2) return false;
        // The old lines go when the service's are stored.
        if (!sqlca.exec(QStringLiteral("DELETE FROM ptfp_fpk WHERE sxh = ? AND fpdm = ? AND fphm = ?"),
                        {owner, as_fpdm, as_fphm})) {
            const QString failed = dbFailure(QStringLiteral("发票数据保存失败！"), sqlca);
            (void)sqlca.rollback(); // the failure to report is the deletion's
            host.mess(failed);
            return false;
        }
    }

    QString code = as_fpdm;
    QString number = as_fphm;
    if (!f_ptfp_valid_str(host, code, QStringLiteral("发票代码")) ||
        !f_ptfp_valid_str(host, number, QStringLiteral("发票号码"))) {
        (void)sqlca.rollback(); // undoes the deletion, if any; the failure has been shown
        return false;
    }
    if (!isInvoiceNumber(as_fphm)) {
        (void)sqlca.rollback(); // undoes the deletion, if any
        host.mess(notInvoiceNumberMessage(QStringLiteral("发票号码")));
        return false;
    }

    QString reply;
    if (!host.f_send_remote_msg(kRemoteEndpoint, req_download(code, number), kTimeoutDownload, reply)) {
        (void)sqlca.rollback(); // undoes the deletion, if any; the failure has been shown
        return false;
    }

    QString refused;
    const std::optional<DownloadedInvoice> invoice =
        parseDownloadReply(reply_body(reply), as_fpdm, as_fphm, owner, &refused);
    if (!invoice || !storeDownloadedInvoice(sqlca, *invoice, refused) || !sqlca.commit()) {
        if (refused.isEmpty()) refused = dbFailure(QStringLiteral("发票数据保存失败！"), sqlca);
        (void)sqlca.rollback(); // the failure to report is `refused`
        host.mess(refused);
        return false;
    }
    return true;
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
