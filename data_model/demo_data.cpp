#include "data_model/demo_data.h"

#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"

#include <QDateTime>

namespace fp {

namespace {
QString s(const char* utf8) { return QString::fromUtf8(utf8); }

struct Insert {
    const char* table;
    const char* columns;
    QList<QVariantList> rows;
};
} // namespace

bool createDemoData(Transaction& t, QString* error) {
    using namespace demo;
    const QString sxh = s(kSxh);
    const QString swjg = s(kSwjgdm);
    const QDateTime sold(QDate(2009, 1, 5), QTime(9, 0, 0));
    const QDateTime returned(QDate(2009, 2, 10), QTime(10, 0, 0));
    const QString first = QStringLiteral("00000001");

    const std::vector<Insert> inserts = {
        {"bm_bdcja_swjg",
         "swjgdm, swjgmc, sjjgdm, dwjb, yhlxbm",
         {{s(kSuperiorSwjgdm), s("示范市税务局"), QString(""), s("1"), s("10")},
          {swjg, s(kSwjgmc), s(kSuperiorSwjgdm), s("2"), s("20")}}},
        {"b_emp",
         "ccode, cname, pwd, idcode, department, sxh",
         {{s("001"), s("张晓明"), QString(""), s("370202198001010011"), s("KPRY"), sxh},
          {s("002"), s("李丽"), QString(""), s("370202198502020022"), s("KPRY"), sxh},
          {s("101"), s("王强"), QString(""), s("370202197703030033"), s("CWB"), sxh}}},
        {"b_corp",
         "code, cname, type, lc_no, sxh",
         {{QString(sxh + s("001")), s("示范建筑工程有限公司"), s("组织机构代码"), s("MA3C0001-2"), sxh},
          {QString(sxh + s("002")), s("示范物业管理有限公司"), s("纳税人识别号"), s("91370200MA3C00002Y"), sxh},
          {QString(sxh + s("003")), s("刘芳"), s("身份证件号码"), s("370203199001010044"), sxh}}},
        {"tbl_pm",
         "pmmc, price, sxh",
         {{s("餐饮服务"), QVariant::fromValue(Decimal::fromCents(12000)), sxh},
          {s("复印费"), QVariant::fromValue(Decimal::fromCents(10)), sxh},
          {s("设备维修"), QVariant::fromValue(Decimal::fromCents(350000)), sxh},
          {s("住宿费"), QVariant::fromValue(Decimal::fromCents(28000)), sxh}}},
        {"bm_bdcja_fpzl",
         "fpzlbm, kplx, fpqc, fpjc, yxj",
         {{s("10"), s("1"), s("代开统一发票"), s("代开发票"), 4},
          {s("20"), s("2"), s("不动产销售统一发票"), s("不动产发票"), 2},
          {s("40"), s("2"), s("建筑业统一发票"), s("建筑业发票"), 3},
          {s("50"), s("2"), s("综合统一发票"), s("综合发票"), 1}}},
        {"bm_bdcja_fpdm",
         "fpdm, fpzlbm",
         {{s(kCode50), s("50")}, {s(kCode50Returned), s("50")}, {s(kCode20), s("20")}, {s(kCode40), s("40")}}},
        // An unused range has an empty (not null) last-used number.
        {"bdcja_fplg",
         "lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz, fsrq",
         {{s(kLglsh50), swjg, sxh, s("50"), s(kCode50), first, s("00000100"), QString(""), s("0"), sold},
          {s(kLglsh50Returned), swjg, sxh, s("50"), s(kCode50Returned), first, s("00000050"), QString(""), s("0"),
           sold},
          {s(kLglsh20), swjg, sxh, s("20"), s(kCode20), first, s("00000050"), QString(""), s("0"), sold},
          {s(kLglsh40), swjg, sxh, s("40"), s(kCode40), first, s("00000050"), QString(""), s("0"), sold}}},
        {"bdcja_sgtp",
         "lglsh, swjgdm, sxh, fpzlbm, fpdm, tpqh, tpzh, tprq",
         {{s(kLglsh50Returned), swjg, sxh, s("50"), s(kCode50Returned), first, s("00000050"), returned}}},
        // Function ids: "01" issuing, "02" reprint, "03" void, "04" the register; "02" is the full right.
        {"b_user_right",
         "userid, funcid, right_code",
         {{s(kUserId), s("01"), s("02")},
          {s(kUserId), s("02"), s("02")},
          {s(kUserId), s("03"), s("02")},
          {s(kUserId), s("04"), s("02")}}},
    };

    TxGuard guard(t);
    if (!t.begin()) {
        if (error) *error = t.sqlerrtext;
        return false;
    }
    for (const Insert& ins : inserts) {
        const QString columns = QString::fromLatin1(ins.columns);
        const int n = int(columns.count(QLatin1Char(','))) + 1;
        QStringList marks;
        for (int i = 0; i < n; ++i) marks << QStringLiteral("?");
        const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(QString::fromLatin1(ins.table), columns, marks.join(QStringLiteral(", ")));
        for (const QVariantList& row : ins.rows) {
            if (!t.exec(sql, row)) {
                if (error) *error = QString::fromLatin1(ins.table) + QStringLiteral(": ") + t.sqlerrtext;
                return false;
            }
        }
    }
    if (!t.commit()) {
        if (error) *error = t.sqlerrtext;
        return false;
    }
    return true;
}

} // namespace fp
