// Issuers saving at once: saves per second with 1 and with 10 issuers (each
// a separate `fpdesk issue` process of 50 invoices on one code, against the
// taxsim program over loopback HTTP), on SQLite and, when FPDESK_TEST_PG_URL
// names a server, on PostgreSQL; and the 99th percentile of the time one
// invoice takes (its start and save), with no delay injected at the service,
// so that the figure is the client's and the database's own.
//
// Output: one line per engine and issuer count:
//   engine=sqlite issuers=10 invoices=500 wall_ms=... saves_per_s=... p99_ms=...
#include "tests/app/concurrency_fixture.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Figures {
    int invoices = 0;
    qint64 wallMs = 0;
    qint64 p99Ms = 0;
    bool clean = true;
};

Figures measure(int issuers, int each) {
    fp::test::OfficeRun office;
    Figures f;
    if (!office.prepare(0, 0)) {
        std::fprintf(stderr, "concurrency_bench: %s\n", office.error.toUtf8().constData());
        f.clean = false;
        return f;
    }
    const fp::test::IssueResults r = office.issueAtOnce(issuers, each);
    std::vector<qint64> gaps;
    for (const auto& run : r.runs) {
        f.invoices += int(run.issued.size());
        f.clean = f.clean && run.exitCode == 0;
        gaps.insert(gaps.end(), run.gapsMs.begin(), run.gapsMs.end());
    }
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) f.p99Ms = gaps[std::min(gaps.size() - 1, size_t(double(gaps.size()) * 0.99))];
    f.wallMs = r.wallMs;
    return f;
}

void report(const char* engine, int issuers, const Figures& f) {
    std::printf("engine=%s issuers=%d invoices=%d wall_ms=%lld saves_per_s=%.1f p99_ms=%lld%s\n", engine, issuers,
                f.invoices, static_cast<long long>(f.wallMs),
                f.wallMs > 0 ? f.invoices * 1000.0 / double(f.wallMs) : 0.0, static_cast<long long>(f.p99Ms),
                f.clean ? "" : " (some issuers failed)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int each = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    std::vector<std::pair<const char*, QByteArray>> engines = {{"sqlite", QByteArray("sqlite")}};
    if (!qgetenv("FPDESK_TEST_PG_URL").isEmpty()) engines.push_back({"postgresql", QByteArray("postgresql")});
    for (const auto& [name, engine] : engines) {
        qputenv("FPDESK_TEST_ENGINE", engine);
        for (int issuers : {1, 10}) report(name, issuers, measure(issuers, each));
    }
    return 0;
}
