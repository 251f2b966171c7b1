#include "services/pending_uploads.h"

#include "data_model/decimal.h"
#include "data_model/schema.h"
#include "data_model/stock_use.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "services/journal_store.h"
#include "services/remote_text.h"

#include <QCryptographicHash>
#include <QUuid>

namespace fp {

namespace {

// 0-based positions of the digest's fields among the 33 header fields and
// the 17 line fields of a download (the column order of ptfp_fpk and ptfp_fpxmmx).
constexpr int kHeaderDigestFields[] = {0 /*fpdm*/,    1 /*fphm*/,  4 /*sxh*/, 6 /*fkfmc*/, 7 /*fkfzjlx*/,
                                       8 /*fkfzjhm*/, 15 /*hjje*/, 20 /*bz*/, 21 /*kpr*/};
constexpr int kLineDigestFields[] = {3 /*xmmc*/, 7 /*mj*/, 8 /*dj*/, 10 /*je*/};
constexpr int kFpzlbmField = 2;
constexpr int kDrcsField = 24;

QString canonical(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return QStringLiteral("");
    if (v.metaType() == QMetaType::fromType<Decimal>()) return v.value<Decimal>().toString(2);
    return v.toString();
}

// The reply's first field without taking it from the body.
QString statusOf(const QString& body) {
    QString rest = body;
    return reply_next_field(rest);
}

// The owner account a download's header names (empty when it has none).
QString ownerOf(const QString& body) {
    QString rest = body;
    reply_next_field(rest);
    return f_split_str(rest, kSepHeader).val1.value(4);
}

const QString kJournalColumns =
    QStringLiteral("fpdm, fphm, fpzlbm, sxh, userid, username, kpr, digest, czlx, dycs, bz, srvrq, token");

QString opCode(JournalOp op) {
    switch (op) {
    case JournalOp::Upload: return QStringLiteral("1");
    case JournalOp::Print: return QStringLiteral("2");
    case JournalOp::Void: return QStringLiteral("3");
    case JournalOp::BlankVoid: return QStringLiteral("4");
    }
    return QStringLiteral("1");
}

// A record as kJournalColumns reads it; an empty czlx (a record written before
// the journal took other requests) is an upload.
PendingRequest fromRow(Transaction& t, const QVariantList& row) {
    PendingRequest r{row.value(0).toString(), row.value(1).toString(), row.value(2).toString(),
                     row.value(3).toString(), row.value(4).toString(), row.value(5).toString(),
                     row.value(6).toString(), row.value(7).toString()};
    const QString op = row.value(8).toString();
    r.op = op == QLatin1String("2")   ? JournalOp::Print
           : op == QLatin1String("3") ? JournalOp::Void
           : op == QLatin1String("4") ? JournalOp::BlankVoid
                                      : JournalOp::Upload;
    r.dycs = row.value(9).toLongLong();
    r.bz = row.value(10).toString();
    r.srvrq = t.dateTimeAt(row.value(11));
    r.token = row.value(12).toString();
    return r;
}

bool isEstateKind(const QString& kind) { return kind == QLatin1String("20") || kind == QLatin1String("40"); }

// A row of the estate tables from the same fields of a download, taken by
// column name (the download carries the columns of the integrated tables).
QVariantList estateValues(const QString& table, const QString& downloadTable, const QVariantList& values,
                          QStringList& columns) {
    const QStringList from = findTable(downloadTable)->columnNames();
    QVariantList out;
    columns.clear();
    for (const ColumnDef& c : findTable(table)->columns) {
        if (c.type == ColType::Identity) continue;
        columns << c.name;
        const int i = from.indexOf(c.name);
        out << (i >= 0 ? values.value(i) : QVariant());
    }
    return out;
}

QString insertSql(const QString& table, const QStringList& columns) {
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i) marks << QStringLiteral("?");
    return QStringLiteral("INSERT INTO %1 ( %2 ) VALUES ( %3 )")
        .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
}

// A real-estate or building invoice goes where its save puts it: bdcja_fpk
// and bdcja_fpxmmx, its lines in the order of the reply.
bool storeEstateInvoice(Transaction& t, const DownloadedInvoice& invoice, QString& error) {
    const QVariantList key{invoice.header.value(0), invoice.header.value(1)};
    QStringList columns;
    bool done = t.exec(QStringLiteral("DELETE FROM bdcja_fpxmmx WHERE fpdm = ? AND fphm = ?"), key);
    const QVariantList header =
        estateValues(QStringLiteral("bdcja_fpk"), QStringLiteral("ptfp_fpk"), invoice.header, columns);
    done = done && t.exec(insertSql(QStringLiteral("bdcja_fpk"), columns), header);
    for (const QVariantList& line : invoice.lines) {
        const QVariantList values =
            estateValues(QStringLiteral("bdcja_fpxmmx"), QStringLiteral("ptfp_fpxmmx"), line, columns);
        done = done && t.exec(insertSql(QStringLiteral("bdcja_fpxmmx"), columns), values);
    }
    if (!done) error = t.sqlerrtext;
    return done;
}

// Whether the number has a local invoice row; nothing on a database error.
std::optional<bool> hasLocalInvoice(Transaction& t, const PendingRequest& r) {
    QVariantList row;
    if (t.selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"), {r.fpdm, r.fphm},
                     row) == -1)
        return std::nullopt;
    return row.value(0).toLongLong() > 0;
}

bool hasLogRow(Transaction& t, const PendingRequest& r, const char* czlx) {
    QVariantList row;
    return t.selectInto(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = ? AND czlx = ?"),
                        {r.fpdm, r.fphm, QLatin1String(czlx)}, row) == 0 &&
           row.value(0).toLongLong() > 0;
}

// The service's copy of a recorded upload, stored as the save would have:
// header and lines in the tables of its kind (replacing a local copy), the
// stock record's last-used number and the log row.
bool completeUpload(Transaction& t, const PendingRequest& r, const DownloadedInvoice& invoice, QString& error) {
    const QVariantList key{r.fpdm, r.fphm};
    const bool logged = hasLogRow(t, r, "1");
    const QString kind = r.fpzlbm.isEmpty() ? invoice.header.value(kFpzlbmField).toString() : r.fpzlbm;
    const bool stored = isEstateKind(kind)
                            ? t.exec(QStringLiteral("DELETE FROM bdcja_fpk WHERE fpdm = ? AND fphm = ?"), key) &&
                                  storeEstateInvoice(t, invoice, error)
                            : t.exec(QStringLiteral("DELETE FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"), key) &&
                                  storeDownloadedInvoice(t, invoice, error);
    return stored && recordNumberUsed(t, r.fpdm, kind, r.fphm) &&
           (logged || insertIssueLog(t, r.fpdm, r.fphm, r.sxh, r.username));
}

// A void the service holds: the local status and the log row. An invoice
// without a local copy gets the service's, which carries the status.
bool completeVoid(Transaction& t, const PendingRequest& r, const DownloadedInvoice& invoice, QString& error) {
    const std::optional<bool> local = hasLocalInvoice(t, r);
    if (!local) return false;
    const bool stored =
        *local ? t.exec(QStringLiteral("UPDATE ptfp_fpk SET fpzt = '2' WHERE fpdm = ? AND fphm = ? AND fpzt = '1'"),
                        {r.fpdm, r.fphm})
               : storeDownloadedInvoice(t, invoice, error);
    return stored && (hasLogRow(t, r, "3") || insertVoidLog(t, r.fpdm, r.fphm, r.sxh, r.kpr));
}

// A blank void the service holds: the blank row, the stock record's
// last-used number and the log row, as the void window writes them.
bool completeBlankVoid(Transaction& t, const Session& s, const PendingRequest& r) {
    const std::optional<bool> local = hasLocalInvoice(t, r);
    if (!local) return false;
    const BlankInvoice blank = blankInvoiceOf(r);
    return (*local || insertBlankInvoice(t, s, blank)) && markBlankNumberUsed(t, blank) &&
           (hasLogRow(t, r, "3") || insertVoidLog(t, r.fpdm, r.fphm, r.sxh, r.kpr));
}

// A print the service counted: its count and the log row.
bool completePrint(Transaction& t, const PendingRequest& r, qint64 count) {
    return t.exec(QStringLiteral("UPDATE ptfp_fpk SET drcs = ? WHERE fpdm = ? AND fphm = ?"),
                  {qlonglong(count), r.fpdm, r.fphm}) &&
           insertPrintLog(t, r.fpdm, r.fphm, r.sxh, r.kpr, r.bz);
}

qint64 localPrintCount(Transaction& t, const PendingRequest& r) {
    QVariantList row;
    if (t.selectInto(QStringLiteral("SELECT drcs FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"), {r.fpdm, r.fphm}, row) !=
        0)
        return 0;
    return row.value(0).toLongLong();
}

// What settling makes of a claimed record, given the service's answer.
struct Decision {
    bool complete = false;   // the service holds the change
    bool numberUsed = false; // an upload whose number holds other content there
    qint64 printCount = 0;   // a print report: the service's count
};

Decision decide(Transaction& t, const PendingRequest& r, const ServerInvoice& answer) {
    Decision d;
    const bool present = answer.kind == ServerInvoice::Kind::Present;
    switch (r.op) {
    case JournalOp::Upload:
        d.complete = present && contentDigest(contentOf(*answer.invoice)) == r.digest;
        // Issued there with other content (or for another account): the
        // number is used, but not by this save. Its data stays at the service;
        // it can be downloaded like any invoice issued elsewhere.
        d.numberUsed = !d.complete && answer.kind != ServerInvoice::Kind::Absent;
        break;
    case JournalOp::Void: d.complete = present && answer.invoice->status == QLatin1String("2"); break;
    case JournalOp::BlankVoid: d.complete = present && answer.invoice->status == QLatin1String("3"); break;
    case JournalOp::Print:
        if (present) {
            d.printCount = answer.invoice->header.value(kDrcsField).toLongLong();
            d.complete = d.printCount > localPrintCount(t, r);
        }
        break;
    }
    return d;
}

QString completedText(JournalOp op) {
    switch (op) {
    case JournalOp::Upload:
        return QStringLiteral("：上次保存时未收到税务机关的应答，经核对税务机关已收到该发票，已补存本地数据！");
    case JournalOp::Void:
        return QStringLiteral("：上次作废时未收到税务机关的应答，经核对税务机关已作废该发票，已补存本地数据！");
    case JournalOp::BlankVoid:
        return QStringLiteral(
            "：上次空白发票作废时未收到税务机关的应答，经核对税务机关已作废该空白发票，已补存本地数据！");
    case JournalOp::Print:
        return QStringLiteral("：上次打印时未收到税务机关的应答，经核对税务机关已记录该次打印，已补存本地打印次数！");
    }
    return QString();
}

QString droppedText(JournalOp op, bool numberUsed) {
    switch (op) {
    case JournalOp::Upload:
        return numberUsed ? QStringLiteral("：税务机关的该号码发票与本机上次未完成的保存内容不同，"
                                           "本机的保存未生效，该号码已被使用！")
                          : QStringLiteral("：上次保存未完成，税务机关没有收到该发票，该号码仍可使用。");
    case JournalOp::Void: return QStringLiteral("：上次作废未完成，税务机关没有作废该发票。");
    case JournalOp::BlankVoid: return QStringLiteral("：上次空白发票作废未完成，税务机关没有作废该号码。");
    case JournalOp::Print: return QStringLiteral("：上次打印的报告未完成，税务机关没有记录该次打印。");
    }
    return QString();
}

Settlement failed(Transaction& t, const QString& text) {
    (void)t.rollback(); // the record stays; the failure is in the message
    return Settlement{Settlement::Outcome::Failed, text, QString()};
}

} // namespace

InvoiceContent contentOf(const DownloadedInvoice& invoice) {
    InvoiceContent c;
    for (int i : kHeaderDigestFields) c.header << canonical(invoice.header.value(i));
    for (const QVariantList& line : invoice.lines) {
        QStringList l;
        for (int i : kLineDigestFields) l << canonical(line.value(i));
        c.lines << l;
    }
    return c;
}

QString contentDigest(const InvoiceContent& content) {
    QString text;
    for (const QString& f : content.header) text += f + QChar(0x1f);
    for (const QStringList& line : content.lines) {
        text += QChar(0x1e);
        for (const QString& f : line) text += f + QChar(0x1f);
    }
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

BlankInvoice blankInvoiceOf(const PendingRequest& r) {
    return BlankInvoice{r.fpdm, r.fphm, r.fpzlbm, r.sxh, r.userid, r.srvrq};
}

JournalWrite recordPendingRequest(Transaction& t, PendingRequest& r, QString* error) {
    TxGuard guard(t);
    r.token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const bool done =
        t.exec(QStringLiteral("INSERT INTO fp_pending_upload ( %1, bcrq ) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                              "?, %2 )")
                   .arg(kJournalColumns, t.dialect().currentTime()),
               {r.fpdm, r.fphm, r.fpzlbm, r.sxh, r.userid, r.username, r.kpr, r.digest, opCode(r.op), qlonglong(r.dycs),
                r.bz, r.srvrq, r.token}) &&
        t.commit();
    if (done) return JournalWrite::Written;
    const bool taken = t.lastErrorWasDuplicateKey();
    if (error) *error = t.sqlerrtext;
    (void)t.rollback(); // the failure to report is in `error`
    return taken ? JournalWrite::Taken : JournalWrite::Failed;
}

bool takePendingRequest(Transaction& t, const PendingRequest& r) {
    return t.exec(QStringLiteral("DELETE FROM fp_pending_upload WHERE fpdm = ? AND fphm = ? AND token = ?"),
                  {r.fpdm, r.fphm, r.token}) &&
           t.sqlnrows == 1;
}

void dropPendingRequest(Transaction& t, const PendingRequest& r) {
    TxGuard guard(t);
    if (!t.exec(QStringLiteral("DELETE FROM fp_pending_upload WHERE fpdm = ? AND fphm = ? AND token = ?"),
                {r.fpdm, r.fphm, r.token}) ||
        !t.commit())
        (void)t.rollback(); // the next settling drops what is left
}

std::optional<PendingRequest> pendingRequestOf(Transaction& t, const QString& fpdm, const QString& fphm) {
    const QList<QVariantList> rows =
        t.selectAll(QStringLiteral("SELECT %1 FROM fp_pending_upload WHERE fpdm = ? AND fphm = ?").arg(kJournalColumns),
                    {fpdm, fphm});
    if (rows.isEmpty()) return std::nullopt;
    return fromRow(t, rows.first());
}

QList<PendingRequest> pendingRequestsOf(Transaction& t, const QString& sxh, const QString& userid) {
    QList<PendingRequest> out;
    for (const QVariantList& row :
         t.selectAll(QStringLiteral("SELECT %1 FROM fp_pending_upload WHERE sxh = ? AND userid = ? "
                                    "ORDER BY bcrq, fpdm, fphm")
                         .arg(kJournalColumns),
                     {sxh, userid}))
        out << fromRow(t, row);
    return out;
}

QString pendingRecordRefusal() {
    return QStringLiteral("该发票号码上次的操作尚未得到税务机关确认，请先执行“核对未确认发票”！");
}

ServerInvoice askServerForInvoice(HostServices& host, const QString& fpdm, const QString& fphm) {
    ServerInvoice answer;
    QString reply;
    if (!host.sendRemoteMsgQuietly(QString(kRemoteEndpoint), req_download(fpdm, fphm), kTimeoutStatus, reply)) {
        answer.failure = host.lastFailureText();
        return answer;
    }
    const QString body = reply_body(reply);
    const QString status = statusOf(body);
    if (status != QLatin1String("1") && status != QLatin1String("2") && status != QLatin1String("3")) {
        answer.kind = ServerInvoice::Kind::Absent;
        return answer;
    }
    const QString owner = host.session().gs_sysuserid;
    QString refused;
    answer.invoice = parseDownloadReply(body, fpdm, fphm, owner, &refused);
    if (answer.invoice) {
        answer.kind = ServerInvoice::Kind::Present;
    } else if (!ownerOf(body).isEmpty() && ownerOf(body) != owner) {
        answer.kind = ServerInvoice::Kind::Foreign;
    } else {
        answer.failure = refused;
    }
    return answer;
}

Settlement settlePendingRequest(HostServices& host, const QString& fpdm, const QString& fphm, bool keepUnlessDone) {
    Session& s = host.session();
    if (!s.sqlca) return Settlement{};
    Transaction& t = *s.sqlca;
    TxGuard guard(t);
    const QString number = QStringLiteral("发票代码") + fpdm + QStringLiteral("、号码") + fphm;
    // The claim: waits while the command that wrote the record is running.
    const QList<QVariantList> rows =
        t.lockRows(QStringLiteral("SELECT %1 FROM fp_pending_upload WHERE fpdm = ? AND fphm = ?").arg(kJournalColumns),
                   {fpdm, fphm});
    if (t.sqlcode == -1)
        return failed(t, number + (t.lastErrorWasLockTimeout()
                                       ? QStringLiteral("：该号码的操作仍在进行中，暂不核对，稍后将再次核对。")
                                       : QStringLiteral("：读取未确认记录失败！\r\n") + t.sqlerrtext));
    if (rows.isEmpty()) {
        (void)t.rollback(); // nothing was changed
        return Settlement{Settlement::Outcome::Gone, QString(), QString()};
    }
    const PendingRequest r = fromRow(t, rows.first());
    const ServerInvoice answer = askServerForInvoice(host, fpdm, fphm);
    if (answer.kind == ServerInvoice::Kind::Unreachable) {
        (void)t.rollback(); // the record stays for later
        return Settlement{Settlement::Outcome::Unreachable, QString(), answer.failure};
    }
    const Decision d = decide(t, r, answer);
    if (keepUnlessDone && !d.complete) {
        (void)t.rollback(); // the record stays for later
        return Settlement{Settlement::Outcome::Kept, QString(), QString()};
    }
    QString error;
    bool done = true;
    if (d.complete) {
        switch (r.op) {
        case JournalOp::Upload: done = completeUpload(t, r, *answer.invoice, error); break;
        case JournalOp::Void: done = completeVoid(t, r, *answer.invoice, error); break;
        case JournalOp::BlankVoid: done = completeBlankVoid(t, s, r); break;
        case JournalOp::Print: done = completePrint(t, r, d.printCount); break;
        }
    } else if (d.numberUsed) {
        done = recordNumberUsed(t, r.fpdm, r.fpzlbm, r.fphm);
    }
    done = done && t.exec(QStringLiteral("DELETE FROM fp_pending_upload WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
    if (!done || !t.commit()) {
        if (error.isEmpty()) error = t.sqlerrtext;
        if (!d.complete) return failed(t, number + QStringLiteral("：清除未确认记录失败！\r\n") + error);
        return failed(t, number +
                             (r.op == JournalOp::Upload
                                  ? QStringLiteral("：税务机关已收到该发票，但补存本地数据失败！\r\n")
                                  : QStringLiteral("：补存本地数据失败！\r\n")) +
                             error);
    }
    if (d.complete) return Settlement{Settlement::Outcome::Completed, number + completedText(r.op), QString()};
    return Settlement{Settlement::Outcome::Dropped, number + droppedText(r.op, d.numberUsed), QString()};
}

bool settleBeforeRequest(HostServices& host, const QString& fpdm, const QString& fphm) {
    const Settlement settled = settlePendingRequest(host, fpdm, fphm);
    switch (settled.outcome) {
    case Settlement::Outcome::Gone: return true;
    case Settlement::Outcome::Completed:
    case Settlement::Outcome::Dropped: host.mess(settled.message); return true;
    case Settlement::Outcome::Unreachable:
        host.mess(pendingRecordRefusal() + QStringLiteral("\r\n") + settled.failure);
        return false;
    case Settlement::Outcome::Failed:
    case Settlement::Outcome::Kept: break;
    }
    host.mess(settled.message.isEmpty() ? pendingRecordRefusal() : settled.message);
    return false;
}

JournalWrite writeAfterSettling(HostServices& host, PendingRequest& record, QString* error) {
    Transaction& t = *host.session().sqlca;
    const JournalWrite first = recordPendingRequest(t, record, error);
    if (first != JournalWrite::Taken) return first;
    if (!settleBeforeRequest(host, record.fpdm, record.fphm)) return JournalWrite::Blocked;
    return recordPendingRequest(t, record, error);
}

ReconcileResult gf_reconcile_pending_uploads(HostServices& host) {
    ReconcileResult result;
    Session& s = host.session();
    if (!s.sqlca) return result;
    const QList<PendingRequest> records = pendingRequestsOf(*s.sqlca, s.gs_sysuserid, s.gs_userid);
    for (int i = 0; i < records.size(); ++i) {
        const Settlement settled = settlePendingRequest(host, records.at(i).fpdm, records.at(i).fphm);
        switch (settled.outcome) {
        case Settlement::Outcome::Gone: continue; // its own command settled it meanwhile
        case Settlement::Outcome::Unreachable: {
            // One line for all of them; nothing else waits on it.
            const int left = int(records.size()) - i;
            bool uploadsOnly = true;
            for (int j = i; j < records.size(); ++j) uploadsOnly = uploadsOnly && records.at(j).op == JournalOp::Upload;
            result.kept += left;
            host.mess((uploadsOnly ? QStringLiteral("有%1张发票的上传结果尚未确认")
                                   : QStringLiteral("有%1项发票操作的结果尚未确认"))
                          .arg(left) +
                      QStringLiteral("，暂时无法向税务机关核对（%1），稍后将再次核对。")
                          .arg(settled.failure.section(QStringLiteral("\r\n"), 0, 0)));
            return result;
        }
        case Settlement::Outcome::Failed:
        case Settlement::Outcome::Kept: ++result.kept; break;
        case Settlement::Outcome::Completed: ++result.completed; break;
        case Settlement::Outcome::Dropped: ++result.dropped; break;
        }
        host.mess(settled.message);
    }
    return result;
}

} // namespace fp
