#pragma once
// The tax service over HTTP: POST <base URL>/NormalServlet with the request
// text (UTF-8) and HTTP Basic credentials; the reply text comes back with
// status 200 unless a fault says otherwise. POST /__control takes control
// commands (service.h) when enabled. Serves on 127.0.0.1 on its own threads.
#include "taxsim/service.h"

#include <QString>
#include <memory>

namespace taxsim {

class HttpServer {
public:
    explicit HttpServer(std::shared_ptr<Service> service);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds (port 0: any free port) and starts serving on a thread. False when
    // the port cannot be bound; error() says why.
    bool start(int port = 0, const QString& host = QStringLiteral("127.0.0.1"));
    // Stops serving; a reply held back by a delay is dropped. Idempotent.
    void stop();

    bool isRunning() const;
    int port() const;
    QString baseUrl() const;   // "http://127.0.0.1:PORT"
    QString error() const;

    void setControlEnabled(bool on);   // default: enabled
    Service& service();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace taxsim
