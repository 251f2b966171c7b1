#include "services/invoice_register.h"

#include "data_model/transaction.h"
#include "services/invoice_fetch.h"

#include <QRegularExpression>

namespace fp {

namespace {

// One header table's part of the register: its columns in the order of
// RegisterRow, and the filter's conditions with their values. The estate
// tables hold no red-letter invoices.
QString branchSql(const QString& table, bool reversible, const RegisterFilter& f, QVariantList& binds) {
    const QString& day = registerDayOf();
    QString sql = QStringLiteral("SELECT h.fpdm, h.fphm, %1, h.fpzlbm, k.fpjc, h.fkfmc, h.fkfzjhm, h.hjje, h.fpzt, "
                                 "%2, %3, h.kpr, h.drcs FROM %4 h LEFT JOIN bm_bdcja_fpzl k ON k.fpzlbm = h.fpzlbm "
                                 "WHERE h.sxh = ?")
                      .arg(day, reversible ? QStringLiteral("h.extprop2") : QStringLiteral("''"),
                           reversible ? QStringLiteral("h.extprop1") : QStringLiteral("''"), table);
    const auto add = [&](const QString& condition, const QVariant& value) {
        sql += QStringLiteral(" AND ") + condition;
        binds << value;
    };
    // A month is the range of its days, so that the index serves it.
    const QDate from = f.month.isEmpty() ? f.from : firstDayOfMonth(f.month);
    const QDate to = f.month.isEmpty() ? f.to : from.addMonths(1).addDays(-1);
    if (from.isValid()) add(day + QStringLiteral(" >= ?"), QDateTime(from, QTime(0, 0)));
    if (to.isValid()) add(day + QStringLiteral(" < ?"), QDateTime(to.addDays(1), QTime(0, 0)));
    if (!f.code.isEmpty()) add(QStringLiteral("h.fpdm = ?"), f.code);
    if (!f.numberFrom.isEmpty()) add(QStringLiteral("h.fphm >= ?"), f.numberFrom);
    if (!f.numberTo.isEmpty()) add(QStringLiteral("h.fphm <= ?"), f.numberTo);
    if (!f.status.isEmpty()) add(QStringLiteral("h.fpzt = ?"), f.status);
    if (!f.kind.isEmpty()) add(QStringLiteral("h.fpzlbm = ?"), f.kind);
    if (!f.issuer.isEmpty()) add(QStringLiteral("h.kpr = ?"), f.issuer);
    if (!f.payer.isEmpty()) {
        // The payer's text is matched as it stands: % and _ are no wildcards.
        QString pattern = f.payer;
        pattern.replace(QLatin1Char('!'), QStringLiteral("!!"))
            .replace(QLatin1Char('%'), QStringLiteral("!%"))
            .replace(QLatin1Char('_'), QStringLiteral("!_"));
        add(QStringLiteral("h.fkfmc LIKE ? ESCAPE '!'"), QString(QLatin1Char('%') + pattern + QLatin1Char('%')));
    }
    const QString red = QStringLiteral("TRIM(COALESCE(h.extprop1, '')) <> ''");
    if (f.sign == RegisterFilter::Sign::RedOnly)
        sql += reversible ? QStringLiteral(" AND ") + red : QStringLiteral(" AND 1 = 0");
    if (f.sign == RegisterFilter::Sign::NormalOnly && reversible)
        sql += QStringLiteral(" AND NOT ( ") + red + QStringLiteral(" )");
    return sql;
}

} // namespace

const QString& registerDayOf() {
    static const QString day = QStringLiteral("COALESCE(h.kprq, h.bcrq)");
    return day;
}

QDate firstDayOfMonth(const QString& month) {
    static const QRegularExpression shape(QStringLiteral("^[0-9]{4}-[0-9]{2}$"));
    if (!shape.match(month).hasMatch()) return QDate();
    return QDate(month.left(4).toInt(), month.mid(5, 2).toInt(), 1);
}

QString monthRefusal(const QString& month) {
    return QStringLiteral("月份“%1”无效，应为“年-月”，如 2026-12。").arg(month);
}

std::optional<QList<RegisterRow>> readRegister(Transaction& t, const QString& sxh, const RegisterFilter& filter,
                                               QString* error) {
    if (!filter.month.isEmpty() && !firstDayOfMonth(filter.month).isValid()) {
        if (error) *error = monthRefusal(filter.month);
        return std::nullopt;
    }
    QVariantList binds{sxh};
    QString sql = branchSql(QStringLiteral("ptfp_fpk"), true, filter, binds);
    binds << sxh;
    sql += QStringLiteral(" UNION ALL ") + branchSql(QStringLiteral("bdcja_fpk"), false, filter, binds) +
           QStringLiteral(" ORDER BY 1, 2");
    const QList<QVariantList> found = t.selectAll(sql, binds);
    if (t.sqlcode == -1) {
        if (error) *error = t.sqlerrtext;
        return std::nullopt;
    }
    QList<RegisterRow> rows;
    rows.reserve(found.size());
    for (const QVariantList& r : found) {
        RegisterRow row;
        row.fpdm = r.value(0).toString();
        row.fphm = r.value(1).toString();
        row.kprq = t.dateTimeAt(r.value(2));
        row.fpzlbm = r.value(3).toString();
        row.kindName = r.value(4).toString();
        row.fkfmc = r.value(5).toString();
        row.fkfzjhm = r.value(6).toString();
        row.hjje = t.decimalAt(r.value(7));
        row.fpzt = r.value(8).toString();
        row.statusName = f_get_fpzt_name(row.fpzt);
        row.reversedCode = r.value(9).toString();
        row.reversedNumber = r.value(10).toString();
        row.kpr = r.value(11).toString();
        row.drcs = r.value(12).toLongLong();
        rows << row;
    }
    return rows;
}

RegisterTotals registerTotals(const QList<RegisterRow>& rows) {
    RegisterTotals totals;
    for (const RegisterRow& r : rows) {
        if (r.fpzt == QLatin1String("2")) ++totals.voided;
        if (r.fpzt == QLatin1String("3")) ++totals.blankVoided;
        if (r.fpzt != QLatin1String("1")) continue;
        ++totals.valid;
        const Decimal amount = r.hjje.value_or(Decimal::fromInt(0));
        if (r.red())
            totals.redSum = totals.redSum + amount;
        else
            totals.normalSum = totals.normalSum + amount;
    }
    return totals;
}

} // namespace fp
