// Ten issuers as separate fpdesk processes, each issuing fifty invoices on
// the same invoice code at once against one taxsim over loopback HTTP, with
// the service delaying some uploads. Every invoice is issued (locally and at
// the service, same number, same content) or cleanly refused; no number is
// issued twice; nobody sees the database locked; the stock's last-used number
// is the highest number issued. Runs on SQLite and, in the PostgreSQL runs,
// on a server.
#include "tests/app/concurrency_fixture.h"

#include <gtest/gtest.h>

namespace fp {
namespace {

TEST(ConcurrencyTest, TenIssuersOnOneCodeNeverShareANumber) {
    test::OfficeRun office;
    ASSERT_TRUE(office.prepare(/*delayedUploads=*/80, /*delayMs=*/150)) << office.error.toStdString();
    const test::IssueResults results = office.issueAtOnce(/*issuers=*/10, /*invoicesEach=*/50);

    QStringList all;
    for (const test::IssuerRun& run : results.runs) {
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("locked"), Qt::CaseInsensitive)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("等待超时"))) << run.err.toStdString();
        all += run.issued;
    }
    EXPECT_EQ(all.size(), 500);
    QStringList unique = all;
    unique.removeDuplicates();
    EXPECT_EQ(unique.size(), all.size()) << "a number was issued twice";

    // Locally: exactly the numbers reported, each whole (header, one line, log).
    const QStringList local = office.localNumbers();
    QStringList sorted = all;
    sorted.sort();
    EXPECT_EQ(local, sorted);
    EXPECT_EQ(office.count(QStringLiteral("SELECT count(*) FROM ptfp_fpxmmx WHERE fpdm = ?")), all.size());
    EXPECT_EQ(office.count(QStringLiteral("SELECT count(*) FROM bdcja_fpk_log WHERE fpdm = ? AND czlx = '1'")),
              all.size());

    // At the service: the same numbers with the same content, and nothing else.
    const QStringList remote = office.remoteIssuedNumbers(test::OfficeRun::kLastNumber);
    EXPECT_EQ(remote, sorted);
    for (const QString& number : sorted) EXPECT_TRUE(office.sameAtService(number)) << number.toStdString();

    // The stock's last-used number is the highest one issued.
    ASSERT_FALSE(sorted.isEmpty());
    EXPECT_EQ(office.lastUsed(), sorted.last());
}

} // namespace
} // namespace fp
