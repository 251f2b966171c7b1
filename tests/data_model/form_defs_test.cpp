// The definitions against the table description: column order, types, widths
// and keys (the upload reads the forms by position), every select runs, and the
// print layout refers only to objects that exist.
#include "data_model/data_store.h"
#include "data_model/form_def.h"
#include "data_model/schema.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

#include <QSet>
#include <array>

namespace fp {
namespace {

struct TableForm {
    const char* form;
    const char* table;
    int columns;
    QStringList keys;
};

class FormMatchesTable : public ::testing::TestWithParam<TableForm> {};

TEST_P(FormMatchesTable, ColumnsFollowTheTableInOrderWithItsKey) {
    const TableForm& p = GetParam();
    const FormDef* d = formDef(QString::fromLatin1(p.form));
    ASSERT_NE(d, nullptr);
    const TableDef* t = findTable(QString::fromLatin1(p.table));
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(int(d->columns.size()), p.columns);
    ASSERT_EQ(int(t->columns.size()), p.columns);
    EXPECT_EQ(d->updateTable, QString::fromLatin1(p.table));
    EXPECT_EQ(d->keyColumns, p.keys);
    EXPECT_EQ(t->keyNames(), p.keys);
    for (int i = 0; i < p.columns; ++i) {
        const FormColumn& c = d->columns[size_t(i)];
        const ColumnDef& tc = t->columns[size_t(i)];
        SCOPED_TRACE(c.name.toStdString());
        EXPECT_EQ(c.name, tc.name);
        EXPECT_EQ(c.dbColumn, tc.name);
        EXPECT_EQ(c.type, tc.type);
        EXPECT_EQ(c.width, tc.width);
        EXPECT_EQ(c.key, tc.key);
        EXPECT_TRUE(c.updatable);
    }
}

INSTANTIATE_TEST_SUITE_P(InvoiceForms, FormMatchesTable,
                         ::testing::Values(TableForm{"d_fp_integrated_free", "ptfp_fpk", 33, {"fpdm", "fphm"}},
                                           TableForm{"d_fp_building_free", "bdcja_fpk", 23, {"fpdm", "fphm"}},
                                           TableForm{"d_fp_xmxx_integrated_list", "ptfp_fpxmmx", 17, {"iserial"}},
                                           TableForm{"d_fp_xmxx_estate_list", "bdcja_fpxmmx", 12, {"iserial"}},
                                           TableForm{"d_fp_xmxx_building_list", "bdcja_fpxmmx", 12, {"iserial"}}),
                         [](const auto& info) { return std::string(info.param.form); });

TEST(FormDefs, EveryDefinitionIsRegistered) {
    const QStringList names = {"d_fp_integrated_free",
                               "d_fp_building_free",
                               "d_fp_xmxx_integrated_list",
                               "d_fp_xmxx_estate_list",
                               "d_fp_xmxx_building_list",
                               "d_fp_integrated_print",
                               "dddw_fpdm",
                               "dddw_fpzl",
                               "dddw_swjg",
                               "dddw_kpr",
                               "d_base_pm",
                               "d_base_corp",
                               "d_base_emp",
                               "d_base_base_data"};
    EXPECT_EQ(formDefNames().size(), 14);
    for (const QString& n : names) EXPECT_NE(formDef(n), nullptr) << n.toStdString();
    EXPECT_EQ(formDef(QStringLiteral("no_such_form")), nullptr);
}

// Every select is valid SQL on the schema and binds exactly its arguments.
TEST(FormDefs, EverySelectRunsOnTheSchema) {
    test::TempDb db;
    for (const QString& n : formDefNames()) {
        SCOPED_TRACE(n.toStdString());
        auto s = makeStore(n, db.tx());
        QVariantList args;
        for (size_t i = 0; i < s->def().arguments.size(); ++i) args << QStringLiteral("x");
        EXPECT_EQ(s->retrieve(args), 0) << s->lastError().toStdString();
        EXPECT_EQ(s->retrieve(args + QVariantList{QStringLiteral("extra")}), -1);
    }
}

TEST(FormDefs, HeaderShowsTheOfficeNameAsASecondViewOfItsCode) {
    const FormDef* d = formDef(QStringLiteral("d_fp_integrated_free"));
    EXPECT_EQ(d->columnIndex(QStringLiteral("swjgmc")), -1); // not a column: 33 positions stay
    const FormColumn* v = d->column(QStringLiteral("swjgmc"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->viewOf, QStringLiteral("swjgdm"));
    EXPECT_EQ(v->dropDown.form, QStringLiteral("dddw_swjg"));
    EXPECT_EQ(v->dropDown.displayColumn, QStringLiteral("swjgmc"));
    EXPECT_EQ(v->dropDown.dataColumn, QStringLiteral("swjgdm"));
    EXPECT_EQ(v->tag, QStringLiteral("|notnull|"));
    EXPECT_EQ(columnLabelOf(*v), QStringLiteral("税务机关名称"));
    // upload positions named by the issuing flow
    const QStringList cols = d->columnNames();
    EXPECT_EQ(cols[15], QStringLiteral("hjje"));
    EXPECT_EQ(cols[22], QStringLiteral("bcrq"));
    EXPECT_EQ(cols[24], QStringLiteral("drcs"));
}

TEST(FormDefs, RequiredColumnsOfTheForms) {
    struct Case {
        const char* form;
        QStringList required;
    };
    const Case cases[] = {
        {"d_fp_integrated_free",
         {"fpdm", "fphm", "swjgdm", "fkfmc", "fkfzjlx", "fkfzjhm", "skfmc", "skfzjlx", "skfzjhm", "hjje", "kpr",
          "kprq"}},
        {"d_fp_xmxx_integrated_list", {"xmmc", "je"}},
        {"d_fp_xmxx_estate_list", {"xmmc", "xmbh"}},
        {"d_fp_xmxx_building_list", {"xmmc", "xmbh", "je"}},
        {"d_base_corp", {"cname", "lc_no"}},
        {"d_base_pm", {"pmmc", "price"}},
    };
    for (const Case& c : cases) {
        const FormDef* d = formDef(QString::fromLatin1(c.form));
        QStringList required;
        for (const auto& col : d->columns)
            if (col.required()) required << col.name;
        EXPECT_EQ(required, c.required) << c.form;
    }
}

// A form laid out in lines shows every column the save requires, so that the
// field a missing value stops the save on is one the clerk sees; a column shown
// through its second view (the office code through its name) counts as shown.
// What the clerk may not change is shown read-only.
TEST(FormDefs, AFormInLinesShowsEveryRequiredColumn) {
    test::TempDb db(test::TempDb::Content::DemoData);
    int laidOut = 0;
    for (const QString& name : formDefNames()) {
        const FormDef* d = formDef(name);
        if (d->screenLines.empty()) continue;
        ++laidOut;
        QSet<QString> shown;
        for (const QStringList& line : d->screenLines)
            for (const QString& column : line) shown.insert(column.toLower());
        std::vector<const FormColumn*> all;
        for (const auto& c : d->columns) all.push_back(&c);
        for (const auto& v : d->views) all.push_back(&v);
        for (const FormColumn* c : all) {
            if (!c->required()) continue;
            bool seen = shown.contains(c->name.toLower());
            for (const auto& v : d->views)
                if (v.viewOf.compare(c->name, Qt::CaseInsensitive) == 0 && shown.contains(v.name.toLower()))
                    seen = true;
            EXPECT_TRUE(seen) << name.toStdString() << ": " << c->name.toStdString();
        }
    }
    EXPECT_GT(laidOut, 0);

    // The office comes with the taxpayer; the payee's document type is the clerk's.
    DataStore header(*formDef(QStringLiteral("d_fp_integrated_free")), db.tx());
    header.insertRow(0);
    EXPECT_TRUE(header.isProtected(1, QStringLiteral("swjgmc")));
    EXPECT_FALSE(header.isProtected(1, QStringLiteral("skfzjlx")));
}

TEST(FormDefs, ItemLabelsOfTheThreeLists) {
    const std::pair<const char*, const char*> cases[] = {{"d_fp_xmxx_integrated_list", "品目明细"},
                                                         {"d_fp_xmxx_estate_list", "不动产项目明细"},
                                                         {"d_fp_xmxx_building_list", "工程项目明细"}};
    for (const auto& [form, tag] : cases) {
        const TextObject* t = formDef(QString::fromLatin1(form))->text(QStringLiteral("xmmc_t"));
        ASSERT_NE(t, nullptr) << form;
        EXPECT_EQ(t->tag, QString::fromUtf8(tag));
    }
}

TEST(FormDefs, PartnerListNamesItsCodeColumnCcode) {
    const FormDef* d = formDef(QStringLiteral("d_base_corp"));
    EXPECT_EQ(d->columnNames(), (QStringList{"ccode", "cname", "type", "lc_no"}));
    EXPECT_EQ(d->columns[0].dbColumn, QStringLiteral("code"));
    EXPECT_EQ(d->keyColumns, QStringList{QStringLiteral("ccode")});
}

TEST(FormDefs, PrintLayoutIsCompleteAndRefersToExistingObjects) {
    const FormDef* d = formDef(QStringLiteral("d_fp_integrated_print"));
    ASSERT_TRUE(d->layout);
    EXPECT_TRUE(d->readOnly());
    const PrintLayout& l = *d->layout;
    EXPECT_EQ(l.width, 2629);
    EXPECT_EQ(l.objects.size(), 58u);
    QSet<QString> hidden;
    for (const LayoutObject& o : l.objects) {
        SCOPED_TRACE(o.name.toStdString());
        EXPECT_TRUE(d->text(o.name) || d->column(o.name) || d->computedField(o.name));
        if (o.hidden) hidden.insert(o.name);
    }
    EXPECT_EQ(hidden, (QSet<QString>{"ptfp_fpk_sxh_t", "ptfp_fpk_sxh", "ptfp_fpk_drcs_t", "ptfp_fpk_drcs",
                                     "ptfp_fpk_skflxdh_t", "skflxdh", "t_10", "t_7"}));
    const LayoutObject* fkfmc = l.object(QStringLiteral("ptfp_fpk_fkfmc"));
    ASSERT_NE(fkfmc, nullptr);
    EXPECT_EQ(fkfmc->band, Band::Header);
    EXPECT_EQ((std::array<int, 4>{fkfmc->x, fkfmc->y, fkfmc->height, fkfmc->width}),
              (std::array<int, 4>{407, 472, 116, 933}));
    const LayoutObject* t1 = l.object(QStringLiteral("t_1"));
    EXPECT_EQ(t1->fontFamily, QStringLiteral("黑体"));
    EXPECT_EQ(t1->fontSize, 18);
    EXPECT_TRUE(t1->bold);
    EXPECT_EQ(l.object(QStringLiteral("t_3"))->band, Band::Page);
    EXPECT_EQ(l.object(QStringLiteral("bz"))->band, Band::Detail);
    // 4 across + 6 down in the heading, 4 per item row, 5 in the closing area, 1 under the title
    EXPECT_EQ(l.lines.size(), 20u);

    EXPECT_EQ(d->columns.size(), 21u);
    EXPECT_EQ(d->columns.front().name, QStringLiteral("ptfp_fpk_fpdm"));
    EXPECT_EQ(d->columns.back().name, QStringLiteral("bcrq"));
    EXPECT_EQ(d->column(QStringLiteral("ptfp_fpxmmx_xmmc"))->tag, QStringLiteral("项目名称|printvisible=1|"));
    EXPECT_FALSE(d->column(QStringLiteral("fpzt"))->tag.contains(QStringLiteral("printvisible")));
    EXPECT_EQ(d->column(QStringLiteral("ptfp_fpk_swjgdm_1"))->viewOf, QStringLiteral("ptfp_fpk_swjgdm"));
}

} // namespace
} // namespace fp
