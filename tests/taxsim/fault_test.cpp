// Injected faults: what the service answers, what it stores, and what a client
// sees in-process and over HTTP; the control command text.
#include "tests/support/taxsim_fixture.h"
#include "tests/taxsim/taxsim_requests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace fp::test;
using fp::RemoteResult;
using taxsim::Fault;
using taxsim::Response;

namespace {

using Clock = std::chrono::steady_clock;

qint64 msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

QString uploadOf(const char* fphm) { return uploadRequest(sampleInvoice(code50(), QString::fromLatin1(fphm))); }

struct FaultCase {
    const char* name;
    Fault fault;
    Response::Kind kind;
    int httpStatus;
    const char* body; // expected body; nullptr: not checked
    bool stored;      // the upload is stored despite the fault
};

const FaultCase kFaultCases[] = {
    {"refuse",
     {Fault::Kind::Refuse, 0, 500, QStringLiteral("系统维护中，请稍后再试！")},
     Response::Kind::Reply,
     200,
     "err|@|系统维护中，请稍后再试！",
     false},
    {"http error",
     {Fault::Kind::HttpError, 0, 503, QStringLiteral("Service Unavailable")},
     Response::Kind::HttpStatus,
     503,
     "Service Unavailable",
     false},
    {"malformed",
     {Fault::Kind::Malformed, 0, 500, QStringLiteral("<html>oops</html>")},
     Response::Kind::Reply,
     200,
     "<html>oops</html>",
     false},
    {"drop", {Fault::Kind::Drop, 0, 500, {}}, Response::Kind::Drop, 200, nullptr, false},
    {"reply lost", {Fault::Kind::LostReply, 0, 500, {}}, Response::Kind::Drop, 200, nullptr, true},
    {"delay", {Fault::Kind::Delay, 5, 500, {}}, Response::Kind::Reply, 200, "ok|@|发票上传成功", true},
};

TEST(ServiceFaults, EachKindAnswersAndStoresAsDeclared) {
    for (const FaultCase& c : kFaultCases) {
        SCOPED_TRACE(c.name);
        taxsim::Service svc;
        svc.seedDemo();
        svc.injectFault(c.fault, 11633);
        const Response r = call(svc, uploadOf("00000001"));
        EXPECT_EQ(r.kind, c.kind);
        if (r.kind == Response::Kind::HttpStatus) {
            EXPECT_EQ(r.httpStatus, c.httpStatus);
        }
        if (c.body) {
            EXPECT_EQ(r.body, QString::fromUtf8(c.body));
        }
        EXPECT_EQ(r.delayMs, c.fault.delayMs);
        EXPECT_EQ(svc.invoiceCount(), c.stored ? 1 : 0);
        EXPECT_EQ(svc.pendingFaults(), 0);
        // The fault was used up: the next request is served normally.
        EXPECT_EQ(reply(svc, statusRequest(code50(), QStringLiteral("00000001"))),
                  c.stored ? QStringLiteral("ok|@|1|@|已开票") : QStringLiteral("ok|@|0|@|未使用"));
    }
}

TEST(ServiceFaults, ScopeByProcedureAndCount) {
    taxsim::Service svc;
    svc.seedDemo();
    const Fault refuse{Fault::Kind::Refuse, 0, 500, QStringLiteral("拒绝")};
    svc.injectFault(refuse, 98179, 2);
    const QString status = statusRequest(code50(), QStringLiteral("00000001"));
    const QString print =
        printRequest(code50(), QStringLiteral("00000001"), 0, QStringLiteral("张三"), QStringLiteral(" "));
    EXPECT_EQ(reply(svc, status), QStringLiteral("ok|@|0|@|未使用")); // another procedure passes
    EXPECT_EQ(reply(svc, print), QStringLiteral("err|@|拒绝"));
    EXPECT_EQ(reply(svc, print), QStringLiteral("err|@|拒绝"));
    EXPECT_NE(reply(svc, print), QStringLiteral("err|@|拒绝")); // the procedure's own refusal now

    svc.injectFault(refuse, 0, -1); // any procedure, until cleared
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reply(svc, status), QStringLiteral("err|@|拒绝"));
    svc.clearFaults();
    EXPECT_EQ(reply(svc, status), QStringLiteral("ok|@|0|@|未使用"));
}

TEST(ServiceFaults, ControlCommands) {
    taxsim::Service svc;
    svc.seedDemo();
    struct Case {
        const char* command;
        const char* answer;
    };
    const Case bad[] = {
        {"fault", "err|@|fault 缺少故障类型"},
        {"fault explode", "err|@|未知的故障类型：explode"},
        {"fault delay ms=abc", "err|@|ms 不是整数：abc"},
        {"fault drop colour=red", "err|@|未知的选项：colour=red"},
        {"time yesterday", "err|@|时间格式有误：yesterday"},
        {"seed kind|50", "err|@|“kind”记录的字段数有误：2"},
        {"reboot", "err|@|未知的命令：reboot"},
    };
    for (const Case& c : bad)
        EXPECT_EQ(svc.control(QString::fromUtf8(c.command)), QString::fromUtf8(c.answer)) << c.command;
    EXPECT_EQ(svc.pendingFaults(), 0);

    ASSERT_EQ(svc.control(QStringLiteral("ping\nfault refuse proc=90239 times=2 text=服务器 维护中\r\n"
                                         "time 2010-05-06 07:08:09\n"
                                         "seed taxpayer|3702000055555|pw|新公司|N1|T1|13702000000")),
              QStringLiteral("ok"));
    EXPECT_EQ(svc.pendingFaults(), 1);
    const QString status = statusRequest(code50(), QStringLiteral("00000001"));
    EXPECT_EQ(reply(svc, status), QStringLiteral("err|@|服务器 维护中"));
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:90001")), QStringLiteral("ok|@|2010-05-06 07:08:09"));
    EXPECT_EQ(reply(svc, QStringLiteral("proc_id:90001"), QStringLiteral("3702000055555"), QStringLiteral("pw")),
              QStringLiteral("ok|@|2010-05-06 07:08:09"));
    ASSERT_EQ(svc.control(QStringLiteral("clear")), QStringLiteral("ok"));
    EXPECT_EQ(reply(svc, status), QStringLiteral("ok|@|0|@|未使用"));

    ASSERT_EQ(svc.control(QStringLiteral("fault http status=502 text=Bad Gateway")), QStringLiteral("ok"));
    const Response r = call(svc, status);
    EXPECT_EQ(r.kind, Response::Kind::HttpStatus);
    EXPECT_EQ(r.httpStatus, 502);
    EXPECT_EQ(r.body, QStringLiteral("Bad Gateway"));

    ASSERT_EQ(svc.control(QStringLiteral("fault lost proc=11633")), QStringLiteral("ok"));
    EXPECT_EQ(call(svc, uploadOf("00000001")).kind, Response::Kind::Drop);
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("1"));
}

// --- in-process transport ---------------------------------------------------

TEST(InProcessTransport, MapsServiceAnswersToTransportResults) {
    TaxsimServer server; // only its service and transport are used here
    auto transport = server.inProcessTransport();
    taxsim::Service& svc = server.service();
    const QString status = statusRequest(code50(), QStringLiteral("00000001"));

    RemoteResult r = transport->post(QStringLiteral("NormalServlet"), status, 1000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(r.body, QStringLiteral("ok|@|0|@|未使用"));

    svc.injectFault({Fault::Kind::HttpError, 0, 500, QStringLiteral("boom")});
    r = transport->post(QStringLiteral("NormalServlet"), status, 1000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::HttpError);
    EXPECT_EQ(r.httpStatus, 500);
    EXPECT_EQ(r.body, QStringLiteral("boom"));

    svc.injectFault({Fault::Kind::Drop, 0, 500, {}});
    EXPECT_EQ(transport->post(QStringLiteral("NormalServlet"), status, 1000).kind, RemoteResult::Kind::Dropped);

    transport->setCredentials({demoSxh(), QStringLiteral("wrong")});
    r = transport->post(QStringLiteral("NormalServlet"), status, 1000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(r.body, QStringLiteral("err|@|身份验证失败：纳税人账号或密码错误！"));
}

TEST(InProcessTransport, DelayBeyondTheTimeOutWaitsOnlyTheTimeOut) {
    TaxsimServer server;
    auto transport = server.inProcessTransport();
    server.service().injectFault({Fault::Kind::Delay, 60000, 500, {}}, 11633);
    const auto start = Clock::now();
    const RemoteResult r = transport->post(QStringLiteral("NormalServlet"), uploadOf("00000001"), 50);
    const qint64 elapsed = msSince(start);
    // A transport that waited for the held answer would have received it.
    EXPECT_EQ(r.kind, RemoteResult::Kind::TimedOut);
    EXPECT_GE(elapsed, 50);
    // The service did the work before holding the answer back.
    EXPECT_EQ(server.service().statusOf(code50(), QStringLiteral("00000001")), QStringLiteral("1"));

    server.service().injectFault({Fault::Kind::Delay, 20, 500, {}});
    EXPECT_EQ(transport->post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90001"), 5000).kind,
              RemoteResult::Kind::Ok);
}

// --- over HTTP --------------------------------------------------------------

class OverHttp : public TaxsimHttpTest {};

TEST_F(OverHttp, ClientSeesEachFault) {
    auto transport = taxsim().httpTransport();
    taxsim::Service& svc = taxsim().service();
    const QString status = statusRequest(code50(), QStringLiteral("00000001"));

    RemoteResult r = transport->post(QStringLiteral("NormalServlet"), status, 5000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(r.body, QStringLiteral("ok|@|0|@|未使用"));

    svc.injectFault({Fault::Kind::Refuse, 0, 500, QStringLiteral("暂停服务")});
    r = transport->post(QStringLiteral("NormalServlet"), status, 5000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(r.body, QStringLiteral("err|@|暂停服务"));

    svc.injectFault({Fault::Kind::HttpError, 0, 500, QStringLiteral("内部错误")});
    r = transport->post(QStringLiteral("NormalServlet"), status, 5000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::HttpError);
    EXPECT_EQ(r.httpStatus, 500);
    EXPECT_EQ(r.body, QStringLiteral("内部错误"));

    svc.injectFault({Fault::Kind::Malformed, 0, 500, QStringLiteral("<html/>")});
    r = transport->post(QStringLiteral("NormalServlet"), status, 5000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(r.body, QStringLiteral("<html/>"));

    svc.injectFault({Fault::Kind::Drop, 0, 500, {}});
    EXPECT_EQ(transport->post(QStringLiteral("NormalServlet"), status, 5000).kind, RemoteResult::Kind::Dropped);

    svc.injectFault({Fault::Kind::LostReply, 0, 500, {}}, 11633);
    EXPECT_EQ(transport->post(QStringLiteral("NormalServlet"), uploadOf("00000002"), 5000).kind,
              RemoteResult::Kind::Dropped);
    EXPECT_EQ(svc.statusOf(code50(), QStringLiteral("00000002")), QStringLiteral("1"));

    // A reply held back past the client's time-out; stopping the server later
    // releases the waiting handler.
    svc.injectFault({Fault::Kind::Delay, 60000, 500, {}});
    const auto start = Clock::now();
    r = transport->post(QStringLiteral("NormalServlet"), status, 300);
    EXPECT_EQ(r.kind, RemoteResult::Kind::TimedOut) << r.detail.toStdString();
    EXPECT_GE(msSince(start), 250);

    // The UTF-8 request and the credentials arrived intact.
    const std::vector<taxsim::LoggedRequest> log = svc.requestLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().user, demoSxh());
    EXPECT_EQ(log.back().body, status);
    EXPECT_EQ(log.back().procId, 90239);
}

TEST_F(OverHttp, PathPrefixAndCredentials) {
    // The base URL may carry a path; the service answers only .../NormalServlet.
    fp::HttpTransport prefixed(taxsim().baseUrl() + QStringLiteral("/fp/"), demoCredentials());
    RemoteResult r = prefixed.post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90001"), 5000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::Ok);
    EXPECT_EQ(taxsim().service().requestLog().back().body, QStringLiteral("proc_id:90001"));

    r = taxsim().httpTransport()->post(QStringLiteral("Elsewhere"), QStringLiteral("proc_id:90001"), 5000);
    EXPECT_EQ(r.kind, RemoteResult::Kind::HttpError);
    EXPECT_EQ(r.httpStatus, 404);

    r = taxsim()
            .httpTransport(fp::RemoteCredentials{})
            ->post(QStringLiteral("NormalServlet"), QStringLiteral("proc_id:90001"), 5000);
    EXPECT_EQ(r.body, QStringLiteral("err|@|身份验证失败：请求中没有纳税人账号或密码！"));
}

TEST_F(OverHttp, ControlOnlyWithTheToken) {
    const QString base = taxsim().baseUrl();
    int status = 0;
    // Off until a token is set: 404 with or without credentials.
    EXPECT_EQ(postControl(base, QString(), QStringLiteral("fault refuse"), &status).left(6), QStringLiteral("err|@|"));
    EXPECT_EQ(status, 404);
    postControl(base, QStringLiteral("anything"), QStringLiteral("fault refuse"), &status);
    EXPECT_EQ(status, 404);

    taxsim().http().setControlToken(QStringLiteral("tok-123"));
    struct Attempt {
        const char* token; // nullptr: no Authorization header
    };
    for (const Attempt a :
         {Attempt{nullptr}, Attempt{""}, Attempt{"tok-12"}, Attempt{"tok-1234"}, Attempt{"TOK-123"}}) {
        SCOPED_TRACE(a.token ? a.token : "(none)");
        postControl(base, a.token ? QString::fromLatin1(a.token) : QString(), QStringLiteral("fault refuse"), &status);
        EXPECT_EQ(status, 404);
    }
    EXPECT_EQ(taxsim().service().pendingFaults(), 0);

    EXPECT_EQ(postControl(base, QStringLiteral("tok-123"), QStringLiteral("fault refuse text=维护")),
              QStringLiteral("ok"));
    EXPECT_EQ(taxsim().service().pendingFaults(), 1);
    EXPECT_EQ(postControl(base, QStringLiteral("tok-123"), QStringLiteral("bogus")),
              QStringLiteral("err|@|未知的命令：bogus"));

    taxsim().http().setControlToken(QString());
    postControl(base, QStringLiteral("tok-123"), QStringLiteral("clear"), &status);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(taxsim().service().pendingFaults(), 1);
}

TEST_F(OverHttp, FaultsAreNotUsedUpByUnauthenticatedRequests) {
    taxsim::Service& svc = taxsim().service();
    svc.injectFault({Fault::Kind::Refuse, 0, 500, QStringLiteral("维护")}, 90239);
    const QString status = statusRequest(code50(), QStringLiteral("00000001"));
    const auto post = [](const std::shared_ptr<fp::HttpTransport>& t, const QString& text) {
        return t->post(QStringLiteral("NormalServlet"), text, 5000).body;
    };
    // No credentials, a wrong password, an unknown taxpayer: refused as such,
    // and the fault stays pending.
    for (const fp::RemoteCredentials& bad :
         {fp::RemoteCredentials{}, fp::RemoteCredentials{demoSxh(), QStringLiteral("x")},
          fp::RemoteCredentials{QStringLiteral("nobody"), QStringLiteral("x")}}) {
        EXPECT_TRUE(post(taxsim().httpTransport(bad), status).startsWith(QStringLiteral("err|@|身份验证失败")));
        EXPECT_EQ(svc.pendingFaults(), 1);
    }
    // An authenticated request of another procedure does not take it either.
    auto good = taxsim().httpTransport();
    EXPECT_TRUE(post(good, QStringLiteral("proc_id:90001")).startsWith(QStringLiteral("ok|@|")));
    EXPECT_EQ(svc.pendingFaults(), 1);
    // The named procedure, authenticated: the fault applies once.
    EXPECT_EQ(post(good, status), QStringLiteral("err|@|维护"));
    EXPECT_EQ(svc.pendingFaults(), 0);
    EXPECT_EQ(post(good, status), QStringLiteral("ok|@|0|@|未使用"));
}

TEST_F(OverHttp, ConcurrentUploadsOfOneNumberAcceptOnlyOne) {
    const int kClients = 4; // within the listen backlog of the HTTP library
    std::atomic<int> acceptedShared{0};
    std::atomic<int> refusedShared{0};
    std::atomic<int> acceptedOwn{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            auto transport = taxsim().httpTransport();
            const QString shared = transport->post(QStringLiteral("NormalServlet"), uploadOf("00000010"), 10000).body;
            if (shared == QStringLiteral("ok|@|发票上传成功"))
                ++acceptedShared;
            else if (shared.endsWith(QStringLiteral("已使用，不能重复开具！")))
                ++refusedShared;
            const QString own = QStringLiteral("%1").arg(20 + i, 8, 10, QLatin1Char('0'));
            if (transport->post(QStringLiteral("NormalServlet"), uploadRequest(sampleInvoice(code50(), own)), 10000)
                    .body.startsWith(QStringLiteral("ok|@|")))
                ++acceptedOwn;
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(acceptedShared.load(), 1);
    EXPECT_EQ(refusedShared.load(), kClients - 1);
    EXPECT_EQ(acceptedOwn.load(), kClients);
    EXPECT_EQ(taxsim().service().invoiceCount(), kClients + 1);
}

} // namespace
