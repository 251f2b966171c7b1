// The audit of a month against the tax service: which numbers are asked, how
// each disagreement is named, cancelling, a service that stops answering, and
// mending.
#include "services/register_audit.h"

#include "data_model/demo_constants.h"
#include "data_model/transaction.h"
#include "services/pending_uploads.h"
#include "services/remote_text.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

const QString kCode = QString::fromUtf8(demo::kCode50);
const QString kEstate = QString::fromUtf8(demo::kCode20);
const QString kMonth = QStringLiteral("2026-12");
const QString kDownloadQuestion = QStringLiteral("本地发票已存在，确定要从服务器上下载下来覆盖本地数据吗？");

// The month 2026-12 of the demo taxpayer, a disagreement of every kind made on
// purpose (local status / the service's):
//   1 valid/valid      2 valid/voided     3 voided/valid    4 valid/not issued
//   5 none/valid       6 blank void saved in January (not the month's, no gap)
//   7 blank/valid      8 valid/blank      9 none/unused     10 valid/valid
//   estate 1 valid/voided in bdcja_fpk;  "0000012" a number that cannot be asked;
//   another owner's invoice of the month (never asked).
class AuditTest : public ::testing::Test {
protected:
    void SetUp() override {
        setDemoSession(session);
        session.sqlca = &db.tx();
        host.setTransport(server.httpTransport());
        host.setTimeoutUnitMs(10);

        both(1, QStringLiteral("1"), QStringLiteral("1"));
        both(2, QStringLiteral("1"), QStringLiteral("2"));
        both(3, QStringLiteral("2"), QStringLiteral("1"));
        here(4, QStringLiteral("1"));
        there(5, QStringLiteral("1"));
        blankHere(6, QDateTime(QDate(2027, 1, 4), QTime(9, 0)));
        there(6, QStringLiteral("3"));
        blankHere(7, QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
        there(7, QStringLiteral("1"));
        both(8, QStringLiteral("1"), QStringLiteral("3"));
        both(10, QStringLiteral("1"), QStringLiteral("1"));
        exec(QStringLiteral("INSERT INTO bdcja_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, fkfmc, hjje, kpr, kprq ) "
                            "VALUES ( ?, '00000001', '20', ?, '1', '王强', ?, '张晓明', ? )"),
             {kEstate, session.gs_sysuserid, QVariant::fromValue(*Decimal::parse(u"1000.00")),
              QDateTime(QDate(2026, 12, 5), QTime(14, 0))});
        IssuedInvoice estate = invoice(1, QStringLiteral("1"));
        estate.fpdm = kEstate;
        registerOnServer(server.service(), session, estate, QStringLiteral("2"));
        exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, fkfmc, hjje, kpr, kprq ) "
                            "VALUES ( ?, '0000012', '50', ?, '1', '刘芳', ?, '张晓明', ? )"),
             {kCode, session.gs_sysuserid, QVariant::fromValue(*Decimal::parse(u"9.00")),
              QDateTime(QDate(2026, 12, 6), QTime(8, 0))});
        exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, fkfmc, hjje, kpr, kprq ) "
                            "VALUES ( '237020009999', '00000001', '50', 'other', '1', '刘芳', ?, '张晓明', ? )"),
             {QVariant::fromValue(*Decimal::parse(u"9.00")), QDateTime(QDate(2026, 12, 6), QTime(8, 0))});
        ASSERT_TRUE(db.tx().commit());
    }

    static IssuedInvoice invoice(int number, const QString& status) {
        IssuedInvoice inv;
        inv.fphm = QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0'));
        inv.fpzt = status;
        inv.kprq = QDateTime(QDate(2026, 12, number), QTime(10, 0));
        return inv;
    }
    void here(int number, const QString& status) { storeIssuedInvoice(db.tx(), session, invoice(number, status)); }
    void there(int number, const QString& status) {
        registerOnServer(server.service(), session, invoice(number, QStringLiteral("1")), status);
    }
    void both(int number, const QString& local, const QString& remote) {
        here(number, local);
        there(number, remote);
    }
    void blankHere(int number, const QDateTime& saved) {
        exec(QStringLiteral("INSERT INTO ptfp_fpk ( fpdm, fphm, fpzlbm, sxh, fpzt, kpr, bcrq, fkfmc, fkfzjhm, hjje ) "
                            "VALUES ( ?, ?, '50', ?, '3', 'admin', ?, ' ', ' ', ? )"),
             {kCode, invoice(number, QString()).fphm, session.gs_sysuserid, saved,
              QVariant::fromValue(Decimal::fromInt(0))});
        ASSERT_TRUE(db.tx().commit());
    }
    void exec(const QString& sql, const QVariantList& binds) {
        ASSERT_TRUE(db.tx().exec(sql, binds)) << db.tx().sqlerrtext.toStdString();
    }
    QString fpzt(const QString& table, const QString& code, const QString& number) {
        QVariantList row;
        EXPECT_NE(db.tx().selectInto(QStringLiteral("SELECT fpzt FROM %1 WHERE fpdm = ? AND fphm = ?").arg(table),
                                     {code, number}, row),
                  -1);
        return row.value(0).toString();
    }
    int statusRequests() {
        int n = 0;
        for (const taxsim::LoggedRequest& r : server.service().requestLog()) n += r.procId == 90239 ? 1 : 0;
        return n;
    }
    AuditResult audit(AuditOptions options = noPacing()) {
        return auditMonth(host, kMonth, session.gs_sysuserid, options);
    }
    static AuditOptions noPacing() {
        AuditOptions o;
        o.pacer = {};
        return o;
    }
    // "code-suffix number kind local/server" per disagreement ("E" the estate code).
    static QStringList lines(const QList<AuditDisagreement>& list) {
        QStringList out;
        for (const AuditDisagreement& d : list)
            out << (d.fpdm == kEstate ? QStringLiteral("E") : QString()) + d.fphm + QLatin1Char(' ') +
                       auditKindName(d.kind) + QLatin1Char(' ') + d.localName + QLatin1Char('/') + d.serverName;
        return out;
    }
    static QStringList expectedLines() {
        return {
            QStringLiteral("00000002 本地有效，税务机关已作废 已开票！/已作废！"),
            QStringLiteral("00000003 本地已作废，税务机关有效 已作废！/已开票！"),
            QStringLiteral("00000004 本地有，税务机关无此发票 已开票！/未使用！"),
            QStringLiteral("00000005 税务机关有，本地缺少此发票 无/已开票！"),
            QStringLiteral("00000007 发票状态不一致 已作废（空白）！/已开票！"),
            QStringLiteral("00000008 发票状态不一致 已开票！/已作废（空白）！"),
            QStringLiteral("0000012 无法核对 已开票！/"), // after every eight-digit number
            QStringLiteral("E00000001 本地有效，税务机关已作废 已开票！/已作废！"),
        };
    }

    TempDb db{TempDb::Content::DemoData};
    TaxsimServer server;
    Session session;
    ScriptedDialogs dialogs;
    HostServices host{session, dialogs};
};

TEST_F(AuditTest, ListsEveryDisagreementOfTheMonthAndNothingElse) {
    const QString before = snapshot(db.tx());
    int pauses = 0;
    AuditOptions options = noPacing();
    options.pacer = [&] { ++pauses; };
    QList<std::pair<int, int>> progress;
    options.progress = [&](int done, int total) {
        progress.append({done, total});
        return true;
    };
    const AuditResult r = audit(options);
    EXPECT_TRUE(r.complete()) << r.stopMessage.toStdString();
    // The month's 9 local invoices and the gaps 5 and 9 (6 is stored, in January).
    EXPECT_EQ(r.total, 11);
    EXPECT_EQ(r.checked, 11);
    EXPECT_EQ(lines(r.disagreements), expectedLines());
    EXPECT_EQ(r.disagreements.value(0).localStatus, QStringLiteral("1"));
    EXPECT_EQ(r.disagreements.value(0).serverStatus, QStringLiteral("2"));
    EXPECT_EQ(r.disagreements.value(0).table, InvoiceTable::Integrated);
    EXPECT_EQ(r.disagreements.value(7).table, InvoiceTable::Estate);
    EXPECT_EQ(r.disagreements.value(6).note, notInvoiceNumberMessage(QStringLiteral("发票号码")));
    // Ten numbers asked (the unfit one is not), a pause between requests, progress after each.
    EXPECT_EQ(statusRequests(), 10);
    EXPECT_EQ(pauses, 9);
    ASSERT_EQ(progress.size(), 12);
    EXPECT_EQ(progress.first(), std::make_pair(0, 11));
    EXPECT_EQ(progress.last(), std::make_pair(11, 11));
    // Quiet and read-only.
    EXPECT_TRUE(dialogs.log().isEmpty()) << dialogs.log().join(u'\n').toStdString();
    EXPECT_EQ(snapshot(db.tx()), before);
}

TEST_F(AuditTest, StoppingHalfWayKeepsTheAnsweredNumbersAndChangesNothing) {
    const QString before = snapshot(db.tx());
    // Cancelled after the fourth answer: the four are kept, no fifth is asked.
    AuditOptions options = noPacing();
    options.progress = [](int done, int) { return done < 4; };
    AuditResult r = audit(options);
    EXPECT_EQ(r.stop, AuditResult::Stop::Cancelled);
    EXPECT_EQ(r.checked, 4);
    EXPECT_EQ(r.total, 11);
    EXPECT_EQ(lines(r.disagreements), expectedLines().mid(0, 3));
    EXPECT_EQ(statusRequests(), 4);

    // The service answers five more status requests, then drops every connection.
    ASSERT_EQ(server.service().control(QStringLiteral("fault delay proc=90239 times=5 ms=0\n"
                                                      "fault drop proc=90239 times=-1")),
              QStringLiteral("ok"));
    r = audit();
    EXPECT_EQ(r.stop, AuditResult::Stop::Unreachable);
    EXPECT_EQ(r.checked, 5);
    EXPECT_EQ(lines(r.disagreements), expectedLines().mid(0, 4));
    EXPECT_TRUE(r.stopMessage.startsWith(QStringLiteral("与税务服务器通讯失败，核对已中止（已核对 5 张，共 11 张），"
                                                        "本地数据未作修改：")))
        << r.stopMessage.toStdString();
    EXPECT_TRUE(dialogs.log().isEmpty()) << dialogs.log().join(u'\n').toStdString();

    // Mending while the service is away changes nothing either, and stops at the first.
    const QList<AuditMend> mends = mendAll(host, r.disagreements);
    ASSERT_EQ(mends.size(), 4);
    for (const AuditMend& m : mends) {
        EXPECT_EQ(m.outcome, AuditMend::Outcome::Failed);
        EXPECT_EQ(m.message, mends.first().message);
    }
    EXPECT_EQ(statusRequests(), 4 + 6 + 1);
    EXPECT_EQ(snapshot(db.tx()), before);
}

TEST_F(AuditTest, MendingBringsEveryMendableNumberIntoLine) {
    AuditResult r = audit();
    ASSERT_EQ(r.disagreements.size(), 8);
    // Since the audit, the service voided 3 too: asked again, it agrees and is left as it is.
    there(3, QStringLiteral("2"));
    // The blank row of 7 is replaced by the service's invoice after the question.
    dialogs.yes();
    QStringList asked;
    const QList<AuditMend> mends = mendAll(host, r.disagreements, [&](const AuditDisagreement& d) {
        asked << d.fphm;
        return d.fphm != QLatin1String("0000012");
    });
    EXPECT_EQ(asked.size(), 8);
    using O = AuditMend::Outcome;
    const QList<O> outcomes{O::Mended, O::Agrees, O::Left, O::Mended, O::Mended, O::Mended, O::Skipped, O::Mended};
    ASSERT_EQ(mends.size(), outcomes.size());
    for (int i = 0; i < mends.size(); ++i)
        EXPECT_EQ(mends[i].outcome, outcomes[i]) << i << mends[i].message.toStdString();
    EXPECT_EQ(mends[2].message, QStringLiteral("税务机关没有该发票的记录，本机不能修正：请核实该发票是否已上传，"
                                               "必要时与主管税务机关联系！"));
    EXPECT_EQ(dialogs.questions(), QStringList{kDownloadQuestion});

    EXPECT_EQ(fpzt(QStringLiteral("ptfp_fpk"), kCode, QStringLiteral("00000002")), QStringLiteral("2"));
    EXPECT_EQ(fpzt(QStringLiteral("ptfp_fpk"), kCode, QStringLiteral("00000003")), QStringLiteral("2"));
    EXPECT_EQ(fpzt(QStringLiteral("ptfp_fpk"), kCode, QStringLiteral("00000005")), QStringLiteral("1"));
    EXPECT_EQ(fpzt(QStringLiteral("ptfp_fpk"), kCode, QStringLiteral("00000007")), QStringLiteral("1"));
    EXPECT_EQ(fpzt(QStringLiteral("ptfp_fpk"), kCode, QStringLiteral("00000008")), QStringLiteral("3"));
    EXPECT_EQ(fpzt(QStringLiteral("bdcja_fpk"), kEstate, QStringLiteral("00000001")), QStringLiteral("2"));
    // The downloads brought their lines.
    QVariantList row;
    ASSERT_EQ(
        db.tx().selectInto(
            QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm IN ('00000005', '00000007')"),
            {kCode}, row),
        0);
    EXPECT_EQ(row.value(0).toLongLong(), 4);

    // What the client cannot mend is all that is left.
    r = audit();
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(lines(r.disagreements), (QStringList{expectedLines().at(2), expectedLines().at(6)}));
}

TEST_F(AuditTest, AnUnconfirmedUploadIsSentToReconcile) {
    PendingRequest record{kCode,
                          QStringLiteral("00000004"),
                          QStringLiteral("50"),
                          session.gs_sysuserid,
                          session.gs_userid,
                          session.gs_username,
                          QStringLiteral("张晓明"),
                          QStringLiteral("摘要")};
    QString error;
    ASSERT_EQ(recordPendingRequest(db.tx(), record, &error), JournalWrite::Written) << error.toStdString();
    const AuditResult r = audit();
    const AuditDisagreement d = r.disagreements.value(2);
    ASSERT_EQ(d.kind, AuditKind::UnknownThere);
    const QString before = snapshot(db.tx());
    const AuditMend m = mendDisagreement(host, d);
    EXPECT_EQ(m.outcome, AuditMend::Outcome::Left);
    EXPECT_TRUE(m.message.contains(QStringLiteral("请执行“核对未确认发票”（fpdesk reconcile）")))
        << m.message.toStdString();
    EXPECT_EQ(snapshot(db.tx()), before);
}

TEST(AuditMonthTest, OnlyARealMonthWrittenYyyyMmIsOne) {
    for (const char* good : {"2026-01", "2026-12", "1999-02"})
        EXPECT_TRUE(isAuditMonth(QString::fromLatin1(good))) << good;
    for (const char* bad :
         {"2026-13", "2026-00", "26-01", "2026-1", "2026-1a", "2026/01", " 2026-01", "2026-01-01", ""})
        EXPECT_FALSE(isAuditMonth(QString::fromLatin1(bad))) << bad;
}

} // namespace
} // namespace fp::test
