// The HTTP transport against a hand-written server: replies decoded by the
// charset they name, replies that are not text refused, and the time-out as a
// deadline for the whole exchange.
#include "host/host_services.h"
#include "host/http_transport.h"
#include "host/text_decoding.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace fp {
namespace {

using Clock = std::chrono::steady_clock;

// Listens on a free loopback port and answers every connection with the same
// bytes: the whole response at once, or `chunk` bytes at a time with `pause`
// between them (a server that trickles).
class RawHttpServer {
public:
    explicit RawHttpServer(std::string response, size_t chunk = 0,
                           std::chrono::milliseconds pause = std::chrono::milliseconds(0))
        : response_(std::move(response)), chunk_(chunk), pause_(pause) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 4) != 0) {
            ADD_FAILURE() << "cannot listen on loopback";
            return;
        }
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawHttpServer() {
        {
            std::lock_guard<std::mutex> lock(pacing_);
            stop_ = true;
        }
        stopped_.notify_all();
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:") + QString::number(port_); }

private:
    bool waitReadable(int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }
    void serve() {
        while (!stop_) {
            if (!waitReadable(fd_, 20)) continue;
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            readRequest(c);
            answer(c);
            ::close(c);
        }
    }
    // Reads until the request's headers and its body (Content-Length) are in.
    void readRequest(int c) {
        std::string in;
        char buf[4096];
        size_t need = std::string::npos;
        while (!stop_ && in.size() < need && waitReadable(c, 2000)) {
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, size_t(n));
            const size_t end = in.find("\r\n\r\n");
            if (end != std::string::npos && need == std::string::npos) {
                size_t length = 0;
                const size_t at = in.find("Content-Length: ");
                if (at != std::string::npos && at < end) length = std::stoul(in.substr(at + 16));
                need = end + 4 + length;
            }
        }
    }
    void answer(int c) {
        const size_t step = chunk_ ? chunk_ : response_.size();
        for (size_t at = 0; at < response_.size() && !stop_; at += step) {
            if (::send(c, response_.data() + at, std::min(step, response_.size() - at), MSG_NOSIGNAL) < 0) return;
            if (chunk_) waitBeforeNextChunk();
        }
    }

    // The pause between two chunks of a dripping reply; ends at once when the
    // server is stopped.
    void waitBeforeNextChunk() {
        std::unique_lock<std::mutex> lock(pacing_);
        stopped_.wait_for(lock, pause_, [this] { return stop_.load(); });
    }

    std::string response_;
    size_t chunk_;
    std::chrono::milliseconds pause_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex pacing_;
    std::condition_variable stopped_;
    std::thread thread_;
};

std::string httpReply(const std::string& contentType, const std::string& body) {
    std::string r = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (!contentType.empty()) r += "Content-Type: " + contentType + "\r\n";
    return r + "\r\n" + body;
}

RemoteResult post(const RawHttpServer& server, int timeoutMs = 5000) {
    HttpTransport t(server.baseUrl(), RemoteCredentials{});
    return t.post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90239\r\n"), timeoutMs);
}

TEST(HttpTransportText, RepliesAreDecodedByTheirCharset) {
    const std::string gbk = "ok|@|\xc4\xe3\xba\xc3"; // 你好 in GBK
    struct Case {
        const char* name;
        std::string contentType;
        std::string body;
    };
    const Case cases[] = {
        {"no content type", "", "ok|@|你好"},
        {"no charset", "text/plain", "ok|@|你好"},
        {"UTF-8", "text/plain; charset=UTF-8", "ok|@|你好"},
        {"utf8 quoted", "text/plain;charset=\"utf8\"", "ok|@|你好"},
        {"UTF-8 with a byte order mark", "text/plain; charset=utf-8", "\xef\xbb\xbfok|@|你好"},
        {"GBK", "text/plain; charset=GBK", gbk},
        {"gb2312", "text/html; charset=gb2312", gbk},
        {"GB18030", "text/plain; charset=GB18030", gbk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawHttpServer server(httpReply(c.contentType, c.body));
        const RemoteResult r = post(server);
        EXPECT_EQ(r.kind, RemoteResult::Kind::Ok) << r.detail.toStdString();
        EXPECT_EQ(r.body, QStringLiteral("ok|@|你好"));
    }
}

TEST(HttpTransportText, RepliesThatAreNotTextAreRefusedWithTheReason) {
    struct Case {
        const char* name;
        std::string contentType;
        std::string body;
        const char* message;
    };
    const Case cases[] = {
        {"invalid UTF-8", "text/plain; charset=UTF-8", "ok|@|1|@|\xff\xfe", "不是有效的UTF-8文本"},
        {"GBK bytes without a charset", "text/plain", "ok|@|\xc4\xe3\xba\xc3", "不是有效的UTF-8文本"},
        {"truncated GB18030", "text/plain; charset=gb18030", "ok|@|\x81\x30", "不是有效的GB18030文本"},
        {"a NUL", "text/plain", std::string("ok|@|1\0|@|x", 11), "含有空字符（NUL）"},
        {"another charset", "text/plain; charset=ISO-8859-1", "ok|@|1", "使用了不支持的字符集“iso-8859-1”"},
        {"beyond the limit", "text/plain", "ok|@|" + std::string(size_t(kMaxExternalTextBytes), 'x'), "超过了8MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawHttpServer server(httpReply(c.contentType, c.body));
        Session session;
        test::ScriptedDialogs dialogs;
        HostServices host(session, dialogs);
        host.setTransport(std::make_shared<HttpTransport>(server.baseUrl(), RemoteCredentials{}));
        QString reply = QStringLiteral("untouched");
        EXPECT_FALSE(
            host.f_send_remote_msg(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90239\r\n"), 50, reply));
        EXPECT_EQ(reply, QStringLiteral("untouched"));
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("税务服务器的应答") + QString::fromUtf8(c.message) +
                                                  QStringLiteral("，无法使用！\r\n请稍后再试，或与税务机关联系。")});
    }
}

// The time-out bounds the whole exchange: a server that sends a byte every
// 50 ms (which never lets a single read time out) is cut off at the deadline.
TEST(HttpTransportDeadline, ATricklingServerIsCutOffAtTheTimeOut) {
    const std::string body = "ok|@|" + std::string(200, '1');
    struct Case {
        const char* name;
        std::string response;
    };
    const Case cases[] = {
        {"trickling body", httpReply("text/plain", body)},
        {"trickling headers", "HTTP/1.1 200 OK\r\n" + std::string(400, ' ') + "X: y\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawHttpServer server(c.response, 1, std::chrono::milliseconds(50));
        const auto started = Clock::now();
        const RemoteResult r = post(server, 600);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        EXPECT_EQ(r.kind, RemoteResult::Kind::TimedOut) << r.detail.toStdString();
        // Timed out, not answered: the trickle did not hold the client past its
        // whole-request time-out (a body of this length would arrive in full).
        EXPECT_GE(ms, 600);
    }
    // The same server answers in time when the time-out allows it.
    RawHttpServer quick(httpReply("text/plain", "ok|@|1"), 4, std::chrono::milliseconds(5));
    EXPECT_EQ(post(quick, 5000).kind, RemoteResult::Kind::Ok);
}

TEST(TextDecoding, ContentTypeCharsetAndFiles) {
    EXPECT_EQ(charsetOfContentType("text/plain; charset=\"GBK\""), QByteArray("gbk"));
    EXPECT_EQ(charsetOfContentType("text/plain;foo=bar; CharSet = utf-8 "), QByteArray("utf-8"));
    EXPECT_EQ(charsetOfContentType("text/plain"), QByteArray());
    EXPECT_EQ(charsetOfContentType(""), QByteArray());
    EXPECT_TRUE(decodeExternalText("").ok);
    EXPECT_EQ(decodeExternalText("\xe4\xbd\xa0").text, QStringLiteral("你"));
    EXPECT_FALSE(decodeExternalText("\xed\xa0\x80").ok) << "an encoded surrogate is no UTF-8";
    EXPECT_FALSE(decodeExternalText("\xc0\xaf").ok) << "an over-long form is no UTF-8";
    EXPECT_FALSE(checkExternalText(QStringLiteral("a") + QChar(u'\0')).ok);
}

} // namespace
} // namespace fp
