// The HTTP server under clients that misbehave: oversized bodies, slow
// senders, many idle keep-alive connections. Raw loopback sockets, so that a
// test controls exactly what goes on the wire and when.
#include "tests/support/taxsim_fixture.h"
#include "tests/taxsim/taxsim_requests.h"

#include <QFile>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace fp::test;
using fp::RemoteResult;

namespace {

using Clock = std::chrono::steady_clock;

qint64 msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A client socket connected to 127.0.0.1:port; closed with the object.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient() {
        if (fd_ >= 0) close(fd_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // False once the server no longer takes bytes.
    bool send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t w = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (w <= 0) return false;
            done += size_t(w);
        }
        return true;
    }

    // What arrives until the server closes, `until` has been seen, or the
    // time-out passes.
    std::string receive(int timeoutMs, const std::string& until = {}) {
        std::string got;
        const auto start = Clock::now();
        for (;;) {
            const qint64 left = timeoutMs - msSince(start);
            if (left <= 0) return got;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, int(left)) <= 0) return got;
            char buf[4096];
            const ssize_t r = recv(fd_, buf, sizeof buf, 0);
            if (r <= 0) return got;
            got.append(buf, size_t(r));
            if (!until.empty() && got.find(until) != std::string::npos) return got;
        }
    }

private:
    int fd_ = -1;
};

std::string basicAuthorization() {
    const QByteArray pair = (demoSxh() + QStringLiteral(":") + demoPassword()).toUtf8();
    return "Authorization: Basic " + pair.toBase64().toStdString() + "\r\n";
}

std::string post(const std::string& body, bool keepAlive = true) {
    return "POST /NormalServlet HTTP/1.1\r\nHost: 127.0.0.1\r\n" + basicAuthorization() +
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           (keepAlive ? "" : "Connection: close\r\n") + "\r\n" + body;
}

qint64 residentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

RemoteResult status(TaxsimServer& server, int timeoutMs = 5000) {
    return server.httpTransport()->post(QStringLiteral("NormalServlet"),
                                        statusRequest(code50(), QStringLiteral("00000001")), timeoutMs);
}

TEST(HttpLimits, OversizedBodiesAreRefusedUnreadAndNotKept) {
    TaxsimServer server;
    ASSERT_TRUE(server.isRunning());
    const qint64 before = residentKiB();
    const std::string chunk(1 << 16, 'x');
    const qint64 kBody = 100LL << 20; // 100 MB
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        RawClient c(server.http().port());
        ASSERT_TRUE(c.connected());
        // The header promises 100 MB; the client keeps sending until the
        // server stops taking bytes, as a careless client would.
        ASSERT_TRUE(c.send("POST /NormalServlet HTTP/1.1\r\nHost: 127.0.0.1\r\n" + basicAuthorization() +
                           "Content-Length: " + std::to_string(kBody) + "\r\n\r\n"));
        std::atomic<qint64> sent{0};
        std::thread sender([&] {
            while (sent < kBody && c.send(chunk)) sent += qint64(chunk.size());
        });
        const std::string answer = c.receive(10000, "\r\n\r\n");
        shutdown(c.fd(), SHUT_RDWR);
        sender.join();
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 413") << answer;
    }
    EXPECT_LT(residentKiB() - before, 8 * 1024) << "resident memory grew by more than 8 MB";
    EXPECT_TRUE(server.service().requestLog().empty());
    EXPECT_EQ(status(server).body, QStringLiteral("ok|@|0|@|未使用"));
}

TEST(HttpLimits, BodyLimitIsConfigurableAndCoversControlRequests) {
    taxsim::HttpLimits limits;
    limits.maxBodyBytes = 1000;
    auto service = std::make_shared<taxsim::Service>();
    service->seedDemo();
    taxsim::HttpServer server(service, limits);
    server.setControlToken(QStringLiteral("tok"));
    ASSERT_TRUE(server.start(0));

    RawClient small(server.port());
    ASSERT_TRUE(small.send(post("proc_id:90001" + std::string(900, ' '))));
    EXPECT_EQ(small.receive(5000, "ok|@|").substr(0, 12), "HTTP/1.1 200");

    RawClient large(server.port());
    ASSERT_TRUE(large.send(post("proc_id:90001" + std::string(1000, ' '))));
    EXPECT_EQ(large.receive(5000, "\r\n\r\n").substr(0, 12), "HTTP/1.1 413");

    int httpStatus = 0;
    postControl(server.baseUrl(), QStringLiteral("tok"), QStringLiteral("fault drop") + QString(1000, QLatin1Char(' ')),
                &httpStatus);
    EXPECT_EQ(httpStatus, 413);
    EXPECT_EQ(service->pendingFaults(), 0);
}

TEST(HttpLimits, BodiesBeingReadShareABudget) {
    taxsim::HttpLimits limits;
    limits.maxBufferedBodyBytes = 1500;
    auto service = std::make_shared<taxsim::Service>();
    service->seedDemo();
    taxsim::HttpServer server(service, limits);
    ASSERT_TRUE(server.start(0));
    const std::string body = "proc_id:90001" + std::string(787, ' '); // 800 bytes
    const std::string request = post(body);
    const std::string head = request.substr(0, request.size() - body.size());

    // The first client's body is under way; a second one would overflow.
    RawClient first(server.port());
    ASSERT_TRUE(first.send(head + body.substr(0, 10)));
    first.receive(200); // nothing comes: the body is not complete
    RawClient second(server.port());
    ASSERT_TRUE(second.send(head));
    EXPECT_EQ(second.receive(5000, "\r\n\r\n").substr(0, 12), "HTTP/1.1 503");

    // Once the first body is in, its share is free again.
    ASSERT_TRUE(first.send(body.substr(10)));
    EXPECT_EQ(first.receive(5000, "ok|@|").substr(0, 12), "HTTP/1.1 200");
    RawClient third(server.port());
    ASSERT_TRUE(third.send(request));
    EXPECT_EQ(third.receive(5000, "ok|@|").substr(0, 12), "HTTP/1.1 200");
}

TEST(HttpLimits, SlowClientsHoldNoWorkerAndAreCutOffAtTheDeadline) {
    taxsim::HttpLimits limits;
    limits.workers = 2;
    // Longer than the new client below waits: a client kept waiting for the
    // slow ones to be cut off times out instead of being served.
    limits.requestDeadlineMs = 4000;
    auto service = std::make_shared<taxsim::Service>();
    service->seedDemo();
    taxsim::HttpServer server(service, limits);
    ASSERT_TRUE(server.start(0));

    // 64 clients that started a request and send its header a line at a time.
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawClient>(server.port()));
        ASSERT_TRUE(slow.back()->connected());
        ASSERT_TRUE(slow.back()->send("POST /NormalServlet HTTP/1.1\r\n"));
    }
    for (auto& c : slow) ASSERT_TRUE(c->send("Host: 127.0.0.1\r\n"));

    fp::HttpTransport client(server.baseUrl(), demoCredentials());
    const RemoteResult r = client.post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90001"), 3000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok) << r.detail.toStdString();

    // Lines keep coming, but the whole request is late: 408 and closed.
    for (auto& c : slow) c->send("X-Slow: 1\r\n");
    for (auto& c : slow) {
        const std::string answer = c->receive(10000);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 408") << answer;
    }
    EXPECT_EQ(service->requestLog().size(), 1u);
}

TEST(HttpLimits, IdleKeepAliveConnectionsDoNotStarveNewClients) {
    taxsim::HttpLimits limits;
    limits.workers = 2;
    // Far longer than the new client below waits: a client kept waiting for
    // the idle ones to be closed times out instead of being served.
    limits.idleTimeoutMs = 60000;
    auto service = std::make_shared<taxsim::Service>();
    service->seedDemo();
    taxsim::HttpServer server(service, limits);
    ASSERT_TRUE(server.start(0));

    // Many clients each had an answer and keep their connection open.
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 48; ++i) {
        idle.push_back(std::make_unique<RawClient>(server.port()));
        ASSERT_TRUE(idle.back()->send(post("proc_id:90001")));
        EXPECT_NE(idle.back()->receive(5000, "ok|@|").find("ok|@|"), std::string::npos);
    }
    fp::HttpTransport client(server.baseUrl(), demoCredentials());
    EXPECT_EQ(client.post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90001"), 5000).kind,
              RemoteResult::Kind::Ok);

    // The idle connections still serve their next request, two in one go.
    RawClient& again = *idle.front();
    ASSERT_TRUE(again.send(post("proc_id:90001") + post("proc_id:90003", false)));
    const std::string both = again.receive(5000);
    EXPECT_EQ(both.find("HTTP/1.1 200"), 0u) << both;
    EXPECT_NE(both.find("HTTP/1.1 200", 1), std::string::npos) << both;
    EXPECT_NE(both.find("Connection: close"), std::string::npos);
}

TEST(HttpLimits, MalformedRequestsAreRefused) {
    TaxsimServer server;
    struct Case {
        const char* name;
        std::string bytes;
        const char* status;
    };
    const Case cases[] = {
        {"not HTTP", "HELLO\r\n\r\n", "HTTP/1.1 400"},
        {"bad length", "POST /NormalServlet HTTP/1.1\r\nContent-Length: 12x\r\n\r\n", "HTTP/1.1 400"},
        {"chunked body", "POST /NormalServlet HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "HTTP/1.1 411"},
        {"header too large", "POST /NormalServlet HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431"},
        {"not a POST", "GET /NormalServlet HTTP/1.1\r\n\r\n", "HTTP/1.1 405"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient raw(server.http().port());
        ASSERT_TRUE(raw.send(c.bytes));
        EXPECT_EQ(raw.receive(5000, "\r\n\r\n").substr(0, 12), c.status);
    }
    EXPECT_EQ(status(server).body, QStringLiteral("ok|@|0|@|未使用"));
}

} // namespace
