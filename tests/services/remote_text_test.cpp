#include "services/remote_text.h"

#include "host/text_helpers.h"
#include "tests/support/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

class ValidStrTest : public ::testing::Test {
protected:
    Session session;
    test::ScriptedDialogs dialogs;
    HostServices host{session, dialogs};
};

TEST_F(ValidStrTest, AcceptedValuesAreEscapedInPlace) {
    struct Case {
        const char* name;
        QString input;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"empty", QStringLiteral(""), u""},
        {"null", QString(), u""},
        {"plain", QStringLiteral("123456789012"), u"123456789012"},
        {"colon in the middle", QStringLiteral("ab:cd"), u"ab{[:]}cd"},
        {"CR LF", QStringLiteral("a\r\nb"), u"a{[r]}{[n]}b"},
        {"LF CR", QStringLiteral("\n\r"), u"{[n]}{[r]}"},
        {"every occurrence", QStringLiteral("1:2:3\n4\n5\r6\r"), u"1{[:]}2{[:]}3{[n]}4{[n]}5{[r]}6{[r]}"},
        {"full-width colon", QString::fromUtf16(u"甲：乙"), u"甲：乙"},
        {"pieces of marks", QStringLiteral("{[x]}|@ |# x"), u"{[x]}|@ |# x"},
        {"separator pieces inside", QStringLiteral("甲#|乙|#丙|@丁"), u"甲#|乙|#丙|@丁"},
        {"bar alone", QStringLiteral("|"), u"|"},
        {"marks with a blank", QStringLiteral(" # "), u" # "},
        {"colon next to braces", QStringLiteral("{[:x]}"), u"{[{[:]}x]}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString text = c.input;
        EXPECT_TRUE(f_ptfp_valid_str(host, text, QStringLiteral("付款方名称")));
        EXPECT_EQ(text, QString::fromUtf16(c.expected));
        EXPECT_FALSE(text.isNull());
    }
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(ValidStrTest, ReservedTextsAreRejectedWithTheirMessage) {
    struct Case {
        const char16_t* input;
        const char16_t* label; // nullptr: null label
        const char16_t* message;
    };
    const Case cases[] = {
        // Each reserved text with the default label (null or empty label).
        {u"a|@|b", nullptr, u"数据项中不能出现系统保留字符：“|@|”，请修改！"},
        {u"a|&|b", nullptr, u"数据项中中不能出现系统保留字符：“|&|”，请修改！"},
        {u"a|#|b", nullptr, u"数据项中中不能出现系统保留字符：“|#|”，请修改！"},
        {u"a,b", nullptr, u"数据项中中不能出现系统保留字符：“,”(逗号)，请修改！"},
        {u"a{[r]}b", nullptr, u"数据项中中不能出现系统保留字符：“{[r]}”，请修改！"},
        {u"a{[n]}b", nullptr, u"数据项中中不能出现系统保留字符：“{[n]}”，请修改！"},
        {u"a{[:]}b", nullptr, u"数据项中中不能出现系统保留字符：“{[:]}”，请修改！"},
        {u"|@|", u"", u"数据项中不能出现系统保留字符：“|@|”，请修改！"},
        {u",", u"", u"数据项中中不能出现系统保留字符：“,”(逗号)，请修改！"},
        // Each reserved text with a given label.
        {u"|@|", u"发票代码", u"发票代码不能出现系统保留字符：“|@|”，请修改！"},
        {u"|&|", u"发票代码", u"发票代码中不能出现系统保留字符：“|&|”，请修改！"},
        {u"|#|", u"发票号码", u"发票号码中不能出现系统保留字符：“|#|”，请修改！"},
        {u"甲,乙", u"项目名称", u"项目名称中不能出现系统保留字符：“,”(逗号)，请修改！"},
        {u"{[r]}", u"备注", u"备注中不能出现系统保留字符：“{[r]}”，请修改！"},
        {u"{[n]}", u"备注", u"备注中不能出现系统保留字符：“{[n]}”，请修改！"},
        {u"{[:]}", u"备注", u"备注中不能出现系统保留字符：“{[:]}”，请修改！"},
        // The first reserved text in the checking order wins, wherever it stands.
        {u"a,b|#|c", u"备注", u"备注中不能出现系统保留字符：“|#|”，请修改！"},
        {u"|&|x|@|", u"备注", u"备注不能出现系统保留字符：“|@|”，请修改！"},
        {u"{[:]},", u"备注", u"备注中不能出现系统保留字符：“,”(逗号)，请修改！"},
        {u"{[n]}{[r]}", u"备注", u"备注中不能出现系统保留字符：“{[r]}”，请修改！"},
        // Already escaped text is refused, so nothing is escaped twice.
        {u"a{[r]}{[n]}b", u"备注", u"备注中不能出现系统保留字符：“{[r]}”，请修改！"},
        // A value with a colon and a reserved text is refused before escaping.
        {u"a:b,c", u"备注", u"备注中不能出现系统保留字符：“,”(逗号)，请修改！"},
        // Pieces of a separator at an edge would join the separator beside the
        // value: "某公司|#" + "|#|" reads as "某公司" and a shifted field.
        {u"某公司|#", u"付款方名称", u"付款方名称不能以系统保留字符的一部分开头或结尾：“|#”，请修改！"},
        {u"某公司|@", u"付款方名称", u"付款方名称不能以系统保留字符的一部分开头或结尾：“|@”，请修改！"},
        {u"某公司|&", u"付款方名称", u"付款方名称不能以系统保留字符的一部分开头或结尾：“|&”，请修改！"},
        {u"#|某公司", u"付款方名称", u"付款方名称不能以系统保留字符的一部分开头或结尾：“#|”，请修改！"},
        {u"@|某公司", u"付款方名称", u"付款方名称不能以系统保留字符的一部分开头或结尾：“@|”，请修改！"},
        {u"&|某公司", u"付款方名称", u"付款方名称不能以系统保留字符的一部分开头或结尾：“&|”，请修改！"},
        {u"@", u"备注", u"备注不能以系统保留字符的一部分开头或结尾：“@”，请修改！"},
        {u"#|x|#", nullptr, u"数据项中不能以系统保留字符的一部分开头或结尾：“|#”，请修改！"},
        // A whole reserved text is named before a piece.
        {u"a,b|#", u"备注", u"备注中不能出现系统保留字符：“,”(逗号)，请修改！"},
    };
    for (const Case& c : cases) {
        const QString input = QString::fromUtf16(c.input);
        SCOPED_TRACE(input.toStdString());
        dialogs.clear();
        QString text = input;
        const QString label = c.label ? QString::fromUtf16(c.label) : QString();
        EXPECT_FALSE(f_ptfp_valid_str(host, text, label));
        EXPECT_EQ(text, input) << "a rejected value is left unchanged";
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_EQ(dialogs.messages().front(), QString::fromUtf16(c.message));
    }
}

TEST_F(ValidStrTest, EscapedValueGoesIntoTheRequestAsOneLine) {
    QString kpr = QStringLiteral("张三:\r\n李四");
    ASSERT_TRUE(f_ptfp_valid_str(host, kpr, QStringLiteral("开票人")));
    EXPECT_EQ(
        req_void(QStringLiteral("C"), QStringLiteral("N"), QStringLiteral("2"), kpr),
        QStringLiteral("proc_id:76129\r\nas_fpdm:C\r\nas_fphm:N\r\nas_fpzt:2\r\nas_kpr:张三{[:]}{[r]}{[n]}李四\r\n"));
}

TEST(RemoteRequests, BuildersGiveTheExactText) {
    const QString c = QStringLiteral("144031900111");
    const QString n = QStringLiteral("00001234");
    struct Case {
        const char* name;
        QString built;
        QString expected;
    };
    const Case cases[] = {
        {"status at start", req_status(c, n, false),
         QStringLiteral("proc_id:90239\r\nas_fpdm:144031900111\r\nas_fphm:00001234\r\nas_getinfo:0")},
        {"status from reprint/void", req_status(c, n, true),
         QStringLiteral("proc_id:90239\r\nas_fpdm:144031900111\r\nas_fphm:00001234\r\nas_getinfo:0\r\n")},
        {"download", req_download(QStringLiteral("C"), QStringLiteral("N")),
         QStringLiteral("proc_id:90239\r\nas_fpdm:C\r\nas_fphm:N\r\nas_getinfo:1\r\n")},
        {"void", req_void(c, n, QStringLiteral("3"), QStringLiteral("王五")),
         QStringLiteral("proc_id:76129\r\nas_fpdm:144031900111\r\nas_fphm:00001234\r\nas_fpzt:3\r\nas_kpr:王五\r\n")},
        {"print, count as number", req_print(c, n, 2, QStringLiteral("王五"), QStringLiteral("第2次打印")),
         QStringLiteral("proc_id:98179\r\nas_fpdm:144031900111\r\nas_fphm:00001234\r\nas_dycs:2\r\nas_kpr:王五\r\n"
                        "as_bz:第2次打印\r\n")},
        {"print, count as text", req_print(c, n, QStringLiteral("10"), QString(), QString()),
         QStringLiteral(
             "proc_id:98179\r\nas_fpdm:144031900111\r\nas_fphm:00001234\r\nas_dycs:10\r\nas_kpr:\r\nas_bz:\r\n")},
        {"upload", req_upload(QStringLiteral("h1|#|h2|#|1|@|x|@||&|")),
         QStringLiteral("proc_id:11633\r\nas_data:h1|#|h2|#|1|@|x|@||&|\r\n")},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(k.built, k.expected);
    }
}

TEST(RemoteRequests, EndpointTimeoutsAndSeparators) {
    EXPECT_EQ(QString(kRemoteEndpoint), QStringLiteral("NormalServlet"));
    EXPECT_EQ(kTimeoutVoid, 100);
    EXPECT_EQ(kTimeoutStatus, 200);
    EXPECT_EQ(kTimeoutPrint, 200);
    EXPECT_EQ(kTimeoutUpload, 500);
    EXPECT_EQ(kTimeoutDownload, 10000);
    EXPECT_EQ(QString(kReplyOkPrefix), QStringLiteral("ok|@|"));
    EXPECT_EQ(QString(kSepField), QStringLiteral("|@|"));
    EXPECT_EQ(QString(kSepHeader), QStringLiteral("|#|"));
    EXPECT_EQ(QString(kSepLine), QStringLiteral("|&|"));
}

TEST(RemoteReply, FieldsAreReadInTurnAndTrimmed) {
    QString body = reply_body(QStringLiteral("ok|@|0|@|未使用"));
    EXPECT_EQ(body, QStringLiteral("0|@|未使用"));
    EXPECT_EQ(reply_next_field(body), QStringLiteral("0"));
    EXPECT_EQ(body, QStringLiteral("未使用"));
    EXPECT_EQ(reply_next_field(body), QStringLiteral("未使用"));
    EXPECT_TRUE(body.isEmpty());
    EXPECT_TRUE(reply_next_field(body).isEmpty());

    body = reply_body(QStringLiteral("ok|@|  1 |@| 状态 文本 |@|"));
    EXPECT_EQ(reply_next_field(body), QStringLiteral("1"));
    EXPECT_EQ(reply_next_field(body), QStringLiteral("状态 文本"));
    EXPECT_TRUE(body.isEmpty());
}

TEST(RemoteReply, BodyDropsFiveCharactersWithoutComparing) {
    EXPECT_EQ(reply_body(QStringLiteral("ok|@|2")), QStringLiteral("2"));
    EXPECT_EQ(reply_body(QStringLiteral("OK###2|@|x")), QStringLiteral("2|@|x"));
    EXPECT_EQ(reply_body(QStringLiteral("ok|@|")), QString());
    EXPECT_EQ(reply_body(QStringLiteral("ok")), QString());
    EXPECT_EQ(reply_body(QString()), QString());
}

TEST(RemoteReply, DownloadReplySplitsIntoHeaderAndItemLines) {
    QString body = reply_body(QStringLiteral("ok|@|1|@|C|#|N|#|50|#|1|@|甲|&||&|2|@|乙"));
    EXPECT_EQ(reply_next_field(body), QStringLiteral("1"));
    const QStringList header = f_split_str(body, kSepHeader).val1;
    ASSERT_EQ(header.size(), 4);
    EXPECT_EQ(header.mid(0, 3), (QStringList{"C", "N", "50"}));
    const QStringList lines = f_split_str(header[3], kSepLine).val1;
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(f_split_str(lines[0], kSepField).val1, (QStringList{"1", "甲"}));
    EXPECT_TRUE(lines[1].isEmpty());
    EXPECT_EQ(f_split_str(lines[2], kSepField).val1, (QStringList{"2", "乙"}));
}

} // namespace
} // namespace fp
