#include "taxsim/http_server.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace taxsim {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kContentType = "text/plain; charset=UTF-8";
constexpr int kLingerMs = 2000;      // reading and discarding after a refusal
constexpr int kSweepIntervalMs = 50; // how often deadlines are looked at

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool sameToken(const std::string& a, const std::string& b) {
    // Compared in full whatever the first difference, so that timing does not
    // tell how much of a guess was right.
    if (a.size() != b.size() || b.empty()) return false;
    unsigned diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= unsigned(static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]));
    return diff == 0;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string responseHead(int status, size_t contentLength, bool close) {
    std::string h = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    h += "Content-Type: ";
    h += kContentType;
    h += "\r\nContent-Length: " + std::to_string(contentLength) + "\r\n";
    h += close ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
    return h;
}

std::string response(int status, const std::string& body, bool close) {
    return responseHead(status, body.size(), close) + body;
}

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

void basicCredentials(const std::string& header, Request& out) {
    const std::string prefix = "Basic ";
    if (header.compare(0, prefix.size(), prefix) != 0) return;
    const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(header.substr(prefix.size())));
    const int colon = decoded.indexOf(':');
    if (colon < 0) return;
    out.user = QString::fromUtf8(decoded.left(colon));
    out.password = QString::fromUtf8(decoded.mid(colon + 1));
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

// The head of a request as far as the server needs it.
struct RequestHead {
    std::string method;
    std::string path;
    std::string authorization;
    qint64 contentLength = 0;
    bool keepAlive = true;
    bool expectContinue = false;
    bool chunked = false;
};

// Parses "METHOD target HTTP/1.x" and the header lines. False: not HTTP.
bool parseHead(std::string_view text, RequestHead& head) {
    size_t eol = text.find("\r\n");
    const std::string_view requestLine = text.substr(0, eol);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    head.method = std::string(requestLine.substr(0, sp1));
    std::string_view target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = requestLine.substr(sp2 + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
    head.keepAlive = version == "HTTP/1.1";
    const size_t query = target.find('?');
    if (query != std::string_view::npos) target = target.substr(0, query);
    if (target.empty() || target.front() != '/') return false;
    head.path = std::string(target);

    bool lengthSeen = false;
    size_t pos = eol == std::string_view::npos ? text.size() : eol + 2;
    while (pos < text.size()) {
        eol = text.find("\r\n", pos);
        const std::string_view line = text.substr(pos, eol == std::string_view::npos ? text.npos : eol - pos);
        pos = eol == std::string_view::npos ? text.size() : eol + 2;
        if (line.empty()) continue;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        const std::string name = lower(line.substr(0, colon));
        const std::string_view value = trim(line.substr(colon + 1));
        if (name == "content-length") {
            if (value.empty() || value.size() > 18 || lengthSeen) return false;
            qint64 n = 0;
            for (char c : value) {
                if (c < '0' || c > '9') return false;
                n = n * 10 + (c - '0');
            }
            head.contentLength = n;
            lengthSeen = true;
        } else if (name == "authorization") {
            head.authorization = std::string(value);
        } else if (name == "connection") {
            const std::string v = lower(value);
            if (v.find("close") != std::string::npos)
                head.keepAlive = false;
            else if (v.find("keep-alive") != std::string::npos)
                head.keepAlive = true;
        } else if (name == "expect") {
            head.expectContinue = lower(value) == "100-continue";
        } else if (name == "transfer-encoding") {
            head.chunked = true;
        }
    }
    return true;
}

} // namespace

struct HttpServer::Impl {
    enum class State { Head, Body, Busy, Writing, Lingering };

    struct Connection {
        int fd = -1;
        quint64 id = 0;
        State state = State::Head;
        std::string in;
        size_t headEnd = 0;      // bytes of the head, in Body state
        qint64 reservedBody = 0; // share of maxBufferedBodyBytes held
        RequestHead head;
        std::string out;
        size_t outPos = 0;
        bool closeAfterWrite = false;
        Clock::time_point deadline;
    };

    struct Job {
        int fd;
        quint64 id;
        RequestHead head;
        std::string body;
    };

    struct Done {
        int fd;
        quint64 id;
        std::string bytes;
        bool close;
        int delayMs = 0;
    };

    std::shared_ptr<Service> service;
    HttpLimits limits;
    std::mutex tokenMutex;
    std::string controlToken;

    int listenFd = -1;
    int epollFd = -1;
    int wakeFd = -1;
    std::thread ioThread;
    std::vector<std::thread> workers;
    std::atomic<bool> running{false};
    bool used = false;
    int port = -1;
    QString host;
    QString error;

    std::mutex jobMutex;
    std::condition_variable jobCv;
    std::deque<Job> jobs;
    bool stopping = false;

    std::mutex doneMutex;
    std::vector<Done> done;

    // I/O thread only.
    std::unordered_map<int, Connection> connections;
    std::multimap<Clock::time_point, Done> delayed;
    quint64 nextId = 1;
    Clock::time_point lastSweep;
    qint64 reservedBodies = 0;

    // --- I/O thread ---
    void ioLoop();
    void acceptAll();
    void onReadable(Connection& c);
    void onWritable(Connection& c);
    void advance(Connection& c);
    void dispatch(Connection& c);
    void refuse(Connection& c, int status, const std::string& text);
    void startWriting(Connection& c, std::string bytes, bool close);
    void waitFor(Connection& c, uint32_t events);
    void closeConnection(int fd);
    void releaseBody(Connection& c);
    void finishedWriting(Connection& c);
    void takeCompletions();
    void sweepDeadlines();
    int nextTimeoutMs() const;

    // --- workers ---
    void workerLoop();
    Done serve(Job& job);
    std::string serveControl(const Job& job);
    void complete(Done d);
};

// ---------------------------------------------------------------------------
// I/O thread

void HttpServer::Impl::ioLoop() {
    std::vector<epoll_event> events(256);
    lastSweep = Clock::now();
    for (;;) {
        const int n = epoll_wait(epollFd, events.data(), int(events.size()), nextTimeoutMs());
        if (n < 0 && errno != EINTR) break;
        bool stop = false;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            const uint32_t ev = events[i].events;
            if (fd == listenFd) {
                acceptAll();
                continue;
            }
            if (fd == wakeFd) {
                uint64_t value;
                [[maybe_unused]] ssize_t r = read(wakeFd, &value, sizeof value);
                std::lock_guard<std::mutex> lock(jobMutex);
                stop = stopping;
                continue;
            }
            auto it = connections.find(fd);
            if (it == connections.end()) continue;
            Connection& c = it->second;
            if (ev & (EPOLLERR | EPOLLHUP)) {
                closeConnection(fd);
                continue;
            }
            if ((ev & EPOLLOUT) && c.state == State::Writing)
                onWritable(c);
            else if (ev & (EPOLLIN | EPOLLRDHUP))
                onReadable(c);
        }
        if (stop) break;
        takeCompletions();
        const Clock::time_point now = Clock::now();
        while (!delayed.empty() && delayed.begin()->first <= now) {
            Done d = std::move(delayed.begin()->second);
            delayed.erase(delayed.begin());
            auto it = connections.find(d.fd);
            if (it != connections.end() && it->second.id == d.id) startWriting(it->second, std::move(d.bytes), d.close);
        }
        if (now - lastSweep >= std::chrono::milliseconds(kSweepIntervalMs)) sweepDeadlines();
    }
    for (auto& [fd, c] : connections) close(fd);
    connections.clear();
    delayed.clear();
}

int HttpServer::Impl::nextTimeoutMs() const {
    int timeout = kSweepIntervalMs;
    if (!delayed.empty()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(delayed.begin()->first - Clock::now());
        timeout = std::clamp(int(wait.count()) + 1, 0, timeout);
    }
    return timeout;
}

void HttpServer::Impl::acceptAll() {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return; // EAGAIN, or out of descriptors for now
        if (int(connections.size()) >= limits.maxConnections) {
            close(fd);
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Connection& c = connections[fd];
        c.fd = fd;
        c.id = nextId++;
        c.state = State::Head;
        c.deadline = Clock::now() + std::chrono::milliseconds(limits.requestDeadlineMs);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
    }
}

void HttpServer::Impl::onReadable(Connection& c) {
    char buf[65536];
    if (c.state == State::Lingering) {
        // Everything the client still sends after a refusal is dropped.
        for (;;) {
            const ssize_t r = read(c.fd, buf, sizeof buf);
            if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
                closeConnection(c.fd);
                return;
            }
            if (r < 0) return;
        }
    }
    if (c.state != State::Head && c.state != State::Body) return;
    const bool wasIdle = c.in.empty() && c.state == State::Head;
    for (;;) {
        // Never more than the request can legitimately need.
        const size_t want = c.state == State::Body ? size_t(c.headEnd + size_t(c.head.contentLength) - c.in.size())
                                                   : size_t(limits.maxHeaderBytes) + 1 -
                                                         std::min(c.in.size(), size_t(limits.maxHeaderBytes));
        if (want == 0) break;
        const ssize_t r = read(c.fd, buf, std::min(want, sizeof buf));
        if (r == 0) {
            closeConnection(c.fd);
            return;
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) {
                closeConnection(c.fd);
                return;
            }
            break;
        }
        c.in.append(buf, size_t(r));
        if (wasIdle && c.in.size() == size_t(r))
            c.deadline = Clock::now() + std::chrono::milliseconds(limits.requestDeadlineMs);
        if (c.state == State::Head && c.in.find("\r\n\r\n") != std::string::npos) break;
        if (c.state == State::Head && c.in.size() > size_t(limits.maxHeaderBytes)) break;
    }
    advance(c);
}

// Moves a connection on as far as the bytes read allow.
void HttpServer::Impl::advance(Connection& c) {
    if (c.state == State::Head) {
        const size_t end = c.in.find("\r\n\r\n");
        if (end == std::string::npos || end + 4 > size_t(limits.maxHeaderBytes)) {
            if (c.in.size() > size_t(limits.maxHeaderBytes) || end != std::string::npos)
                refuse(c, 431, "request header too large");
            return;
        }
        RequestHead head;
        if (!parseHead(std::string_view(c.in).substr(0, end), head)) {
            refuse(c, 400, "bad request");
            return;
        }
        if (head.chunked) {
            refuse(c, 411, "a Content-Length is required");
            return;
        }
        if (head.contentLength > limits.maxBodyBytes) {
            refuse(c, 413, "request body larger than " + std::to_string(limits.maxBodyBytes) + " bytes");
            return;
        }
        if (reservedBodies + head.contentLength > limits.maxBufferedBodyBytes) {
            refuse(c, 503, "too many request bodies at once, try again");
            return;
        }
        reservedBodies += head.contentLength;
        c.reservedBody = head.contentLength;
        c.head = std::move(head);
        c.headEnd = end + 4;
        c.state = State::Body;
        if (c.head.expectContinue && c.in.size() < c.headEnd + size_t(c.head.contentLength)) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            [[maybe_unused]] ssize_t w = send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
        }
    }
    if (c.state == State::Body && c.in.size() >= c.headEnd + size_t(c.head.contentLength)) dispatch(c);
}

void HttpServer::Impl::dispatch(Connection& c) {
    const size_t length = size_t(c.head.contentLength);
    Job job{c.fd, c.id, std::move(c.head), c.in.substr(c.headEnd, length)};
    c.in.erase(0, c.headEnd + length);
    if (c.in.capacity() > 65536) c.in.shrink_to_fit();
    releaseBody(c);
    c.head = {};
    c.headEnd = 0;
    c.state = State::Busy;
    waitFor(c, 0);
    {
        std::lock_guard<std::mutex> lock(jobMutex);
        jobs.push_back(std::move(job));
    }
    jobCv.notify_one();
}

void HttpServer::Impl::refuse(Connection& c, int status, const std::string& text) {
    releaseBody(c);
    c.in.clear();
    c.in.shrink_to_fit();
    startWriting(c, response(status, text + "\n", true), true);
}

void HttpServer::Impl::waitFor(Connection& c, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = c.fd;
    epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &ev);
}

void HttpServer::Impl::startWriting(Connection& c, std::string bytes, bool close) {
    c.out = std::move(bytes);
    c.outPos = 0;
    c.closeAfterWrite = close;
    c.state = State::Writing;
    onWritable(c);
}

void HttpServer::Impl::onWritable(Connection& c) {
    while (c.outPos < c.out.size()) {
        const ssize_t w = send(c.fd, c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                waitFor(c, EPOLLOUT);
                return;
            }
            closeConnection(c.fd);
            return;
        }
        c.outPos += size_t(w);
    }
    finishedWriting(c);
}

void HttpServer::Impl::finishedWriting(Connection& c) {
    c.out.clear();
    c.outPos = 0;
    if (c.closeAfterWrite) {
        // Reading on for a moment lets the client see the answer instead of a
        // reset caused by the bytes it is still sending.
        shutdown(c.fd, SHUT_WR);
        c.state = State::Lingering;
        c.deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
        waitFor(c, EPOLLIN | EPOLLRDHUP);
        return;
    }
    c.state = State::Head;
    c.deadline =
        Clock::now() + std::chrono::milliseconds(c.in.empty() ? limits.idleTimeoutMs : limits.requestDeadlineMs);
    waitFor(c, EPOLLIN | EPOLLRDHUP);
    if (!c.in.empty()) advance(c); // a pipelined request already read
}

void HttpServer::Impl::releaseBody(Connection& c) {
    reservedBodies -= c.reservedBody;
    c.reservedBody = 0;
}

void HttpServer::Impl::closeConnection(int fd) {
    auto it = connections.find(fd);
    if (it != connections.end()) releaseBody(it->second);
    epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    connections.erase(fd);
}

void HttpServer::Impl::takeCompletions() {
    std::vector<Done> ready;
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        ready.swap(done);
    }
    for (Done& d : ready) {
        if (d.delayMs > 0) {
            const Clock::time_point at = Clock::now() + std::chrono::milliseconds(d.delayMs);
            delayed.emplace(at, std::move(d));
            continue;
        }
        auto it = connections.find(d.fd);
        if (it == connections.end() || it->second.id != d.id) continue; // the client went away meanwhile
        startWriting(it->second, std::move(d.bytes), d.close);
    }
}

void HttpServer::Impl::sweepDeadlines() {
    const Clock::time_point now = Clock::now();
    lastSweep = now;
    std::vector<int> expired;
    for (auto& [fd, c] : connections) {
        if ((c.state == State::Head || c.state == State::Body || c.state == State::Lingering) && c.deadline <= now)
            expired.push_back(fd);
    }
    for (int fd : expired) {
        Connection& c = connections[fd];
        if (c.state != State::Lingering && !c.in.empty())
            refuse(c, 408, "request not received in time");
        else
            closeConnection(fd);
    }
}

// ---------------------------------------------------------------------------
// Workers

void HttpServer::Impl::workerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(jobMutex);
            jobCv.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping) return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        complete(serve(job));
    }
}

void HttpServer::Impl::complete(Done d) {
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        done.push_back(std::move(d));
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(wakeFd, &one, sizeof one);
}

HttpServer::Impl::Done HttpServer::Impl::serve(Job& job) {
    const bool close = !job.head.keepAlive;
    if (job.head.path == "/__control") return {job.fd, job.id, serveControl(job), close};
    if (job.head.method != "POST") return {job.fd, job.id, response(405, "POST only\n", close), close};

    Request request;
    request.path = QString::fromStdString(job.head.path);
    request.body = QString::fromUtf8(job.body.data(), qsizetype(job.body.size()));
    basicCredentials(job.head.authorization, request);
    job.body.clear();
    const Response out = service->handle(request);

    Done d{job.fd, job.id, {}, close};
    if (out.kind == Response::Kind::Drop) {
        // The status line goes out, then the connection closes before the
        // promised body: the client gets no complete answer.
        d.bytes = responseHead(200, 1024, true);
        d.close = true;
    } else {
        const int status = out.kind == Response::Kind::HttpStatus ? out.httpStatus : 200;
        d.bytes = response(status, utf8(out.body), close);
    }
    d.delayMs = std::max(0, out.delayMs); // held back by the I/O thread, not by this worker
    return d;
}

std::string HttpServer::Impl::serveControl(const Job& job) {
    const bool close = !job.head.keepAlive;
    std::string token;
    {
        std::lock_guard<std::mutex> lock(tokenMutex);
        token = controlToken;
    }
    const std::string bearer = "Bearer ";
    const std::string& auth = job.head.authorization;
    const bool authorised =
        !token.empty() && auth.compare(0, bearer.size(), bearer) == 0 && sameToken(auth.substr(bearer.size()), token);
    if (!authorised) return response(404, "not found\n", close);
    if (job.head.method != "POST") return response(405, "POST only\n", close);
    const QString commands = QString::fromUtf8(job.body.data(), qsizetype(job.body.size()));
    return response(200, utf8(service->control(commands)), close);
}

// ---------------------------------------------------------------------------
// HttpServer

HttpServer::HttpServer(std::shared_ptr<Service> service, HttpLimits limits) : d(std::make_unique<Impl>()) {
    d->service = std::move(service);
    d->limits = limits;
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(int port, const QString& host) {
    if (d->running) return true;
    if (d->used) {
        d->error = QStringLiteral("a stopped server cannot be started again");
        return false;
    }
    d->used = true;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string h = host.toStdString();
    const std::string p = std::to_string(port);
    if (getaddrinfo(h.c_str(), p.c_str(), &hints, &found) != 0 || !found) {
        d->error = QStringLiteral("cannot resolve %1").arg(host);
        return false;
    }
    int fd = -1;
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, d->limits.backlog) == 0) break;
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0) {
        d->error =
            QStringLiteral("cannot bind %1:%2: %3").arg(host).arg(port).arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    d->port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                          : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    d->host = host;
    setNonBlocking(fd);
    d->listenFd = fd;
    d->epollFd = epoll_create1(EPOLL_CLOEXEC);
    d->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    for (int watched : {d->listenFd, d->wakeFd}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = watched;
        epoll_ctl(d->epollFd, EPOLL_CTL_ADD, watched, &ev);
    }
    d->stopping = false;
    d->running = true;
    for (int i = 0; i < std::max(1, d->limits.workers); ++i) d->workers.emplace_back([this] { d->workerLoop(); });
    d->ioThread = std::thread([this] { d->ioLoop(); });
    return true;
}

void HttpServer::stop() {
    if (!d->running) return;
    {
        std::lock_guard<std::mutex> lock(d->jobMutex);
        d->stopping = true;
    }
    d->jobCv.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(d->wakeFd, &one, sizeof one);
    for (std::thread& t : d->workers) t.join();
    d->workers.clear();
    if (d->ioThread.joinable()) d->ioThread.join();
    close(d->listenFd);
    close(d->epollFd);
    close(d->wakeFd);
    d->listenFd = d->epollFd = d->wakeFd = -1;
    d->running = false;
}

bool HttpServer::isRunning() const { return d->running; }

int HttpServer::port() const { return d->port; }

QString HttpServer::baseUrl() const { return QStringLiteral("http://%1:%2").arg(d->host).arg(d->port); }

QString HttpServer::error() const { return d->error; }

void HttpServer::setControlToken(const QString& token) {
    std::lock_guard<std::mutex> lock(d->tokenMutex);
    d->controlToken = token.toStdString();
}

const HttpLimits& HttpServer::limits() const { return d->limits; }

Service& HttpServer::service() { return *d->service; }

} // namespace taxsim
