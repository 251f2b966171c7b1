#pragma once
// The wire beneath f_send_remote_msg: one request text out, one reply text back.
// Implementations: HttpTransport (HTTP/HTTPS to the tax service) and
// InProcessTransport (the simulated tax service linked into the client).
#include <QString>

namespace fp {

struct RemoteCredentials {
    QString user;     // taxpayer account presented to the tax service
    QString password; // its secret
};

struct RemoteResult {
    enum class Kind {
        Ok,            // an HTTP 200 answer arrived; body holds the reply text
        ConnectFailed, // nothing listens / host unknown / TLS failed
        TimedOut,      // no complete answer within the time-out
        HttpError,     // the service answered with a status other than 200
        Dropped,       // the connection closed before a complete answer
        BadReply,      // an answer that is not usable text: bytes that do not decode
                       // in its charset, a NUL, or more than the size limit
    };
    Kind kind = Kind::ConnectFailed;
    int httpStatus = 0;
    QString body;   // reply text, decoded by its Content-Type's charset, when kind == Ok;
                    // else the server's text if any
    QString detail; // technical detail for the message (library error text; for
                    // BadReply what is wrong with the answer)
};

class RemoteTransport {
public:
    virtual ~RemoteTransport() = default;
    // endpoint: "NormalServlet"; timeoutMs already converted from the caller's units.
    virtual RemoteResult post(const QString& endpoint, const QString& requestText, int timeoutMs) = 0;
};

} // namespace fp
