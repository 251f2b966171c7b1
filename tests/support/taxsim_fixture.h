#pragma once
// The simulated tax service for tests: in the test process behind a loopback
// HTTP server on a free port (TaxsimServer, TaxsimHttpTest), or as the taxsim
// program in its own process (TaxsimProcess).
#include "host/http_transport.h"
#include "host/remote_transport.h"
#include "taxsim/http_server.h"
#include "taxsim/in_process_transport.h"
#include "taxsim/service.h"
#include "tests/support/qt_printers.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <memory>

namespace fp::test {

// The demo taxpayer's credentials at the tax service.
RemoteCredentials demoCredentials();

class TaxsimServer {
public:
    // seedDemo: the service starts with the demo taxpayer, stock and codes.
    explicit TaxsimServer(bool seedDemo = true, const QString& dbPath = QStringLiteral(":memory:"));
    ~TaxsimServer();

    taxsim::Service& service() { return *service_; }
    std::shared_ptr<taxsim::Service> servicePtr() { return service_; }
    taxsim::HttpServer& http() { return *http_; }
    bool isRunning() const;
    QString baseUrl() const;

    // Client transports to this service, with the demo credentials unless given.
    std::shared_ptr<HttpTransport> httpTransport() const;
    std::shared_ptr<HttpTransport> httpTransport(const RemoteCredentials& credentials) const;
    std::shared_ptr<taxsim::InProcessTransport> inProcessTransport() const;

private:
    std::shared_ptr<taxsim::Service> service_;
    std::unique_ptr<taxsim::HttpServer> http_;
};

// A fresh demo service over loopback HTTP for every test.
class TaxsimHttpTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    TaxsimServer& taxsim() { return *server_; }

private:
    std::unique_ptr<TaxsimServer> server_;
};

// POST /__control at a taxsim's base URL with "Authorization: Bearer <token>"
// (no such header when the token is null): the answer, or "err|@|" and why
// the request failed; httpStatus receives the HTTP status (-1: no answer).
QString postControl(const QString& baseUrl, const QString& token, const QString& commands, int* httpStatus = nullptr);

// The taxsim program (FPDESK_TAXSIM_EXE) started with "--port 0" and the extra
// arguments; the base URL is the first line it prints. Stopped with SIGTERM
// (killed if it does not end) when the object goes.
class TaxsimProcess {
public:
    explicit TaxsimProcess(const QStringList& extraArgs = {}, int startTimeoutMs = 15000);
    ~TaxsimProcess();
    TaxsimProcess(const TaxsimProcess&) = delete;
    TaxsimProcess& operator=(const TaxsimProcess&) = delete;

    bool isRunning() const;
    QString baseUrl() const { return baseUrl_; }
    QString error() const { return error_; } // why it did not start
    QString standardError();                 // what the program wrote there so far

    // POST /__control with the token given as "--control-token" in the extra
    // arguments: "ok" or "err|@|" and the reason (or the transport's failure).
    QString control(const QString& commands) const;

    // SIGTERM and wait; the exit code, or -1 when it had to be killed or had crashed.
    int stop(int timeoutMs = 10000);

private:
    std::unique_ptr<QProcess> process_;
    QString baseUrl_;
    QString error_;
};

} // namespace fp::test
