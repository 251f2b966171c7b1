#pragma once
// Request texts as the client builds them, and a sample invoice, for the
// tax service's tests.
#include "data_model/demo_constants.h"
#include "taxsim/request_text.h"
#include "taxsim/service.h"
#include "tests/support/qt_printers.h"

#include <QString>
#include <QStringList>

namespace fp::test {

inline QString demoSxh() { return QString::fromUtf8(demo::kSxh); }
inline QString demoPassword() { return QString::fromUtf8(demo::kPassword); }
inline QString code50() { return QString::fromUtf8(demo::kCode50); }

// Another taxpayer with stock 00000101-00000200 of the demo code 50.
inline constexpr const char* kOtherSxh = "3702000099999";
inline constexpr const char* kOtherPassword = "other-secret";

inline void addOtherTaxpayer(taxsim::Service& s) {
    s.addTaxpayer({QString::fromLatin1(kOtherSxh), QString::fromLatin1(kOtherPassword), QStringLiteral("另一家公司"),
                   QStringLiteral("91370200MA3C00002X"), QStringLiteral("0532-1"), QString::fromUtf8(demo::kSwjgdm)});
    s.addPurchase({QStringLiteral("LG0009"),
                   QString::fromLatin1(kOtherSxh),
                   code50(),
                   QStringLiteral("00000101"),
                   QStringLiteral("00000200"),
                   {},
                   {},
                   QStringLiteral("0"),
                   QDateTime(QDate(2024, 1, 3), QTime(9, 0))});
}

// An integrated invoice of the demo taxpayer, as the issuing window fills it
// (amounts with two places, dates as 14 digits, serials written as "1.00").
inline taxsim::StoredInvoice sampleInvoice(const QString& fpdm, const QString& fphm, int lines = 1) {
    taxsim::StoredInvoice inv = taxsim::StoredInvoice::create(fpdm, fphm);
    const auto set = [&](const char* col, const QString& v) { inv.setValue(QString::fromLatin1(col), v); };
    set("fpzlbm", QStringLiteral("50"));
    set("swjgdm", QString::fromUtf8(demo::kSwjgdm));
    set("sxh", demoSxh());
    set("fpzt", QStringLiteral("1"));
    set("fkfmc", QStringLiteral("青岛海景置业有限公司"));
    set("fkfzjlx", QStringLiteral("纳税人识别号"));
    set("fkfzjhm", QStringLiteral("91370200MA3C99999Y"));
    set("zbrbz", QStringLiteral("0"));
    set("skfmc", QString::fromUtf8(demo::kTaxpayerName));
    set("skfzjlx", QStringLiteral("纳税人识别号"));
    set("skfzjhm", QString::fromUtf8(demo::kNsrsbh));
    set("skflxdh", QString::fromUtf8(demo::kNsrlxdh));
    set("fbrbz", QStringLiteral("0"));
    set("hjje", QString::number(100 * lines) + QStringLiteral(".50"));
    set("hjdx", QStringLiteral("壹佰元伍角"));
    set("sl", QStringLiteral("0.00"));
    set("se", QStringLiteral("0.00"));
    set("bz", QStringLiteral("合同号:A-1\r\n第二行"));
    set("kpr", QStringLiteral("张三"));
    set("bcrq", QStringLiteral("20090301080509"));
    set("kprq", QStringLiteral("20090301080509"));
    set("drcs", QStringLiteral("0.00"));
    set("mjlx", QStringLiteral("1"));
    for (int i = 0; i < lines; ++i) {
        const int n = inv.addLine();
        const auto line = [&](const char* col, const QString& v) { inv.setLineValue(n, QString::fromLatin1(col), v); };
        line("iserial", QString::number(i + 1) + QStringLiteral(".00"));
        line("xmmc", QStringLiteral("咨询服务费"));
        line("mj", QStringLiteral("1.00"));
        const QString amount = i == 0 ? QStringLiteral("100.50") : QStringLiteral("100.00");
        line("dj", amount);
        line("je", amount);
        line("extprop1", QStringLiteral("0.00"));
        line("extprop2", QStringLiteral("0.00"));
    }
    return inv;
}

// The upload text: header fields each followed by "|#|", then every line's
// fields each followed by "|@|" and each line by "|&|", values escaped.
inline QString uploadData(const QStringList& header, const std::vector<QStringList>& lines) {
    QString data;
    for (const QString& v : header) data += taxsim::escapeValue(v) + QStringLiteral("|#|");
    for (const QStringList& line : lines) {
        for (const QString& v : line) data += taxsim::escapeValue(v) + QStringLiteral("|@|");
        data += QStringLiteral("|&|");
    }
    return data;
}

inline QString uploadRequest(const taxsim::StoredInvoice& inv) {
    return QStringLiteral("proc_id:11633\r\nas_data:") + uploadData(inv.header, inv.lines) + QStringLiteral("\r\n");
}

inline QString statusRequest(const QString& fpdm, const QString& fphm, bool getInfo = false) {
    return QStringLiteral("proc_id:90239\r\nas_fpdm:") + fpdm + QStringLiteral("\r\nas_fphm:") + fphm +
           QStringLiteral("\r\nas_getinfo:") + (getInfo ? QStringLiteral("1\r\n") : QStringLiteral("0"));
}

inline QString printRequest(const QString& fpdm, const QString& fphm, int dycs, const QString& kpr, const QString& bz) {
    return QStringLiteral("proc_id:98179\r\nas_fpdm:") + fpdm + QStringLiteral("\r\nas_fphm:") + fphm +
           QStringLiteral("\r\nas_dycs:") + QString::number(dycs) + QStringLiteral("\r\nas_kpr:") + kpr +
           QStringLiteral("\r\nas_bz:") + bz + QStringLiteral("\r\n");
}

inline QString voidRequest(const QString& fpdm, const QString& fphm, const QString& fpzt, const QString& kpr) {
    return QStringLiteral("proc_id:76129\r\nas_fpdm:") + fpdm + QStringLiteral("\r\nas_fphm:") + fphm +
           QStringLiteral("\r\nas_fpzt:") + fpzt + QStringLiteral("\r\nas_kpr:") + kpr + QStringLiteral("\r\n");
}

// One request to the service as the demo taxpayer (or the given one).
inline taxsim::Response call(taxsim::Service& s, const QString& body, const QString& user = demoSxh(),
                             const QString& password = demoPassword()) {
    return s.handle({user, password, QStringLiteral("/NormalServlet"), body});
}

inline QString reply(taxsim::Service& s, const QString& body, const QString& user = demoSxh(),
                     const QString& password = demoPassword()) {
    return call(s, body, user, password).body;
}

} // namespace fp::test
