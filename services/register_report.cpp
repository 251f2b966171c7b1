#include "services/register_report.h"

#include <QMap>

namespace fp {

namespace {

ReportColumn text(const char* title, int width) { return {QString::fromUtf8(title), ReportColumn::Type::Text, width}; }
ReportColumn amount(const char* title, int width = 8) {
    return {QString::fromUtf8(title), ReportColumn::Type::Amount, width};
}
ReportColumn count(const char* title, int width = 4) {
    return {QString::fromUtf8(title), ReportColumn::Type::Count, width};
}

QString amountText(const Decimal& d) { return d.toString(2); }

QString signName(RegisterFilter::Sign sign) {
    switch (sign) {
    case RegisterFilter::Sign::RedOnly: return QStringLiteral("仅红字发票");
    case RegisterFilter::Sign::NormalOnly: return QStringLiteral("仅正数发票");
    case RegisterFilter::Sign::All: break;
    }
    return QString();
}

QString statusFilterName(const QString& status) {
    if (status == QLatin1String("1")) return QStringLiteral("有效");
    if (status == QLatin1String("2")) return QStringLiteral("作废");
    if (status == QLatin1String("3")) return QStringLiteral("空白作废");
    return status;
}

QString taxpayerLine(const QString& taxpayer) { return QStringLiteral("纳税人：") + taxpayer; }

} // namespace

QStringList registerHeading(const QString& taxpayer, const RegisterFilter& f) {
    QStringList conditions;
    if (!f.code.isEmpty()) conditions << QStringLiteral("发票代码 ") + f.code;
    if (!f.numberFrom.isEmpty() || !f.numberTo.isEmpty())
        conditions << QStringLiteral("发票号码 %1–%2").arg(f.numberFrom, f.numberTo);
    if (!f.status.isEmpty()) conditions << QStringLiteral("状态 ") + statusFilterName(f.status);
    if (f.sign != RegisterFilter::Sign::All) conditions << signName(f.sign);
    if (!f.kind.isEmpty()) conditions << QStringLiteral("种类 ") + f.kind;
    if (!f.issuer.isEmpty()) conditions << QStringLiteral("开票员 ") + f.issuer;
    if (!f.payer.isEmpty()) conditions << QStringLiteral("付款方含“%1”").arg(f.payer);
    const QString period = !f.month.isEmpty() ? QStringLiteral("月份：") + f.month
                                              : QStringLiteral("开票日期：%1 至 %2")
                                                    .arg(f.from.toString(QStringLiteral("yyyy-MM-dd")),
                                                         f.to.toString(QStringLiteral("yyyy-MM-dd")));
    QStringList lines{taxpayerLine(taxpayer), period};
    lines << QStringLiteral("条件：") +
                 (conditions.isEmpty() ? QStringLiteral("全部发票") : conditions.join(QStringLiteral("；")));
    return lines;
}

QStringList summaryHeading(const QString& taxpayer, const QString& month) {
    return {taxpayerLine(taxpayer), QStringLiteral("月份：") + month};
}

QString registerTotalsText(const RegisterTotals& t) {
    return QStringLiteral("有效 %1 份，作废 %2 份，空白作废 %3 份；正数发票金额 %4，红字发票金额 %5，净额 %6")
        .arg(t.valid)
        .arg(t.voided)
        .arg(t.blankVoided)
        .arg(amountText(t.normalSum), amountText(t.redSum), amountText(t.net()));
}

ReportTable registerReport(const QList<RegisterRow>& rows, const QStringList& heading) {
    ReportTable table;
    table.title = QStringLiteral("发票清单");
    table.headingLines = heading;
    // Widths in Chinese characters; a digit takes about half of one, and the
    // codes, numbers and dates must never be cut on paper.
    table.columns = {text("发票代码", 8),   text("发票号码", 6),       text("开票日期", 7),   text("发票种类", 5),
                     text("付款方", 11),    text("付款方证件号码", 9), amount("合计金额", 7), text("发票状态", 5),
                     text("原发票代码", 8), text("原发票号码", 6),     text("开票员", 4),     count("打印次数")};
    table.rows.reserve(rows.size());
    for (const RegisterRow& r : rows) {
        table.rows << QStringList{r.fpdm,
                                  r.fphm,
                                  r.kprq.isValid() ? r.kprq.toString(QStringLiteral("yyyy-MM-dd")) : QString(),
                                  r.kindName,
                                  r.fkfmc.trimmed(),
                                  r.fkfzjhm.trimmed(),
                                  r.hjje ? amountText(*r.hjje) : QString(),
                                  r.statusName,
                                  r.red() ? r.reversedCode : QString(),
                                  r.red() ? r.reversedNumber : QString(),
                                  r.kpr,
                                  QString::number(r.drcs)};
    }
    table.totalsLines << QStringLiteral("共 %1 份：").arg(rows.size()) + registerTotalsText(registerTotals(rows));
    return table;
}

ReportTable summaryReport(const MonthlySummary& summary, const QStringList& heading) {
    ReportTable table;
    table.title = QStringLiteral("月度汇总");
    table.headingLines = heading;
    table.columns = {text("发票代码", 8),      text("发票种类", 6),    text("项目", 5),        text("起号", 6),
                     text("止号", 6),          count("开具份数"),      count("作废份数"),      count("空白作废份数", 6),
                     count("红字份数"),        amount("正数发票金额"), amount("红字发票金额"), amount("净额"),
                     count("本月用号份数", 6), count("剩余份数")};
    // Each code's line, then its batches; a code with batches only shows zeros.
    QMap<QString, QList<const SummaryBatch*>> batchesOf;
    QMap<QString, SummaryLine> lineOf;
    for (const SummaryBatch& b : summary.batches) {
        batchesOf[b.fpdm + QLatin1Char('|') + b.fpzlbm] << &b;
        SummaryLine& l = lineOf[b.fpdm + QLatin1Char('|') + b.fpzlbm];
        l.fpdm = b.fpdm;
        l.fpzlbm = b.fpzlbm;
        l.kindName = b.kindName;
    }
    for (const SummaryLine& l : summary.lines) lineOf[l.fpdm + QLatin1Char('|') + l.fpzlbm] = l;
    qint64 leftInAll = 0;
    for (auto it = lineOf.cbegin(); it != lineOf.cend(); ++it) {
        const SummaryLine& l = it.value();
        const QList<const SummaryBatch*> batches = batchesOf.value(it.key());
        qint64 left = 0;
        for (const SummaryBatch* b : batches) left += b->left;
        leftInAll += left;
        table.rows << QStringList{l.fpdm,
                                  l.kindName,
                                  QStringLiteral("本月开具"),
                                  l.firstNumber,
                                  l.lastNumber,
                                  QString::number(l.issued),
                                  QString::number(l.voided),
                                  QString::number(l.blankVoided),
                                  QString::number(l.red),
                                  amountText(l.normalSum),
                                  amountText(l.redSum),
                                  amountText(l.net()),
                                  QString::number(l.issued + l.blankVoided),
                                  batches.isEmpty() ? QString() : QString::number(left)};
        for (const SummaryBatch* b : batches)
            table.rows << QStringList{b->fpdm,
                                      b->kindName,
                                      QStringLiteral("领购批次"),
                                      b->firstNumber,
                                      b->lastNumber,
                                      QString(),
                                      QString(),
                                      QString(),
                                      QString(),
                                      QString(),
                                      QString(),
                                      QString(),
                                      QString::number(b->usedInMonth),
                                      QString::number(b->left)};
    }
    const SummaryLine t = summary.total();
    table.totalsLines << QStringLiteral("合计：开具 %1 份（作废 %2 份，红字 %3 份），空白作废 %4 份；正数发票金额 %5，"
                                        "红字发票金额 %6，净额 %7；剩余 %8 份")
                             .arg(t.issued)
                             .arg(t.voided)
                             .arg(t.red)
                             .arg(t.blankVoided)
                             .arg(amountText(t.normalSum), amountText(t.redSum), amountText(t.net()))
                             .arg(leftInAll);
    return table;
}

} // namespace fp
