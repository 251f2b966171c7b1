#include "app/client.h"

#include "data_model/database_url.h"
#include "data_model/demo_data.h"
#include "data_model/schema.h"
#include "host/http_transport.h"
#include "host/judge_column.h"
#include "services/remote_text.h"
#include "taxsim/in_process_transport.h"
#include "taxsim/service.h"

#include <QDir>
#include <QFileInfo>

namespace fp::app {

namespace {
const QString kEndpoint = QStringLiteral("NormalServlet");
const QString kOk = QStringLiteral("ok|@|");
constexpr int kServerTimeTimeout = 100; // time-out units

QString describe(const RemoteResult& r) {
    switch (r.kind) {
    case RemoteResult::Kind::Ok: {
        const QString err = QStringLiteral("err|@|");
        return r.body.startsWith(err) ? r.body.mid(err.size()) : r.body;
    }
    case RemoteResult::Kind::ConnectFailed: return QStringLiteral("无法连接税务服务器。") + r.detail;
    case RemoteResult::Kind::TimedOut: return QStringLiteral("与税务服务器通讯超时。");
    case RemoteResult::Kind::HttpError:
        return QStringLiteral("税务服务器返回错误（HTTP %1）。").arg(r.httpStatus) + r.body;
    case RemoteResult::Kind::Dropped: return QStringLiteral("与税务服务器的连接中断。");
    case RemoteResult::Kind::BadReply:
        return QStringLiteral("税务服务器的应答") + r.detail + QStringLiteral("，无法使用！");
    }
    return r.detail;
}
} // namespace

int lockWaitFor(int timeoutUnitMs) { return kTimeoutUpload * timeoutUnitMs + kLockWaitMarginMs; }

bool initDatabase(Transaction& t, bool demo, QString* error, bool* demoCreated) {
    if (demoCreated) *demoCreated = false;
    if (!createSchema(t, error)) return false;
    if (!demo) return true;
    // A database that already holds invoice kinds is not new: its data stays.
    QVariantList row;
    const int rc = t.selectInto(QStringLiteral("SELECT COUNT(*) FROM bm_bdcja_fpzl"), {}, row);
    if (rc == -1) {
        if (error) *error = t.sqlerrtext;
        return false;
    }
    if (!row.isEmpty() && row.first().toLongLong() > 0) return true;
    if (!createDemoData(t, error)) return false;
    if (demoCreated) *demoCreated = true;
    return true;
}

std::unique_ptr<Transaction> openDatabase(const Profile& profile, QString* error) {
    if (profile.database.driver == QLatin1String("QSQLITE")) {
        const QFileInfo fi(profile.database.database);
        if (!QDir().mkpath(fi.absolutePath())) {
            if (error) *error = QStringLiteral("无法创建数据目录：%1").arg(fi.absolutePath());
            return nullptr;
        }
    }
    QString e;
    auto t = Transaction::open(profile.database, &e);
    if (!t) {
        if (error) *error = QStringLiteral("无法打开数据库 %1：%2").arg(describeDatabase(profile.database), e);
        return nullptr;
    }
    if (!initDatabase(*t, profile.demoData, &e)) {
        if (error) *error = QStringLiteral("无法初始化数据库 %1：%2").arg(describeDatabase(profile.database), e);
        return nullptr;
    }
    return t;
}

bool fetchServerTime(RemoteTransport& transport, int timeoutMs, const HostServices::BusyRunner& runner, QDateTime* out,
                     QString* error) {
    RemoteResult r;
    auto exchange = [&] { r = transport.post(kEndpoint, QStringLiteral("proc_id:90001"), timeoutMs); };
    if (runner)
        runner(exchange);
    else
        exchange();
    if (r.kind != RemoteResult::Kind::Ok || !r.body.startsWith(kOk)) {
        if (error) *error = describe(r);
        return false;
    }
    const QString text = r.body.mid(kOk.size()).trimmed();
    const QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid()) {
        if (error) *error = QStringLiteral("税务服务器时间无法识别：%1").arg(text);
        return false;
    }
    if (out) *out = t;
    return true;
}

Client::Client(Profile profile) : profile_(std::move(profile)), host_(session_, dialogs_) {}

Client::~Client() {
    host_.setTransport(nullptr);
    session_.sqlca = nullptr;
}

bool Client::start(QString* error) {
    installFormHostFunctions();
    sqlca_ = openDatabase(profile_, error);
    if (!sqlca_) return false;
    // A save that finds another issuer's save in progress (its upload still
    // waiting on the service) waits for it rather than failing: longer than
    // the upload may take.
    if (!sqlca_->setLockWaitMs(lockWaitFor(profile_.timeoutUnitMs))) {
        if (error) *error = sqlca_->sqlerrtext;
        return false;
    }
    profile_.applyTo(session_);
    session_.sqlca = sqlca_.get();
    if (!session_.gs_kprmc.isEmpty()) session_.setKprLabel(QStringLiteral("开票员:") + session_.gs_kprmc);

    RemoteCredentials credentials{profile_.serverUser, profile_.serverPassword};
    if (profile_.serverMode == Profile::ServerMode::InProcess) {
        QDir().mkpath(QFileInfo(profile_.serverStore).absolutePath());
        service_ = std::make_shared<taxsim::Service>(profile_.serverStore);
        if (!service_->isOpen()) {
            if (error)
                *error = QStringLiteral("无法打开模拟税务服务的数据 %1：%2")
                             .arg(profile_.serverStore, service_->lastError());
            return false;
        }
        if (!service_->hasTaxpayers()) service_->seedDemo();
        host_.setTransport(std::make_shared<taxsim::InProcessTransport>(service_, credentials));
    } else {
        host_.setTransport(std::make_shared<HttpTransport>(profile_.serverUrl, credentials));
    }
    host_.setTimeoutUnitMs(profile_.timeoutUnitMs);
    return true;
}

void Client::syncServerDate(const HostServices::BusyRunner& runner) {
    QDateTime t;
    QString e;
    if (host_.transport() &&
        fetchServerTime(*host_.transport(), kServerTimeTimeout * profile_.timeoutUnitMs, runner, &t, &e)) {
        session_.setServerDate(t);
        return;
    }
    session_.srvDateUnread = true;
    host_.mess(QStringLiteral("取税务服务器时间失败，暂以本机时间为准。\r\n") + e);
}

} // namespace fp::app
