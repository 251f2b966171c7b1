// The printed integrated invoice: the header joined with its item lines (one
// row per line, one row for a header without lines) and the complete layout of
// the pre-printed paper.
#include "data_model/data_store.h"
#include "data_model/forms/forms.h"

namespace fp::forms {

namespace {

const QString kSerif = QStringLiteral("宋体");
const QString kSans = QStringLiteral("黑体");

// Region printed in front of the invoice title, and the notice on checking an
// invoice's authenticity (not printed: the paper carries it).
const QString kTitle = QStringLiteral("示 范 市 综 合 统 一 发 票");
const QString kAuthenticityNotice =
    QStringLiteral("本发票真伪可拨打纳税服务热线12366或登录示范市税务局网站（www.tax.example.cn）查询");

bool negativeTotal(const DataStore& s) {
    const auto total = Decimal::fromVariant(s.computed(QStringLiteral("cpt_amt")));
    return total && total->sign() < 0;
}

// Seconds from 1900-01-01 00:00:00 to `saved`: days since that date times 86400
// plus the seconds of the day.
QVariant secondsSince1900(const QDateTime& saved) {
    if (!saved.isValid()) return QVariant();
    const qlonglong days = QDate(1900, 1, 1).daysTo(saved.date());
    const qlonglong seconds = QTime(0, 0).secsTo(saved.time());
    return QVariant(days * 86400 + seconds);
}

struct Place {
    Band band;
    const char* name;
    int x, y, height, width;
};

// The placement of every object, in the order of the definition.
const Place kPlaces[] = {
    {Band::Header, "title_t", 0, 0, 88, 2629},
    {Band::Header, "ptfp_fpk_sxh_t", 18, 0, 56, 448},
    {Band::Header, "ptfp_fpk_sxh", 471, 0, 60, 361},
    {Band::Header, "ptfp_fpk_drcs_t", 18, 64, 56, 448},
    {Band::Header, "ptfp_fpk_drcs", 471, 64, 60, 361},
    {Band::Header, "t_1", 645, 92, 108, 1335},
    {Band::Header, "ptfp_fpk_skflxdh_t", 18, 128, 56, 448},
    {Band::Header, "skflxdh", 471, 124, 60, 361},
    {Band::Header, "ptfp_fpk_fpzt_t", 1861, 212, 60, 343},
    {Band::Header, "fpzt", 2208, 212, 60, 357},
    {Band::Header, "ptfp_fpk_kprq_t", 5, 252, 56, 293},
    {Band::Header, "kprq", 302, 252, 56, 549},
    {Band::Header, "t_13", 1019, 252, 56, 197},
    {Band::Header, "compute_2", 1225, 252, 56, 503},
    {Band::Header, "ptfp_fpk_fpdm_t", 14, 340, 56, 379},
    {Band::Header, "ptfp_fpk_fpdm", 407, 340, 56, 933},
    {Band::Header, "ptfp_fpk_swjgdm_t", 1358, 340, 56, 672},
    {Band::Header, "ptfp_fpk_swjgdm", 2048, 340, 56, 571},
    {Band::Header, "ptfp_fpk_fphm_t", 14, 400, 56, 379},
    {Band::Header, "ptfp_fpk_fphm", 407, 400, 56, 933},
    {Band::Header, "t_2", 1358, 400, 56, 672},
    {Band::Header, "ptfp_fpk_swjgdm_1", 2048, 400, 56, 571},
    {Band::Header, "ptfp_fpk_fkfmc_t", 14, 500, 56, 379},
    {Band::Header, "ptfp_fpk_fkfmc", 407, 472, 116, 933},
    {Band::Header, "ptfp_fpk_fkfzjlx_t", 1358, 472, 56, 672},
    {Band::Header, "ptfp_fpk_fkfzjlx", 2048, 472, 56, 571},
    {Band::Header, "ptfp_fpk_fkfzjhm_t", 1358, 532, 56, 672},
    {Band::Header, "ptfp_fpk_fkfzjhm", 2048, 532, 56, 571},
    {Band::Header, "ptfp_fpk_skfmc_t", 14, 636, 56, 379},
    {Band::Header, "ptfp_fpk_skfmc", 407, 608, 116, 933},
    {Band::Header, "ptfp_fpk_skfzjlx_t", 1358, 608, 56, 672},
    {Band::Header, "ptfp_fpk_skfzjlx", 2048, 608, 56, 571},
    {Band::Header, "ptfp_fpk_skfzjhm_t", 1358, 668, 56, 672},
    {Band::Header, "ptfp_fpk_skfzjhm", 2048, 668, 56, 571},
    {Band::Header, "ptfp_fpxmmx_xmmc_t", 183, 740, 56, 846},
    {Band::Header, "ptfp_fpxmmx_mj_t", 1033, 740, 56, 279},
    {Band::Header, "ptfp_fpxmmx_dj_t", 1317, 740, 56, 315},
    {Band::Header, "ptfp_fpxmmx_je_t", 1637, 740, 56, 398},
    {Band::Header, "ptfp_fpk_bz_t", 2048, 740, 56, 571},
    {Band::Header, "t_10", 2048, 740, 56, 576},
    {Band::Detail, "ptfp_fpxmmx_xmmc", 183, 4, 56, 846},
    {Band::Detail, "ptfp_fpxmmx_mj", 1033, 4, 56, 279},
    {Band::Detail, "ptfp_fpxmmx_dj", 1317, 4, 56, 315},
    {Band::Detail, "ptfp_fpxmmx_je", 1637, 4, 56, 398},
    {Band::Detail, "bz", 2048, 4, 56, 581},
    {Band::Summary, "t_8", 9, 40, 56, 640},
    {Band::Summary, "compute_1", 663, 40, 56, 1225},
    {Band::Summary, "t_9", 1897, 40, 56, 229},
    {Band::Summary, "cpt_amt", 2130, 40, 56, 494},
    {Band::Summary, "t_5", 18, 156, 56, 608},
    {Band::Summary, "ptfp_fpk_kpr_t", 1157, 156, 56, 238},
    {Band::Summary, "kpr", 1399, 156, 56, 626},
    {Band::Summary, "t_6", 2085, 156, 56, 338},
    {Band::Summary, "t_7", 0, 224, 56, 2629},
    {Band::Page, "t_3", 32, 856, 192, 55},
    {Band::Page, "t_4", 91, 868, 48, 50},
    {Band::Page, "t_11", 91, 928, 48, 50},
    {Band::Page, "t_12", 91, 992, 48, 50},
};

const char* const kHidden[] = {
    "ptfp_fpk_sxh_t", "ptfp_fpk_sxh", "ptfp_fpk_drcs_t", "ptfp_fpk_drcs", "ptfp_fpk_skflxdh_t", "skflxdh",
    "t_10",           "t_7"};

// Labels are placed before their values; amounts sit right in their cells.
const char* const kRightAligned[] = {"ptfp_fpk_kprq_t", "t_13",           "ptfp_fpk_kpr_t", "t_9",
                                     "ptfp_fpxmmx_mj",  "ptfp_fpxmmx_dj", "ptfp_fpxmmx_je", "cpt_amt"};
const char* const kLeftAligned[] = {"ptfp_fpk_sxh_t",
                                    "ptfp_fpk_drcs_t",
                                    "ptfp_fpk_skflxdh_t",
                                    "t_5",
                                    "t_6",
                                    "compute_1",
                                    "kprq",
                                    "compute_2",
                                    "ptfp_fpk_sxh",
                                    "ptfp_fpk_drcs",
                                    "skflxdh",
                                    "fpzt",
                                    "ptfp_fpk_fpdm",
                                    "ptfp_fpk_fphm",
                                    "ptfp_fpk_swjgdm",
                                    "ptfp_fpk_swjgdm_1",
                                    "ptfp_fpk_fkfmc",
                                    "ptfp_fpk_fkfzjlx",
                                    "ptfp_fpk_fkfzjhm",
                                    "ptfp_fpk_skfmc",
                                    "ptfp_fpk_skfzjlx",
                                    "ptfp_fpk_skfzjhm",
                                    "ptfp_fpxmmx_xmmc",
                                    "bz",
                                    "kpr"};

template <size_t N>
bool listed(const char* const (&names)[N], const QString& name) {
    for (const char* n : names)
        if (name == QLatin1String(n)) return true;
    return false;
}

std::shared_ptr<const PrintLayout> makeLayout() {
    auto layout = std::make_shared<PrintLayout>();
    layout->width = 2629;
    layout->headerHeight = 844;
    layout->detailHeight = 160;
    layout->summaryHeight = 284;
    // Scale and paper, chosen once here: the layout is 2629 units across and,
    // with five item rows, 844 + 5 x 160 + 284 = 1928 units down. At 0.08 mm a
    // unit (the same across and down) that is 210.3 mm x 154.2 mm, and the 56
    // units of a one-line box are 4.5 mm, room for the 10-point type. The
    // invoice comes on continuous 9.5 x 7 inch stationery (241.3 mm x 177.8 mm)
    // for impact printers; the layout sits centred across it (15.5 mm on each
    // side) and 12 mm below its top edge, which leaves 11.6 mm under five rows.
    // A printer's own misalignment is the clerk's per-printer offset, not this.
    layout->unitMm = 0.08;
    layout->paperWidthMm = 241.3;
    layout->paperHeightMm = 177.8;
    layout->leftMm = (241.3 - 2629 * 0.08) / 2;
    layout->topMm = 12.0;
    layout->paperItemRows = 5;
    for (const Place& p : kPlaces) {
        LayoutObject o;
        o.name = QString::fromLatin1(p.name);
        o.band = p.band;
        o.x = p.x;
        o.y = p.y;
        o.height = p.height;
        o.width = p.width;
        o.fontFamily = kSerif;
        o.fontSize = 10;
        o.hidden = listed(kHidden, o.name);
        o.align = listed(kRightAligned, o.name)  ? Align::Right
                  : listed(kLeftAligned, o.name) ? Align::Left
                                                 : Align::Center;
        if (o.name == QLatin1String("t_1")) {
            o.fontFamily = kSans;
            o.fontSize = 18;
            o.bold = true;
        } else if (o.name == QLatin1String("title_t")) {
            o.fontFamily = kSans;
            o.fontSize = 14;
        }
        layout->objects.push_back(o);
    }
    auto line = [&](Band b, int x1, int y1, int x2, int y2) { layout->lines.push_back({b, x1, y1, x2, y2}); };
    // under the title
    line(Band::Header, 964, 88, 1664, 88);
    for (int y : {328, 460, 596, 732}) line(Band::Header, 0, y, 2624, y);
    line(Band::Header, 0, 332, 0, 928);
    for (int x : {398, 1344}) line(Band::Header, x, 332, x, 740);
    for (int x : {2039, 2624}) line(Band::Header, x, 332, x, 844);
    line(Band::Header, 174, 732, 174, 840);
    for (int x : {0, 174, 2039, 2624}) line(Band::Detail, x, 0, x, 160);
    for (int y : {0, 136}) line(Band::Summary, 0, y, 2624, y);
    for (int x : {0, 2624}) line(Band::Summary, x, 4, x, 136);
    line(Band::Summary, 654, 0, 654, 136);
    return layout;
}

} // namespace

FormDef integratedPrintForm() {
    FormDef d;
    d.name = QStringLiteral("d_fp_integrated_print");
    d.kind = FormKind::FreeForm;
    d.tables = {QStringLiteral("ptfp_fpk"), QStringLiteral("ptfp_fpxmmx")};

    const QString fpk = QStringLiteral("ptfp_fpk"), mx = QStringLiteral("ptfp_fpxmmx");
    struct Src {
        QString table, column, name, label;
    };
    const Src sources[] = {
        {fpk, QStringLiteral("fpdm"), QStringLiteral("ptfp_fpk_fpdm"), QStringLiteral("机打代码")},
        {fpk, QStringLiteral("fphm"), QStringLiteral("ptfp_fpk_fphm"), QStringLiteral("机打号码")},
        {fpk, QStringLiteral("swjgdm"), QStringLiteral("ptfp_fpk_swjgdm"), QStringLiteral("主管税务机关代码")},
        {fpk, QStringLiteral("sxh"), QStringLiteral("ptfp_fpk_sxh"), QStringLiteral("顺序号")},
        {fpk, QStringLiteral("fpzt"), QStringLiteral("fpzt"), QStringLiteral("发票状态")},
        {fpk, QStringLiteral("fkfmc"), QStringLiteral("ptfp_fpk_fkfmc"), QStringLiteral("付款方名称")},
        {fpk, QStringLiteral("fkfzjlx"), QStringLiteral("ptfp_fpk_fkfzjlx"), QStringLiteral("付款方证件类型")},
        {fpk, QStringLiteral("fkfzjhm"), QStringLiteral("ptfp_fpk_fkfzjhm"), QStringLiteral("付款方证件号码")},
        {fpk, QStringLiteral("skfmc"), QStringLiteral("ptfp_fpk_skfmc"), QStringLiteral("收款方名称")},
        {fpk, QStringLiteral("skfzjlx"), QStringLiteral("ptfp_fpk_skfzjlx"), QStringLiteral("收款方证件类型")},
        {fpk, QStringLiteral("skfzjhm"), QStringLiteral("ptfp_fpk_skfzjhm"), QStringLiteral("收款方证件号码")},
        {fpk, QStringLiteral("skflxdh"), QStringLiteral("skflxdh"), QStringLiteral("收款方联系电话")},
        {fpk, QStringLiteral("bz"), QStringLiteral("bz"), QStringLiteral("备注")},
        {fpk, QStringLiteral("kpr"), QStringLiteral("kpr"), QStringLiteral("开票人")},
        {fpk, QStringLiteral("kprq"), QStringLiteral("kprq"), QStringLiteral("开票日期")},
        {fpk, QStringLiteral("drcs"), QStringLiteral("ptfp_fpk_drcs"), QStringLiteral("打印次数")},
        {mx, QStringLiteral("xmmc"), QStringLiteral("ptfp_fpxmmx_xmmc"), QStringLiteral("项目名称")},
        {mx, QStringLiteral("mj"), QStringLiteral("ptfp_fpxmmx_mj"), QStringLiteral("数量")},
        {mx, QStringLiteral("dj"), QStringLiteral("ptfp_fpxmmx_dj"), QStringLiteral("单价")},
        {mx, QStringLiteral("je"), QStringLiteral("ptfp_fpxmmx_je"), QStringLiteral("金额")},
        {fpk, QStringLiteral("bcrq"), QStringLiteral("bcrq"), QStringLiteral("保存日期")},
    };
    d.layout = makeLayout();
    const PrintLayout& layout = *d.layout;
    auto printed = [&](const QString& name) {
        const LayoutObject* o = layout.object(name);
        return o && !o->hidden;
    };
    const ColourRule redWhenTotalNegative = [](const DataStore& s, int) {
        return negativeTotal(s) ? kColourRed : kColourBlack;
    };

    for (const Src& src : sources) {
        FormColumn c = tableColumn(src.table, src.column, QString(), QString(), src.name);
        c.visible = printed(src.name);
        c.tag = c.visible ? src.label + kTagPrintVisible : src.label;
        if (c.visible) c.colour = redWhenTotalNegative;
        d.columns.push_back(c);
    }
    // The status: its own code table and colour, and no print marker (the print
    // command asks for it by name when the invoice is not a valid one).
    {
        FormColumn& fpzt = d.columns[size_t(d.columnIndex(QStringLiteral("fpzt")))];
        fpzt.tag = QStringLiteral("发票状态:1有效发票(已打印发票),2作废发票");
        fpzt.edit = EditStyle::CodeTable;
        fpzt.codeTable = codes({{QStringLiteral("有效发票"), QStringLiteral("1")},
                                {QStringLiteral("作废发票"), QStringLiteral("2")},
                                {QStringLiteral("空白作废发票"), QStringLiteral("3")},
                                {QStringLiteral("未领购"), QStringLiteral("-2")},
                                {QStringLiteral("已退库"), QStringLiteral("-1")},
                                {QStringLiteral("未使用"), QStringLiteral("0")}});
        fpzt.colour = [](const DataStore& s, int row) {
            return !s.isNull(row, QStringLiteral("fpzt")) &&
                           s.getString(row, QStringLiteral("fpzt")) != QLatin1String("1")
                       ? kColourRed
                       : kColourBlack;
        };
    }
    d.columns[size_t(d.columnIndex(QStringLiteral("kprq")))].format = QStringLiteral("yyyy年mm月dd日");
    d.columns[size_t(d.columnIndex(QStringLiteral("ptfp_fpxmmx_mj")))].format = QStringLiteral("#0.00");
    d.columns[size_t(d.columnIndex(QStringLiteral("ptfp_fpxmmx_dj")))].format = QStringLiteral("#0.00");
    d.columns[size_t(d.columnIndex(QStringLiteral("ptfp_fpxmmx_je")))].format = QStringLiteral("#########0.00");

    // The office name: a second view of swjgdm through the office list.
    FormColumn office =
        tableColumn(fpk, QStringLiteral("swjgdm"), QString(), QStringLiteral("主管税务机关名称") + kTagPrintVisible,
                    QStringLiteral("ptfp_fpk_swjgdm_1"));
    office.viewOf = QStringLiteral("ptfp_fpk_swjgdm");
    office.edit = EditStyle::DropDown;
    office.dropDown = {QStringLiteral("dddw_swjg"), QStringLiteral("swjgmc"), QStringLiteral("swjgdm")};
    office.colour = redWhenTotalNegative;
    d.views.push_back(office);

    const QList<std::pair<QString, QString>> texts = {
        {QStringLiteral("title_t"), kTitle},
        {QStringLiteral("ptfp_fpk_sxh_t"), QStringLiteral("顺序号:")},
        {QStringLiteral("ptfp_fpk_drcs_t"), QStringLiteral("打印次数:")},
        {QStringLiteral("t_1"), QStringLiteral("发  票  联")},
        {QStringLiteral("ptfp_fpk_skflxdh_t"), QStringLiteral("收款方联系电话:")},
        {QStringLiteral("ptfp_fpk_fpzt_t"), QStringLiteral("发票状态")},
        {QStringLiteral("ptfp_fpk_kprq_t"), QStringLiteral("开票日期:")},
        {QStringLiteral("t_13"), QStringLiteral("识别号:")},
        {QStringLiteral("ptfp_fpk_fpdm_t"), QStringLiteral("机打代码")},
        {QStringLiteral("ptfp_fpk_swjgdm_t"), QStringLiteral("主 管 税 务 机 关 代 码")},
        {QStringLiteral("ptfp_fpk_fphm_t"), QStringLiteral("机打号码")},
        {QStringLiteral("t_2"), QStringLiteral("主 管 税 务 机 关 名 称")},
        {QStringLiteral("ptfp_fpk_fkfmc_t"), QStringLiteral("付款方名称")},
        {QStringLiteral("ptfp_fpk_fkfzjlx_t"), QStringLiteral("付款方纳税人识别号/组")},
        {QStringLiteral("ptfp_fpk_fkfzjhm_t"), QStringLiteral("织机构代码/身份证件号码")},
        {QStringLiteral("ptfp_fpk_skfmc_t"), QStringLiteral("收款方名称")},
        {QStringLiteral("ptfp_fpk_skfzjlx_t"), QStringLiteral("收款方纳税人识别号/组")},
        {QStringLiteral("ptfp_fpk_skfzjhm_t"), QStringLiteral("织机构代码/身份证件号码")},
        {QStringLiteral("ptfp_fpxmmx_xmmc_t"), QStringLiteral("品  目")},
        {QStringLiteral("ptfp_fpxmmx_mj_t"), QStringLiteral("数  量")},
        {QStringLiteral("ptfp_fpxmmx_dj_t"), QStringLiteral("单  价")},
        {QStringLiteral("ptfp_fpxmmx_je_t"), QStringLiteral("金额")},
        {QStringLiteral("ptfp_fpk_bz_t"), QStringLiteral("备注")},
        {QStringLiteral("t_10"), QStringLiteral("001122334455667788990011223344")},
        {QStringLiteral("t_8"), QStringLiteral("合计人民币（大写）")},
        {QStringLiteral("t_9"), QStringLiteral("（小写）")},
        {QStringLiteral("t_5"), QStringLiteral("收款单位：（盖章有效）")},
        {QStringLiteral("ptfp_fpk_kpr_t"), QStringLiteral("开票人:")},
        {QStringLiteral("t_6"), QStringLiteral("（手写无效）")},
        {QStringLiteral("t_7"), kAuthenticityNotice},
        {QStringLiteral("t_3"), QStringLiteral("经\r\n营\r\n项\r\n目")},
        {QStringLiteral("t_4"), QStringLiteral("及")},
        {QStringLiteral("t_11"), QStringLiteral("金")},
        {QStringLiteral("t_12"), QStringLiteral("额")},
    };
    for (const auto& [name, text] : texts) d.texts.push_back({name, text, QString(), printed(name)});

    ComputedField total = sumField(QStringLiteral("cpt_amt"), QStringLiteral("ptfp_fpxmmx_je"), kMoneyFormat);
    total.tag = QStringLiteral("合计人民币（小写）") + kTagPrintVisible;
    total.colour = redWhenTotalNegative;

    ComputedField capitals;
    capitals.name = QStringLiteral("compute_1");
    capitals.expression = QStringLiteral("f_convert_to_big( cpt_amt )");
    capitals.tag = QStringLiteral("合计人民币（大写）") + kTagPrintVisible;
    capitals.colour = redWhenTotalNegative;
    capitals.eval = [](const DataStore& s, int) -> QVariant {
        const auto amount = Decimal::fromVariant(s.computed(QStringLiteral("cpt_amt")));
        const auto& convert = formHostFunctions().convertToBig;
        if (!amount || !convert) return QVariant();
        return convert(*amount);
    };

    ComputedField identification;
    identification.name = QStringLiteral("compute_2");
    identification.expression =
        QStringLiteral("secondsafter( 00:00:00, time(bcrq)) + dec( 86400 )*dec(daysafter( 1900-01-01, date(bcrq) ) )");
    identification.format = QStringLiteral("[General]");
    identification.tag = QStringLiteral("识别号") + kTagPrintVisible;
    identification.aggregate = false;
    identification.colour = redWhenTotalNegative;
    identification.eval = [](const DataStore& s, int row) {
        return secondsSince1900(s.getDateTime(row, QStringLiteral("bcrq")));
    };

    d.computed = {capitals, identification, total};

    d.arguments = {{QStringLiteral("as_sxh"), QStringLiteral("ptfp_fpk.sxh"), ColType::Text},
                   {QStringLiteral("as_fpdm"), QStringLiteral("ptfp_fpk.fpdm"), ColType::Text},
                   {QStringLiteral("as_fphm"), QStringLiteral("ptfp_fpk.fphm"), ColType::Text}};
    d.select =
        QStringLiteral("SELECT %1 FROM ptfp_fpk LEFT OUTER JOIN ptfp_fpxmmx ON ptfp_fpxmmx.fpdm = ptfp_fpk.fpdm AND "
                       "ptfp_fpxmmx.fphm = ptfp_fpk.fphm WHERE ptfp_fpk.fpdm = ? AND ptfp_fpk.fphm = ? AND "
                       "ptfp_fpk.sxh = ? ORDER BY ptfp_fpxmmx.iserial")
            .arg(selectList(d, true));
    d.placeholderArgs = {QStringLiteral("as_fpdm"), QStringLiteral("as_fphm"), QStringLiteral("as_sxh")};
    finish(d);
    return d;
}

} // namespace fp::forms
