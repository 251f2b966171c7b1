// Taxpayers, stock and code tables: the demo data and the seed file lines.
#include "data_model/demo_constants.h"
#include "data_model/demo_data.h"
#include "taxsim/service_impl.h"

namespace taxsim {

namespace {

QDateTime parseSeedDate(const QString& text) {
    const QString t = text.trimmed();
    QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(kDateTimeFormat));
    if (!dt.isValid()) dt = QDateTime::fromString(t, QStringLiteral("yyyy-MM-dd"));
    return dt;
}

QString demo(const char* text) { return QString::fromUtf8(text); }

} // namespace

void Service::Impl::addTaxOffice(const QString& swjgdm, const QString& swjgmc) {
    run(QStringLiteral("INSERT OR REPLACE INTO tax_office (swjgdm, swjgmc) VALUES (?, ?)"), {swjgdm, swjgmc});
    forgetTaxpayers(); // the office's name is part of what is remembered
}

void Service::Impl::addTaxpayer(const Taxpayer& t) {
    run(QStringLiteral("INSERT OR REPLACE INTO taxpayer (sxh, password, name, nsrsbh, lxdh, swjgdm)"
                       " VALUES (?, ?, ?, ?, ?, ?)"),
        {t.sxh, t.password, t.name, t.nsrsbh, t.lxdh, t.swjgdm});
    forgetTaxpayers();
}

void Service::Impl::addKind(const InvoiceKind& k) {
    run(QStringLiteral("INSERT OR REPLACE INTO invoice_kind (fpzlbm, kplx, fpqc, fpjc, yxj) VALUES (?, ?, ?, ?, ?)"),
        {k.fpzlbm, k.kplx, k.fpqc, k.fpjc, k.yxj});
}

void Service::Impl::addCode(const QString& fpdm, const QString& fpzlbm) {
    run(QStringLiteral("INSERT OR REPLACE INTO invoice_code (fpdm, fpzlbm) VALUES (?, ?)"), {fpdm, fpzlbm});
}

// A number is sold once: a purchase may not share numbers with another
// purchase of its code (it may replace its own earlier record).
void Service::Impl::refuseOverlap(const Purchase& p) {
    QSqlQuery& q = run(QStringLiteral("SELECT lglsh, fpqh, fpzh FROM purchase"
                                      " WHERE fpdm = ? AND fpqh <= ? AND lglsh <> ? ORDER BY fpqh DESC LIMIT 1"),
                       {p.fpdm, p.fpzh, p.lglsh});
    if (q.next() && q.value(2).toString() >= p.fpqh)
        throw Refusal{QStringLiteral("领购号段") + p.fpqh + QStringLiteral("-") + p.fpzh +
                      QStringLiteral("与领购记录") + q.value(0).toString() + QStringLiteral("的号段") +
                      q.value(1).toString() + QStringLiteral("-") + q.value(2).toString() + QStringLiteral("重叠")};
}

void Service::Impl::addPurchase(const Purchase& p) {
    if (p.lglsh.isEmpty() || p.sxh.isEmpty() || p.fpdm.isEmpty())
        throw Refusal{QStringLiteral("领购记录缺少领购流水号、顺序号或发票代码")};
    if (!isInvoiceNumber(p.fpqh) || !isInvoiceNumber(p.fpzh) || p.fpqh > p.fpzh)
        throw Refusal{QStringLiteral("领购号段有误：") + p.fpqh + QStringLiteral("-") + p.fpzh};
    QString swjgdm = p.swjgdm;
    if (swjgdm.isEmpty()) {
        const std::optional<TaxpayerRow> tp = taxpayer(p.sxh);
        if (!tp) throw Refusal{QStringLiteral("纳税人不存在：") + p.sxh};
        swjgdm = tp->t.swjgdm;
    }
    QString kind = p.fpzlbm;
    if (kind.isEmpty()) kind = codeKind(p.fpdm);
    if (kind.isEmpty()) throw Refusal{QStringLiteral("发票代码不存在：") + p.fpdm};
    refuseOverlap(p);
    const QDateTime fsrq = p.fsrq.isValid() ? p.fsrq : now();
    run(QStringLiteral("INSERT OR REPLACE INTO purchase (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, bjbz, fsrq)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {p.lglsh, swjgdm, p.sxh, kind, p.fpdm, p.fpqh, p.fpzh, p.bjbz.isEmpty() ? QStringLiteral("0") : p.bjbz,
         fsrq.toString(QString::fromLatin1(kDateTimeFormat))});
    refreshLastUsed(p.lglsh);
}

void Service::Impl::addReturn(const ReturnedRange& r) {
    QSqlQuery& q = run(QStringLiteral("SELECT fpqh, fpzh FROM purchase WHERE lglsh = ?"), {r.lglsh});
    if (!q.next()) throw Refusal{QStringLiteral("领购记录不存在：") + r.lglsh};
    if (!isInvoiceNumber(r.tpqh) || !isInvoiceNumber(r.tpzh) || r.tpqh > r.tpzh || r.tpqh < q.value(0).toString() ||
        r.tpzh > q.value(1).toString())
        throw Refusal{QStringLiteral("退库号段有误：") + r.tpqh + QStringLiteral("-") + r.tpzh};
    const QDateTime tprq = r.tprq.isValid() ? r.tprq : now();
    run(QStringLiteral("DELETE FROM stock_return WHERE lglsh = ? AND tpqh = ? AND tpzh = ?"),
        {r.lglsh, r.tpqh, r.tpzh});
    run(QStringLiteral("INSERT INTO stock_return (lglsh, tpqh, tpzh, tprq) VALUES (?, ?, ?, ?)"),
        {r.lglsh, r.tpqh, r.tpzh, tprq.toString(QString::fromLatin1(kDateTimeFormat))});
}

void Service::Impl::seedDemo() {
    using namespace fp::demo;
    addTaxOffice(demo(kSwjgdm), demo(kSwjgmc));
    addTaxpayer({demo(kSxh), demo(kPassword), demo(kTaxpayerName), demo(kNsrsbh), demo(kNsrlxdh), demo(kSwjgdm)});
    addKind({QStringLiteral("50"), QStringLiteral("2"), QStringLiteral("综合统一发票"), QStringLiteral("综合发票"), 1});
    addKind({QStringLiteral("20"), QStringLiteral("2"), QStringLiteral("不动产销售统一发票"),
             QStringLiteral("不动产发票"), 2});
    addKind(
        {QStringLiteral("40"), QStringLiteral("2"), QStringLiteral("建筑业统一发票"), QStringLiteral("建筑业发票"), 3});
    addKind({QStringLiteral("10"), QStringLiteral("1"), QStringLiteral("代开统一发票"), QStringLiteral("代开发票"), 4});
    addCode(demo(kCode50), QStringLiteral("50"));
    addCode(demo(kCode50Returned), QStringLiteral("50"));
    addCode(demo(kCode20), QStringLiteral("20"));
    addCode(demo(kCode40), QStringLiteral("40"));
    // The same purchases as the client's demo database.
    const QDateTime sold(QDate(2009, 1, 5), QTime(9, 0, 0));
    const QDateTime returned(QDate(2009, 2, 10), QTime(10, 0, 0));
    const QString first = QStringLiteral("00000001");
    addPurchase({demo(kLglsh50),
                 demo(kSxh),
                 demo(kCode50),
                 first,
                 QStringLiteral("00000100"),
                 {},
                 {},
                 QStringLiteral("0"),
                 sold});
    addPurchase({demo(kLglsh50Returned),
                 demo(kSxh),
                 demo(kCode50Returned),
                 first,
                 QStringLiteral("00000050"),
                 {},
                 {},
                 QStringLiteral("0"),
                 sold});
    addReturn({demo(kLglsh50Returned), first, QStringLiteral("00000050"), returned});
    addPurchase({demo(kLglsh20),
                 demo(kSxh),
                 demo(kCode20),
                 first,
                 QStringLiteral("00000050"),
                 {},
                 {},
                 QStringLiteral("0"),
                 sold});
    addPurchase({demo(kLglsh40),
                 demo(kSxh),
                 demo(kCode40),
                 first,
                 QStringLiteral("00000050"),
                 {},
                 {},
                 QStringLiteral("0"),
                 sold});
}

void Service::Impl::seedLine(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) return;
    const QStringList f = trimmed.split(QLatin1Char('|'));
    const QString type = f.first().trimmed();
    auto need = [&](int min, int max) {
        if (f.size() < min || f.size() > max)
            throw Refusal{QStringLiteral("“") + type + QStringLiteral("”记录的字段数有误：") +
                          QString::number(f.size())};
    };
    if (type == QLatin1String("demo")) {
        need(1, 1);
        seedDemo();
    } else if (type == QLatin1String("office")) {
        need(3, 3);
        addTaxOffice(f[1], f[2]);
    } else if (type == QLatin1String("taxpayer")) {
        need(7, 7);
        if (f[1].isEmpty() || f[2].isEmpty()) throw Refusal{QStringLiteral("纳税人记录缺少顺序号或密码")};
        addTaxpayer({f[1], f[2], f[3], f[4], f[5], f[6]});
    } else if (type == QLatin1String("kind")) {
        need(6, 6);
        bool ok = false;
        const int yxj = f[5].toInt(&ok);
        if (!ok) throw Refusal{QStringLiteral("优先级不是整数：") + f[5]};
        addKind({f[1], f[2], f[3], f[4], yxj});
    } else if (type == QLatin1String("code")) {
        need(3, 3);
        addCode(f[1], f[2]);
    } else if (type == QLatin1String("stock")) {
        need(6, 8);
        Purchase p;
        p.lglsh = f[1];
        p.sxh = f[2];
        p.fpdm = f[3];
        p.fpqh = f[4];
        p.fpzh = f[5];
        if (f.size() > 6 && !f[6].trimmed().isEmpty()) {
            p.fsrq = parseSeedDate(f[6]);
            if (!p.fsrq.isValid()) throw Refusal{QStringLiteral("日期格式有误：") + f[6]};
        }
        if (f.size() > 7) p.bjbz = f[7];
        addPurchase(p);
    } else if (type == QLatin1String("return")) {
        need(4, 5);
        ReturnedRange r{f[1], f[2], f[3], {}};
        if (f.size() > 4 && !f[4].trimmed().isEmpty()) {
            r.tprq = parseSeedDate(f[4]);
            if (!r.tprq.isValid()) throw Refusal{QStringLiteral("日期格式有误：") + f[4]};
        }
        addReturn(r);
    } else {
        throw Refusal{QStringLiteral("未知的记录类型：") + type};
    }
}

} // namespace taxsim
