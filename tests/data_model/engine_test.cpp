// What must come out the same on every engine behind sqlca: exact amounts,
// date-times, the current local time, the month filter, the row limit, the
// number cast, the schema version, the stock's last-used number, and waiting
// for another connection's lock. The suite runs on SQLite and, in the
// PostgreSQL runs, on a real server.
#include "data_model/schema.h"
#include "data_model/stock_use.h"
#include "data_model/transaction.h"
#include "tests/support/temp_db.h"

#include <QElapsedTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace fp {
namespace {

class EngineTest : public ::testing::Test {
protected:
    test::TempDb db;
    Transaction& tx() { return db.tx(); }
    void run(const QString& sql, const QVariantList& binds = {}) {
        ASSERT_TRUE(tx().exec(sql, binds)) << sql.toStdString() << ": " << tx().sqlerrtext.toStdString();
    }
    void commit() { ASSERT_TRUE(tx().commit()) << tx().sqlerrtext.toStdString(); }
    // A batch of code `code`, numbers 00000001..00000100, last used `zjsyh`.
    void addBatch(const QString& code, const QString& zjsyh) {
        run(QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz) "
                           "VALUES (?, '13702000000', '3702000012345', '50', ?, '00000001', '00000100', ?, '0')"),
            {QString(QStringLiteral("L") + code), code, zjsyh});
        commit();
    }
    QString lastUsed(Transaction& t, const QString& code) {
        QVariantList row;
        EXPECT_NE(t.selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ?"), {code}, row), -1);
        return row.value(0).toString();
    }
};

TEST_F(EngineTest, AmountsReadBackExactlyAndSumExactly) {
    const char* prices[] = {"0.10", "0.01", "-0.01", "100000.00", "1000000.00", "1234567890.12", "9999999999999999.99"};
    int n = 0;
    for (const char* p : prices)
        run(QStringLiteral("INSERT INTO tbl_pm (pmmc, price, sxh) VALUES (?, ?, 'S')"),
            {QStringLiteral("item%1").arg(++n), QVariant::fromValue(*Decimal::parse(QString::fromLatin1(p)))});
    commit();
    n = 0;
    for (const char* p : prices) {
        SCOPED_TRACE(p);
        QVariantList row;
        ASSERT_EQ(tx().selectInto(QStringLiteral("SELECT price FROM tbl_pm WHERE pmmc = ?"),
                                  {QStringLiteral("item%1").arg(++n)}, row),
                  0);
        const auto back = tx().decimalAt(row.value(0));
        ASSERT_TRUE(back) << row.value(0).toString().toStdString();
        EXPECT_EQ(back->toString(2), QString::fromLatin1(p));
    }
    QVariantList sum;
    ASSERT_EQ(tx().selectInto(QStringLiteral("SELECT sum(price) FROM tbl_pm WHERE pmmc IN ('item1', 'item5', 'item6')"),
                              {}, sum),
              0);
    ASSERT_TRUE(tx().decimalAt(sum.value(0)));
    EXPECT_EQ(tx().decimalAt(sum.value(0))->toString(2), QStringLiteral("1235567890.22"));
}

TEST_F(EngineTest, DateTimesMonthsAndRowLimit) {
    const QDateTime times[] = {QDateTime(QDate(2026, 11, 30), QTime(23, 59, 59)),
                               QDateTime(QDate(2026, 12, 1), QTime(0, 0, 0)),
                               QDateTime(QDate(2026, 12, 10), QTime(9, 30, 15))};
    int n = 0;
    for (const QDateTime& t : times)
        run(QStringLiteral(
                "INSERT INTO bdcja_fpk_log (fpdm, fphm, sxh, czlx, kpr, czrq) VALUES ('C', ?, 'S', '1', 'K', ?)"),
            {QStringLiteral("%1").arg(++n, 8, 10, QLatin1Char('0')), t});
    commit();

    const QList<QVariantList> back = tx().selectAll(QStringLiteral("SELECT czrq FROM bdcja_fpk_log ORDER BY fphm"));
    ASSERT_EQ(back.size(), 3) << tx().sqlerrtext.toStdString();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(tx().dateTimeAt(back[i].value(0)), times[i]);

    const Dialect& d = tx().dialect();
    const QList<QVariantList> december =
        tx().selectAll(QStringLiteral("SELECT fphm FROM bdcja_fpk_log WHERE %1 = ? ORDER BY fphm")
                           .arg(d.monthOf(QStringLiteral("czrq"))),
                       {QStringLiteral("2026-12")});
    ASSERT_EQ(december.size(), 2) << tx().sqlerrtext.toStdString();
    EXPECT_EQ(december[0].value(0).toString(), QStringLiteral("00000002"));

    const QList<QVariantList> first =
        tx().selectAll(QStringLiteral("SELECT fphm FROM bdcja_fpk_log ORDER BY czrq DESC") + d.limit(1));
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0].value(0).toString(), QStringLiteral("00000003"));
}

// A date-time stored as text (SQLite's form, or written by another tool) reads
// back from each shape the system writes; anything else reads as no date-time.
TEST_F(EngineTest, DateTimeTextsReadBackOrReadAsNone) {
    const QDateTime t(QDate(2026, 12, 10), QTime(9, 30, 15));
    const struct Case {
        const char* text;
        QDateTime expected;
    } cases[] = {
        {"2026-12-10 09:30:15", t},
        {" 2026-12-10 09:30:15 ", t},
        {"2026-12-10T09:30:15", t},
        {"2026-12-10 09:30:15.250", t.addMSecs(250)},
        {"2026-12-10 09:30", t.addSecs(-15)},
        {"2026-12-10", t.addSecs(-(9 * 3600 + 30 * 60 + 15))},
        {"2026-02-30 09:30:15", QDateTime()},
        {"2026-12-10 24:00:00", QDateTime()},
        {"2026-12-1O 09:30:15", QDateTime()},
        {"2026-12-10 09:3a:15", QDateTime()},
        {"2026/12/10 09:30:15", QDateTime()},
        {"2026-12-10+09:30:15", QDateTime()},
        {"", QDateTime()},
    };
    for (const Case& c : cases) {
        const QDateTime got = tx().dateTimeAt(QVariant(QString::fromLatin1(c.text)));
        EXPECT_EQ(got.isValid(), c.expected.isValid()) << c.text;
        if (c.expected.isValid()) {
            EXPECT_EQ(got, c.expected) << c.text;
        }
    }
}

TEST_F(EngineTest, CurrentTimeIsThisMachinesLocalTimeToTheSecond) {
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-QDateTime::currentDateTime().time().msec());
    run(QStringLiteral(
            "INSERT INTO bdcja_fpk_log (fpdm, fphm, sxh, czlx, kpr, czrq) VALUES ('C', '1', 'S', '1', 'K', %1)")
            .arg(tx().dialect().currentTime()));
    commit();
    const QDateTime after = QDateTime::currentDateTime();
    QVariantList row;
    ASSERT_EQ(tx().selectInto(QStringLiteral("SELECT czrq FROM bdcja_fpk_log"), {}, row), 0);
    const QDateTime stored = tx().dateTimeAt(row.value(0));
    EXPECT_EQ(stored.time().msec(), 0);
    EXPECT_LE(before, stored);
    EXPECT_LE(stored, after);
}

TEST_F(EngineTest, NumberCastGivesNullForTextThatIsNotANumber) {
    struct Case {
        const char* zjsyh;
        QVariant next; // zjsyh + 1, or null
    };
    const Case cases[] = {{"00000012", 13},    {"99999999", 100000000}, {"0000001A", QVariant()},
                          {"abc", QVariant()}, {" 12", QVariant()},     {"", QVariant()}};
    int n = 0;
    for (const Case& c : cases) addBatch(QStringLiteral("C%1").arg(++n), QString::fromLatin1(c.zjsyh));
    n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zjsyh);
        QVariantList row;
        ASSERT_EQ(tx().selectInto(QStringLiteral("SELECT %1 + 1 FROM bdcja_fplg WHERE fpdm = ?")
                                      .arg(tx().dialect().toBigint(QStringLiteral("zjsyh"))),
                                  {QStringLiteral("C%1").arg(++n)}, row),
                  0)
            << tx().sqlerrtext.toStdString();
        EXPECT_EQ(row.value(0).isNull(), c.next.isNull());
        if (!c.next.isNull()) {
            EXPECT_EQ(row.value(0).toLongLong(), c.next.toLongLong());
        }
    }
}

TEST_F(EngineTest, LastUsedNumberNeverMovesBackwards) {
    addBatch(QStringLiteral("C1"), QString());
    struct Step {
        const char* saved;
        const char* lastUsed;
    };
    // Issuers saving in any order: the record keeps the highest number.
    const Step steps[] = {{"00000005", "00000005"},
                          {"00000007", "00000007"},
                          {"00000006", "00000007"},
                          {"00000001", "00000007"},
                          {"00000100", "00000100"}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.saved);
        ASSERT_TRUE(recordNumberUsed(tx(), QStringLiteral("C1"), QStringLiteral("50"), QString::fromLatin1(s.saved)))
            << tx().sqlerrtext.toStdString();
        EXPECT_EQ(tx().sqlnrows, 1);
        commit();
        EXPECT_EQ(lastUsed(tx(), QStringLiteral("C1")), QString::fromLatin1(s.lastUsed));
    }
}

TEST_F(EngineTest, SchemaKeepsItsVersionAndRefusesANewerOne) {
    EXPECT_EQ(schemaVersion(tx()), kSchemaVersion);
    QString error;
    ASSERT_TRUE(createSchema(tx(), &error)) << error.toStdString(); // again: nothing to do
    EXPECT_EQ(test::tableRows(tx(), QString::fromLatin1(kSchemaVersionTable)),
              QStringList{QStringLiteral("fp_schema_version|%1").arg(kSchemaVersion)});

    run(QStringLiteral("UPDATE fp_schema_version SET version = ?"), {kSchemaVersion + 1});
    commit();
    const QString before = test::snapshot(tx());
    EXPECT_FALSE(createSchema(tx(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("请先升级本程序"))) << error.toStdString();
    EXPECT_FALSE(tx().inTransaction());
    EXPECT_EQ(test::snapshot(tx()), before);
}

// A database of version 1 (before the records of unconfirmed uploads) is
// brought to the current version in place, its data kept.
TEST_F(EngineTest, AVersionOneDatabaseIsUpgradedInPlace) {
    run(QStringLiteral("DROP TABLE fp_pending_upload"));
    run(QStringLiteral("UPDATE fp_schema_version SET version = 1"));
    run(QStringLiteral("INSERT INTO b_emp ( ccode, cname, sxh ) VALUES ( '01', '张晓明', '3702000012345' )"));
    commit();
    const QString before = test::snapshot(tx());
    ASSERT_EQ(schemaVersion(tx()), 1);

    QString error;
    ASSERT_TRUE(createSchema(tx(), &error)) << error.toStdString();
    EXPECT_EQ(schemaVersion(tx()), kSchemaVersion);
    // The same data; the new table, which could not be read before, is there and empty.
    QString expected = before;
    expected.remove(QStringLiteral("\nfp_pending_upload|<error>"));
    EXPECT_TRUE(before.contains(QStringLiteral("fp_pending_upload|<error>")));
    EXPECT_EQ(test::snapshot(tx()), expected);
    run(QStringLiteral("INSERT INTO fp_pending_upload ( fpdm, fphm, sxh, userid, digest ) VALUES ( ?, ?, ?, ?, ? )"),
        {QStringLiteral("237020000001"), QStringLiteral("00000001"), QStringLiteral("3702000012345"),
         QStringLiteral("admin"), QStringLiteral("d")});
    commit();
    EXPECT_EQ(test::tableRows(tx(), QStringLiteral("fp_pending_upload")).size(), 1);
}

// A database of version 2 (the records of unconfirmed uploads only) is
// upgraded in place: the journal's new columns are added and the records kept,
// their operation empty (read as an upload).
TEST_F(EngineTest, AVersionTwoDatabaseKeepsItsRecordsInTheJournal) {
    run(QStringLiteral("DROP TABLE fp_pending_upload"));
    run(QStringLiteral("CREATE TABLE fp_pending_upload ( fpdm VARCHAR(12) NOT NULL, fphm VARCHAR(8) NOT NULL, "
                       "fpzlbm VARCHAR(2), sxh VARCHAR(13), userid VARCHAR(20), username VARCHAR(50), kpr VARCHAR(50), "
                       "digest VARCHAR(64), bcrq %1, PRIMARY KEY (fpdm, fphm) )")
            .arg(tx().dialect().columnType(ColType::DateTime, 0)));
    run(QStringLiteral("INSERT INTO fp_pending_upload ( fpdm, fphm, fpzlbm, sxh, userid, username, kpr, digest ) "
                       "VALUES ( '237020000001', '00000001', '50', '3702000012345', 'admin', '系统管理员', '张晓明', "
                       "'d1' )"));
    run(QStringLiteral("UPDATE fp_schema_version SET version = 2"));
    commit();

    QString error;
    ASSERT_TRUE(createSchema(tx(), &error)) << error.toStdString();
    EXPECT_EQ(schemaVersion(tx()), kSchemaVersion);
    EXPECT_EQ(test::tableRows(tx(), QStringLiteral("fp_pending_upload")),
              QStringList{QStringLiteral("fp_pending_upload|237020000001|00000001|50|3702000012345|admin|系统管理员|"
                                         "张晓明|d1|NULL|NULL|NULL|NULL|NULL|NULL")});
    // The new columns take the journal's records, widths enforced as everywhere.
    run(QStringLiteral("INSERT INTO fp_pending_upload ( fpdm, fphm, sxh, userid, czlx, dycs, bz, token ) "
                       "VALUES ( '237020000001', '00000002', '3702000012345', 'admin', '2', 3, '打印次数：3', 't' )"));
    commit();
    EXPECT_FALSE(tx().exec(QStringLiteral("INSERT INTO fp_pending_upload ( fpdm, fphm, czlx ) "
                                          "VALUES ( '237020000001', '00000003', '22' )")));
    ASSERT_TRUE(tx().rollback());
}

// A database of version 3 gets the register: its index on both header tables,
// and the right to open it for every user who may issue, with the same code.
TEST_F(EngineTest, AVersionThreeDatabaseGrantsTheRegisterToIssuers) {
    run(QStringLiteral("DELETE FROM b_user_right"));
    run(QStringLiteral("INSERT INTO b_user_right ( userid, funcid, right_code ) VALUES ( 'u1', '01', '01' ), "
                       "( 'u1', '02', '02' ), ( 'u2', '02', '02' ), ( 'u3', '01', '02' ), ( 'u3', '04', '00' )"));
    for (const char* index : {"ix_ptfp_fpk_3", "ix_bdcja_fpk_2"})
        run(QStringLiteral("DROP INDEX ") + QString::fromLatin1(index));
    run(QStringLiteral("UPDATE fp_schema_version SET version = 3"));
    commit();

    QString error;
    ASSERT_TRUE(createSchema(tx(), &error)) << error.toStdString();
    EXPECT_EQ(schemaVersion(tx()), kSchemaVersion);
    QStringList rights;
    for (const QVariantList& r :
         tx().selectAll(QStringLiteral("SELECT userid, funcid, right_code FROM b_user_right ORDER BY userid, funcid")))
        rights << r.value(0).toString() + QLatin1Char(' ') + r.value(1).toString() + QLatin1Char(' ') +
                      r.value(2).toString();
    // u2 may not issue; u3 keeps the register right it was given.
    EXPECT_EQ(rights, (QStringList{"u1 01 01", "u1 02 02", "u1 04 01", "u2 02 02", "u3 01 02", "u3 04 00"}));
    const QString probe = db.isPostgres()
                              ? QStringLiteral("SELECT count(*) FROM pg_indexes WHERE indexname IN "
                                               "('ix_ptfp_fpk_3', 'ix_bdcja_fpk_2') AND schemaname = current_schema()")
                              : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                                               "('ix_ptfp_fpk_3', 'ix_bdcja_fpk_2')");
    QVariantList row;
    ASSERT_EQ(tx().selectInto(probe, {}, row), 0);
    EXPECT_EQ(row.value(0).toInt(), 2);
}

TEST_F(EngineTest, AWriterWaitsForAnotherUpToItsBoundThenFailsClearly) {
    addBatch(QStringLiteral("C1"), QStringLiteral("00000004"));
    addBatch(QStringLiteral("C2"), QStringLiteral("00000004"));
    // This connection saves number 5 of batch C1 and keeps its transaction open
    // (its upload is under way).
    ASSERT_TRUE(recordNumberUsed(tx(), QStringLiteral("C1"), QStringLiteral("50"), QStringLiteral("00000005")));
    const QString before = lastUsed(*db.openAnother(), QStringLiteral("C1"));

    auto other = db.openAnother();
    ASSERT_TRUE(other->setLockWaitMs(300));
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(recordNumberUsed(*other, QStringLiteral("C1"), QStringLiteral("50"), QStringLiteral("00000006")));
    EXPECT_GE(waited.elapsed(), 250);
    EXPECT_TRUE(other->lastErrorWasLockTimeout()) << other->sqlerrtext.toStdString();
    EXPECT_TRUE(other->sqlerrtext.startsWith(Transaction::lockTimeoutText())) << other->sqlerrtext.toStdString();
    ASSERT_TRUE(other->rollback());
    EXPECT_EQ(lastUsed(*other, QStringLiteral("C1")), before);

    if (db.isPostgres()) {
        // Only the batch's row is locked: another batch is saved at once.
        EXPECT_TRUE(recordNumberUsed(*other, QStringLiteral("C2"), QStringLiteral("50"), QStringLiteral("00000005")))
            << other->sqlerrtext.toStdString();
        EXPECT_TRUE(other->commit());
    }
    commit();
    EXPECT_EQ(lastUsed(*other, QStringLiteral("C1")), QStringLiteral("00000005"));
}

// A writer whose wait is watched waits in slices and says so between them:
// the lock freed while it waits lets it go on; a lock never freed fails it
// after the whole wait, as without a watcher. Either way the watcher hears
// once that the wait is over.
TEST_F(EngineTest, AWatchedWaitIsToldAsItGoesAndWhenItIsOver) {
    addBatch(QStringLiteral("C1"), QStringLiteral("00000004"));
    using LockWait = Transaction::LockWait;
    struct Case {
        const char* what;
        bool freedWhileWaiting;
        QString held, waiting; // the numbers this connection and the other one record
    };
    const Case cases[] = {{"freed", true, QStringLiteral("00000005"), QStringLiteral("00000006")},
                          {"never freed", false, QStringLiteral("00000007"), QStringLiteral("00000008")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(recordNumberUsed(tx(), QStringLiteral("C1"), QStringLiteral("50"), c.held));
        auto other = db.openAnother();
        ASSERT_TRUE(other->setLockWaitMs(c.freedWhileWaiting ? 30000 : 200));
        QList<LockWait> told;
        ASSERT_TRUE(other->setLockWaitObserver(
            [&](LockWait state) {
                told << state;
                if (c.freedWhileWaiting && told.size() == 1) {
                    ASSERT_TRUE(tx().rollback());
                }
            },
            50));
        const bool saved = recordNumberUsed(*other, QStringLiteral("C1"), QStringLiteral("50"), c.waiting);
        ASSERT_GE(told.size(), 2);
        EXPECT_EQ(told.count(LockWait::Over), 1);
        EXPECT_EQ(told.last(), LockWait::Over);
        if (c.freedWhileWaiting) {
            EXPECT_TRUE(saved) << other->sqlerrtext.toStdString();
            EXPECT_EQ(told, (QList<LockWait>{LockWait::Waiting, LockWait::Over}));
            ASSERT_TRUE(other->commit());
            EXPECT_EQ(lastUsed(tx(), QStringLiteral("C1")), c.waiting);
        } else {
            EXPECT_FALSE(saved);
            EXPECT_TRUE(other->lastErrorWasLockTimeout()) << other->sqlerrtext.toStdString();
            ASSERT_TRUE(other->rollback());
            ASSERT_TRUE(tx().rollback());
        }
        // A statement that finds no lock tells nothing.
        told.clear();
        EXPECT_NE(lastUsed(*other, QStringLiteral("C1")), QString());
        EXPECT_TRUE(told.isEmpty());
    }
}

// On SQLite a waiting statement wakes every few milliseconds to try the lock
// again, so a lock freed while it waits is taken at the next step rather than
// after a long back-off.
TEST_F(EngineTest, ASqliteWaitTriesAgainInShortStepsAndGoesOnOnceFreed) {
    if (db.isPostgres()) GTEST_SKIP() << "the server wakes a waiting statement itself";
    addBatch(QStringLiteral("C1"), QStringLiteral("00000004"));
    ASSERT_TRUE(recordNumberUsed(tx(), QStringLiteral("C1"), QStringLiteral("50"), QStringLiteral("00000005")));
    auto other = db.openAnother();
    ASSERT_TRUE(other->setLockWaitMs(10000));
    constexpr int kFreedAtStep = 40;
    QList<int> steps;
    other->setLockStepHook([&](int sleepMs) {
        steps << sleepMs;
        if (steps.size() == kFreedAtStep) {
            ASSERT_TRUE(tx().rollback());
        }
    });
    EXPECT_TRUE(recordNumberUsed(*other, QStringLiteral("C1"), QStringLiteral("50"), QStringLiteral("00000006")))
        << other->sqlerrtext.toStdString();
    // Taken at the first try after the step that freed it.
    ASSERT_EQ(steps.size(), kFreedAtStep);
    EXPECT_EQ(steps.first(), 1);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    EXPECT_LE(steps.last(), Transaction::kLockStepMaxMs);
    EXPECT_GT(steps.last(), steps.first()) << "the steps grow as the wait goes on";
    ASSERT_TRUE(other->commit());
    EXPECT_EQ(lastUsed(tx(), QStringLiteral("C1")), QStringLiteral("00000006"));
}

} // namespace
} // namespace fp
