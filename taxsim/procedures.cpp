// The procedures of the tax service. Each runs on the database thread, inside
// Service::Impl::process, which turns a thrown Refusal into "err|@|" + text
// and rolls back whatever the procedure had begun.
#include "taxsim/service_impl.h"
#include "taxsim/upload_text.h"

#include <QRegularExpression>

namespace taxsim {

namespace {

const QString kOkText = QString::fromLatin1(kOk);
const QString kFieldSepText = QString::fromLatin1(kFieldSep);
const QString kHeaderSepText = QString::fromLatin1(kHeaderSep);
const QString kLineSepText = QString::fromLatin1(kLineSep);

QString required(const ParsedRequest& pr, const char* key) {
    const QString k = QString::fromLatin1(key);
    if (!pr.has(k)) throw Refusal{QStringLiteral("请求缺少参数：") + k + QStringLiteral("！")};
    return pr.value(k);
}

// A whole number written by the client, perhaps with decimals ("3.00" -> "3").
QString wholeNumber(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return t;
    qint64 cents = 0;
    if (parseCents(t, cents) && cents % 100 == 0) return QString::number(cents / 100);
    return t;
}

// The invoice number of a request, blanks around it dropped.
QString requiredNumber(const ParsedRequest& pr) {
    const QString fphm = required(pr, "as_fphm").trimmed();
    if (!isInvoiceNumber(fphm))
        throw Refusal{QStringLiteral("发票号码必须是8位数字：“") + fphm + QStringLiteral("”！")};
    return fphm;
}

qint64 amount(const QString& text, const QString& label) {
    qint64 cents = 0;
    switch (parseAmount(text, cents)) {
    case AmountParse::Ok: return cents;
    case AmountParse::OutOfRange: throw Refusal{QStringLiteral("“") + label + QStringLiteral("”数值超出范围！")};
    case AmountParse::NotANumber: break;
    }
    throw Refusal{label + QStringLiteral("格式有误：") + text + QStringLiteral("！")};
}

QString replyDate(const QString& stored) {
    const QString t = stored.trimmed();
    if (t.isEmpty()) return t;
    for (const char* fmt : {kUploadDateFormat, kDateTimeFormat, kReplyDateFormat, "yyyy-MM-dd", "yyyyMMdd"}) {
        const QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(fmt));
        if (dt.isValid()) return dt.toString(QString::fromLatin1(kReplyDateFormat));
    }
    return t;
}

QString numberText(const QString& fpdm, const QString& fphm) {
    return QStringLiteral("发票代码：") + fpdm + QStringLiteral("，发票号码：") + fphm;
}

} // namespace

// A red-letter invoice names the invoice it reverses (extprop2 code, extprop1
// number); an invoice is reversed once, by a red-letter invoice that is still
// valid. The uploads run one after another, so two at once cannot both pass.
void Service::Impl::refuseRepeatedReversal(const StoredInvoice& inv) {
    const QString chhm = inv.value(QStringLiteral("extprop1")).trimmed();
    if (chhm.isEmpty()) return;
    const QString chdm = inv.value(QStringLiteral("extprop2")).trimmed();
    QSqlQuery& q =
        run(QStringLiteral("SELECT fpdm, fphm FROM invoice WHERE extprop2 = ? AND extprop1 = ? AND fpzt = '1'"
                           " LIMIT 1"),
            {chdm, chhm});
    if (q.next())
        throw Refusal{numberText(chdm, chhm) + QStringLiteral(" 已被冲红（冲红发票：") + q.value(0).toString() +
                      QLatin1Char(' ') + q.value(1).toString() + QStringLiteral("），不能重复冲红！")};
}

// 90239 --------------------------------------------------------------------

QString Service::Impl::procStatus(const QString& caller, const ParsedRequest& pr) {
    const QString fpdm = required(pr, "as_fpdm").trimmed();
    const QString fphm = requiredNumber(pr);
    const bool getInfo = pr.value(QStringLiteral("as_getinfo")).trimmed() == QLatin1String("1");
    const NumberInfo info = numberInfo(fpdm, fphm);
    if (!getInfo) return kOkText + info.status + kFieldSepText + statusName(info.status);
    if (!info.hasInvoice)
        return kOkText + info.status + kFieldSepText + QStringLiteral("指定发票") + statusName(info.status) +
               QStringLiteral("，没有可下载的发票信息！");
    if (info.invoiceSxh != caller) throw Refusal{QStringLiteral("指定发票不属于本纳税人，无权下载！")};
    const std::optional<StoredInvoice> inv = loadInvoice(fpdm, fphm);
    if (!inv) throw Refusal{QStringLiteral("指定发票未找到！")};

    QStringList header = inv->header;
    const QStringList& hc = StoredInvoice::headerColumns();
    header[hc.indexOf(QStringLiteral("bcrq"))] = replyDate(inv->value(QStringLiteral("bcrq")));
    header[hc.indexOf(QStringLiteral("kprq"))] = replyDate(inv->value(QStringLiteral("kprq")));
    header[hc.indexOf(QStringLiteral("drcs"))] = wholeNumber(inv->value(QStringLiteral("drcs")));
    header[hc.indexOf(QStringLiteral("fpzt"))] = info.status;
    QString text = kOkText + info.status + kFieldSepText + header.join(kHeaderSepText);
    if (!inv->lines.empty()) {
        QStringList lines;
        const int serial = StoredInvoice::lineColumns().indexOf(QStringLiteral("iserial"));
        for (QStringList line : inv->lines) {
            line[serial] = wholeNumber(line[serial]);
            lines.append(line.join(kFieldSepText));
        }
        text += kHeaderSepText + lines.join(kLineSepText);
    }
    return text;
}

// 11633 --------------------------------------------------------------------

QString Service::Impl::procUpload(const QString& caller, const ParsedRequest& pr, const QString& body) {
    const QString data = pr.raw.value(QStringLiteral("as_data"));
    if (!pr.has(QStringLiteral("as_data")) || data.isEmpty()) throw Refusal{QStringLiteral("请求缺少参数：as_data！")};

    UploadText upload = parseUploadData(data);
    if (!upload.error.isEmpty()) throw Refusal{upload.error};
    const bool integrated = upload.integrated;
    StoredInvoice& inv = upload.invoice;
    const QString fpdm = inv.value(QStringLiteral("fpdm"));
    const QString fphm = inv.value(QStringLiteral("fphm"));
    if (inv.value(QStringLiteral("sxh")) != caller)
        throw Refusal{QStringLiteral("发票的顺序号与当前纳税人不符，不能上传！")};
    for (size_t i = 0; i < inv.lines.size(); ++i) {
        if (inv.lineValue(int(i), QStringLiteral("fpdm")) != fpdm ||
            inv.lineValue(int(i), QStringLiteral("fphm")) != fphm)
            throw Refusal{QStringLiteral("品目明细的发票代码或发票号码与发票不符！")};
    }

    const NumberInfo info = numberInfo(fpdm, fphm);
    if (info.hasInvoice) throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 已使用，不能重复开具！")};
    if (!info.sold || info.purchase.sxh != caller)
        throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 未向本纳税人发售，不能开具！")};
    if (info.returned) throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 已退库，不能开具！")};
    QString kind = codeKind(fpdm);
    if (kind.isEmpty()) kind = info.purchase.fpzlbm;
    if (inv.value(QStringLiteral("fpzlbm")) != kind) throw Refusal{QStringLiteral("发票种类与发票代码不符！")};
    if ((kind == QLatin1String("50")) != integrated) throw Refusal{QStringLiteral("发票数据格式与发票种类不符！")};
    refuseRepeatedReversal(inv);

    const qint64 total = amount(inv.value(QStringLiteral("hjje")), QStringLiteral("合计金额"));
    qint64 sum = 0;
    for (size_t i = 0; i < inv.lines.size(); ++i) {
        const qint64 je = amount(inv.lineValue(int(i), QStringLiteral("je")), QStringLiteral("品目金额"));
        if (__builtin_add_overflow(sum, je, &sum)) throw Refusal{QStringLiteral("“品目金额”之和数值超出范围！")};
    }
    if (sum != total) throw Refusal{QStringLiteral("合计金额与品目金额之和不符！")};

    inv.setValue(QStringLiteral("fpzt"), QStringLiteral("1"));
    inv.rawUpload = body;
    begin();
    storeInvoice(inv, integrated ? QStringLiteral("integrated") : QStringLiteral("building"));
    commit();
    return kOkText + QStringLiteral("发票上传成功");
}

// 98179 --------------------------------------------------------------------

QString Service::Impl::procPrint(const QString& caller, const ParsedRequest& pr) {
    const QString fpdm = required(pr, "as_fpdm").trimmed();
    const QString fphm = requiredNumber(pr);
    const QString dycsText = required(pr, "as_dycs").trimmed();
    const QString kpr = pr.value(QStringLiteral("as_kpr"));
    const QString bz = pr.value(QStringLiteral("as_bz"));

    bool ok = false;
    const int dycs = dycsText.toInt(&ok);
    if (!ok || dycs < 0) throw Refusal{QStringLiteral("打印次数有误：") + dycsText + QStringLiteral("！")};
    const NumberInfo info = numberInfo(fpdm, fphm);
    if (!info.hasInvoice)
        throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 在税务服务器上不存在，不能报告打印！")};
    if (info.invoiceSxh != caller) throw Refusal{QStringLiteral("指定发票不属于本纳税人，无权操作！")};

    // The remark carries the count after this print when it is 2 or more.
    int printed = dycs + 1;
    static const QRegularExpression countRe(QStringLiteral("打印次数：(\\d+)"));
    const QRegularExpressionMatch m = countRe.match(bz);
    if (m.hasMatch()) printed = std::max(printed, m.captured(1).toInt());
    QSqlQuery& cur = run(QStringLiteral("SELECT drcs FROM invoice WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
    const int stored = cur.next() ? wholeNumber(cur.value(0).toString()).toInt() : 0;

    begin();
    run(QStringLiteral("UPDATE invoice SET drcs = ? WHERE fpdm = ? AND fphm = ?"),
        {QString::number(std::max(stored, printed)), fpdm, fphm});
    run(QStringLiteral("INSERT INTO print_report (fpdm, fphm, sxh, dycs, kpr, bz, reported_at)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?)"),
        {fpdm, fphm, caller, dycsText, kpr, bz, now().toString(QString::fromLatin1(kDateTimeFormat))});
    commit();
    return kOkText + QStringLiteral("打印信息已接收");
}

// 76129 --------------------------------------------------------------------

QString Service::Impl::procVoid(const QString& caller, const ParsedRequest& pr) {
    const QString fpdm = required(pr, "as_fpdm").trimmed();
    const QString fphm = requiredNumber(pr);
    const QString fpzt = required(pr, "as_fpzt").trimmed();
    const QString kpr = pr.value(QStringLiteral("as_kpr"));
    if (fpzt != QLatin1String("2") && fpzt != QLatin1String("3"))
        throw Refusal{QStringLiteral("作废状态有误：") + fpzt + QStringLiteral("！")};

    const NumberInfo info = numberInfo(fpdm, fphm);
    begin();
    if (info.hasInvoice) {
        if (info.invoiceSxh != caller) throw Refusal{QStringLiteral("指定发票不属于本纳税人，无权作废！")};
        if (info.status == QLatin1String("2") || info.status == QLatin1String("3"))
            throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 已作废，不能重复作废！")};
        if (fpzt == QLatin1String("3"))
            throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 已开具，不能作为空白发票作废！")};
        run(QStringLiteral("UPDATE invoice SET fpzt = '2' WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
    } else {
        if (fpzt == QLatin1String("2")) throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 尚未开具，不能作废！")};
        if (!info.sold || info.purchase.sxh != caller)
            throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 未向本纳税人发售，不能作废！")};
        if (info.returned) throw Refusal{numberText(fpdm, fphm) + QStringLiteral(" 已退库，不能作废！")};
        const std::optional<TaxpayerRow> tp = taxpayer(caller);
        QString kind = codeKind(fpdm);
        if (kind.isEmpty()) kind = info.purchase.fpzlbm;
        StoredInvoice inv = StoredInvoice::create(fpdm, fphm);
        inv.setValue(QStringLiteral("fpzlbm"), kind);
        inv.setValue(QStringLiteral("swjgdm"), tp ? tp->t.swjgdm : info.purchase.swjgdm);
        inv.setValue(QStringLiteral("sxh"), caller);
        inv.setValue(QStringLiteral("fpzt"), QStringLiteral("3"));
        inv.setValue(QStringLiteral("fkfmc"), QStringLiteral(" "));
        inv.setValue(QStringLiteral("fkfzjhm"), QStringLiteral(" "));
        if (tp) {
            inv.setValue(QStringLiteral("skfmc"), tp->t.name);
            inv.setValue(QStringLiteral("skfzjhm"), tp->t.nsrsbh);
            inv.setValue(QStringLiteral("skflxdh"), tp->t.lxdh);
        }
        inv.setValue(QStringLiteral("hjje"), QStringLiteral("0.00"));
        inv.setValue(QStringLiteral("kpr"), kpr);
        inv.setValue(QStringLiteral("bcrq"), now().toString(QString::fromLatin1(kUploadDateFormat)));
        inv.setValue(QStringLiteral("drcs"), QStringLiteral("0"));
        storeInvoice(inv, QStringLiteral("blank"));
    }
    run(QStringLiteral("INSERT INTO void_report (fpdm, fphm, sxh, fpzt, kpr, reported_at)"
                       " VALUES (?, ?, ?, ?, ?, ?)"),
        {fpdm, fphm, caller, fpzt, kpr, now().toString(QString::fromLatin1(kDateTimeFormat))});
    commit();
    return kOkText + QStringLiteral("发票作废成功");
}

// Host procedures ----------------------------------------------------------

QString Service::Impl::procServerTime() { return kOkText + now().toString(QString::fromLatin1(kDateTimeFormat)); }

// The stock text comes out of two scans whatever the size of the stock: the
// purchases, each with its last number used, and the returned ranges; SQLite
// joins each record's fields, so that a row costs one text.
namespace {
// "yyyy-MM-dd HH:mm:ss" as replies write dates, "yyyyMMdd HH:mm:ss".
QString replyDateSql(const char* column) {
    const QString c = QString::fromLatin1(column);
    return QStringLiteral("(CASE WHEN length(%1) = 19 THEN substr(%1, 1, 4) || substr(%1, 6, 2) || substr(%1, 9)"
                          " ELSE '' END)")
        .arg(c);
}

QString joinedSql(const QStringList& parts) { return parts.join(QStringLiteral(" || '|@|' || ")); }
} // namespace

QString Service::Impl::procStock(const QString& caller) {
    static const QString common =
        joinedSql({QStringLiteral("p.lglsh"), QStringLiteral("p.swjgdm"), QStringLiteral("p.sxh"),
                   QStringLiteral("p.fpzlbm"), QStringLiteral("p.fpdm")});
    static const QString returnsSql =
        QStringLiteral("SELECT r.lglsh, ") +
        joinedSql({QStringLiteral("'tp'"), common, QStringLiteral("r.tpqh"), QStringLiteral("r.tpzh"),
                   replyDateSql("r.tprq"), QStringLiteral("'1'")}) +
        QStringLiteral(" FROM stock_return r JOIN purchase p ON p.lglsh = r.lglsh WHERE p.sxh = ? ORDER BY r.id");
    static const QString purchasesSql =
        QStringLiteral("SELECT p.lglsh, ") +
        joinedSql({QStringLiteral("'lg'"), common, QStringLiteral("p.fpqh"), QStringLiteral("p.fpzh"),
                   QStringLiteral("p.zjsyh"), QStringLiteral("p.bjbz"), replyDateSql("p.fsrq")}) +
        QStringLiteral(" FROM purchase p WHERE p.sxh = ? ORDER BY p.lglsh");

    QHash<QByteArray, QByteArrayList> returnsOf; // lglsh -> its "tp" records
    const auto text = [](sqlite3_stmt* stmt, int column) {
        return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                          sqlite3_column_bytes(stmt, column));
    };
    const auto failed = [](sqlite3_stmt* stmt) { return DbError(sqlite3_errmsg(sqlite3_db_handle(stmt))); };
    sqlite3_stmt* r = runRaw(returnsSql, {caller});
    int rc;
    while ((rc = sqlite3_step(r)) == SQLITE_ROW) returnsOf[text(r, 0)].append(text(r, 1));
    if (rc != SQLITE_DONE) throw failed(r);
    QByteArray out = QByteArray(kOk);
    bool first = true;
    sqlite3_stmt* q = runRaw(purchasesSql, {caller});
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
        if (!first) out += kLineSep;
        first = false;
        out.append(reinterpret_cast<const char*>(sqlite3_column_text(q, 1)), sqlite3_column_bytes(q, 1));
        if (returnsOf.isEmpty()) continue;
        const auto returned = returnsOf.constFind(text(q, 0));
        if (returned == returnsOf.constEnd()) continue;
        for (const QByteArray& record : returned.value()) out += kLineSep + record;
    }
    if (rc != SQLITE_DONE) throw failed(q);
    return QString::fromUtf8(out);
}

QString Service::Impl::procCodes() {
    QStringList kinds;
    QSqlQuery& k = run(QStringLiteral("SELECT fpzlbm, kplx, fpqc, fpjc, yxj FROM invoice_kind ORDER BY yxj, fpzlbm"));
    while (k.next()) {
        kinds.append(QStringList{k.value(0).toString(), k.value(1).toString(), k.value(2).toString(),
                                 k.value(3).toString(), QString::number(k.value(4).toInt())}
                         .join(kFieldSepText));
    }
    QStringList codes;
    QSqlQuery& c = run(QStringLiteral("SELECT fpdm, fpzlbm FROM invoice_code ORDER BY fpdm"));
    while (c.next()) codes.append(c.value(0).toString() + kFieldSepText + c.value(1).toString());
    return kOkText + kinds.join(kLineSepText) + kHeaderSepText + codes.join(kLineSepText);
}

QString Service::Impl::procTaxpayer(const QString& caller) {
    const std::optional<TaxpayerRow> tp = taxpayer(caller);
    if (!tp) throw Refusal{QStringLiteral("纳税人不存在！")};
    return kOkText +
           QStringList{tp->t.sxh, tp->t.name, tp->t.nsrsbh, tp->t.lxdh, tp->t.swjgdm, tp->swjgmc}.join(kFieldSepText);
}

} // namespace taxsim
