// fpdesk audit: the month's disagreements listed, mended with --fix, a second
// audit clean; bad options and a service that stops answering change nothing.
#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "tests/app/fpdesk_process.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace fp::test {
namespace {

const QString kCode = QString::fromUtf8(demo::kCode50);
const QString kEstate = QString::fromUtf8(demo::kCode20);

// December 2026: 1 agrees; 2 valid here, voided there; 3 issued there only;
// 4 voided here, valid there; estate 1 valid here, voided there.
class AuditCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(fpdesk({QStringLiteral("db"), QStringLiteral("init"), QStringLiteral("--database"), db,
                          QStringLiteral("--demo")})
                      .exitCode,
                  0);
        setDemoSession(session);
        QString error;
        auto t = Transaction::openSqlite(db, &error);
        ASSERT_TRUE(t) << error.toStdString();
        const auto invoice = [](int number, const QString& status) {
            IssuedInvoice inv;
            inv.fphm = QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0'));
            inv.fpzt = status;
            inv.kprq = QDateTime(QDate(2026, 12, number), QTime(10, 0));
            return inv;
        };
        for (const auto& [number, local, remote] :
             {std::tuple{1, "1", "1"}, {2, "1", "2"}, {3, "", "1"}, std::tuple{4, "2", "1"}}) {
            if (*local) storeIssuedInvoice(*t, session, invoice(number, QString::fromLatin1(local)));
            registerOnServer(server.service(), session, invoice(number, QStringLiteral("1")),
                             QString::fromLatin1(remote));
        }
        ASSERT_TRUE(t->exec(QStringLiteral("INSERT INTO bdcja_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, fkfmc, hjje, kpr, "
                                           "kprq ) VALUES ( ?, '00000001', '20', ?, '1', '王强', ?, '张晓明', ? )"),
                            {kEstate, session.gs_sysuserid, QVariant::fromValue(*Decimal::parse(u"1000.00")),
                             QDateTime(QDate(2026, 12, 5), QTime(14, 0))}));
        ASSERT_TRUE(t->commit());
        IssuedInvoice estate = invoice(1, QStringLiteral("1"));
        estate.fpdm = kEstate;
        registerOnServer(server.service(), session, estate, QStringLiteral("2"));
    }
    CliRun audit(const QStringList& extra = {}) {
        return fpdesk(QStringList{QStringLiteral("audit"), QStringLiteral("--month"), QStringLiteral("2026-12"),
                                  QStringLiteral("--database"), db, QStringLiteral("--server"), server.baseUrl()} +
                      extra);
    }
    QString local() {
        QString error;
        auto t = Transaction::openSqlite(db, &error);
        return t ? snapshot(*t) : error;
    }
    int statusRequests() {
        int n = 0;
        for (const taxsim::LoggedRequest& r : server.service().requestLog()) n += r.procId == 90239 ? 1 : 0;
        return n;
    }

    QCoreApplication& app = coreApp(); // before the service's threads
    QTemporaryDir dir;
    QString db = dir.filePath(QStringLiteral("fp.db"));
    TaxsimServer server{true};
    Session session;
};

TEST_F(AuditCommandTest, ListsMendsAndThenAgrees) {
    const QString before = local();
    CliRun r = audit();
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("237020000001 00000002 本地有效，税务机关已作废 已开票 已作废\n"
                                    "237020000001 00000003 税务机关有，本地缺少此发票 无 已开票\n"
                                    "237020000001 00000004 本地已作废，税务机关有效 已作废 已开票\n"
                                    "237020000201 00000001 本地有效，税务机关已作废 已开票 已作废\n"
                                    "已核对 5 张（共 5 张），不一致 4 张\n"));
    EXPECT_FALSE(r.err.contains(QStringLiteral("核对中"))) << "progress only on a terminal";

    // Every question answered no: nothing changes.
    r = audit({QStringLiteral("--fix"), QStringLiteral("--no")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.endsWith(QStringLiteral("已修正 0 张，未修正 4 张\n"))) << r.out.toStdString();
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("发票代码237020000001、号码00000002：本地有效，税务机关已作废，要修正吗？")))
        << r.err.toStdString();
    EXPECT_EQ(local(), before);

    r = audit({QStringLiteral("--fix"), QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith(QStringLiteral("237020000001 00000002 已修正\n"
                                              "237020000001 00000003 已修正\n"
                                              "237020000001 00000004 已修正\n"
                                              "237020000201 00000001 已修正\n"
                                              "已修正 4 张，未修正 0 张\n")))
        << r.out.toStdString();

    r = audit();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("已核对 5 张（共 5 张），不一致 0 张\n"));
}

TEST_F(AuditCommandTest, AServiceThatStopsAnsweringChangesNothing) {
    const QString before = local();
    ASSERT_EQ(server.service().control(QStringLiteral("fault delay proc=90239 times=2 ms=0\n"
                                                      "fault drop proc=90239 times=-1")),
              QStringLiteral("ok"));
    const CliRun r = audit({QStringLiteral("--fix"), QStringLiteral("--yes")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QStringLiteral("237020000001 00000002 本地有效，税务机关已作废 已开票 已作废\n"
                                    "已核对 2 张（共 5 张），不一致 1 张\n"));
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("与税务服务器通讯失败，核对已中止（已核对 2 张，共 5 张），本地数据未作修改：")))
        << r.err.toStdString();
    EXPECT_EQ(statusRequests(), 3);
    EXPECT_EQ(local(), before);
}

TEST_F(AuditCommandTest, BadOptionsAreRefusedBeforeAnythingIsOpenedOrAsked) {
    const QString before = local();
    const QString fresh = dir.filePath(QStringLiteral("never.db"));
    struct Case {
        QStringList args;
        const char* says;
    };
    const Case cases[] = {
        {{QStringLiteral("--month"), QStringLiteral("2026-13")}, "not \"2026-13\""},
        {{QStringLiteral("--month"), QStringLiteral("26-01")}, "not \"26-01\""},
        {{QStringLiteral("--month"), QStringLiteral("2026-1")}, "not \"2026-1\""},
        {{}, "--month YYYY-MM is required"},
        {{QStringLiteral("--month"), QStringLiteral("2026-12"), QStringLiteral("--yes"), QStringLiteral("--no")},
         "--yes and --no exclude each other"},
        {{QStringLiteral("--month"), QStringLiteral("2026-12"), QStringLiteral("--fixx")}, "Unknown option"},
        {{QStringLiteral("--month"), QStringLiteral("2026-12"), QStringLiteral("12")}, "expected 0 argument(s)"},
    };
    for (const Case& c : cases) {
        for (const QString& where : {db, fresh}) {
            const CliRun r = fpdesk(QStringList{QStringLiteral("audit"), QStringLiteral("--database"), where,
                                                QStringLiteral("--server"), server.baseUrl()} +
                                    c.args);
            EXPECT_EQ(r.exitCode, 2) << c.args.join(u' ').toStdString();
            EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
            EXPECT_TRUE(r.out.isEmpty());
        }
    }
    EXPECT_TRUE(server.service().requestLog().empty());
    EXPECT_EQ(local(), before);
    EXPECT_FALSE(QFile::exists(fresh));
}

} // namespace
} // namespace fp::test
