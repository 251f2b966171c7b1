#include "taxsim/http_server.h"

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace taxsim {

namespace {

const char* const kContentType = "text/plain; charset=UTF-8";

void basicCredentials(const httplib::Request& req, Request& out)
{
    const std::string header = req.get_header_value("Authorization");
    const std::string prefix = "Basic ";
    if (header.compare(0, prefix.size(), prefix) != 0)
        return;
    const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(header.substr(prefix.size())));
    const int colon = decoded.indexOf(':');
    if (colon < 0)
        return;
    out.user = QString::fromUtf8(decoded.left(colon));
    out.password = QString::fromUtf8(decoded.mid(colon + 1));
}

std::string utf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

} // namespace

struct HttpServer::Impl {
    std::shared_ptr<Service> service;
    httplib::Server server;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable cv;
    bool stopping = false;
    std::atomic<bool> control{true};
    std::atomic<bool> running{false};
    std::atomic<bool> listenDone{false};
    bool used = false;
    int port = -1;
    QString host;
    QString error;

    void handle(const httplib::Request& req, httplib::Response& res);
};

void HttpServer::Impl::handle(const httplib::Request& req, httplib::Response& res)
{
    const QString body = QString::fromUtf8(req.body.data(), qsizetype(req.body.size()));
    if (req.path == "/__control") {
        if (!control) {
            res.status = 404;
            return;
        }
        res.status = 200;
        res.set_content(utf8(service->control(body)), kContentType);
        return;
    }

    Request request;
    request.path = QString::fromStdString(req.path);
    request.body = body;
    basicCredentials(req, request);
    const Response out = service->handle(request);

    bool drop = out.kind == Response::Kind::Drop;
    if (out.delayMs > 0) {
        std::unique_lock<std::mutex> lock(mutex);
        if (cv.wait_for(lock, std::chrono::milliseconds(out.delayMs), [this] { return stopping; }))
            drop = true;
    }
    if (drop) {
        // The status line goes out, then the connection closes before the
        // promised body: the client gets no complete answer.
        res.status = 200;
        res.set_content_provider(
            1024, kContentType, [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    res.status = out.kind == Response::Kind::HttpStatus ? out.httpStatus : 200;
    res.set_content(utf8(out.body), kContentType);
}

HttpServer::HttpServer(std::shared_ptr<Service> service)
    : d(std::make_unique<Impl>())
{
    d->service = std::move(service);
    d->server.set_keep_alive_timeout(1);
    d->server.Post(".*", [this](const httplib::Request& req, httplib::Response& res) { d->handle(req, res); });
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start(int port, const QString& host)
{
    if (d->running)
        return true;
    if (d->used) {
        d->error = QStringLiteral("a stopped server cannot be started again");
        return false;
    }
    d->used = true;
    const std::string h = host.toStdString();
    int bound = -1;
    if (port == 0)
        bound = d->server.bind_to_any_port(h);
    else if (d->server.bind_to_port(h, port))
        bound = port;
    if (bound <= 0) {
        d->error = QStringLiteral("cannot bind %1:%2").arg(host).arg(port);
        return false;
    }
    d->port = bound;
    d->host = host;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = false;
    }
    d->running = true;
    d->thread = std::thread([this] {
        d->server.listen_after_bind();
        d->listenDone = true;
    });
    return true;
}

void HttpServer::stop()
{
    if (!d->running)
        return;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->cv.notify_all();
    // stop() only reaches a server that is already listening.
    while (!d->server.is_running() && !d->listenDone)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->server.stop();
    if (d->thread.joinable())
        d->thread.join();
    d->running = false;
}

bool HttpServer::isRunning() const
{
    return d->running;
}

int HttpServer::port() const
{
    return d->port;
}

QString HttpServer::baseUrl() const
{
    return QStringLiteral("http://%1:%2").arg(d->host).arg(d->port);
}

QString HttpServer::error() const
{
    return d->error;
}

void HttpServer::setControlEnabled(bool on)
{
    d->control = on;
}

Service& HttpServer::service()
{
    return *d->service;
}

} // namespace taxsim
