#pragma once
// The tax service over HTTP: POST <base URL>/NormalServlet with the request
// text (UTF-8) and HTTP Basic credentials; the reply text comes back with
// status 200 unless a fault says otherwise.
//
// POST /__control takes control commands (service.h) only when a control
// token is set, and only from a request carrying "Authorization: Bearer
// <token>"; any other request to it gets 404, as if there were no such path.
//
// One thread watches every connection (epoll) and reads requests without
// blocking; only complete requests go to the worker threads, so a slow or idle
// client holds no worker. Limits: a request must arrive whole within
// requestDeadlineMs of its first byte (else 408 and the connection closes); a
// body larger than maxBodyBytes is refused with 413 as soon as its header says
// so, without reading it; an idle keep-alive connection is closed after
// idleTimeoutMs; bodies being read at one time may not exceed
// maxBufferedBodyBytes together (503 for the one that would). Complete
// requests are served in arrival order, whichever
// connection they came on. Linux only.
#include "taxsim/service.h"

#include <QString>
#include <memory>

namespace taxsim {

struct HttpLimits {
    qint64 maxBodyBytes = 1 << 20;  // 1 MiB
    int maxHeaderBytes = 16 * 1024; // request line and headers
    int requestDeadlineMs = 10000;  // whole request, from its first byte
    int idleTimeoutMs = 5000;       // keep-alive wait for the next request
    int workers = 16;
    int backlog = 1024;
    int maxConnections = 4096;              // beyond: accepted and closed at once
    qint64 maxBufferedBodyBytes = 64 << 20; // bodies being read, all connections together;
                                            // a body beyond gets 503
};

class HttpServer {
public:
    explicit HttpServer(std::shared_ptr<Service> service, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds (port 0: any free port) and starts serving. False when the
    // address cannot be bound; error() says why.
    bool start(int port = 0, const QString& host = QStringLiteral("127.0.0.1"));
    // Stops serving; a reply held back by a delay is dropped. Idempotent.
    void stop();

    bool isRunning() const;
    int port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    QString error() const;

    // Empty (the default): /__control does not exist.
    void setControlToken(const QString& token);
    const HttpLimits& limits() const;
    Service& service();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace taxsim
