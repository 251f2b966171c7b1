#pragma once
// The host's global values in one object, handed to every window and service.
// Nothing in the module reads the wall clock directly: the server date is the
// local clock plus the offset learnt from the tax service at start, and tests
// replace the local clock.
#include <QDateTime>
#include <QString>
#include <functional>

namespace fp {

class Transaction;

class Session {
public:
    QString gs_userid;
    QString gs_username;
    QString gs_sysuserid;   // taxpayer's owner account: every sxh is compared with it
    QString gs_sysusername; // taxpayer name
    // Current issuer. A null QString (QString()) is a null value and differs from
    // the empty text: only the empty text makes a window ask for the issuer.
    QString gs_kprmc;
    QString gs_nsrsbh;
    QString gs_nsrlxdh;
    QString gs_ssswjgdm;

    Transaction* sqlca = nullptr;

    // Text of w_main's label st_kpr; the main window listens through onKprChanged.
    QString st_kpr_text;
    std::function<void(const QString&)> onKprChanged;
    void setKprLabel(const QString& text) {
        st_kpr_text = text;
        if (onKprChanged) onKprChanged(text);
    }

    // gdt_srv_date: server date and time, to the second.
    QDateTime gdt_srv_date() const {
        QDateTime t = localClock ? localClock() : QDateTime::currentDateTime();
        t = t.addMSecs(srvOffsetMs);
        return t.addMSecs(-t.time().msec());
    }
    // Learn the server time once: keeps the offset to the local clock.
    void setServerDate(const QDateTime& server) {
        const QDateTime local = localClock ? localClock() : QDateTime::currentDateTime();
        srvOffsetMs = local.msecsTo(server);
        srvDateUnread = false;
    }
    // The server time could not be read at start: gdt_srv_date is the local
    // clock, which a rule on the server's month must not rely on.
    bool srvDateUnread = false;
    std::function<QDateTime()> localClock; // empty: the system clock
    qint64 srvOffsetMs = 0;
};

} // namespace fp
