// fpdesk issue: invoices of a JSON file issued through the issuing window,
// headless, against the simulated tax service over loopback HTTP.
#include "app/issue_file.h"
#include "tests/issuing/issuing_fixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace fp::test {
namespace {

class IssueFileTest : public IssuingTest {
protected:
    void SetUp() override {
        IssuingTest::SetUp();
        issueDialogs = std::make_unique<cli::IssueDialogs>(dialogs);
        host = std::make_unique<HostServices>(session, *issueDialogs);
        host->setTimeoutUnitMs(5);
        host->setTransport(server->httpTransport());
        out = std::tmpfile();
    }
    void TearDown() override {
        IssuingTest::TearDown();
        if (out) std::fclose(out);
    }

    int issue(const QByteArray& json, const QString& issuer = QStringLiteral("李丽")) {
        std::vector<cli::IssueInvoice> invoices;
        QString error;
        if (!cli::parseIssueFile(json, invoices, &error)) {
            host->mess(error);
            return 2;
        }
        return cli::issueInvoices(*host, *issueDialogs, invoices, issuer, out);
    }
    QString output() {
        std::fflush(out);
        std::rewind(out);
        QByteArray b;
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, out)) b.append(buf, qsizetype(n));
        return QString::fromUtf8(b);
    }
    QString status(const QString& number) { return server->service().statusOf(code50(), number); }

    std::unique_ptr<cli::IssueDialogs> issueDialogs;
    std::FILE* out = nullptr;
};

const QByteArray kTwoInvoices = R"([
  {"fpdm": "237020000001", "fkfmc": "示范建筑工程有限公司", "bz": "十二月",
   "items": [{"xmmc": "餐饮服务", "mj": "2", "dj": "120.00", "je": "240.00"},
             {"xmmc": "住宿费", "mj": "3", "dj": "93.33"}]},
  {"fpdm": "237020000001", "fphm": "7", "fkfmc": "散客王先生", "fkfzjlx": "身份证件号码",
   "fkfzjhm": "370203199001010099",
   "items": [{"xmmc": "复印费", "mj": "10", "dj": "0.10", "je": "1.00"}]}
])";

TEST_F(IssueFileTest, TwoInvoicesAreIssuedInOrderAndOneIsThenReversedFromAFile) {
    ASSERT_EQ(issue(kTwoInvoices), 0) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(output(), QStringLiteral("237020000001 00000001\n237020000001 00000007\n"));
    EXPECT_EQ(session.gs_kprmc, QStringLiteral("李丽"));
    // Stored locally as the window stores them, and accepted by the service.
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE kpr = '李丽'")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fphm = '00000001'")), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fphm = '00000001' AND hjje = ? AND "
                                   "fkfzjhm = 'MA3C0001-2' AND bz = '十二月'"),
                    {QVariant::fromValue(*Decimal::parse(u"519.99"))}),
              1);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fphm = '00000007' AND fkfzjlx = '身份证件号码'")), 1);
    EXPECT_EQ(status(QStringLiteral("00000001")), QStringLiteral("1"));
    EXPECT_EQ(status(QStringLiteral("00000007")), QStringLiteral("1"));

    // The first is reversed from a file; its same-month question is answered yes.
    dialogs.clear();
    dialogs.yes();
    ASSERT_EQ(issue(R"({"fpdm": "237020000001", "ch": {"fpdm": "237020000001", "fphm": "00000001"}})"), 0)
        << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.questions(), QStringList{QStringLiteral("第1张发票：被冲红发票为本月发票，确定要继续冲红吗？")});
    EXPECT_TRUE(output().endsWith(QStringLiteral("237020000001 00000008\n")));
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fphm = '00000008' AND extprop1 = '00000001' "
                                   "AND hjje = ?"),
                    {QVariant::fromValue(*Decimal::parse(u"-519.99"))}),
              1);
    EXPECT_EQ(status(QStringLiteral("00000008")), QStringLiteral("1"));
}

TEST_F(IssueFileTest, ASecondInvoiceRefusedLeavesTheFirstIssuedAndItselfNowhere) {
    const QByteArray json = R"([
      {"fpdm": "237020000001", "fkfmc": "刘芳", "items": [{"xmmc": "餐饮服务", "mj": "1", "dj": "120"}]},
      {"fpdm": "237020000001", "fkfmc": "刘芳", "items": [{"xmmc": "餐饮服务", "mj": "2", "dj": "120", "je": "241.00"}]}
    ])";
    EXPECT_EQ(issue(json), 1);
    EXPECT_EQ(output(), QStringLiteral("237020000001 00000001\n"));
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("第2张发票：第1行金额241.00与数量乘单价240.00不符！"));
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk")), 1);
    EXPECT_EQ(status(QStringLiteral("00000002")), QStringLiteral("0"));

    // A refusal of the window itself (a negative price) names the place too.
    dialogs.clear();
    EXPECT_EQ(
        issue(R"({"fpdm": "237020000001", "fkfmc": "刘芳", "items": [{"xmmc": "餐饮服务", "mj": "1", "dj": "-5"}]})"),
        1);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("第1张发票：单价不能小于零")});
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk")), 1);
    EXPECT_EQ(status(QStringLiteral("00000002")), QStringLiteral("0"));
}

// Lines the window refuses: none at all, or an amount beyond the range. One
// message, the window's, and nothing is saved.
TEST_F(IssueFileTest, NoLinesOrAnAmountBeyondTheRangeStopsWithTheWindowsOneMessage) {
    struct Case {
        const char* json;
        QString message;
    };
    const Case cases[] = {
        {R"({"fpdm": "237020000001", "fkfmc": "刘芳", "items": []})", QStringLiteral("第1张发票：品目明细必须录入！")},
        {R"({"fpdm": "237020000001", "fkfmc": "刘芳"})", QStringLiteral("第1张发票：品目明细必须录入！")},
        {R"({"fpdm": "237020000001", "fkfmc": "刘芳", "ch": {"fpdm": "137020000999", "fphm": "7", "sgfp": true}})",
         QStringLiteral("第1张发票：品目明细必须录入！")},
        {R"({"fpdm": "237020000001", "fkfmc": "刘芳",
             "items": [{"xmmc": "餐饮服务", "mj": "4294967296", "dj": "4294967296"}]})",
         QStringLiteral("第1张发票：“金额”数值超出范围！")},
    };
    const QString before = dbSnapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        dialogs.clear();
        EXPECT_EQ(issue(QByteArray(c.json)), 1);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(dbSnapshot(), before);
    }
    EXPECT_EQ(output(), QString());
    EXPECT_EQ(status(QStringLiteral("00000001")), QStringLiteral("0"));
}

TEST_F(IssueFileTest, MalformedFilesAreRefusedNamingTheKeyBeforeAnythingIsSent) {
    struct Case {
        const char* json;
        QString message;
    };
    const Case cases[] = {
        {"[{\"fpdm\": \"237020000001\"", QStringLiteral("发票文件不是有效的JSON")},
        {R"([{"fpdm": "237020000001"}, {"fphm": "1"}])", QStringLiteral("第2张发票：缺少“fpdm”")},
        {R"({"fpdm": "237020000001", "fkfm": "x"})", QStringLiteral("第1张发票：未知的键“fkfm”")},
        {R"({"fpdm": "237020000001", "items": [{"xmmc": "a", "mj": 1, "dj": "2"}]})",
         QStringLiteral("第1张发票：“items[0].mj”必须是最多两位小数的金额字符串（如 \"280.00\"）")},
        {R"({"fpdm": "237020000001", "items": [{"xmmc": "a", "mj": "1", "dj": "2.005"}]})",
         QStringLiteral("第1张发票：“items[0].dj”必须是最多两位小数的金额字符串（如 \"280.00\"）")},
        {R"({"fpdm": "237020000001", "items": [{"xmmc": "a", "mj": "1", "dj": "2", "sl": "1"}]})",
         QStringLiteral("第1张发票：未知的键“items[0].sl”")},
        {R"({"fpdm": "237020000001", "ch": {"fpdm": "237020000001", "fphm": "1"}, "fkfmc": "x"})",
         QStringLiteral("第1张发票：冲红系统内发票时复制原发票，不能给出“fkfmc”")},
        {R"({"fpdm": "237020000001", "ch": {"fpdm": "237020000001"}})", QStringLiteral("第1张发票：缺少“ch.fphm”")},
        // A NUL escaped in JSON is refused like other bad text, wherever it is.
        {R"([{"fpdm": "237020000001"}, {"fpdm": "237020000001", "fkfmc": "刘\u0000芳"}])",
         QStringLiteral("第2张发票：“fkfmc”含有空字符（NUL），不能使用")},
        {R"({"fpdm": "237020000001", "items": [{"xmmc": "餐饮\u0000服务", "mj": "1", "dj": "2"}]})",
         QStringLiteral("第1张发票：“items[0].xmmc”含有空字符（NUL），不能使用")},
        {R"({"fpdm": "2370200\u000000001"})", QStringLiteral("第1张发票：“fpdm”含有空字符（NUL），不能使用")},
        {R"({"fpdm": "237020000001", "ch": {"fpdm": "237020000001", "fphm": "1\u0000"}})",
         QStringLiteral("第1张发票：“ch.fphm”含有空字符（NUL），不能使用")},
        {R"({"fpdm": "237020000001", "b\u0000z": "x"})", QStringLiteral("第1张发票：未知的键“b\\u0000z”")},
        // So is an unpaired surrogate: UTF-8 has no form for it.
        {R"([{"fpdm": "237020000001"}, {"fpdm": "237020000001", "fkfmc": "甲\ud800乙"}])",
         QStringLiteral("第2张发票：“fkfmc”含有不成对的代理项（无效的字符），不能使用")},
        {R"({"fpdm": "237020000001", "items": [{"xmmc": "餐饮\udc00", "mj": "1", "dj": "2"}]})",
         QStringLiteral("第1张发票：“items[0].xmmc”含有不成对的代理项（无效的字符），不能使用")},
        {R"({"fpdm": "237020000001", "ch": {"fpdm": "237020000001", "fphm": "\ude00\ud83d"}})",
         QStringLiteral("第1张发票：“ch.fphm”含有不成对的代理项（无效的字符），不能使用")},
        {R"({"fpdm": "237020000001", "b\ud800z": "x"})", QStringLiteral("第1张发票：未知的键“b\\ud800z”")},
    };
    const QString before = dbSnapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        dialogs.clear();
        EXPECT_EQ(issue(QByteArray(c.json)), 2);
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_TRUE(dialogs.messages().first().startsWith(c.message)) << dialogs.messages().first().toStdString();
    }
    EXPECT_EQ(output(), QString());
    EXPECT_EQ(dbSnapshot(), before);

    // A surrogate pair is a character like any other.
    std::vector<cli::IssueInvoice> parsed;
    QString error;
    EXPECT_TRUE(cli::parseIssueFile(R"({"fpdm": "237020000001", "fkfmc": "甲\ud83d\ude00乙"})", parsed, &error))
        << error.toStdString();
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0].fkfmc, QStringLiteral("甲😀乙"));
}

TEST_F(IssueFileTest, OtherKindsUnknownIssuersAndMissingRightsAreRefused) {
    EXPECT_EQ(issue(R"({"fpdm": "237020000201", "items": []})"), 1);
    EXPECT_EQ(dialogs.lastMessage(),
              QStringLiteral("第1张发票：发票代码237020000201不是综合统一发票，只能开具综合统一发票！"));
    EXPECT_EQ(issue(kTwoInvoices, QStringLiteral("王强")), 1); // not of the issuers' department
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("“王强”不是本纳税人的开票人员！"));
    ASSERT_TRUE(db->tx().exec(QStringLiteral("UPDATE b_user_right SET right_code = '01' WHERE funcid = '01'")));
    ASSERT_TRUE(db->tx().commit());
    const QString withoutRight = dbSnapshot();
    EXPECT_EQ(issue(kTwoInvoices), 1);
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("当前用户没有开票权限！"));
    EXPECT_EQ(dbSnapshot(), withoutRight);
    EXPECT_EQ(output(), QString());
    EXPECT_EQ(status(QStringLiteral("00000001")), QStringLiteral("0"));
}

// The command line itself: a file issued by the fpdesk executable.
TEST(FpdeskIssue, TheCommandPrintsCodeAndNumberAndExitsZero) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("fp.db"));
    auto run = [](const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(FPDESK_EXE), args);
        if (!p.waitForFinished(60000)) p.kill();
        if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
        if (err) *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    };
    ASSERT_EQ(
        run({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db, QStringLiteral("--demo")}),
        0);
    QFile f(dir.filePath(QStringLiteral("in.json")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"fpdm": "237020000001", "fkfmc": "刘芳", "items": [{"xmmc": "住宿费", "mj": "1", "dj": "280.00"}]})");
    f.close();
    QString out, err;
    EXPECT_EQ(run({QStringLiteral("issue"), f.fileName(), QStringLiteral("--database"), db, QStringLiteral("--issuer"),
                   QStringLiteral("张晓明")},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_EQ(out, QStringLiteral("237020000001 00000001\n"));
    // A malformed file: status 2, the key named on standard error.
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(R"({"fpdm": "237020000001", "items": [{"xmmc": "住宿费", "mj": "1", "dj": 280}]})");
    f.close();
    EXPECT_EQ(run({QStringLiteral("issue"), f.fileName(), QStringLiteral("--database"), db, QStringLiteral("--issuer"),
                   QStringLiteral("张晓明")},
                  &out, &err),
              2);
    EXPECT_TRUE(err.contains(QStringLiteral("items[0].dj"))) << err.toStdString();
    EXPECT_EQ(out, QString());
}

} // namespace
} // namespace fp::test
