#pragma once
// A tax service that answers every request with one fixed reply text.
#include "host/remote_transport.h"

namespace fp::test {

class CannedTransport : public RemoteTransport {
public:
    explicit CannedTransport(QString body) : body_(std::move(body)) {}
    RemoteResult post(const QString&, const QString&, int) override {
        RemoteResult r;
        r.kind = RemoteResult::Kind::Ok;
        r.httpStatus = 200;
        r.body = body_;
        return r;
    }

private:
    QString body_;
};

} // namespace fp::test
