#pragma once
// A tax service that answers every request with one fixed reply text, or a
// wire that ends every exchange the same way.
#include "host/remote_transport.h"

namespace fp::test {

class CannedTransport : public RemoteTransport {
public:
    explicit CannedTransport(QString body) {
        result_.kind = RemoteResult::Kind::Ok;
        result_.httpStatus = 200;
        result_.body = std::move(body);
    }
    explicit CannedTransport(RemoteResult result) : result_(std::move(result)) {}
    RemoteResult post(const QString&, const QString&, int) override { return result_; }

private:
    RemoteResult result_;
};

} // namespace fp::test
