#include "taxsim/in_process_transport.h"

#include <chrono>
#include <thread>

namespace taxsim {

InProcessTransport::InProcessTransport(std::shared_ptr<Service> service, fp::RemoteCredentials credentials)
    : service_(std::move(service)), credentials_(std::move(credentials)) {}

fp::RemoteResult InProcessTransport::post(const QString& endpoint, const QString& requestText, int timeoutMs) {
    using Kind = fp::RemoteResult::Kind;
    Request request;
    request.user = credentials_.user;
    request.password = credentials_.password;
    request.path = QStringLiteral("/") + endpoint;
    request.body = requestText;
    const Response response = service_->handle(request);

    fp::RemoteResult result;
    if (response.delayMs > 0) {
        const int wait = timeoutMs > 0 ? std::min(response.delayMs, timeoutMs) : response.delayMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
        if (timeoutMs > 0 && response.delayMs > timeoutMs) {
            result.kind = Kind::TimedOut;
            result.detail = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
            return result;
        }
    }
    switch (response.kind) {
    case Response::Kind::Reply:
        result.kind = Kind::Ok;
        result.httpStatus = 200;
        result.body = response.body;
        break;
    case Response::Kind::HttpStatus:
        result.kind = response.httpStatus == 200 ? Kind::Ok : Kind::HttpError;
        result.httpStatus = response.httpStatus;
        result.body = response.body;
        break;
    case Response::Kind::Drop:
        result.kind = Kind::Dropped;
        result.detail = QStringLiteral("connection closed without an answer");
        break;
    }
    return result;
}

} // namespace taxsim
