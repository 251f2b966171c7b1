#include "host/http_transport.h"

// The packaged library is built with OpenSSL; its classes must be declared the
// same way here.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <QUrl>

#include <chrono>
#include <memory>

namespace fp {

namespace {

QString describe(httplib::Error error)
{
    switch (error) {
    case httplib::Error::Connection: return QStringLiteral("连接被拒绝或主机不存在");
    case httplib::Error::BindIPAddress: return QStringLiteral("无法绑定本机地址");
    case httplib::Error::ConnectionTimeout: return QStringLiteral("连接超时");
    case httplib::Error::SSLConnection: return QStringLiteral("SSL 连接失败");
    case httplib::Error::SSLLoadingCerts: return QStringLiteral("无法加载证书");
    case httplib::Error::SSLServerVerification: return QStringLiteral("服务器证书验证失败");
    case httplib::Error::Read: return QStringLiteral("读取应答失败");
    case httplib::Error::Write: return QStringLiteral("发送请求失败");
    default: return QStringLiteral("通讯失败");
    }
}

} // namespace

HttpTransport::HttpTransport(QString baseUrl, RemoteCredentials credentials)
    : baseUrl_(std::move(baseUrl))
    , credentials_(std::move(credentials))
{
}

RemoteResult HttpTransport::post(const QString& endpoint, const QString& requestText, int timeoutMs)
{
    RemoteResult result;
    const QUrl url(baseUrl_.trimmed());
    const QString scheme = url.scheme().toLower();
    const bool https = scheme == QLatin1String("https");
    if ((!https && scheme != QLatin1String("http")) || url.host().isEmpty()) {
        result.kind = RemoteResult::Kind::ConnectFailed;
        result.detail = baseUrl_ + QStringLiteral("（不是有效的 http 或 https 地址）");
        return result;
    }
    const QString host = url.host();
    const int port = url.port(https ? 443 : 80);
    QString prefix = url.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    const QString path = prefix + QLatin1Char('/') + endpoint;
    const QString shownUrl = scheme + QStringLiteral("://") + url.host() + QLatin1Char(':') + QString::number(port) + path;

    std::unique_ptr<httplib::ClientImpl> client;
    if (https)
        client = std::make_unique<httplib::SSLClient>(host.toStdString(), port);
    else
        client = std::make_unique<httplib::ClientImpl>(host.toStdString(), port);

    const int timeout = timeoutMs > 0 ? timeoutMs : 1;
    const int connectMs = std::min(timeout, connectTimeoutMs_ > 0 ? connectTimeoutMs_ : timeout);
    client->set_connection_timeout(std::chrono::milliseconds(connectMs));
    client->set_read_timeout(std::chrono::milliseconds(timeout));
    client->set_write_timeout(std::chrono::milliseconds(timeout));
    client->set_keep_alive(false);
    client->set_follow_location(false);
    client->set_basic_auth(credentials_.user.toStdString(), credentials_.password.toStdString());
    if (https) {
        client->enable_server_certificate_verification(verifyCertificate_);
        if (!caCertFile_.isEmpty())
            client->set_ca_cert_path(caCertFile_.toStdString());
    }

    const QByteArray body = requestText.toUtf8();
    const auto started = std::chrono::steady_clock::now();
    httplib::Result res = client->Post(path.toStdString(), body.constData(), size_t(body.size()),
                                       "text/plain; charset=UTF-8");
    const auto elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();

    if (!res) {
        const httplib::Error error = res.error();
        result.detail = shownUrl + QStringLiteral("（") + describe(error) + QStringLiteral("）");
        switch (error) {
        case httplib::Error::Connection:
        case httplib::Error::BindIPAddress:
        case httplib::Error::ConnectionTimeout:
        case httplib::Error::SSLConnection:
        case httplib::Error::SSLLoadingCerts:
        case httplib::Error::SSLServerVerification:
            result.kind = RemoteResult::Kind::ConnectFailed;
            break;
        case httplib::Error::Read:
            // The library reports a silent server and a closed connection
            // alike; a read that failed only when the time-out ran out is a
            // time-out.
            result.kind = elapsedMs * 10 >= qint64(timeout) * 9 ? RemoteResult::Kind::TimedOut
                                                                  : RemoteResult::Kind::Dropped;
            break;
        default:
            result.kind = RemoteResult::Kind::Dropped;
            break;
        }
        return result;
    }

    result.httpStatus = res->status;
    result.body = QString::fromUtf8(res->body.data(), qsizetype(res->body.size()));
    if (res->status != 200) {
        result.kind = RemoteResult::Kind::HttpError;
        result.detail = shownUrl;
        return result;
    }
    result.kind = RemoteResult::Kind::Ok;
    return result;
}

} // namespace fp
