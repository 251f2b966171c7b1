// ue_save when the upload's answer is lost: the service is asked whether it
// stored the invoice, and the save is committed, or rolled back keeping (or
// dropping) the record of the unconfirmed upload.
#include "services/pending_uploads.h"
#include "services/remote_text.h"
#include "tests/issuing/issuing_fixture.h"
#include "tests/support/statement_faults.h"

namespace fp::test {
namespace {

const QString kAccepted = QStringLiteral("上传应答未收到，经核对税务机关已收到该发票，数据已保存！");

class LostReplyTest : public IssuingTest {
public:
    void prepare() {
        open();
        ASSERT_TRUE(start());
        fillInvoice({{QStringLiteral("2"), QStringLiteral("120")}, {QStringLiteral("1.5"), QStringLiteral("0.10")}});
        dialogs.clear();
    }
    bool save() {
        dialogs.yes();
        return win->raise(QStringLiteral("ue_save")) == 1;
    }
    void fault(taxsim::Fault::Kind kind, int proc) {
        taxsim::Fault f;
        f.kind = kind;
        server->service().injectFault(f, proc);
    }
    // The database without the records of unconfirmed uploads.
    QString dataSnapshot() {
        QStringList lines = dbSnapshot().split(u'\n');
        lines.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("fp_pending_upload|")); });
        return lines.join(u'\n');
    }
    QStringList pending() {
        QStringList out;
        for (const QVariantList& r : db->tx().selectAll(
                 QStringLiteral("SELECT fpdm, fphm, fpzlbm, sxh, userid, kpr FROM fp_pending_upload ORDER BY fphm")))
            out << r.value(0).toString() + u'|' + r.value(1).toString() + u'|' + r.value(2).toString() + u'|' +
                       r.value(3).toString() + u'|' + r.value(4).toString() + u'|' + r.value(5).toString();
        return out;
    }
};

// The service stored the invoice but its answer never came: the question finds
// it with our content, the save is committed and the window goes on as after
// any save.
TEST_F(LostReplyTest, AnInvoiceTheServiceStoredIsCommittedAfterTheQuestion) {
    useHttp();
    prepare();
    fault(taxsim::Fault::Kind::LostReply, 11633);
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.messages(), QStringList{kAccepted});
    // The question: the whole invoice, within the status request's time-out.
    const auto& ex = host->exchanges();
    ASSERT_GE(ex.size(), 2u);
    EXPECT_FALSE(ex[ex.size() - 2].ok);
    EXPECT_EQ(ex.back().request, req_download(code50(), QStringLiteral("00000001")));
    EXPECT_EQ(ex.back().timeout, kTimeoutStatus);

    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = '00000001'"), {code50()}),
              1);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000001'"), {code50()}), 2);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE fpdm = ? AND zjsyh = '00000001'"), {code50()}), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fphm = '00000001' AND czlx = '1'")), 1);
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_TRUE(win->dw_fp.readOnly());
    EXPECT_FALSE(win->uo_toolbar.isEnabled(w_fp_invoicing::kSave));
    EXPECT_EQ(offeredNumbers(), QStringList{QStringLiteral("00000002")});
}

// The same for a real-estate invoice, whose form has other columns and
// tables: the service's copy is recognised as ours, and the invoice is
// committed to the estate tables.
TEST_F(LostReplyTest, AnEstateInvoiceTheServiceStoredIsCommittedToo) {
    useHttp();
    open();
    ASSERT_TRUE(startEstateInvoice());
    dialogs.clear();
    fault(taxsim::Fault::Kind::LostReply, 11633);
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.messages(), QStringList{kAccepted});
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk WHERE fpdm = ? AND fphm = '00000001'"),
                    {QString::fromUtf8(demo::kCode20)}),
              1);
    EXPECT_TRUE(pending().isEmpty());
}

// Answers lost where the question does not confirm the invoice: the save is
// rolled back (the data as before), the record kept while the upload may still
// be stored, and one message says what happened and what the clerk can do.
TEST_F(LostReplyTest, UnconfirmedUploadsRollBackAndKeepOrDropTheirRecord) {
    struct Case {
        const char* name;
        std::function<void(LostReplyTest&)> arrange;
        QString conclusion;
        bool recordKept;
    };
    const Case cases[] = {
        {"absent at the service", [](LostReplyTest& t) { t.fault(taxsim::Fault::Kind::Drop, 11633); },
         QStringLiteral("经核对，税务机关目前没有收到该发票，本地数据未保存。"), true},
        {"the question fails too",
         [](LostReplyTest& t) {
             t.fault(taxsim::Fault::Kind::Drop, 11633);
             t.fault(taxsim::Fault::Kind::Drop, 90239);
         },
         QStringLiteral("无法向税务机关核对该发票是否已收到，本地数据未保存。"), true},
        {"issued there with other content",
         [](LostReplyTest& t) {
             taxsim::StoredInvoice other = taxsim::StoredInvoice::create(code50(), QStringLiteral("00000001"));
             other.setValue(QStringLiteral("sxh"), t.session.gs_sysuserid);
             other.setValue(QStringLiteral("fpzt"), QStringLiteral("1"));
             other.setValue(QStringLiteral("fkfmc"), QStringLiteral("另一位客户"));
             other.setValue(QStringLiteral("hjje"), QStringLiteral("5.00"));
             const int line = other.addLine();
             other.setLineValue(line, QStringLiteral("xmmc"), QStringLiteral("住宿费"));
             other.setLineValue(line, QStringLiteral("je"), QStringLiteral("5.00"));
             t.server->service().addInvoice(other);
             t.fault(taxsim::Fault::Kind::Drop, 11633);
         },
         QStringLiteral("经核对，税务机关的该号码发票与本次保存的内容不同，该号码已被使用，本次保存未生效！"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        win.reset();
        db = std::make_unique<TempDb>(TempDb::Content::DemoData);
        session.sqlca = &db->tx();
        server = std::make_unique<TaxsimServer>(true);
        useHttp();
        prepare();
        const QString before = dataSnapshot();
        c.arrange(*this);
        EXPECT_FALSE(save());
        // One message: the transport's failure, then what the question found.
        ASSERT_EQ(dialogs.messages().size(), 1) << dialogs.messages().join(u'|').toStdString();
        EXPECT_TRUE(dialogs.messages()[0].startsWith(QStringLiteral("与税务服务器的连接意外中断")))
            << dialogs.messages()[0].toStdString();
        EXPECT_TRUE(dialogs.messages()[0].contains(QStringLiteral("\r\n\r\n") + c.conclusion))
            << dialogs.messages()[0].toStdString();
        EXPECT_EQ(dataSnapshot(), before);
        EXPECT_EQ(pending(), c.recordKept
                                 ? QStringList{code50() + QStringLiteral("|00000001|50|") + session.gs_sysuserid +
                                               u'|' + session.gs_userid + QStringLiteral("|张晓明")}
                                 : QStringList());
        EXPECT_FALSE(win->dw_fp.readOnly());
        EXPECT_TRUE(win->uo_toolbar.isEnabled(w_fp_invoicing::kSave));
    }
}

// The service stored the upload, but neither its answer nor the question came
// back: the record stays. A second save of the number never replaces it (the
// service's refusal of a number already used would then drop it, leaving the
// service's invoice without a local twin): it settles the record first, and
// while the service cannot be asked it is refused and changes nothing.
TEST_F(LostReplyTest, ASecondSaveOfARecordedNumberSettlesItFirst) {
    useHttp();
    prepare();
    fault(taxsim::Fault::Kind::LostReply, 11633);
    fault(taxsim::Fault::Kind::Drop, 90239);
    EXPECT_FALSE(save());
    ASSERT_EQ(pending().size(), 1);
    const QString withRecord = dbSnapshot();

    fault(taxsim::Fault::Kind::Drop, 90239);
    dialogs.clear();
    EXPECT_FALSE(save());
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(
        dialogs.messages()[0].startsWith(pendingRecordRefusal() + QStringLiteral("\r\n与税务服务器的连接意外中断")))
        << dialogs.messages()[0].toStdString();
    EXPECT_EQ(dbSnapshot(), withRecord);

    // The service answers again: its copy is stored, and the number is used.
    dialogs.clear();
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(), (QStringList{QStringLiteral("发票代码") + code50() +
                                                   QStringLiteral("、号码00000001：上次保存时未收到税务机关的应答，"
                                                                  "经核对税务机关已收到该发票，已补存本地数据！"),
                                               QStringLiteral("当前发票号码已使用！")}));
    EXPECT_EQ(server->service().invoiceCount(), 1);
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000001'"), {code50()}), 2);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fphm = '00000001' AND czlx = '1'")), 1);
}

// A save that the service refuses drops its record; a later save of the number
// succeeds and leaves no record either.
TEST_F(LostReplyTest, ARefusalDropsTheRecord) {
    useHttp();
    prepare();
    fault(taxsim::Fault::Kind::Refuse, 11633);
    EXPECT_FALSE(save());
    EXPECT_TRUE(pending().isEmpty());
    dialogs.clear();
    ASSERT_TRUE(save()) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("数据保存成功！")});
    EXPECT_TRUE(pending().isEmpty());
}

// The service accepted the upload but the local commit failed (a full disk,
// an error at commit, a dropped connection): the record stays and the clerk is
// told to settle it; reconcile then stores the service's copy.
TEST_F(LostReplyTest, ACommitFailingAfterTheServiceAcceptedKeepsTheRecord) {
    prepare();
    const QString before = dataSnapshot();
    failCommit(db->tx(), 1); // the record's commit goes through, the save's fails
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("税务机关已收到该发票，但本地数据保存失败！\r\ndisk full\r\n"
                                         "请执行“核对未确认发票”补存本地数据。")});
    EXPECT_EQ(server->service().invoiceCount(), 1);
    EXPECT_EQ(dataSnapshot(), before);
    ASSERT_EQ(pending().size(), 1);

    dialogs.clear();
    EXPECT_EQ(gf_reconcile_pending_uploads(*host).completed, 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM ptfp_fpxmmx WHERE fpdm = ? AND fphm = '00000001'"), {code50()}), 2);
    EXPECT_EQ(
        count(QStringLiteral("SELECT count(1) FROM bdcja_fplg WHERE fpdm = ? AND zjsyh = '00000001'"), {code50()}), 1);
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fphm = '00000001' AND czlx = '1'")), 1);
}

// Runs a callback when the transaction is about to run a statement containing
// a text, and runs every statement.
class BeforeStatement : public StatementFaults {
public:
    BeforeStatement(QString fragment, std::function<void()> run)
        : fragment_(std::move(fragment)), run_(std::move(run)) {}
    QString failureFor(const QString& sql) override {
        if (!done_ && sql.contains(fragment_)) {
            done_ = true;
            run_();
        }
        return QString();
    }

private:
    QString fragment_;
    std::function<void()> run_;
    bool done_ = false;
};

// Another client of the same user settles while a save is writing its
// invoice, before the upload: the service does not hold the invoice yet, so a
// settling that asked before claiming would drop the live record, and the
// save's lost answer would then leave the service's invoice with nothing to
// settle it. The claim waits for the save instead and gives up; the record
// stays with the save, and reconcile completes the invoice afterwards.
TEST_F(LostReplyTest, SettlingNeverTakesTheRecordOfASaveInFlight) {
    useHttp();
    prepare();
    auto other = db->openAnother();
    ASSERT_TRUE(other->setLockWaitMs(300));
    Session otherSession = session;
    otherSession.sqlca = other.get();
    ScriptedDialogs otherDialogs;
    HostServices otherHost(otherSession, otherDialogs);
    otherHost.setTransport(server->httpTransport());
    ReconcileResult settledMeanwhile;
    db->tx().setStatementFaults(std::make_shared<BeforeStatement>(
        QStringLiteral("INSERT INTO ptfp_fpk"), [&] { settledMeanwhile = gf_reconcile_pending_uploads(otherHost); }));
    fault(taxsim::Fault::Kind::LostReply, 11633);
    fault(taxsim::Fault::Kind::Drop, 90239);
    EXPECT_FALSE(save());
    db->tx().setStatementFaults(nullptr);

    EXPECT_EQ(settledMeanwhile.kept, 1);
    EXPECT_EQ(settledMeanwhile.dropped, 0);
    EXPECT_EQ(otherDialogs.messages(),
              QStringList{QStringLiteral("发票代码") + code50() +
                          QStringLiteral("、号码00000001：该号码的操作仍在进行中，暂不核对，稍后将再次核对。")});
    ASSERT_EQ(pending().size(), 1);
    EXPECT_EQ(server->service().invoiceCount(), 1);

    dialogs.clear();
    EXPECT_EQ(gf_reconcile_pending_uploads(*host).completed, 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_EQ(count(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = '00000001'"), {code50()}),
              1);
}

} // namespace
} // namespace fp::test
