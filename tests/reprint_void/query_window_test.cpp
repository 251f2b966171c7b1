// The invoice register window: filters typed as a clerk types them, the list
// and its totals, a row opened in the reprint window, the summary, export and
// print of what is shown, and the rights that allow them.
#include "reprint_void/w_fp_invoice_query.h"

#include "services/remote_text.h"
#include "tests/reprint_void/lookup_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace fp::test {
namespace {

class QueryWindowTest : public LookupTest {
public:
    void SetUp() override {
        LookupTest::SetUp();
        IssuedInvoice normal; // 500.50 on 9 December
        normal.fphm = QStringLiteral("00000007");
        issued(normal);
        IssuedInvoice red = normal;
        red.fphm = QStringLiteral("00000008");
        red.kprq = QDateTime(QDate(2026, 12, 10), QTime(8, 0));
        red.lines = {{QStringLiteral("餐饮服务"), QStringLiteral("-120.00")}};
        issued(red);
        EXPECT_TRUE(db->tx().exec(
            QStringLiteral("UPDATE ptfp_fpk SET extprop2 = ?, extprop1 = '00000007' WHERE fphm = '00000008'"),
            {code50()}));
        IssuedInvoice voided = normal;
        voided.fphm = QStringLiteral("00000009");
        voided.fpzt = QStringLiteral("2");
        voided.fkfmc = QStringLiteral("青岛海岸酒店");
        issued(voided, QStringLiteral("2"));
        IssuedInvoice november = normal;
        november.fphm = QStringLiteral("00000006");
        november.kprq = QDateTime(QDate(2026, 11, 20), QTime(8, 0));
        issued(november);
        EXPECT_TRUE(db->tx().commit());
    }
    void TearDown() override {
        query.reset();
        LookupTest::TearDown();
    }
    w_fp_invoice_query& openQuery() {
        query = std::make_unique<w_fp_invoice_query>(*host);
        EXPECT_TRUE(query->open(OpenParams{w_fp_invoice_query::kFunctionId, QString()}));
        return *query;
    }
    void setRight(const QString& code) {
        ASSERT_TRUE(
            db->tx().exec(QStringLiteral("UPDATE b_user_right SET right_code = ? WHERE funcid = '04'"), {code}));
        ASSERT_TRUE(db->tx().commit());
    }
    QStringList listedNumbers() const {
        QStringList l;
        for (int r = 1; r <= query->lv_list.rowCount(); ++r) l << query->lv_list.cell(r, 1).right(1);
        return l;
    }

    std::unique_ptr<w_fp_invoice_query> query;
};

TEST_F(QueryWindowTest, TheMonthIsListedWithTotalsAndARowOpensInTheReprintWindow) {
    w_fp_invoice_query& w = openQuery();
    EXPECT_EQ(w.sle_month.text(), QStringLiteral("2026-12")); // the server's month
    EXPECT_EQ(w.focusedName(), QStringLiteral("sle_month"));
    // Enter in the month runs the query.
    w.sle_month.onKeyDown(keys::Enter);
    EXPECT_EQ(w.shown(), w_fp_invoice_query::Shown::List);
    EXPECT_EQ(listedNumbers(), (QStringList{"7", "8", "9"}));
    EXPECT_EQ(w.lv_list.rowColour(1), 0);
    EXPECT_EQ(w.lv_list.rowColour(2), kRgbRed);
    EXPECT_NE(w.lv_list.rowColour(3), 0);
    EXPECT_EQ(w.st_totals.text(), QStringLiteral("共 3 份：有效 2 份，作废 1 份，空白作废 0 份；正数发票金额 500.50，"
                                                 "红字发票金额 -120.00，净额 380.50"));
    EXPECT_EQ(w.focusedName(), QStringLiteral("lv_list"));

    // A heading click sorts, twice the other way; the current row stays its invoice.
    w.lv_list.setCurrentRow(1);
    w.lv_list.sortBy(6);
    EXPECT_EQ(listedNumbers(), (QStringList{"8", "7", "9"}));
    w.lv_list.sortBy(6);
    EXPECT_EQ(listedNumbers(), (QStringList{"7", "9", "8"}));
    EXPECT_EQ(w.lv_list.cell(w.lv_list.currentRow(), 1), QStringLiteral("00000007"));

    // Filters: the status and the payer's part.
    ASSERT_TRUE(w_fp_invoice_query::chooseId(w.ddlb_fpzt, QStringLiteral("2")));
    EXPECT_EQ(w.raise(QStringLiteral("ue_query")), 1);
    EXPECT_EQ(listedNumbers(), QStringList{"9"});
    ASSERT_TRUE(w_fp_invoice_query::chooseId(w.ddlb_fpzt, QString()));
    w.sle_payer.setText(QStringLiteral("海岸"));
    EXPECT_EQ(w.raise(QStringLiteral("ue_query")), 1);
    EXPECT_EQ(listedNumbers(), QStringList{"9"});

    // Enter on the row: the reprint window shows it, with its own checks.
    host->setInvoiceOpener([this](const QString& code, const QString& number) {
        openReprint();
        return reprint->lookUp(code, number) == 1;
    });
    w.lv_list.activate();
    ASSERT_TRUE(reprint);
    EXPECT_EQ(reprint->is_fphm, QStringLiteral("00000009"));
    EXPECT_TRUE(reprint->dw_fp.visible);
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join(QLatin1Char('\n')).toStdString();
}

TEST_F(QueryWindowTest, BadFiltersAreSaidAndChangeNothing) {
    w_fp_invoice_query& w = openQuery();
    ASSERT_EQ(w.raise(QStringLiteral("ue_query")), 1);
    const QStringList before = listedNumbers();
    struct Case {
        const char* name;
        std::function<void(w_fp_invoice_query&)> set;
        QString message;
        const char* focus;
    };
    const Case cases[] = {
        {"an impossible month", [](auto& q) { q.sle_month.setText(QStringLiteral("2026-13")); },
         QStringLiteral("月份“2026-13”无效，应为“年-月”，如 2026-12。"), "sle_month"},
        {"no month and no range", [](auto& q) { q.sle_month.setText(QString()); },
         QStringLiteral("请输入月份或开票日期范围！"), "sle_month"},
        {"an impossible day",
         [](auto& q) {
             q.sle_from.setText(QStringLiteral("2026-02-30"));
             q.sle_to.setText(QStringLiteral("2026-03-01"));
         },
         QStringLiteral("开始日期无效，请按“年-月-日”输入，如 2026-12-01。"), "sle_from"},
        {"a range backwards",
         [](auto& q) {
             q.sle_from.setText(QStringLiteral("2026-12-10"));
             q.sle_to.setText(QStringLiteral("2026-12-01"));
         },
         QStringLiteral("开始日期不能晚于结束日期！"), "sle_from"},
        {"a number with a letter", [](auto& q) { q.sle_fphm_to.setText(QStringLiteral("12a")); },
         notInvoiceNumberMessage(QStringLiteral("发票号码")), "sle_fphm_to"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.sle_month.setText(QStringLiteral("2026-12"));
        for (Edit* e : {&w.sle_from, &w.sle_to, &w.sle_fphm_from, &w.sle_fphm_to}) e->setText(QString());
        c.set(w);
        dialogs.clear();
        EXPECT_EQ(w.raise(QStringLiteral("ue_query")), 0);
        EXPECT_EQ(dialogs.messages(), QStringList{c.message});
        EXPECT_EQ(w.focusedName(), QString::fromLatin1(c.focus));
        EXPECT_EQ(listedNumbers(), before);
    }
    // A range replaces the month; a short number is padded.
    w.sle_month.setText(QString());
    w.sle_from.setText(QStringLiteral("2026-11-01"));
    w.sle_to.setText(QStringLiteral("20261209"));
    w.sle_fphm_to.setText(QStringLiteral("7"));
    EXPECT_EQ(w.raise(QStringLiteral("ue_query")), 1);
    EXPECT_EQ(listedNumbers(), (QStringList{"6", "7"}));
}

TEST_F(QueryWindowTest, ExportAndAuditNeedTheFullRightViewingAnyOther) {
    QTemporaryDir dir;
    const QString file = QDir(dir.path()).filePath(QStringLiteral("清单.csv"));
    struct Case {
        const char* right;
        long query;
        long exported;
        QString message;
    };
    const Case cases[] = {
        {"00", 0, 0, QStringLiteral("您没有查询发票的权限！")},
        {"01", 1, 0, QStringLiteral("您没有导出发票的权限！")},
        {"02", 1, 1, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.right);
        setRight(QString::fromLatin1(c.right));
        w_fp_invoice_query& w = openQuery();
        EXPECT_EQ(w.uo_toolbar.isEnabled(w_fp_invoice_query::kExport), c.exported == 1);
        EXPECT_EQ(w.uo_toolbar.isEnabled(w_fp_invoice_query::kAudit), c.exported == 1);
        EXPECT_EQ(w.uo_toolbar.isEnabled(w_fp_invoice_query::kQuery), c.query == 1);
        dialogs.clear();
        EXPECT_EQ(w.raise(QStringLiteral("ue_query")), c.query);
        if (c.exported) dialogs.exportTo(file, QStringLiteral("csv"));
        EXPECT_EQ(w.raise(QStringLiteral("ue_export")), c.exported);
        if (!c.message.isEmpty()) {
            EXPECT_EQ(dialogs.messages().value(0), c.message);
        }
        EXPECT_EQ(QFile::exists(file), c.exported == 1);
    }
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(csv.contains(QStringLiteral("\"00000008\"")) || csv.contains(QStringLiteral(",00000008,")))
        << csv.toStdString();
    EXPECT_TRUE(csv.contains(QStringLiteral("-120.00")));

    // A cancelled choice writes nothing; a file that cannot be written is said.
    dialogs.exportTo(QString(), QStringLiteral("csv"));
    EXPECT_EQ(query->raise(QStringLiteral("ue_export")), 0);
    const QString nowhere = QDir(dir.path()).filePath(QStringLiteral("无此目录/清单.xlsx"));
    dialogs.exportTo(nowhere, QStringLiteral("xlsx"));
    dialogs.clear();
    EXPECT_EQ(query->raise(QStringLiteral("ue_export")), 0);
    EXPECT_TRUE(dialogs.lastMessage().startsWith(QStringLiteral("导出文件写入失败：")))
        << dialogs.lastMessage().toStdString();
    EXPECT_FALSE(QFile::exists(nowhere));
}

TEST_F(QueryWindowTest, TheSummaryIsShownAndWhatIsShownPrints) {
    w_fp_invoice_query& w = openQuery();
    EXPECT_EQ(w.raise(QStringLiteral("ue_summary")), 1);
    EXPECT_EQ(w.shown(), w_fp_invoice_query::Shown::Summary);
    EXPECT_EQ(w.lv_list.cell(1, 0), code50());
    EXPECT_EQ(w.lv_list.cell(1, 3), QStringLiteral("00000007"));
    EXPECT_EQ(w.lv_list.cell(1, 4), QStringLiteral("00000009"));
    EXPECT_TRUE(w.st_totals.text().contains(QStringLiteral("净额 380.50"))) << w.st_totals.text().toStdString();
    EXPECT_EQ(w.raise(QStringLiteral("ue_print_list")), 1);
    ASSERT_EQ(dialogs.reports().size(), 1u);
    EXPECT_EQ(dialogs.reports()[0].title, QStringLiteral("月度汇总"));
    // A row of the summary opens nothing.
    host->setInvoiceOpener([](const QString&, const QString&) {
        ADD_FAILURE() << "a summary row opened an invoice";
        return false;
    });
    w.lv_list.activate();

    w.sle_month.setText(QStringLiteral("2026-1"));
    dialogs.clear();
    EXPECT_EQ(w.raise(QStringLiteral("ue_summary")), 0);
    EXPECT_EQ(dialogs.messages(), QStringList{QStringLiteral("月份“2026-1”无效，应为“年-月”，如 2026-12。")});
}

TEST_F(QueryWindowTest, TheAuditListsWhereTheServiceDisagreesAndMendsItAll) {
    IssuedInvoice voidedThere;
    voidedThere.fphm = QStringLiteral("00000011");
    voidedThere.kprq = QDateTime(QDate(2026, 12, 10), QTime(9, 0));
    storeIssuedInvoice(db->tx(), session, voidedThere);
    registerOnServer(server->service(), session, voidedThere, QStringLiteral("2"));
    IssuedInvoice missingHere = voidedThere;
    missingHere.fphm = QStringLiteral("00000010");
    registerOnServer(server->service(), session, missingHere, QStringLiteral("1"));
    ASSERT_TRUE(db->tx().commit());

    w_fp_invoice_query& w = openQuery();
    w.auditPacer = {};
    dialogs.yes(); // mend everything
    EXPECT_EQ(w.raise(QStringLiteral("ue_audit")), 1);
    EXPECT_EQ(w.shown(), w_fp_invoice_query::Shown::Audit);
    ASSERT_EQ(w.findings().size(), 2);
    EXPECT_EQ(w.findings()[0].kind, AuditKind::MissingHere);
    EXPECT_EQ(w.findings()[1].kind, AuditKind::VoidedThere);
    EXPECT_EQ(w.lv_list.cell(2, 5), QStringLiteral("已修正"));
    EXPECT_EQ(dialogs.lastMessage(), QStringLiteral("已修正 2 处，未修正 0 处。"));
    EXPECT_EQ(w.st_totals.text(), QStringLiteral("已核对 5 张（共 5 张），不一致 2 处"));
    EXPECT_EQ(dialogs.progressSteps().last(), QStringLiteral("5/5"));
    EXPECT_EQ(fpzt(QStringLiteral("00000011")), QStringLiteral("2"));
    EXPECT_EQ(fpzt(QStringLiteral("00000010")), QStringLiteral("1"));

    // A second audit finds nothing and asks nothing.
    dialogs.clear();
    EXPECT_EQ(w.raise(QStringLiteral("ue_audit")), 1);
    EXPECT_TRUE(w.findings().isEmpty());
    EXPECT_TRUE(dialogs.questions().isEmpty());
}

TEST_F(QueryWindowTest, ACancelledAuditKeepsWhatWasAnsweredAndChangesNothing) {
    registerOnServer(
        server->service(), session,
        [] {
            IssuedInvoice i;
            i.fphm = QStringLiteral("00000007");
            return i;
        }(),
        QStringLiteral("2"));
    w_fp_invoice_query& w = openQuery();
    w.auditPacer = {};
    const QString before = dbSnapshot();
    dialogs.cancelAt = 1;
    EXPECT_EQ(w.raise(QStringLiteral("ue_audit")), 0);
    ASSERT_EQ(w.findings().size(), 1);
    EXPECT_EQ(w.findings()[0].fphm, QStringLiteral("00000007"));
    EXPECT_TRUE(dialogs.questions().isEmpty());
    EXPECT_EQ(dialogs.messages().size(), 1);
    EXPECT_EQ(dbSnapshot(), before);
    // Enter on the finding mends it, after asking.
    dialogs.cancelAt = -1;
    dialogs.yes();
    w.lv_list.activate();
    EXPECT_EQ(fpzt(QStringLiteral("00000007")), QStringLiteral("2"));
    EXPECT_EQ(w.lv_list.cell(1, 5), QStringLiteral("已修正"));
}

} // namespace
} // namespace fp::test
