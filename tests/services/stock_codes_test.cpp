#include "services/stock_codes.h"

#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "services/remote_text.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/statement_faults.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

using test::ScriptedDialogs;
using test::TempDb;

const QString kSxh = QString::fromUtf8(demo::kSxh);
const QString kSwjg = QString::fromUtf8(demo::kSwjgdm);
const QString kCode = QString::fromUtf8(demo::kCode50);

QString fields(const QStringList& f) { return f.join(QStringLiteral("|@|")); }
QString records(const QStringList& r) { return r.join(QStringLiteral("|&|")); }

QString lg(const QString& lglsh, const QString& fpqh, const QString& fpzh, const QString& zjsyh,
           const QString& fsrq = QStringLiteral("20090817 12:41:48")) {
    return fields({QStringLiteral("lg"), lglsh, kSwjg, kSxh, QStringLiteral("50"), kCode, fpqh, fpzh, zjsyh,
                   QStringLiteral("0"), fsrq});
}
QString tp(const QString& lglsh, const QString& tpqh, const QString& tpzh,
           const QString& tprq = QStringLiteral("20090901 09:00:00")) {
    return fields(
        {QStringLiteral("tp"), lglsh, kSwjg, kSxh, QStringLiteral("50"), kCode, tpqh, tpzh, tprq, QStringLiteral("1")});
}
// The purchase row as a snapshot line shows it.
QString lgRow(const QString& lglsh, const QString& fpqh, const QString& fpzh, const QString& zjsyh,
              const QString& fsrq = QStringLiteral("2009-08-17 12:41:48")) {
    return QStringList{QStringLiteral("bdcja_fplg"), lglsh, kSwjg, kSxh, QStringLiteral("50"), kCode, fpqh, fpzh, zjsyh,
                       QStringLiteral("0"),          fsrq}
        .join(QLatin1Char('|'));
}
QString tpRow(const QString& lglsh, const QString& tpqh, const QString& tpzh,
              const QString& tprq = QStringLiteral("2009-09-01 09:00:00")) {
    return QStringList{QStringLiteral("bdcja_sgtp"), lglsh, kSwjg, kSxh, QStringLiteral("50"), kCode, tpqh, tpzh, tprq}
        .join(QLatin1Char('|'));
}

class StockCodesTest : public ::testing::Test {
protected:
    StockCodesTest() {
        session.gs_sysuserid = kSxh;
        session.sqlca = &db.tx();
    }
    Transaction& sqlca() { return db.tx(); }
    QStringList rows(const QString& table) { return test::tableRows(sqlca(), table); }
    // What another connection sees: only committed data.
    QStringList committedRows(const QString& table) {
        auto other = db.openAnother();
        return test::tableRows(*other, table);
    }

    TempDb db;
    Session session;
    ScriptedDialogs dialogs;
    HostServices host{session, dialogs};
};

struct FailureCase {
    const char* name;
    QString text;
    QString message;
    bool result = false;
    bool dbError = false; // `message` is the fixed part; the database's error text follows
};

// Runs every case against the same stored data and checks that nothing changed.
template <typename Fn>
void expectRefusals(ScriptedDialogs& dialogs, Transaction& sqlca, const std::vector<FailureCase>& cases, Fn save) {
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.clear();
        const QString before = test::snapshot(sqlca);
        EXPECT_EQ(save(c.text), c.result);
        ASSERT_EQ(dialogs.messages().size(), 1) << dialogs.log().join(QLatin1Char('\n')).toStdString();
        const QString shown = dialogs.messages().first();
        if (c.dbError) {
            EXPECT_TRUE(shown.startsWith(c.message)) << shown.toStdString();
            EXPECT_GT(shown.size(), c.message.size()) << "no database error text";
        } else {
            EXPECT_EQ(shown, c.message);
        }
        EXPECT_FALSE(sqlca.inTransaction());
        EXPECT_EQ(test::snapshot(sqlca), before);
    }
}

// --- stock ----------------------------------------------------------------------

TEST_F(StockCodesTest, PurchaseAndReturnAreStoredTogether) {
    ASSERT_TRUE(gf_save_fplgqk(
        host,
        records({lg(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"), QStringLiteral("")),
                 tp(QStringLiteral("LG1"), QStringLiteral("00000051"), QStringLiteral("00000100"))})));
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(committedRows(QStringLiteral("bdcja_fplg")),
              QStringList{lgRow(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                                QStringLiteral(""))});
    EXPECT_EQ(committedRows(QStringLiteral("bdcja_sgtp")),
              QStringList{tpRow(QStringLiteral("LG1"), QStringLiteral("00000051"), QStringLiteral("00000100"))});
}

TEST_F(StockCodesTest, PurchaseReplacesTheSameSerialWholeAndReturnOnlyTheSameRange) {
    ASSERT_TRUE(gf_save_fplgqk(
        host, records({lg(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                          QStringLiteral("00000010")),
                       lg(QStringLiteral("LG2"), QStringLiteral("00000101"), QStringLiteral("00000200"),
                          QStringLiteral("00000150")),
                       tp(QStringLiteral("LG1"), QStringLiteral("00000081"), QStringLiteral("00000090")),
                       tp(QStringLiteral("LG1"), QStringLiteral("00000091"), QStringLiteral("00000100"))})));

    // The server's purchase LG1 now says nothing has been used; the return
    // 81-90 comes again with a new date.
    ASSERT_TRUE(gf_save_fplgqk(host, records({lg(QStringLiteral("LG1"), QStringLiteral("00000001"),
                                                 QStringLiteral("00000100"), QStringLiteral("")),
                                              tp(QStringLiteral("LG1"), QStringLiteral("00000081"),
                                                 QStringLiteral("00000090"), QStringLiteral("20091001 10:00:00"))})));
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_EQ(committedRows(QStringLiteral("bdcja_fplg")),
              (QStringList{lgRow(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                                 QStringLiteral("")),
                           lgRow(QStringLiteral("LG2"), QStringLiteral("00000101"), QStringLiteral("00000200"),
                                 QStringLiteral("00000150"))}));
    EXPECT_EQ(committedRows(QStringLiteral("bdcja_sgtp")),
              (QStringList{tpRow(QStringLiteral("LG1"), QStringLiteral("00000081"), QStringLiteral("00000090"),
                                 QStringLiteral("2009-10-01 10:00:00")),
                           tpRow(QStringLiteral("LG1"), QStringLiteral("00000091"), QStringLiteral("00000100"))}));
}

TEST_F(StockCodesTest, EmptyRecordsAndEmptyTexts) {
    EXPECT_FALSE(gf_save_fplgqk(host, QString()));
    EXPECT_TRUE(dialogs.log().isEmpty());

    const QString before = test::snapshot(sqlca());
    EXPECT_TRUE(gf_save_fplgqk(host, QStringLiteral("")));
    EXPECT_EQ(dialogs.log(), QStringList{QStringLiteral("mess:没有找到发票领购信息！")});
    EXPECT_EQ(test::snapshot(sqlca()), before);

    // Entries that are all empty are still entries: no message, nothing stored.
    dialogs.clear();
    EXPECT_TRUE(gf_save_fplgqk(host, QStringLiteral("|&|")));
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_EQ(test::snapshot(sqlca()), before);

    // Empty entries between records are skipped; an empty date is stored as NULL.
    EXPECT_TRUE(gf_save_fplgqk(
        host, records({lg(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                          QStringLiteral(""), QStringLiteral("")),
                       QString(), QString(),
                       tp(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000010"))})));
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_EQ(rows(QStringLiteral("bdcja_fplg")),
              QStringList{lgRow(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                                QStringLiteral(""), QStringLiteral("NULL"))});
    EXPECT_EQ(rows(QStringLiteral("bdcja_sgtp")).size(), 1);
}

// The number list counts a blank last-used number as nothing used yet; the
// service may send one so.
TEST_F(StockCodesTest, ABlankLastUsedNumberIsNothingUsedYet) {
    const char* blanks[] = {" ", "        ", "\t"};
    for (const char* blank : blanks) {
        SCOPED_TRACE(std::string("zjsyh \"") + blank + "\"");
        ASSERT_TRUE(gf_save_fplgqk(host, lg(QStringLiteral("LG1"), QStringLiteral("00000001"),
                                            QStringLiteral("00000100"), QString::fromLatin1(blank))))
            << dialogs.log().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(dialogs.log().isEmpty());
        EXPECT_EQ(committedRows(QStringLiteral("bdcja_fplg")),
                  QStringList{lgRow(QStringLiteral("LG1"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                                    QStringLiteral(""))});
    }
}

TEST_F(StockCodesTest, RefusedStockTextsStoreNothing) {
    const QString lg0 =
        lg(QStringLiteral("LG0"), QStringLiteral("00000001"), QStringLiteral("00000050"), QStringLiteral("00000005"));
    ASSERT_TRUE(gf_save_fplgqk(
        host, records({lg0, tp(QStringLiteral("LG0"), QStringLiteral("00000041"), QStringLiteral("00000050"))})));
    const QString good =
        lg(QStringLiteral("LG9"), QStringLiteral("00000001"), QStringLiteral("00000100"), QStringLiteral(""));
    // A replacement of LG0 first, so its deletion has to be undone as well.
    const QString replaceLg0 =
        lg(QStringLiteral("LG0"), QStringLiteral("00000001"), QStringLiteral("00000050"), QStringLiteral(""));
    const QString tp9 =
        fields({QStringLiteral("tp"), QStringLiteral("LG0"), kSwjg, kSxh, QStringLiteral("50"), kCode,
                QStringLiteral("00000041"), QStringLiteral("00000050"), QStringLiteral("20090901 09:00:00")});
    const QString lg10 =
        fields({QStringLiteral("lg"), QStringLiteral("LG9"), kSwjg, kSxh, QStringLiteral("50"), kCode,
                QStringLiteral("00000001"), QStringLiteral("00000100"), QStringLiteral(""), QStringLiteral("0")});

    const std::vector<FailureCase> cases = {
        {"return with 9 fields", records({good, replaceLg0, tp9}), QStringLiteral("发票数据提取失败3！")},
        {"return with 11 fields",
         records({good, tp(QStringLiteral("LG0"), QStringLiteral("00000041"), QStringLiteral("00000050")) +
                            QStringLiteral("|@|x")}),
         QStringLiteral("发票数据提取失败3！")},
        {"purchase with 10 fields", records({replaceLg0, lg10}), QStringLiteral("发票数据提取失败2！")},
        {"purchase with 12 fields", records({good + QStringLiteral("|@|")}), QStringLiteral("发票数据提取失败2！")},
        {"unknown record type", records({replaceLg0, QStringLiteral("xx|@|LG5")}),
         QStringLiteral("发票数据提取失败4！")},
        {"type in capitals", records({QStringLiteral("LG") + good.mid(2)}), QStringLiteral("发票数据提取失败4！")},
        {"purchase date with dashes",
         records({replaceLg0, lg(QStringLiteral("LG7"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                                 QStringLiteral(""), QStringLiteral("2009-08-17 12:41:48"))}),
         QStringLiteral("发票数据提取失败：日期“2009-08-17 12:41:48”无效！")},
        {"return date without time",
         records({replaceLg0, tp(QStringLiteral("LG0"), QStringLiteral("00000041"), QStringLiteral("00000050"),
                                 QStringLiteral("20090901"))}),
         QStringLiteral("发票数据提取失败：日期“20090901”无效！")},
        {"purchase insert fails (serial too long)",
         records({replaceLg0,
                  lg(QString(31, u'L'), QStringLiteral("00000001"), QStringLiteral("00000100"), QStringLiteral(""))}),
         QStringLiteral("发票数据提取失败5！\r\nsqlcode = -1\r\nsqlerrtext = "), false, true},
        {"return insert fails after replacing LG0",
         records({replaceLg0, tp(QString(31, u'L'), QStringLiteral("00000041"), QStringLiteral("00000050"))}),
         QStringLiteral("发票数据提取失败5！\r\nsqlcode = -1\r\nsqlerrtext = "), false, true},
        // Numbers are eight digits: "0000001x" would pass every text range test.
        {"first number of nine digits",
         records({replaceLg0, lg(QStringLiteral("LG8"), QStringLiteral("000000001"), QStringLiteral("00000100"),
                                 QStringLiteral(""))}),
         QStringLiteral("发票数据提取失败：发票号码“000000001”不是8位数字！")},
        {"last number with a letter",
         records({replaceLg0, lg(QStringLiteral("LG8"), QStringLiteral("00000001"), QStringLiteral("0000010x"),
                                 QStringLiteral(""))}),
         QStringLiteral("发票数据提取失败：发票号码“0000010x”不是8位数字！")},
        {"last used number with a blank",
         records({lg(QStringLiteral("LG8"), QStringLiteral("00000001"), QStringLiteral("00000100"),
                     QStringLiteral("0000005 "))}),
         QStringLiteral("发票数据提取失败：发票号码“0000005 ”不是8位数字！")},
        {"returned range of seven digits",
         records({replaceLg0, tp(QStringLiteral("LG0"), QStringLiteral("0000041"), QStringLiteral("00000050"))}),
         QStringLiteral("发票数据提取失败：发票号码“0000041”不是8位数字！")},
    };
    expectRefusals(dialogs, sqlca(), cases, [&](const QString& text) { return gf_save_fplgqk(host, text); });
    EXPECT_EQ(committedRows(QStringLiteral("bdcja_fplg")),
              QStringList{lgRow(QStringLiteral("LG0"), QStringLiteral("00000001"), QStringLiteral("00000050"),
                                QStringLiteral("00000005"))});
}

// --- code tables -------------------------------------------------------------------

const QString kKinds = records({fields({QStringLiteral("50"), QStringLiteral("2"), QStringLiteral("综合统一发票"),
                                        QStringLiteral("综合"), QStringLiteral("1")}),
                                fields({QStringLiteral("20"), QStringLiteral("2"), QStringLiteral("不动产销售统一发票"),
                                        QStringLiteral("不动产"), QStringLiteral("2")})});
const QString kCodes = records({fields({QStringLiteral("237020000001"), QStringLiteral("50")}),
                                fields({QStringLiteral("237020000201"), QStringLiteral("20")})});

TEST_F(StockCodesTest, CodeTablesAreReplacedWhole) {
    ASSERT_TRUE(gf_save_fpzldm(
        host, records({fields({QStringLiteral("90"), QStringLiteral("1"), QStringLiteral("旧种类"),
                               QStringLiteral("旧"), QStringLiteral("9")})}) +
                  QStringLiteral("|#|") + fields({QStringLiteral("999999999999"), QStringLiteral("90")})));
    ASSERT_TRUE(gf_save_fpzldm(host, kKinds + QStringLiteral("|&||#||&|") + kCodes));
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(committedRows(QStringLiteral("bm_bdcja_fpzl")),
              (QStringList{QStringLiteral("bm_bdcja_fpzl|20|2|不动产销售统一发票|不动产|2"),
                           QStringLiteral("bm_bdcja_fpzl|50|2|综合统一发票|综合|1")}));
    EXPECT_EQ(committedRows(QStringLiteral("bm_bdcja_fpdm")),
              (QStringList{QStringLiteral("bm_bdcja_fpdm|237020000001|50"),
                           QStringLiteral("bm_bdcja_fpdm|237020000201|20")}));
}

TEST_F(StockCodesTest, RefusedCodeTextsReplaceNothing) {
    ASSERT_TRUE(gf_save_fpzldm(host, kKinds + QStringLiteral("|#|") + kCodes));
    EXPECT_FALSE(gf_save_fpzldm(host, QString()));
    EXPECT_TRUE(dialogs.log().isEmpty());

    const QString kind40 = fields({QStringLiteral("40"), QStringLiteral("2"), QStringLiteral("建筑业统一发票"),
                                   QStringLiteral("建筑"), QStringLiteral("3")});
    const QString code40 = fields({QStringLiteral("237020000401"), QStringLiteral("40")});
    const QString sep = QStringLiteral("|#|");
    const std::vector<FailureCase> cases = {
        {"no code part", kKinds, QStringLiteral("发票种类及发票代码信息提取有误！")},
        {"kind with 4 fields", records({kind40, QStringLiteral("41|@|2|@|甲|@|乙")}) + sep + code40,
         QStringLiteral("发票种类信息提取失败！")},
        {"kind with 6 fields", kind40 + QStringLiteral("|@|") + sep + code40, QStringLiteral("发票种类信息提取失败！")},
        {"priority not a whole number", records({kind40, QStringLiteral("41|@|2|@|甲|@|乙|@|1.5")}) + sep + code40,
         QStringLiteral("发票种类信息提取失败：优先级“1.5”不是有效的整数！")},
        {"priority with grouping", records({kind40, QStringLiteral("41|@|2|@|甲|@|乙|@|1,000")}) + sep + code40,
         QStringLiteral("发票种类信息提取失败：优先级“1,000”不是有效的整数！")},
        {"code with 3 fields", kind40 + sep + records({code40, QStringLiteral("237020000402|@|40|@|x")}),
         QStringLiteral("发票代码信息提取失败！")},
        {"code with 1 field", kind40 + sep + QStringLiteral("237020000402"), QStringLiteral("发票代码信息提取失败！")},
        {"kind twice", records({kind40, kind40}) + sep + code40,
         QStringLiteral("发票种类添加失败！\r\nsqlcode = -1\r\nsqlerrtext = "), false, true},
        {"code twice", kind40 + sep + records({code40, code40}),
         QStringLiteral("发票代码添加失败！\r\nsqlcode = -1\r\nsqlerrtext = "), false, true},
        // A kind that cannot be stored is a failure before an empty code part is news.
        {"kind twice and an empty code part", records({kind40, kind40}) + sep,
         QStringLiteral("发票种类添加失败！\r\nsqlcode = -1\r\nsqlerrtext = "), false, true},
        {"kind twice and a code part of empty records", records({kind40, kind40}) + sep + QStringLiteral("|&|"),
         QStringLiteral("发票种类添加失败！\r\nsqlcode = -1\r\nsqlerrtext = "), false, true},
        // An empty list replaces nothing, yet the result is true.
        {"empty kind part", sep + code40, QStringLiteral("没有找到发票种类信息！"), true},
        {"empty code part", kind40 + sep, QStringLiteral("没有找到发票代码信息！"), true},
        // Parts whose records are all empty hold no record: they empty no table.
        {"kind part of empty records", QStringLiteral("|&|") + sep + code40, QStringLiteral("没有找到发票种类信息！"),
         true},
        {"code part of empty records", kind40 + sep + QStringLiteral("|&||&|"),
         QStringLiteral("没有找到发票代码信息！"), true},
    };
    expectRefusals(dialogs, sqlca(), cases, [&](const QString& text) { return gf_save_fpzldm(host, text); });
    EXPECT_EQ(committedRows(QStringLiteral("bm_bdcja_fpdm")).size(), 2);
}

TEST_F(StockCodesTest, AFailedDeletionOfAnOldTableKeepsBothTablesAsTheyWere) {
    // Rows that collide with none of the stored ones: only the deletion can fail.
    const QString newTables = fields({QStringLiteral("40"), QStringLiteral("2"), QStringLiteral("建筑业统一发票"),
                                      QStringLiteral("建筑"), QStringLiteral("3")}) +
                              QStringLiteral("|#|") + fields({QStringLiteral("237020000401"), QStringLiteral("40")});
    const struct {
        const char* failing;
        const char* message;
    } cases[] = {
        {"DELETE FROM bm_bdcja_fpzl", "发票种类添加失败！\r\nsqlcode = -1\r\nsqlerrtext = disk full"},
        {"DELETE FROM bm_bdcja_fpdm", "发票代码添加失败！\r\nsqlcode = -1\r\nsqlerrtext = disk full"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        ASSERT_TRUE(gf_save_fpzldm(host, kKinds + QStringLiteral("|#|") + kCodes));
        dialogs.clear();
        const QString before = test::snapshot(sqlca());
        test::failNextMatching(sqlca(), QString::fromUtf8(c.failing), QStringLiteral("disk full"));
        EXPECT_FALSE(gf_save_fpzldm(host, newTables));
        EXPECT_EQ(dialogs.messages(), QStringList{QString::fromUtf8(c.message)});
        EXPECT_FALSE(sqlca().inTransaction());
        EXPECT_EQ(test::snapshot(sqlca()), before);
    }
}

// --- what the tax service sends --------------------------------------------------

class StockCodesHttpTest : public StockCodesTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRunning()) << server.http().error().toStdString();
        host.setTransport(server.httpTransport());
    }
    QString fetch(const QString& procId) {
        QString reply;
        EXPECT_TRUE(host.f_send_remote_msg(QString(kRemoteEndpoint),
                                           QStringLiteral("proc_id:") + procId + QStringLiteral("\r\n"), kTimeoutUpload,
                                           reply))
            << dialogs.log().join(QLatin1Char('\n')).toStdString();
        return reply_body(reply);
    }
    test::TaxsimServer server;
};

TEST_F(StockCodesHttpTest, TheServicesStockAndCodeTextsAreStored) {
    const QString stock = fetch(QStringLiteral("90002"));
    const QString codes = fetch(QStringLiteral("90003"));
    ASSERT_TRUE(gf_save_fplgqk(host, stock));
    ASSERT_TRUE(gf_save_fpzldm(host, codes));
    EXPECT_TRUE(dialogs.log().isEmpty());

    const QStringList purchases = committedRows(QStringLiteral("bdcja_fplg"));
    EXPECT_EQ(purchases.size(), stock.count(QStringLiteral("lg|@|")));
    for (const QString& row : purchases) EXPECT_EQ(row.section(QLatin1Char('|'), 3, 3), kSxh) << row.toStdString();
    EXPECT_FALSE(purchases.filter(QStringLiteral("|") + kCode + QStringLiteral("|")).isEmpty());
    EXPECT_EQ(committedRows(QStringLiteral("bdcja_sgtp")).size(), stock.count(QStringLiteral("tp|@|")));
    EXPECT_TRUE(committedRows(QStringLiteral("bm_bdcja_fpdm"))
                    .contains(QStringLiteral("bm_bdcja_fpdm|") + kCode + QStringLiteral("|50")));
    EXPECT_FALSE(committedRows(QStringLiteral("bm_bdcja_fpzl")).isEmpty());
}

} // namespace
} // namespace fp
