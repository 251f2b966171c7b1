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
    return head + QStringLiteral("\r\nsqlcode = ") + QString::number(t.sqlcode) + QStringLiteral("\r\nsqlerrtext = ")
           + t.sqlerrtext;
}

// Rolls back, then shows `text` and gives `result`.
bool stop(HostServices& host, Transaction& sqlca, const QString& text, bool result) {
    sqlca.rollback();
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
// number may also be empty (nothing used yet). The first that is not one, or
// an empty text.
QString badNumber(const QStringList& fields, std::initializer_list<int> numbers, int mayBeEmpty) {
    for (int i : numbers) {
        const QString& n = fields.at(i);
        if (i == mayBeEmpty && n.isEmpty()) continue;
        if (!isInvoiceNumber(n)) return QStringLiteral("发票数据提取失败：发票号码“") + n + QStringLiteral("”不是8位数字！");
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
    static const QString kDeleteTp = QStringLiteral(
        "DELETE FROM bdcja_sgtp WHERE lglsh = ? AND sxh = ? AND fpdm = ? AND tpqh = ? AND tpzh = ?");
    static const QString kInsertTp = QStringLiteral(
        "INSERT INTO bdcja_sgtp ( lglsh , swjgdm , sxh , fpzlbm , fpdm , tpqh , tpzh , tprq ) "
        "VALUES ( ?, ?, ?, ?, ?, ?, ?, ? )");

    const QStringList records = f_split_str(as_ref, kSepLine).val1;
    QVariantList binds;
    for (const QString& record : records) {
        if (record.isEmpty()) continue;
        const QStringList f = f_split_str(record, kSepField).val1;
        if (f.isEmpty()) return stop(host, sqlca, QStringLiteral("发票数据提取失败1！"), false);
        const QString& type = f.at(0);
        if (type == QLatin1String("lg")) {
            if (f.size() != 11) return stop(host, sqlca, QStringLiteral("发票数据提取失败2！"), false);
            if (const QString e = badNumber(f, {6, 7, 8}, 8); !e.isEmpty()) return stop(host, sqlca, e, false);
            QVariant fsrq;
            if (!stockDate(f.at(10), fsrq)) return stop(host, sqlca, badDate(f.at(10)), false);
            sqlca.exec(kDeleteLg, {f.at(1)});
            binds = {f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6), f.at(7), f.at(8), f.at(9), fsrq};
            sqlca.exec(kInsertLg, binds);
        } else if (type == QLatin1String("tp")) {
            if (f.size() != 10) return stop(host, sqlca, QStringLiteral("发票数据提取失败3！"), false);
            if (const QString e = badNumber(f, {6, 7}, -1); !e.isEmpty()) return stop(host, sqlca, e, false);
            QVariant tprq;
            if (!stockDate(f.at(8), tprq)) return stop(host, sqlca, badDate(f.at(8)), false);
            sqlca.exec(kDeleteTp, {f.at(1), f.at(3), f.at(5), f.at(6), f.at(7)});
            binds = {f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6), f.at(7), tprq};
            sqlca.exec(kInsertTp, binds);
        } else {
            return stop(host, sqlca, QStringLiteral("发票数据提取失败4！"), false);
        }
        if (sqlca.sqlcode != 0)
            return stop(host, sqlca, dbFailure(QStringLiteral("发票数据提取失败5！"), sqlca), false);
    }
    if (records.isEmpty()) {
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

    const QStringList parts = f_split_str(as_ref, kSepHeader).val1;
    if (parts.size() < 2) {
        host.mess(QStringLiteral("发票种类及发票代码信息提取有误！"));
        return false;
    }

    // A part whose records are all empty holds no record either: it must not
    // empty the table it would replace.
    const QStringList kinds = f_split_str(parts.at(0), kSepLine).val1;
    int kindCount = 0;
    sqlca.exec(QStringLiteral("DELETE FROM bm_bdcja_fpzl"));
    for (const QString& record : kinds) {
        if (record.isEmpty()) continue;
        ++kindCount;
        const QStringList f = f_split_str(record, kSepField).val1;
        if (f.size() != 5) return stop(host, sqlca, QStringLiteral("发票种类信息提取失败！"), false);
        // yxj: a whole number; blank is NULL, anything else that is not one is refused.
        QVariant yxj;
        if (!f.at(4).trimmed().isEmpty()) {
            const auto d = Decimal::parseAmount(f.at(4));
            if (!d || d->places() > 0)
                return stop(host, sqlca,
                            QStringLiteral("发票种类信息提取失败：优先级“") + f.at(4) + QStringLiteral("”不是有效的整数！"),
                            false);
            yxj = qlonglong(d->raw() / 10000);
        }
        if (!sqlca.exec(QStringLiteral("INSERT INTO bm_bdcja_fpzl ( fpzlbm , kplx , fpqc , fpjc , yxj ) "
                                       "VALUES ( ?, ?, ?, ?, ? )"),
                        {f.at(0), f.at(1), f.at(2), f.at(3), yxj}))
            return stop(host, sqlca, dbFailure(QStringLiteral("发票种类添加失败！"), sqlca), false);
    }
    if (kindCount == 0) return stop(host, sqlca, QStringLiteral("没有找到发票种类信息！"), true);

    const QStringList codes = f_split_str(parts.at(1), kSepLine).val1;
    int codeCount = 0;
    sqlca.exec(QStringLiteral("DELETE FROM bm_bdcja_fpdm"));
    for (const QString& record : codes) {
        if (record.isEmpty()) continue;
        ++codeCount;
        const QStringList f = f_split_str(record, kSepField).val1;
        if (f.size() != 2) return stop(host, sqlca, QStringLiteral("发票代码信息提取失败！"), false);
        if (!sqlca.exec(QStringLiteral("INSERT INTO bm_bdcja_fpdm ( fpdm , fpzlbm ) VALUES ( ?, ? )"),
                        {f.at(0), f.at(1)}))
            return stop(host, sqlca, dbFailure(QStringLiteral("发票代码添加失败！"), sqlca), false);
    }
    if (codeCount == 0) return stop(host, sqlca, QStringLiteral("没有找到发票代码信息！"), true);

    return commitOrReport(host, sqlca, QStringLiteral("发票代码添加失败！"));
}

} // namespace fp
