// The issuing window on a database of a busy taxpayer: starting an integrated
// invoice (ue_start: kind, stock and usage checks, the status request, forms
// opened and pre-filled) and saving one with two item lines (ue_save: header,
// lines, stock, log, upload over loopback HTTP, commit).
//
// Database, built once per process in a temporary directory:
//   - 100,000 open stock batches of the taxpayer, each of its own invoice code
//     (all of kind "50", every code in bm_bdcja_fpdm), numbers 00000001-00001000
//     with 00000010 used;
//   - 1,000,000 invoices in ptfp_fpk: numbers 00000001-00000010 of every code;
//   - item lines, two per invoice, for the first 100,000 invoices (200,000
//     rows): the lines table is only written on this path, so its size matters
//     to index upkeep, not to any lookup.
// Two of the batches are widened to 09999999: the window issues on one, the
// floor on the other, each moving on to a fresh number every time.
//
// The floor, measured in every iteration of both benchmarks: the statements of
// the two commands run bare on the same connection in one transaction, each
// prepared once (SELECT fpzlbm, the stock and usage counts, INSERT header,
// INSERT two lines, UPDATE stock, INSERT log, commit), plus one minimal
// authenticated POST to the same loopback server through the same transport.
// ratio_to_floor is the command's time over the part of the floor that the
// command itself does: start = the reads + the POST; save = the writes, the
// commit + the POST. floor_ms is that part; the other counters split it.
#include "data_model/data_store.h"
#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/demo_data.h"
#include "data_model/schema.h"
#include "data_model/transaction.h"
#include "host/dialogs.h"
#include "host/host_services.h"
#include "host/http_transport.h"
#include "host/judge_column.h"
#include "host/session.h"
#include "issuing/w_fp_invoicing.h"
#include "taxsim/http_server.h"
#include "taxsim/service.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr int kBatches = 100000;
constexpr int kPerCode = 10; // invoices 1..10 of every code
constexpr int kInvoicesWithLines = 100000;
constexpr int kWindowBatch = 4242; // the code the window issues on
constexpr int kFloorBatch = 77777; // the code the floor writes on

QString s(const char* utf8) { return QString::fromUtf8(utf8); }
QString number8(int n) { return QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0')); }
QString codeOf(int batch) { return QStringLiteral("23710%1").arg(batch, 7, 10, QLatin1Char('0')); }
QString lglshOf(int batch) { return QStringLiteral("BLG%1").arg(batch, 10, 10, QLatin1Char('0')); }

const QString kHeaderColumns = QStringLiteral(
    "fpdm, fphm, fpzlbm, swjgdm, sxh, fpzt, fkfmc, fkfzjlx, fkfzjhm, zbrbz, skfmc, skfzjlx, skfzjhm, skflxdh, "
    "fbrbz, hjje, hjdx, sl, se, wspzh, bz, kpr, bcrq, kprq, drcs, userid, username, mjlx, extprop1, extprop2, "
    "extprop3, extprop4, extprop5");
const QString kLineColumns = QStringLiteral(
    "fpdm, fphm, xmmc, xmbh, jsxm, bdclph, mj, dj, kxxz, je, wspzh, extprop1, extprop2, extprop3, extprop4, extprop5");

QString marks(int n) {
    QStringList l;
    for (int i = 0; i < n; ++i) l << QStringLiteral("?");
    return l.join(QStringLiteral(", "));
}

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "issuing_bench: %s\n", what.toUtf8().constData());
    std::exit(2);
}

bool run(QSqlQuery& q, const QVariantList& binds) {
    for (int i = 0; i < binds.size(); ++i) q.bindValue(i, binds.at(i));
    return q.exec();
}

fp::Decimal dec(qint64 cents) { return fp::Decimal::fromCents(cents); }

// Header values of an issued integrated invoice, in kHeaderColumns order, as
// the window would store them (amounts and dates in their stored forms).
QVariantList headerRow(const fp::Dialect& d, const QString& code, const QString& number, const QDateTime& at,
                       int variant) {
    using namespace fp::demo;
    const qint64 cents = 10000 + (variant % 997) * 125;
    return {code,
            number,
            QStringLiteral("50"),
            s(kSwjgdm),
            s(kSxh),
            QStringLiteral("1"),
            s("示范建筑工程有限公司"),
            s("组织机构代码"),
            QStringLiteral("MA3C0001-2"),
            QString(),
            s(kTaxpayerName),
            s("纳税人识别号"),
            s(kNsrsbh),
            s(kNsrlxdh),
            QString(),
            d.encodeDecimal(dec(cents)),
            s("壹佰元整"),
            QVariant(),
            QVariant(),
            QString(),
            QString(),
            variant % 2 ? s("张晓明") : s("李丽"),
            d.encodeDateTime(at),
            d.encodeDateTime(at),
            0,
            QString(),
            QString(),
            QString(),
            QString(),
            QString(),
            QString(),
            QString(),
            QString()};
}

QVariantList lineRow(const fp::Dialect& d, const QString& code, const QString& number, int line) {
    return {code,
            number,
            line == 1 ? s("餐饮服务") : s("住宿费"),
            QString(),
            QString(),
            QString(),
            d.encodeDecimal(dec(100)),
            d.encodeDecimal(dec(12000)),
            QString(),
            d.encodeDecimal(dec(12000)),
            QString(),
            QVariant(),
            QVariant(),
            QString(),
            QString(),
            QString()};
}

// The bulk load: one prepared statement per table in one transaction, on a
// connection of its own without a journal (the file is thrown away on failure).
void loadVolume(const QString& path) {
    using namespace fp::demo;
    const auto t0 = Clock::now();
    QString error;
    {
        auto t = fp::Transaction::openSqlite(path, &error);
        if (!t || !fp::createSchema(*t, &error) || !fp::createDemoData(*t, &error))
            die(QStringLiteral("schema: ") + error);
    }
    const auto dialect = fp::Dialect::forKind(fp::Dialect::Kind::SQLite); // the stored forms
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_load"));
        db.setDatabaseName(path);
        if (!db.open()) die(db.lastError().text());
        QSqlQuery p(db);
        for (const char* pragma : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=OFF", "PRAGMA cache_size=-262144"})
            if (!p.exec(QString::fromLatin1(pragma))) die(p.lastError().text());
        p.finish();
        if (!db.transaction()) die(db.lastError().text());
        QSqlQuery code(db), stock(db), header(db), line(db);
        code.prepare(QStringLiteral("INSERT INTO bm_bdcja_fpdm (fpdm, fpzlbm) VALUES (?, '50')"));
        stock.prepare(
            QStringLiteral("INSERT INTO bdcja_fplg (lglsh, swjgdm, sxh, fpzlbm, fpdm, fpqh, fpzh, zjsyh, bjbz, "
                           "fsrq) VALUES (?, ?, ?, '50', ?, '00000001', ?, ?, '0', ?)"));
        header.prepare(QStringLiteral("INSERT INTO ptfp_fpk (%1) VALUES (%2)").arg(kHeaderColumns, marks(33)));
        line.prepare(QStringLiteral("INSERT INTO ptfp_fpxmmx (%1) VALUES (%2)").arg(kLineColumns, marks(16)));
        const QDateTime sold(QDate(2024, 1, 5), QTime(9, 0, 0));
        const QVariant soldStored = dialect->encodeDateTime(sold);
        int invoice = 0;
        for (int b = 0; b < kBatches; ++b) {
            const QString fpdm = codeOf(b);
            const bool wide = b == kWindowBatch || b == kFloorBatch;
            if (!run(code, {fpdm})) die(code.lastError().text());
            if (!run(stock, {lglshOf(b), s(kSwjgdm), s(kSxh), fpdm, wide ? QStringLiteral("09999999") : number8(1000),
                             number8(kPerCode), soldStored}))
                die(stock.lastError().text());
            for (int n = 1; n <= kPerCode; ++n, ++invoice) {
                const QString fphm = number8(n);
                const QDateTime at = sold.addSecs(qint64(invoice) * 7);
                if (!run(header, headerRow(*dialect, fpdm, fphm, at, invoice))) die(header.lastError().text());
                if (invoice < kInvoicesWithLines)
                    for (int l = 1; l <= 2; ++l)
                        if (!run(line, lineRow(*dialect, fpdm, fphm, l))) die(line.lastError().text());
            }
        }
        code.finish();
        stock.finish();
        header.finish();
        line.finish();
        if (!db.commit()) die(db.lastError().text());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_load"));
    std::fprintf(stderr, "issuing_bench: %d invoices, %d lines, %d batches loaded in %.1f s\n", kBatches * kPerCode,
                 2 * kInvoicesWithLines, kBatches, secondsSince(t0));
}

// Questions are answered yes; messages are kept for the check after a command.
class YesDialogs : public fp::Dialogs {
public:
    void message(const QString& text) override { messages << text; }
    int question(const QString&) override { return 1; }
    QString treeSelect(const fp::TreeSelectRequest&) override { return QString(); }
    QStringList messages;
};

// The bare statements and the bare exchange.
class Floor {
public:
    Floor(fp::Transaction& t, fp::HttpTransport& http)
        : t_(t), http_(http), kind_(t.db()), stock_(t.db()), used_(t.db()), header_(t.db()), line_(t.db()),
          update_(t.db()), log_(t.db()) {
        bool ok =
            kind_.prepare(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?")) &&
            stock_.prepare(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE sxh = ? AND fpdm = ? AND "
                                          "fpzlbm = ? AND fpqh <= ? AND fpzh >= ? AND bjbz = '0'")) &&
            used_.prepare(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?")) &&
            header_.prepare(QStringLiteral("INSERT INTO ptfp_fpk (%1) VALUES (%2)").arg(kHeaderColumns, marks(33))) &&
            line_.prepare(QStringLiteral("INSERT INTO ptfp_fpxmmx (%1) VALUES (%2)").arg(kLineColumns, marks(16))) &&
            update_.prepare(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = ? WHERE fpdm = ? AND fpzlbm = ? AND "
                                           "fpqh <= ? AND fpzh >= ?")) &&
            log_.prepare(QStringLiteral("INSERT INTO bdcja_fpk_log ( fpdm, fphm, sxh, czlx, kpr, czrq ) VALUES "
                                        "( ?, ?, ?, '1', ?, %1 )")
                             .arg(t.dialect().currentTime()));
        if (!ok) die(QStringLiteral("floor statements do not prepare"));
    }

    struct Times {
        double reads = 0, writes = 0, http = 0;
        double total() const { return reads + writes + http; }
    };

    // One invoice of the floor's code, with the next number.
    Times once() {
        using namespace fp::demo;
        const QString fpdm = codeOf(kFloorBatch);
        const QString fphm = number8(++last_);
        Times times;
        auto t0 = Clock::now();
        QSqlDatabase& db = t_.db();
        if (!db.transaction()) die(db.lastError().text());
        if (!run(kind_, {fpdm}) || !kind_.next() || kind_.value(0).toString() != QLatin1String("50"))
            die(QStringLiteral("floor kind"));
        kind_.finish();
        if (!run(stock_, {s(kSxh), fpdm, QStringLiteral("50"), fphm, fphm}) || !stock_.next() ||
            stock_.value(0).toInt() != 1)
            die(QStringLiteral("floor stock"));
        stock_.finish();
        if (!run(used_, {fpdm, fphm}) || !used_.next() || used_.value(0).toInt() != 0)
            die(QStringLiteral("floor usage"));
        used_.finish();
        times.reads = secondsSince(t0);

        t0 = Clock::now();
        const QDateTime at = QDateTime::currentDateTime();
        if (!run(header_, headerRow(t_.dialect(), fpdm, fphm, at, last_))) die(header_.lastError().text());
        for (int l = 1; l <= 2; ++l)
            if (!run(line_, lineRow(t_.dialect(), fpdm, fphm, l))) die(line_.lastError().text());
        if (!run(update_, {fphm, fpdm, QStringLiteral("50"), fphm, fphm}) || update_.numRowsAffected() != 1)
            die(QStringLiteral("floor stock update"));
        if (!run(log_, {fpdm, fphm, s(kSxh), s(kUserName)})) die(log_.lastError().text());
        if (!db.commit()) die(db.lastError().text());
        times.writes = secondsSince(t0);

        t0 = Clock::now();
        const fp::RemoteResult r =
            http_.post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90001\r\n"), 20000);
        if (r.kind != fp::RemoteResult::Kind::Ok || !r.body.startsWith(QLatin1String("ok|@|")))
            die(QStringLiteral("floor exchange: ") + r.body + r.detail);
        times.http = secondsSince(t0);
        return times;
    }

private:
    fp::Transaction& t_;
    fp::HttpTransport& http_;
    QSqlQuery kind_, stock_, used_, header_, line_, update_, log_;
    int last_ = kPerCode;
};

// The database, the tax service on loopback HTTP, and the issuing window open
// on the window's code; built on first use and kept for the process.
class Bench {
public:
    static Bench& get() {
        if (!instance_) instance_.reset(new Bench());
        return *instance_;
    }
    // Before the application object goes.
    static void release() { instance_.reset(); }
    ~Bench() {
        floor_.reset();
        win_.reset();
        host_.reset();
        http_->stop();
    }

    fp::w_fp_invoicing& window() { return *win_; }
    YesDialogs& dialogs() { return dialogs_; }
    Floor& floor() { return *floor_; }
    fp::Transaction& sqlca() { return *sqlca_; }

    // The number the window offers next for its code.
    QString nextNumber() const {
        if (win_->ddlb_fphm.count() < 1) die(QStringLiteral("no number offered"));
        return win_->ddlb_fphm.items().front().text;
    }

    // ue_start on the offered number; false (with the messages) when it did not open.
    bool start() {
        win_->ddlb_fphm.setText(nextNumber());
        dialogs_.messages.clear();
        return win_->raise(QStringLiteral("ue_start")) == 1 && dialogs_.messages.isEmpty();
    }

    // The payer and two item lines, typed as a user would.
    void fill() {
        fp::w_fp_invoicing& w = *win_;
        w.dw_fp.typeInto(1, QStringLiteral("fkfmc"), s("示范建筑工程有限公司"));
        w.dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), s("组织机构代码"));
        w.dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("MA3C0001-2"));
        const QList<QPair<const char*, const char*>> lines = {{"餐饮服务", "2"}, {"住宿费", "1.5"}};
        for (int i = 0; i < lines.size(); ++i) {
            const int row = i + 1;
            if (row > w.dw_xm.store()->rowCount()) w.raise(QStringLiteral("ue_newproj"));
            w.dw_xm.typeInto(row, QStringLiteral("xmmc"), s(lines[i].first));
            w.dw_xm.typeInto(row, QStringLiteral("mj"), QString::fromLatin1(lines[i].second));
        }
    }

private:
    Bench() {
        using namespace fp::demo;
        fp::installFormHostFunctions();
        if (!dir_.isValid()) die(QStringLiteral("no temporary directory"));
        const QString path = dir_.filePath(QStringLiteral("issuing.db"));
        loadVolume(path);
        QString error;
        sqlca_ = fp::Transaction::openSqlite(path, &error);
        if (!sqlca_) die(error);

        service_ = std::make_shared<taxsim::Service>();
        service_->seedDemo();
        const QString code = codeOf(kWindowBatch);
        service_->addCode(code, QStringLiteral("50"));
        if (!service_->addPurchase({lglshOf(kWindowBatch),
                                    s(kSxh),
                                    code,
                                    number8(1),
                                    QStringLiteral("09999999"),
                                    {},
                                    {},
                                    QStringLiteral("0"),
                                    QDateTime(QDate(2024, 1, 5), QTime(9, 0, 0))},
                                   &error))
            die(QStringLiteral("purchase: ") + error);
        http_ = std::make_unique<taxsim::HttpServer>(service_);
        if (!http_->start(0)) die(QStringLiteral("server: ") + http_->error());
        transport_ =
            std::make_shared<fp::HttpTransport>(http_->baseUrl(), fp::RemoteCredentials{s(kSxh), s(kPassword)});
        floorTransport_ =
            std::make_unique<fp::HttpTransport>(http_->baseUrl(), fp::RemoteCredentials{s(kSxh), s(kPassword)});

        session_.gs_userid = s(kUserId);
        session_.gs_username = s(kUserName);
        session_.gs_sysuserid = s(kSxh);
        session_.gs_sysusername = s(kTaxpayerName);
        session_.gs_nsrsbh = s(kNsrsbh);
        session_.gs_nsrlxdh = s(kNsrlxdh);
        session_.gs_ssswjgdm = s(kSwjgdm);
        session_.gs_kprmc = s("张晓明");
        session_.sqlca = sqlca_.get();
        host_ = std::make_unique<fp::HostServices>(session_, dialogs_);
        host_->setTransport(transport_);

        const auto t0 = Clock::now();
        win_ = std::make_unique<fp::w_fp_invoicing>(*host_);
        if (!win_->open(fp::OpenParams{1, QString()}) || !win_->ib_write)
            die(QStringLiteral("the window did not open for issuing"));
        int index = 0;
        for (int i = 1; i <= win_->ddlb_fpdm.count() && index == 0; ++i)
            if (win_->ddlb_fpdm.of_getid(i) == code) index = i;
        if (index == 0) die(QStringLiteral("the window's code is not offered"));
        win_->ddlb_fpdm.select(index);
        std::fprintf(stderr, "issuing_bench: window opened (%d codes offered) in %.2f s\n", win_->ddlb_fpdm.count(),
                     secondsSince(t0));
        floor_ = std::make_unique<Floor>(*sqlca_, *floorTransport_);
    }

    QTemporaryDir dir_;
    std::unique_ptr<fp::Transaction> sqlca_;
    std::shared_ptr<taxsim::Service> service_;
    std::unique_ptr<taxsim::HttpServer> http_;
    std::shared_ptr<fp::HttpTransport> transport_;
    std::unique_ptr<fp::HttpTransport> floorTransport_;
    fp::Session session_;
    YesDialogs dialogs_;
    std::unique_ptr<fp::HostServices> host_;
    std::unique_ptr<fp::w_fp_invoicing> win_;
    std::unique_ptr<Floor> floor_;
    static std::unique_ptr<Bench> instance_;
};
std::unique_ptr<Bench> Bench::instance_;

// `own` is the part of the floor the command does; the ratio divides by it
// alone, never by statements the command does not run.
void report(benchmark::State& state, double command, const Floor::Times& floor, double own) {
    const double n = double(state.iterations());
    state.counters["floor_ms"] = 1000 * own / n;
    state.counters["floor_reads_ms"] = 1000 * floor.reads / n;
    state.counters["floor_writes_ms"] = 1000 * floor.writes / n;
    state.counters["floor_http_ms"] = 1000 * floor.http / n;
    state.counters["ratio_to_floor"] = own > 0 ? command / own : 0;
}

void add(Floor::Times& sum, const Floor::Times& t) {
    sum.reads += t.reads;
    sum.writes += t.writes;
    sum.http += t.http;
}

// ue_start on kind "50"; from the second run on, the open invoice is discarded
// (the question is answered yes) before the checks.
void BM_Start(benchmark::State& state) {
    Bench& b = Bench::get();
    double command = 0;
    Floor::Times floor;
    for (auto _ : state) {
        add(floor, b.floor().once());
        b.window().ddlb_fphm.setText(b.nextNumber());
        b.dialogs().messages.clear();
        const auto t0 = Clock::now();
        const long rc = b.window().raise(QStringLiteral("ue_start"));
        const double t = secondsSince(t0);
        if (rc != 1 || !b.dialogs().messages.isEmpty()) {
            state.SkipWithError(("ue_start: " + b.dialogs().messages.join(u'|').toStdString()).c_str());
            return;
        }
        state.SetIterationTime(t);
        command += t;
    }
    report(state, command, floor, floor.reads + floor.http);
}

// ue_save of an invoice with two lines; each run issues the next number of the code.
void BM_Save(benchmark::State& state) {
    Bench& b = Bench::get();
    double command = 0;
    Floor::Times floor;
    for (auto _ : state) {
        add(floor, b.floor().once());
        if (!b.start()) {
            state.SkipWithError(("ue_start: " + b.dialogs().messages.join(u'|').toStdString()).c_str());
            return;
        }
        b.fill();
        const QString number = b.window().is_fphm;
        b.dialogs().messages.clear();
        const auto t0 = Clock::now();
        const long rc = b.window().raise(QStringLiteral("ue_save"));
        const double t = secondsSince(t0);
        if (rc != 1 || b.dialogs().messages != QStringList{QStringLiteral("数据保存成功！")}) {
            state.SkipWithError(("ue_save: " + b.dialogs().messages.join(u'|').toStdString()).c_str());
            return;
        }
        if (b.nextNumber() <= number) {
            state.SkipWithError("the number list did not move on");
            return;
        }
        state.SetIterationTime(t);
        command += t;
    }
    report(state, command, floor, floor.writes + floor.http);
}

BENCHMARK(BM_Start)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Bench::release();
    return 0;
}
