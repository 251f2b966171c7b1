#include "tests/support/taxsim_fixture.h"

#include "data_model/demo_constants.h"

#include <httplib.h>

#include <QDeadlineTimer>
#include <QUrl>

namespace fp::test {

RemoteCredentials demoCredentials() { return {QString::fromUtf8(demo::kSxh), QString::fromUtf8(demo::kPassword)}; }

// --- TaxsimServer -----------------------------------------------------------

TaxsimServer::TaxsimServer(bool seedDemo, const QString& dbPath) : service_(std::make_shared<taxsim::Service>(dbPath)) {
    if (seedDemo) service_->seedDemo();
    http_ = std::make_unique<taxsim::HttpServer>(service_);
    http_->start(0);
}

TaxsimServer::~TaxsimServer() { http_->stop(); }

bool TaxsimServer::isRunning() const { return http_->isRunning(); }

QString TaxsimServer::baseUrl() const { return http_->baseUrl(); }

std::shared_ptr<HttpTransport> TaxsimServer::httpTransport() const { return httpTransport(demoCredentials()); }

std::shared_ptr<HttpTransport> TaxsimServer::httpTransport(const RemoteCredentials& credentials) const {
    return std::make_shared<HttpTransport>(baseUrl(), credentials);
}

std::shared_ptr<taxsim::InProcessTransport> TaxsimServer::inProcessTransport() const {
    return std::make_shared<taxsim::InProcessTransport>(service_, demoCredentials());
}

void TaxsimHttpTest::SetUp() {
    server_ = std::make_unique<TaxsimServer>();
    ASSERT_TRUE(server_->isRunning()) << server_->http().error().toStdString();
}

void TaxsimHttpTest::TearDown() { server_.reset(); }

// --- TaxsimProcess ----------------------------------------------------------

TaxsimProcess::TaxsimProcess(const QStringList& extraArgs, int startTimeoutMs)
    : process_(std::make_unique<QProcess>()) {
    process_->setProgram(QString::fromUtf8(FPDESK_TAXSIM_EXE));
    process_->setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArgs);
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->start();
    if (!process_->waitForStarted(startTimeoutMs)) {
        error_ = QStringLiteral("taxsim did not start: ") + process_->errorString();
        return;
    }
    QDeadlineTimer deadline(startTimeoutMs);
    while (!process_->canReadLine()) {
        if (process_->state() != QProcess::Running || deadline.hasExpired()) {
            error_ = QStringLiteral("taxsim printed no base URL: ") + standardError();
            return;
        }
        process_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    baseUrl_ = QString::fromUtf8(process_->readLine()).trimmed();
    if (!baseUrl_.startsWith(QLatin1String("http://")))
        error_ = QStringLiteral("unexpected first line from taxsim: ") + baseUrl_;
}

TaxsimProcess::~TaxsimProcess() { stop(); }

bool TaxsimProcess::isRunning() const { return process_ && process_->state() == QProcess::Running; }

QString TaxsimProcess::standardError() { return QString::fromUtf8(process_->readAllStandardError()); }

QString TaxsimProcess::control(const QString& commands) const {
    const int at = process_->arguments().indexOf(QStringLiteral("--control-token"));
    const QString token =
        at >= 0 && at + 1 < process_->arguments().size() ? process_->arguments().at(at + 1) : QString();
    return postControl(baseUrl_, token, commands);
}

QString postControl(const QString& baseUrl, const QString& token, const QString& commands, int* httpStatus) {
    const QUrl url(baseUrl);
    httplib::Client client(url.host().toStdString(), url.port());
    client.set_connection_timeout(10);
    client.set_read_timeout(10);
    httplib::Headers headers;
    if (!token.isNull()) headers.emplace("Authorization", "Bearer " + token.toStdString());
    const std::string body = commands.toUtf8().toStdString();
    const httplib::Result r = client.Post("/__control", headers, body, "text/plain; charset=UTF-8");
    if (httpStatus) *httpStatus = r ? r->status : -1;
    if (!r)
        return QStringLiteral("err|@|control request failed: ") + QString::fromStdString(httplib::to_string(r.error()));
    if (r->status != 200) return QStringLiteral("err|@|control request failed: HTTP %1").arg(r->status);
    return QString::fromStdString(r->body);
}

int TaxsimProcess::stop(int timeoutMs) {
    if (!process_ || process_->state() == QProcess::NotRunning)
        return process_ && process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
    process_->terminate();
    if (!process_->waitForFinished(timeoutMs)) {
        process_->kill();
        process_->waitForFinished(timeoutMs);
        return -1;
    }
    return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}

} // namespace fp::test
