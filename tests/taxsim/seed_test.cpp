// The demo seed, the seed file format, the file-backed store and the request
// text reader.
#include "tests/taxsim/taxsim_requests.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace fp::test;

namespace {

bool writeFile(const QString& path, const QString& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(text.toUtf8());
    return true;
}

TEST(Seed, DemoDataMatchesTheClientsDemoConstants) {
    taxsim::Service svc;
    svc.seedDemo();
    svc.seedDemo(); // seeding twice changes nothing

    EXPECT_EQ(
        reply(svc, QStringLiteral("proc_id:90003\r\n")),
        QStringLiteral("ok|@|50|@|2|@|综合统一发票|@|综合发票|@|1|&|20|@|2|@|不动产销售统一发票|@|不动产发票|@|2|&|"
                       "40|@|2|@|建筑业统一发票|@|建筑业发票|@|3|&|10|@|1|@|代开统一发票|@|代开发票|@|4|#|"
                       "237020000001|@|50|&|237020000002|@|50|&|237020000201|@|20|&|237020000401|@|40"));
    const QStringList stock = reply(svc, QStringLiteral("proc_id:90002\r\n")).mid(5).split(QStringLiteral("|&|"));
    ASSERT_EQ(stock.size(), 5); // four purchases, one return
    EXPECT_EQ(stock[3],
              QStringLiteral("lg|@|LG2009000003|@|13702000000|@|3702000012345|@|20|@|237020000201|@|00000001|@|"
                             "00000050|@||@|0|@|20090105 09:00:00"));
    EXPECT_EQ(stock[4],
              QStringLiteral("lg|@|LG2009000004|@|13702000000|@|3702000012345|@|40|@|237020000401|@|00000001|@|"
                             "00000050|@||@|0|@|20090105 09:00:00"));

    struct Case {
        const char* fpdm;
        const char* fphm;
        const char* status;
    };
    const Case cases[] = {
        {fp::demo::kCode50, "00000100", "0"},          {fp::demo::kCode50, "00000101", "-2"},
        {fp::demo::kCode50Returned, "00000001", "-1"}, {fp::demo::kCode50Returned, "00000050", "-1"},
        {fp::demo::kCode20, "00000050", "0"},          {fp::demo::kCode40, "00000001", "0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(svc.statusOf(QString::fromLatin1(c.fpdm), QString::fromLatin1(c.fphm)), QString::fromLatin1(c.status))
            << c.fpdm << " " << c.fphm;
}

TEST(Seed, FileWithEveryRecordType) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("seed.txt"));
    ASSERT_TRUE(
        writeFile(path, QStringLiteral("# a small authority\n"
                                       "\n"
                                       "office|13700000001|测试税务所\n"
                                       "taxpayer|3700000000001|pw1|测试公司|N0001|0532-1|13700000001\n"
                                       "kind|50|2|综合统一发票|综合发票|1\n"
                                       "code|137000000001|50\n"
                                       "stock|P1|3700000000001|137000000001|00000001|00000020|2011-04-05 06:07:08\n"
                                       "stock|P2|3700000000001|137000000001|00000021|00000040|2011-04-06|1\n"
                                       "return|P2|00000031|00000040|2011-05-01\n")));
    taxsim::Service svc;
    QString error;
    ASSERT_TRUE(svc.seedFromFile(path, &error)) << error.toStdString();

    const QString user = QStringLiteral("3700000000001");
    const QString pw = QStringLiteral("pw1");
    EXPECT_EQ(
        reply(svc, QStringLiteral("proc_id:90002"), user, pw),
        QStringLiteral("ok|@|lg|@|P1|@|13700000001|@|3700000000001|@|50|@|137000000001|@|00000001|@|00000020|@||@|0|@|"
                       "20110405 06:07:08|&|lg|@|P2|@|13700000001|@|3700000000001|@|50|@|137000000001|@|00000021|@|"
                       "00000040|@||@|1|@|20110406 00:00:00|&|tp|@|P2|@|13700000001|@|3700000000001|@|50|@|"
                       "137000000001|@|00000031|@|00000040|@|20110501 00:00:00|@|1"));
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:90004"), user, pw),
              QStringLiteral("ok|@|3700000000001|@|测试公司|@|N0001|@|0532-1|@|13700000001|@|测试税务所"));
    EXPECT_EQ(svc.statusOf(QStringLiteral("137000000001"), QStringLiteral("00000030")), QStringLiteral("0"));
    EXPECT_EQ(svc.statusOf(QStringLiteral("137000000001"), QStringLiteral("00000031")), QStringLiteral("-1"));
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:90001"), QString::fromUtf8(fp::demo::kSxh),
                    QString::fromUtf8(fp::demo::kPassword)),
              QStringLiteral("err|@|身份验证失败：纳税人账号或密码错误！")); // no demo data unless asked
}

TEST(Seed, BadLinesNameTheFileAndLine) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"planet|mars", "未知的记录类型：planet"},
        {"taxpayer|1|2|3", "“taxpayer”记录的字段数有误：4"},
        {"taxpayer||pw|n|s|t|o", "纳税人记录缺少顺序号或密码"},
        {"kind|50|2|a|b|high", "优先级不是整数：high"},
        {"stock|P9|3702000012345|999999999999|00000001|00000009", "发票代码不存在：999999999999"},
        {"stock|P9|0000000000000|237020000001|00000001|00000009", "纳税人不存在：0000000000000"},
        {"stock|P9|3702000012345|237020000001|00000009|00000001", "领购号段有误：00000009-00000001"},
        {"stock|P9|3702000012345|237020000001|00000001|00000009|soon", "日期格式有误：soon"},
        {"stock|P9|3702000012345|237020000001|0000001x|00000009", "领购号段有误：0000001x-00000009"},
        // A number is sold once: ranges of one code may not overlap.
        {"stock|P9|3702000012345|237020000001|00000090|00000120",
         "领购号段00000090-00000120与领购记录LG2009000001的号段00000001-00000100重叠"},
        {"return|NOPE|00000001|00000002", "领购记录不存在：NOPE"},
        {"return|LG2009000001|00000090|00000120", "退库号段有误：00000090-00000120"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const QString path = dir.filePath(QStringLiteral("bad.txt"));
        ASSERT_TRUE(
            writeFile(path, QStringLiteral("demo\n# comment\n") + QString::fromUtf8(c.line) + QStringLiteral("\n")));
        taxsim::Service svc;
        QString error;
        EXPECT_FALSE(svc.seedFromFile(path, &error));
        EXPECT_EQ(error, path + QStringLiteral(":3: ") + QString::fromUtf8(c.error));
    }
    taxsim::Service svc;
    QString error;
    EXPECT_FALSE(svc.seedFromFile(dir.filePath(QStringLiteral("missing.txt")), &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("无法打开种子文件")));
}

TEST(Seed, FileStoreKeepsDataAcrossServices) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("taxsim.db"));
    {
        taxsim::Service svc(db);
        ASSERT_TRUE(svc.isOpen()) << svc.lastError().toStdString();
        svc.seedDemo();
        ASSERT_TRUE(reply(svc, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000001"))))
                        .startsWith(QStringLiteral("ok|@|")));
    }
    taxsim::Service again(db);
    EXPECT_TRUE(again.hasTaxpayers());
    EXPECT_EQ(again.statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("1"));
    // Two services side by side keep separate in-memory stores.
    taxsim::Service a;
    taxsim::Service b;
    a.seedDemo();
    EXPECT_TRUE(a.hasTaxpayers());
    EXPECT_FALSE(b.hasTaxpayers());
}

TEST(Seed, AStoreFromBeforeTheLastUsedNumberGetsItOnOpening) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("taxsim.db"));
    {
        taxsim::Service svc(db);
        svc.seedDemo();
        ASSERT_TRUE(reply(svc, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000003"))))
                        .startsWith(QStringLiteral("ok|@|")));
    }
    {
        QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old_store"));
        old.setDatabaseName(db);
        ASSERT_TRUE(old.open());
        QSqlQuery q(old);
        ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE purchase DROP COLUMN zjsyh")))
            << q.lastError().text().toStdString();
        q = QSqlQuery();
        old.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old_store"));
    taxsim::Service again(db);
    ASSERT_TRUE(again.isOpen()) << again.lastError().toStdString();
    // 90002 is served by a reader connection of the file store.
    EXPECT_TRUE(reply(again, QStringLiteral("proc_id:90002"))
                    .contains(QStringLiteral("|@|237020000001|@|00000001|@|00000100|@|00000003|@|0|@|")));
}

TEST(Seed, ConcurrentWritesToAFileStoreAreBatchedYetSettledOneByOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    taxsim::Service svc(dir.filePath(QStringLiteral("taxsim.db")));
    svc.seedDemo();
    const int kClients = 12;
    std::atomic<int> sharedAccepted{0}, ownAccepted{0}, reads{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            // Everyone wants number 10 (one gets it), then a number of its own,
            // with status requests in between.
            if (reply(svc, uploadRequest(sampleInvoice(code50(), QStringLiteral("00000010"))))
                    .startsWith(QStringLiteral("ok|@|")))
                ++sharedAccepted;
            if (reply(svc, statusRequest(code50(), QStringLiteral("00000010"))) == QStringLiteral("ok|@|1|@|已开票"))
                ++reads;
            const QString own = QStringLiteral("%1").arg(20 + i, 8, 10, QLatin1Char('0'));
            if (reply(svc, uploadRequest(sampleInvoice(code50(), own))).startsWith(QStringLiteral("ok|@|")))
                ++ownAccepted;
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(sharedAccepted.load(), 1);
    EXPECT_EQ(ownAccepted.load(), kClients);
    EXPECT_EQ(reads.load(), kClients); // an answered upload is visible to every reader
    EXPECT_EQ(svc.invoiceCount(), kClients + 1);
}

TEST(Seed, PreExistingInvoicesFromTheTestApi) {
    taxsim::Service svc;
    svc.seedDemo();
    taxsim::StoredInvoice inv = sampleInvoice(code50(), QStringLiteral("00000007"));
    inv.setValue(QStringLiteral("fpzt"), QStringLiteral("2"));
    svc.addInvoice(inv);
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000007")), QStringLiteral("2"));
    EXPECT_TRUE(
        reply(svc, statusRequest(code50(), QStringLiteral("00000007"), true)).startsWith(QStringLiteral("ok|@|2|@|")));
}

// --- the request text reader -------------------------------------------------

TEST(RequestText, ParsesProcedureAndEscapedValues) {
    const taxsim::ParsedRequest r = taxsim::parseRequest(
        QStringLiteral("proc_id:98179\r\nas_fpdm:237020000001\r\nas_bz:a{[:]}b{[r]}{[n]}c:d\r\nas_kpr:"));
    ASSERT_TRUE(r.valid) << r.error.toStdString();
    EXPECT_EQ(r.procId, 98179);
    EXPECT_EQ(r.value(QStringLiteral("as_fpdm")), QStringLiteral("237020000001"));
    EXPECT_EQ(r.value(QStringLiteral("as_bz")), QStringLiteral("a:b\r\nc:d")); // value runs past the first colon
    EXPECT_TRUE(r.has(QStringLiteral("as_kpr")));
    EXPECT_EQ(r.value(QStringLiteral("as_kpr")), QStringLiteral(""));

    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"proc_id:90001", true},
        {"proc_id:90001\r\n", true},
        {"", false},
        {"proc:90001", false},
        {"proc_id:abc", false},
        {"proc_id:90239\r\nas_fpdm", false},
        {"proc_id:90239\r\n:value", false},
    };
    for (const Case& c : cases) EXPECT_EQ(taxsim::parseRequest(QString::fromLatin1(c.text)).valid, c.valid) << c.text;
}

TEST(RequestText, AmountsBeyondSixtyFourBitsAreOutOfRange) {
    qint64 cents = 0;
    EXPECT_EQ(taxsim::parseAmount(QStringLiteral("92233720368547758.07"), cents), taxsim::AmountParse::Ok);
    EXPECT_EQ(cents, std::numeric_limits<qint64>::max());
    EXPECT_EQ(taxsim::parseAmount(QStringLiteral("-92233720368547758.08"), cents), taxsim::AmountParse::Ok);
    EXPECT_EQ(cents, std::numeric_limits<qint64>::min());
    EXPECT_EQ(taxsim::parseAmount(QStringLiteral("92233720368547758.08"), cents), taxsim::AmountParse::OutOfRange);
    EXPECT_EQ(taxsim::parseAmount(QStringLiteral("18446744073709551616"), cents), taxsim::AmountParse::OutOfRange);
    EXPECT_EQ(taxsim::parseAmount(QStringLiteral("1e5"), cents), taxsim::AmountParse::NotANumber);
}

TEST(RequestText, Amounts) {
    struct Case {
        const char* text;
        bool ok;
        qint64 cents;
    };
    const Case cases[] = {
        {"1234.50", true, 123450}, {"-100.5", true, -10050}, {"7", true, 700},    {"0.00", true, 0},
        {".5", true, 50},          {"1.230", true, 123},     {"1.234", false, 0}, {"", false, 0},
        {"abc", false, 0},         {"1,000.00", false, 0},   {"-", false, 0},     {"1.", true, 100},
    };
    for (const Case& c : cases) {
        qint64 cents = -1;
        EXPECT_EQ(taxsim::parseCents(QString::fromLatin1(c.text), cents), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(cents, c.cents) << c.text;
        }
    }
}

// A file store's journal stays bounded under a long run of uploads, and one
// that grew while a reader held its snapshot comes back down once the reader
// is gone.
TEST(Seed, TheStoresJournalStaysBoundedUnderManyUploads) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("taxsim.db"));
    const QString journal = db + QStringLiteral("-wal");
    taxsim::Service svc(db);
    ASSERT_TRUE(svc.isOpen()) << svc.lastError().toStdString();
    svc.seedDemo();
    svc.setServerTime(QDateTime(QDate(2009, 3, 15), QTime(10, 20, 30)));
    const QString code = QStringLiteral("237020000009");
    svc.addCode(code, QStringLiteral("50"));
    QString why;
    ASSERT_TRUE(svc.addPurchase({QStringLiteral("LG0100"),
                                 demoSxh(),
                                 code,
                                 QStringLiteral("00000001"),
                                 QStringLiteral("00009999"),
                                 {},
                                 {},
                                 QStringLiteral("0"),
                                 QDateTime(QDate(2009, 3, 1), QTime(9, 0))},
                                &why))
        << why.toStdString();
    int next = 0;
    const auto upload = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const QString fphm = QStringLiteral("%1").arg(++next, 8, 10, QLatin1Char('0'));
            const QString r = reply(svc, uploadRequest(sampleInvoice(code, fphm, 10)));
            ASSERT_TRUE(r.startsWith(QStringLiteral("ok|@|"))) << fphm.toStdString() << ": " << r.toStdString();
        }
    };
    const auto journalSize = [&] { return QFileInfo(journal).size(); };
    constexpr qint64 kBound = 12 << 20; // the store's limit of 8 MB and room for the commits since a checkpoint

    upload(1000);
    EXPECT_LE(journalSize(), kBound);

    {
        // A reader that keeps one snapshot keeps every later commit in the
        // journal: nothing can bound it meanwhile.
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("held_reader"));
        reader.setDatabaseName(db);
        ASSERT_TRUE(reader.open());
        QSqlQuery q(reader);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM invoice")) && q.next());
        q.finish();
        upload(500);
        ASSERT_GT(journalSize(), kBound) << "the held snapshot should have kept the journal growing";
        ASSERT_TRUE(q.exec(QStringLiteral("COMMIT")));
        q = QSqlQuery();
        reader.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("held_reader"));

    upload(100);
    EXPECT_LE(journalSize(), kBound);
}

} // namespace
