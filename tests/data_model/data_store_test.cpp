// The form engine against a real SQLite file: what update() writes and what it
// leaves behind on success and failure, entered text, finding, sorting,
// copying, rules and totals.
#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "tests/support/statement_faults.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

Decimal dec(const char* text) { return *Decimal::parse(QString::fromLatin1(text)); }
QVariant decv(const char* text) { return QVariant::fromValue(dec(text)); }

const QString kCode = QString::fromLatin1(demo::kCode50);

class DataStoreTest : public ::testing::Test {
protected:
    test::TempDb db{test::TempDb::Content::DemoData};
    Transaction& tx() { return db.tx(); }
    std::unique_ptr<DataStore> store(const char* name) { return makeStore(QString::fromLatin1(name), tx()); }

    // A new integrated invoice header with every required column filled.
    void fillHeader(DataStore& h, const QString& fphm, const char* total = "100.00") {
        const int r = h.insertRow(0);
        const QVariantMap values = {{"fpdm", kCode},
                                    {"fphm", fphm},
                                    {"fpzlbm", "50"},
                                    {"swjgdm", QString::fromLatin1(demo::kSwjgdm)},
                                    {"sxh", QString::fromLatin1(demo::kSxh)},
                                    {"fpzt", "1"},
                                    {"fkfmc", QStringLiteral("示范建筑工程有限公司")},
                                    {"fkfzjlx", QStringLiteral("组织机构代码")},
                                    {"fkfzjhm", "MA3C0001-2"},
                                    {"skfmc", QString::fromUtf8(demo::kTaxpayerName)},
                                    {"skfzjlx", QStringLiteral("纳税人识别号")},
                                    {"skfzjhm", QString::fromLatin1(demo::kNsrsbh)},
                                    {"hjje", decv(total)},
                                    {"kpr", QStringLiteral("张晓明")},
                                    {"kprq", QDateTime(QDate(2009, 3, 1), QTime(8, 5, 9))},
                                    {"bcrq", QDateTime(QDate(2009, 3, 1), QTime(8, 5, 9))},
                                    {"drcs", 0}};
        for (auto it = values.begin(); it != values.end(); ++it)
            ASSERT_TRUE(h.setItem(r, it.key(), it.value())) << it.key().toStdString() << h.lastError().toStdString();
    }
    int addLine(DataStore& x, const QString& fphm, const QString& xmmc, const char* je) {
        const int r = x.insertRow(0);
        EXPECT_TRUE(x.setItem(r, QStringLiteral("fpdm"), kCode));
        EXPECT_TRUE(x.setItem(r, QStringLiteral("fphm"), fphm));
        EXPECT_TRUE(x.setItem(r, QStringLiteral("xmmc"), xmmc));
        EXPECT_TRUE(x.setItem(r, QStringLiteral("mj"), decv("1")));
        EXPECT_TRUE(x.setItem(r, QStringLiteral("dj"), decv(je)));
        EXPECT_TRUE(x.setItem(r, QStringLiteral("je"), decv(je)));
        return r;
    }
    QStringList storedLines(const QString& fphm) {
        QStringList l;
        for (const QVariantList& row : tx().selectAll(
                 QStringLiteral(
                     "SELECT iserial, xmmc, je FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = ? ORDER BY iserial"),
                 {kCode, fphm}))
            l << row[1].toString() + QLatin1Char('=') + tx().decimalAt(row[2]).value_or(Decimal()).toString(2);
        return l;
    }
    // A saved invoice with lines A=1.00, B=2.00, C=3.00.
    void saveInvoice(const QString& fphm) {
        auto h = store("d_fp_integrated_free");
        auto x = store("d_fp_xmxx_integrated_list");
        fillHeader(*h, fphm, "6.00");
        for (auto [name, je] : {std::pair{"A", "1.00"}, {"B", "2.00"}, {"C", "3.00"}})
            addLine(*x, fphm, QString::fromLatin1(name), je);
        ASSERT_EQ(h->update(), 1) << h->lastError().toStdString();
        ASSERT_EQ(x->update(), 1) << x->lastError().toStdString();
        ASSERT_TRUE(tx().commit());
    }
};

TEST_F(DataStoreTest, InsertedRowsGetTheirIdentityAndReadBackExactly) {
    auto x = store("d_fp_xmxx_integrated_list");
    addLine(*x, "00000001", QStringLiteral("复印费"), "0.10");
    addLine(*x, "00000001", QStringLiteral("大额"), "1234567890.12");
    EXPECT_EQ(x->modifiedCount(), 2);
    ASSERT_EQ(x->update(), 1) << x->lastError().toStdString();
    ASSERT_TRUE(tx().commit());
    const auto id1 = x->getVariant(1, QStringLiteral("iserial")), id2 = x->getVariant(2, QStringLiteral("iserial"));
    ASSERT_TRUE(id1.isValid() && id2.isValid());
    EXPECT_LT(id1.toLongLong(), id2.toLongLong());
    EXPECT_EQ(x->modifiedCount(), 0);
    EXPECT_EQ(x->rowStatus(1), RowStatus::NotModified);

    auto again = store("d_fp_xmxx_integrated_list");
    ASSERT_EQ(again->retrieve({kCode, "00000001"}), 2);
    EXPECT_EQ(again->getDecimal(1, QStringLiteral("je")), dec("0.10"));
    EXPECT_EQ(again->getDecimal(2, QStringLiteral("je")), dec("1234567890.12"));
    EXPECT_EQ(again->getVariant(1, QStringLiteral("iserial")), id1);
}

TEST_F(DataStoreTest, UpdateWritesDeletesUpdatesAndInsertsByOriginalKey) {
    saveInvoice("00000001");
    auto x = store("d_fp_xmxx_integrated_list");
    ASSERT_EQ(x->retrieve({kCode, "00000001"}), 3);
    EXPECT_TRUE(x->deleteRow(1));                                    // A goes
    EXPECT_TRUE(x->setItem(1, QStringLiteral("je"), decv("20.00"))); // B changes
    EXPECT_TRUE(x->setItem(1, QStringLiteral("xmmc"), QStringLiteral("B2")));
    addLine(*x, "00000001", QStringLiteral("D"), "4.00"); // D comes
    EXPECT_EQ(x->deletedCount(), 1);
    EXPECT_EQ(x->modifiedCount(), 2);
    ASSERT_EQ(x->update(), 1) << x->lastError().toStdString();
    ASSERT_TRUE(tx().commit());
    EXPECT_EQ(storedLines("00000001"), (QStringList{"B2=20.00", "C=3.00", "D=4.00"}));
    EXPECT_EQ(x->deletedCount(), 0);

    // A changed key: the row is found by the key it was read with.
    auto h = store("d_fp_integrated_free");
    ASSERT_EQ(h->retrieve({QString::fromLatin1(demo::kSxh), kCode, "00000001"}), 1);
    EXPECT_TRUE(h->setItem(1, QStringLiteral("fphm"), QStringLiteral("00000009")));
    EXPECT_TRUE(h->setItem(1, QStringLiteral("bz"), QStringLiteral("改号")));
    ASSERT_EQ(h->update(), 1) << h->lastError().toStdString();
    ASSERT_TRUE(tx().commit());
    EXPECT_EQ(test::tableRows(tx(), QStringLiteral("ptfp_fpk")).size(), 1);
    QVariantList out;
    EXPECT_EQ(tx().selectInto(QStringLiteral("SELECT bz FROM ptfp_fpk WHERE fphm = ?"), {"00000009"}, out), 0);
    EXPECT_EQ(out.value(0).toString(), QStringLiteral("改号"));
}

TEST_F(DataStoreTest, NewRowsNeverTouchedAndDeletedNewRowsWriteNothing) {
    auto x = store("d_fp_xmxx_integrated_list");
    x->insertRow(0); // New, never modified: not written
    const int r = addLine(*x, "00000001", QStringLiteral("X"), "1.00");
    EXPECT_TRUE(x->deleteRow(r)); // inserted then deleted: nothing to delete
    EXPECT_EQ(x->modifiedCount(), 0);
    EXPECT_EQ(x->deletedCount(), 0);
    const QString before = test::snapshot(tx());
    ASSERT_EQ(x->update(), 1);
    EXPECT_EQ(test::snapshot(tx()), before);
}

// A failing statement leaves every buffer and flag as it was; after the
// rollback the same update writes the same rows again.
TEST_F(DataStoreTest, FailureAfterEarlierStatementsKeepsFlagsAndRetryWritesTheSameRows) {
    saveInvoice("00000001");
    const QString before = test::snapshot(tx());
    auto x = store("d_fp_xmxx_integrated_list");
    ASSERT_EQ(x->retrieve({kCode, "00000001"}), 3);
    EXPECT_TRUE(x->deleteRow(1));
    EXPECT_TRUE(x->setItem(1, QStringLiteral("je"), decv("20.00")));
    addLine(*x, "00000001", QStringLiteral("D"), "4.00");

    fp::test::failNextMatching(tx(), QStringLiteral("INSERT INTO ptfp_fpxmmx"), QStringLiteral("disk full"));
    EXPECT_EQ(x->update(), -1);
    EXPECT_EQ(x->lastError(), QStringLiteral("disk full"));
    EXPECT_EQ(tx().sqlcode, -1);
    EXPECT_TRUE(tx().inTransaction()); // the caller owns the transaction
    ASSERT_TRUE(tx().rollback());
    EXPECT_EQ(test::snapshot(tx()), before);
    EXPECT_EQ(x->deletedCount(), 1);
    EXPECT_EQ(x->modifiedCount(), 2);
    EXPECT_EQ(x->rowStatus(3), RowStatus::NewModified);
    EXPECT_FALSE(x->getVariant(3, QStringLiteral("iserial")).isValid());

    ASSERT_EQ(x->update(), 1) << x->lastError().toStdString();
    ASSERT_TRUE(tx().commit());
    EXPECT_EQ(storedLines("00000001"), (QStringList{"B=20.00", "C=3.00", "D=4.00"}));
}

// Saving keeps the flags until the commit: an upload refused after the write
// rolls back, and the next save writes the lines once more (not twice).
TEST_F(DataStoreTest, UpdateWithoutResettingFlagsCanBeRepeatedAfterRollback) {
    auto h = store("d_fp_integrated_free");
    auto x = store("d_fp_xmxx_integrated_list");
    fillHeader(*h, "00000002");
    addLine(*x, "00000002", QStringLiteral("A"), "1.00");
    addLine(*x, "00000002", QStringLiteral("B"), "2.00");
    const QString before = test::snapshot(tx());

    ASSERT_EQ(h->update(true, false), 1);
    ASSERT_EQ(x->update(true, false), 1);
    EXPECT_GT(x->getVariant(1, QStringLiteral("iserial")).toLongLong(), 0); // read back for the caller
    EXPECT_EQ(h->modifiedCount(), 1);
    EXPECT_EQ(x->modifiedCount(), 2);
    ASSERT_TRUE(tx().rollback());
    EXPECT_EQ(test::snapshot(tx()), before);

    ASSERT_EQ(h->update(true, false), 1) << h->lastError().toStdString();
    ASSERT_EQ(x->update(true, false), 1) << x->lastError().toStdString();
    ASSERT_TRUE(tx().commit());
    h->resetUpdate();
    x->resetUpdate();
    EXPECT_EQ(x->modifiedCount(), 0);
    EXPECT_EQ(storedLines("00000002"), (QStringList{"A=1.00", "B=2.00"}));
    EXPECT_EQ(test::tableRows(tx(), QStringLiteral("ptfp_fpk")).size(), 1);
}

TEST_F(DataStoreTest, TooLongTextFailsBeforeAnythingIsWritten) {
    auto h = store("d_fp_integrated_free");
    fillHeader(*h, "00000003");
    EXPECT_TRUE(h->setItem(1, QStringLiteral("fkfmc"), QString(81, QChar(u'名'))));
    const QString before = test::snapshot(tx());
    EXPECT_EQ(h->update(), -1);
    const QString expected = QStringLiteral("“付款方名称”最多80个字符，当前为81个字符，请修改！");
    EXPECT_EQ(h->lastError(), expected);
    EXPECT_EQ(tx().sqlerrtext, expected);
    EXPECT_FALSE(tx().inTransaction());
    EXPECT_EQ(test::snapshot(tx()), before);
    EXPECT_EQ(h->rowStatus(1), RowStatus::NewModified);
}

TEST_F(DataStoreTest, AcceptTextHandlerRunsFirstAndStopsTheUpdate) {
    auto h = store("d_fp_integrated_free");
    fillHeader(*h, "00000004");
    h->setAcceptTextHandler([] { return QStringLiteral("“单价”必须是数字！"); });
    EXPECT_EQ(h->update(true), -1);
    EXPECT_EQ(h->lastError(), QStringLiteral("“单价”必须是数字！"));
    EXPECT_EQ(h->update(false), 1);
}

TEST_F(DataStoreTest, ReadOnlyDefinitionRefusesToUpdate) {
    auto p = store("d_fp_integrated_print");
    p->insertRow(0);
    EXPECT_TRUE(p->setItem(1, QStringLiteral("bz"), QStringLiteral("x")));
    EXPECT_EQ(p->update(), -1);
    EXPECT_FALSE(p->lastError().isEmpty());
}

struct TextCase {
    const char* form;
    const char* column;
    QString text;
    QString error;   // expected message, empty when accepted
    QVariant stored; // value after setItemText when accepted
};

TEST_F(DataStoreTest, EnteredTextIsCheckedByTypeWidthAndCodeTable) {
    const TextCase cases[] = {
        {"d_fp_xmxx_integrated_list", "dj", "abc", QStringLiteral("“单价”必须是数字！"), {}},
        {"d_fp_xmxx_integrated_list", "dj", "1.005", QStringLiteral("“单价”最多保留两位小数！"), {}},
        {"d_fp_xmxx_integrated_list", "dj", "99999999999999999", QStringLiteral("“单价”数值超出范围！"), {}},
        {"d_fp_xmxx_integrated_list", "dj", "1.00001", QStringLiteral("“单价”最多保留两位小数！"), {}},
        {"d_fp_xmxx_integrated_list", "dj", " 1,234.50 ", QStringLiteral("“单价”必须是数字！"), {}},
        {"d_fp_xmxx_integrated_list", "dj", " 1234.50 ", {}, decv("1234.50")},
        {"d_fp_xmxx_integrated_list", "mj", "-2.5", {}, decv("-2.5")},
        {"d_fp_xmxx_integrated_list", "mj", "", {}, {}},
        {"d_fp_xmxx_integrated_list", "kxxz", QStringLiteral("售房款"), {}, QStringLiteral("3")},
        {"d_fp_xmxx_integrated_list", "kxxz", QStringLiteral("其它(装修款)"), {}, QStringLiteral("其它(装修款)")},
        {"d_fp_xmxx_integrated_list",
         "xmmc",
         QString(51, u'品'),
         QStringLiteral("“项目名称”最多50个字符，当前为51个字符，请修改！"),
         {}},
        {"d_fp_integrated_free", "fkfmc", QString(80, u'名'), {}, QString(80, u'名')},
        {"d_fp_integrated_free", "kprq", "2009-13-01", QStringLiteral("“开票日期”必须是日期，例如2009-03-01！"), {}},
        {"d_fp_integrated_free", "kprq", "2009-03-01", {}, QDateTime(QDate(2009, 3, 1), QTime(0, 0))},
        {"d_fp_integrated_free", "drcs", "1.5", QStringLiteral("“打印次数”必须是整数！"), {}},
        {"d_fp_integrated_free", "drcs", "3", {}, qlonglong(3)},
        {"d_fp_integrated_free", "zbrbz", QStringLiteral("是"), {}, QStringLiteral("1")},
        {"d_fp_integrated_free", "swjgmc", QString::fromUtf8(demo::kSwjgmc), {}, QString::fromLatin1(demo::kSwjgdm)},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " <- " + c.text.toStdString());
        auto s = store(c.form);
        if (auto* list = s->child(QStringLiteral("swjgmc"))) {
            EXPECT_NE(list->retrieve({}), -1);
        }
        s->insertRow(0);
        // A previous value, for the numeric cases; a text or date column refuses it.
        (void)s->setItem(1, QString::fromLatin1(c.column), decv("7"));
        const QVariant previous = s->getVariant(1, QString::fromLatin1(c.column));
        EXPECT_EQ(s->validateText(1, QString::fromLatin1(c.column), c.text), c.error);
        EXPECT_EQ(s->setItemText(1, QString::fromLatin1(c.column), c.text), c.error);
        const QVariant now = s->getVariant(1, QString::fromLatin1(c.column));
        if (c.error.isEmpty())
            EXPECT_EQ(now, c.stored);
        else
            EXPECT_EQ(now, previous); // a refused text changes nothing
    }
}

TEST_F(DataStoreTest, FindSearchesForwardAndBackwardAndSortOrdersByTypedKeys) {
    auto corp = store("d_base_corp");
    ASSERT_EQ(corp->retrieve({QString::fromLatin1(demo::kSxh)}), 3);
    auto nameStarts = [](const QString& p) {
        return [p](const DataStore::RowView& v) { return v.getString(QStringLiteral("cname")).startsWith(p); };
    };
    EXPECT_EQ(corp->find(nameStarts(QStringLiteral("示范")), 1, corp->rowCount()), 1);
    EXPECT_EQ(corp->find(nameStarts(QStringLiteral("示范")), 2, 99), 2);
    EXPECT_EQ(corp->find(nameStarts(QStringLiteral("示范")), 3, 1), 2);
    EXPECT_EQ(corp->find(nameStarts(QStringLiteral("无")), 1, 3), 0);

    ASSERT_TRUE(corp->sort(QStringLiteral("ccode D")));
    EXPECT_EQ(corp->getString(1, QStringLiteral("cname")), QStringLiteral("刘芳"));
    EXPECT_EQ(corp->sortText(), QStringLiteral("ccode D"));
    EXPECT_FALSE(corp->sort(QStringLiteral("nosuch A")));

    auto x = store("d_fp_xmxx_integrated_list");
    for (auto [name, je] : {std::pair{"a", "10.00"}, {"b", "9.50"}, {"c", "10.00"}, {"d", "-1.00"}})
        addLine(*x, "00000001", QString::fromLatin1(name), je);
    x->insertRow(0); // null amount sorts first
    ASSERT_TRUE(x->sort(QStringLiteral("je A, xmmc D")));
    QStringList order;
    for (int r = 1; r <= x->rowCount(); ++r) order << x->getString(r, QStringLiteral("xmmc"));
    EXPECT_EQ(order, (QStringList{"", "d", "b", "c", "a"})); // numeric, not text order
}

TEST_F(DataStoreTest, RowsCopyMakesNewRowsThatInsertWithFreshIdentities) {
    saveInvoice("00000001");
    auto src = store("d_fp_xmxx_integrated_list");
    ASSERT_EQ(src->retrieve({kCode, "00000001"}), 3);
    auto buffer = store("d_fp_xmxx_integrated_list");
    ASSERT_TRUE(src->rowsCopy(1, src->rowCount(), *buffer, 0));
    ASSERT_EQ(buffer->rowCount(), 3);
    EXPECT_EQ(buffer->modifiedCount(), 3);
    EXPECT_EQ(buffer->rowStatus(2), RowStatus::NewModified);
    EXPECT_EQ(buffer->getDecimal(3, QStringLiteral("je")), dec("3.00"));
    EXPECT_EQ(src->modifiedCount(), 0);
    EXPECT_FALSE(src->rowsCopy(2, 9, *buffer, 0));

    ASSERT_TRUE(src->rowsCopy(3, 3, *buffer, 1)); // before row 1
    EXPECT_EQ(buffer->getString(1, QStringLiteral("xmmc")), QStringLiteral("C"));

    for (int r = 1; r <= buffer->rowCount(); ++r)
        EXPECT_TRUE(buffer->setItem(r, QStringLiteral("fphm"), QStringLiteral("00000005")));
    ASSERT_EQ(buffer->update(), 1) << buffer->lastError().toStdString();
    ASSERT_TRUE(tx().commit());
    EXPECT_EQ(storedLines("00000005"), (QStringList{"C=3.00", "A=1.00", "B=2.00", "C=3.00"}));
    EXPECT_EQ(storedLines("00000001").size(), 3);
}

// The payer of a red-letter invoice copied from a known invoice cannot be changed.
TEST_F(DataStoreTest, ProtectRuleReadsTheTotalAndTheMarker) {
    struct Case {
        const char* total; // nullptr: empty
        const char* marker;
        bool isProtected;
    };
    const Case cases[] = {{"-100.00", "0", true},
                          {"-100.00", "1", false},
                          {"100.00", "0", false},
                          {"0.00", "0", false},
                          {nullptr, "0", false}};
    for (const auto& form : {"d_fp_integrated_free", "d_fp_xmxx_integrated_list"}) {
        const QString amount = QString::fromLatin1(form) == QLatin1String("d_fp_integrated_free") ? "hjje" : "je";
        const QString guarded = amount == QLatin1String("hjje") ? "fkfmc" : "je";
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(form) + " " + (c.total ? c.total : "null") + " marker " + c.marker);
            auto s = store(form);
            s->insertRow(0);
            if (c.total) {
                EXPECT_TRUE(s->setItem(1, amount, decv(c.total)));
            }
            ASSERT_TRUE(s->setObjectText(QStringLiteral("sgfpch_t"), QString::fromLatin1(c.marker)));
            EXPECT_EQ(s->isProtected(1, guarded), c.isProtected);
            EXPECT_FALSE(s->isProtected(1, QStringLiteral("bz")));
        }
    }
    // the building forms carry no marker, so nothing is protected there
    auto b = store("d_fp_building_free");
    b->insertRow(0);
    EXPECT_TRUE(b->setItem(1, QStringLiteral("hjje"), decv("-1")));
    EXPECT_FALSE(b->isProtected(1, QStringLiteral("fkfmc")));
    EXPECT_FALSE(b->hasObject(QStringLiteral("sgfpch_t")));
}

TEST_F(DataStoreTest, TotalsAreExactSumsAndNegativeAmountsAreRed) {
    auto x = store("d_fp_xmxx_integrated_list");
    EXPECT_FALSE(x->computed(QStringLiteral("cpt_amount")).isValid()); // no lines, no total
    for (int i = 0; i < 3; ++i) addLine(*x, "00000001", QStringLiteral("复印费"), "0.10");
    addLine(*x, "00000001", QStringLiteral("大额"), "1234567890.12");
    x->insertRow(0); // an empty line adds nothing
    EXPECT_EQ(x->computed(QStringLiteral("cpt_amount")).value<Decimal>(), dec("1234567890.42"));
    EXPECT_EQ(x->computed(QStringLiteral("compute_2")).value<Decimal>(), dec("4"));
    EXPECT_EQ(x->textColor(1, QStringLiteral("cpt_amount")), kColourBlack);

    EXPECT_TRUE(x->setItem(4, QStringLiteral("je"), decv("-1234567890.12")));
    EXPECT_EQ(x->computed(QStringLiteral("cpt_amount")).value<Decimal>(), dec("-1234567889.82"));
    EXPECT_EQ(x->textColor(4, QStringLiteral("je")), kColourRed);
    EXPECT_EQ(x->textColor(1, QStringLiteral("je")), kColourBlack);
    EXPECT_EQ(x->textColor(1, QStringLiteral("cpt_amount")), kColourRed);
    EXPECT_EQ(x->displayText(4, QStringLiteral("je")), QStringLiteral("-1,234,567,890.12"));
}

TEST_F(DataStoreTest, DescribeAndLookupAnswerTheWindowsQuestions) {
    auto h = store("d_fp_integrated_free");
    EXPECT_EQ(h->describe(QStringLiteral("DataWindow.Column.Count")), QStringLiteral("33"));
    EXPECT_EQ(h->describe(QStringLiteral("#4.Name")), QStringLiteral("swjgdm"));
    EXPECT_EQ(h->columnName(33), QStringLiteral("extprop5"));
    EXPECT_EQ(h->columnName(34), QString());
    EXPECT_EQ(h->describe(QStringLiteral("sgfpch_t.text")), QStringLiteral("0"));
    EXPECT_EQ(h->describe(QStringLiteral("fkfmc_t.text")), QStringLiteral("付款方名称"));
    EXPECT_EQ(h->describe(QStringLiteral("sl_t.text")), QStringLiteral("!")); // no label object
    EXPECT_EQ(h->describe(QStringLiteral("swjgmc.id")), QStringLiteral("4"));
    EXPECT_EQ(h->columnLabel(QStringLiteral("kprq")), QStringLiteral("开票日期:发票打印日期"));
    EXPECT_EQ(h->columnLabel(QStringLiteral("swjgmc")), QStringLiteral("税务机关名称"));
    EXPECT_EQ(h->lookupDisplay(QStringLiteral("mjlx"), QStringLiteral("2")), QStringLiteral("建筑面积"));
    EXPECT_EQ(h->lookupDisplay(QStringLiteral("mjlx"), QStringLiteral("9")), QStringLiteral("9"));

    auto x = store("d_fp_xmxx_integrated_list");
    EXPECT_EQ(x->objectTag(QStringLiteral("xmmc_t")), QStringLiteral("品目明细"));
    EXPECT_EQ(x->describe(QStringLiteral("xmmc_t.tag")), QStringLiteral("品目明细"));
    EXPECT_EQ(x->columnTag(QStringLiteral("dj")), QStringLiteral("单价|END_COL|"));

    // drop-down children: lists without arguments come with the form, the others
    // are read by the window with the owner account
    fillHeader(*h, "00000001");
    ASSERT_EQ(h->update(), 1);
    ASSERT_TRUE(tx().commit());
    auto shown = store("d_fp_integrated_free");
    ASSERT_EQ(shown->retrieve({QString::fromLatin1(demo::kSxh), kCode, "00000001"}), 1);
    EXPECT_EQ(shown->child(QStringLiteral("swjgmc"))->rowCount(), 2);
    EXPECT_EQ(shown->displayText(1, QStringLiteral("swjgmc")), QString::fromUtf8(demo::kSwjgmc));
    EXPECT_EQ(shown->displayText(1, QStringLiteral("swjgdm")), QString::fromLatin1(demo::kSwjgdm));
    EXPECT_EQ(shown->displayText(1, QStringLiteral("kprq")), QStringLiteral("2009-03-01"));
    DataStore* corp = shown->child(QStringLiteral("fkfmc"));
    ASSERT_NE(corp, nullptr);
    EXPECT_EQ(corp->rowCount(), 0);
    EXPECT_EQ(corp->retrieve({QString::fromLatin1(demo::kSxh)}), 3);
    EXPECT_EQ(shown->child(QStringLiteral("bz")), nullptr);
}

TEST_F(DataStoreTest, SelectionStepsThroughSelectedRows) {
    auto corp = store("d_base_corp");
    ASSERT_EQ(corp->retrieve({QString::fromLatin1(demo::kSxh)}), 3);
    EXPECT_EQ(corp->getSelectedRow(0), 0);
    corp->selectRow(2, true);
    corp->selectRow(3, true);
    EXPECT_EQ(corp->getSelectedRow(0), 2);
    EXPECT_EQ(corp->getSelectedRow(2), 3);
    corp->selectRow(0, false);
    EXPECT_EQ(corp->getSelectedRow(0), 0);
}

TEST_F(DataStoreTest, StaffListHidesTheAdministratorAndMasksPasswords) {
    ASSERT_TRUE(
        tx().exec(QStringLiteral("INSERT INTO b_emp (ccode, cname, pwd, department, sxh) VALUES (?, ?, ?, ?, ?)"),
                  {"admin", QStringLiteral("管理员"), "secret", "KPRY", QString::fromLatin1(demo::kSxh)}));
    ASSERT_TRUE(tx().exec(QStringLiteral("UPDATE b_emp SET pwd = ? WHERE ccode = ?"), {"pw1", "001"}));
    ASSERT_TRUE(tx().commit());
    auto emp = store("d_base_emp");
    ASSERT_EQ(emp->retrieve({QString::fromLatin1(demo::kSxh)}), 3);
    EXPECT_EQ(
        emp->find([](const DataStore::RowView& v) { return v.getString(QStringLiteral("ccode")) == "admin"; }, 1, 3),
        0);
    EXPECT_EQ(emp->displayText(1, QStringLiteral("pwd")), QStringLiteral("*********"));
    EXPECT_EQ(emp->computed(QStringLiteral("cpt_maxcode")).toString(), QStringLiteral("101"));
    const int r = emp->insertRow(0);
    EXPECT_EQ(emp->getString(r, QStringLiteral("department")), QStringLiteral("KPRY"));
    EXPECT_EQ(emp->rowStatus(r), RowStatus::New);
}

} // namespace
} // namespace fp
