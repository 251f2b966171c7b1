#pragma once
// An office for concurrency tests and the benchmark: a test database (the
// demo data, plus a large batch of a code of its own fetched from the
// service), the taxsim program on loopback with that batch sold, and issuers
// as separate `fpdesk issue` processes started at once.
#include "data_model/demo_constants.h"
#include "tests/app/core_app.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace fp::test {

struct IssuerRun {
    int exitCode = -1;
    QStringList issued;         // numbers, in the order printed
    std::vector<qint64> gapsMs; // time between consecutive printed invoices
    QString err;
};

struct IssueResults {
    std::vector<IssuerRun> runs;
    qint64 wallMs = 0;
};

class OfficeRun {
public:
    static constexpr const char* kCode = "237020009001";
    static constexpr int kLastNumber = 900; // the batch is 00000001..00000900

    OfficeRun() {
        coreApp();
        db_ = std::make_unique<TempDb>(TempDb::Content::DemoData);
    }

    // Starts the service with the batch sold and `delayedUploads` uploads to be
    // held `delayMs` each, and brings the codes and stock into the database.
    bool prepare(int delayedUploads, int delayMs) {
        if (!dir_.isValid()) return fail(QStringLiteral("no temporary directory"));
        const QString seed = dir_.filePath(QStringLiteral("seed.txt"));
        QFile f(seed);
        if (!f.open(QIODevice::WriteOnly)) return fail(QStringLiteral("cannot write the seed"));
        f.write(QStringLiteral("demo\ncode|%1|50\nstock|LGCONC01|%2|%1|00000001|%3|2026-12-01\n")
                    .arg(QString::fromLatin1(kCode), QString::fromUtf8(demo::kSxh))
                    .arg(kLastNumber, 8, 10, QLatin1Char('0'))
                    .toUtf8());
        f.close();
        taxsim_ = std::make_unique<TaxsimProcess>(
            QStringList{QStringLiteral("--seed"), seed, QStringLiteral("--control-token"), QStringLiteral("office")});
        if (!taxsim_->isRunning()) return fail(QStringLiteral("taxsim: ") + taxsim_->error());
        for (const char* what : {"codes", "stock"}) {
            QProcess p;
            p.start(QStringLiteral(FPDESK_EXE), common({QString::fromLatin1(what), QStringLiteral("fetch")}));
            if (!p.waitForFinished(60000) || p.exitCode() != 0)
                return fail(QStringLiteral("%1 fetch: ").arg(QString::fromLatin1(what)) +
                            QString::fromUtf8(p.readAllStandardError()));
        }
        if (delayedUploads > 0) {
            const QString r = taxsim_->control(
                QStringLiteral("fault delay proc=11633 times=%1 ms=%2").arg(delayedUploads).arg(delayMs));
            if (r != QLatin1String("ok")) return fail(QStringLiteral("control: ") + r);
        }
        return true;
    }

    // `issuers` processes, each issuing `invoicesEach` invoices on the code
    // without naming numbers, all started before any is waited for.
    IssueResults issueAtOnce(int issuers, int invoicesEach) {
        const QString file = dir_.filePath(QStringLiteral("invoices.json"));
        QStringList objects;
        for (int i = 0; i < invoicesEach; ++i)
            objects << QStringLiteral("{\"fpdm\": \"%1\", \"fkfmc\": \"示范建筑工程有限公司\", \"bz\": \"第%2张\", "
                                      "\"items\": [{\"xmmc\": \"餐饮服务\", \"mj\": \"2\", \"dj\": \"120.00\"}]}")
                           .arg(QString::fromLatin1(kCode))
                           .arg(i + 1);
        QFile f(file);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write((QLatin1Char('[') + objects.join(QStringLiteral(",\n")) + QLatin1Char(']')).toUtf8());
        f.close();

        IssueResults results;
        results.runs.resize(size_t(issuers));
        std::vector<std::unique_ptr<QProcess>> procs;
        std::vector<QElapsedTimer> since(static_cast<size_t>(issuers));
        std::vector<QByteArray> pending(static_cast<size_t>(issuers));
        QElapsedTimer wall;
        wall.start();
        for (int i = 0; i < issuers; ++i) {
            auto p = std::make_unique<QProcess>();
            p->start(QStringLiteral(FPDESK_EXE),
                     common({QStringLiteral("issue"), file, QStringLiteral("--issuer"), QStringLiteral("张晓明")}));
            since[size_t(i)].start();
            procs.push_back(std::move(p));
        }
        // Read every process's lines as they come, timing each invoice.
        for (;;) {
            bool running = false;
            for (int i = 0; i < issuers; ++i) {
                QProcess& p = *procs[size_t(i)];
                p.waitForReadyRead(5);
                pending[size_t(i)] += p.readAllStandardOutput();
                int nl;
                while ((nl = pending[size_t(i)].indexOf('\n')) >= 0) {
                    const QString line = QString::fromUtf8(pending[size_t(i)].left(nl)).trimmed();
                    pending[size_t(i)].remove(0, nl + 1);
                    IssuerRun& run = results.runs[size_t(i)];
                    if (!run.issued.isEmpty()) run.gapsMs.push_back(since[size_t(i)].elapsed());
                    since[size_t(i)].restart();
                    run.issued << line.section(QLatin1Char(' '), 1, 1);
                }
                if (p.state() != QProcess::NotRunning) running = true;
            }
            if (!running || wall.elapsed() > 500000) break;
        }
        results.wallMs = wall.elapsed();
        for (int i = 0; i < issuers; ++i) {
            QProcess& p = *procs[size_t(i)];
            if (p.state() != QProcess::NotRunning) {
                p.kill();
                p.waitForFinished();
            }
            IssuerRun& run = results.runs[size_t(i)];
            run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
            run.err = QString::fromUtf8(p.readAllStandardError());
        }
        return results;
    }

    // Numbers of the code issued locally, sorted.
    QStringList localNumbers() {
        QStringList l;
        for (const QVariantList& row : db_->tx().selectAll(
                 QStringLiteral("SELECT fphm FROM ptfp_fpk WHERE fpdm = ? AND fpzt = '1' ORDER BY fphm"), {code()}))
            l << row.value(0).toString();
        return l;
    }
    qlonglong count(const QString& sqlWithCode) {
        QVariantList row;
        EXPECT_NE(db_->tx().selectInto(sqlWithCode, {code()}, row), -1);
        return row.value(0).toLongLong();
    }
    QString lastUsed() {
        QVariantList row;
        EXPECT_NE(db_->tx().selectInto(QStringLiteral("SELECT zjsyh FROM bdcja_fplg WHERE fpdm = ?"), {code()}, row),
                  -1);
        return row.value(0).toString();
    }

    // Numbers 1..last that the service holds as issued.
    QStringList remoteIssuedNumbers(int last) {
        QStringList l;
        for (int n = 1; n <= last; ++n) {
            const QString number = QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0'));
            if (status(number, false).startsWith(QStringLiteral("ok|@|1|@|"))) l << number;
        }
        return l;
    }

    // Whether the service's copy of an invoice has the local total, payer and remark.
    bool sameAtService(const QString& number) {
        QVariantList row;
        EXPECT_NE(db_->tx().selectInto(
                      QStringLiteral("SELECT hjje, fkfmc, bz, kpr FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                      {code(), number}, row),
                  -1);
        const QString reply = status(number, true);
        const auto total = db_->tx().decimalAt(row.value(0));
        return total && reply.startsWith(QStringLiteral("ok|@|1|@|")) && reply.contains(total->toString(2)) &&
               reply.contains(row.value(1).toString()) &&
               reply.contains(row.value(2).toString() + QStringLiteral("|#|")) &&
               reply.contains(row.value(3).toString());
    }

    TempDb& db() { return *db_; }
    QString error;

private:
    static QString code() { return QString::fromLatin1(kCode); }
    bool fail(const QString& why) {
        error = why;
        return false;
    }
    QStringList common(QStringList args) const {
        return args << QStringLiteral("--server") << taxsim_->baseUrl() << QStringLiteral("--database")
                    << db_->databaseArg();
    }
    QString status(const QString& number, bool whole) {
        if (!transport_) transport_ = std::make_unique<HttpTransport>(taxsim_->baseUrl(), demoCredentials());
        const RemoteResult r =
            transport_->post(QStringLiteral("NormalServlet"),
                             QStringLiteral("proc_id:90239\r\nas_fpdm:%1\r\nas_fphm:%2\r\nas_getinfo:%3")
                                 .arg(code(), number, whole ? QStringLiteral("1") : QStringLiteral("0")),
                             10000);
        return r.body;
    }

    QTemporaryDir dir_;
    std::unique_ptr<TempDb> db_;
    std::unique_ptr<TaxsimProcess> taxsim_;
    std::unique_ptr<HttpTransport> transport_;
};

} // namespace fp::test
