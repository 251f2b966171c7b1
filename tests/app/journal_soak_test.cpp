// A soak of the journal of requests that change the service's state: rounds
// of `fpdesk issue`, `fpdesk void` (normal and blank) and `fpdesk print`
// processes of one user, started at random moments on a few shared numbers
// against a service on loopback HTTP, while the service loses replies, holds
// them past the time-out, drops or refuses requests, processes are killed and
// (on PostgreSQL) their connections are cut. After each round `fpdesk
// reconcile` runs against a well-behaved service, and then the local database
// and the service must agree on every number of the code: issued or not, its
// content, its status, its print count, the log rows and the stock record's
// last-used number, with no record left in the journal.
//
// Seeded: FPDESK_SOAK_SEED replays a failing soak's rounds (their timing is
// the machine's); FPDESK_SOAK_ROUNDS or FPDESK_SOAK_SECONDS set its length
// (scripts/soak.sh runs it long). Every failure names the seed and the round.
#include "app/window_commands.h"
#include "data_model/decimal.h"
#include "data_model/demo_constants.h"
#include "host/judge_column.h"
#include "tests/app/core_app.h"
#include "tests/support/demo_session.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace fp::test {
namespace {

QString utf8(const char* s) { return QString::fromUtf8(s); }
QString code() { return utf8(demo::kCode50); }
QString numberText(int n) { return QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0')); }

constexpr int kLastNumber = 100; // the demo stock of the code: 00000001..00000100
constexpr int kWindow = 4;       // numbers a round works on
constexpr int kStep = 2;         // the next round's numbers: half of them this round's
constexpr int kFastUnitMs = 4;   // the commands' time-out unit: an upload times out after 2 s
constexpr int kProcessLimitMs = 90000;

struct SoakLength {
    quint64 seed = 0;
    int rounds = 0;  // 0: by time
    int seconds = 0; // rounds are started until this much time has passed
};

SoakLength soakLength() {
    SoakLength l;
    bool ok = false;
    l.seed = qEnvironmentVariable("FPDESK_SOAK_SEED").toULongLong(&ok);
    if (!ok) l.seed = quint64(std::chrono::steady_clock::now().time_since_epoch().count()) % 1000000007ULL;
    l.rounds = qEnvironmentVariableIntValue("FPDESK_SOAK_ROUNDS");
    l.seconds = qEnvironmentVariableIntValue("FPDESK_SOAK_SECONDS", &ok);
    if (!ok || l.seconds <= 0) l.seconds = 10;
    return l;
}

// The office: a test database with the demo data and a demo service over
// loopback HTTP, one profile for the commands under faults (short time-outs)
// and one for the settling afterwards.
class Office {
public:
    Office() : db_(TempDb::Content::DemoData), server_(true) {
        fast_ = dir_.filePath(QStringLiteral("fast.ini"));
        calm_ = dir_.filePath(QStringLiteral("calm.ini"));
        writeProfile(fast_, kFastUnitMs);
        writeProfile(calm_, 100);
    }
    TempDb& db() { return db_; }
    taxsim::Service& service() { return server_.service(); }
    QString dir(const QString& name) const { return dir_.filePath(name); }
    QStringList common(bool calm) const {
        return {QStringLiteral("--profile"), calm ? calm_ : fast_, QStringLiteral("--database"), db_.databaseArg()};
    }
    bool ready() const { return server_.isRunning() && dir_.isValid(); }
    std::shared_ptr<HttpTransport> transport() const { return server_.httpTransport(); }
    // The commands' environment: the print paints offscreen and wants a runtime folder.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        return env;
    }

private:
    void writeProfile(const QString& path, int unitMs) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        f.write(QStringLiteral("[server]\nmode=http\nurl=%1\nuser=%2\npassword=%3\ntimeout_unit_ms=%4\n"
                               "[host]\nuserid=%5\nusername=%6\nsysuserid=%2\nsysusername=%7\nnsrsbh=%8\n"
                               "nsrlxdh=%9\nssswjgdm=%10\n")
                    .arg(server_.baseUrl(), utf8(demo::kSxh), utf8(demo::kPassword))
                    .arg(unitMs)
                    .arg(utf8(demo::kUserId), utf8(demo::kUserName), utf8(demo::kTaxpayerName), utf8(demo::kNsrsbh),
                         utf8(demo::kNsrlxdh), utf8(demo::kSwjgdm))
                    .toUtf8());
    }

    QTemporaryDir dir_;
    TempDb db_;
    TaxsimServer server_;
    QString fast_, calm_;
};

// ---- one round's plan -------------------------------------------------------

struct Command {
    QString what; // for the round's log
    QStringList args;
    int startMs = 0;
    int killMs = -1; // after its start; -1: not killed
};

struct FaultAt {
    int atMs = 0;
    int procId = 0;
    taxsim::Fault fault;
    int times = 1;
    QString what;
};

struct Round {
    std::vector<Command> commands;
    std::vector<FaultAt> faults;
    std::vector<int> cutConnectionsMs; // PostgreSQL: every other connection terminated
};

// Time-out units of each request (services/remote_text.h).
int timeoutUnits(int procId) {
    switch (procId) {
    case 11633: return 500;
    case 76129: return 100;
    default: return 200; // 98179, 90239
    }
}

Round planRound(std::mt19937_64& rng, Office& office, int round, int base, bool postgres) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const QString fpdm = code();
    // The demo's partners, whose papers the window fills in, and a walk-in payer with his own.
    static const char* const payers[] = {"\"fkfmc\": \"刘芳\"", "\"fkfmc\": \"示范建筑工程有限公司\"",
                                         "\"fkfmc\": \"示范物业管理有限公司\"",
                                         "\"fkfmc\": \"散客王先生\", \"fkfzjlx\": \"身份证件号码\", "
                                         "\"fkfzjhm\": \"3702031990010100%1\""};
    static const char* const items[] = {"住宿费", "餐饮服务", "复印费", "设备维修"};
    const QStringList issuer{QStringLiteral("--issuer"), QStringLiteral("张晓明")};
    Round r;
    const int commands = pick(4, 8);
    // The round's mix: its share of issues, voids and blank voids in percent (the rest prints).
    const int issues = pick(15, 55), voids = issues + pick(5, 25), blanks = voids + pick(0, 20);
    // A number most commands go for, and how close together they start.
    const int focus = base + pick(0, kWindow - 1), spread = pick(60, 400);
    for (int i = 0; i < commands; ++i) {
        Command c;
        const int number = pick(0, 9) < 4 ? focus : base + pick(0, kWindow - 1);
        const QString fphm = numberText(number);
        const int kind = pick(0, 99);
        if (kind < issues) {
            // One or two invoices of random content, mostly on a number of the window.
            QStringList objects;
            const int invoices = pick(0, 3) == 0 ? 2 : 1;
            const bool named = pick(0, 5) != 0;
            for (int k = 0; k < invoices; ++k) {
                const int who = pick(0, 3);
                const QString payer = who == 3 ? utf8(payers[who]).arg(pick(10, 99)) : utf8(payers[who]);
                QStringList lines;
                for (int l = pick(1, 3); l > 0; --l)
                    lines << QStringLiteral("{\"xmmc\": \"%1\", \"mj\": \"%2\", \"dj\": \"%3.%4\"}")
                                 .arg(utf8(items[pick(0, 3)]))
                                 .arg(pick(1, 5))
                                 .arg(pick(1, 400))
                                 .arg(pick(0, 99), 2, 10, QLatin1Char('0'));
                objects << QStringLiteral("{\"fpdm\": \"%1\", %2%3, \"bz\": \"第%4轮%5\", "
                                          "\"items\": [%6]}")
                               .arg(fpdm,
                                    named ? QStringLiteral("\"fphm\": \"%1\", ").arg(numberText(number + k))
                                          : QString(),
                                    payer)
                               .arg(round)
                               .arg(pick(0, 999))
                               .arg(lines.join(QStringLiteral(", ")));
            }
            const QString file = office.dir(QStringLiteral("r%1_%2.json").arg(round).arg(i));
            QFile f(file);
            if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                f.write((QLatin1Char('[') + objects.join(QStringLiteral(",\n")) + QLatin1Char(']')).toUtf8());
            c.what = QStringLiteral("issue %1 %2").arg(named ? fphm : QStringLiteral("(offered)")).arg(invoices);
            c.args = QStringList{QStringLiteral("issue"), file} + issuer;
        } else if (kind < voids) {
            c.what = QStringLiteral("void ") + fphm;
            c.args = QStringList{QStringLiteral("void"), fpdm, fphm} + issuer;
        } else if (kind < blanks) {
            c.what = QStringLiteral("void --blank ") + fphm;
            c.args = QStringList{QStringLiteral("void"), fpdm, fphm, QStringLiteral("--blank")} + issuer;
        } else {
            const int copies = pick(1, 2);
            c.what = QStringLiteral("print %1 x%2").arg(fphm).arg(copies);
            c.args = QStringList{QStringLiteral("print"),
                                 fpdm,
                                 fphm,
                                 QStringLiteral("--pdf"),
                                 office.dir(QStringLiteral("r%1_%2.pdf").arg(round).arg(i)),
                                 QStringLiteral("--copies"),
                                 QString::number(copies)} +
                     issuer;
        }
        // A command takes some tens of milliseconds unless a fault holds it:
        // issues start a little earlier so that the others find invoices.
        c.startMs = kind < issues ? pick(0, spread / 2) : pick(40, 40 + spread);
        r.commands.push_back(c);
    }
    for (int kills = pick(0, 2); kills > 0; --kills) {
        Command& c = r.commands[size_t(pick(0, int(r.commands.size()) - 1))];
        c.killMs = pick(0, 9) < 7 ? pick(5, 120) : pick(120, 2500);
    }
    static const int procs[] = {11633, 76129, 98179, 90239};
    for (int faults = pick(0, 3); faults > 0; --faults) {
        FaultAt f;
        f.atMs = pick(0, 400);
        f.procId = procs[pick(0, 3)];
        f.times = pick(1, 2);
        switch (pick(0, 3)) {
        case 0:
            f.fault.kind = taxsim::Fault::Kind::LostReply;
            f.what = QStringLiteral("lost");
            break;
        case 1:
            f.fault.kind = taxsim::Fault::Kind::Delay;
            f.fault.delayMs = timeoutUnits(f.procId) * kFastUnitMs + pick(100, 600);
            f.what = QStringLiteral("delay %1ms").arg(f.fault.delayMs);
            break;
        case 2:
            f.fault.kind = taxsim::Fault::Kind::Drop;
            f.what = QStringLiteral("drop");
            break;
        default:
            f.fault.kind = taxsim::Fault::Kind::Refuse;
            f.what = QStringLiteral("refuse");
            break;
        }
        r.faults.push_back(f);
    }
    if (postgres && pick(0, 2) == 0) r.cutConnectionsMs.push_back(pick(20, 600));
    return r;
}

// ---- running it -------------------------------------------------------------

struct Running {
    std::unique_ptr<QProcess> process;
    bool started = false;
    bool killed = false;
    qint64 startedAt = 0;
    qint64 endedAt = -1;
};

// Waits until one of `processes` ends or, at the latest, the round's next
// tick (`tickMs`), when commands are started, killed and faults injected.
// QProcess learns of a process's end from the event loop, which runs meanwhile.
void waitForAnEndOrTheTick(const std::vector<QProcess*>& processes, int tickMs) {
    QEventLoop loop;
    QTimer::singleShot(tickMs, &loop, &QEventLoop::quit);
    for (QProcess* p : processes)
        if (p && p->state() != QProcess::NotRunning) QObject::connect(p, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec(); // its connections end with it
}

// What the soak did, for its last line.
struct Tally {
    int commands = 0, succeeded = 0, killed = 0, faults = 0, cuts = 0;
    int completed = 0, dropped = 0; // by the settling after the rounds
};

// Runs the round; the log of what happened, and `hung` when a command did not end in time.
QString runRound(Office& office, const Round& round, bool& hung, Tally& tally) {
    QString log;
    std::vector<Running> running(round.commands.size());
    std::vector<bool> faultDone(round.faults.size(), false);
    std::vector<bool> cutDone(round.cutConnectionsMs.size(), false);
    QElapsedTimer clock;
    clock.start();
    hung = false;
    for (;;) {
        const qint64 now = clock.elapsed();
        bool busy = false;
        for (size_t i = 0; i < round.commands.size(); ++i) {
            const Command& c = round.commands[i];
            Running& r = running[i];
            if (!r.started && now >= c.startMs) {
                r.process = std::make_unique<QProcess>();
                r.process->setProcessEnvironment(office.environment());
                r.process->start(QStringLiteral(FPDESK_EXE), c.args + office.common(false));
                r.started = true;
                r.startedAt = now;
            }
            if (r.started && !r.killed && c.killMs >= 0 && now >= r.startedAt + c.killMs &&
                r.process->state() != QProcess::NotRunning) {
                r.process->kill();
                r.killed = true;
                log += QStringLiteral("  %1ms: kill #%2\n").arg(now).arg(i);
            }
            if (!r.started || r.process->state() != QProcess::NotRunning)
                busy = true;
            else if (r.endedAt < 0)
                r.endedAt = now;
        }
        for (size_t i = 0; i < round.faults.size(); ++i) {
            if (faultDone[i] || now < round.faults[i].atMs) continue;
            office.service().injectFault(round.faults[i].fault, round.faults[i].procId, round.faults[i].times);
            faultDone[i] = true;
            busy = true;
        }
        for (size_t i = 0; i < round.cutConnectionsMs.size(); ++i) {
            if (cutDone[i] || now < round.cutConnectionsMs[i]) continue;
            Transaction& t = office.db().tx();
            const QList<QVariantList> cut =
                t.selectAll(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                                           "current_database() AND pid <> pg_backend_pid()"));
            (void)t.rollback(); // only read
            log += QStringLiteral("  %1ms: %2 connection(s) cut\n").arg(now).arg(cut.size());
            cutDone[i] = true;
        }
        if (!busy) break;
        if (now > kProcessLimitMs) {
            hung = true;
            break;
        }
        std::vector<QProcess*> processes;
        for (const Running& r : running) processes.push_back(r.process.get());
        waitForAnEndOrTheTick(processes, 5);
    }
    for (size_t i = 0; i < round.commands.size(); ++i) {
        QProcess& p = *running[i].process;
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(10000);
            log += QStringLiteral("  #%1 HUNG and was killed\n").arg(i);
        }
        const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
        const bool crashed = p.exitStatus() != QProcess::NormalExit;
        log += QStringLiteral("  #%1 %2 (at %3ms%4, %8ms): %5 %6 %7\n")
                   .arg(i)
                   .arg(round.commands[i].what)
                   .arg(round.commands[i].startMs)
                   .arg(round.commands[i].killMs >= 0 ? QStringLiteral(", kill +%1ms").arg(round.commands[i].killMs)
                                                      : QString())
                   .arg(crashed ? (running[i].killed ? QStringLiteral("killed") : QStringLiteral("CRASHED"))
                                : QStringLiteral("exit %1").arg(p.exitCode()))
                   .arg(QString::fromUtf8(p.readAllStandardOutput()).trimmed())
                   .arg(QString(err)
                            .replace(QStringLiteral("\r\n"), QStringLiteral(" / "))
                            .replace(QLatin1Char('\n'), QStringLiteral(" | ")))
                   .arg(running[i].endedAt - running[i].startedAt);
        if (crashed && !running[i].killed) hung = true; // a crash of our own is as bad
        ++tally.commands;
        tally.killed += running[i].killed;
        tally.succeeded += !crashed && p.exitCode() == 0;
    }
    return log;
}

// ---- the comparison ---------------------------------------------------------

QString text(const QVariant& v) { return v.isNull() ? QString() : v.toString().trimmed(); }

std::optional<Decimal> serviceAmount(const QString& s) {
    if (s.trimmed().isEmpty()) return Decimal::fromInt(0);
    return Decimal::parse(s.trimmed());
}

// Every difference between the local database and the service, one line each.
QStringList differences(Office& office) {
    QStringList out;
    Transaction& t = office.db().tx();
    const QString fpdm = code();
    taxsim::Service& svc = office.service();
    const std::vector<taxsim::PrintReport> prints = svc.prints();
    const std::vector<taxsim::VoidReport> voids = svc.voids();

    for (const QVariantList& row :
         t.selectAll(QStringLiteral("SELECT fpdm, fphm, czlx FROM fp_pending_upload ORDER BY fpdm, fphm")))
        out << QStringLiteral("journal record left: %1 %2 czlx %3")
                   .arg(text(row.value(0)), text(row.value(1)), text(row.value(2)));

    QString highestUsed;
    for (int n = 1; n <= kLastNumber; ++n) {
        const QString fphm = numberText(n);
        const QString where = fphm + QStringLiteral(": ");
        const QString status = svc.statusOf(fpdm, fphm);
        const bool used = status == QLatin1String("1") || status == QLatin1String("2") || status == QLatin1String("3");
        if (used) highestUsed = fphm;
        const QList<QVariantList> local = t.selectAll(
            QStringLiteral(
                "SELECT fpzt, fkfmc, fkfzjhm, bz, kpr, hjje, drcs FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
            {fpdm, fphm});
        QMap<QString, int> logs;
        for (const QVariantList& row : t.selectAll(QStringLiteral("SELECT czlx, count(*) FROM bdcja_fpk_log WHERE "
                                                                  "fpdm = ? AND fphm = ? GROUP BY czlx"),
                                                   {fpdm, fphm}))
            logs[text(row.value(0))] = int(row.value(1).toLongLong());
        int printReports = 0, voidReports = 0;
        for (const auto& p : prints) printReports += p.fpdm == fpdm && p.fphm == fphm;
        for (const auto& v : voids) voidReports += v.fpdm == fpdm && v.fphm == fphm;

        if (!used) {
            if (!local.isEmpty())
                out << where + QStringLiteral("local copy (fpzt %1), service status %2")
                                   .arg(text(local[0].value(0)), status);
            if (!logs.isEmpty()) out << where + QStringLiteral("log rows of a number the service has not used");
            continue;
        }
        if (local.isEmpty()) {
            out << where + QStringLiteral("service status %1, no local copy").arg(status);
            continue;
        }
        const QVariantList& l = local[0];
        const std::optional<taxsim::StoredInvoice> inv = svc.invoice(fpdm, fphm);
        if (!inv) {
            out << where + QStringLiteral("service status %1 without its invoice").arg(status);
            continue;
        }
        if (text(l.value(0)) != status)
            out << where + QStringLiteral("status: local %1, service %2").arg(text(l.value(0)), status);

        // Content: the issued fields and lines (a blank void has none of its own).
        if (status != QLatin1String("3")) {
            const char* const fields[] = {"fkfmc", "fkfzjhm", "bz", "kpr"};
            for (int i = 0; i < 4; ++i) {
                const QString mine = text(l.value(1 + i));
                const QString theirs = inv->value(utf8(fields[i])).trimmed();
                if (mine != theirs)
                    out << where +
                               QStringLiteral("%1: local \"%2\", service \"%3\"").arg(utf8(fields[i]), mine, theirs);
            }
        }
        if (t.decimalAt(l.value(5)) != serviceAmount(inv->value(QStringLiteral("hjje"))))
            out << where + QStringLiteral("hjje: local %1, service %2")
                               .arg(text(l.value(5)), inv->value(QStringLiteral("hjje")));
        const QList<QVariantList> lines = t.selectAll(
            QStringLiteral("SELECT xmmc, mj, dj, je FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = ? ORDER BY iserial"),
            {fpdm, fphm});
        if (size_t(lines.size()) != inv->lines.size()) {
            out << where + QStringLiteral("lines: local %1, service %2").arg(lines.size()).arg(inv->lines.size());
        } else {
            for (int i = 0; i < lines.size(); ++i) {
                const bool same =
                    text(lines[i].value(0)) == inv->lineValue(i, QStringLiteral("xmmc")).trimmed() &&
                    t.decimalAt(lines[i].value(1)) == serviceAmount(inv->lineValue(i, QStringLiteral("mj"))) &&
                    t.decimalAt(lines[i].value(2)) == serviceAmount(inv->lineValue(i, QStringLiteral("dj"))) &&
                    t.decimalAt(lines[i].value(3)) == serviceAmount(inv->lineValue(i, QStringLiteral("je")));
                if (!same) out << where + QStringLiteral("line %1 differs").arg(i + 1);
            }
        }

        // The print count, and one log row for each request the service took.
        const qint64 localCount = l.value(6).isNull() ? 0 : qRound64(l.value(6).toDouble());
        const qint64 serviceCount = qRound64(inv->value(QStringLiteral("drcs")).toDouble());
        if (localCount != serviceCount)
            out << where + QStringLiteral("print count: local %1, service %2").arg(localCount).arg(serviceCount);
        // Each print starts from the count the one before it left: a report
        // says the count it started from (as_dycs) and, from two on, the
        // count after it in its remark.
        qint64 count = 0;
        for (const auto& p : prints) {
            if (p.fpdm != fpdm || p.fphm != fphm) continue;
            if (p.dycs.toLongLong() != count)
                out << where + QStringLiteral("a print reported from count %1 after count %2").arg(p.dycs).arg(count);
            static const QRegularExpression after(QStringLiteral("打印次数：(\\d+)"));
            const QRegularExpressionMatch m = after.match(p.bz);
            count = m.hasMatch() ? m.captured(1).toLongLong() : p.dycs.toLongLong() + 1;
        }
        if (count != serviceCount)
            out << where +
                       QStringLiteral("the service's count %1, its reports come to %2").arg(serviceCount).arg(count);
        const int issued = status == QLatin1String("3") ? 0 : 1;
        const int voided = status == QLatin1String("1") ? 0 : 1;
        if (logs.value(QStringLiteral("1")) != issued)
            out << where + QStringLiteral("%1 issue log row(s), expected %2")
                               .arg(logs.value(QStringLiteral("1")))
                               .arg(issued);
        if (logs.value(QStringLiteral("3")) != voided || voidReports != voided)
            out << where + QStringLiteral("%1 void log row(s) and %2 void report(s), expected %3")
                               .arg(logs.value(QStringLiteral("3")))
                               .arg(voidReports)
                               .arg(voided);
        if (logs.value(QStringLiteral("2")) != printReports)
            out << where + QStringLiteral("%1 print log row(s), %2 print report(s) at the service")
                               .arg(logs.value(QStringLiteral("2")))
                               .arg(printReports);
    }

    // The stock record: its last-used number is at least the highest number used.
    QVariantList row;
    if (t.selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ? AND fpqh <= '00000001' AND "
                                    "fpzh >= '00000001'"),
                     {fpdm}, row) != 0) {
        out << QStringLiteral("no stock record of the code");
    } else if (!highestUsed.isEmpty() && text(row.value(0)) < highestUsed) {
        out << QStringLiteral("stock record's last-used number %1 below %2").arg(text(row.value(0)), highestUsed);
    }
    (void)t.rollback(); // only read
    return out;
}

// ---- what the soak found, on its own --------------------------------------

// Stands for the printer of a print in this process: while its copies are
// "printed", another print of the invoice runs as a process and is held with
// its report stored at the service and its answer not yet back.
class PrintDuringPreview : public cli::CommandDialogs {
public:
    PrintDuringPreview(Dialogs& console, std::function<void()> meanwhile)
        : cli::CommandDialogs(console), meanwhile_(std::move(meanwhile)) {}
    s_printreturn printPreview(const s_preview_parameter&) override {
        meanwhile_();
        s_printreturn r;
        r.sl_printcnt = 2;
        r.ss_printer = QStringLiteral("PDF");
        r.ss_printer_info = QStringLiteral("here.pdf");
        return r;
    }

private:
    std::function<void()> meanwhile_;
};

// A print that read the invoice's count while another print of it waited for
// its report's answer counted on from the stale count: two prints of two
// copies each left the count at 2 on both sides.
TEST(JournalSoak, APrintCountsOnFromAPrintThatEndedMeanwhile) {
    coreApp();
    installFormHostFunctions();
    Office office;
    ASSERT_TRUE(office.ready());
    const QString file = office.dir(QStringLiteral("one.json"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"fpdm": "237020000001", "fphm": "1", "fkfmc": "刘芳",
               "items": [{"xmmc": "住宿费", "mj": "1", "dj": "280.00"}]})");
    f.close();
    const QStringList issuer{QStringLiteral("--issuer"), QStringLiteral("张晓明")};
    QProcess issue;
    issue.setProcessEnvironment(office.environment());
    issue.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("issue"), file} + issuer + office.common(true));
    ASSERT_TRUE(issue.waitForFinished(60000));
    ASSERT_EQ(issue.exitCode(), 0) << issue.readAllStandardError().toStdString();

    // The other print's report is stored at once; its answer comes 2 s later.
    QProcess other;
    auto printMeanwhile = [&] {
        taxsim::Fault hold;
        hold.kind = taxsim::Fault::Kind::Delay;
        hold.delayMs = 2000;
        office.service().injectFault(hold, 98179);
        other.setProcessEnvironment(office.environment());
        other.start(QStringLiteral(FPDESK_EXE),
                    QStringList{QStringLiteral("print"), code(), QStringLiteral("1"), QStringLiteral("--pdf"),
                                office.dir(QStringLiteral("other.pdf")), QStringLiteral("--copies"),
                                QStringLiteral("2")} +
                        issuer + office.common(true));
        QElapsedTimer waited;
        waited.start();
        // Until the service holds the other print's report (its answer is held back).
        while (office.service().prints().empty() && waited.elapsed() < 60000 && other.state() != QProcess::NotRunning)
            other.waitForFinished(5);
    };
    Session session;
    setDemoSession(session);
    session.sqlca = &office.db().tx();
    ASSERT_TRUE(office.db().tx().setLockWaitMs(30000));
    ScriptedDialogs console;
    PrintDuringPreview dialogs(console, printMeanwhile);
    HostServices host(session, dialogs);
    host.setTransport(office.transport());
    const int here =
        cli::printInvoice(host, dialogs, cli::WindowCommand{code(), QStringLiteral("1"), QStringLiteral("张晓明")},
                          office.dir(QStringLiteral("here.pdf")), 2);
    ASSERT_TRUE(other.waitForFinished(60000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    EXPECT_EQ(here, 0) << console.messages().join(QLatin1Char('\n')).toStdString();

    // Four copies on both sides, this print's report counting on from the other's.
    const std::vector<taxsim::PrintReport> reports = office.service().prints();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].dycs, QStringLiteral("0"));
    EXPECT_EQ(reports[1].dycs, QStringLiteral("2"));
    EXPECT_EQ(reports[1].bz, QStringLiteral("打印次数：4|@|PDF|here.pdf|@|"));
    EXPECT_EQ(office.service().invoice(code(), QStringLiteral("00000001"))->value(QStringLiteral("drcs")).toInt(), 4);
    const QStringList diff = differences(office);
    EXPECT_TRUE(diff.isEmpty()) << diff.join(QLatin1Char('\n')).toStdString();
}

// ---- the soak ---------------------------------------------------------------

TEST(JournalSoak, LocalAndServiceAgreeAfterFaultsAndSettling) {
    coreApp();
    const SoakLength length = soakLength();
    std::printf("journal soak: seed %llu (FPDESK_SOAK_SEED replays it)\n", (unsigned long long)length.seed);
    std::fflush(stdout);
    const bool postgres = testsUsePostgres();
    std::unique_ptr<Office> office;
    int base = kLastNumber + 1;
    int clean = 0;
    Tally tally;
    QElapsedTimer wall;
    wall.start();
    for (int round = 0;; ++round) {
        if (length.rounds > 0 ? round >= length.rounds : (round >= 2 && wall.elapsed() >= length.seconds * 1000LL))
            break;
        SCOPED_TRACE(QStringLiteral("seed %1, round %2").arg(length.seed).arg(round).toStdString());
        // A new office when the code's stock is used up.
        if (base + kWindow + 1 > kLastNumber) {
            office.reset();
            office = std::make_unique<Office>();
            ASSERT_TRUE(office->ready());
            base = 1;
        }
        std::mt19937_64 rng(length.seed * 1000003ULL + quint64(round));
        const Round plan = planRound(rng, *office, round, base, postgres);
        QString log =
            QStringLiteral("round %1 on %2..%3\n").arg(round).arg(numberText(base)).arg(numberText(base + kWindow - 1));
        for (const FaultAt& f : plan.faults)
            log += QStringLiteral("  %1ms: fault %2 on %3 x%4\n").arg(f.atMs).arg(f.what).arg(f.procId).arg(f.times);
        for (int cut : plan.cutConnectionsMs) log += QStringLiteral("  %1ms: cut the connections\n").arg(cut);
        bool hung = false;
        log += runRound(*office, plan, hung, tally);
        tally.faults += int(plan.faults.size());
        tally.cuts += int(plan.cutConnectionsMs.size());
        office->service().clearFaults();
        ASSERT_FALSE(hung) << log.toStdString();

        QProcess reconcile;
        reconcile.start(QStringLiteral(FPDESK_EXE), QStringList{QStringLiteral("reconcile")} + office->common(true));
        ASSERT_TRUE(reconcile.waitForFinished(120000)) << log.toStdString();
        const QString said = QString::fromUtf8(reconcile.readAllStandardError()).trimmed();
        log += QStringLiteral("  reconcile: exit %1 %2\n").arg(reconcile.exitCode()).arg(said);
        tally.completed += int(said.count(QStringLiteral("已补存")));
        tally.dropped += int(said.count(QStringLiteral("未完成")) + said.count(QStringLiteral("本机的保存未生效")));
        EXPECT_EQ(reconcile.exitCode(), 0) << log.toStdString();
        if (qEnvironmentVariableIsSet("FPDESK_SOAK_VERBOSE")) std::printf("%s", log.toUtf8().constData());
        const QStringList diff = differences(*office);
        EXPECT_TRUE(diff.isEmpty()) << diff.join(QLatin1Char('\n')).toStdString() << "\n" << log.toStdString();
        if (HasFailure()) break;
        ++clean;
        base += kStep;
    }
    std::printf("journal soak: %d round(s) clean, seed %llu, %lld s; %d commands (%d done, %d killed), %d faults, "
                "%d connection cuts; settling afterwards completed %d and dropped %d record(s)\n",
                clean, (unsigned long long)length.seed, (long long)(wall.elapsed() / 1000), tally.commands,
                tally.succeeded, tally.killed, tally.faults, tally.cuts, tally.completed, tally.dropped);
    std::fflush(stdout);
}

} // namespace
} // namespace fp::test
