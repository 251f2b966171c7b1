// Storing a large purchased-stock text against the cheapest way to put the same
// rows into the same SQLite file: one prepared INSERT, bound and run per row,
// in one transaction. Both run in every iteration on one database file; the
// counter ratio_to_floor is the stock save's time over the floor's.
#include "data_model/schema.h"
#include "data_model/transaction.h"
#include "host/dialogs.h"
#include "host/host_services.h"
#include "host/session.h"
#include "services/stock_codes.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>

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
                        QStringLiteral("0"), QStringLiteral("2024-%1-15 09:30:00").arg(i % 12 + 1, 2, 10, QLatin1Char('0'))});
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

bool clearStock(fp::Transaction& t) {
    return t.exec(QStringLiteral("DELETE FROM bdcja_fplg")) && t.commit();
}

// The floor: a prepared insert per row in one transaction.
bool insertFloor(fp::Transaction& t, const std::vector<Row>& rows) {
    QSqlDatabase& db = t.db();
    if (!db.transaction()) return false;
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO bdcja_fplg ( lglsh , swjgdm , sxh , fpzlbm , fpdm , fpqh , fpzh , "
                                  "zjsyh , bjbz , fsrq ) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ? )")))
        return false;
    for (const Row& r : rows) {
        q.bindValue(0, r.lglsh);
        q.bindValue(1, r.swjgdm);
        q.bindValue(2, r.sxh);
        q.bindValue(3, r.fpzlbm);
        q.bindValue(4, r.fpdm);
        q.bindValue(5, r.fpqh);
        q.bindValue(6, r.fpzh);
        q.bindValue(7, r.zjsyh);
        q.bindValue(8, r.bjbz);
        q.bindValue(9, r.fsrq);
        if (!q.exec()) {
            std::fprintf(stderr, "floor insert: %s\n", q.lastError().text().toUtf8().constData());
            db.rollback();
            return false;
        }
    }
    return db.commit();
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
        if (!insertFloor(*sqlca, rows)) {
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
    sqlca->selectInto(QStringLiteral("SELECT count(*) FROM bdcja_fplg"), {}, count);
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
