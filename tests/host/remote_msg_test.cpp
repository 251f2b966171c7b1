// f_send_remote_msg against the simulated tax service over loopback HTTP:
// success, every kind of failure and its message, the time-out units, the
// busy runner and the guard against a second exchange while one runs.
#include "host/host_services.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <memory>
#include <thread>

using namespace fp;
using namespace fp::test;
using taxsim::Fault;

namespace {

const QString kUrl = QStringLiteral("NormalServlet");
const QString kStatus = QStringLiteral("proc_id:90239\r\nas_fpdm:237020000001\r\nas_fphm:00000001\r\nas_getinfo:0\r\n");

// A loopback port bound for the test's life, so that no other process can
// take it: without `listen`, connecting is refused; with it, connections wait
// in its queue, never answered, to be counted.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listen = false) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            (!listen || (::listen(fd_, 8) == 0 && ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK) == 0)) &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port_ = ntohs(addr.sin_port);
    }
    ~LoopbackPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;
    int port() const { return port_; }
    int connectionsMade() {
        int n = 0;
        for (int c; (c = ::accept(fd_, nullptr, nullptr)) >= 0; ++n) ::close(c);
        return n;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

class RemoteMsgTest : public TaxsimHttpTest {
protected:
    void SetUp() override {
        TaxsimHttpTest::SetUp();
        host.setTransport(taxsim().httpTransport());
    }

    Session session;
    ScriptedDialogs dialogs;
    HostServices host{session, dialogs};
};

TEST_F(RemoteMsgTest, AcceptedReplyIsReturnedWholeAndRecorded) {
    QString reply;
    ASSERT_TRUE(host.f_send_remote_msg(kUrl, kStatus, 200, reply));
    EXPECT_EQ(reply, QStringLiteral("ok|@|0|@|未使用"));
    EXPECT_TRUE(dialogs.messages().isEmpty());

    ASSERT_EQ(host.exchanges().size(), 1u);
    const HostServices::Exchange& e = host.exchanges()[0];
    EXPECT_EQ(e.url, kUrl);
    EXPECT_EQ(e.request, kStatus);
    EXPECT_EQ(e.timeout, 200);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.reply, reply);
    // The service received the request text and credentials unchanged.
    EXPECT_EQ(taxsim().service().requestLog().back().body, kStatus);
    EXPECT_EQ(taxsim().service().requestLog().back().user, demoCredentials().user);
}

struct FailureCase {
    const char* name;
    // The service, the host and a port where nothing listens.
    std::function<void(taxsim::Service&, HostServices&, int)> arrange;
    QString message; // the one message shown ("PORT" stands for the port)
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class RemoteMsgFailureTest : public RemoteMsgTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RemoteMsgFailureTest, ShowsOneMessageAndReturnsFalse) {
    const FailureCase& c = GetParam();
    LoopbackPort closed;
    ASSERT_GT(closed.port(), 0);
    c.arrange(taxsim().service(), host, closed.port());

    QString reply = QStringLiteral("untouched");
    EXPECT_FALSE(host.f_send_remote_msg(kUrl, kStatus, 200, reply));
    EXPECT_EQ(reply, QStringLiteral("untouched"));
    ASSERT_EQ(dialogs.messages().size(), 1);
    QString expected = c.message;
    expected.replace(QStringLiteral("PORT"), QString::number(closed.port()));
    EXPECT_EQ(dialogs.messages()[0], expected);
    ASSERT_EQ(host.exchanges().size(), 1u);
    EXPECT_FALSE(host.exchanges()[0].ok);
    EXPECT_EQ(host.exchanges()[0].request, kStatus);
}

const auto inject = [](Fault f) { return [f](taxsim::Service& s, HostServices&, int) { s.injectFault(f); }; };

INSTANTIATE_TEST_SUITE_P(
    Kinds, RemoteMsgFailureTest,
    ::testing::Values(
        FailureCase{"refusal", inject({Fault::Kind::Refuse, 0, 500, QStringLiteral("该发票号码已被使用！")}),
                    QStringLiteral("该发票号码已被使用！")},
        FailureCase{"wrong password",
                    [](taxsim::Service&, HostServices& h, int) {
                        auto t = std::make_shared<HttpTransport>(
                            static_cast<HttpTransport*>(h.transport())->baseUrl(),
                            RemoteCredentials{demoCredentials().user, QStringLiteral("wrong")});
                        h.setTransport(t);
                    },
                    QStringLiteral("身份验证失败：纳税人账号或密码错误！")},
        FailureCase{"malformed reply", inject({Fault::Kind::Malformed, 0, 500, QStringLiteral("<html>维护中</html>")}),
                    QStringLiteral("<html>维护中</html>")},
        FailureCase{"refusal without text", inject({Fault::Kind::Malformed, 0, 500, QStringLiteral("err|@|")}),
                    QStringLiteral("税务服务器拒绝了请求，但没有说明原因！")},
        FailureCase{"http error", inject({Fault::Kind::HttpError, 0, 500, QStringLiteral("内部错误")}),
                    QStringLiteral("税务服务器返回错误（HTTP 500）：内部错误\r\n请稍后再试！")},
        FailureCase{"dropped", inject({Fault::Kind::Drop, 0, 500, {}}),
                    QStringLiteral("与税务服务器的连接意外中断，没有收到应答！\r\n"
                                   "服务器可能已经受理了本次请求，请稍后核对发票在服务器上的状态。")},
        FailureCase{"time-out",
                    [](taxsim::Service& s, HostServices& h, int) {
                        h.setTimeoutUnitMs(1); // 200 units -> 0.2 s
                        s.injectFault({Fault::Kind::Delay, 60000, 500, {}});
                    },
                    QStringLiteral("税务服务器在0.2秒内没有应答，请稍后再试！")},
        FailureCase{
            "connection refused",
            [](taxsim::Service&, HostServices& h, int port) {
                h.setTransport(std::make_shared<HttpTransport>(QStringLiteral("http://127.0.0.1:%1").arg(port),
                                                               demoCredentials()));
            },
            QStringLiteral("无法连接税务服务器：http://127.0.0.1:PORT/NormalServlet（连接被拒绝或主机不存在）\r\n"
                           "请检查网络连接和服务器地址后再试！")}),
    [](const ::testing::TestParamInfo<FailureCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(RemoteMsgTest, ReplyLostAfterTheServiceStoredTheChange) {
    taxsim().service().injectFault({Fault::Kind::LostReply, 0, 500, {}}, 76129);
    QString reply;
    EXPECT_FALSE(host.f_send_remote_msg(
        kUrl,
        QStringLiteral("proc_id:76129\r\nas_fpdm:237020000001\r\nas_fphm:00000009\r\nas_fpzt:3\r\nas_kpr:张三\r\n"),
        100, reply));
    EXPECT_TRUE(dialogs.lastMessage().startsWith(QStringLiteral("与税务服务器的连接意外中断")));
    EXPECT_EQ(taxsim().service().statusOf(QStringLiteral("237020000001"), QStringLiteral("00000009")),
              QStringLiteral("3"));
}

TEST_F(RemoteMsgTest, WithoutATransportNothingIsSent) {
    host.setTransport(nullptr);
    QString reply;
    EXPECT_FALSE(host.f_send_remote_msg(kUrl, kStatus, 200, reply));
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("没有配置税务服务器的连接，无法与税务服务器通讯！")});
    EXPECT_TRUE(taxsim().service().requestLog().empty());
}

TEST_F(RemoteMsgTest, BusyRunnerCarriesTheExchangeAndASecondExchangeIsRefused) {
    int runs = 0;
    bool innerResult = true;
    host.setBusyRunner([&](const std::function<void()>& work) {
        ++runs;
        // Input reaching a handler while the busy indicator shows.
        QString innerReply;
        innerResult = host.f_send_remote_msg(kUrl, kStatus, 200, innerReply);
        work();
    });
    QString reply;
    EXPECT_TRUE(host.f_send_remote_msg(kUrl, kStatus, 200, reply));
    EXPECT_EQ(reply, QStringLiteral("ok|@|0|@|未使用"));
    EXPECT_FALSE(innerResult);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("正在与税务服务器通讯，请等待上一个请求完成后再试！")});
    EXPECT_EQ(host.exchanges().size(), 1u);
    EXPECT_EQ(taxsim().service().requestLog().size(), 1u);

    // The guard is released afterwards, after a failure too.
    host.setBusyRunner(nullptr);
    taxsim().service().injectFault({Fault::Kind::Drop, 0, 500, {}});
    EXPECT_FALSE(host.f_send_remote_msg(kUrl, kStatus, 200, reply));
    EXPECT_TRUE(host.f_send_remote_msg(kUrl, kStatus, 200, reply));
    EXPECT_EQ(host.exchanges().size(), 3u);
}

// Time-out units reach the transport as milliseconds.
class RecordingTransport : public RemoteTransport {
public:
    RemoteResult post(const QString&, const QString&, int timeoutMs) override {
        timeouts.push_back(timeoutMs);
        RemoteResult r;
        r.kind = RemoteResult::Kind::Ok;
        r.httpStatus = 200;
        r.body = QStringLiteral("ok|@|");
        return r;
    }
    std::vector<int> timeouts;
};

TEST(RemoteMsgTimeout, UnitsAreConvertedToMilliseconds) {
    Session session;
    ScriptedDialogs dialogs;
    HostServices host(session, dialogs);
    auto transport = std::make_shared<RecordingTransport>();
    host.setTransport(transport);
    struct Case {
        int unitMs;
        int timeout;
        int expectedMs;
    };
    const Case cases[] = {
        {100, 100, 10000}, {100, 200, 20000}, {100, 500, 50000},         {100, 10000, 1000000},
        {1, 200, 200},     {100, 0, 1},       {1000000, 10000, INT_MAX},
    };
    for (const Case& c : cases) {
        host.setTimeoutUnitMs(c.unitMs);
        QString reply;
        EXPECT_TRUE(host.f_send_remote_msg(kUrl, kStatus, c.timeout, reply));
        EXPECT_EQ(transport->timeouts.back(), c.expectedMs) << c.unitMs << " x " << c.timeout;
    }
    EXPECT_EQ(HostServices(session, dialogs).timeoutUnitMs(), 100);
}

// An HTTPS server on loopback with a certificate of its own for 127.0.0.1,
// answering "ok|@|" + the request.
class TlsServer {
public:
    TlsServer() {
        if (!dir_.isValid()) return;
        cert = dir_.filePath(QStringLiteral("cert.pem"));
        const QString key = dir_.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                       QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                       QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=IP:127.0.0.1")});
        if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
            return;
        server_ = std::make_unique<httplib::SSLServer>(cert.toStdString().c_str(), key.toStdString().c_str());
        if (!server_->is_valid()) return;
        server_->Post("/NormalServlet", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("ok|@|" + req.body, "text/plain; charset=UTF-8");
        });
        port = server_->bind_to_any_port("127.0.0.1");
        if (port > 0) serving_ = std::thread([this] { server_->listen_after_bind(); });
    }
    ~TlsServer() {
        if (!serving_.joinable()) return;
        while (!server_->is_running()) std::this_thread::yield();
        server_->stop();
        serving_.join();
    }
    bool running() const { return serving_.joinable(); }
    QString url(const QString& host = QStringLiteral("127.0.0.1")) const {
        return QStringLiteral("https://%1:%2").arg(host).arg(port);
    }

    QString cert;
    int port = 0;

private:
    QTemporaryDir dir_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread serving_;
};

QString unreachableMessage(const QString& url, const QString& why) {
    return QStringLiteral("无法连接税务服务器：") + url + QStringLiteral("/NormalServlet（") + why +
           QStringLiteral("）\r\n请检查网络连接和服务器地址后再试！");
}

// HTTPS: the server's certificate is checked against the given CA file, and
// must be issued for the address the client asked for.
TEST(RemoteMsgHttps, CertificateIsVerified) {
    TlsServer server;
    if (!server.running()) GTEST_SKIP() << "openssl cannot make a test certificate";

    Session session;
    ScriptedDialogs dialogs;
    HostServices host(session, dialogs);
    auto trusted = std::make_shared<HttpTransport>(server.url(), demoCredentials());
    trusted->setCaCertFile(server.cert);
    host.setTransport(trusted);
    QString reply;
    EXPECT_TRUE(host.f_send_remote_msg(kUrl, QStringLiteral("proc_id:90001\r\n"), 100, reply));
    EXPECT_EQ(reply, QStringLiteral("ok|@|proc_id:90001\r\n"));

    host.setTransport(std::make_shared<HttpTransport>(server.url(), demoCredentials())); // system trust store only
    EXPECT_FALSE(host.f_send_remote_msg(kUrl, QStringLiteral("proc_id:90001\r\n"), 100, reply));
    EXPECT_EQ(dialogs.lastMessage(), unreachableMessage(server.url(), QStringLiteral("服务器证书验证失败")));

    // A trusted certificate for 127.0.0.1 does not stand for "localhost".
    auto otherName = std::make_shared<HttpTransport>(server.url(QStringLiteral("localhost")), demoCredentials());
    otherName->setCaCertFile(server.cert);
    host.setTransport(otherName);
    EXPECT_FALSE(host.f_send_remote_msg(kUrl, QStringLiteral("proc_id:90001\r\n"), 100, reply));
    EXPECT_EQ(dialogs.lastMessage(),
              unreachableMessage(server.url(QStringLiteral("localhost")), QStringLiteral("服务器证书验证失败")));
}

// The trusted certificates are loaded before the connection is opened. Loaded
// between the connection and the handshake, the system's (slow on a busy
// machine) could outlast the server's wait for the handshake, which then read
// "SSL 连接失败" whatever the certificate. A CA file that cannot be read is
// therefore refused without connecting.
TEST(RemoteMsgHttps, TheTrustedCertificatesAreLoadedBeforeConnecting) {
    LoopbackPort server(true);
    ASSERT_GT(server.port(), 0);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString base = QStringLiteral("https://127.0.0.1:%1").arg(server.port());

    Session session;
    ScriptedDialogs dialogs;
    HostServices host(session, dialogs);
    auto transport = std::make_shared<HttpTransport>(base, demoCredentials());
    transport->setCaCertFile(dir.filePath(QStringLiteral("missing.pem")));
    host.setTransport(transport);
    QString reply;
    EXPECT_FALSE(host.f_send_remote_msg(kUrl, QStringLiteral("proc_id:90001\r\n"), 100, reply));
    EXPECT_EQ(dialogs.lastMessage(), unreachableMessage(base, QStringLiteral("无法加载证书")));
    EXPECT_EQ(server.connectionsMade(), 0);
}

} // namespace
