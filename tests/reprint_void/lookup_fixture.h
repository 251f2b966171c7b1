#pragma once
// The reprint and void windows on a temporary demo database, talking to the
// simulated tax service in this process, with scripted dialogs. The server's
// date is 10 December 2026; the local invoice 00000007 was issued the day before.
#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "host/host_services.h"
#include "host/judge_column.h"
#include "reprint_void/w_fp_invoice_print.h"
#include "reprint_void/w_fp_invoice_void.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>
#include <memory>

namespace fp::test {

inline QString code50() { return QString::fromUtf8(demo::kCode50); }

class LookupTest : public ::testing::Test {
public:
    void SetUp() override {
        installFormHostFunctions();
        server->service().setServerTime(serverNow);
        setDemoSession(session);
        session.gs_kprmc = QStringLiteral("张晓明");
        session.sqlca = &db->tx();
        session.localClock = [this] { return localNow; };
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server->inProcessTransport());
        host->setTimeoutUnitMs(1);
    }
    void TearDown() override {
        reprint.reset();
        voidWin.reset();
        host.reset();
    }

    w_fp_invoice_print& openReprint(int functionId = 2) {
        reprint = std::make_unique<w_fp_invoice_print>(*host);
        // Some tests expect the window to refuse; they check isOpen().
        (void)reprint->open(OpenParams{functionId, QString()});
        return *reprint;
    }
    w_fp_invoice_void& openVoid(int functionId = 3) {
        voidWin = std::make_unique<w_fp_invoice_void>(*host);
        (void)voidWin->open(OpenParams{functionId, QString()});
        return *voidWin;
    }

    // Stores `inv` locally and on the service (with `serverStatus`).
    void issued(const IssuedInvoice& inv, const QString& serverStatus = QStringLiteral("1")) {
        storeIssuedInvoice(db->tx(), session, inv);
        registerOnServer(server->service(), session, inv, serverStatus);
    }

    // Chooses the code and types the number, then views (ue_start).
    long view(InvoiceLookupWindow& w, const QString& number, const QString& code = code50()) {
        if (w.ddlb_fpdm.of_getid(w.ddlb_fpdm.text()) != code) {
            EXPECT_TRUE(w.chooseCode(code));
        }
        w.ddlb_fphm.setText(number);
        return w.raise(QStringLiteral("ue_start"));
    }

    QString fpzt(const QString& number) {
        QVariantList row;
        EXPECT_NE(db->tx().selectInto(QStringLiteral("SELECT fpzt FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                                      {code50(), number}, row),
                  -1);
        return row.value(0).toString();
    }
    qlonglong count(const QString& sql, const QVariantList& binds = {}) {
        QVariantList row;
        EXPECT_NE(db->tx().selectInto(sql, binds, row), -1);
        return row.value(0).toLongLong();
    }
    QStringList requests() const {
        QStringList l;
        for (const auto& e : host->exchanges()) l << e.request;
        return l;
    }
    QString dbSnapshot() { return snapshot(db->tx()); }
    // Every invoice variable is empty and the form hidden: nothing is shown.
    static bool nothingShown(const InvoiceLookupWindow& w) {
        return w.is_fpdm.isEmpty() && w.is_fphm.isEmpty() && w.is_fpzl.isEmpty() && w.is_fpdmr.isEmpty() &&
               w.is_fphmr.isEmpty() && !w.dw_fp.visible && w.dw_fp.store()->rowCount() == 0;
    }

    QDateTime serverNow{QDate(2026, 12, 10), QTime(9, 30, 15)};
    QDateTime localNow = serverNow;
    std::unique_ptr<TempDb> db = std::make_unique<TempDb>(TempDb::Content::DemoData);
    std::unique_ptr<TaxsimServer> server = std::make_unique<TaxsimServer>(true);
    Session session;
    ScriptedDialogs dialogs;
    std::unique_ptr<HostServices> host;
    std::unique_ptr<w_fp_invoice_print> reprint;
    std::unique_ptr<w_fp_invoice_void> voidWin;
};

} // namespace fp::test
