// The invoice register on a big owner account: the list of one month ready to
// show, the summary of a month, and the export of 100,000 listed invoices.
//
// Database, built once per engine and run in a temporary database (SQLite; and
// PostgreSQL when FPDESK_TEST_PG_URL names a server), by multi-row prepared
// INSERTs in one transaction:
//   - FPDESK_BENCH_INVOICES (default 1,000,000) invoices of the owner over 36
//     months 2023-01 to 2025-12 (about 28,000 a month): 80 % integrated ("50",
//     ptfp_fpk), 12 % real estate ("20") and 8 % building ("40") in bdcja_fpk;
//     one code per kind and year, numbers in issue order; 3 % voided, 2 % of
//     the integrated ones red-letter (reversing the invoice before), 0.1 %
//     blank voids (no issue date, a save date);
//   - a purchased batch of 1,000 numbers in bdcja_fplg for every 1,000 numbers
//     used (bought two days before its first number's invoice), the last batch
//     of each code partly used;
//   - 5 % more invoices of another owner on codes of their own.
// PostgreSQL gets ANALYZE after the load, as its autovacuum would do on a real
// office database; SQLite gets none, as the client never runs it.
//
// The plans of the month list and of the summary's statements (EXPLAIN QUERY
// PLAN on SQLite; EXPLAIN on PostgreSQL, for the first run of a prepared
// statement and for a run after the sixth, when the server may have moved to a
// generic plan) are printed to standard error once per engine.
//
// Benchmarks, each with its floor measured in every iteration on the same
// connection or into the same folder; ratio_to_floor is the operation's time
// over the floor's, ms and floor_ms their means, goal_ms the time the
// operation is meant to stay under (reported, not asserted):
//   MonthList/ENGINE   readRegister + registerTotals + registerReport of the
//                      last month; floor: the same SELECT prepared once, run
//                      bare (rows stepped, values read as QVariant).
//   MonthSummary/ENGINE readMonthlySummary of the last month; floor: its
//                      grouped statement run bare. all_bare_ms: every
//                      statement of the summary run bare.
//   Export/xlsx, Export/csv  exportReport of a register report of 100,000 rows;
//                      floors: the same cells written bare with libxlsxwriter,
//                      the same bytes written bare with QFile. The export makes
//                      its file durable (fsync) before it takes the target's
//                      place; floor_fsync_ms is an fsync of the floor's file.
#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "services/invoice_register.h"
#include "services/monthly_summary.h"
#include "services/register_report.h"
#include "services/table_export.h"
#include "tests/support/temp_db.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr int kMonths = 36;
constexpr int kFirstYear = 2023;
constexpr int kBatchSize = 1000;
constexpr int kRowsPerInsert = 100;
constexpr int kExportRows = 100000;
const QString kLastMonth = QStringLiteral("2025-12");
const QString kOwner = QString::fromLatin1(fp::demo::kSxh);
const QString kOtherOwner = QStringLiteral("3702000099999");
const QString kSwjgdm = QString::fromLatin1(fp::demo::kSwjgdm);

int invoiceTarget() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("FPDESK_BENCH_INVOICES", &ok);
    return ok && n > 0 ? n : 1000000;
}

[[noreturn]] void die(const QString& what) {
    std::fprintf(stderr, "register_bench: %s\n", what.toUtf8().constData());
    std::exit(1);
}

// ---------------------------------------------------------------- the database

// Rows of one header table, written kRowsPerInsert at a time by one prepared
// multi-row INSERT (and a last, shorter one).
class BulkInsert {
public:
    BulkInsert(fp::Transaction& t, QString table, QStringList columns)
        : t_(t), table_(std::move(table)), columns_(std::move(columns)) {}
    void add(const QVariantList& row) {
        for (const QVariant& v : row) pending_ << t_.encode(v);
        if (++rows_ == kRowsPerInsert) flush();
    }
    void flush() {
        if (rows_ == 0) return;
        QSqlQuery& q = queryFor(rows_);
        for (int i = 0; i < pending_.size(); ++i) q.bindValue(i, pending_.at(i));
        if (!q.exec()) die(table_ + QStringLiteral(": ") + q.lastError().text());
        pending_.clear();
        rows_ = 0;
    }

private:
    QSqlQuery& queryFor(int rows) {
        auto& q = queries_[rows];
        if (q) return *q;
        const QString one = QStringLiteral("(") + QStringList(columns_.size(), QStringLiteral("?")).join(u',') + u')';
        q = std::make_unique<QSqlQuery>(t_.db());
        if (!q->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table_, columns_.join(u',')) +
                        QStringList(rows, one).join(u',')))
            die(table_ + QStringLiteral(": ") + q->lastError().text());
        return *q;
    }
    fp::Transaction& t_;
    QString table_;
    QStringList columns_;
    QVariantList pending_;
    int rows_ = 0;
    std::map<int, std::unique_ptr<QSqlQuery>> queries_;
};

struct Kind {
    const char* fpzlbm;
    bool integrated; // ptfp_fpk; else bdcja_fpk
};
// 20 integrated, 3 real estate, 2 building out of every 25 invoices.
const Kind& kindOf(int j) {
    static const Kind integrated{"50", true}, estate{"20", false}, building{"40", false};
    const int k = j % 25;
    return k < 20 ? integrated : k < 23 ? estate : building;
}

// The numbers of one code: handed out in order, a batch bought for every
// kBatchSize of them.
struct CodeState {
    QString fpdm;
    int next = 1;
};

QString number8(int n) { return QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0')); }

class Loader {
public:
    explicit Loader(fp::Transaction& t)
        : t_(t),
          ptfp_(t, QStringLiteral("ptfp_fpk"),
                {QStringLiteral("fpdm"), QStringLiteral("fphm"), QStringLiteral("fpzlbm"), QStringLiteral("swjgdm"),
                 QStringLiteral("sxh"), QStringLiteral("fpzt"), QStringLiteral("fkfmc"), QStringLiteral("fkfzjhm"),
                 QStringLiteral("hjje"), QStringLiteral("kpr"), QStringLiteral("bcrq"), QStringLiteral("kprq"),
                 QStringLiteral("drcs"), QStringLiteral("extprop1"), QStringLiteral("extprop2")}),
          bdcja_(t, QStringLiteral("bdcja_fpk"),
                 {QStringLiteral("fpdm"), QStringLiteral("fphm"), QStringLiteral("fpzlbm"), QStringLiteral("swjgdm"),
                  QStringLiteral("sxh"), QStringLiteral("fpzt"), QStringLiteral("fkfmc"), QStringLiteral("fkfzjhm"),
                  QStringLiteral("hjje"), QStringLiteral("kpr"), QStringLiteral("bcrq"), QStringLiteral("kprq"),
                  QStringLiteral("drcs")}),
          stock_(t, QStringLiteral("bdcja_fplg"),
                 {QStringLiteral("lglsh"), QStringLiteral("swjgdm"), QStringLiteral("sxh"), QStringLiteral("fpzlbm"),
                  QStringLiteral("fpdm"), QStringLiteral("fpqh"), QStringLiteral("fpzh"), QStringLiteral("zjsyh"),
                  QStringLiteral("bjbz"), QStringLiteral("fsrq")}),
          codes_(t, QStringLiteral("bm_bdcja_fpdm"), {QStringLiteral("fpdm"), QStringLiteral("fpzlbm")}) {}

    // The owner's invoices, and the other owner's.
    qint64 load(int invoices) {
        qint64 other = 0;
        for (int m = 0; m < kMonths; ++m) {
            const int from = int(qint64(invoices) * m / kMonths), to = int(qint64(invoices) * (m + 1) / kMonths);
            const QDateTime start(QDate(kFirstYear + m / 12, m % 12 + 1, 1), QTime(0, 0));
            const qint64 seconds = start.secsTo(start.addMonths(1));
            const int n = to - from;
            for (int j = 0; j < n; ++j) add(kOwner, from + j, j, start.addSecs(qint64(j) * seconds / n));
            // The other owner's, a twentieth as many.
            for (int j = 0; j < n / 20; ++j, ++other)
                add(kOtherOwner, int(other), j * 20, start.addSecs(qint64(j) * 20 * seconds / n));
        }
        ptfp_.flush();
        bdcja_.flush();
        stock_.flush();
        codes_.flush();
        return other;
    }

private:
    // Invoice `i` of `owner`, the `j`th of its month, issued at `when`.
    void add(const QString& owner, int i, int j, const QDateTime& when) {
        const Kind& kind = kindOf(j);
        CodeState& code = codeFor(owner, kind, when.date().year());
        const int number = code.next++;
        if ((number - 1) % kBatchSize == 0) buy(owner, kind, code, number, when.addDays(-2));
        // A spread of statuses, the same on every run.
        const quint32 h = quint32(i) * 2654435761u;
        const int pick = int(h % 1000);
        const bool blank = pick == 999;
        const bool voided = !blank && pick < 30;
        const bool red = kind.integrated && !blank && !voided && pick >= 30 && pick < 50 && number > 1;
        const qint64 cents = (red ? -1 : 1) * (1000 + qint64(h % 500000));
        static const QStringList issuers{QStringLiteral("张晓明"), QStringLiteral("李丽"), QStringLiteral("王强"),
                                         QStringLiteral("刘芳"), QStringLiteral("赵敏")};
        QVariantList row{code.fpdm,
                         number8(number),
                         QString::fromLatin1(kind.fpzlbm),
                         kSwjgdm,
                         owner,
                         blank    ? QStringLiteral("3")
                         : voided ? QStringLiteral("2")
                                  : QStringLiteral("1"),
                         blank ? QStringLiteral(" ") : QStringLiteral("示范客户%1有限公司").arg(h % 5000),
                         blank ? QStringLiteral(" ")
                               : QStringLiteral("91370200MA3C%1").arg(h % 100000, 5, 10, QLatin1Char('0')),
                         QVariant::fromValue(fp::Decimal::fromCents(blank ? 0 : cents)),
                         issuers.at(j % issuers.size()),
                         when,
                         blank ? QVariant(QMetaType::fromType<QDateTime>()) : QVariant(when),
                         qint64(h % 3)};
        if (kind.integrated) {
            row << (red ? QVariant(number8(number - 1)) : QVariant(QMetaType::fromType<QString>()))
                << (red ? QVariant(code.fpdm) : QVariant(QMetaType::fromType<QString>()));
            ptfp_.add(row);
        } else {
            bdcja_.add(row);
        }
    }

    CodeState& codeFor(const QString& owner, const Kind& kind, int year) {
        const QString key = owner + QLatin1Char('|') + QLatin1String(kind.fpzlbm) + QString::number(year);
        auto it = codes.find(key);
        if (it != codes.end()) return it->second;
        // Twelve digits: office, year, kind, owner.
        CodeState c;
        c.fpdm = QStringLiteral("1370200%1%2%3")
                     .arg(year % 100, 2, 10, QLatin1Char('0'))
                     .arg(QLatin1String(kind.fpzlbm))
                     .arg(owner == kOwner ? 1 : 9);
        codes_.add({c.fpdm, QString::fromLatin1(kind.fpzlbm)});
        return codes.emplace(key, c).first->second;
    }

    void buy(const QString& owner, const Kind& kind, const CodeState& code, int first, const QDateTime& when) {
        stock_.add({QStringLiteral("LG%1%2").arg(code.fpdm).arg(first, 8, 10, QLatin1Char('0')), kSwjgdm, owner,
                    QString::fromLatin1(kind.fpzlbm), code.fpdm, number8(first), number8(first + kBatchSize - 1),
                    QString(""), QStringLiteral("0"), when});
    }

    fp::Transaction& t_;
    BulkInsert ptfp_, bdcja_, stock_, codes_;
    std::map<QString, CodeState> codes;
};

// What a statement's run bare needs: its text (taken from the service's own
// run, so that both run the same statement) and its values.
struct Statement {
    QString sql;
    QVariantList binds;
};

// Records the text of every statement the transaction runs; fails none.
class StatementLog : public fp::StatementFaults {
public:
    QString failureFor(const QString& sql) override {
        if (sql != QLatin1String("COMMIT")) texts << sql;
        return QString();
    }
    QStringList texts;
};

struct Database {
    QString engine;
    std::unique_ptr<fp::test::TempDb> db;
    int invoices = 0;
    Statement monthList;            // the register's SELECT of the last month
    std::vector<Statement> summary; // the summary's statements, grouped one first
    double buildSeconds = 0;
};

QDateTime monthStart(const QString& month) { return QDateTime(fp::firstDayOfMonth(month), QTime(0, 0)); }

// The statements readRegister and readMonthlySummary run for the last month.
void captureStatements(Database& d) {
    fp::Transaction& t = d.db->tx();
    auto log = std::make_shared<StatementLog>();
    t.setStatementFaults(log);
    fp::RegisterFilter filter;
    filter.month = kLastMonth;
    QString error;
    if (!fp::readRegister(t, kOwner, filter, &error)) die(QStringLiteral("readRegister: ") + error);
    if (!fp::readMonthlySummary(t, kOwner, kLastMonth, &error)) die(QStringLiteral("readMonthlySummary: ") + error);
    t.setStatementFaults(nullptr);
    if (log->texts.size() != 4) die(QStringLiteral("expected 4 statements, saw %1").arg(log->texts.size()));
    const QDateTime from = monthStart(kLastMonth), to = from.addMonths(1);
    d.monthList = {log->texts.at(0), {kOwner, from, to, kOwner, from, to}};
    d.summary = {{log->texts.at(1), {kOwner, from, to, kOwner, from, to}},
                 {log->texts.at(2), {to, to, from, from, kOwner, to}},
                 {log->texts.at(3), {}}};
}

// A statement's text with PostgreSQL's numbered placeholders.
QString numberedPlaceholders(const QString& sql) {
    QString out;
    int n = 0;
    for (const QChar c : sql) out += c == u'?' ? QStringLiteral("$%1").arg(++n) : QString(c);
    return out;
}

QStringList planRows(QSqlQuery& q) {
    QStringList rows;
    while (q.next()) rows << q.value(q.record().count() - 1).toString();
    return rows;
}

// The plan of `s` as the engine runs it.
QStringList plan(fp::Transaction& t, const Statement& s, const QString& name) {
    QSqlQuery q(t.db());
    if (t.dialect().kind() == fp::Dialect::Kind::SQLite) {
        if (!q.prepare(QStringLiteral("EXPLAIN QUERY PLAN ") + s.sql)) return {q.lastError().text()};
        for (int i = 0; i < s.binds.size(); ++i) q.bindValue(i, t.encode(s.binds.at(i)));
        if (!q.exec()) return {q.lastError().text()};
        return planRows(q);
    }
    // An EXPLAIN cannot be prepared: the statement is, as the driver prepares
    // it, and its runs are explained with the values as the driver writes them.
    QStringList values;
    for (const QVariant& v : s.binds) {
        const QVariant encoded = t.encode(v);
        QSqlField field(QString(), encoded.metaType());
        field.setValue(encoded);
        values << t.db().driver()->formatValue(field);
    }
    if (!q.exec(QStringLiteral("PREPARE %1 AS %2").arg(name, numberedPlaceholders(s.sql))))
        return {q.lastError().text()};
    const QString run = QStringLiteral("EXPLAIN EXECUTE %1").arg(name) +
                        (values.isEmpty() ? QString() : QStringLiteral("(%1)").arg(values.join(u',')));
    QStringList rows;
    for (int i = 1; i <= 7; ++i) {
        if (!q.exec(run)) return {q.lastError().text()};
        const QStringList p = planRows(q);
        if (i == 1) rows << QStringLiteral("[first run]") << p;
        if (i == 7) rows << QStringLiteral("[seventh run]") << p;
    }
    (void)q.exec(QStringLiteral("DEALLOCATE ") + name); // the plan is read; a failure here changes nothing
    return rows;
}

void printPlans(Database& d) {
    auto print = [&](const char* what, const Statement& s, const QString& name) {
        std::fprintf(stderr, "plan engine=%s %s:\n", d.engine.toUtf8().constData(), what);
        for (const QString& line : plan(d.db->tx(), s, name)) std::fprintf(stderr, "  %s\n", line.toUtf8().constData());
    };
    print("month list", d.monthList, QStringLiteral("fp_plan_list"));
    print("summary, grouped lines", d.summary.at(0), QStringLiteral("fp_plan_lines"));
    print("summary, batches", d.summary.at(1), QStringLiteral("fp_plan_batches"));
    std::fflush(stderr);
}

std::unique_ptr<Database> buildDatabase(const QString& engine) {
    qputenv("FPDESK_TEST_ENGINE", engine.toLatin1());
    auto d = std::make_unique<Database>();
    d->engine = engine;
    d->invoices = invoiceTarget();
    try {
        d->db = std::make_unique<fp::test::TempDb>(fp::test::TempDb::Content::DemoData);
    } catch (const std::exception& e) {
        die(QString::fromUtf8(e.what()));
    }
    fp::Transaction& t = d->db->tx();
    const auto t0 = Clock::now();
    if (!t.begin()) die(t.sqlerrtext);
    Loader loader(t);
    const qint64 other = loader.load(d->invoices);
    if (!t.commit()) die(t.sqlerrtext);
    if (t.dialect().kind() == fp::Dialect::Kind::PostgreSQL) {
        QSqlQuery analyze(t.db()); // not a statement the server prepares
        if (!analyze.exec(QStringLiteral("ANALYZE"))) die(analyze.lastError().text());
    }
    d->buildSeconds = secondsSince(t0);
    std::fprintf(stderr, "database engine=%s invoices=%d other_owner=%lld build_s=%.1f\n", engine.toUtf8().constData(),
                 d->invoices, static_cast<long long>(other), d->buildSeconds);
    captureStatements(*d);
    printPlans(*d);
    return d;
}

std::map<QString, std::unique_ptr<Database>>& databases() {
    static std::map<QString, std::unique_ptr<Database>> all;
    return all;
}

Database& databaseFor(const QString& engine) {
    auto& slot = databases()[engine];
    if (!slot) slot = buildDatabase(engine);
    return *slot;
}

// ---------------------------------------------------------------- floors

// A SELECT prepared once on the transaction's connection and run bare: rows
// stepped, every value read as a QVariant.
class BareSelect {
public:
    BareSelect(fp::Transaction& t, const Statement& s) : t_(t), q_(t.db()), binds_(s.binds) {
        // The cheaper way on each engine: SQLite steps rows one by one; the
        // PostgreSQL driver reads a forward-only result a row per exchange
        // and a scrollable one in one piece.
        q_.setForwardOnly(t.dialect().kind() == fp::Dialect::Kind::SQLite);
        if (!q_.prepare(s.sql)) die(q_.lastError().text());
    }
    // The rows read; -1 on error.
    qint64 run() {
        for (int i = 0; i < binds_.size(); ++i) q_.bindValue(i, t_.encode(binds_.at(i)));
        if (!q_.exec()) return -1;
        const int columns = q_.record().count();
        qint64 rows = 0;
        while (q_.next()) {
            for (int c = 0; c < columns; ++c) {
                QVariant v = q_.value(c);
                benchmark::DoNotOptimize(v);
            }
            ++rows;
        }
        q_.finish();
        return rows;
    }

private:
    fp::Transaction& t_;
    QSqlQuery q_;
    QVariantList binds_;
};

void setCounters(benchmark::State& state, double seconds, double floorSeconds, double goalMs) {
    const double n = double(state.iterations());
    state.counters["ms"] = 1000 * seconds / n;
    state.counters["floor_ms"] = 1000 * floorSeconds / n;
    state.counters["ratio_to_floor"] = floorSeconds > 0 ? seconds / floorSeconds : 0;
    state.counters["goal_ms"] = goalMs;
}

void BM_MonthList(benchmark::State& state, QString engine) {
    Database& d = databaseFor(engine);
    fp::Transaction& t = d.db->tx();
    BareSelect bare(t, d.monthList);
    fp::RegisterFilter filter;
    filter.month = kLastMonth;
    const QStringList heading = fp::registerHeading(QString::fromUtf8(fp::demo::kTaxpayerName), filter);
    double seconds = 0, floorSeconds = 0;
    qint64 rows = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        const qint64 bareRows = bare.run();
        const double floor = secondsSince(t0);

        t0 = Clock::now();
        QString error;
        const auto list = fp::readRegister(t, kOwner, filter, &error);
        if (!list) {
            state.SkipWithError(("readRegister: " + error.toStdString()).c_str());
            return;
        }
        const fp::RegisterTotals totals = fp::registerTotals(*list);
        const fp::ReportTable table = fp::registerReport(*list, heading);
        benchmark::DoNotOptimize(totals);
        benchmark::DoNotOptimize(table.rows.size());
        const double took = secondsSince(t0);
        if (bareRows != list->size()) {
            state.SkipWithError("the floor read another number of rows");
            return;
        }
        state.SetIterationTime(took);
        seconds += took;
        floorSeconds += floor;
        rows = list->size();
    }
    state.counters["rows"] = double(rows);
    setCounters(state, seconds, floorSeconds, 100);
}

void BM_MonthSummary(benchmark::State& state, QString engine) {
    Database& d = databaseFor(engine);
    fp::Transaction& t = d.db->tx();
    std::vector<std::unique_ptr<BareSelect>> bare;
    for (const Statement& s : d.summary) bare.push_back(std::make_unique<BareSelect>(t, s));
    double seconds = 0, floorSeconds = 0, allBareSeconds = 0;
    qint64 lines = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        const qint64 grouped = bare.front()->run();
        const double floor = secondsSince(t0);
        for (size_t i = 1; i < bare.size(); ++i)
            if (bare[i]->run() < 0) {
                state.SkipWithError("a bare statement failed");
                return;
            }
        const double allBare = secondsSince(t0);

        t0 = Clock::now();
        QString error;
        const auto summary = fp::readMonthlySummary(t, kOwner, kLastMonth, &error);
        const double took = secondsSince(t0);
        if (!summary) {
            state.SkipWithError(("readMonthlySummary: " + error.toStdString()).c_str());
            return;
        }
        if (grouped < summary->lines.size()) {
            state.SkipWithError("the floor read fewer lines");
            return;
        }
        state.SetIterationTime(took);
        seconds += took;
        floorSeconds += floor;
        allBareSeconds += allBare;
        lines = summary->lines.size() + summary->batches.size();
    }
    state.counters["lines"] = double(lines);
    state.counters["all_bare_ms"] = 1000 * allBareSeconds / double(state.iterations());
    setCounters(state, seconds, floorSeconds, 100);
}

// ---------------------------------------------------------------- export

// The register report of the first kExportRows invoices of the owner's
// first months.
const fp::ReportTable& exportTable() {
    static const fp::ReportTable table = [] {
        Database& d = databaseFor(QStringLiteral("sqlite"));
        fp::RegisterFilter filter;
        filter.from = QDate(kFirstYear, 1, 1);
        filter.to = QDate(kFirstYear, 12, 31);
        QString error;
        auto rows = fp::readRegister(d.db->tx(), kOwner, filter, &error);
        if (!rows) die(QStringLiteral("readRegister: ") + error);
        if (rows->size() > kExportRows) rows->resize(kExportRows);
        return fp::registerReport(*rows, fp::registerHeading(QString::fromUtf8(fp::demo::kTaxpayerName), filter));
    }();
    return table;
}

// A cell as libxlsxwriter takes it, converted before the clock starts.
struct XlsxCell {
    lxw_col_t col;
    bool number;
    double value;
    QByteArray text;
};

std::vector<std::vector<XlsxCell>> xlsxCells(const fp::ReportTable& table) {
    std::vector<std::vector<XlsxCell>> rows;
    rows.reserve(table.rows.size());
    for (const QStringList& cells : table.rows) {
        std::vector<XlsxCell> row;
        for (qsizetype c = 0; c < table.columns.size() && c < cells.size(); ++c) {
            const QString& text = cells.at(c);
            if (text.isEmpty()) continue;
            bool ok = false;
            const double v = text.toDouble(&ok);
            const bool number = ok && table.columns.at(c).type != fp::ReportColumn::Type::Text;
            row.push_back({lxw_col_t(c), number, number ? v : 0.0, number ? QByteArray() : text.toUtf8()});
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// The same workbook as the export, written with no checks and no conversions.
bool bareXlsx(const QByteArray& path, const fp::ReportTable& table, const std::vector<std::vector<XlsxCell>>& rows) {
    lxw_workbook* book = workbook_new(path.constData());
    lxw_worksheet* sheet = workbook_add_worksheet(book, table.title.toUtf8().constData());
    lxw_format* bold = workbook_add_format(book);
    lxw_format* amount = workbook_add_format(book);
    format_set_bold(bold);
    format_set_num_format(amount, "0.00");
    lxw_row_t r = 0;
    for (const QString& line : table.headingLines)
        worksheet_write_string(sheet, r++, 0, line.toUtf8().constData(), nullptr);
    for (qsizetype c = 0; c < table.columns.size(); ++c) {
        worksheet_write_string(sheet, r, lxw_col_t(c), table.columns.at(c).title.toUtf8().constData(), bold);
        worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), 2 * table.columns.at(c).width, nullptr);
    }
    worksheet_freeze_panes(sheet, ++r, 0);
    for (const auto& row : rows) {
        for (const XlsxCell& cell : row) {
            if (cell.number)
                worksheet_write_number(sheet, r, cell.col, cell.value, amount);
            else
                worksheet_write_string(sheet, r, cell.col, cell.text.constData(), nullptr);
        }
        ++r;
    }
    for (const QString& line : table.totalsLines)
        worksheet_write_string(sheet, r++, 0, line.toUtf8().constData(), nullptr);
    return workbook_close(book) == LXW_NO_ERROR;
}

bool bareCsv(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const bool written = f.write(bytes) == bytes.size();
    f.close();
    return written;
}

double fsyncSeconds(const QString& path) {
    const auto t0 = Clock::now();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd); // a timing only: a failure shows as no time
        (void)::close(fd); // read only
    }
    return secondsSince(t0);
}

void BM_Export(benchmark::State& state, fp::ExportFormat format) {
    const fp::ReportTable& table = exportTable();
    QTemporaryDir dir;
    const QString floorFile = dir.filePath(QStringLiteral("floor.") + fp::exportFormatName(format));
    const QString file = dir.filePath(QStringLiteral("export.") + fp::exportFormatName(format));
    const std::vector<std::vector<XlsxCell>> cells =
        format == fp::ExportFormat::Xlsx ? xlsxCells(table) : std::vector<std::vector<XlsxCell>>();
    const QByteArray csv = format == fp::ExportFormat::Csv ? fp::csvReport(table) : QByteArray();
    double seconds = 0, floorSeconds = 0, syncSeconds = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        const bool floorOk = format == fp::ExportFormat::Xlsx ? bareXlsx(QFile::encodeName(floorFile), table, cells)
                                                              : bareCsv(floorFile, csv);
        const double floor = secondsSince(t0);
        if (!floorOk) {
            state.SkipWithError("the floor's write failed");
            return;
        }
        syncSeconds += fsyncSeconds(floorFile);

        t0 = Clock::now();
        QString error;
        const bool ok = fp::exportReport(table, format, file, &error);
        const double took = secondsSince(t0);
        if (!ok) {
            state.SkipWithError(("exportReport: " + error.toStdString()).c_str());
            return;
        }
        state.SetIterationTime(took);
        seconds += took;
        floorSeconds += floor;
    }
    state.counters["rows"] = double(table.rows.size());
    state.counters["bytes"] = double(QFile(file).size());
    state.counters["floor_fsync_ms"] = 1000 * syncSeconds / double(state.iterations());
    setCounters(state, seconds, floorSeconds, 3000);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    QStringList engines{QStringLiteral("sqlite")};
    if (!qEnvironmentVariableIsEmpty("FPDESK_TEST_PG_URL")) engines << QStringLiteral("postgresql");
    for (const QString& engine : engines) {
        benchmark::RegisterBenchmark(QString(QStringLiteral("MonthList/") + engine).toStdString().c_str(), BM_MonthList,
                                     engine)
            ->Iterations(10)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(QString(QStringLiteral("MonthSummary/") + engine).toStdString().c_str(),
                                     BM_MonthSummary, engine)
            ->Iterations(5)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Export/xlsx", BM_Export, fp::ExportFormat::Xlsx)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Export/csv", BM_Export, fp::ExportFormat::Csv)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The databases go before the test support's server connection does.
    databases().clear();
    return 0;
}
