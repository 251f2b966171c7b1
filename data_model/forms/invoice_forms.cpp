// Header forms and item lists of the three invoice kinds: the integrated
// invoice (ptfp_fpk / ptfp_fpxmmx) and the real-estate and building invoices
// (bdcja_fpk / bdcja_fpxmmx).
#include "data_model/data_store.h"
#include "data_model/forms/forms.h"

#include <QHash>

namespace fp::forms {

namespace {

const QString kIdTypes[] = {QStringLiteral("身份证件号码"), QStringLiteral("组织机构代码"),
                            QStringLiteral("纳税人识别号")};

QList<CodeEntry> idTypeCodes() {
    return codes({{kIdTypes[0], kIdTypes[0]}, {kIdTypes[1], kIdTypes[1]}, {kIdTypes[2], kIdTypes[2]}});
}

// The payer's name cannot be changed on a red-letter invoice copied from a known
// invoice: negative total and the marker object sgfpch_t holding "0".
bool copiedRedLetter(const DataStore& s, int row, const QString& amountColumn) {
    const auto amount = s.getDecimal(row, amountColumn);
    return amount && amount->sign() < 0 && s.objectText(QStringLiteral("sgfpch_t")) == QLatin1String("0");
}

// Header form of `table`: every column of the table in table order, plus the
// tax office name as a second view of swjgdm.
FormDef headerForm(const QString& name, const QString& table, bool integrated) {
    static const QHash<QString, QString> labels = {
        {QStringLiteral("fpdm"), QStringLiteral("发票代码")},
        {QStringLiteral("fphm"), QStringLiteral("发票号码")},
        {QStringLiteral("fpzlbm"), QStringLiteral("发票种类编码")},
        {QStringLiteral("swjgdm"), QStringLiteral("税务机关代码")},
        {QStringLiteral("sxh"), QStringLiteral("顺序号")},
        {QStringLiteral("fpzt"), QStringLiteral("发票状态")},
        {QStringLiteral("fkfmc"), QStringLiteral("付款方名称")},
        {QStringLiteral("fkfzjlx"), QStringLiteral("证件类型")},
        {QStringLiteral("fkfzjhm"), QStringLiteral("付款方证件号码")},
        {QStringLiteral("skfmc"), QStringLiteral("收款方名称")},
        {QStringLiteral("skfzjlx"), QStringLiteral("收款方证件类型")},
        {QStringLiteral("skfzjhm"), QStringLiteral("收款方证件号码")},
        {QStringLiteral("skflxdh"), QStringLiteral("收款方联系电话")},
        {QStringLiteral("zbrbz"), QStringLiteral("总包人标志")},
        {QStringLiteral("fbrbz"), QStringLiteral("分包人标志")},
        {QStringLiteral("hjje"), QStringLiteral("合计金额")},
        {QStringLiteral("hjdx"), QStringLiteral("合计大写")},
        {QStringLiteral("bz"), QStringLiteral("备注")},
        {QStringLiteral("kpr"), QStringLiteral("开票人")},
        {QStringLiteral("kprq"), QStringLiteral("开票日期")},
        {QStringLiteral("bcrq"), QStringLiteral("保存日期")},
        {QStringLiteral("drcs"), QStringLiteral("打印次数")},
        {QStringLiteral("mjlx"), QStringLiteral("面积类型")},
    };
    static const QHash<QString, QString> tags = {
        {QStringLiteral("fpdm"), QStringLiteral("发票代码|notnull|")},
        {QStringLiteral("fphm"), QStringLiteral("发票号码|notnull|")},
        {QStringLiteral("swjgdm"), QStringLiteral("税务机关代码|notnull|")},
        {QStringLiteral("fkfmc"), QStringLiteral("付款方名称|notnull|")},
        {QStringLiteral("fkfzjlx"), QStringLiteral("证件类型:身份证号/组织机构代码/纳税人识别号|notnull|")},
        {QStringLiteral("fkfzjhm"), QStringLiteral("付款方证件号码|notnull|")},
        {QStringLiteral("skfmc"), QStringLiteral("收款方名称|notnull|")},
        {QStringLiteral("skfzjlx"), QStringLiteral("收款方证件类型:身份证号/组织机构代码/纳税人识别号|notnull|")},
        {QStringLiteral("skfzjhm"), QStringLiteral("收款方证件号码|notnull|")},
        {QStringLiteral("hjje"), QStringLiteral("合计金额|notnull|")},
        {QStringLiteral("kprq"), QStringLiteral("开票日期:发票打印日期|notnull|")},
        {QStringLiteral("kpr"), QStringLiteral("开票人|notnull|")},
    };

    FormDef d;
    d.name = name;
    d.kind = FormKind::FreeForm;
    d.tables = {table};
    d.updateTable = table;
    d.keyColumns = {QStringLiteral("fpdm"), QStringLiteral("fphm")};
    for (const ColumnDef& cd : findTable(table)->columns) {
        FormColumn c = tableColumn(table, cd.name, labels.value(cd.name), tags.value(cd.name));
        c.visible = !c.label.isEmpty();
        if (cd.name == QLatin1String("fkfmc")) {
            c.edit = EditStyle::DropDown;
            c.dropDown = {QStringLiteral("d_base_corp"), QStringLiteral("cname"), QStringLiteral("cname")};
            if (integrated)
                c.protect = [](const DataStore& s, int row) { return copiedRedLetter(s, row, QStringLiteral("hjje")); };
        } else if (cd.name == QLatin1String("fkfzjlx") || cd.name == QLatin1String("skfzjlx")) {
            c.edit = EditStyle::CodeTable;
            c.codeTable = idTypeCodes();
        } else if (cd.name == QLatin1String("zbrbz") || cd.name == QLatin1String("fbrbz")) {
            c.edit = EditStyle::CodeTable;
            c.codeTable =
                codes({{QStringLiteral("是"), QStringLiteral("1")}, {QStringLiteral("否"), QStringLiteral("0")}});
        } else if (cd.name == QLatin1String("mjlx")) {
            c.edit = EditStyle::CodeTable;
            c.codeTable = codes(
                {{QStringLiteral("套内面积"), QStringLiteral("1")}, {QStringLiteral("建筑面积"), QStringLiteral("2")}});
        } else if (cd.name == QLatin1String("fpzt")) {
            // The invoice's state by its name, never its code.
            c.edit = EditStyle::CodeTable;
            c.codeTable = codes({{QStringLiteral("未领购"), QStringLiteral("-2")},
                                 {QStringLiteral("已退库"), QStringLiteral("-1")},
                                 {QStringLiteral("未使用"), QStringLiteral("0")},
                                 {QStringLiteral("已开票"), QStringLiteral("1")},
                                 {QStringLiteral("已作废"), QStringLiteral("2")},
                                 {QStringLiteral("已作废（空白）"), QStringLiteral("3")}});
        } else if (cd.name == QLatin1String("hjje")) {
            c.format = kMoneyFormat;
            c.colour = redWhenNegative(QStringLiteral("hjje"));
        } else if (cd.type == ColType::DateTime) {
            c.format = kDateFormat;
        }
        // The invoice's identity and the values the system fills in are shown but
        // not typed over: a changed code or number would save an unchecked invoice.
        static const QStringList systemColumns = {
            QStringLiteral("fpdm"), QStringLiteral("fphm"),  QStringLiteral("fpzlbm"), QStringLiteral("sxh"),
            QStringLiteral("fpzt"), QStringLiteral("hjje"),  QStringLiteral("hjdx"),   QStringLiteral("bcrq"),
            QStringLiteral("drcs"), QStringLiteral("swjgdm")};
        if (systemColumns.contains(cd.name) && !c.protect) c.protect = [](const DataStore&, int) { return true; };
        d.columns.push_back(c);
    }

    // The office name: the value of swjgdm shown through the office list.
    FormColumn office = tableColumn(table, QStringLiteral("swjgdm"), QStringLiteral("税务机关名称"),
                                    QStringLiteral("|notnull|"), QStringLiteral("swjgmc"));
    office.viewOf = QStringLiteral("swjgdm");
    office.edit = EditStyle::DropDown;
    office.dropDown = {QStringLiteral("dddw_swjg"), QStringLiteral("swjgmc"), QStringLiteral("swjgdm")};
    // The taxpayer's office comes with the taxpayer, as its code does.
    office.protect = [](const DataStore&, int) { return true; };
    d.views.push_back(office);

    addLabelObjects(d);
    if (integrated) {
        // What the issuer enters or reads on the paper invoice, in its order:
        // code, number and date; the payer; the total in figures and words;
        // the payee; the remarks; the issuer, the invoice's state and the tax
        // office. Every column the save requires is among them, so that a
        // missing value is one the issuer can see.
        d.screenLines = {{QStringLiteral("fpdm"), QStringLiteral("fphm"), QStringLiteral("kprq")},
                         {QStringLiteral("fkfmc")},
                         {QStringLiteral("fkfzjlx"), QStringLiteral("fkfzjhm")},
                         {QStringLiteral("hjje"), QStringLiteral("hjdx")},
                         {QStringLiteral("skfmc"), QStringLiteral("skflxdh")},
                         {QStringLiteral("skfzjlx"), QStringLiteral("skfzjhm")},
                         {QStringLiteral("bz")},
                         {QStringLiteral("kpr"), QStringLiteral("fpzt"), QStringLiteral("swjgmc")}};
        // Red-letter marker: "1" for a reversal of an invoice issued outside the
        // system, "0" otherwise; the issuing window sets it.
        d.texts.push_back({QStringLiteral("sgfpch_t"), QStringLiteral("0"), QString(), false});
        d.arguments = {{QStringLiteral("as_sxh"), QStringLiteral("sxh"), ColType::Text},
                       {QStringLiteral("as_fpdm"), QStringLiteral("fpdm"), ColType::Text},
                       {QStringLiteral("as_fphm"), QStringLiteral("fphm"), ColType::Text}};
        d.select = QStringLiteral("SELECT %1 FROM %2 WHERE ( fpdm = ? ) AND ( fphm = ? ) AND sxh = ?")
                       .arg(selectList(d), table);
        d.placeholderArgs = {QStringLiteral("as_fpdm"), QStringLiteral("as_fphm"), QStringLiteral("as_sxh")};
    } else {
        d.arguments = {{QStringLiteral("as_fpdm"), QStringLiteral("fpdm"), ColType::Text},
                       {QStringLiteral("as_fphm"), QStringLiteral("fphm"), ColType::Text}};
        d.select = QStringLiteral("SELECT %1 FROM %2 WHERE fpdm = ? AND fphm = ?").arg(selectList(d), table);
        d.placeholderArgs = {QStringLiteral("as_fpdm"), QStringLiteral("as_fphm")};
    }
    finish(d);
    return d;
}

enum class ItemKind { Integrated, Estate, Building };

const QString kPaymentHeading = QStringLiteral("款 1.预售定金\r\n项 2.预收购房款\r\n性 3.购房款\r\n质 4.其它(请注明)");
const QString kPaymentTag = QStringLiteral(
    "款项性质：\r\n1.预售定金\r\n2.预收购房款\r\n3.售房款\r\n4.其它（请注明）   ***注：在括号内可编辑录入文本。");

FormDef itemList(const QString& name, ItemKind kind) {
    const QString table = kind == ItemKind::Integrated ? QStringLiteral("ptfp_fpxmmx") : QStringLiteral("bdcja_fpxmmx");
    QHash<QString, QString> headings;
    QHash<QString, QString> tags = {
        {QStringLiteral("xmmc"), QStringLiteral("项目名称|notnull|")},
        {QStringLiteral("je"), QStringLiteral("金额|notnull|")},
        {QStringLiteral("dj"), QStringLiteral("单价|END_COL|")},
        {QStringLiteral("xmbh"), QStringLiteral("项目编号")},
        {QStringLiteral("jsxm"), QStringLiteral("结算项目")},
        {QStringLiteral("bdclph"), QStringLiteral("不动产楼牌号")},
        {QStringLiteral("mj"), QStringLiteral("面积")},
        {QStringLiteral("kxxz"), kPaymentTag},
    };
    QString itemTag;
    switch (kind) {
    case ItemKind::Integrated:
        itemTag = QStringLiteral("品目明细");
        headings = {{QStringLiteral("xmmc"), QStringLiteral("\r\n品      目\r\n")},
                    {QStringLiteral("mj"), QStringLiteral("数量")},
                    {QStringLiteral("dj"), QStringLiteral("单价")},
                    {QStringLiteral("je"), QStringLiteral("\r\n金  额(元)\r\n")},
                    {QStringLiteral("jsxm"), QStringLiteral("\r\n结 算 项 目\r\n")},
                    {QStringLiteral("xmbh"), QStringLiteral("\r\n不动产项目编号\r\n")},
                    {QStringLiteral("bdclph"), QStringLiteral("\r\n销售的不动产楼牌号\r\n")},
                    {QStringLiteral("wspzh"), QStringLiteral("完税凭证号")},
                    {QStringLiteral("kxxz"), kPaymentHeading}};
        break;
    case ItemKind::Estate:
        itemTag = QStringLiteral("不动产项目明细");
        headings = {{QStringLiteral("xmmc"), QStringLiteral("\r\n不动产项目名称\r\n")},
                    {QStringLiteral("xmbh"), QStringLiteral("\r\n不动产项目编号\r\n")},
                    {QStringLiteral("mj"), QStringLiteral("面积\r\n(单位：m )")},
                    {QStringLiteral("dj"), QStringLiteral("单价\r\n(单位：元/m )")},
                    {QStringLiteral("je"), QStringLiteral("\r\n金  额(元)\r\n")},
                    {QStringLiteral("bdclph"), QStringLiteral("\r\n销售的不动产楼牌号\r\n")},
                    {QStringLiteral("wspzh"), QStringLiteral("完税凭证号")},
                    {QStringLiteral("kxxz"), kPaymentHeading}};
        tags[QStringLiteral("xmbh")] = QStringLiteral("项目编号|notnull|");
        tags[QStringLiteral("je")] = QStringLiteral("金额");
        break;
    case ItemKind::Building:
        itemTag = QStringLiteral("工程项目明细");
        headings = {{QStringLiteral("xmmc"), QStringLiteral("\r\n工程项目名称\r\n")},
                    {QStringLiteral("xmbh"), QStringLiteral("\r\n工程项目编号\r\n")},
                    {QStringLiteral("jsxm"), QStringLiteral("\r\n结 算 项 目\r\n")},
                    {QStringLiteral("je"), QStringLiteral("\r\n金  额(元)\r\n")},
                    {QStringLiteral("mj"), QStringLiteral("面积")},
                    {QStringLiteral("dj"), QStringLiteral("单价")},
                    {QStringLiteral("kxxz"), QStringLiteral("款项性质")},
                    {QStringLiteral("bdclph"), QStringLiteral("不动产楼牌号")},
                    {QStringLiteral("wspzh"), QStringLiteral("完税凭证号码\r\n(代扣代缴税款)")}};
        tags[QStringLiteral("xmbh")] = QStringLiteral("项目编号|notnull|");
        tags[QStringLiteral("kxxz")] = QStringLiteral("款项性质");
        break;
    }

    FormDef d;
    d.name = name;
    d.kind = FormKind::Grid;
    d.tables = {table};
    d.updateTable = table;
    d.keyColumns = {QStringLiteral("iserial")};
    for (const ColumnDef& cd : findTable(table)->columns) {
        FormColumn c = tableColumn(table, cd.name, headings.value(cd.name), tags.value(cd.name));
        c.visible = !c.label.isEmpty();
        if (cd.name == QLatin1String("xmmc")) {
            c.edit = EditStyle::DropDown;
            c.dropDown = {QStringLiteral("d_base_pm"), QStringLiteral("pmmc"), QStringLiteral("pmmc")};
        } else if (cd.name == QLatin1String("kxxz") && kind != ItemKind::Building) {
            c.edit = EditStyle::CodeTable;
            c.codeTable = codes({{QStringLiteral("预售定金"), QStringLiteral("1")},
                                 {QStringLiteral("预收购房款"), QStringLiteral("2")},
                                 {QStringLiteral("售房款"), QStringLiteral("3")},
                                 {QStringLiteral("其它(请在些括号内注明)"), QStringLiteral("4")}});
        } else if (cd.name == QLatin1String("je")) {
            c.format = kMoneyFormat;
            c.colour = redWhenNegative(QStringLiteral("je"));
            if (kind == ItemKind::Integrated)
                c.protect = [](const DataStore& s, int row) { return copiedRedLetter(s, row, QStringLiteral("je")); };
        } else if (cd.name == QLatin1String("dj")) {
            c.format = kMoneyFormat;
        }
        d.columns.push_back(c);
    }
    addLabelObjects(d);
    for (auto& t : d.texts)
        if (t.name == QLatin1String("xmmc_t")) t.tag = itemTag;
    d.texts.push_back({QStringLiteral("hj_t"), QStringLiteral("合  计"), QString(), true});
    if (kind == ItemKind::Integrated) {
        d.texts.push_back({QStringLiteral("sgfpch_t"), QStringLiteral("0"), QString(), false});
        d.screenOrder = {QStringLiteral("xmmc"), QStringLiteral("mj"), QStringLiteral("dj"), QStringLiteral("je")};
    }

    ComputedField total = sumField(QStringLiteral("cpt_amount"), QStringLiteral("je"), kMoneyFormat);
    total.colour = redWhenNegative(QStringLiteral("cpt_amount"));
    d.computed.push_back(total);
    if (kind != ItemKind::Building) {
        d.computed.push_back(sumField(QStringLiteral("compute_2"), QStringLiteral("mj")));
        d.computed.push_back(sumField(QStringLiteral("compute_3"), QStringLiteral("dj")));
    }

    d.arguments = {{QStringLiteral("as_fpdm"), QStringLiteral("fpdm"), ColType::Text},
                   {QStringLiteral("as_fphm"), QStringLiteral("fphm"), ColType::Text}};
    d.select = QStringLiteral("SELECT %1 FROM %2 WHERE fpdm = ? AND fphm = ?").arg(selectList(d), table);
    if (kind == ItemKind::Integrated) d.select += QStringLiteral(" ORDER BY iserial ASC");
    d.placeholderArgs = {QStringLiteral("as_fpdm"), QStringLiteral("as_fphm")};
    finish(d);
    return d;
}

} // namespace

std::vector<FormDef> invoiceForms() {
    std::vector<FormDef> l;
    l.push_back(headerForm(QStringLiteral("d_fp_integrated_free"), QStringLiteral("ptfp_fpk"), true));
    l.push_back(headerForm(QStringLiteral("d_fp_building_free"), QStringLiteral("bdcja_fpk"), false));
    l.push_back(itemList(QStringLiteral("d_fp_xmxx_integrated_list"), ItemKind::Integrated));
    l.push_back(itemList(QStringLiteral("d_fp_xmxx_estate_list"), ItemKind::Estate));
    l.push_back(itemList(QStringLiteral("d_fp_xmxx_building_list"), ItemKind::Building));
    return l;
}

} // namespace fp::forms
