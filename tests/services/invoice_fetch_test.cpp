#include "services/invoice_fetch.h"

#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "tests/support/canned_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/statement_faults.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

#include <QSet>
#include <optional>

namespace fp {
namespace {

using test::ScriptedDialogs;
using test::TempDb;

const QString kCode = QString::fromUtf8(demo::kCode50);
const QString kNumber = QStringLiteral("00000007");
const QString kOwner = QString::fromUtf8(demo::kSxh);
const QString kOtherAccount = QStringLiteral("3702000099999");
const QString kOverwriteQuestion = QStringLiteral("本地发票已存在，确定要从服务器上下载下来覆盖本地数据吗？");

// Positions of reply fields (0-based).
enum HeaderField { kFpzlbm = 2, kFpzt = 5, kHjje = 15, kSl = 17, kSe = 18, kBcrq = 22, kKprq = 23, kDrcs = 24 };
enum LineField { kIserial = 0, kMj = 7, kDj = 8, kJe = 10, kLineExt1 = 12 };

// The 33 header fields of an invoice as the service sends them.
QStringList header33(const QString& fpdm, const QString& fphm, const QString& fpzt) {
    const QStringList h = {fpdm,
                           fphm,
                           QStringLiteral("50"),
                           QString::fromUtf8(demo::kSwjgdm),
                           kOwner,
                           fpzt,
                           QStringLiteral("青岛示范客户有限公司"),
                           QStringLiteral("纳税人识别号"),
                           QStringLiteral("91370200MA3C00002Y"),
                           QStringLiteral("0"),
                           QString::fromUtf8(demo::kTaxpayerName),
                           QStringLiteral("纳税人识别号"),
                           QString::fromUtf8(demo::kNsrsbh),
                           QString::fromUtf8(demo::kNsrlxdh),
                           QStringLiteral("0"),
                           QStringLiteral("1234567890.12"),
                           QStringLiteral("壹拾贰亿叁仟肆佰伍拾陆万柒仟捌佰玖拾元壹角贰分"),
                           QStringLiteral(""),
                           QStringLiteral("0.10"),
                           QStringLiteral(""),
                           QStringLiteral("备注"),
                           QStringLiteral("张三"),
                           QStringLiteral("20090816 08:00:00"),
                           QStringLiteral("20090817 12:41:48"),
                           QStringLiteral("2"),
                           QStringLiteral("admin"),
                           QStringLiteral("系统管理员"),
                           QStringLiteral("1"),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral("")};
    EXPECT_EQ(h.size(), 33);
    return h;
}

QStringList line17(int iserial, const QString& fpdm, const QString& fphm, const QString& je) {
    const QStringList l = {QString::number(iserial),
                           fpdm,
                           fphm,
                           QStringLiteral("咨询服务"),
                           QStringLiteral("XM01"),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral("1"),
                           je,
                           QStringLiteral("3"),
                           je,
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral(""),
                           QStringLiteral("")};
    EXPECT_EQ(l.size(), 17);
    return l;
}

QString joinLine(const QStringList& fields) { return fields.join(QStringLiteral("|@|")); }

// "ok|@|" status "|@|" header, and "|#|" the item list when there is one.
QString replyText(const QString& status, const QStringList& header, const std::optional<QStringList>& items) {
    QString r = QStringLiteral("ok|@|") + status + QStringLiteral("|@|") + header.join(QStringLiteral("|#|"));
    if (items) r += QStringLiteral("|#|") + items->join(QStringLiteral("|&|"));
    return r;
}

using test::CannedTransport;

class FetchTest : public ::testing::Test {
protected:
    FetchTest() {
        session.gs_sysuserid = kOwner;
        session.sqlca = &db.tx();
    }

    Transaction& sqlca() { return db.tx(); }
    void reply(const QString& body) { host.setTransport(std::make_shared<CannedTransport>(body)); }

    // A committed local invoice with item lines of the given serial numbers.
    void insertLocal(const QString& fpdm, const QString& fphm, const QString& sxh, const QList<int>& serials) {
        ASSERT_TRUE(sqlca().exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm , fphm , fpzlbm , sxh , fpzt , fkfmc , "
                                                "hjje ) VALUES ( ?, ?, ?, ?, ?, ?, ? )"),
                                 {fpdm, fphm, QStringLiteral("50"), sxh, QStringLiteral("1"),
                                  QStringLiteral("本地旧数据"), QVariant::fromValue(Decimal::fromCents(300))}))
            << sqlca().sqlerrtext.toStdString();
        for (int serial : serials)
            ASSERT_TRUE(sqlca().exec(
                QStringLiteral("INSERT INTO ptfp_fpxmmx ( iserial , fpdm , fphm , xmmc , je ) "
                               "VALUES ( ?, ?, ?, ?, ? )"),
                {serial, fpdm, fphm, QStringLiteral("旧品目"), QVariant::fromValue(Decimal::fromCents(100))}))
                << sqlca().sqlerrtext.toStdString();
        ASSERT_TRUE(sqlca().commit());
    }

    QList<QVariantList> headers() {
        return sqlca().selectAll(QStringLiteral("SELECT fpdm, fphm, sxh, fpzt, fkfmc, hjje, sl, se, bcrq, kprq, drcs, "
                                                "extprop1 FROM ptfp_fpk ORDER BY fpdm, fphm"));
    }
    // (iserial, fpdm, fphm, xmmc, je) of every item line.
    QList<QVariantList> lines() {
        return sqlca().selectAll(
            QStringLiteral("SELECT iserial, fpdm, fphm, xmmc, je, extprop1 FROM ptfp_fpxmmx ORDER BY iserial"));
    }
    QList<qlonglong> serialsOf(const QString& fpdm, const QString& fphm) {
        QList<qlonglong> out;
        for (const QVariantList& r : lines())
            if (r[1].toString() == fpdm && r[2].toString() == fphm) out << r[0].toLongLong();
        return out;
    }

    TempDb db;
    Session session;
    ScriptedDialogs dialogs;
    HostServices host{session, dialogs};
};

// --- nothing asked, nothing changed ----------------------------------------

TEST_F(FetchTest, EmptyArgumentsReturnFalseSilently) {
    reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")), QStringList{}));
    const QString before = test::snapshot(sqlca());
    const std::pair<QString, QString> cases[] = {
        {QString(), kNumber}, {QStringLiteral(""), kNumber}, {kCode, QString()}, {kCode, QStringLiteral("")}};
    for (const auto& [code, number] : cases) {
        EXPECT_FALSE(gf_get_fp_from_remote(host, code, number));
    }
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_TRUE(host.exchanges().empty());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

TEST_F(FetchTest, AnotherAccountsInvoiceIsRefusedWithoutAskingTheServer) {
    insertLocal(kCode, kNumber, kOtherAccount, {1, 2});
    reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")),
                    QStringList{joinLine(line17(1, kCode, kNumber, QStringLiteral("1.00")))}));
    const QString before = test::snapshot(sqlca());

    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_EQ(dialogs.log(), QStringList{QStringLiteral("mess:你无权操作此发票！")});
    EXPECT_TRUE(host.exchanges().empty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

TEST_F(FetchTest, DecliningTheOverwriteKeepsTheLocalCopyAndSendsNothing) {
    insertLocal(kCode, kNumber, kOwner, {1, 2});
    reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")),
                    QStringList{joinLine(line17(9, kCode, kNumber, QStringLiteral("1.00")))}));
    const QString before = test::snapshot(sqlca());
    dialogs.no();

    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_EQ(dialogs.log(), QStringList{QStringLiteral("msg2:") + kOverwriteQuestion});
    EXPECT_TRUE(host.exchanges().empty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

TEST_F(FetchTest, ReservedTextInCodeOrNumberRollsBackTheDeletion) {
    // A local code holding a comma: the overwrite is agreed, the old copy deleted,
    // then the check refuses the code and the deletion is undone.
    const QString commaCode = QStringLiteral("237020,00001");
    insertLocal(commaCode, kNumber, kOwner, {1});
    const QString hashNumber = QStringLiteral("0000|#|1");
    reply(QStringLiteral("ok|@|1|@|never read"));
    const QString before = test::snapshot(sqlca());

    dialogs.yes();
    EXPECT_FALSE(gf_get_fp_from_remote(host, commaCode, kNumber));
    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, hashNumber));

    EXPECT_EQ(dialogs.messages(), (QStringList{QStringLiteral("发票代码中不能出现系统保留字符：“,”(逗号)，请修改！"),
                                               QStringLiteral("发票号码中不能出现系统保留字符：“|#|”，请修改！")}));
    EXPECT_TRUE(host.exchanges().empty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

TEST_F(FetchTest, AFailedDeletionOfTheLocalCopyEndsTheOverwrite) {
    insertLocal(kCode, kNumber, kOwner, {1, 2});
    reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")),
                    QStringList{joinLine(line17(9, kCode, kNumber, QStringLiteral("1.00")))}));
    const QString before = test::snapshot(sqlca());
    test::failNextMatching(sqlca(), QStringLiteral("DELETE FROM ptfp_fpk"), QStringLiteral("disk full"));
    dialogs.yes();

    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_EQ(dialogs.log(), (QStringList{QStringLiteral("msg2:") + kOverwriteQuestion,
                                          QStringLiteral("mess:发票数据保存失败！\r\nsqlcode = -1\r\n"
                                                         "sqlerrtext = disk full")}));
    EXPECT_TRUE(host.exchanges().empty());
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

TEST_F(FetchTest, ANumberThatIsNotEightDigitsIsNotAsked) {
    reply(QStringLiteral("ok|@|1|@|never read"));
    const QString before = test::snapshot(sqlca());
    for (const char* number : {"0000001x", "123456789", "0000001", "0000001 "}) {
        SCOPED_TRACE(number);
        dialogs.clear();
        EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, QString::fromLatin1(number)));
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票号码必须是8位数字！")});
    }
    EXPECT_TRUE(host.exchanges().empty());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

// --- refused replies: the whole failure table, with and without a local copy --

struct FailureCase {
    const char* name;
    QString reply;
    QString message;
    bool dbError = false; // `message` is the fixed part; the database's error text follows
};

std::vector<FailureCase> failureCases() {
    const QStringList h = header33(kCode, kNumber, QStringLiteral("1"));
    const QString good1 = joinLine(line17(101, kCode, kNumber, QStringLiteral("1.00")));
    const QString good2 = joinLine(line17(102, kCode, kNumber, QStringLiteral("2.00")));
    auto withHeader = [&](int field, const QString& value) {
        QStringList c = h;
        c[field] = value;
        return c;
    };
    auto lineWith = [&](int serial, int field, const QString& value) {
        QStringList l = line17(serial, kCode, kNumber, QStringLiteral("1.00"));
        l[field] = value;
        return joinLine(l);
    };
    QStringList l16 = line17(102, kCode, kNumber, QStringLiteral("1.00"));
    l16.removeLast();

    const QString saveFailed = QStringLiteral("发票数据保存失败！\r\nsqlcode = -1\r\nsqlerrtext = ");
    return {
        {"status 0 with the server's text", QStringLiteral("ok|@|0|@|指定发票未使用，没有可下载的发票信息！"),
         QStringLiteral("指定发票未使用，没有可下载的发票信息！")},
        {"status 0 with blanks only", QStringLiteral("ok|@|0|@|   "), QStringLiteral("指定发票未找到！")},
        {"status alone", QStringLiteral("ok|@|-2"), QStringLiteral("指定发票未找到！")},
        {"status 4", QStringLiteral("ok|@|4|@|") + h.join(QStringLiteral("|#|")), h.join(QStringLiteral("|#|"))},
        {"32 header fields", replyText(QStringLiteral("1"), h.mid(0, 32), std::nullopt),
         QStringLiteral("发票信息下载失败：接收参数数目有误！")},
        {"header insert fails (kind code too wide)",
         replyText(QStringLiteral("1"), withHeader(kFpzlbm, QStringLiteral("501")), QStringList{good1}), saveFailed,
         true},
        {"33 fields but not blank-voided", replyText(QStringLiteral("2"), h, std::nullopt),
         QStringLiteral("发票数据下载失败：接收品目数据有误！")},
        {"item line with 16 fields after a good one",
         replyText(QStringLiteral("1"), h, QStringList{good1, joinLine(l16)}),
         QStringLiteral("发票数据下载失败：接收品目数据有误1！")},
        {"item line with a trailing separator",
         replyText(QStringLiteral("1"), h, QStringList{good1 + QStringLiteral("|@|")}),
         QStringLiteral("发票数据下载失败：接收品目数据有误1！")},
        {"item insert fails (item code too wide)",
         replyText(QStringLiteral("1"), h, QStringList{good1, lineWith(102, 4, QString(41, u'X'))}),
         QStringLiteral("发票品目数据提取失败！\r\nsqlcode = -1\r\nsqlerrtext = "), true},
        // A reply about another invoice or owner is not stored under this one.
        {"header of another number",
         replyText(QStringLiteral("1"), withHeader(1, QStringLiteral("00000008")), QStringList{good1}),
         QStringLiteral(
             "发票数据下载失败：服务器返回的发票（237020000001 00000008）不是所请求的发票（237020000001 00000007）！")},
        {"header of another code",
         replyText(QStringLiteral("1"), withHeader(0, QStringLiteral("237020000002")), QStringList{good1}),
         QStringLiteral(
             "发票数据下载失败：服务器返回的发票（237020000002 00000007）不是所请求的发票（237020000001 00000007）！")},
        {"number with a blank",
         replyText(QStringLiteral("1"), withHeader(1, kNumber + QLatin1Char(' ')), QStringList{good1}),
         QStringLiteral("发票数据下载失败：服务器返回的发票（237020000001 00000007 ）不是所请求的发票（237020000001 "
                        "00000007）！")},
        {"header of another owner", replyText(QStringLiteral("1"), withHeader(4, kOtherAccount), QStringList{good1}),
         QStringLiteral("发票数据下载失败：服务器返回的发票属于其他纳税人（3702000099999），不能保存！")},
        {"second line of another invoice",
         replyText(QStringLiteral("1"), h, QStringList{good1, lineWith(102, 2, QStringLiteral("00000008"))}),
         QStringLiteral("发票数据下载失败：第2条品目属于其他发票（237020000001 00000008）！")},
        {"35 header fields (a shifted field)",
         replyText(QStringLiteral("1"), h, QStringList{good1}) + QStringLiteral("|#|x"),
         QStringLiteral("发票信息下载失败：接收参数数目有误！")},
        {"serial zero", replyText(QStringLiteral("1"), h, QStringList{lineWith(0, kIserial, QStringLiteral("0"))}),
         QStringLiteral("发票数据下载失败：第1条品目的序号“0”不是有效的整数！")},
        {"empty item list", replyText(QStringLiteral("1"), h, QStringList{}),
         QStringLiteral("发票数据下载失败：指定发票品目信息未找到！")},
        // Fields that are not numbers or dates are refused, not stored.
        {"total not a number",
         replyText(QStringLiteral("1"), withHeader(kHjje, QStringLiteral("abc")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：合计金额“abc”不是有效的数字！")},
        {"tax amount with a letter beyond the fourth place",
         replyText(QStringLiteral("1"), withHeader(kSe, QStringLiteral("0.12345x")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：税额“0.12345x”不是有效的数字！")},
        {"issue date already with dashes",
         replyText(QStringLiteral("1"), withHeader(kKprq, QStringLiteral("2009-08-17 12:41:48")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：开票日期“2009-08-17 12:41:48”不是有效的日期！")},
        {"save date 30 February",
         replyText(QStringLiteral("1"), withHeader(kBcrq, QStringLiteral("20090230 10:00:00")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：保存日期“20090230 10:00:00”不是有效的日期！")},
        {"total with grouping",
         replyText(QStringLiteral("1"), withHeader(kHjje, QStringLiteral("1,234.50")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：合计金额“1,234.50”不是有效的数字！")},
        {"total beyond sixteen digits once rounded",
         replyText(QStringLiteral("1"), withHeader(kHjje, QStringLiteral("9999999999999999.995")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：合计金额“9999999999999999.995”不是有效的数字！")},
        {"total beyond sixteen digits",
         replyText(QStringLiteral("1"), withHeader(kHjje, QStringLiteral("18446744073709551616")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：合计金额“18446744073709551616”不是有效的数字！")},
        {"negative print count",
         replyText(QStringLiteral("1"), withHeader(kDrcs, QStringLiteral("-1")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：打印次数“-1”不是有效的整数！")},
        {"print count not a number",
         replyText(QStringLiteral("1"), withHeader(kDrcs, QStringLiteral("两次")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：打印次数“两次”不是有效的整数！")},
        {"print count with decimals",
         replyText(QStringLiteral("1"), withHeader(kDrcs, QStringLiteral("1.5")), QStringList{good1}),
         QStringLiteral("发票数据下载失败：打印次数“1.5”不是有效的整数！")},
        {"unit price of the second line",
         replyText(QStringLiteral("1"), h, QStringList{good1, lineWith(102, kDj, QStringLiteral("12a"))}),
         QStringLiteral("发票数据下载失败：第2条品目的单价“12a”不是有效的数字！")},
        {"serial not a number",
         replyText(QStringLiteral("1"), h, QStringList{lineWith(101, kIserial, QStringLiteral("x1"))}),
         QStringLiteral("发票数据下载失败：第1条品目的序号“x1”不是有效的整数！")},
        {"spare number of a line after an empty entry",
         replyText(QStringLiteral("1"), h,
                   QStringList{good2, QString(), lineWith(103, kLineExt1, QStringLiteral("1e3"))}),
         QStringLiteral("发票数据下载失败：第3条品目的扩展数值1“1e3”不是有效的数字！")},
    };
}

TEST_F(FetchTest, RefusedRepliesLeaveTheDatabaseAsBefore) {
    // Another invoice's lines and a local copy of this invoice (whose deletion
    // must be undone when the user agreed to overwrite it).
    insertLocal(kCode, QStringLiteral("00000001"), kOwner, {1, 2});
    for (const bool localCopy : {false, true}) {
        if (localCopy) insertLocal(kCode, kNumber, kOwner, {3, 4, 5});
        for (const FailureCase& c : failureCases()) {
            SCOPED_TRACE(std::string(c.name) + (localCopy ? " (overwriting the local copy)" : ""));
            dialogs.clear();
            reply(c.reply);
            if (localCopy) dialogs.yes();
            const QString before = test::snapshot(sqlca());

            EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, kNumber));

            ASSERT_EQ(dialogs.messages().size(), 1) << dialogs.log().join(QLatin1Char('\n')).toStdString();
            const QString shown = dialogs.messages().first();
            if (c.dbError) {
                EXPECT_TRUE(shown.startsWith(c.message)) << shown.toStdString();
                EXPECT_GT(shown.size(), c.message.size()) << "no database error text";
            } else {
                EXPECT_EQ(shown, c.message);
            }
            EXPECT_FALSE(sqlca().inTransaction());
            EXPECT_EQ(test::snapshot(sqlca()), before);
        }
    }
}

TEST_F(FetchTest, RequestTextAndTimeOutAreFixed) {
    reply(QStringLiteral("ok|@|0|@|"));
    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, kNumber));
    ASSERT_EQ(host.exchanges().size(), 1u);
    const auto& x = host.exchanges().front();
    EXPECT_EQ(x.url, QStringLiteral("NormalServlet"));
    EXPECT_EQ(x.request,
              QStringLiteral("proc_id:90239\r\nas_fpdm:237020000001\r\nas_fphm:00000007\r\nas_getinfo:1\r\n"));
    EXPECT_EQ(x.timeout, 10000);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("指定发票未找到！")});
}

// --- stored invoices -----------------------------------------------------------

TEST_F(FetchTest, BlankVoidedInvoiceWith33FieldsIsStoredWithoutLines) {
    const QStringList h = header33(kCode, kNumber, QStringLiteral("3"));
    reply(QStringLiteral("ok|@| 3 |@|") + h.join(QStringLiteral("|#|")));
    EXPECT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_FALSE(sqlca().inTransaction());
    const auto rows = headers();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][3].toString(), QStringLiteral("3"));
    EXPECT_TRUE(lines().isEmpty());

    // The same header with a 34th field: its lines are stored.
    const QString other = QStringLiteral("00000008");
    reply(replyText(QStringLiteral("3"), header33(kCode, other, QStringLiteral("3")),
                    QStringList{joinLine(line17(201, kCode, other, QStringLiteral("5.00")))}));
    EXPECT_TRUE(gf_get_fp_from_remote(host, kCode, other));
    EXPECT_EQ(serialsOf(kCode, other), QList<qlonglong>{201});
}

TEST_F(FetchTest, EmptyEntriesAmongItemLinesAreSkipped) {
    const QStringList h = header33(kCode, kNumber, QStringLiteral("1"));
    reply(replyText(QStringLiteral("1"), h,
                    QStringList{joinLine(line17(11, kCode, kNumber, QStringLiteral("1.00"))), QString(),
                                joinLine(line17(12, kCode, kNumber, QStringLiteral("2.00")))}));
    EXPECT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_EQ(serialsOf(kCode, kNumber), (QList<qlonglong>{11, 12}));

    // A list of empty entries only still counts as a list: committed without lines.
    const QString other = QStringLiteral("00000009");
    reply(
        replyText(QStringLiteral("1"), header33(kCode, other, QStringLiteral("1")), QStringList{QString(), QString()}));
    EXPECT_TRUE(gf_get_fp_from_remote(host, kCode, other));
    EXPECT_EQ(headers().size(), 2);
    EXPECT_TRUE(serialsOf(kCode, other).isEmpty());
    EXPECT_TRUE(dialogs.log().isEmpty());
}

TEST_F(FetchTest, FieldsAreConvertedAndEmptyNumbersAndDatesStoredAsNull) {
    QStringList h = header33(kCode, kNumber, QStringLiteral("1"));
    h[kBcrq] = QStringLiteral("");
    h[kDrcs] = QStringLiteral(" ");
    QStringList l = line17(101, kCode, kNumber, QStringLiteral("-0.10"));
    l[kMj] = QStringLiteral("");
    reply(replyText(QStringLiteral("1"), h, QStringList{joinLine(l)}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();

    const auto rows = headers();
    ASSERT_EQ(rows.size(), 1);
    const QVariantList& r = rows[0];
    EXPECT_EQ(r[4].toString(), QStringLiteral("青岛示范客户有限公司"));
    EXPECT_EQ(sqlca().decimalAt(r[5]), Decimal::parse(u"1234567890.12"));
    EXPECT_TRUE(r[6].isNull()) << "empty sl";
    EXPECT_EQ(sqlca().decimalAt(r[7]), Decimal::parse(u"0.10"));
    EXPECT_TRUE(r[8].isNull()) << "empty bcrq";
    EXPECT_EQ(sqlca().dateTimeAt(r[9]), QDateTime(QDate(2009, 8, 17), QTime(12, 41, 48)));
    EXPECT_TRUE(r[10].isNull()) << "blank drcs";
    EXPECT_FALSE(r[11].isNull()) << "an empty text stays a text";
    EXPECT_EQ(r[11].toString(), QStringLiteral(""));

    QVariantList mj;
    ASSERT_EQ(sqlca().selectInto(QStringLiteral("SELECT mj, dj, je FROM ptfp_fpxmmx WHERE iserial = ?"), {101}, mj), 0);
    EXPECT_TRUE(mj[0].isNull());
    EXPECT_EQ(sqlca().decimalAt(mj[1]), Decimal::parse(u"-0.10"));
    EXPECT_EQ(sqlca().decimalAt(mj[2]), Decimal::parse(u"-0.10"));
}

// Serials are the service's when free; a serial that another local line holds,
// or none at all, gives the line a new local one. Both invoices keep all lines.
TEST_F(FetchTest, CollidingOrMissingSerialsGetNewLocalOnes) {
    insertLocal(kCode, QStringLiteral("00000001"), kOwner, {1, 2});
    // Lines of this invoice left without their header give way as well.
    ASSERT_TRUE(
        sqlca().exec(QStringLiteral("INSERT INTO ptfp_fpxmmx ( iserial , fpdm , fphm , xmmc ) VALUES ( 7, ?, ?, ? )"),
                     {kCode, kNumber, QStringLiteral("孤立品目")}));
    ASSERT_TRUE(sqlca().commit());
    const QStringList first =
        test::tableRows(sqlca(), QStringLiteral("ptfp_fpxmmx")).filter(QStringLiteral("|00000001|"));

    QStringList noSerial = line17(0, kCode, kNumber, QStringLiteral("3.00"));
    noSerial[kIserial] = QString();
    reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")),
                    QStringList{joinLine(line17(1, kCode, kNumber, QStringLiteral("1.00"))),
                                joinLine(line17(3, kCode, kNumber, QStringLiteral("2.00"))), joinLine(noSerial),
                                joinLine(line17(3, kCode, kNumber, QStringLiteral("4.00")))}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(dialogs.log().isEmpty());

    EXPECT_EQ(test::tableRows(sqlca(), QStringLiteral("ptfp_fpxmmx")).filter(QStringLiteral("|00000001|")), first);
    const QList<qlonglong> serials = serialsOf(kCode, kNumber);
    ASSERT_EQ(serials.size(), 4) << "every line stored, the orphan gone";
    // New local serials for every line: past every serial in use, the other
    // invoice's 1 and 2 (the orphan's 7 is free again once it is gone, which
    // SQLite never hands out again and PostgreSQL may), in the order of the reply.
    for (int i = 0; i < 4; ++i) EXPECT_GT(serials[i], 2) << "new local serials";
    EXPECT_EQ(QSet<qlonglong>(serials.begin(), serials.end()).size(), 4);
    QList<QVariantList> amounts = sqlca().selectAll(
        QStringLiteral("SELECT je FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = ? ORDER BY iserial"), {kCode, kNumber});
    ASSERT_EQ(amounts.size(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(sqlca().decimalAt(amounts[i][0]), Decimal::fromInt(i + 1)) << i;

    // Downloaded again: its own old lines no longer collide.
    dialogs.yes();
    reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")),
                    QStringList{joinLine(line17(11, kCode, kNumber, QStringLiteral("1.00")))}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_EQ(serialsOf(kCode, kNumber), QList<qlonglong>{11});
}

// Lines are shown, printed and reversed in the order of their serials: when
// one line cannot keep the service's serial, none does, and the new ones
// follow the reply. Another invoice holds serials 5 and 9.
TEST_F(FetchTest, ALineThatCannotKeepItsSerialRenumbersTheWholeInvoiceInReplyOrder) {
    insertLocal(kCode, QStringLiteral("00000001"), kOwner, {5, 9});
    auto line = [](const QString& serial, const char* name) {
        QStringList l = line17(0, kCode, kNumber, QStringLiteral("1.00"));
        l[kIserial] = serial;
        l[3] = QString::fromUtf8(name);
        return joinLine(l);
    };
    const struct {
        const char* name;
        QStringList items;
    } cases[] = {
        {"the first serial is another invoice's", {line(QStringLiteral("5"), "甲"), line(QStringLiteral("6"), "乙")}},
        {"a serial missing between two free ones",
         {line(QStringLiteral("6"), "甲"), line(QString(), "乙"), line(QStringLiteral("7"), "丙")}},
        {"a serial twice in the reply",
         {line(QStringLiteral("2"), "甲"), line(QStringLiteral("2"), "乙"), line(QStringLiteral("3"), "丙")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (headers().size() > 1) dialogs.yes(); // the previous case's copy is replaced
        reply(replyText(QStringLiteral("1"), header33(kCode, kNumber, QStringLiteral("1")), c.items));
        ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
        QStringList names;
        qlonglong last = 9;
        for (const QVariantList& r : lines()) {
            if (r[2].toString() != kNumber) continue;
            EXPECT_GT(r[0].toLongLong(), last) << "a new serial past every one in use, in order";
            last = r[0].toLongLong();
            names << r[3].toString();
        }
        QStringList expected;
        for (const QString& item : c.items) expected << item.split(QStringLiteral("|@|")).at(3);
        EXPECT_EQ(names, expected);
    }
    EXPECT_EQ(serialsOf(kCode, QStringLiteral("00000001")), (QList<qlonglong>{5, 9}));
}

// An amount with more places than its column is stored rounded half up to two
// places, as every stored amount; the rest of the invoice is stored with it.
TEST_F(FetchTest, AmountsWithMorePlacesAreStoredRoundedToTwo) {
    QStringList h = header33(kCode, kNumber, QStringLiteral("1"));
    h[kHjje] = QStringLiteral("1.005");
    h[kSl] = QStringLiteral("0.055");
    h[kSe] = QStringLiteral("0.12345");
    QStringList l = line17(101, kCode, kNumber, QStringLiteral("1.00"));
    l[kMj] = QStringLiteral("88.125");
    l[kDj] = QStringLiteral("-0.125");
    l[kJe] = QStringLiteral(" 2.00499999 ");
    l[kLineExt1] = QStringLiteral("0.004");
    reply(replyText(QStringLiteral("1"), h, QStringList{joinLine(l)}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(dialogs.log().isEmpty());

    QVariantList header, item;
    ASSERT_EQ(sqlca().selectInto(QStringLiteral("SELECT hjje, sl, se FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                                 {kCode, kNumber}, header),
              0);
    ASSERT_EQ(sqlca().selectInto(QStringLiteral("SELECT mj, dj, je, extprop1 FROM ptfp_fpxmmx WHERE iserial = ?"),
                                 {101}, item),
              0);
    const struct {
        const char* column;
        QVariant stored;
        const char16_t* expected;
    } cases[] = {
        {"hjje", header[0], u"1.01"},   {"sl", header[1], u"0.06"}, {"se", header[2], u"0.12"},
        {"mj", item[0], u"88.13"},      {"dj", item[1], u"-0.13"},  {"je", item[2], u"2.00"},
        {"extprop1", item[3], u"0.00"},
    };
    for (const auto& c : cases) EXPECT_EQ(sqlca().decimalAt(c.stored), Decimal::parse(c.expected)) << c.column;
}

// --- against the tax service over loopback HTTP -------------------------------

taxsim::StoredInvoice serverInvoice(const QString& fphm, const QStringList& serials) {
    taxsim::StoredInvoice inv = taxsim::StoredInvoice::create(kCode, fphm);
    const QStringList h = header33(kCode, fphm, QStringLiteral("1"));
    const QStringList& cols = taxsim::StoredInvoice::headerColumns();
    for (int i = 0; i < cols.size(); ++i) inv.setValue(cols[i], h[i]);
    inv.setValue(QStringLiteral("bcrq"), QStringLiteral("2009-08-16 08:00:00"));
    inv.setValue(QStringLiteral("kprq"), QStringLiteral("2009-08-17 12:41:48"));
    inv.setValue(QStringLiteral("hjje"), QStringLiteral("3.30"));
    for (const QString& s : serials) {
        const int n = inv.addLine();
        inv.setLineValue(n, QStringLiteral("iserial"), s);
        inv.setLineValue(n, QStringLiteral("xmmc"), QStringLiteral("服务器品目") + s);
        inv.setLineValue(n, QStringLiteral("mj"), QStringLiteral("1"));
        inv.setLineValue(n, QStringLiteral("dj"), QStringLiteral("1.10"));
        inv.setLineValue(n, QStringLiteral("je"), QStringLiteral("1.10"));
    }
    return inv;
}

// On a shared database another issuer's save may hold lines not yet
// committed whose serials the generator gave out past every committed one.
// Catching the generator up after a download must not move it back over them,
// or the next line written after that issuer commits collides with one.
TEST_F(FetchTest, CatchingUpTheSerialsNeverMovesTheGeneratorBack) {
    const QString catchUp = sqlca().dialect().identityCatchUp(QStringLiteral("ptfp_fpxmmx"), QStringLiteral("iserial"));
    if (catchUp.isEmpty()) GTEST_SKIP() << "the engine keeps its generator up by itself";
    const QString insertLine = QStringLiteral("INSERT INTO ptfp_fpxmmx ( fpdm , fphm , xmmc ) VALUES ( ?, ?, ? )");
    auto issuer = db.openAnother();
    ASSERT_TRUE(issuer->exec(insertLine, {kCode, QStringLiteral("00000001"), QStringLiteral("已提交")}));
    ASSERT_TRUE(issuer->commit()) << issuer->sqlerrtext.toStdString();
    for (const char* name : {"保存中一", "保存中二"})
        ASSERT_TRUE(issuer->exec(insertLine, {kCode, QStringLiteral("00000002"), QString::fromUtf8(name)}))
            << issuer->sqlerrtext.toStdString();

    (void)sqlca().selectAll(catchUp, {qlonglong(0)}); // a catch-up with nothing downloaded past the generator
    ASSERT_NE(sqlca().sqlcode, -1) << sqlca().sqlerrtext.toStdString();
    ASSERT_TRUE(issuer->commit()) << issuer->sqlerrtext.toStdString();

    ASSERT_TRUE(sqlca().exec(insertLine, {kCode, QStringLiteral("00000003"), QStringLiteral("下一张")}))
        << sqlca().sqlerrtext.toStdString();
    ASSERT_TRUE(sqlca().commit());
    const QList<qlonglong> saving = serialsOf(kCode, QStringLiteral("00000002"));
    ASSERT_EQ(saving.size(), 2);
    EXPECT_GT(serialsOf(kCode, QStringLiteral("00000003")).value(0), saving[1]);
}

class FetchHttpTest : public FetchTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRunning()) << server.http().error().toStdString();
        host.setTransport(server.httpTransport());
    }
    test::TaxsimServer server;
};

TEST_F(FetchHttpTest, DownloadsTheWholeInvoice) {
    server.service().addInvoice(
        serverInvoice(kNumber, {QStringLiteral("101"), QStringLiteral("102"), QStringLiteral("103")}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_FALSE(sqlca().inTransaction());

    // Committed: a second connection sees it.
    auto other = db.openAnother();
    const QStringList committed = test::tableRows(*other, QStringLiteral("ptfp_fpk"));
    ASSERT_EQ(committed.size(), 1);
    EXPECT_TRUE(committed.first().startsWith(QStringLiteral("ptfp_fpk|237020000001|00000007|50|")));

    const auto rows = headers();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][2].toString(), kOwner);
    EXPECT_EQ(sqlca().decimalAt(rows[0][5]), Decimal::parse(u"3.30"));
    EXPECT_EQ(sqlca().dateTimeAt(rows[0][8]), QDateTime(QDate(2009, 8, 16), QTime(8, 0, 0)));
    EXPECT_EQ(sqlca().dateTimeAt(rows[0][9]), QDateTime(QDate(2009, 8, 17), QTime(12, 41, 48)));
    EXPECT_EQ(rows[0][10].toLongLong(), 2);
    EXPECT_EQ(serialsOf(kCode, kNumber), (QList<qlonglong>{101, 102, 103}));
    EXPECT_EQ(lines()[0][3].toString(), QStringLiteral("服务器品目101"));
}

// Two invoices issued elsewhere whose serials collide locally: before, the
// second download failed on the unique serial.
TEST_F(FetchHttpTest, TwoInvoicesWithTheSameSerialsAreBothStored) {
    const QString second = QStringLiteral("00000008");
    server.service().addInvoice(serverInvoice(kNumber, {QStringLiteral("1"), QStringLiteral("2")}));
    server.service().addInvoice(serverInvoice(second, {QStringLiteral("1"), QStringLiteral("2")}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, second)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(dialogs.log().isEmpty());
    EXPECT_EQ(serialsOf(kCode, kNumber), (QList<qlonglong>{1, 2}));
    const QList<qlonglong> secondSerials = serialsOf(kCode, second);
    ASSERT_EQ(secondSerials.size(), 2);
    EXPECT_GT(secondSerials[0], 2);
    EXPECT_GT(secondSerials[1], 2);
    EXPECT_EQ(headers().size(), 2);
}

// Lines keep the service's serials; a line written locally afterwards (the
// next save) gets a serial past them instead of colliding with one.
TEST_F(FetchHttpTest, ALocalLineAfterADownloadGetsASerialPastTheServices) {
    server.service().addInvoice(
        serverInvoice(kNumber, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("103")}));
    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(serialsOf(kCode, kNumber), (QList<qlonglong>{1, 2, 103}));
    for (const char* name : {"本地品目一", "本地品目二"})
        ASSERT_TRUE(sqlca().exec(QStringLiteral("INSERT INTO ptfp_fpxmmx ( fpdm , fphm , xmmc ) VALUES ( ?, ?, ? )"),
                                 {kCode, QStringLiteral("00000001"), QString::fromUtf8(name)}))
            << sqlca().sqlerrtext.toStdString();
    ASSERT_TRUE(sqlca().commit());
    const QList<qlonglong> local = serialsOf(kCode, QStringLiteral("00000001"));
    ASSERT_EQ(local.size(), 2);
    EXPECT_GT(local[0], 103);
    EXPECT_GT(local[1], local[0]);
}

TEST_F(FetchHttpTest, OverwriteReplacesHeaderAndLinesAndLeavesOtherInvoicesAlone) {
    insertLocal(kCode, kNumber, kOwner, {1, 2, 3});
    insertLocal(kCode, QStringLiteral("00000001"), kOwner, {4, 5});
    const QStringList untouched =
        test::tableRows(sqlca(), QStringLiteral("ptfp_fpxmmx")).filter(QStringLiteral("|00000001|"));
    server.service().addInvoice(serverInvoice(kNumber, {QStringLiteral("101"), QStringLiteral("102")}));
    dialogs.yes();

    ASSERT_TRUE(gf_get_fp_from_remote(host, kCode, kNumber)) << dialogs.log().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(dialogs.log(), QStringList{QStringLiteral("msg2:") + kOverwriteQuestion});
    EXPECT_EQ(serialsOf(kCode, kNumber), (QList<qlonglong>{101, 102}));
    EXPECT_EQ(test::tableRows(sqlca(), QStringLiteral("ptfp_fpxmmx")).filter(QStringLiteral("|00000001|")), untouched);
    const auto rows = headers();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1][4].toString(), QStringLiteral("青岛示范客户有限公司"));
}

TEST_F(FetchHttpTest, ServerRefusalRollsBackTheOverwrite) {
    // The service holds the number as another taxpayer's invoice and refuses the
    // download; the local copy that was about to be replaced stays.
    taxsim::StoredInvoice foreign = serverInvoice(kNumber, {QStringLiteral("101")});
    foreign.setValue(QStringLiteral("sxh"), kOtherAccount);
    server.service().addInvoice(foreign);
    insertLocal(kCode, kNumber, kOwner, {1, 2});
    const QString before = test::snapshot(sqlca());
    dialogs.yes();

    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, kNumber));
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("指定发票不属于本纳税人，无权下载！")});
    EXPECT_FALSE(sqlca().inTransaction());
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

TEST_F(FetchHttpTest, UnusedNumberIsRefusedWithTheServersText) {
    const QString before = test::snapshot(sqlca());
    EXPECT_FALSE(gf_get_fp_from_remote(host, kCode, QStringLiteral("00000050")));
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_FALSE(dialogs.messages().first().isEmpty());
    EXPECT_NE(dialogs.messages().first(), QStringLiteral("指定发票未找到！"));
    EXPECT_EQ(test::snapshot(sqlca()), before);
}

// --- helpers -------------------------------------------------------------------

TEST(ServerDateText, Parsing) {
    const QDateTime aug17(QDate(2009, 8, 17), QTime(12, 41, 48));
    const std::pair<QString, QDateTime> cases[] = {
        {QStringLiteral("20090817 12:41:48"), aug17},
        {QStringLiteral("2009081712:41:48"), aug17},
        {QStringLiteral("20090817T12:41:48"), aug17},
        {QStringLiteral("20001231 23:59:59"), QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59))},
        {QStringLiteral("20240229 00:00:00"), QDateTime(QDate(2024, 2, 29), QTime(0, 0, 0))},
        {QString(), QDateTime()},
        {QStringLiteral(""), QDateTime()},
        {QStringLiteral("20090817"), QDateTime()},
        {QStringLiteral("20090817 12:41"), QDateTime()},
        {QStringLiteral("2009-08-17 12:41:48"), QDateTime()},
        {QStringLiteral("20090230 12:00:00"), QDateTime()},
        {QStringLiteral("20090817 24:00:00"), QDateTime()},
        {QStringLiteral("2009 817 12:41:48"), QDateTime()},
        {QStringLiteral("20090817 12:4:148"), QDateTime()},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(parseServerDateText(text), expected);
    }
}

TEST(FpztName, EveryCode) {
    const std::pair<QString, const char16_t*> cases[] = {
        {QStringLiteral("-2"), u"未领购！"},
        {QStringLiteral("-1"), u"已退库！"},
        {QStringLiteral("0"), u"未使用！"},
        {QStringLiteral("1"), u"已开票！"},
        {QStringLiteral("2"), u"已作废！"},
        {QStringLiteral("3"), u"已作废（空白）！"},
        {QStringLiteral("4"), u"未知发票状态！"},
        {QStringLiteral(" 1"), u"未知发票状态！"},
        {QStringLiteral("01"), u"未知发票状态！"},
        {QStringLiteral(""), u"未知发票状态！"},
        {QString(), u"未知发票状态！"},
    };
    for (const auto& [code, name] : cases) {
        SCOPED_TRACE(code.toStdString());
        EXPECT_EQ(f_get_fpzt_name(code), QString::fromUtf16(name));
    }
}

} // namespace
} // namespace fp
