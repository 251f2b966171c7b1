#pragma once
// The host application's services used by every window and global function:
// message boxes, rights, and the exchange of one request with the tax service.
#include "data_model/transaction.h"
#include "host/dialogs.h"
#include "host/remote_transport.h"
#include "host/session.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

namespace fp {

class HostServices {
public:
    HostServices(Session& session, Dialogs& dialogs) : session_(session), dialogs_(dialogs) {}

    Session& session() { return session_; }
    const Session& session() const { return session_; }
    Dialogs& dialogs() { return dialogs_; }

    // mess: an information message.
    void mess(const QString& text) {
        if (capture_)
            capture_->append(text);
        else
            dialogs_.message(text);
    }

    // While one lives, mess() keeps its texts here instead of showing them: a
    // run over many invoices reports each failure with its invoice, not in a
    // message box of its own. Questions (msg2) are still asked.
    class MessageCapture {
    public:
        explicit MessageCapture(HostServices& host) : host_(host), outer_(host.capture_) { host.capture_ = &texts_; }
        ~MessageCapture() { host_.capture_ = outer_; }
        MessageCapture(const MessageCapture&) = delete;
        MessageCapture& operator=(const MessageCapture&) = delete;
        const QStringList& texts() const { return texts_; }

    private:
        HostServices& host_;
        QStringList* outer_;
        QStringList texts_;
    };
    // msg2: a yes/no question; 2 means no.
    int msg2(const QString& text) { return dialogs_.question(text); }

    // f_get_right: the user's right code for a window's two-digit function id,
    // read from the host rights table b_user_right; "00" when none is granted.
    QString f_get_right(const QString& userid, const QString& funcId);

    // f_send_remote_msg: posts `request` to the tax service's endpoint `url`
    // ("NormalServlet"). `timeout` is in the module's time-out units (see
    // setTimeoutUnitMs). True when the service accepted: the reply, beginning
    // with "ok|@|", is in `reply`. False after the failure has been shown with mess.
    [[nodiscard]] bool f_send_remote_msg(const QString& url, const QString& request, int timeout, QString& reply);

    // How the last exchange ended. Refused: the service answered, but not
    // "ok|@|" (or nothing was sent: no connection configured, another
    // exchange running), so it did nothing with the request. TransportFailed:
    // no usable answer came back (connect failed, timed out, dropped, HTTP
    // error, bad reply): the service may or may not have carried it out.
    enum class Outcome { Accepted, Refused, TransportFailed };
    Outcome lastOutcome() const { return lastOutcome_; }

    // The same exchange, but a failure is not shown: its text is kept in
    // lastFailureText() for the caller, who shows it (or a text of its own)
    // once it knows more, such as whether a lost upload was stored after all.
    [[nodiscard]] bool sendRemoteMsgQuietly(const QString& url, const QString& request, int timeout, QString& reply);
    const QString& lastFailureText() const { return lastFailureText_; }

    void setTransport(std::shared_ptr<RemoteTransport> transport) { transport_ = std::move(transport); }
    RemoteTransport* transport() const { return transport_.get(); }

    // One time-out unit is a tenth of a second (100 -> 10 s, 200 -> 20 s,
    // 500 -> 50 s, 10000 -> 1000 s) unless a profile or a test sets otherwise.
    void setTimeoutUnitMs(int ms) { timeoutUnitMs_ = ms; }
    int timeoutUnitMs() const { return timeoutUnitMs_; }

    // The GUI installs a runner that performs the exchange while a modal busy
    // indicator blocks all input; the default runs it inline.
    using BusyRunner = std::function<void(const std::function<void()>&)>;
    void setBusyRunner(BusyRunner runner) { busy_ = std::move(runner); }

    // The GUI installs an indicator of a command waiting for another issuer's
    // save: the session's sqlca waits for that save's lock in slices and tells
    // the indicator between them (Waiting, again and again, then Over), so
    // that it shows lockWaitText() while the window's thread waits. False when
    // the connection refused the sliced wait (sqlca's error says why).
    using LockWaitIndicator = Transaction::LockWaitObserver;
    [[nodiscard]] bool setLockWaitIndicator(LockWaitIndicator indicator);
    static QString lockWaitText();

    // Shows an issued invoice in the reprint window, where it can be viewed and
    // printed again with that window's checks. The GUI installs it; without
    // one nothing opens (false).
    using InvoiceOpener = std::function<bool(const QString& fpdm, const QString& fphm)>;
    void setInvoiceOpener(InvoiceOpener opener) { invoiceOpener_ = std::move(opener); }
    bool openInvoice(const QString& fpdm, const QString& fphm) { return invoiceOpener_ && invoiceOpener_(fpdm, fphm); }

    // The last kExchangeLogSize exchanges, oldest first, for tests and
    // diagnostics: endpoint, request text and time-out.
    struct Exchange {
        QString url;
        QString request;
        int timeout = 0;
        bool ok = false;
        QString reply;
    };
    static constexpr size_t kExchangeLogSize = 64;
    const std::deque<Exchange>& exchanges() const { return exchanges_; }

private:
    Session& session_;
    Dialogs& dialogs_;
    QStringList* capture_ = nullptr;
    std::shared_ptr<RemoteTransport> transport_;
    int timeoutUnitMs_ = 100;
    BusyRunner busy_;
    InvoiceOpener invoiceOpener_;
    bool inExchange_ = false;
    Outcome lastOutcome_ = Outcome::Refused;
    QString lastFailureText_;
    // Runs one exchange; a failure's text goes to lastFailureText_ and is shown unless `quiet`.
    bool exchange(const QString& url, const QString& request, int timeout, QString& reply, bool quiet);
    std::deque<Exchange> exchanges_;

    void logExchange(Exchange exchange);
};

} // namespace fp
