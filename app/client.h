#pragma once
// A running client: the profile's database as sqlca, the session's globals, the
// host services and the wire to the tax service (the simulated service in this
// process, or HTTP).
#include "app/data_commands.h"
#include "app/profile.h"
#include "data_model/transaction.h"
#include "host/host_services.h"
#include "host/session.h"

#include <QDateTime>
#include <memory>

namespace taxsim {
class Service;
}

namespace fp::app {

// How long a statement waits for another connection's lock: the upload's
// time-out (in units of `timeoutUnitMs`) and a margin.
inline constexpr int kLockWaitMarginMs = 10000;
int lockWaitFor(int timeoutUnitMs);

// Creates every table that is missing and, when `demo` is true and the database
// holds no data yet, the demo data. `demoCreated` tells whether it did.
bool initDatabase(Transaction& t, bool demo, QString* error, bool* demoCreated = nullptr);

// Opens the profile's database, creating an SQLite file (and its folder) when
// it does not exist, then initDatabase with the profile's demo flag.
std::unique_ptr<Transaction> openDatabase(const Profile& profile, QString* error);

// Asks the tax service for its date and time (procedure 90001).
bool fetchServerTime(RemoteTransport& transport, int timeoutMs, const HostServices::BusyRunner& runner, QDateTime* out,
                     QString* error);

class Client {
public:
    explicit Client(Profile profile);
    ~Client();

    // The dialogs the host services show through (they may read the session, so
    // they come after the client); null: standard error, questions answered no.
    void setDialogs(Dialogs* dialogs) { dialogs_.target = dialogs; }

    // Opens the database and the wire to the tax service and fills the session.
    // False with the reason in `error`.
    bool start(QString* error);
    // Learns the server date; when the service does not answer, the local clock
    // stays in force and a warning is shown.
    void syncServerDate(const HostServices::BusyRunner& runner = {});

    const Profile& profile() const { return profile_; }
    Session& session() { return session_; }
    HostServices& host() { return host_; }
    Transaction* sqlca() { return sqlca_.get(); }
    // The simulated service when it runs in this process.
    taxsim::Service* service() { return service_.get(); }

private:
    // Forwards to the dialogs set, or to the console.
    struct ForwardDialogs : Dialogs {
        Dialogs* target = nullptr;
        cli::ConsoleDialogs console{cli::ConsoleDialogs::Preset::No};
        Dialogs& to() { return target ? *target : console; }
        void message(const QString& t) override { to().message(t); }
        int question(const QString& t) override { return to().question(t); }
        QString treeSelect(const TreeSelectRequest& r) override { return to().treeSelect(r); }
        s_printreturn printPreview(const s_preview_parameter& p) override { return to().printPreview(p); }
    };

    Profile profile_;
    Session session_;
    ForwardDialogs dialogs_;
    HostServices host_;
    std::unique_ptr<Transaction> sqlca_;
    std::shared_ptr<taxsim::Service> service_;
};

} // namespace fp::app
