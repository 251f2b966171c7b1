#include "app/setup_commands.h"

#include "data_model/decimal.h"
#include "data_model/schema.h"

#include <QRegularExpression>
#include <utility>

namespace fp::setup {

namespace {

void result(Output& out, const QString& line) {
    const QByteArray b = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), out.results);
    std::fflush(out.results);
}

int refuse(Output& out, const QString& text) {
    out.messages.message(text);
    return 1;
}

// The first width or emptiness problem among `values` for `table`, or an empty text.
QString checkValues(const QString& table, const QVariantMap& values, const QStringList& required) {
    const TableDef* def = findTable(table);
    for (const QString& column : required) {
        if (values.value(column).toString().trimmed().isEmpty()) {
            const ColumnDef* c = def ? def->column(column) : nullptr;
            return QStringLiteral("“%1”不能为空！").arg(c && !c->label.isEmpty() ? c->label : column);
        }
    }
    return def ? widthError(*def, values) : QString();
}

// How many rows a count query finds; -1 on a read error.
qint64 count(Transaction& t, const QString& sql, const QVariantList& binds) {
    QVariantList row;
    if (t.selectInto(sql, binds, row) == -1) return -1;
    return row.value(0).toLongLong();
}

using Statement = std::pair<QString, QVariantList>;

// Runs the statements in one transaction; false after a message, nothing written.
bool insertAll(Transaction& t, Output& out, const QList<Statement>& statements) {
    TxGuard guard(t);
    for (const auto& [sql, row] : statements) {
        if (!t.exec(sql, row)) {
            const QString err = t.sqlerrtext;
            (void)t.rollback(); // the failure to report is `err`
            refuse(out, QStringLiteral("数据保存失败！\r\n") + err);
            return false;
        }
    }
    if (!t.commit()) {
        const QString err = t.sqlerrtext;
        (void)t.rollback(); // the failure to report is `err`
        refuse(out, QStringLiteral("数据保存失败！\r\n") + err);
        return false;
    }
    return true;
}

int readFailed(Output& out, Transaction& t) { return refuse(out, QStringLiteral("读取数据失败！\r\n") + t.sqlerrtext); }

} // namespace

int addUser(Transaction& t, Output out, const QString& userid, const QString& name, const QString& right) {
    static const QRegularExpression rightCode(QStringLiteral("^[0-9]{2}$"));
    if (!rightCode.match(right).hasMatch())
        return refuse(out, QStringLiteral("权限代码“%1”应为两位数字（“02”可开票、打印、作废）。").arg(right));
    const QString bad =
        checkValues(QStringLiteral("b_user"), {{QStringLiteral("userid"), userid}, {QStringLiteral("username"), name}},
                    {QStringLiteral("userid"), QStringLiteral("username")});
    if (!bad.isEmpty()) return refuse(out, bad);
    const qint64 users = count(t, QStringLiteral("SELECT count(*) FROM b_user WHERE userid = ?"), {userid});
    const qint64 rights = count(t, QStringLiteral("SELECT count(*) FROM b_user_right WHERE userid = ?"), {userid});
    if (users < 0 || rights < 0) return readFailed(out, t);
    if (users + rights > 0) return refuse(out, QStringLiteral("用户“%1”已存在！").arg(userid));

    QList<Statement> statements{
        {QStringLiteral("INSERT INTO b_user (userid, username) VALUES (?, ?)"), {userid, name}}};
    for (const QString& funcId : windowFunctionIds())
        statements.append({QStringLiteral("INSERT INTO b_user_right (userid, funcid, right_code) VALUES (?, ?, ?)"),
                           {userid, funcId, right}});
    if (!insertAll(t, out, statements)) return 1;
    out.messages.message(QStringLiteral("已添加用户 %1（%2），权限代码 %3。").arg(userid, name, right));
    return 0;
}

int addIssuer(Transaction& t, Output out, const QString& sxh, const QString& name) {
    const QString bad =
        checkValues(QStringLiteral("b_emp"), {{QStringLiteral("cname"), name}}, {QStringLiteral("cname")});
    if (!bad.isEmpty()) return refuse(out, bad);
    const qint64 same =
        count(t, QStringLiteral("SELECT count(*) FROM b_emp WHERE sxh = ? AND department = 'KPRY' AND cname = ?"),
              {sxh, name});
    if (same < 0) return readFailed(out, t);
    if (same > 0) return refuse(out, QStringLiteral("开票员“%1”已存在！").arg(name));

    // The next free code after the highest all-digit one, at least three digits.
    const QList<QVariantList> codes = t.selectAll(QStringLiteral("SELECT ccode FROM b_emp"));
    if (t.sqlcode == -1) return readFailed(out, t);
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,15}$"));
    qint64 highest = 0;
    for (const QVariantList& row : codes) {
        const QString c = row.value(0).toString();
        if (digits.match(c).hasMatch()) highest = qMax(highest, c.toLongLong());
    }
    const QString code = QStringLiteral("%1").arg(highest + 1, 3, 10, QLatin1Char('0'));
    if (!insertAll(t, out,
                   {{QStringLiteral("INSERT INTO b_emp (ccode, cname, pwd, idcode, department, sxh) "
                                    "VALUES (?, ?, '', '', 'KPRY', ?)"),
                     {code, name, sxh}}}))
        return 1;
    out.messages.message(QStringLiteral("已添加开票员 %1 %2。").arg(code, name));
    result(out, code);
    return 0;
}

int addPartner(Transaction& t, Output out, const QString& sxh, const QString& code, const QString& name,
               const QString& docType, const QString& docNumber) {
    static const QStringList docTypes = {QStringLiteral("身份证件号码"), QStringLiteral("组织机构代码"),
                                         QStringLiteral("纳税人识别号")};
    if (!docTypes.contains(docType))
        return refuse(out,
                      QStringLiteral("证件类型应为“身份证件号码”、“组织机构代码”或“纳税人识别号”之一，而不是“%1”。")
                          .arg(docType));
    if (code.trimmed().isEmpty()) return refuse(out, QStringLiteral("“往来单位编码”不能为空！"));
    const QString stored = sxh + code;
    const QString bad = checkValues(QStringLiteral("b_corp"),
                                    {{QStringLiteral("code"), stored},
                                     {QStringLiteral("cname"), name},
                                     {QStringLiteral("type"), docType},
                                     {QStringLiteral("lc_no"), docNumber}},
                                    {QStringLiteral("cname"), QStringLiteral("lc_no")});
    if (!bad.isEmpty()) return refuse(out, bad);
    const qint64 same = count(t, QStringLiteral("SELECT count(*) FROM b_corp WHERE code = ?"), {stored});
    if (same < 0) return readFailed(out, t);
    if (same > 0) return refuse(out, QStringLiteral("往来单位编码“%1”已存在！").arg(code));
    if (!insertAll(t, out,
                   {{QStringLiteral("INSERT INTO b_corp (code, cname, type, lc_no, sxh) VALUES (?, ?, ?, ?, ?)"),
                     {stored, name, docType, docNumber, sxh}}}))
        return 1;
    out.messages.message(QStringLiteral("已添加往来单位 %1 %2。").arg(code, name));
    return 0;
}

int addItem(Transaction& t, Output out, const QString& sxh, const QString& name, const QString& price) {
    Decimal::ParseError perr = Decimal::ParseError::None;
    const std::optional<Decimal> value = Decimal::parse(price, &perr);
    if (!value || value->places() > 2 || value->sign() < 0 || !value->fitsStorage())
        return refuse(out, QStringLiteral("单价“%1”无效：应为不小于零、最多两位小数的数。").arg(price));
    const QString bad =
        checkValues(QStringLiteral("tbl_pm"), {{QStringLiteral("pmmc"), name}}, {QStringLiteral("pmmc")});
    if (!bad.isEmpty()) return refuse(out, bad);
    const qint64 same = count(t, QStringLiteral("SELECT count(*) FROM tbl_pm WHERE pmmc = ?"), {name});
    if (same < 0) return readFailed(out, t);
    if (same > 0) return refuse(out, QStringLiteral("品目“%1”已存在！").arg(name));
    if (!insertAll(t, out,
                   {{QStringLiteral("INSERT INTO tbl_pm (pmmc, price, sxh) VALUES (?, ?, ?)"),
                     {name, QVariant::fromValue(*value), sxh}}}))
        return 1;
    out.messages.message(QStringLiteral("已添加品目 %1，单价 %2。").arg(name, value->toString(2)));
    return 0;
}

} // namespace fp::setup
