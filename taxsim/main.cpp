// The simulated tax service as a program.
//
//   fpdesk-taxsim [--port N] [--host ADDR] [--db FILE] [--seed FILE]
//                 [--control-token TOKEN | --no-control] [--max-body BYTES]
//   fpdesk-taxsim --help | --version
//
// --port 0 (the default) binds a free port. The first line on standard output
// is the base URL, "http://127.0.0.1:PORT". Without --seed, a store that knows
// no taxpayer yet receives the demo data. Serves until SIGTERM or SIGINT.
//
// POST /__control exists only with a control token, from --control-token or
// the environment variable TAXSIM_CONTROL_TOKEN, and then only for requests
// carrying "Authorization: Bearer TOKEN". --no-control (the default) turns it
// off even when the variable is set. --max-body: the largest request body
// taken, 1 MiB by default; larger ones are refused with 413.
#include "taxsim/http_server.h"
#include "taxsim/service.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>

namespace {

// The name the program was started by.
std::string program;

const char* const kOptions = "Options:\n"
                             "  --port N               the port to listen on; 0 (the default) takes a free one\n"
                             "  --host ADDR            the address to listen on (default 127.0.0.1)\n"
                             "  --db FILE              a store that outlives the process (default: in memory)\n"
                             "  --seed FILE            taxpayers, stock and code tables to load; without it a\n"
                             "                         store that knows no taxpayer gets the demo taxpayer\n"
                             "  --control-token TOKEN  switch on POST /__control (faults, a fixed clock, seed\n"
                             "                         lines) for requests carrying \"Authorization: Bearer\n"
                             "                         TOKEN\"; also from the environment variable\n"
                             "                         TAXSIM_CONTROL_TOKEN\n"
                             "  --no-control           keep /__control off whatever the environment says\n"
                             "  --max-body BYTES       the largest request body taken (default 1 MiB); larger\n"
                             "                         requests get 413\n"
                             "  -h, --help             show this help and exit\n"
                             "  -v, --version          show the version and exit\n";

int usage(const char* why) {
    std::cerr << program << ": " << why << "\n"
              << "usage: " << program << " [--port N] [--host ADDR] [--db FILE] [--seed FILE]\n"
              << "       [--control-token TOKEN | --no-control] [--max-body BYTES]\n"
              << "Try \"" << program << " --help\".\n";
    return 2;
}

int help() {
    std::cout << "Usage: " << program << " [OPTION]...\n"
              << "The simulated tax service of fpdesk, for tests and training: it serves the\n"
                 "invoicing requests (POST /NormalServlet) over HTTP from its own store of\n"
                 "taxpayers, purchased stock, code tables, invoices, voids and print reports,\n"
                 "and refuses what the tax authority would. The first line on standard output\n"
                 "is the base URL (http://127.0.0.1:PORT); it serves until SIGTERM or SIGINT.\n"
                 "\n"
              << kOptions;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Signals are taken by sigwait below; every thread started from here on
    // inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    program = QFileInfo(args.value(0)).fileName().toStdString();
    int port = 0;
    QString host = QStringLiteral("127.0.0.1");
    QString db = QStringLiteral(":memory:");
    QString seed;
    QString controlToken = qEnvironmentVariable("TAXSIM_CONTROL_TOKEN");
    bool noControl = false;
    taxsim::HttpLimits limits;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            return help();
        } else if (a == QLatin1String("--version") || a == QLatin1String("-v")) {
            std::cout << program << " " FPDESK_VERSION "\n";
            return 0;
        } else if (a == QLatin1String("--port")) {
            bool ok = false;
            if (value(v)) port = v.toInt(&ok);
            if (!ok || port < 0 || port > 65535) return usage("--port needs a port number");
        } else if (a == QLatin1String("--host")) {
            if (!value(host)) return usage("--host needs an address");
        } else if (a == QLatin1String("--db")) {
            if (!value(db)) return usage("--db needs a file");
        } else if (a == QLatin1String("--seed")) {
            if (!value(seed)) return usage("--seed needs a file");
        } else if (a == QLatin1String("--control-token")) {
            if (!value(controlToken) || controlToken.trimmed().isEmpty()) return usage("--control-token needs a token");
        } else if (a == QLatin1String("--no-control")) {
            noControl = true;
        } else if (a == QLatin1String("--max-body")) {
            bool ok = false;
            if (value(v)) limits.maxBodyBytes = v.toLongLong(&ok);
            if (!ok || limits.maxBodyBytes < 0) return usage("--max-body needs a number of bytes");
        } else {
            return usage(("unknown argument " + a.toStdString()).c_str());
        }
    }

    auto service = std::make_shared<taxsim::Service>(db);
    if (!service->isOpen()) {
        std::cerr << program << ": cannot open the store " << db.toStdString() << ": "
                  << service->lastError().toStdString() << "\n";
        return 1;
    }
    if (!seed.isEmpty()) {
        QString error;
        if (!service->seedFromFile(seed, &error)) {
            std::cerr << program << ": " << error.toStdString() << "\n";
            return 1;
        }
    } else if (!service->hasTaxpayers()) {
        service->seedDemo();
    }

    taxsim::HttpServer server(service, limits);
    if (!noControl) server.setControlToken(controlToken.trimmed());
    if (!server.start(port, host)) {
        std::cerr << program << ": " << server.error().toStdString() << "\n";
        return 1;
    }
    std::cout << server.baseUrl().toStdString() << std::endl; // flushed

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
    return 0;
}
