#include "services/monthly_summary.h"

#include "data_model/transaction.h"
#include "services/invoice_register.h"

#include <QDateTime>
#include <QMap>
#include <utility>

namespace fp {

namespace {

// One header table's figures of the month, per code and kind. Amounts are
// added up by the database (exact on both engines: cents on SQLite, numeric
// on PostgreSQL). The estate tables hold no red-letter invoices.
QString linesSql(const QString& table, bool reversible) {
    const QString red = reversible ? QStringLiteral("TRIM(COALESCE(h.extprop1, '')) <> ''") : QStringLiteral("1 = 0");
    const QString& day = registerDayOf();
    return QStringLiteral("SELECT h.fpdm, h.fpzlbm, MIN(h.fphm), MAX(h.fphm), "
                          "SUM(CASE WHEN h.fpzt IN ('1', '2') THEN 1 ELSE 0 END), "
                          "SUM(CASE WHEN h.fpzt = '2' THEN 1 ELSE 0 END), "
                          "SUM(CASE WHEN h.fpzt = '3' THEN 1 ELSE 0 END), "
                          "SUM(CASE WHEN h.fpzt IN ('1', '2') AND %1 THEN 1 ELSE 0 END), "
                          "SUM(CASE WHEN h.fpzt = '1' AND NOT ( %1 ) THEN h.hjje END), "
                          "SUM(CASE WHEN h.fpzt = '1' AND %1 THEN h.hjje END) "
                          "FROM %2 h WHERE h.sxh = ? AND %3 >= ? AND %3 < ? GROUP BY h.fpdm, h.fpzlbm")
        .arg(red, table, day);
}

// Numbers of batch g used before `?` (both header tables).
QString usedBeforeSql(const QString& table) {
    return QStringLiteral("(SELECT count(*) FROM %1 h WHERE h.sxh = g.sxh AND h.fpdm = g.fpdm AND h.fphm >= g.fpqh AND "
                          "h.fphm <= g.fpzh "
                          "AND %2 < ?)")
        .arg(table, registerDayOf());
}

Decimal decimalOr0(Transaction& t, const QVariant& v) { return t.decimalAt(v).value_or(Decimal::fromInt(0)); }

bool readLines(Transaction& t, const QString& sxh, const QDateTime& from, const QDateTime& to, MonthlySummary& out) {
    const QString sql = linesSql(QStringLiteral("ptfp_fpk"), true) + QStringLiteral(" UNION ALL ") +
                        linesSql(QStringLiteral("bdcja_fpk"), false);
    const QList<QVariantList> found = t.selectAll(sql, {sxh, from, to, sxh, from, to});
    if (t.sqlcode == -1) return false;
    // Both tables may hold a code (they should not): its figures are added.
    QMap<std::pair<QString, QString>, SummaryLine> byCode;
    for (const QVariantList& r : found) {
        SummaryLine& l = byCode[{r.value(0).toString(), r.value(1).toString()}];
        const QString first = r.value(2).toString(), last = r.value(3).toString();
        if (l.fpdm.isEmpty()) {
            l.fpdm = r.value(0).toString();
            l.fpzlbm = r.value(1).toString();
            l.firstNumber = first;
            l.lastNumber = last;
        }
        l.firstNumber = qMin(l.firstNumber, first);
        l.lastNumber = qMax(l.lastNumber, last);
        l.issued += r.value(4).toInt();
        l.voided += r.value(5).toInt();
        l.blankVoided += r.value(6).toInt();
        l.red += r.value(7).toInt();
        l.normalSum = l.normalSum + decimalOr0(t, r.value(8));
        l.redSum = l.redSum + decimalOr0(t, r.value(9));
    }
    out.lines = byCode.values();
    return true;
}

bool readBatches(Transaction& t, const QString& sxh, const QDateTime& from, const QDateTime& to, MonthlySummary& out) {
    const QString sql = QStringLiteral("SELECT g.fpdm, g.fpzlbm, g.fpqh, g.fpzh, %1 + %2, %3 + %4 FROM bdcja_fplg g "
                                       "WHERE g.sxh = ? AND ( g.fsrq IS NULL OR g.fsrq < ? ) ORDER BY g.fpdm, g.fpqh")
                            .arg(usedBeforeSql(QStringLiteral("ptfp_fpk")), usedBeforeSql(QStringLiteral("bdcja_fpk")),
                                 usedBeforeSql(QStringLiteral("ptfp_fpk")), usedBeforeSql(QStringLiteral("bdcja_fpk")));
    const QList<QVariantList> found = t.selectAll(sql, {to, to, from, from, sxh, to});
    if (t.sqlcode == -1) return false;
    for (const QVariantList& r : found) {
        SummaryBatch b;
        b.fpdm = r.value(0).toString();
        b.fpzlbm = r.value(1).toString();
        b.firstNumber = r.value(2).toString();
        b.lastNumber = r.value(3).toString();
        b.size = qMax<qint64>(0, b.lastNumber.toLongLong() - b.firstNumber.toLongLong() + 1);
        const qint64 usedByEnd = r.value(4).toLongLong();
        const qint64 usedByStart = r.value(5).toLongLong();
        b.usedInMonth = usedByEnd - usedByStart;
        b.left = qMax<qint64>(0, b.size - usedByEnd);
        // A batch used up before the month is no figure of it.
        if (b.usedInMonth == 0 && b.left == 0) continue;
        out.batches << b;
    }
    return true;
}

bool readKindNames(Transaction& t, MonthlySummary& out) {
    QMap<QString, QString> names;
    for (const QVariantList& r : t.selectAll(QStringLiteral("SELECT fpzlbm, fpjc FROM bm_bdcja_fpzl")))
        names.insert(r.value(0).toString(), r.value(1).toString());
    if (t.sqlcode == -1) return false;
    for (SummaryLine& l : out.lines) l.kindName = names.value(l.fpzlbm);
    for (SummaryBatch& b : out.batches) b.kindName = names.value(b.fpzlbm);
    return true;
}

} // namespace

SummaryLine MonthlySummary::total() const {
    SummaryLine sum;
    for (const SummaryLine& l : lines) {
        sum.issued += l.issued;
        sum.voided += l.voided;
        sum.blankVoided += l.blankVoided;
        sum.red += l.red;
        sum.normalSum = sum.normalSum + l.normalSum;
        sum.redSum = sum.redSum + l.redSum;
    }
    return sum;
}

std::optional<MonthlySummary> readMonthlySummary(Transaction& t, const QString& sxh, const QString& month,
                                                 QString* error) {
    const QDate first = firstDayOfMonth(month);
    if (!first.isValid()) {
        if (error) *error = monthRefusal(month);
        return std::nullopt;
    }
    const QDateTime from(first, QTime(0, 0));
    const QDateTime to(first.addMonths(1), QTime(0, 0));
    MonthlySummary summary;
    summary.month = month;
    if (!readLines(t, sxh, from, to, summary) || !readBatches(t, sxh, from, to, summary) ||
        !readKindNames(t, summary)) {
        if (error) *error = t.sqlerrtext;
        return std::nullopt;
    }
    return summary;
}

} // namespace fp
