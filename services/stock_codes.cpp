#include "services/stock_codes.h"

#include "data_model/decimal.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "services/invoice_fetch.h"
#include "services/remote_text.h"

#include <QVariant>

namespace fp {

namespace {

QString dbFailure(const QString& head, const Transaction& t) {
    return head + QStringLiteral("\r\nsqlcode = ") + QString::number(t.sqlcode) + QStringLiteral("\r\nsqlerrtext = ") +
           t.sqlerrtext;
}

// Rolls back, then shows `text` and gives `result`.
bool stop(HostServices& host, Transaction& sqlca, const QString& text, bool result) {
    (void)sqlca.rollback(); // the failure to report is `text`
    host.mess(text);
    return result;
}

// A stock date text as a bound value: NULL when blank, invalid text -> false.
bool stockDate(const QString& text, QVariant& out) {
    if (text.trimmed().isEmpty()) {
        out = QVariant();
        return true;
    }
    const QDateTime dt = parseServerDateText(text);
    if (!dt.isValid()) return false;
    out = QVariant(dt);
    return true;
}

// The numbers of a stock record: each exactly eight digits; the last-used
// number may also be empty or blank (nothing used yet). The first that is not
// one, or an empty text.
QString badNumber(const QStringList& fields, std::initializer_list<int> numbers, int mayBeEmpty) {
    for (int i : numbers) {
        const QString& n = fields.at(i);
        if (i == mayBeEmpty && n.trimmed().isEmpty()) continue;
        if (!isInvoiceNumber(n))
            return QStringLiteral("发票数据提取失败：发票号码“") + n + QStringLiteral("”不是8位数字！");
    }
    return QString();
}

QString badDate(const QString& text) {
    return QStringLiteral("发票数据提取失败：日期“") + text + QStringLiteral("”无效！");
}

// Commits; a failed commit is rolled back and reported like a failed write.
bool commitOrReport(HostServices& host, Transaction& sqlca, const QString& head) {
    if (sqlca.commit()) return true;
    return stop(host, sqlca, dbFailure(head, sqlca), false);
}

} // namespace

bool parseStockText(const QString& text, StockText& out, QString& error) {
    out = StockText();
    const QStringList records = f_split_str(text, kSepLine).val1;
    out.anyEntry = !records.isEmpty();
    auto refuse = [&](const QString& message) {
        error = message;
        return false;
    };
    for (const QString& record : records) {
        if (record.isEmpty()) continue;
        const QStringList f = f_split_str(record, kSepField).val1;
        if (f.isEmpty()) return refuse(QStringLiteral("发票数据提取失败1！"));
        const QString& type = f.at(0);
        StockText::Record r;
        if (type == QLatin1String("lg")) {
            if (f.size() != 11) return refuse(QStringLiteral("发票数据提取失败2！"));
            if (const QString e = badNumber(f, {6, 7, 8}, 8); !e.isEmpty()) return refuse(e);
            QVariant fsrq;
            if (!stockDate(f.at(10), fsrq)) return refuse(badDate(f.at(10)));
            r.purchase = true;
            r.key = {f.at(1)};
            // A blank last-used number is stored empty, as nothing used yet.
            const QString zjsyh = f.at(8).trimmed().isEmpty() ? QStringLiteral("") : f.at(8);
            r.values = {f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6), f.at(7), zjsyh, f.at(9), fsrq};
        } else if (type == QLatin1String("tp")) {
            if (f.size() != 10) return refuse(QStringLiteral("发票数据提取失败3！"));
            if (const QString e = badNumber(f, {6, 7}, -1); !e.isEmpty()) return refuse(e);
            QVariant tprq;
            if (!stockDate(f.at(8), tprq)) return refuse(badDate(f.at(8)));
            r.purchase = false;
            r.key = {f.at(1), f.at(3), f.at(5), f.at(6), f.at(7)};
            r.values = {f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6), f.at(7), tprq};
        } else {
            return refuse(QStringLiteral("发票数据提取失败4！"));
        }
        out.records.append(r);
    }
    return true;
}

bool parseCodeText(const QString& text, CodeText& out, QString& error) {
    out = CodeText();
    auto refuse = [&](const QString& message) {
        error = message;
        return false;
    };
    const QStringList parts = f_split_str(text, kSepHeader).val1;
    if (parts.size() < 2) return refuse(QStringLiteral("发票种类及发票代码信息提取有误！"));
    for (const QString& record : f_split_str(parts.at(0), kSepLine).val1) {
        if (record.isEmpty()) continue;
        const QStringList f = f_split_str(record, kSepField).val1;
        if (f.size() != 5) return refuse(QStringLiteral("发票种类信息提取失败！"));
        // yxj: a whole number; blank is NULL, anything else that is not one is refused.
        QVariant yxj;
        if (!f.at(4).trimmed().isEmpty()) {
            const auto d = Decimal::parseAmount(f.at(4));
            if (!d || d->places() > 0)
                return refuse(QStringLiteral("发票种类信息提取失败：优先级“") + f.at(4) +
                              QStringLiteral("”不是有效的整数！"));
            yxj = qlonglong(d->toCents() / 100);
        }
        out.kinds.append(QVariantList{f.at(0), f.at(1), f.at(2), f.at(3), yxj});
    }
    // Without kinds the codes are not read: nothing will be replaced.
    if (out.kinds.isEmpty()) return true;
    for (const QString& record : f_split_str(parts.at(1), kSepLine).val1) {
        if (record.isEmpty()) continue;
        const QStringList f = f_split_str(record, kSepField).val1;
        if (f.size() != 2) return refuse(QStringLiteral("发票代码信息提取失败！"));
        out.codes.append(QVariantList{f.at(0), f.at(1)});
    }
    return true;
}

bool gf_save_fplgqk(HostServices& host, const QString& as_ref) {
    if (as_ref.isNull()) return false;
    Transaction* t = host.session().sqlca;
    if (!t) return false;
    Transaction& sqlca = *t;
    TxGuard guard(sqlca);

    static const QString kDeleteLg = QStringLiteral("DELETE FROM bdcja_fplg WHERE lglsh = ?");
    static const QString kInsertLg = QStringLiteral(
        "INSERT INTO bdcja_fplg ( lglsh , swjgdm , sxh , fpzlbm , fpdm , fpqh , fpzh , zjsyh , bjbz , fsrq ) "
        "VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ? )");
    static const QString kDeleteTp =
        QStringLiteral("DELETE FROM bdcja_sgtp WHERE lglsh = ? AND sxh = ? AND fpdm = ? AND tpqh = ? AND tpzh = ?");
    static const QString kInsertTp =
        QStringLiteral("INSERT INTO bdcja_sgtp ( lglsh , swjgdm , sxh , fpzlbm , fpdm , tpqh , tpzh , tprq ) "
                       "VALUES ( ?, ?, ?, ?, ?, ?, ?, ? )");

    StockText stock;
    QString refused;
    if (!parseStockText(as_ref, stock, refused)) return stop(host, sqlca, refused, false);
    for (const StockText::Record& r : stock.records) {
        // A purchase replaces the stored one of its serial whole; a return only
        // the identical returned range. The deletions' results are not examined:
        // a deletion that fails leaves its row, and the insert after it fails on
        // that row's key.
        (void)sqlca.exec(r.purchase ? kDeleteLg : kDeleteTp, r.key);
        if (!sqlca.exec(r.purchase ? kInsertLg : kInsertTp, r.values))
            return stop(host, sqlca, dbFailure(QStringLiteral("发票数据提取失败5！"), sqlca), false);
    }
    if (!stock.anyEntry) {
        host.mess(QStringLiteral("没有找到发票领购信息！"));
        return true;
    }
    return commitOrReport(host, sqlca, QStringLiteral("发票数据提取失败5！"));
}

bool gf_save_fpzldm(HostServices& host, const QString& as_ref) {
    if (as_ref.isNull()) return false;
    Transaction* t = host.session().sqlca;
    if (!t) return false;
    Transaction& sqlca = *t;
    TxGuard guard(sqlca);

    CodeText tables;
    QString refused;
    if (!parseCodeText(as_ref, tables, refused)) return stop(host, sqlca, refused, false);
    // A part without a single record (an empty one, or one of empty records)
    // must not empty the table it would replace. The kinds are written before
    // the code part is looked at: a kind that cannot be stored is a failure,
    // whatever the code part holds.
    if (tables.kinds.isEmpty()) return stop(host, sqlca, QStringLiteral("没有找到发票种类信息！"), true);

    if (!sqlca.exec(QStringLiteral("DELETE FROM bm_bdcja_fpzl")))
        return stop(host, sqlca, dbFailure(QStringLiteral("发票种类添加失败！"), sqlca), false);
    for (const QVariantList& kind : tables.kinds)
        if (!sqlca.exec(QStringLiteral("INSERT INTO bm_bdcja_fpzl ( fpzlbm , kplx , fpqc , fpjc , yxj ) "
                                       "VALUES ( ?, ?, ?, ?, ? )"),
                        kind))
            return stop(host, sqlca, dbFailure(QStringLiteral("发票种类添加失败！"), sqlca), false);
    if (tables.codes.isEmpty()) return stop(host, sqlca, QStringLiteral("没有找到发票代码信息！"), true);
    if (!sqlca.exec(QStringLiteral("DELETE FROM bm_bdcja_fpdm")))
        return stop(host, sqlca, dbFailure(QStringLiteral("发票代码添加失败！"), sqlca), false);
    for (const QVariantList& code : tables.codes)
        if (!sqlca.exec(QStringLiteral("INSERT INTO bm_bdcja_fpdm ( fpdm , fpzlbm ) VALUES ( ?, ? )"), code))
            return stop(host, sqlca, dbFailure(QStringLiteral("发票代码添加失败！"), sqlca), false);
    return commitOrReport(host, sqlca, QStringLiteral("发票代码添加失败！"));
}

} // namespace fp
