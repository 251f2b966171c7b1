#pragma once
// The client's wire to a tax service linked into the same process: a request
// goes straight to Service::handle, with the same outcomes as over HTTP. A
// reply held back longer than the time-out gives TimedOut after waiting only
// the time-out; a dropped connection gives Dropped.
#include "host/remote_transport.h"
#include "taxsim/service.h"

#include <memory>

namespace taxsim {

class InProcessTransport : public fp::RemoteTransport {
public:
    InProcessTransport(std::shared_ptr<Service> service, fp::RemoteCredentials credentials);

    fp::RemoteResult post(const QString& endpoint, const QString& requestText, int timeoutMs) override;

    void setCredentials(const fp::RemoteCredentials& credentials) { credentials_ = credentials; }
    const fp::RemoteCredentials& credentials() const { return credentials_; }
    Service& service() { return *service_; }

private:
    std::shared_ptr<Service> service_;
    fp::RemoteCredentials credentials_;
};

} // namespace taxsim
