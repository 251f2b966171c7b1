// Storing a large purchased-stock text against the cheapest way to put the same
// rows into the same SQLite file: one prepared INSERT through the SQLite C API,
// bound and stepped per row, in one transaction. Both run in every iteration on
// one database file; ratio_to_floor is the stock save's time over the floor's.
#include "data_model/schema.h"
#include "data_model/transaction.h"
#include "host/dialogs.h"
#include "host/host_services.h"
#include "host/session.h"
#include "services/stock_codes.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRecords = 100000;

// A run that shows any message has failed.
class FailOnMessage : public fp::Dialogs {
public:
    void message(const QString& text) override {
        std::fprintf(stderr, "unexpected message: %s\n", text.toUtf8().constData());
        std::abort();
    }
    int question(const QString&) override { return 2; }
    QString treeSelect(const fp::TreeSelectRequest&) override { return QString(); }
};

struct Row {
    QString lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz, fsrq;
};

std::vector<Row> makeRows(int n) {
    std::vector<Row> rows;
    rows.reserve(n);
    for (int i = 0; i < n; ++i) {
        const int first = (i % 1000) * 100 + 1;
        rows.push_back({QStringLiteral("LG%1").arg(i, 10, 10, QLatin1Char('0')), QStringLiteral("13702000000"),
                        QStringLiteral("3702000012345"), QStringLiteral("50"),
                        QStringLiteral("2370200%1").arg(i / 1000, 5, 10, QLatin1Char('0')),
                        QStringLiteral("%1").arg(first, 8, 10, QLatin1Char('0')),
                        QStringLiteral("%1").arg(first + 99, 8, 10, QLatin1Char('0')),
                        i % 3 == 0 ? QStringLiteral("") : QStringLiteral("%1").arg(first + 9, 8, 10, QLatin1Char('0')),
                        QStringLiteral("0"),
                        QStringLiteral("2024-%1-15 09:30:00").arg(i % 12 + 1, 2, 10, QLatin1Char('0'))});
    }
    return rows;
}

// The stock text of `rows`: "lg" records, dates as the tax service writes them.
QString stockText(const std::vector<Row>& rows) {
    QStringList records;
    records.reserve(qsizetype(rows.size()));
    for (const Row& r : rows) {
        const QString serverDate = r.fsrq.left(4) + r.fsrq.mid(5, 2) + r.fsrq.mid(8, 2) + r.fsrq.mid(10);
        records.append(QStringList{QStringLiteral("lg"), r.lglsh, r.swjgdm, r.sxh, r.fpzlbm, r.fpdm, r.fpqh, r.fpzh,
                                   r.zjsyh, r.bjbz, serverDate}
                           .join(QStringLiteral("|@|")));
    }
    return records.join(QStringLiteral("|&|"));
}

bool clearStock(fp::Transaction& t) { return t.exec(QStringLiteral("DELETE FROM bdcja_fplg")) && t.commit(); }

// The floor: the SQLite C API on a connection of its own to the same file, with
// the pragmas the client sets; one prepared insert, bound and stepped per row,
// in one transaction. No driver layer stands between it and the engine.
class CFloor {
public:
    explicit CFloor(const QString& file) {
        if (sqlite3_open(file.toUtf8().constData(), &db_) != SQLITE_OK) fail("open");
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=FULL");
        exec("PRAGMA busy_timeout=5000");
        if (sqlite3_prepare_v2(db_,
                               "INSERT INTO bdcja_fplg ( lglsh , swjgdm , sxh , fpzlbm , fpdm , fpqh , fpzh , "
                               "zjsyh , bjbz , fsrq ) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ? )",
                               -1, &insert_, nullptr) != SQLITE_OK)
            fail("prepare");
    }
    ~CFloor() {
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
    }
    CFloor(const CFloor&) = delete;
    CFloor& operator=(const CFloor&) = delete;

    // The rows' texts are converted before the clock starts, as a caller of the
    // C API holding UTF-8 would have them.
    bool insertAll(const std::vector<std::array<QByteArray, 10>>& rows) {
        exec("BEGIN");
        for (const auto& row : rows) {
            for (int c = 0; c < 10; ++c)
                sqlite3_bind_text(insert_, c + 1, row[c].constData(), int(row[c].size()), SQLITE_STATIC);
            if (sqlite3_step(insert_) != SQLITE_DONE) {
                std::fprintf(stderr, "floor insert: %s\n", sqlite3_errmsg(db_));
                sqlite3_reset(insert_);
                exec("ROLLBACK");
                return false;
            }
            sqlite3_reset(insert_);
        }
        exec("COMMIT");
        return true;
    }

private:
    void exec(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
    }
    [[noreturn]] void fail(const char* what) {
        std::fprintf(stderr, "floor %s: %s\n", what, db_ ? sqlite3_errmsg(db_) : "no connection");
        std::abort();
    }
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
};

std::vector<std::array<QByteArray, 10>> utf8Rows(const std::vector<Row>& rows) {
    std::vector<std::array<QByteArray, 10>> out;
    out.reserve(rows.size());
    for (const Row& r : rows)
        out.push_back({r.lglsh.toUtf8(), r.swjgdm.toUtf8(), r.sxh.toUtf8(), r.fpzlbm.toUtf8(), r.fpdm.toUtf8(),
                       r.fpqh.toUtf8(), r.fpzh.toUtf8(), r.zjsyh.toUtf8(), r.bjbz.toUtf8(), r.fsrq.toUtf8()});
    return out;
}

void BM_SaveStock(benchmark::State& state) {
    const int n = int(state.range(0));
    QTemporaryDir dir;
    QString error;
    auto sqlca = fp::Transaction::openSqlite(dir.filePath(QStringLiteral("bench.db")), &error);
    if (!sqlca || !fp::createSchema(*sqlca, &error)) {
        state.SkipWithError(("database: " + error.toStdString()).c_str());
        return;
    }
    const std::vector<Row> rows = makeRows(n);
    const QString text = stockText(rows);
    const auto floorRows = utf8Rows(rows);
    CFloor cfloor(dir.filePath(QStringLiteral("bench.db")));

    fp::Session session;
    session.gs_sysuserid = rows.front().sxh;
    session.sqlca = sqlca.get();
    FailOnMessage dialogs;
    fp::HostServices host(session, dialogs);

    using Clock = std::chrono::steady_clock;
    double saveSeconds = 0, floorSeconds = 0;
    for (auto _ : state) {
        if (!clearStock(*sqlca)) {
            state.SkipWithError("clear failed");
            return;
        }
        auto t0 = Clock::now();
        if (!cfloor.insertAll(floorRows)) {
            state.SkipWithError("floor failed");
            return;
        }
        const double floor = std::chrono::duration<double>(Clock::now() - t0).count();

        if (!clearStock(*sqlca)) {
            state.SkipWithError("clear failed");
            return;
        }
        t0 = Clock::now();
        const bool ok = fp::gf_save_fplgqk(host, text);
        const double save = std::chrono::duration<double>(Clock::now() - t0).count();
        if (!ok) {
            state.SkipWithError("gf_save_fplgqk failed");
            return;
        }
        state.SetIterationTime(save);
        saveSeconds += save;
        floorSeconds += floor;
    }
    QVariantList count;
    if (sqlca->selectInto(QStringLiteral("SELECT count(*) FROM bdcja_fplg"), {}, count) != 0) count = {0};
    if (count.isEmpty() || count.first().toInt() != n) state.SkipWithError("wrong row count after the save");
    state.counters["records"] = n;
    state.counters["floor_s"] = floorSeconds / double(state.iterations());
    state.counters["ratio_to_floor"] = floorSeconds > 0 ? saveSeconds / floorSeconds : 0;
}

BENCHMARK(BM_SaveStock)->Arg(kRecords)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
