#pragma once
// The wire to the tax service over HTTP or HTTPS: POST <base URL>/<endpoint>
// with the request text as UTF-8 ("text/plain; charset=UTF-8") and the
// taxpayer's credentials as HTTP Basic authentication. One connection per
// exchange.
#include "host/remote_transport.h"

#include <QString>

namespace fp {

class HttpTransport : public RemoteTransport {
public:
    // baseUrl: "http://host:port" or "https://host:port", optionally with a
    // path prefix ("https://tax.example/fp" posts to /fp/NormalServlet).
    HttpTransport(QString baseUrl, RemoteCredentials credentials);

    RemoteResult post(const QString& endpoint, const QString& requestText, int timeoutMs) override;

    const QString& baseUrl() const { return baseUrl_; }
    const RemoteCredentials& credentials() const { return credentials_; }
    void setCredentials(const RemoteCredentials& credentials) { credentials_ = credentials; }

    // HTTPS: the server certificate is verified against the system's trusted
    // certificates, or against caCertFile when one is set.
    void setCaCertFile(const QString& path) { caCertFile_ = path; }
    void setVerifyServerCertificate(bool on) { verifyCertificate_ = on; }

    // Longest wait for the TCP (and TLS) connection; the exchange's own
    // time-out applies when it is shorter.
    void setConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }

private:
    QString baseUrl_;
    RemoteCredentials credentials_;
    QString caCertFile_;
    bool verifyCertificate_ = true;
    int connectTimeoutMs_ = 10000;
};

} // namespace fp
