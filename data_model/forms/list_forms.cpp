// Drop-down lists (invoice codes, kinds, tax offices, issuers) and the host's
// maintenance lists (item catalogue, trading partners, staff, data lists).
#include "data_model/data_store.h"
#include "data_model/forms/forms.h"

namespace fp::forms {

namespace {

struct Col {
    QString dbColumn;
    QString label;
    QString tag = QString();
    QString formName = QString();
};

FormDef listForm(const QString& name, const QString& table, std::initializer_list<Col> cols, const QStringList& keys) {
    FormDef d;
    d.name = name;
    d.kind = FormKind::Grid;
    d.tables = {table};
    for (const Col& c : cols) d.columns.push_back(tableColumn(table, c.dbColumn, c.label, c.tag, c.formName));
    if (!keys.isEmpty()) {
        d.updateTable = table;
        d.keyColumns = keys;
    }
    return d;
}

// Lists of the owner account: the rows whose sxh equals as_sxh.
void byOwner(FormDef& d, const QString& extraWhere = QString(), const QString& orderBy = QString()) {
    d.arguments = {{QStringLiteral("as_sxh"), QStringLiteral("sxh"), ColType::Text}};
    d.placeholderArgs = {QStringLiteral("as_sxh")};
    d.select = QStringLiteral("SELECT %1 FROM %2 WHERE sxh = ?%3").arg(selectList(d), d.tables.first(), extraWhere);
    if (!orderBy.isEmpty()) d.select += QStringLiteral(" ORDER BY ") + orderBy;
}

void all(FormDef& d, const QString& orderBy = QString()) {
    d.select = QStringLiteral("SELECT %1 FROM %2").arg(selectList(d), d.tables.first());
    if (!orderBy.isEmpty()) d.select += QStringLiteral(" ORDER BY ") + orderBy;
}

ComputedField maxCodeField() {
    ComputedField f;
    f.name = QStringLiteral("cpt_maxcode");
    f.expression = QStringLiteral("max( ccode )");
    f.eval = [](const DataStore& s, int) { return maxTextOf(s, QStringLiteral("ccode")); };
    return f;
}

} // namespace

// The employee code that the staff list never shows: the host's built-in
// administrator account.
const QString kHiddenEmployeeCode = QStringLiteral("admin");

std::vector<FormDef> listForms() {
    std::vector<FormDef> l;

    {
        FormDef d = listForm(QStringLiteral("dddw_fpdm"), QStringLiteral("bm_bdcja_fpdm"),
                             {{QStringLiteral("fpdm"), QStringLiteral("发票代码")},
                              {QStringLiteral("fpzlbm"), QStringLiteral("发票种类编码")}},
                             {QStringLiteral("fpdm")});
        all(d, QStringLiteral("fpdm"));
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        FormDef d = listForm(QStringLiteral("dddw_fpzl"), QStringLiteral("bm_bdcja_fpzl"),
                             {{QStringLiteral("fpzlbm"), QStringLiteral("发票种类编码")},
                              {QStringLiteral("kplx"), QStringLiteral("开票类型")},
                              {QStringLiteral("fpqc"), QStringLiteral("发票全称")},
                              {QStringLiteral("fpjc"), QStringLiteral("发票简称")},
                              {QStringLiteral("yxj"), QStringLiteral("优先级")}},
                             {QStringLiteral("fpzlbm")});
        FormColumn& kplx = d.columns[1];
        kplx.edit = EditStyle::CodeTable;
        kplx.codeTable =
            codes({{QStringLiteral("代开"), QStringLiteral("1")}, {QStringLiteral("自开"), QStringLiteral("2")}});
        all(d, QStringLiteral("fpzlbm"));
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        FormDef d = listForm(QStringLiteral("dddw_swjg"), QStringLiteral("bm_bdcja_swjg"),
                             {{QStringLiteral("swjgdm"), QStringLiteral("税务机关代码")},
                              {QStringLiteral("swjgmc"), QStringLiteral("税务机关名称")},
                              {QStringLiteral("sjjgdm"), QStringLiteral("上级机关代码")},
                              {QStringLiteral("dwjb"), QStringLiteral("单位级别")},
                              {QStringLiteral("yhlxbm"), QStringLiteral("用户类型")}},
                             {QStringLiteral("swjgdm")});
        all(d, QStringLiteral("swjgdm"));
        d.computed.push_back(rowNumberField());
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        FormDef d = listForm(QStringLiteral("dddw_kpr"), QStringLiteral("b_emp"),
                             {{QStringLiteral("cname"), QStringLiteral("开票员")}}, {});
        all(d, QStringLiteral("ccode"));
        d.computed.push_back(rowNumberField());
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        FormDef d = listForm(
            QStringLiteral("d_base_pm"), QStringLiteral("tbl_pm"),
            {{QStringLiteral("pmmc"), QStringLiteral("品目名称"), QStringLiteral("|notnull|")},
             {QStringLiteral("price"), QStringLiteral("品目单价"), QStringLiteral("品目单价|notnull|END_COL|")}},
            {QStringLiteral("pmmc")});
        d.columns[1].format = kMoneyFormat;
        byOwner(d, QString(), QStringLiteral("pmmc"));
        d.computed.push_back(rowNumberField());
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        // The partner code is the column ccode of the form (database column code).
        FormDef d =
            listForm(QStringLiteral("d_base_corp"), QStringLiteral("b_corp"),
                     {{QStringLiteral("code"), QStringLiteral("往来单位编码"), QString(), QStringLiteral("ccode")},
                      {QStringLiteral("cname"), QStringLiteral("往来单位名称"), QStringLiteral("|notnull|")},
                      {QStringLiteral("type"), QStringLiteral("证件类型")},
                      {QStringLiteral("lc_no"), QStringLiteral("证件号码"), QStringLiteral("|notnull|END_COL|")}},
                     {QStringLiteral("ccode")});
        FormColumn& type = d.columns[2];
        type.edit = EditStyle::CodeTable;
        type.codeTable = codes({{QStringLiteral("身份证件号码"), QStringLiteral("身份证号码")},
                                {QStringLiteral("组织机构代码"), QStringLiteral("组织机构代码")},
                                {QStringLiteral("纳税人识别号"), QStringLiteral("纳税人识别号")}});
        byOwner(d, QString(), QStringLiteral("code"));
        d.computed.push_back(maxCodeField());
        d.computed.push_back(rowNumberField());
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        FormDef d = listForm(QStringLiteral("d_base_emp"), QStringLiteral("b_emp"),
                             {{QStringLiteral("ccode"), QStringLiteral("开票员编码")},
                              {QStringLiteral("cname"), QStringLiteral("开票员名称"), QStringLiteral("|notnull|")},
                              {QStringLiteral("pwd"), QStringLiteral("登录密码")},
                              {QStringLiteral("idcode"), QStringLiteral("身份证件号码"), QStringLiteral("|END_COL|")},
                              {QStringLiteral("department"), QStringLiteral("所属部门")}},
                             {QStringLiteral("ccode")});
        d.columns[2].edit = EditStyle::Masked;
        d.columns[2].mask = QStringLiteral("*********");
        d.columns[4].initial = QStringLiteral("KPRY");
        byOwner(d, QStringLiteral(" AND ccode <> ?"), QStringLiteral("ccode"));
        d.placeholderArgs << QStringLiteral("hidden_ccode");
        d.fixedValues.insert(QStringLiteral("hidden_ccode"), kHiddenEmployeeCode);
        d.computed.push_back(maxCodeField());
        d.computed.push_back(rowNumberField());
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    {
        FormDef d = listForm(QStringLiteral("d_base_base_data"), QStringLiteral("base_data"),
                             {{QStringLiteral("iserial"), QStringLiteral("序号")},
                              {QStringLiteral("cname"), QStringLiteral("数据名称")},
                              {QStringLiteral("cflag"), QStringLiteral("标志")},
                              {QStringLiteral("ntable"), QStringLiteral("表名")},
                              {QStringLiteral("dw_name"), QStringLiteral("数据窗口")}},
                             {});
        all(d, QStringLiteral("iserial"));
        d.computed.push_back(rowNumberField());
        addLabelObjects(d);
        finish(d);
        l.push_back(std::move(d));
    }
    return l;
}

} // namespace fp::forms
