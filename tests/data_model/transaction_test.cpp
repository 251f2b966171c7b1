// sqlca against a real SQLite file: result codes, the implicit transaction of a
// write, the scope guard, the test hook, and the kept prepared statements (run
// again with other values, finished before another statement, commit or
// rollback, dropped when they fail or fall out of the cache).
#include "data_model/transaction.h"
#include "tests/support/statement_faults.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace fp {
namespace {

const QString kInsertCode = QStringLiteral("INSERT INTO bm_bdcja_fpdm ( fpdm , fpzlbm ) VALUES ( ?, ? )");
const QString kKindOf = QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?");
const QString kAllCodes = QStringLiteral("SELECT fpdm FROM bm_bdcja_fpdm ORDER BY fpdm");

// What the process writes to its standard error while `f` runs (a database
// client library may write there itself).
QByteArray standardErrorDuring(const std::function<void()>& f) {
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    if (!capture) return QByteArrayLiteral("(no temporary file)");
    const int saved = ::dup(2);
    ::dup2(::fileno(capture), 2);
    f();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::rewind(capture);
    QByteArray written;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, capture)) written.append(buf, qsizetype(n));
    std::fclose(capture);
    return written;
}

class TransactionTest : public ::testing::Test {
protected:
    test::TempDb db;
    Transaction& tx() { return db.tx(); }

    // n codes "C0001".. of kind "50", committed.
    void addCodes(int n) {
        for (int i = 1; i <= n; ++i)
            ASSERT_TRUE(
                tx().exec(kInsertCode, {QStringLiteral("C%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("50")}))
                << tx().sqlerrtext.toStdString();
        ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
    }
    static qlonglong countCodes(Transaction& t) {
        QVariantList row;
        EXPECT_EQ(t.selectInto(QStringLiteral("SELECT count(*) FROM bm_bdcja_fpdm"), {}, row), 0)
            << t.sqlerrtext.toStdString();
        return row.value(0).toLongLong();
    }
};

TEST_F(TransactionTest, OnlyWritingStatementsOpenATransaction) {
    struct Case {
        const char* sql;
        bool opens;
    };
    const Case cases[] = {
        {"INSERT INTO bm_bdcja_fpdm ( fpdm , fpzlbm ) VALUES ( 'W1', '50' )", true},
        {"  update bm_bdcja_fpdm SET fpzlbm = '20' WHERE fpdm = 'none'", true},
        {"Delete FROM bm_bdcja_fpdm WHERE fpdm = 'none'", true},
        {"SELECT count(*) FROM bm_bdcja_fpdm", false},
        {"select fpdm from bm_bdcja_fpdm where fpdm = 'inserted later'", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_TRUE(tx().exec(QString::fromLatin1(c.sql))) << tx().sqlerrtext.toStdString();
        EXPECT_EQ(tx().inTransaction(), c.opens);
        ASSERT_TRUE(tx().rollback());
        EXPECT_FALSE(tx().inTransaction());
    }
}

TEST_F(TransactionTest, AWriteIsSeenByOthersOnlyAfterTheCommit) {
    auto other = db.openAnother();
    ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("C0001"), QStringLiteral("50")}));
    EXPECT_TRUE(tx().inTransaction());
    EXPECT_EQ(tx().sqlnrows, 1);
    EXPECT_EQ(countCodes(*other), 0);
    ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
    EXPECT_FALSE(tx().inTransaction());
    EXPECT_EQ(countCodes(*other), 1);
}

TEST_F(TransactionTest, TheGuardRollsBackWhatACommandLeavesOpen) {
    addCodes(3);
    const QString before = test::snapshot(tx());
    {
        TxGuard guard(tx());
        ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("C0009"), QStringLiteral("50")}));
        ASSERT_TRUE(tx().exec(QStringLiteral("UPDATE bm_bdcja_fpdm SET fpzlbm = ? WHERE fpdm = ?"),
                              {QStringLiteral("20"), QStringLiteral("C0001")}));
        ASSERT_TRUE(tx().exec(QStringLiteral("DELETE FROM bm_bdcja_fpdm WHERE fpdm = ?"), {QStringLiteral("C0002")}));
        // A read left half done must not keep the rollback from happening.
        ASSERT_TRUE(tx().exec(kAllCodes));
        ASSERT_TRUE(tx().lastQuery().next());
    }
    EXPECT_FALSE(tx().inTransaction());
    EXPECT_EQ(test::snapshot(tx()), before);
}

TEST_F(TransactionTest, ResultCodesOfSelects) {
    addCodes(2);
    struct Case {
        const char* name;
        QString sql;
        QVariantList binds;
        int sqlcode;
        QVariantList out; // what `out` holds afterwards (it starts as {"untouched"})
    };
    const QVariantList untouched{QStringLiteral("untouched")};
    const Case cases[] = {
        {"a row", kKindOf, {QStringLiteral("C0001")}, 0, {QStringLiteral("50")}},
        {"no row", kKindOf, {QStringLiteral("C9999")}, 100, untouched},
        {"an error", QStringLiteral("SELECT nosuchcolumn FROM bm_bdcja_fpdm"), {}, -1, untouched},
        {"the first of several rows", kAllCodes, {}, 0, {QStringLiteral("C0001")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantList out = untouched;
        EXPECT_EQ(tx().selectInto(c.sql, c.binds, out), c.sqlcode);
        EXPECT_EQ(tx().sqlcode, c.sqlcode);
        EXPECT_EQ(tx().sqlerrtext.isEmpty(), c.sqlcode != -1) << tx().sqlerrtext.toStdString();
        EXPECT_EQ(out, c.out);
    }
    EXPECT_TRUE(tx().selectAll(kKindOf, {QStringLiteral("C9999")}).isEmpty());
    EXPECT_EQ(tx().sqlcode, 100);
    EXPECT_EQ(tx().selectAll(kAllCodes).size(), 2);
    EXPECT_EQ(tx().sqlcode, 0);
    EXPECT_EQ(tx().sqlnrows, 2);
}

TEST_F(TransactionTest, AKeptStatementRunsAgainWithOtherValues) {
    addCodes(3);
    ASSERT_TRUE(tx().exec(QStringLiteral("UPDATE bm_bdcja_fpdm SET fpzlbm = ? WHERE fpdm = ?"),
                          {QStringLiteral("20"), QStringLiteral("C0002")}));
    ASSERT_TRUE(tx().commit());
    int kept = -1;
    // The same text with other values, interleaved with another statement.
    const QList<QPair<QString, QString>> lookups = {{"C0001", "50"}, {"C0002", "20"}, {"C0003", "50"}, {"C0002", "20"}};
    for (const auto& [code, kind] : lookups) {
        SCOPED_TRACE(code.toStdString());
        ASSERT_TRUE(tx().exec(kKindOf, {code}));
        ASSERT_TRUE(tx().lastQuery().next());
        EXPECT_EQ(tx().lastQuery().value(0).toString(), kind);
        ASSERT_TRUE(tx().exec(kAllCodes)); // lastQuery() follows the statement that ran
        ASSERT_TRUE(tx().lastQuery().next());
        EXPECT_EQ(tx().lastQuery().value(0).toString(), QStringLiteral("C0001"));
        if (kept < 0) kept = tx().cachedStatementCount();
    }
    EXPECT_EQ(tx().cachedStatementCount(), kept) << "a repeated text is not prepared again";
    // A value left out is refused by the driver, not filled in from the last run.
    EXPECT_FALSE(tx().exec(kKindOf, {}));
    EXPECT_EQ(tx().sqlcode, -1);
    ASSERT_TRUE(tx().exec(kKindOf, {QStringLiteral("C0003")}));
    ASSERT_TRUE(tx().lastQuery().next());
    EXPECT_EQ(tx().lastQuery().value(0).toString(), QStringLiteral("50"));
}

TEST_F(TransactionTest, AFailedStatementReportsAndTheNextRunOfItWorks) {
    addCodes(1);
    // The primary key refuses a second C0001.
    EXPECT_FALSE(tx().exec(kInsertCode, {QStringLiteral("C0001"), QStringLiteral("50")}));
    EXPECT_EQ(tx().sqlcode, -1);
    EXPECT_FALSE(tx().sqlerrtext.isEmpty());
    EXPECT_EQ(tx().sqlnrows, 0);
    ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("C0002"), QStringLiteral("50")}))
        << tx().sqlerrtext.toStdString();
    EXPECT_EQ(tx().sqlcode, 0);
    EXPECT_EQ(tx().sqlnrows, 1);
    ASSERT_TRUE(tx().commit());
    EXPECT_EQ(countCodes(tx()), 2);
}

TEST_F(TransactionTest, CommitAndRollbackAfterASelectNotReadToTheEnd) {
    addCodes(5);
    auto other = db.openAnother();
    for (const bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        const QString code = commit ? QStringLiteral("N0001") : QStringLiteral("N0002");
        ASSERT_TRUE(tx().exec(kInsertCode, {code, QStringLiteral("50")}));
        ASSERT_TRUE(tx().exec(kAllCodes));
        ASSERT_TRUE(tx().lastQuery().next()); // only the first row read
        if (commit)
            ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
        else
            ASSERT_TRUE(tx().rollback()) << tx().sqlerrtext.toStdString();
        EXPECT_FALSE(tx().inTransaction());
        EXPECT_FALSE(tx().lastQuery().isActive());
        // Nothing of the ended transaction lingers: a plain query on this
        // connection sees what another connection commits afterwards.
        const QString theirs = commit ? QStringLiteral("Y0001") : QStringLiteral("Y0002");
        ASSERT_TRUE(other->exec(kInsertCode, {theirs, QStringLiteral("50")}));
        ASSERT_TRUE(other->commit()) << other->sqlerrtext.toStdString();
        EXPECT_TRUE(test::tableRows(tx(), QStringLiteral("bm_bdcja_fpdm"))
                        .contains(QStringLiteral("bm_bdcja_fpdm|") + theirs + QStringLiteral("|50")));
    }
    EXPECT_EQ(test::tableRows(*other, QStringLiteral("bm_bdcja_fpdm")).filter(QStringLiteral("|N000")),
              QStringList{QStringLiteral("bm_bdcja_fpdm|N0001|50")});
}

// A read left open outside a transaction must not pin this connection to old
// data: another issuer's commit is seen, and the next write does not fail on a
// stale snapshot.
TEST_F(TransactionTest, AHalfReadSelectDoesNotHideOtherConnectionsWrites) {
    addCodes(5);
    auto other = db.openAnother();
    QVariantList row;
    ASSERT_EQ(tx().selectInto(kAllCodes, {}, row), 0); // reads one row of five
    ASSERT_TRUE(tx().exec(kAllCodes));
    ASSERT_TRUE(tx().lastQuery().next());

    ASSERT_TRUE(other->exec(kInsertCode, {QStringLiteral("X0001"), QStringLiteral("50")}));
    ASSERT_TRUE(other->commit()) << other->sqlerrtext.toStdString();

    EXPECT_EQ(countCodes(tx()), 6);
    ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("X0002"), QStringLiteral("50")}))
        << tx().sqlerrtext.toStdString();
    ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
    EXPECT_EQ(countCodes(*other), 7);
}

TEST_F(TransactionTest, FailNextMatchingFailsOneStatementWithoutRunningIt) {
    addCodes(1);
    fp::test::failNextMatching(tx(), QStringLiteral("INSERT INTO bm_bdcja_fpdm"), QStringLiteral("disk full"));
    // A statement without the fragment is not affected.
    QVariantList row;
    EXPECT_EQ(tx().selectInto(kKindOf, {QStringLiteral("C0001")}, row), 0);

    EXPECT_FALSE(tx().exec(kInsertCode, {QStringLiteral("C0002"), QStringLiteral("50")}));
    EXPECT_EQ(tx().sqlcode, -1);
    EXPECT_EQ(tx().sqlerrtext, QStringLiteral("disk full"));
    EXPECT_TRUE(tx().inTransaction()) << "a write opens the transaction even when it fails";
    ASSERT_TRUE(tx().rollback());
    EXPECT_EQ(countCodes(tx()), 1);

    // Only the next matching statement: the same text runs again afterwards.
    ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("C0002"), QStringLiteral("50")}))
        << tx().sqlerrtext.toStdString();
    ASSERT_TRUE(tx().commit());
    EXPECT_EQ(countCodes(tx()), 2);
}

TEST_F(TransactionTest, StatementsBeyondTheCacheSizeStillRunAndTheCacheStaysBounded) {
    addCodes(1);
    const int n = Transaction::kStatementCacheSize * 2 + 5;
    auto nth = [](int i) {
        // Texts that differ: each is a statement of its own.
        return QStringLiteral("SELECT fpzlbm, %1 FROM bm_bdcja_fpdm WHERE fpdm = ?").arg(i);
    };
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < n; ++i) {
            QVariantList row;
            ASSERT_EQ(tx().selectInto(nth(i), {QStringLiteral("C0001")}, row), 0) << tx().sqlerrtext.toStdString();
            ASSERT_EQ(row.value(1).toInt(), i);
        }
        EXPECT_LE(tx().cachedStatementCount(), Transaction::kStatementCacheSize);
    }
}

// A commit the database refuses (a deferred foreign key) is one failure: what
// is left of the transaction is rolled back without a word on standard error
// (PostgreSQL, asked to roll back a transaction its failed commit had ended,
// warned there "there is no transaction in progress"), and the connection
// goes on.
TEST_F(TransactionTest, ARefusedCommitIsOneFailureAndTheConnectionGoesOn) {
    ASSERT_TRUE(tx().exec(QStringLiteral("CREATE TABLE t_parent ( id INTEGER PRIMARY KEY )")));
    ASSERT_TRUE(tx().exec(QStringLiteral("CREATE TABLE t_child ( pid INTEGER REFERENCES t_parent ( id ) "
                                         "DEFERRABLE INITIALLY DEFERRED )")));
    ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
    const QString insertChild = QStringLiteral("INSERT INTO t_child ( pid ) VALUES ( ? )");

    const QByteArray noise = standardErrorDuring([&] {
        ASSERT_TRUE(tx().exec(insertChild, {1})) << tx().sqlerrtext.toStdString();
        ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("R0001"), QStringLiteral("50")}));
        EXPECT_FALSE(tx().commit());
        EXPECT_EQ(tx().sqlcode, -1);
        EXPECT_FALSE(tx().sqlerrtext.isEmpty());
        EXPECT_TRUE(tx().rollback()) << tx().sqlerrtext.toStdString();
        EXPECT_FALSE(tx().inTransaction());
    });
    EXPECT_EQ(QString::fromUtf8(noise), QString());
    EXPECT_EQ(countCodes(tx()), 0);

    ASSERT_TRUE(tx().exec(QStringLiteral("INSERT INTO t_parent ( id ) VALUES ( 1 )")));
    ASSERT_TRUE(tx().exec(insertChild, {1}));
    ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("R0001"), QStringLiteral("50")}));
    ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
    EXPECT_EQ(countCodes(tx()), 1);
}

TEST_F(TransactionTest, ClosingWithOpenWorkReleasesTheDatabase) {
    addCodes(3);
    {
        auto mine = db.openAnother();
        ASSERT_TRUE(mine->exec(kInsertCode, {QStringLiteral("M0001"), QStringLiteral("50")}));
        ASSERT_TRUE(mine->exec(kAllCodes));
        ASSERT_TRUE(mine->lastQuery().next());
    }
    // The write lock is gone and the uncommitted row with it.
    ASSERT_TRUE(tx().exec(kInsertCode, {QStringLiteral("M0002"), QStringLiteral("50")}))
        << tx().sqlerrtext.toStdString();
    ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString();
    EXPECT_EQ(countCodes(tx()), 4);
}

} // namespace
} // namespace fp
