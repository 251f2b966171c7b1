// The print form's layout for paper, and the print: preview, count, log,
// report and the one transaction around them.
#include "services/invoice_print.h"

#include "data_model/data_store.h"
#include "host/judge_column.h"
#include "services/pending_uploads.h"
#include "tests/support/demo_session.h"
#include "tests/support/issued_invoice.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/statement_faults.h"
#include "tests/support/taxsim_fixture.h"
#include "tests/support/temp_db.h"

#include <gtest/gtest.h>

namespace fp::test {
namespace {

const QString kBz = QStringLiteral("bz");
const QString kKpr = QStringLiteral("kpr");

// ---- gf_fp_zhty_print_format ---------------------------------------------

class PrintFormatTest : public ::testing::Test {
protected:
    void SetUp() override { installFormHostFunctions(); }
    TempDb db{TempDb::Content::Schema};
    // A print form as retrieved: `lines` rows, issuer, remark and telephone in every row.
    std::unique_ptr<DataStore> form(int lines, const QString& remark = QString(),
                                    const QString& telephone = QStringLiteral("0532-88880000")) {
        auto f = makeStore(QStringLiteral("d_fp_integrated_print"), db.tx());
        for (int i = 1; i <= lines; ++i) {
            const int r = f->insertRow(0);
            EXPECT_TRUE(f->setItem(r, kKpr, QStringLiteral("张晓明")));
            EXPECT_TRUE(f->setItem(r, kBz, remark.isNull() ? QVariant() : QVariant(remark)));
            EXPECT_TRUE(f->setItem(r, QStringLiteral("skflxdh"), telephone));
            EXPECT_TRUE(f->setItem(r, QStringLiteral("ptfp_fpxmmx_xmmc"), QStringLiteral("项目%1").arg(i)));
        }
        return f;
    }
    static QStringList remarks(const DataStore& f) {
        QStringList l;
        for (int r = 1; r <= f.rowCount(); ++r) l << f.getString(r, kBz);
        return l;
    }
};

TEST_F(PrintFormatTest, PadsToFiveRowsWithTheIssuerAndLaysTheTelephoneDownTheRemarkColumn) {
    for (int lines : {1, 2, 5}) {
        SCOPED_TRACE(lines);
        auto f = form(lines, QStringLiteral("现金"), QStringLiteral("0532-88880000 转 8001 分机 (前台)"));
        gf_fp_zhty_print_format(f.get());
        ASSERT_EQ(f->rowCount(), 5);
        for (int r = 1; r <= 5; ++r) EXPECT_EQ(f->getString(r, kKpr), QStringLiteral("张晓明")) << r;
        for (int r = lines + 1; r <= 5; ++r) EXPECT_TRUE(f->isNull(r, QStringLiteral("ptfp_fpxmmx_xmmc"))) << r;
        EXPECT_EQ(remarks(*f),
                  (QStringList{QStringLiteral("现金"), QString(), QString(), QStringLiteral("  收款方电话:"),
                               QStringLiteral("  0532-88880000 转 800")}));
    }
}

TEST_F(PrintFormatTest, RemarkIsCutIntoThreePiecesByDisplayWidth) {
    const QString cjk40 = QString(QStringLiteral("一二三四五六七八九十")).repeated(4);
    struct Case {
        const char* name;
        QString remark;
        QStringList rows; // rows 1-3
    };
    const Case cases[] = {
        {"null", QString(), {QString(), QString(), QString()}},
        {"twenty narrow whole",
         QStringLiteral("abcdefghijklmnopqrst"),
         {QStringLiteral("abcdefghijklmnopqrst"), QString(), QString()}},
        {"ten wide whole", cjk40.left(10), {cjk40.left(10), QString(), QString()}},
        {"twenty-one narrow in one piece",
         QStringLiteral("abcdefghijklmnopqrstu"),
         {QStringLiteral("abcdefghijklmnopqrstu"), QString(), QString()}},
        {"wide text in pieces of ten, its end lost", cjk40, {cjk40.mid(0, 10), cjk40.mid(10, 10), cjk40.mid(20, 10)}},
        {"narrow first: eleven characters fit 21",
         QStringLiteral("A") + cjk40.left(12),
         {QStringLiteral("A") + cjk40.left(10), cjk40.mid(10, 2), QString()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = form(2, c.remark);
        gf_fp_zhty_print_format(f.get());
        EXPECT_EQ(remarks(*f).mid(0, 3), c.rows);
    }
}

TEST_F(PrintFormatTest, SevenLinesStaySevenWithEmptyRemarksBelowTheFifth) {
    auto f = form(7, QStringLiteral("备注"));
    gf_fp_zhty_print_format(f.get());
    ASSERT_EQ(f->rowCount(), 7);
    EXPECT_EQ(f->getString(7, QStringLiteral("ptfp_fpxmmx_xmmc")), QStringLiteral("项目7"));
    EXPECT_EQ(remarks(*f).mid(3),
              (QStringList{QStringLiteral("  收款方电话:"), QStringLiteral("  0532-88880000"), QString(), QString()}));
}

TEST_F(PrintFormatTest, NoFormOrNoRowsIsLeftAlone) {
    gf_fp_zhty_print_format(nullptr);
    auto f = form(0);
    gf_fp_zhty_print_format(f.get());
    EXPECT_EQ(f->rowCount(), 0);
}

TEST_F(PrintFormatTest, InvoiceWithoutLinesReadFromTheDatabaseIsPaddedToFiveRows) {
    Session s;
    setDemoSession(s);
    IssuedInvoice inv;
    inv.lines.clear();
    inv.bz = QStringLiteral("空白");
    storeIssuedInvoice(db.tx(), s, inv);
    auto f = makeStore(QStringLiteral("d_fp_integrated_print"), db.tx());
    ASSERT_EQ(f->retrieve({s.gs_sysuserid, inv.fpdm, inv.fphm}), 1);
    gf_fp_zhty_print_format(f.get());
    ASSERT_EQ(f->rowCount(), 5);
    for (int r = 1; r <= 5; ++r) EXPECT_EQ(f->getString(r, kKpr), inv.kpr);
    EXPECT_EQ(f->getString(5, kBz), QStringLiteral("  ") + s.gs_nsrlxdh);
}

// ---- printRemark -----------------------------------------------------------

TEST(PrintRemarkTest, CountAndPrinterMarks) {
    auto printed = [](const QString& printer, const QString& info) {
        s_printreturn r;
        r.sl_printcnt = 1;
        r.ss_printer = printer;
        r.ss_printer_info = info;
        return r;
    };
    struct Case {
        const char* name;
        long count;
        s_printreturn printed;
        QString remark;
    };
    const Case cases[] = {
        {"first print, no printer reported", 1, printed(QStringLiteral("0"), QStringLiteral("x")), QString()},
        {"null printer", 3, printed(QString(), QStringLiteral("x")), QStringLiteral("打印次数：3")},
        {"printer with information", 1, printed(QStringLiteral("HP"), QStringLiteral("A4")),
         QStringLiteral("|@|HP|A4|@|")},
        {"information beginning with a bar", 2, printed(QStringLiteral("HP"), QStringLiteral("|A4")),
         QStringLiteral("打印次数：2|@|HP|A4|@|")},
        {"no information", 1, printed(QStringLiteral("HP"), QString()), QStringLiteral("|@|HP||@|")},
        {"request characters escaped, separators neutralised", 1,
         printed(QStringLiteral("\\\\srv:9100"), QStringLiteral("a\r\nb,c|@|d{[r]}")),
         QStringLiteral("|@|\\\\srv{[:]}9100|a{[r]}{[n]}b，c|d｛[r]}|@|")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printRemark(c.count, c.printed), c.remark);
    }
}

TEST(PrintRemarkTest, LongPrinterInformationIsCutToFitTheLogColumn) {
    s_printreturn r;
    r.ss_printer = QStringLiteral("PDF");
    r.ss_printer_info = QString(300, QLatin1Char('x')) + QStringLiteral(".pdf");
    const QString remark = printRemark(12, r);
    EXPECT_EQ(remark.size(), 200);
    EXPECT_TRUE(remark.startsWith(QStringLiteral("打印次数：12|@|PDF|xxx")));
    EXPECT_TRUE(remark.endsWith(QStringLiteral("x|@|")));
    // An escape is never cut in half.
    r.ss_printer_info = QString(300, QLatin1Char(':'));
    const QString escaped = printRemark(1, r);
    EXPECT_LE(escaped.size(), 200);
    EXPECT_TRUE(escaped.endsWith(QStringLiteral("{[:]}|@|")));
}

// ---- gf_fp_zhty_print ------------------------------------------------------

class PrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        installFormHostFunctions();
        setDemoSession(session);
        session.gs_kprmc = QStringLiteral("张晓明");
        session.sqlca = &db.tx();
        host = std::make_unique<HostServices>(session, dialogs);
        host->setTransport(server.inProcessTransport());
        host->setTimeoutUnitMs(1);
        storeIssuedInvoice(db.tx(), session, invoice);
        registerOnServer(server.service(), session, invoice);
        form = makeStore(QStringLiteral("d_fp_integrated_print"), db.tx());
        ASSERT_EQ(form->retrieve({session.gs_sysuserid, invoice.fpdm, invoice.fphm}), 2);
        gf_fp_zhty_print_format(form.get());
    }

    long print(s_preview_parameter p = {}) {
        return gf_fp_zhty_print(*host, invoice.fpdm, invoice.fphm, form.get(), p);
    }
    QVariant drcs() {
        QVariantList row;
        EXPECT_NE(db.tx().selectInto(QStringLiteral("SELECT drcs FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                                     {invoice.fpdm, invoice.fphm}, row),
                  -1);
        return row.value(0);
    }
    QList<QVariantList> logRows() {
        return db.tx().selectAll(
            QStringLiteral("SELECT czlx, kpr, sxh, bz FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = ? "
                           "ORDER BY czrq"),
            {invoice.fpdm, invoice.fphm});
    }
    QString lastRequest() const { return host->exchanges().empty() ? QString() : host->exchanges().back().request; }

    TempDb db{TempDb::Content::DemoData};
    TaxsimServer server{true};
    Session session;
    ScriptedDialogs dialogs;
    std::unique_ptr<HostServices> host;
    IssuedInvoice invoice;
    std::unique_ptr<DataStore> form;
};

TEST_F(PrintTest, FirstPrintCountsLogsReportsAndCommits) {
    dialogs.printCopies(1);
    s_preview_parameter p;
    p.s_col_visible_dynamic = QStringLiteral("|fpzt|");
    ASSERT_EQ(print(p), 1) << dialogs.messages().join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages().isEmpty());

    ASSERT_EQ(dialogs.previews().size(), 1u);
    const s_preview_parameter& shown = dialogs.previews()[0];
    EXPECT_EQ(shown.dw_datawindow, form.get());
    EXPECT_EQ(shown.dw_datawindowname, QStringLiteral("d_fp_integrated_print"));
    EXPECT_EQ(shown.s_print_type, QStringLiteral("1"));
    EXPECT_EQ(shown.s_col_date_format, QStringLiteral("|kprq|"));
    EXPECT_TRUE(shown.b_col_visible_not_adjust);
    EXPECT_EQ(shown.s_col_visible_dynamic, QStringLiteral("|fpzt|"));

    EXPECT_EQ(drcs().toLongLong(), 1);
    const auto log = logRows();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0][0].toString(), QStringLiteral("2"));
    EXPECT_EQ(log[0][1].toString(), QStringLiteral("张晓明"));
    EXPECT_EQ(log[0][2].toString(), session.gs_sysuserid);
    EXPECT_EQ(log[0][3].toString(), QString());
    EXPECT_FALSE(db.tx().inTransaction());

    EXPECT_EQ(host->exchanges().back().timeout, 200);
    EXPECT_EQ(lastRequest(), QStringLiteral("proc_id:98179\r\nas_fpdm:237020000001\r\nas_fphm:00000007\r\nas_dycs:0\r\n"
                                            "as_kpr:张晓明\r\nas_bz: \r\n"));
    const auto reports = server.service().prints();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].dycs, QStringLiteral("0"));
}

TEST_F(PrintTest, SecondPrintCarriesTheNewCountAndThePrinter) {
    dialogs.printCopies(1);
    ASSERT_EQ(print(), 1);
    dialogs.printCopies(2, QStringLiteral("HP LaserJet"), QStringLiteral("|A4|"));
    ASSERT_EQ(print(), 3);
    EXPECT_EQ(drcs().toLongLong(), 3);
    const auto log = logRows();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[1][3].toString(), QStringLiteral("打印次数：3|@|HP LaserJet|A4||@|"));
    EXPECT_TRUE(lastRequest().contains(QStringLiteral("\r\nas_dycs:1\r\n")));
    EXPECT_TRUE(lastRequest().endsWith(QStringLiteral("\r\nas_bz:打印次数：3|@|HP LaserJet|A4||@|\r\n")));
}

TEST_F(PrintTest, NullCountCountsAsZeroAndTheCommittedCountIsOnTheServer) {
    ASSERT_FALSE(drcs().isValid() && !drcs().isNull());
    dialogs.printCopies(1);
    ASSERT_EQ(print(), 1);
    EXPECT_EQ(server.service().invoice(invoice.fpdm, invoice.fphm)->value(QStringLiteral("drcs")), QStringLiteral("1"));
}

TEST_F(PrintTest, PreviewClosedWithoutPrintingChangesNothing) {
    const QString before = snapshot(db.tx());
    dialogs.closePreview();
    EXPECT_EQ(print(), 0);
    dialogs.printCopies(0);
    EXPECT_EQ(print(), 0);
    EXPECT_EQ(snapshot(db.tx()), before);
    EXPECT_TRUE(host->exchanges().empty());
    EXPECT_TRUE(dialogs.messages().isEmpty());
}

TEST_F(PrintTest, BadArgumentsAreRefusedBeforeThePreview) {
    auto empty = makeStore(QStringLiteral("d_fp_integrated_print"), db.tx());
    struct Case {
        const char* name;
        std::function<long()> run;
        QStringList messages;
    };
    const QString bad = QStringLiteral("参数传入有误！");
    const Case cases[] = {
        {"no code", [&] { return gf_fp_zhty_print(*host, QString(), invoice.fphm, form.get(), {}); }, {bad}},
        {"no number", [&] { return gf_fp_zhty_print(*host, invoice.fpdm, QStringLiteral(""), form.get(), {}); }, {bad}},
        {"no form", [&] { return gf_fp_zhty_print(*host, invoice.fpdm, invoice.fphm, nullptr, {}); }, {bad}},
        {"form without rows",
         [&] { return gf_fp_zhty_print(*host, invoice.fpdm, invoice.fphm, empty.get(), {}); },
         {QStringLiteral("没有数据可打印f！")}},
        {"reserved text in the issuer",
         [&] {
             session.gs_kprmc = QStringLiteral("张|@|");
             const long r = print();
             session.gs_kprmc = QStringLiteral("张晓明");
             return r;
         },
         {QStringLiteral("开票人不能出现系统保留字符：“|@|”，请修改！"), QStringLiteral("不能进行打印！")}},
    };
    const QString before = snapshot(db.tx());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.clear();
        EXPECT_EQ(c.run(), -1);
        EXPECT_EQ(dialogs.messages(), c.messages);
        EXPECT_TRUE(dialogs.previews().empty());
    }
    EXPECT_EQ(snapshot(db.tx()), before);
}

TEST_F(PrintTest, EveryFailureAfterThePreviewLeavesTheDatabaseAsItWas) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        QString message; // empty: the host's own message of a failed exchange
    };
    const Case cases[] = {
        {"count update",
         [&] {
             fp::test::failNextMatching(db.tx(), QStringLiteral("UPDATE ptfp_fpk SET drcs"),
                                        QStringLiteral("disk full"));
         },
         QStringLiteral("发票打印次数保存失败1！\r\ndisk full")},
        {"log insert",
         [&] {
             fp::test::failNextMatching(db.tx(), QStringLiteral("INSERT INTO bdcja_fpk_log"),
                                        QStringLiteral("disk full"));
         },
         QStringLiteral("发票打印信息保存失败1！\r\ndisk full")},
        {"service refused",
         [&] {
             taxsim::Fault f;
             f.kind = taxsim::Fault::Kind::Refuse;
             f.text = QStringLiteral("打印信息不予接收");
             server.service().injectFault(f, 98179);
         },
         QString()},
        {"invoice gone (last: it stays gone)",
         [&] {
             EXPECT_TRUE(db.tx().exec(QStringLiteral("DELETE FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                                      {invoice.fpdm, invoice.fphm}));
             EXPECT_TRUE(db.tx().commit());
         },
         QStringLiteral("发票打印次数保存失败：指定发票未找到！")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.clear();
        c.arrange();
        const QString before = snapshot(db.tx());
        const size_t reportsBefore = server.service().prints().size();
        dialogs.printCopies(1, QStringLiteral("HP"), QStringLiteral("A4"));
        EXPECT_EQ(print(), -1);
        EXPECT_EQ(snapshot(db.tx()), before);
        EXPECT_FALSE(db.tx().inTransaction());
        ASSERT_FALSE(dialogs.messages().isEmpty());
        if (!c.message.isEmpty()) {
            EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        }
        if (std::string(c.name) == "service refused") {
            EXPECT_EQ(server.service().prints().size(), reportsBefore);
        }
    }
}

// Each sheet of the paper carries its own number, so an invoice with more
// lines than the paper's five rows (a downloaded one can have them) is refused
// before the preview: no paper used, nothing counted, logged or reported. Five
// lines still print.
TEST_F(PrintTest, AnInvoiceLongerThanOneSheetIsRefusedBeforeAnythingIsCounted) {
    const struct {
        int lines;
        long result;
    } cases[] = {{6, -1}, {11, -1}, {5, 1}};
    int number = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        IssuedInvoice longer;
        longer.fphm = QStringLiteral("000000%1").arg(number++);
        longer.lines.clear();
        for (int i = 1; i <= c.lines; ++i)
            longer.lines.emplace_back(QStringLiteral("项目%1").arg(i), QStringLiteral("10.00"));
        storeIssuedInvoice(db.tx(), session, longer);
        registerOnServer(server.service(), session, longer);
        auto f = makeStore(QStringLiteral("d_fp_integrated_print"), db.tx());
        ASSERT_EQ(f->retrieve({session.gs_sysuserid, longer.fpdm, longer.fphm}), c.lines);
        gf_fp_zhty_print_format(f.get());

        dialogs.clear();
        if (c.result > 0) dialogs.printCopies(1);
        const QString before = snapshot(db.tx());
        const size_t exchangesBefore = host->exchanges().size();
        const size_t reportsBefore = server.service().prints().size();
        EXPECT_EQ(gf_fp_zhty_print(*host, longer.fpdm, longer.fphm, f.get(), {}), c.result);
        if (c.result > 0) {
            EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(u'|').toStdString();
            EXPECT_EQ(server.service().prints().size(), reportsBefore + 1);
            continue;
        }
        EXPECT_EQ(dialogs.messages(),
                  QStringList{QStringLiteral("该发票有%1行项目，一张发票纸只能打印5行，没有打印！\r\n"
                                             "每张发票纸都印有自己的号码，不能接着打印到下一张上。"
                                             "请作废该发票，将项目分开重新开具，每张发票不超过5行。")
                                  .arg(c.lines)});
        EXPECT_TRUE(dialogs.previews().empty());
        EXPECT_EQ(snapshot(db.tx()), before);
        EXPECT_EQ(host->exchanges().size(), exchangesBefore);
        EXPECT_EQ(server.service().prints().size(), reportsBefore);
        EXPECT_EQ(server.service().invoice(longer.fpdm, longer.fphm)->value(QStringLiteral("drcs")),
                  QStringLiteral("0"));
    }
}

// The service counted the print but its answer never came (lost, or later
// than the time-out): the count is asked for at once and the print completed
// as after an acceptance.
TEST_F(PrintTest, AnAnswerLostAfterTheServiceCountedIsCompletedAtOnce) {
    const std::pair<const char*, taxsim::Fault::Kind> cases[] = {{"answer lost", taxsim::Fault::Kind::LostReply},
                                                                 {"time-out", taxsim::Fault::Kind::Delay}};
    long count = 0;
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        taxsim::Fault f;
        f.kind = kind;
        f.delayMs = 400; // the time-out value 200 is 200 ms here
        server.service().injectFault(f, 98179);
        dialogs.clear();
        dialogs.printCopies(1);
        EXPECT_EQ(print(), ++count) << dialogs.messages().join(u'|').toStdString();
        EXPECT_TRUE(dialogs.messages().isEmpty());
        EXPECT_EQ(drcs().toLongLong(), count);
        EXPECT_EQ(logRows().size(), count);
        EXPECT_EQ(server.service().prints().size(), size_t(count));
        EXPECT_TRUE(tableRows(db.tx(), QStringLiteral("fp_pending_upload")).isEmpty());
    }
}

// A print whose outcome is unknown keeps its record, and reconcile makes the
// local count the service's: the report never arrived -> nothing to complete;
// the service counted it but the commit failed -> the count and the log row.
TEST_F(PrintTest, AnUnconfirmedPrintKeepsItsRecordUntilReconcileSettlesIt) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        QString message; // the start of what the print says
        QString settled; // what reconcile says, after the number
        long countAfter; // the local count after reconcile
    };
    const Case cases[] = {
        {"connection dropped before the service",
         [&] {
             taxsim::Fault f;
             f.kind = taxsim::Fault::Kind::Drop;
             server.service().injectFault(f, 98179);
         },
         QStringLiteral("与税务服务器的连接意外中断"),
         QStringLiteral("：上次打印的报告未完成，税务机关没有记录该次打印。"), 0},
        {"commit failed after the service counted",
         [&] { failCommit(db.tx(), 1); }, // the record's commit goes through, the print's fails
         QStringLiteral("税务机关已记录本次打印，但本地打印次数保存失败！\r\ndisk full"),
         QStringLiteral("：上次打印时未收到税务机关的应答，经核对税务机关已记录该次打印，已补存本地打印次数！"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString before = snapshot(db.tx());
        dialogs.clear();
        c.arrange();
        dialogs.printCopies(1);
        EXPECT_EQ(print(), -1);
        ASSERT_EQ(dialogs.messages().size(), 1);
        EXPECT_TRUE(dialogs.messages()[0].startsWith(c.message)) << dialogs.messages()[0].toStdString();
        // Nothing of the print is stored but its record.
        QStringList after = snapshot(db.tx()).split(u'\n');
        const qsizetype records =
            after.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("fp_pending_upload|")); });
        EXPECT_EQ(records, 1);
        EXPECT_EQ(after.join(u'\n'), before);

        dialogs.clear();
        (void)gf_reconcile_pending_uploads(*host);
        EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("发票代码") + invoice.fpdm + QStringLiteral("、号码") +
                                                  invoice.fphm + c.settled});
        EXPECT_EQ(drcs().toLongLong(), c.countAfter);
        EXPECT_EQ(logRows().size(), c.countAfter);
        EXPECT_TRUE(tableRows(db.tx(), QStringLiteral("fp_pending_upload")).isEmpty());
    }
}

} // namespace
} // namespace fp::test
