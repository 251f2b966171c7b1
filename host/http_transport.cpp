#include "host/http_transport.h"

// The packaged library is built with OpenSSL; its classes must be declared the
// same way here.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include "host/text_decoding.h"

#include <QUrl>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace fp {

namespace {

QString describe(httplib::Error error) {
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

using Clock = std::chrono::steady_clock;

// HTTPS: the server's certificate is verified during the handshake, against
// a trust store built before the connection is opened. Loading the system's
// certificates takes a while on a busy machine; done between the connection
// and the handshake, as the library would, it can outlast the server's
// patience, and the refusal then read "SSL 连接失败" whatever the certificate.
// The first verification error is kept, so that a handshake refused over the
// certificate reads as such, however long it took.
struct CertificateCheck {
    int error = X509_V_OK;
};

int certificateCheckIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int recordVerification(int preverifyOk, X509_STORE_CTX* store) {
    if (preverifyOk) return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* check =
        ssl ? static_cast<CertificateCheck*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), certificateCheckIndex()))
            : nullptr;
    if (check && check->error == X509_V_OK) check->error = X509_STORE_CTX_get_error(store);
    return 0;
}

// The certificates trusted: those of `caFile`, else the system's. Null when
// the file cannot be read.
X509_STORE* loadTrustStore(const QString& caFile) {
    X509_STORE* store = X509_STORE_new();
    if (!store) return nullptr;
    const QByteArray file = caFile.toLocal8Bit();
    const int loaded = caFile.isEmpty() ? X509_STORE_set_default_paths(store)
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
                                        : X509_STORE_load_file(store, file.constData());
#else
                                        : X509_STORE_load_locations(store, file.constData(), nullptr);
#endif
    if (loaded != 1) {
        X509_STORE_free(store);
        return nullptr;
    }
    return store;
}

// Sets up the client's context to verify the server as `host` (a name or an
// address) against `store`, which it takes; the library's own check, which
// loads the certificates after connecting, stays off.
bool verifyServerAs(httplib::SSLClient& client, const QString& host, X509_STORE* store, CertificateCheck& check) {
    client.enable_server_certificate_verification(false);
    SSL_CTX* ctx = client.ssl_context();
    if (!ctx || !store) {
        X509_STORE_free(store);
        return false;
    }
    SSL_CTX_set_cert_store(ctx, store);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    const QByteArray name = host.toUtf8();
    // An address is checked against the certificate's addresses, a name against its names.
    const bool named = X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()) == 1 ||
                       X509_VERIFY_PARAM_set1_host(param, name.constData(), 0) == 1;
    if (!named || SSL_CTX_set_ex_data(ctx, certificateCheckIndex(), &check) != 1) return false;
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, recordVerification);
    return true;
}

// The library's time-outs bound each read and write, so a server that sends a
// byte now and then could hold the exchange for ever. While `exchange` runs, a
// watcher stops the client once the deadline has passed (again and again,
// since a stop that comes before the socket is open is lost), so the exchange
// ends within its time-out whatever the server does.
template <typename Exchange>
void runWithDeadline(httplib::ClientImpl& client, Clock::time_point deadline, Exchange exchange) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watcher([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (finished.wait_until(lock, deadline, [&] { return done; })) return;
        while (!done) {
            lock.unlock();
            client.stop();
            lock.lock();
            finished.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; });
        }
    });
    exchange();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    finished.notify_all();
    watcher.join();
}

} // namespace

HttpTransport::HttpTransport(QString baseUrl, RemoteCredentials credentials)
    : baseUrl_(std::move(baseUrl)), credentials_(std::move(credentials)) {}

RemoteResult HttpTransport::post(const QString& endpoint, const QString& requestText, int timeoutMs) {
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
    while (prefix.endsWith(QLatin1Char('/'))) prefix.chop(1);
    const QString path = prefix + QLatin1Char('/') + endpoint;
    const QString shownUrl =
        scheme + QStringLiteral("://") + url.host() + QLatin1Char(':') + QString::number(port) + path;

    CertificateCheck check; // outlives the client, whose context points at it
    std::unique_ptr<httplib::ClientImpl> client;
    if (https) {
        auto ssl = std::make_unique<httplib::SSLClient>(host.toStdString(), port);
        if (verifyCertificate_ && !verifyServerAs(*ssl, host, loadTrustStore(caCertFile_), check)) {
            result.kind = RemoteResult::Kind::ConnectFailed;
            result.detail =
                shownUrl + QStringLiteral("（") + describe(httplib::Error::SSLLoadingCerts) + QStringLiteral("）");
            return result;
        }
        if (!verifyCertificate_) ssl->enable_server_certificate_verification(false);
        client = std::move(ssl);
    } else {
        client = std::make_unique<httplib::ClientImpl>(host.toStdString(), port);
    }

    const int timeout = timeoutMs > 0 ? timeoutMs : 1;
    const int connectMs = std::min(timeout, connectTimeoutMs_ > 0 ? connectTimeoutMs_ : timeout);
    client->set_connection_timeout(std::chrono::milliseconds(connectMs));
    client->set_read_timeout(std::chrono::milliseconds(timeout));
    client->set_write_timeout(std::chrono::milliseconds(timeout));
    client->set_keep_alive(false);
    client->set_follow_location(false);
    client->set_basic_auth(credentials_.user.toStdString(), credentials_.password.toStdString());

    httplib::Request request;
    request.method = "POST";
    request.path = path.toStdString();
    request.body = requestText.toUtf8().toStdString();
    request.set_header("Content-Type", "text/plain; charset=UTF-8");
    // The reply is collected here, so that one beyond the size limit is cut off.
    std::string replyBytes;
    bool tooLarge = false;
    request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
        if (replyBytes.size() + length > size_t(kMaxExternalTextBytes)) {
            tooLarge = true;
            return false;
        }
        replyBytes.append(data, length);
        return true;
    };

    httplib::Response res;
    httplib::Error error = httplib::Error::Success;
    bool answered = false;
    const auto started = Clock::now();
    runWithDeadline(*client, started + std::chrono::milliseconds(timeout),
                    [&] { answered = client->send(request, res, error); });
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    const bool deadlinePassed = elapsedMs >= timeout;

    if (tooLarge) {
        result.kind = RemoteResult::Kind::BadReply;
        result.detail =
            QStringLiteral("超过了") + QString::number(kMaxExternalTextBytes / (1024 * 1024)) + QStringLiteral("MB");
        return result;
    }
    // A handshake the certificate failed is that, whatever the library saw.
    if (!answered && check.error != X509_V_OK) error = httplib::Error::SSLServerVerification;
    if (!answered) {
        result.detail = shownUrl + QStringLiteral("（") + describe(error) + QStringLiteral("）");
        switch (error) {
        case httplib::Error::Connection:
        case httplib::Error::BindIPAddress:
        case httplib::Error::ConnectionTimeout:
        case httplib::Error::SSLConnection:
        case httplib::Error::SSLLoadingCerts:
        case httplib::Error::SSLServerVerification:
            result.kind = deadlinePassed && error == httplib::Error::Connection ? RemoteResult::Kind::TimedOut
                                                                                : RemoteResult::Kind::ConnectFailed;
            break;
        default:
            // A silent server, one stopped at the deadline and a closed
            // connection look alike to the library; the clock tells them apart.
            result.kind = deadlinePassed || elapsedMs * 10 >= qint64(timeout) * 9 ? RemoteResult::Kind::TimedOut
                                                                                  : RemoteResult::Kind::Dropped;
            break;
        }
        return result;
    }

    result.httpStatus = res.status;
    const DecodedText decoded =
        decodeExternalText(QByteArray::fromStdString(replyBytes),
                           charsetOfContentType(QByteArray::fromStdString(res.get_header_value("Content-Type"))));
    if (res.status != 200) {
        result.kind = RemoteResult::Kind::HttpError;
        result.detail = shownUrl;
        if (decoded.ok) result.body = decoded.text;
        return result;
    }
    if (!decoded.ok) {
        result.kind = RemoteResult::Kind::BadReply;
        result.detail = decoded.problem;
        return result;
    }
    result.body = decoded.text;
    result.kind = RemoteResult::Kind::Ok;
    return result;
}

} // namespace fp
