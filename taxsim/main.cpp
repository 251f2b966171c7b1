// taxsim: the simulated tax service as a program.
//
//   taxsim [--port N] [--host ADDR] [--db FILE] [--seed FILE]
//          [--control-token TOKEN | --no-control] [--max-body BYTES]
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
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>

namespace {

int usage(const char* why) {
    std::cerr << "taxsim: " << why << "\n"
              << "usage: taxsim [--port N] [--host ADDR] [--db FILE] [--seed FILE]\n"
                 "              [--control-token TOKEN | --no-control] [--max-body BYTES]\n";
    return 2;
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
        if (a == QLatin1String("--port")) {
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
        std::cerr << "taxsim: cannot open the store " << db.toStdString() << ": " << service->lastError().toStdString()
                  << "\n";
        return 1;
    }
    if (!seed.isEmpty()) {
        QString error;
        if (!service->seedFromFile(seed, &error)) {
            std::cerr << "taxsim: " << error.toStdString() << "\n";
            return 1;
        }
    } else if (!service->hasTaxpayers()) {
        service->seedDemo();
    }

    taxsim::HttpServer server(service, limits);
    if (!noControl) server.setControlToken(controlToken.trimmed());
    if (!server.start(port, host)) {
        std::cerr << "taxsim: " << server.error().toStdString() << "\n";
        return 1;
    }
    std::cout << server.baseUrl().toStdString() << std::endl; // flushed

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
    return 0;
}
