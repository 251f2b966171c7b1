#include "data_model/schema.h"

#include "data_model/transaction.h"

namespace fp {

const ColumnDef* TableDef::column(const QString& n) const {
    for (const auto& c : columns)
        if (c.name.compare(n, Qt::CaseInsensitive) == 0) return &c;
    return nullptr;
}

int TableDef::columnIndex(const QString& n) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name.compare(n, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QStringList TableDef::columnNames() const {
    QStringList l;
    for (const auto& c : columns) l << c.name;
    return l;
}

QStringList TableDef::keyNames() const {
    QStringList l;
    for (const auto& c : columns)
        if (c.key) l << c.name;
    return l;
}

namespace {
// An owner's invoices by the day they count on (the issue date, or the save
// date of a blank void): the register's month and range filters use this very
// expression, so both engines serve them from the index.
QStringList registerDayIndex() { return {QStringLiteral("sxh"), QStringLiteral("(COALESCE(kprq, bcrq))")}; }
} // namespace

const std::vector<TableDef>& schemaTables() {
    static const std::vector<TableDef> tables = {
        {QStringLiteral("ptfp_fpk"),
         {{QStringLiteral("fpdm"), ColType::Text, 12, true, QStringLiteral("发票代码")},
          {QStringLiteral("fphm"), ColType::Text, 8, true, QStringLiteral("发票号码")},
          {QStringLiteral("fpzlbm"), ColType::Text, 2, false, QStringLiteral("发票种类编码")},
          {QStringLiteral("swjgdm"), ColType::Text, 11, false, QStringLiteral("税务机关代码")},
          {QStringLiteral("sxh"), ColType::Text, 13, false, QStringLiteral("顺序号")},
          {QStringLiteral("fpzt"), ColType::Text, 10, false, QStringLiteral("发票状态")},
          {QStringLiteral("fkfmc"), ColType::Text, 80, false, QStringLiteral("付款方名称")},
          {QStringLiteral("fkfzjlx"), ColType::Text, 20, false, QStringLiteral("证件类型")},
          {QStringLiteral("fkfzjhm"), ColType::Text, 40, false, QStringLiteral("付款方证件号码")},
          {QStringLiteral("zbrbz"), ColType::Text, 1, false, QStringLiteral("总包人标志")},
          {QStringLiteral("skfmc"), ColType::Text, 80, false, QStringLiteral("收款方名称")},
          {QStringLiteral("skfzjlx"), ColType::Text, 20, false, QStringLiteral("收款方证件类型")},
          {QStringLiteral("skfzjhm"), ColType::Text, 40, false, QStringLiteral("收款方证件号码")},
          {QStringLiteral("skflxdh"), ColType::Text, 50, false, QStringLiteral("收款方联系电话")},
          {QStringLiteral("fbrbz"), ColType::Text, 1, false, QStringLiteral("分包人标志")},
          {QStringLiteral("hjje"), ColType::Decimal2, 0, false, QStringLiteral("合计金额")},
          {QStringLiteral("hjdx"), ColType::Text, 64, false, QStringLiteral("合计大写")},
          {QStringLiteral("sl"), ColType::Decimal2, 0, false, QStringLiteral("税率")},
          {QStringLiteral("se"), ColType::Decimal2, 0, false, QStringLiteral("税额")},
          {QStringLiteral("wspzh"), ColType::Text, 120, false, QStringLiteral("完税凭证号")},
          {QStringLiteral("bz"), ColType::Text, 100, false, QStringLiteral("备注")},
          {QStringLiteral("kpr"), ColType::Text, 50, false, QStringLiteral("开票人")},
          {QStringLiteral("bcrq"), ColType::DateTime, 0, false, QStringLiteral("保存日期")},
          {QStringLiteral("kprq"), ColType::DateTime, 0, false, QStringLiteral("开票日期")},
          {QStringLiteral("drcs"), ColType::Whole, 0, false, QStringLiteral("打印次数")},
          {QStringLiteral("userid"), ColType::Text, 6, false, QStringLiteral("用户编码")},
          {QStringLiteral("username"), ColType::Text, 50, false, QStringLiteral("用户名称")},
          {QStringLiteral("mjlx"), ColType::Text, 1, false, QStringLiteral("面积类型")},
          {QStringLiteral("extprop1"), ColType::Text, 100, false, QStringLiteral("原发票号码")},
          {QStringLiteral("extprop2"), ColType::Text, 100, false, QStringLiteral("原发票代码")},
          {QStringLiteral("extprop3"), ColType::Text, 150, false, QStringLiteral("扩展属性3")},
          {QStringLiteral("extprop4"), ColType::Text, 200, false, QStringLiteral("扩展属性4")},
          {QStringLiteral("extprop5"), ColType::Text, 200, false, QStringLiteral("扩展属性5")}},
         {QStringList{QStringLiteral("sxh"), QStringLiteral("fpdm"), QStringLiteral("fphm")},
          QStringList{QStringLiteral("fpdm"), QStringLiteral("kpr"), QStringLiteral("fphm")},
          // the register: an owner's invoices of a month or range
          registerDayIndex()}},
        {QStringLiteral("ptfp_fpxmmx"),
         {{QStringLiteral("iserial"), ColType::Identity, 0, true, QStringLiteral("序号")},
          {QStringLiteral("fpdm"), ColType::Text, 12, false, QStringLiteral("发票代码")},
          {QStringLiteral("fphm"), ColType::Text, 8, false, QStringLiteral("发票号码")},
          {QStringLiteral("xmmc"), ColType::Text, 50, false, QStringLiteral("项目名称")},
          {QStringLiteral("xmbh"), ColType::Text, 40, false, QStringLiteral("项目编号")},
          {QStringLiteral("jsxm"), ColType::Text, 60, false, QStringLiteral("结算项目")},
          {QStringLiteral("bdclph"), ColType::Text, 100, false, QStringLiteral("不动产楼牌号")},
          {QStringLiteral("mj"), ColType::Decimal2, 0, false, QStringLiteral("数量")},
          {QStringLiteral("dj"), ColType::Decimal2, 0, false, QStringLiteral("单价")},
          {QStringLiteral("kxxz"), ColType::Text, 60, false, QStringLiteral("款项性质")},
          {QStringLiteral("je"), ColType::Decimal2, 0, false, QStringLiteral("金额")},
          {QStringLiteral("wspzh"), ColType::Text, 120, false, QStringLiteral("完税凭证号")},
          {QStringLiteral("extprop1"), ColType::Decimal2, 0, false, QStringLiteral("扩展数值1")},
          {QStringLiteral("extprop2"), ColType::Decimal2, 0, false, QStringLiteral("扩展数值2")},
          {QStringLiteral("extprop3"), ColType::Text, 100, false, QStringLiteral("扩展属性3")},
          {QStringLiteral("extprop4"), ColType::Text, 150, false, QStringLiteral("扩展属性4")},
          {QStringLiteral("extprop5"), ColType::Text, 200, false, QStringLiteral("扩展属性5")}},
         {QStringList{QStringLiteral("fpdm"), QStringLiteral("fphm")}}},
        {QStringLiteral("bdcja_fpk"),
         {{QStringLiteral("fpdm"), ColType::Text, 12, true, QStringLiteral("发票代码")},
          {QStringLiteral("fphm"), ColType::Text, 8, true, QStringLiteral("发票号码")},
          {QStringLiteral("fpzlbm"), ColType::Text, 2, false, QStringLiteral("发票种类编码")},
          {QStringLiteral("swjgdm"), ColType::Text, 11, false, QStringLiteral("税务机关代码")},
          {QStringLiteral("sxh"), ColType::Text, 13, false, QStringLiteral("顺序号")},
          {QStringLiteral("fpzt"), ColType::Text, 1, false, QStringLiteral("发票状态")},
          {QStringLiteral("fkfmc"), ColType::Text, 80, false, QStringLiteral("付款方名称")},
          {QStringLiteral("fkfzjlx"), ColType::Text, 20, false, QStringLiteral("证件类型")},
          {QStringLiteral("fkfzjhm"), ColType::Text, 40, false, QStringLiteral("付款方证件号码")},
          {QStringLiteral("zbrbz"), ColType::Text, 1, false, QStringLiteral("总包人标志")},
          {QStringLiteral("skfmc"), ColType::Text, 80, false, QStringLiteral("收款方名称")},
          {QStringLiteral("skfzjlx"), ColType::Text, 20, false, QStringLiteral("收款方证件类型")},
          {QStringLiteral("skfzjhm"), ColType::Text, 40, false, QStringLiteral("收款方证件号码")},
          {QStringLiteral("fbrbz"), ColType::Text, 1, false, QStringLiteral("分包人标志")},
          {QStringLiteral("hjje"), ColType::Decimal2, 0, false, QStringLiteral("合计金额")},
          {QStringLiteral("hjdx"), ColType::Text, 64, false, QStringLiteral("合计大写")},
          {QStringLiteral("bz"), ColType::Text, 100, false, QStringLiteral("备注")},
          {QStringLiteral("kpr"), ColType::Text, 50, false, QStringLiteral("开票人")},
          {QStringLiteral("bcrq"), ColType::DateTime, 0, false, QStringLiteral("保存日期")},
          {QStringLiteral("kprq"), ColType::DateTime, 0, false, QStringLiteral("开票日期")},
          {QStringLiteral("drcs"), ColType::Whole, 0, false, QStringLiteral("打印次数")},
          {QStringLiteral("mjlx"), ColType::Text, 1, false, QStringLiteral("面积类型")},
          {QStringLiteral("skflxdh"), ColType::Text, 50, false, QStringLiteral("收款方联系电话")}},
         {QStringList{QStringLiteral("sxh"), QStringLiteral("fpdm"), QStringLiteral("fphm")}, registerDayIndex()}},
        {QStringLiteral("bdcja_fpxmmx"),
         {{QStringLiteral("fpdm"), ColType::Text, 12, false, QStringLiteral("发票代码")},
          {QStringLiteral("fphm"), ColType::Text, 8, false, QStringLiteral("发票号码")},
          {QStringLiteral("xmmc"), ColType::Text, 50, false, QStringLiteral("项目名称")},
          {QStringLiteral("xmbh"), ColType::Text, 40, false, QStringLiteral("项目编号")},
          {QStringLiteral("jsxm"), ColType::Text, 60, false, QStringLiteral("结算项目")},
          {QStringLiteral("bdclph"), ColType::Text, 100, false, QStringLiteral("不动产楼牌号")},
          {QStringLiteral("mj"), ColType::Decimal2, 0, false, QStringLiteral("面积")},
          {QStringLiteral("dj"), ColType::Decimal2, 0, false, QStringLiteral("单价")},
          {QStringLiteral("kxxz"), ColType::Text, 60, false, QStringLiteral("款项性质")},
          {QStringLiteral("je"), ColType::Decimal2, 0, false, QStringLiteral("金额")},
          {QStringLiteral("wspzh"), ColType::Text, 120, false, QStringLiteral("完税凭证号")},
          {QStringLiteral("iserial"), ColType::Identity, 0, true, QStringLiteral("序号")}},
         {QStringList{QStringLiteral("fpdm"), QStringLiteral("fphm")}}},
        {QStringLiteral("bdcja_fplg"),
         {{QStringLiteral("lglsh"), ColType::Text, 30, false, QStringLiteral("领购流水号")},
          {QStringLiteral("swjgdm"), ColType::Text, 11, false, QStringLiteral("税务机关代码")},
          {QStringLiteral("sxh"), ColType::Text, 13, false, QStringLiteral("顺序号")},
          {QStringLiteral("fpzlbm"), ColType::Text, 2, false, QStringLiteral("发票种类编码")},
          {QStringLiteral("fpdm"), ColType::Text, 12, false, QStringLiteral("发票代码")},
          {QStringLiteral("fpqh"), ColType::Text, 8, false, QStringLiteral("发票起号")},
          {QStringLiteral("fpzh"), ColType::Text, 8, false, QStringLiteral("发票止号")},
          {QStringLiteral("zjsyh"), ColType::Text, 8, false, QStringLiteral("最近使用号")},
          {QStringLiteral("bjbz"), ColType::Text, 1, false, QStringLiteral("完结标志")},
          {QStringLiteral("fsrq"), ColType::DateTime, 0, false, QStringLiteral("发售日期")}},
         {QStringList{QStringLiteral("sxh"), QStringLiteral("fpdm"), QStringLiteral("bjbz")},
          QStringList{QStringLiteral("lglsh")},
          // the stock update of a save finds its batch by code, kind and range
          QStringList{QStringLiteral("fpdm"), QStringLiteral("fpzlbm"), QStringLiteral("fpqh")}}},
        {QStringLiteral("bdcja_sgtp"),
         {{QStringLiteral("lglsh"), ColType::Text, 30, false, QStringLiteral("领购流水号")},
          {QStringLiteral("swjgdm"), ColType::Text, 11, false, QStringLiteral("税务机关代码")},
          {QStringLiteral("sxh"), ColType::Text, 13, false, QStringLiteral("顺序号")},
          {QStringLiteral("fpzlbm"), ColType::Text, 2, false, QStringLiteral("发票种类编码")},
          {QStringLiteral("fpdm"), ColType::Text, 12, false, QStringLiteral("发票代码")},
          {QStringLiteral("tpqh"), ColType::Text, 8, false, QStringLiteral("退票起号")},
          {QStringLiteral("tpzh"), ColType::Text, 8, false, QStringLiteral("退票止号")},
          {QStringLiteral("tprq"), ColType::DateTime, 0, false, QStringLiteral("退票日期")}},
         {QStringList{QStringLiteral("lglsh"), QStringLiteral("fpzlbm"), QStringLiteral("fpdm")}}},
        {QStringLiteral("bdcja_fpk_log"),
         {{QStringLiteral("fpdm"), ColType::Text, 12, false, QStringLiteral("发票代码")},
          {QStringLiteral("fphm"), ColType::Text, 8, false, QStringLiteral("发票号码")},
          {QStringLiteral("sxh"), ColType::Text, 13, false, QStringLiteral("顺序号")},
          {QStringLiteral("czlx"), ColType::Text, 1, false, QStringLiteral("操作类型")},
          {QStringLiteral("kpr"), ColType::Text, 50, false, QStringLiteral("开票人")},
          {QStringLiteral("czrq"), ColType::DateTime, 0, false, QStringLiteral("操作日期")},
          {QStringLiteral("bz"), ColType::Text, 200, false, QStringLiteral("备注")}},
         {QStringList{QStringLiteral("fpdm"), QStringLiteral("fphm")}}},
        {QStringLiteral("bm_bdcja_fpzl"),
         {{QStringLiteral("fpzlbm"), ColType::Text, 2, true, QStringLiteral("发票种类编码")},
          {QStringLiteral("kplx"), ColType::Text, 1, false, QStringLiteral("开票类型")},
          {QStringLiteral("fpqc"), ColType::Text, 80, false, QStringLiteral("发票全称")},
          {QStringLiteral("fpjc"), ColType::Text, 40, false, QStringLiteral("发票简称")},
          {QStringLiteral("yxj"), ColType::Whole, 0, false, QStringLiteral("优先级")}},
         {}},
        {QStringLiteral("bm_bdcja_fpdm"),
         {{QStringLiteral("fpdm"), ColType::Text, 12, true, QStringLiteral("发票代码")},
          {QStringLiteral("fpzlbm"), ColType::Text, 2, false, QStringLiteral("发票种类编码")}},
         {}},
        {QStringLiteral("bm_bdcja_swjg"),
         {{QStringLiteral("swjgdm"), ColType::Text, 13, true, QStringLiteral("税务机关代码")},
          {QStringLiteral("swjgmc"), ColType::Text, 80, false, QStringLiteral("税务机关名称")},
          {QStringLiteral("sjjgdm"), ColType::Text, 11, false, QStringLiteral("上级机关代码")},
          {QStringLiteral("dwjb"), ColType::Text, 1, false, QStringLiteral("单位级别")},
          {QStringLiteral("yhlxbm"), ColType::Text, 2, false, QStringLiteral("用户类型")}},
         {}},
        {QStringLiteral("b_emp"),
         {{QStringLiteral("ccode"), ColType::Text, 50, true, QStringLiteral("开票员编码")},
          {QStringLiteral("cname"), ColType::Text, 250, false, QStringLiteral("开票员名称")},
          {QStringLiteral("pwd"), ColType::Text, 50, false, QStringLiteral("登录密码")},
          {QStringLiteral("idcode"), ColType::Text, 20, false, QStringLiteral("身份证件号码")},
          {QStringLiteral("department"), ColType::Text, 50, false, QStringLiteral("所属部门")},
          {QStringLiteral("sxh"), ColType::Text, 20, false, QStringLiteral("顺序号")}},
         {QStringList{QStringLiteral("sxh"), QStringLiteral("department")}}},
        {QStringLiteral("b_corp"),
         {{QStringLiteral("code"), ColType::Text, 50, true, QStringLiteral("往来单位编码")},
          {QStringLiteral("cname"), ColType::Text, 250, false, QStringLiteral("往来单位名称")},
          {QStringLiteral("type"), ColType::Text, 50, false, QStringLiteral("证件类型")},
          {QStringLiteral("lc_no"), ColType::Text, 50, false, QStringLiteral("证件号码")},
          {QStringLiteral("sxh"), ColType::Text, 20, false, QStringLiteral("顺序号")}},
         {QStringList{QStringLiteral("sxh")}}},
        {QStringLiteral("tbl_pm"),
         {{QStringLiteral("pmmc"), ColType::Text, 50, true, QStringLiteral("品目名称")},
          {QStringLiteral("price"), ColType::Decimal2, 0, false, QStringLiteral("品目单价")},
          {QStringLiteral("sxh"), ColType::Text, 20, false, QStringLiteral("顺序号")}},
         {QStringList{QStringLiteral("sxh")}}},
        {QStringLiteral("base_data"),
         {{QStringLiteral("iserial"), ColType::Whole, 0, false, QStringLiteral("序号")},
          {QStringLiteral("cname"), ColType::Text, 50, false, QStringLiteral("数据名称")},
          {QStringLiteral("cflag"), ColType::Text, 10, false, QStringLiteral("标志")},
          {QStringLiteral("ntable"), ColType::Text, 50, false, QStringLiteral("表名")},
          {QStringLiteral("dw_name"), ColType::Text, 50, false, QStringLiteral("数据窗口")}},
         {}},
        // The journal of requests that change the service's state (upload,
        // void, blank void, print report) and are not confirmed yet: written
        // and committed before the command's own transaction, taken by that
        // transaction at its start and so removed with its commit; what remains
        // after a crash, a lost reply or a failed commit is settled against the
        // service later (gf_reconcile_pending_uploads). czlx: 1 upload, 2 print
        // report, 3 void, 4 blank void (empty in rows of version 2: uploads).
        {QStringLiteral("fp_pending_upload"),
         {{QStringLiteral("fpdm"), ColType::Text, 12, true, QStringLiteral("发票代码")},
          {QStringLiteral("fphm"), ColType::Text, 8, true, QStringLiteral("发票号码")},
          {QStringLiteral("fpzlbm"), ColType::Text, 2, false, QStringLiteral("发票种类编码")},
          {QStringLiteral("sxh"), ColType::Text, 13, false, QStringLiteral("顺序号")},
          {QStringLiteral("userid"), ColType::Text, 20, false, QStringLiteral("用户编码")},
          {QStringLiteral("username"), ColType::Text, 50, false, QStringLiteral("用户名称")},
          {QStringLiteral("kpr"), ColType::Text, 50, false, QStringLiteral("开票人")},
          {QStringLiteral("digest"), ColType::Text, 64, false, QStringLiteral("上传内容摘要")},
          {QStringLiteral("bcrq"), ColType::DateTime, 0, false, QStringLiteral("保存日期")},
          {QStringLiteral("czlx"), ColType::Text, 1, false, QStringLiteral("操作类型")},
          {QStringLiteral("dycs"), ColType::Whole, 0, false, QStringLiteral("打印次数")},
          {QStringLiteral("bz"), ColType::Text, 100, false, QStringLiteral("备注")},
          {QStringLiteral("srvrq"), ColType::DateTime, 0, false, QStringLiteral("服务器日期")},
          {QStringLiteral("token"), ColType::Text, 40, false, QStringLiteral("记录标识")}},
         {QStringList{QStringLiteral("sxh"), QStringLiteral("userid")}}},
        // The host's users, as the set-up commands add them; rights are per user.
        {QStringLiteral("b_user"),
         {{QStringLiteral("userid"), ColType::Text, 20, true, QStringLiteral("用户编码")},
          {QStringLiteral("username"), ColType::Text, 50, false, QStringLiteral("用户名称")}},
         {}},
        {QStringLiteral("b_user_right"),
         {{QStringLiteral("userid"), ColType::Text, 20, true, QStringLiteral("用户编码")},
          {QStringLiteral("funcid"), ColType::Text, 2, true, QStringLiteral("功能编号")},
          {QStringLiteral("right_code"), ColType::Text, 2, false, QStringLiteral("权限代码")}},
         {}},
    };
    return tables;
}

const TableDef* findTable(const QString& name) {
    for (const auto& t : schemaTables())
        if (t.name.compare(name, Qt::CaseInsensitive) == 0) return &t;
    return nullptr;
}

namespace {
QString columnSql(const ColumnDef& c, const Dialect& d) {
    QString def = c.name + QLatin1Char(' ') + d.columnType(c.type, c.width);
    if (c.key && c.type != ColType::Identity) def += QStringLiteral(" NOT NULL");
    // SQLite does not enforce VARCHAR widths; a check does, on every write path.
    if (c.type == ColType::Text && c.width > 0 && d.kind() == Dialect::Kind::SQLite)
        def += QStringLiteral(" CHECK (length(%1) <= %2)").arg(c.name).arg(c.width);
    return def;
}

QString createTableSql(const TableDef& t, const Dialect& d) {
    QStringList parts;
    bool identityKey = false;
    for (const auto& c : t.columns) {
        if (c.type == ColType::Identity) identityKey = true;
        parts << columnSql(c, d);
    }
    const QStringList keys = t.keyNames();
    if (!identityKey && !keys.isEmpty())
        parts << QStringLiteral("PRIMARY KEY (%1)").arg(keys.join(QStringLiteral(", ")));
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n  %2\n)").arg(t.name, parts.join(QStringLiteral(",\n  ")));
}
} // namespace

namespace {
QString versionTable() { return QString::fromLatin1(kSchemaVersionTable); }

// Reads the version row inside the open transaction: the version, 0 when
// there is none, -1 on error.
int readVersion(Transaction& t) {
    QVariantList row;
    const int rc = t.selectInto(QStringLiteral("SELECT max(version) FROM ") + versionTable(), {}, row);
    if (rc == -1) return -1;
    if (rc == 100 || row.isEmpty() || row.first().isNull()) return 0;
    return row.first().toInt();
}

bool createTables(Transaction& t, QString* error) {
    for (const auto& table : schemaTables()) {
        if (!t.exec(createTableSql(table, t.dialect()))) {
            if (error) *error = table.name + QStringLiteral(": ") + t.sqlerrtext;
            return false;
        }
        int n = 0;
        for (const auto& idx : table.indexes) {
            const QString sql = QStringLiteral("CREATE INDEX IF NOT EXISTS ix_%1_%2 ON %1 (%3)")
                                    .arg(table.name)
                                    .arg(++n)
                                    .arg(idx.join(QStringLiteral(", ")));
            if (!t.exec(sql)) {
                if (error) *error = table.name + QStringLiteral(": ") + t.sqlerrtext;
                return false;
            }
        }
    }
    return true;
}

// Upgrades a database of version `from` (1 <= from < kSchemaVersion) one step
// at a time, after createTables has added every table that was missing.
//   1 -> 2: fp_pending_upload is new; its table and index come from
//           createTables, no existing table changes.
//   2 -> 3: fp_pending_upload becomes the journal of every request in
//           flight: the columns from czlx on are added; its rows keep their
//           values (an empty czlx reads as an upload).
//   3 -> 4: the register's indexes come from createTables; every user who
//           may issue (function "01") may open the register (function "04")
//           with the same right code.
bool upgradeFrom(Transaction& t, int from, QString* error) {
    const QString journal = QStringLiteral("fp_pending_upload");
    if (from == 1) {
        QVariantList row;
        if (t.selectInto(QStringLiteral("SELECT count(*) FROM fp_pending_upload"), {}, row) == -1) {
            if (error) *error = journal + QStringLiteral(": ") + t.sqlerrtext;
            return false;
        }
        return true;
    }
    if (from == 2) {
        // A table createTables has just made (a version-1 database) has them all.
        QVariantList row;
        if (t.selectInto(QStringLiteral("SELECT count(czlx) FROM fp_pending_upload"), {}, row) == 0) return true;
        const TableDef* table = findTable(journal);
        bool added = false;
        for (const ColumnDef& c : table->columns) {
            if (c.name == QLatin1String("czlx")) added = true;
            if (!added) continue;
            if (!t.exec(QStringLiteral("ALTER TABLE fp_pending_upload ADD COLUMN ") + columnSql(c, t.dialect()))) {
                if (error) *error = journal + QStringLiteral(": ") + t.sqlerrtext;
                return false;
            }
        }
        return true;
    }
    if (from == 3) {
        if (!t.exec(QStringLiteral("INSERT INTO b_user_right (userid, funcid, right_code) SELECT r.userid, '04', "
                                   "r.right_code FROM b_user_right r WHERE r.funcid = '01' AND NOT EXISTS (SELECT 1 "
                                   "FROM b_user_right q WHERE q.userid = r.userid AND q.funcid = '04')"))) {
            if (error) *error = QStringLiteral("b_user_right: ") + t.sqlerrtext;
            return false;
        }
        return true;
    }
    return from >= 1;
}
} // namespace

int schemaVersion(Transaction& t) {
    QVariantList row;
    const QString probe = t.dialect().kind() == Dialect::Kind::PostgreSQL
                              ? QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_name = ? "
                                               "AND table_schema = current_schema()")
                              : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
    if (t.selectInto(probe, {versionTable()}, row) == -1) return -1;
    if (row.value(0).toLongLong() == 0) return 0;
    return readVersion(t);
}

bool createSchema(Transaction& t, QString* error) {
    TxGuard guard(t);
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        (void)t.rollback(); // the failure being reported is `why`
        return false;
    };
    // A database already at this version needs nothing (the common start).
    if (schemaVersion(t) == kSchemaVersion) return true;
    if (!t.begin()) return fail(t.sqlerrtext);
    const QString lock = t.dialect().schemaLockStatement();
    if (!lock.isEmpty() && t.selectAll(lock).isEmpty() && t.sqlcode == -1) return fail(t.sqlerrtext);
    if (!t.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (version INTEGER NOT NULL)").arg(versionTable())))
        return fail(versionTable() + QStringLiteral(": ") + t.sqlerrtext);
    const int version = readVersion(t);
    if (version == -1) return fail(versionTable() + QStringLiteral(": ") + t.sqlerrtext);
    if (version > kSchemaVersion)
        return fail(QStringLiteral("数据库的结构版本为 %1，本程序只支持到版本 %2，请先升级本程序。")
                        .arg(version)
                        .arg(kSchemaVersion));
    if (version == kSchemaVersion) return t.commit() || fail(t.sqlerrtext);
    QString e;
    if (!createTables(t, &e)) return fail(e);
    // A database without a version row has the tables of version 1 (or none).
    for (int v = qMax(version, 1); v < kSchemaVersion; ++v)
        if (!upgradeFrom(t, v, &e)) return fail(e);
    if (!t.exec(QStringLiteral("DELETE FROM ") + versionTable()) ||
        !t.exec(QStringLiteral("INSERT INTO %1 (version) VALUES (?)").arg(versionTable()), {kSchemaVersion}))
        return fail(versionTable() + QStringLiteral(": ") + t.sqlerrtext);
    if (!t.commit()) return fail(t.sqlerrtext);
    return true;
}

int textLength(const QString& value) { return int(value.toUcs4().size()); }

QString widthError(const ColumnDef& column, const QString& value) {
    if (column.type != ColType::Text || column.width <= 0) return QString();
    const int len = textLength(value);
    if (len <= column.width) return QString();
    const QString label = column.label.isEmpty() ? column.name : column.label;
    return QStringLiteral("“%1”最多%2个字符，当前为%3个字符，请修改！").arg(label).arg(column.width).arg(len);
}

QString widthError(const TableDef& table, const QVariantMap& values) {
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const ColumnDef* c = table.column(it.key());
        if (!c || it.value().isNull()) continue;
        const QString e = widthError(*c, it.value().toString());
        if (!e.isEmpty()) return e;
    }
    return QString();
}

} // namespace fp
