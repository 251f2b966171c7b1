#pragma once
// The issuing window on a temporary demo database, talking to the simulated tax
// service (in-process by default, or over loopback HTTP), with scripted dialogs.
#include "data_model/data_store.h"
#include "data_model/demo_constants.h"
#include "data_model/demo_data.h"
#include "host/host_services.h"
#include "host/judge_column.h"
#include "issuing/w_fp_invoicing.h"
#include "taxsim/in_process_transport.h"
#include "taxsim/service.h"
#include "tests/support/demo_session.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>
#include <memory>

namespace fp::test {

class IssuingTest : public ::testing::Test {
public:
    void SetUp() override {
        installFormHostFunctions();
        db = std::make_unique<TempDb>(TempDb::Content::DemoData);
        server = std::make_unique<TaxsimServer>(true);
        server->service().setServerTime(QDateTime(QDate(2026, 12, 10), QTime(9, 30, 15)));
        setDemoSession(session);
        session.gs_kprmc = QStringLiteral("张晓明");
        session.sqlca = &db->tx();
        session.localClock = [] { return QDateTime(QDate(2026, 12, 10), QTime(9, 30, 15)); };
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server->inProcessTransport());
        host->setTimeoutUnitMs(5);
    }
    void TearDown() override {
        win.reset();
        host.reset();
    }

    void useHttp() { host->setTransport(server->httpTransport()); }

    w_fp_invoicing& open(int functionId = 1) {
        win = std::make_unique<w_fp_invoicing>(*host);
        // Some tests expect the window to refuse; they check isOpen().
        (void)win->open(OpenParams{functionId, QString()});
        return *win;
    }

    // The user picks a code from the list by its code.
    void chooseCode(const QString& code) {
        for (int i = 1; i <= win->ddlb_fpdm.count(); ++i)
            if (win->ddlb_fpdm.of_getid(i) == code) {
                win->ddlb_fpdm.select(i);
                return;
            }
        ADD_FAILURE() << "code not offered: " << code.toStdString();
    }
    // The user types a number into the number box.
    void typeNumber(const QString& number) { win->ddlb_fphm.setText(number); }
    QStringList offeredNumbers() const {
        QStringList l;
        for (const auto& i : win->ddlb_fphm.items()) l << i.text;
        return l;
    }

    // Starts an integrated invoice on the demo code with the given number.
    bool start(const QString& number = QStringLiteral("00000001"),
               const QString& code = QString::fromUtf8(demo::kCode50)) {
        chooseCode(code);
        typeNumber(number);
        return win->raise(QStringLiteral("ue_start")) == 1;
    }

    DataStore& fp() { return *win->dw_fp.store(); }
    DataStore& xm() { return *win->dw_xm.store(); }

    // Fills the payer and one line per (quantity, price) through the controls.
    void fillInvoice(const QList<QPair<QString, QString>>& lines) {
        win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("示范建筑工程有限公司"));
        win->dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), QStringLiteral("组织机构代码"));
        win->dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("MA3C0001-2"));
        for (int i = 0; i < lines.size(); ++i) {
            const int row = i + 1;
            if (row > xm().rowCount()) {
                ASSERT_EQ(win->raise(QStringLiteral("ue_newproj")), row);
            }
            win->dw_xm.typeInto(row, QStringLiteral("xmmc"), QStringLiteral("餐饮服务"));
            win->dw_xm.typeInto(row, QStringLiteral("mj"), lines[i].first);
            win->dw_xm.typeInto(row, QStringLiteral("dj"), lines[i].second);
        }
    }

    // Starts a real-estate invoice numbered 00000001 and fills its payer and one
    // line (88.5 square metres at 10000) through the controls.
    bool startEstateInvoice() {
        chooseCode(QString::fromUtf8(demo::kCode20));
        typeNumber(QStringLiteral("1"));
        if (win->raise(QStringLiteral("ue_start")) != 1) return false;
        win->dw_fp.typeInto(1, QStringLiteral("fkfmc"), QStringLiteral("示范物业管理有限公司"));
        win->dw_fp.typeInto(1, QStringLiteral("fkfzjlx"), QStringLiteral("纳税人识别号"));
        win->dw_fp.typeInto(1, QStringLiteral("fkfzjhm"), QStringLiteral("91370200MA3C00002Y"));
        win->dw_xm.typeInto(1, QStringLiteral("xmmc"), QStringLiteral("示范花园3号楼"));
        win->dw_xm.typeInto(1, QStringLiteral("xmbh"), QStringLiteral("XM-001"));
        win->dw_xm.typeInto(1, QStringLiteral("mj"), QStringLiteral("88.5"));
        win->dw_xm.typeInto(1, QStringLiteral("dj"), QStringLiteral("10000"));
        return true;
    }

    QString dbSnapshot() { return snapshot(db->tx()); }
    qlonglong count(const QString& sql, const QVariantList& binds = {}) {
        QVariantList row;
        EXPECT_NE(db->tx().selectInto(sql, binds, row), -1);
        return row.value(0).toLongLong();
    }

    std::unique_ptr<TempDb> db;
    std::unique_ptr<TaxsimServer> server;
    Session session;
    ScriptedDialogs dialogs;
    std::unique_ptr<HostServices> host;
    std::unique_ptr<w_fp_invoicing> win;
};

inline QString code50() { return QString::fromUtf8(demo::kCode50); }

} // namespace fp::test
