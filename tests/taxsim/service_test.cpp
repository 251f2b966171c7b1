// The tax service's procedures, called directly: authentication, status,
// upload, download, print and void reports, and the host procedures.
#include "tests/taxsim/taxsim_requests.h"

#include <gtest/gtest.h>

using namespace fp::test;
using taxsim::Response;
using taxsim::Service;
using taxsim::StoredInvoice;

namespace {

const QString kOkPrefix = QStringLiteral("ok|@|");
const QString kErrPrefix = QStringLiteral("err|@|");

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(svc.isOpen()) << svc.lastError().toStdString();
        svc.seedDemo();
        svc.setServerTime(QDateTime(QDate(2009, 3, 15), QTime(10, 20, 30)));
    }

    // Uploads the sample invoice of the number and expects acceptance.
    void issue(const QString& fphm, int lines = 1) {
        const QString r = reply(svc, uploadRequest(sampleInvoice(code50(), fphm, lines)));
        ASSERT_TRUE(r.startsWith(kOkPrefix)) << r.toStdString();
    }

    Service svc;
};

TEST_F(ServiceTest, EveryRequestNeedsKnownCredentials) {
    struct Case {
        const char* user;
        const char* password;
        const char* text;
    };
    const Case cases[] = {
        {"", "", "身份验证失败：请求中没有纳税人账号或密码！"},
        {fp::demo::kSxh, "", "身份验证失败：请求中没有纳税人账号或密码！"},
        {fp::demo::kSxh, "wrong", "身份验证失败：纳税人账号或密码错误！"},
        {"9999999999999", "demo-secret", "身份验证失败：纳税人账号或密码错误！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        const Response r = call(svc, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000001"))),
                                QString::fromUtf8(c.user), QString::fromUtf8(c.password));
        EXPECT_EQ(r.kind, Response::Kind::Reply);
        EXPECT_EQ(r.body, kErrPrefix + QString::fromUtf8(c.text));
    }
    EXPECT_EQ(svc.invoiceCount(), 0);
    EXPECT_TRUE(reply(svc, QStringLiteral("proc_id:90001\r\n")).startsWith(kOkPrefix));
}

TEST_F(ServiceTest, RequestsThatAreNotProceduresAreRefused) {
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:12345\r\n")), QStringLiteral("err|@|不支持的业务编号：12345！"));
    EXPECT_TRUE(reply(svc, QStringLiteral("hello")).startsWith(QStringLiteral("err|@|请求格式有误")));
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:90239\r\nas_fpdm:237020000001\r\n")),
              QStringLiteral("err|@|请求缺少参数：as_fphm！"));
    const Response wrongPath =
        svc.handle({demoSxh(), demoPassword(), QStringLiteral("/Other"), QStringLiteral("proc_id:90001")});
    EXPECT_EQ(wrongPath.kind, Response::Kind::HttpStatus);
    EXPECT_EQ(wrongPath.httpStatus, 404);
}

TEST_F(ServiceTest, StatusOfANumberFollowsItsStockAndInvoice) {
    addOtherTaxpayer(svc);
    issue(QStringLiteral("00000001"));
    issue(QStringLiteral("00000002"));
    ASSERT_TRUE(
        reply(svc, voidRequest(code50(), QStringLiteral("00000002"), QStringLiteral("2"), QStringLiteral("张三")))
            .startsWith(kOkPrefix));
    ASSERT_TRUE(
        reply(svc, voidRequest(code50(), QStringLiteral("00000003"), QStringLiteral("3"), QStringLiteral("张三")))
            .startsWith(kOkPrefix));

    struct Case {
        QString fpdm;
        const char* fphm;
        const char* expected;
    };
    const Case cases[] = {
        {code50(), "00000001", "ok|@|1|@|已开票"},
        {code50(), "00000002", "ok|@|2|@|已作废"},
        {code50(), "00000003", "ok|@|3|@|已作废（空白）"},
        {code50(), "00000004", "ok|@|0|@|未使用"},
        {code50(), "00000150", "ok|@|0|@|未使用"}, // another taxpayer's unused stock
        {code50(), "00000201", "ok|@|-2|@|未领购"},
        {QString::fromUtf8(fp::demo::kCode50Returned), "00000007", "ok|@|-1|@|已退库"},
        {QStringLiteral("999999999999"), "00000001", "ok|@|-2|@|未领购"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fphm);
        EXPECT_EQ(reply(svc, statusRequest(c.fpdm, QString::fromLatin1(c.fphm))), QString::fromUtf8(c.expected));
    }
}

TEST_F(ServiceTest, NumbersInRequestsAreEightDigitsAfterBlanksAreDropped) {
    EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral(" 00000001 "))), QStringLiteral("ok|@|0|@|未使用"));
    const QString err = kErrPrefix + QStringLiteral("发票号码必须是8位数字：“%1”！");
    EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral("1"))), err.arg(QStringLiteral("1")));
    EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral("000000001"))), err.arg(QStringLiteral("000000001")));
    EXPECT_EQ(reply(svc, printRequest(code50(), QStringLiteral("0000001x"), 0, QStringLiteral("张三"), QString())),
              err.arg(QStringLiteral("0000001x")));
    EXPECT_EQ(
        reply(svc, voidRequest(code50(), QStringLiteral("0000000３"), QStringLiteral("3"), QStringLiteral("张三"))),
        err.arg(QStringLiteral("0000000３")));
    EXPECT_TRUE(svc.voids().empty());
}

TEST_F(ServiceTest, UploadStoresTheInvoiceUnescapedAndDownloadReturnsItInTheReplyGrammar) {
    const StoredInvoice sent = sampleInvoice(code50(), QStringLiteral("00000001"), 2);
    const QString request = uploadRequest(sent);
    ASSERT_TRUE(request.contains(QStringLiteral("合同号{[:]}A-1{[r]}{[n]}第二行")));
    const QString r = reply(svc, request);
    ASSERT_TRUE(r.startsWith(kOkPrefix)) << r.toStdString();

    const std::optional<StoredInvoice> stored = svc.invoice(code50(), QStringLiteral("00000001"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->header, sent.header);
    ASSERT_EQ(stored->lines.size(), 2u);
    EXPECT_EQ(stored->lines[0], sent.lines[0]);
    EXPECT_EQ(stored->lines[1], sent.lines[1]);
    EXPECT_EQ(stored->value(QStringLiteral("bz")), QStringLiteral("合同号:A-1\r\n第二行"));
    EXPECT_EQ(stored->rawUpload, request);

    // Read the download as the client does: status, then "|#|" fields with the
    // item lines as the 34th, lines split at "|&|" and fields at "|@|".
    QString text = reply(svc, statusRequest(code50(), QStringLiteral("00000001"), true));
    ASSERT_TRUE(text.startsWith(QStringLiteral("ok|@|1|@|"))) << text.toStdString();
    text = text.mid(9);
    const QStringList header = text.split(QStringLiteral("|#|"));
    ASSERT_EQ(header.size(), 34);
    const QStringList& cols = StoredInvoice::headerColumns();
    for (int i = 0; i < 33; ++i) {
        SCOPED_TRACE(cols[i].toStdString());
        if (cols[i] == QLatin1String("bcrq") || cols[i] == QLatin1String("kprq"))
            EXPECT_EQ(header[i], QStringLiteral("20090301 08:05:09"));
        else if (cols[i] == QLatin1String("drcs"))
            EXPECT_EQ(header[i], QStringLiteral("0"));
        else
            EXPECT_EQ(header[i], sent.header[i]);
    }
    const QStringList lines = header[33].split(QStringLiteral("|&|"));
    ASSERT_EQ(lines.size(), 2);
    for (int n = 0; n < 2; ++n) {
        const QStringList fields = lines[n].split(QStringLiteral("|@|"));
        ASSERT_EQ(fields.size(), 17);
        EXPECT_EQ(fields[0], QString::number(n + 1)); // serial as a whole number
        EXPECT_EQ(fields.mid(1), sent.lines[n].mid(1));
    }
}

TEST_F(ServiceTest, UploadRefusalsStoreNothing) {
    addOtherTaxpayer(svc);
    issue(QStringLiteral("00000001"));
    const int before = svc.invoiceCount();

    struct Case {
        const char* name;
        std::function<QString()> request;
        const char* text;
    };
    const auto with = [](const char* fphm, const std::function<void(StoredInvoice&)>& change) {
        return [=] {
            StoredInvoice inv = sampleInvoice(code50(), QString::fromLatin1(fphm));
            change(inv);
            return uploadRequest(inv);
        };
    };
    const auto none = [](StoredInvoice&) {};
    const Case cases[] = {
        {"number already used", with("00000001", none),
         "发票代码：237020000001，发票号码：00000001 已使用，不能重复开具！"},
        {"number of another taxpayer", with("00000150", none),
         "发票代码：237020000001，发票号码：00000150 未向本纳税人发售，不能开具！"},
        {"number never sold", with("00000201", none),
         "发票代码：237020000001，发票号码：00000201 未向本纳税人发售，不能开具！"},
        {"returned number",
         [] {
             StoredInvoice inv =
                 sampleInvoice(QString::fromUtf8(fp::demo::kCode50Returned), QStringLiteral("00000005"));
             return uploadRequest(inv);
         },
         "发票代码：237020000002，发票号码：00000005 已退库，不能开具！"},
        {"owner of another taxpayer",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("sxh"), QString::fromLatin1(kOtherSxh)); }),
         "发票的顺序号与当前纳税人不符，不能上传！"},
        {"total differs from the lines",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("hjje"), QStringLiteral("99.00")); }),
         "合计金额与品目金额之和不符！"},
        {"kind differs from the code",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("fpzlbm"), QStringLiteral("20")); }),
         "发票种类与发票代码不符！"},
        {"line of another invoice",
         with("00000002",
              [](StoredInvoice& i) { i.setLineValue(0, QStringLiteral("fphm"), QStringLiteral("00000009")); }),
         "品目明细的发票代码或发票号码与发票不符！"},
        {"no lines", with("00000002", [](StoredInvoice& i) { i.lines.clear(); }), "发票数据格式有误：没有品目明细！"},
        {"header field missing", with("00000002", [](StoredInvoice& i) { i.header.removeLast(); }),
         "发票数据格式有误：发票头有32项数据！"},
        {"line field missing", with("00000002", [](StoredInvoice& i) { i.lines[0].removeLast(); }),
         "发票数据格式有误：第1行品目有16项数据！"},
        {"amount not a number",
         with("00000002", [](StoredInvoice& i) { i.setLineValue(0, QStringLiteral("je"), QStringLiteral("abc")); }),
         "品目金额格式有误：abc！"},
        {"no data", [] { return QStringLiteral("proc_id:11633\r\n"); }, "请求缺少参数：as_data！"},
        // A value carrying part of a separator would shift the fields after it.
        {"payer ending with |#",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("fkfmc"), QStringLiteral("某公司|#")); }),
         "发票数据格式有误：数据项“#|纳税人识别号”以分隔符的一部分“#|”开头或结尾，各项数据无法正确分隔！"},
        {"remark ending with |&",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("bz"), QStringLiteral("备注|&")); }),
         "发票数据格式有误：数据项“备注|&”以分隔符的一部分“|&”开头或结尾，各项数据无法正确分隔！"},
        {"header value with a line separator",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("bz"), QStringLiteral("a|@|b")); }),
         "发票数据格式有误：发票头数据项“a|@|b”中有分隔符“|@|”！"},
        {"item ending with |@",
         with("00000002",
              [](StoredInvoice& i) { i.setLineValue(0, QStringLiteral("xmmc"), QStringLiteral("服务|@")); }),
         "发票数据格式有误：数据项“@|”以分隔符的一部分“@|”开头或结尾，各项数据无法正确分隔！"},
        {"item starting with &|", // "|@|" + "&|A" holds "|&|": the line is cut there
         with("00000002", [](StoredInvoice& i) { i.setLineValue(0, QStringLiteral("bdclph"), QStringLiteral("&|A")); }),
         "发票数据格式有误：数据项“|@”以分隔符的一部分“|@”开头或结尾，各项数据无法正确分隔！"},
        {"payer starting with #|",
         with("00000002", [](StoredInvoice& i) { i.setValue(QStringLiteral("fkfmc"), QStringLiteral("#|某公司")); }),
         "发票数据格式有误：数据项“#|某公司”以分隔符的一部分“#|”开头或结尾，各项数据无法正确分隔！"},
        // Invoice numbers are exactly eight digits.
        {"number with a trailing blank",
         with("00000001 ",
              [](StoredInvoice& i) { i.setLineValue(0, QStringLiteral("fphm"), QStringLiteral("00000001 ")); }),
         "发票号码必须是8位数字：“00000001 ”！"},
        {"number with a letter",
         with("0000001x",
              [](StoredInvoice& i) { i.setLineValue(0, QStringLiteral("fphm"), QStringLiteral("0000001x")); }),
         "发票号码必须是8位数字：“0000001x”！"},
        // Sums that do not fit are refused, never wrapped.
        {"total beyond range",
         with("00000002",
              [](StoredInvoice& i) { i.setValue(QStringLiteral("hjje"), QStringLiteral("92233720368547758.08")); }),
         "“合计金额”数值超出范围！"},
        {"item amount beyond range",
         with("00000002",
              [](StoredInvoice& i) {
                  i.setLineValue(0, QStringLiteral("je"), QStringLiteral("-92233720368547758.09"));
              }),
         "“品目金额”数值超出范围！"},
        {"sum of the items beyond range",
         [] {
             StoredInvoice inv = sampleInvoice(code50(), QStringLiteral("00000002"), 2);
             for (int n = 0; n < 2; ++n) {
                 inv.setLineValue(n, QStringLiteral("dj"), QStringLiteral("50000000000000000.00"));
                 inv.setLineValue(n, QStringLiteral("je"), QStringLiteral("50000000000000000.00"));
             }
             inv.setValue(QStringLiteral("hjje"), QStringLiteral("0.00"));
             return uploadRequest(inv);
         },
         "“品目金额”之和数值超出范围！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reply(svc, c.request()), kErrPrefix + QString::fromUtf8(c.text));
    }
    EXPECT_EQ(svc.invoiceCount(), before);
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000002")), QStringLiteral("0"));
    EXPECT_FALSE(svc.invoice(code50(), QStringLiteral("00000001 ")).has_value());
    EXPECT_FALSE(svc.invoice(code50(), QStringLiteral("0000001x")).has_value());
}

TEST_F(ServiceTest, RedLetterInvoiceWithNegativeAmountsIsAccepted) {
    StoredInvoice inv = sampleInvoice(code50(), QStringLiteral("00000002"));
    inv.setValue(QStringLiteral("hjje"), QStringLiteral("-100.50"));
    inv.setLineValue(0, QStringLiteral("dj"), QStringLiteral("-100.50"));
    inv.setLineValue(0, QStringLiteral("je"), QStringLiteral("-100.50"));
    inv.setValue(QStringLiteral("extprop1"), QStringLiteral("00000001"));
    inv.setValue(QStringLiteral("extprop2"), code50());
    EXPECT_TRUE(reply(svc, uploadRequest(inv)).startsWith(kOkPrefix));
    EXPECT_EQ(svc.invoice(code50(), QStringLiteral("00000002"))->value(QStringLiteral("extprop1")),
              QStringLiteral("00000001"));
}

TEST_F(ServiceTest, AnInvoiceIsReversedOnceWhileItsReversalIsValid) {
    issue(QStringLiteral("00000004"));
    const auto reversal = [&](const char* fphm) {
        StoredInvoice inv = sampleInvoice(code50(), QString::fromLatin1(fphm));
        inv.setValue(QStringLiteral("hjje"), QStringLiteral("-100.50"));
        inv.setLineValue(0, QStringLiteral("dj"), QStringLiteral("-100.50"));
        inv.setLineValue(0, QStringLiteral("je"), QStringLiteral("-100.50"));
        inv.setValue(QStringLiteral("extprop1"), QStringLiteral("00000004"));
        inv.setValue(QStringLiteral("extprop2"), code50());
        return reply(svc, uploadRequest(inv));
    };
    ASSERT_TRUE(reversal("00000007").startsWith(kOkPrefix));
    const int before = svc.invoiceCount();
    EXPECT_EQ(reversal("00000009"), kErrPrefix + QStringLiteral("发票代码：") + code50() +
                                        QStringLiteral("，发票号码：00000004 已被冲红（冲红发票：") + code50() +
                                        QStringLiteral(" 00000007），不能重复冲红！"));
    EXPECT_EQ(svc.invoiceCount(), before);
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000009")), QStringLiteral("0"));

    // A voided reversal reverses nothing: the invoice may be reversed anew.
    ASSERT_TRUE(
        reply(svc, voidRequest(code50(), QStringLiteral("00000007"), QStringLiteral("2"), QStringLiteral("张三")))
            .startsWith(kOkPrefix));
    EXPECT_TRUE(reversal("00000009").startsWith(kOkPrefix));
}

TEST_F(ServiceTest, BuildingFormUploadIsStoredInTheIntegratedColumns) {
    const QString code20 = QString::fromUtf8(fp::demo::kCode20);
    // The real-estate header form: 23 columns, its lines 12 with the serial last.
    const QStringList header = {code20,
                                QStringLiteral("00000001"),
                                QStringLiteral("20"),
                                QString::fromUtf8(fp::demo::kSwjgdm),
                                demoSxh(),
                                QStringLiteral("1"),
                                QStringLiteral("李四"),
                                QStringLiteral("身份证件号码"),
                                QStringLiteral("370200199001011234"),
                                QStringLiteral("0"),
                                QString::fromUtf8(fp::demo::kTaxpayerName),
                                QStringLiteral("纳税人识别号"),
                                QString::fromUtf8(fp::demo::kNsrsbh),
                                QStringLiteral("0"),
                                QStringLiteral("500000.00"),
                                QStringLiteral("伍拾万元整"),
                                QStringLiteral(""),
                                QStringLiteral("张三"),
                                QStringLiteral("20090301080509"),
                                QStringLiteral("20090301080509"),
                                QStringLiteral("0"),
                                QStringLiteral("2"),
                                QString::fromUtf8(fp::demo::kNsrlxdh)};
    const QStringList line = {code20,
                              QStringLiteral("00000001"),
                              QStringLiteral("海景花园"),
                              QStringLiteral("HJ-01"),
                              QStringLiteral(""),
                              QStringLiteral("3号楼1单元101"),
                              QStringLiteral("100.00"),
                              QStringLiteral("5000.00"),
                              QStringLiteral("3"),
                              QStringLiteral("500000.00"),
                              QStringLiteral(""),
                              QStringLiteral("1")};
    const QString r =
        reply(svc, QStringLiteral("proc_id:11633\r\nas_data:") + uploadData(header, {line}) + QStringLiteral("\r\n"));
    ASSERT_TRUE(r.startsWith(kOkPrefix)) << r.toStdString();
    const std::optional<StoredInvoice> inv = svc.invoice(code20, QStringLiteral("00000001"));
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->value(QStringLiteral("hjdx")), QStringLiteral("伍拾万元整"));
    EXPECT_EQ(inv->value(QStringLiteral("skflxdh")), QString::fromUtf8(fp::demo::kNsrlxdh));
    EXPECT_EQ(inv->value(QStringLiteral("mjlx")), QStringLiteral("2"));
    EXPECT_EQ(inv->value(QStringLiteral("sl")), QStringLiteral(""));
    ASSERT_EQ(inv->lines.size(), 1u);
    EXPECT_EQ(inv->lineValue(0, QStringLiteral("iserial")), QStringLiteral("1"));
    EXPECT_EQ(inv->lineValue(0, QStringLiteral("bdclph")), QStringLiteral("3号楼1单元101"));
    EXPECT_EQ(inv->lineValue(0, QStringLiteral("je")), QStringLiteral("500000.00"));

    // The same layout on a code of kind 50 is refused.
    QStringList wrong = header;
    wrong[0] = code50();
    wrong[2] = QStringLiteral("50");
    QStringList wrongLine = line;
    wrongLine[0] = code50();
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:11633\r\nas_data:") + uploadData(wrong, {wrongLine})),
              QStringLiteral("err|@|发票数据格式与发票种类不符！"));
}

TEST_F(ServiceTest, DownloadOnlyOfTheCallersIssuedInvoices) {
    addOtherTaxpayer(svc);
    issue(QStringLiteral("00000001"));
    const QString other = QString::fromLatin1(kOtherSxh);
    const QString otherPw = QString::fromLatin1(kOtherPassword);
    EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral("00000001"), true), other, otherPw),
              QStringLiteral("err|@|指定发票不属于本纳税人，无权下载！"));
    // Its status is public.
    EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral("00000001")), other, otherPw),
              QStringLiteral("ok|@|1|@|已开票"));
    EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral("00000002"), true)),
              QStringLiteral("ok|@|0|@|指定发票未使用，没有可下载的发票信息！"));
}

TEST_F(ServiceTest, PrintReportIsRecordedAndRaisesThePrintCount) {
    issue(QStringLiteral("00000001"));
    ASSERT_EQ(
        reply(svc, printRequest(code50(), QStringLiteral("00000001"), 0, QStringLiteral("张三"), QStringLiteral(" "))),
        QStringLiteral("ok|@|打印信息已接收"));
    const QString remark = QStringLiteral("打印次数：3|@|HP LaserJet|网络打印机|@|");
    ASSERT_TRUE(reply(svc, printRequest(code50(), QStringLiteral("00000001"), 1, QStringLiteral("李四"), remark))
                    .startsWith(kOkPrefix));

    const std::vector<taxsim::PrintReport> prints = svc.prints();
    ASSERT_EQ(prints.size(), 2u);
    EXPECT_EQ(prints[0].dycs, QStringLiteral("0"));
    EXPECT_EQ(prints[0].kpr, QStringLiteral("张三"));
    EXPECT_EQ(prints[0].bz, QStringLiteral(" "));
    EXPECT_EQ(prints[0].sxh, demoSxh());
    EXPECT_EQ(prints[0].at, QDateTime(QDate(2009, 3, 15), QTime(10, 20, 30)));
    EXPECT_EQ(prints[1].dycs, QStringLiteral("1"));
    EXPECT_EQ(prints[1].bz, remark);
    // The remark carries the count after the print (two copies: 1 -> 3).
    EXPECT_EQ(svc.invoice(code50(), QStringLiteral("00000001"))->value(QStringLiteral("drcs")), QStringLiteral("3"));
    const QStringList fields =
        reply(svc, statusRequest(code50(), QStringLiteral("00000001"), true)).mid(9).split(QStringLiteral("|#|"));
    EXPECT_EQ(fields.value(24), QStringLiteral("3"));
}

TEST_F(ServiceTest, PrintReportRefusals) {
    addOtherTaxpayer(svc);
    issue(QStringLiteral("00000001"));
    const QString other = QString::fromLatin1(kOtherSxh);
    const QString otherPw = QString::fromLatin1(kOtherPassword);
    EXPECT_EQ(
        reply(svc, printRequest(code50(), QStringLiteral("00000002"), 0, QStringLiteral("张三"), QStringLiteral(" "))),
        QStringLiteral("err|@|发票代码：237020000001，发票号码：00000002 在税务服务器上不存在，不能报告打印！"));
    EXPECT_EQ(reply(svc,
                    printRequest(code50(), QStringLiteral("00000001"), 0, QStringLiteral("王五"), QStringLiteral(" ")),
                    other, otherPw),
              QStringLiteral("err|@|指定发票不属于本纳税人，无权操作！"));
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:98179\r\nas_fpdm:237020000001\r\nas_fphm:00000001\r\nas_dycs:x\r\n")),
              QStringLiteral("err|@|打印次数有误：x！"));
    EXPECT_TRUE(svc.prints().empty());
}

TEST_F(ServiceTest, NormalVoidOfAnIssuedInvoice) {
    issue(QStringLiteral("00000001"));
    EXPECT_EQ(
        reply(svc, voidRequest(code50(), QStringLiteral("00000001"), QStringLiteral("2"), QStringLiteral("张三"))),
        QStringLiteral("ok|@|发票作废成功"));
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("2"));
    ASSERT_EQ(svc.voids().size(), 1u);
    EXPECT_EQ(svc.voids()[0].fpzt, QStringLiteral("2"));
    EXPECT_EQ(svc.voids()[0].kpr, QStringLiteral("张三"));
    EXPECT_EQ(svc.voids()[0].sxh, demoSxh());
    // The voided invoice keeps its lines and downloads with status 2.
    EXPECT_TRUE(
        reply(svc, statusRequest(code50(), QStringLiteral("00000001"), true)).startsWith(QStringLiteral("ok|@|2|@|")));
    EXPECT_EQ(svc.invoice(code50(), QStringLiteral("00000001"))->lines.size(), 1u);
}

TEST_F(ServiceTest, BlankVoidCreatesTheInvoiceRecordWithoutLines) {
    ASSERT_EQ(
        reply(svc, voidRequest(code50(), QStringLiteral("00000005"), QStringLiteral("3"), QStringLiteral("张三"))),
        QStringLiteral("ok|@|发票作废成功"));
    const std::optional<StoredInvoice> inv = svc.invoice(code50(), QStringLiteral("00000005"));
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->value(QStringLiteral("fpzt")), QStringLiteral("3"));
    EXPECT_EQ(inv->value(QStringLiteral("fpzlbm")), QStringLiteral("50"));
    EXPECT_EQ(inv->value(QStringLiteral("sxh")), demoSxh());
    EXPECT_EQ(inv->value(QStringLiteral("fkfmc")), QStringLiteral(" "));
    EXPECT_EQ(inv->value(QStringLiteral("hjje")), QStringLiteral("0.00"));
    EXPECT_EQ(inv->value(QStringLiteral("bcrq")), QStringLiteral("20090315102030"));
    EXPECT_TRUE(inv->lines.empty());

    // Downloaded as exactly 33 header fields.
    const QString text = reply(svc, statusRequest(code50(), QStringLiteral("00000005"), true));
    ASSERT_TRUE(text.startsWith(QStringLiteral("ok|@|3|@|")));
    const QStringList fields = text.mid(9).split(QStringLiteral("|#|"));
    EXPECT_EQ(fields.size(), 33);
    EXPECT_EQ(fields[5], QStringLiteral("3"));
    EXPECT_EQ(fields[22], QStringLiteral("20090315 10:20:30"));

    // The stock text counts it as used.
    EXPECT_TRUE(reply(svc, QStringLiteral("proc_id:90002\r\n"))
                    .contains(QStringLiteral("|@|00000001|@|00000100|@|00000005|@|0|@|")));
}

TEST_F(ServiceTest, VoidRefusals) {
    addOtherTaxpayer(svc);
    issue(QStringLiteral("00000001"));
    issue(QStringLiteral("00000002"));
    ASSERT_TRUE(
        reply(svc, voidRequest(code50(), QStringLiteral("00000002"), QStringLiteral("2"), QStringLiteral("张三")))
            .startsWith(kOkPrefix));
    const QString other = QString::fromLatin1(kOtherSxh);
    const QString otherPw = QString::fromLatin1(kOtherPassword);

    struct Case {
        const char* fphm;
        const char* fpzt;
        bool asOther;
        const char* text;
    };
    const Case cases[] = {
        {"00000001", "2", true, "指定发票不属于本纳税人，无权作废！"},
        {"00000001", "3", true, "指定发票不属于本纳税人，无权作废！"},
        {"00000002", "2", false, "发票代码：237020000001，发票号码：00000002 已作废，不能重复作废！"},
        {"00000001", "3", false, "发票代码：237020000001，发票号码：00000001 已开具，不能作为空白发票作废！"},
        {"00000003", "2", false, "发票代码：237020000001，发票号码：00000003 尚未开具，不能作废！"},
        {"00000150", "3", false, "发票代码：237020000001，发票号码：00000150 未向本纳税人发售，不能作废！"},
        {"00000201", "3", false, "发票代码：237020000001，发票号码：00000201 未向本纳税人发售，不能作废！"},
        {"00000003", "4", false, "作废状态有误：4！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fphm) + " " + c.fpzt);
        const QString req =
            voidRequest(code50(), QString::fromLatin1(c.fphm), QString::fromLatin1(c.fpzt), QStringLiteral("张三"));
        EXPECT_EQ(c.asOther ? reply(svc, req, other, otherPw) : reply(svc, req),
                  kErrPrefix + QString::fromUtf8(c.text));
    }
    EXPECT_EQ(svc.voids().size(), 1u);
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("1"));
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000003")), QStringLiteral("0"));
}

TEST_F(ServiceTest, HostProcedures) {
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:90001\r\n")), QStringLiteral("ok|@|2009-03-15 10:20:30"));
    EXPECT_EQ(
        reply(svc, QStringLiteral("proc_id:90004")),
        QStringLiteral("ok|@|3702000012345|@|示范商贸有限公司|@|91370200MA3C00001X|@|0532-88880000|@|13702000000|@|"
                       "示范市税务局第一税务分局"));

    issue(QStringLiteral("00000001"));
    issue(QStringLiteral("00000002"));
    const QStringList stock = reply(svc, QStringLiteral("proc_id:90002\r\n")).mid(5).split(QStringLiteral("|&|"));
    ASSERT_EQ(stock.size(), 5);
    EXPECT_EQ(stock[0],
              QStringLiteral("lg|@|LG2009000001|@|13702000000|@|3702000012345|@|50|@|237020000001|@|00000001|@|"
                             "00000100|@|00000002|@|0|@|20090105 09:00:00"));
    EXPECT_EQ(stock[1],
              QStringLiteral("lg|@|LG2009000002|@|13702000000|@|3702000012345|@|50|@|237020000002|@|00000001|@|"
                             "00000050|@||@|0|@|20090105 09:00:00"));
    EXPECT_EQ(stock[2],
              QStringLiteral("tp|@|LG2009000002|@|13702000000|@|3702000012345|@|50|@|237020000002|@|00000001|@|"
                             "00000050|@|20090210 10:00:00|@|1"));
    EXPECT_EQ(stock[2].split(QStringLiteral("|@|")).size(), 10);
    EXPECT_EQ(stock[0].split(QStringLiteral("|@|")).size(), 11);

    // Another taxpayer sees only its own stock.
    addOtherTaxpayer(svc);
    EXPECT_EQ(
        reply(svc, QStringLiteral("proc_id:90002\r\n"), QString::fromLatin1(kOtherSxh),
              QString::fromLatin1(kOtherPassword)),
        QStringLiteral("ok|@|lg|@|LG0009|@|13702000000|@|3702000099999|@|50|@|237020000001|@|00000101|@|00000200|@|"
                       "|@|0|@|20240103 09:00:00"));
}

} // namespace
