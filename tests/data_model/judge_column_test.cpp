// The required-column check: the first empty required column in row and column
// order is reported by its label and position.
#include "data_model/data_store.h"
#include "host/host_services.h"
#include "host/judge_column.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

class JudgeColumnTest : public ::testing::Test {
protected:
    test::TempDb db;
    Session session;
    test::ScriptedDialogs dialogs;
    HostServices host{session, dialogs};

    std::unique_ptr<DataStore> header() {
        auto h = makeStore(QStringLiteral("d_fp_integrated_free"), db.tx());
        h->insertRow(0);
        for (const FormColumn& c : h->def().columns)
            if (c.required()) {
                EXPECT_TRUE(h->setItem(1, c.name,
                                       c.type == ColType::Text ? QVariant(QStringLiteral("x"))
                                       : c.type == ColType::DateTime
                                           ? QVariant(QDateTime(QDate(2009, 3, 1), QTime(0, 0)))
                                           : QVariant::fromValue(Decimal::fromInt(1))));
            }
        return h;
    }
};

TEST_F(JudgeColumnTest, FilledFormPasses) {
    auto h = header();
    int row = -1;
    EXPECT_TRUE(gf_judge_dw_column_isnull(host, *h, &row));
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(row, -1);
}

TEST_F(JudgeColumnTest, FirstEmptyRequiredColumnIsNamedByItsLabel) {
    struct Case {
        QStringList emptied; // columns set empty, in no particular order
        QVariant value;      // the empty value used
        QString column;
        QString message;
    };
    const Case cases[] = {
        {{"fkfmc"}, QStringLiteral("   "), "fkfmc", QStringLiteral("付款方名称不能为空！")},
        {{"kpr", "fkfzjhm"}, QVariant(), "fkfzjhm", QStringLiteral("付款方证件号码不能为空！")},
        {{"kprq"}, QVariant(), "kprq", QStringLiteral("开票日期:发票打印日期不能为空！")},
        {{"hjje", "fphm"}, QVariant(), "fphm", QStringLiteral("发票号码不能为空！")},
        {{"swjgdm"}, QVariant(), "swjgdm", QStringLiteral("税务机关代码不能为空！")},
        {{"fkfzjlx"}, QString(""), "fkfzjlx", QStringLiteral("证件类型:身份证号/组织机构代码/纳税人识别号不能为空！")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column.toStdString());
        dialogs.clear();
        auto h = header();
        for (const QString& col : c.emptied) EXPECT_TRUE(h->setItem(1, col, c.value));
        int row = 0;
        QString column;
        EXPECT_FALSE(gf_judge_dw_column_isnull(host, *h, &row, &column));
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(row, 1);
        EXPECT_EQ(column, c.column);
    }
}

TEST_F(JudgeColumnTest, GridReportsTheRowAndAnEmptyTagFallsBackToTheLabel) {
    auto x = makeStore(QStringLiteral("d_fp_xmxx_integrated_list"), db.tx());
    for (int r = 1; r <= 2; ++r) {
        x->insertRow(0);
        EXPECT_TRUE(x->setItem(r, QStringLiteral("xmmc"), QStringLiteral("复印费")));
        EXPECT_TRUE(x->setItem(r, QStringLiteral("je"), QVariant::fromValue(Decimal::fromCents(10))));
    }
    EXPECT_TRUE(x->setItem(2, QStringLiteral("xmmc"), QVariant()));
    int row = 0;
    EXPECT_FALSE(gf_judge_dw_column_isnull(host, *x, &row));
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("第2行项目名称不能为空！"));
    EXPECT_EQ(row, 2);

    auto pm = makeStore(QStringLiteral("d_base_pm"), db.tx());
    pm->insertRow(0);
    EXPECT_TRUE(pm->setItem(1, QStringLiteral("price"), QVariant::fromValue(Decimal::fromCents(10))));
    EXPECT_FALSE(gf_judge_dw_column_isnull(host, *pm));
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("品目名称不能为空！")); // tag "|notnull|" has no label
}

} // namespace
} // namespace fp
