#include "services/pending_uploads.h"

#include "data_model/decimal.h"
#include "data_model/stock_use.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "services/remote_text.h"

#include <QCryptographicHash>

namespace fp {

namespace {

// 0-based positions of the digest's fields among the 33 header fields and
// the 17 line fields of a download (the column order of ptfp_fpk and ptfp_fpxmmx).
constexpr int kHeaderDigestFields[] = {0 /*fpdm*/,    1 /*fphm*/,  4 /*sxh*/, 6 /*fkfmc*/, 7 /*fkfzjlx*/,
                                       8 /*fkfzjhm*/, 15 /*hjje*/, 20 /*bz*/, 21 /*kpr*/};
constexpr int kLineDigestFields[] = {3 /*xmmc*/, 7 /*mj*/, 8 /*dj*/, 10 /*je*/};
constexpr int kFpzlbmField = 2;

QString canonical(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return QStringLiteral("");
    if (v.metaType() == QMetaType::fromType<Decimal>()) return v.value<Decimal>().toString(2);
    return v.toString();
}

QString numberText(const PendingUpload& r) {
    return QStringLiteral("发票代码") + r.fpdm + QStringLiteral("、号码") + r.fphm;
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

// How settling one record ended.
enum class Settled { Done, Gone, Failed };

// Takes the record inside a new transaction: deletes it, waiting while a save
// still in flight (in another client of the same user) holds it. Gone: that
// save ended and removed it itself, so there is nothing left to settle.
Settled claimRecord(Transaction& t, const PendingUpload& r) {
    if (!deletePendingUpload(t, r.fpdm, r.fphm)) return Settled::Failed;
    return t.sqlnrows == 1 ? Settled::Done : Settled::Gone;
}

// Ends a settling transaction: commits when the steps went through.
Settled finish(Transaction& t, Settled claimed, bool steps, QString& error) {
    if (claimed == Settled::Done && steps && t.commit()) return Settled::Done;
    if (claimed == Settled::Done && error.isEmpty()) error = t.sqlerrtext;
    (void)t.rollback(); // ends the transaction in any case; the failure is in `error`
    return claimed == Settled::Gone ? Settled::Gone : Settled::Failed;
}

// Stores the service's copy of a recorded invoice as the save would have:
// header and lines (replacing a local copy), the stock record's last-used
// number and the log row, and drops the record, in one transaction.
Settled completeLocally(Transaction& t, const PendingUpload& r, const DownloadedInvoice& invoice, QString& error) {
    TxGuard guard(t);
    const Settled claimed = claimRecord(t, r);
    if (claimed != Settled::Done) return finish(t, claimed, false, error);
    const QVariantList key{r.fpdm, r.fphm};
    QVariantList row;
    bool logged = false;
    if (t.selectInto(QStringLiteral("SELECT count(1) FROM bdcja_fpk_log WHERE fpdm = ? AND fphm = ? AND czlx = '1'"),
                     key, row) == 0)
        logged = row.value(0).toLongLong() > 0;
    const QString kind = r.fpzlbm.isEmpty() ? invoice.header.value(kFpzlbmField).toString() : r.fpzlbm;
    const bool stored =
        t.exec(QStringLiteral("DELETE FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"), key) &&
        storeDownloadedInvoice(t, invoice, error) && recordNumberUsed(t, r.fpdm, kind, r.fphm) &&
        (logged || t.exec(QStringLiteral("INSERT INTO bdcja_fpk_log ( fpdm, fphm, sxh, czlx, kpr, czrq ) "
                                         "VALUES ( ?, ?, ?, '1', ?, %1 )")
                              .arg(t.dialect().currentTime()),
                          {r.fpdm, r.fphm, r.sxh, r.username}));
    return finish(t, claimed, stored, error);
}

// Drops a record, marking its number used when the service holds it.
Settled dropRecord(Transaction& t, const PendingUpload& r, bool numberUsed, QString& error) {
    TxGuard guard(t);
    const Settled claimed = claimRecord(t, r);
    if (claimed != Settled::Done) return finish(t, claimed, false, error);
    return finish(t, claimed, !numberUsed || recordNumberUsed(t, r.fpdm, r.fpzlbm, r.fphm), error);
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

bool recordPendingUpload(Transaction& t, const PendingUpload& r, QString* error) {
    TxGuard guard(t);
    const bool done =
        deletePendingUpload(t, r.fpdm, r.fphm) &&
        t.exec(QStringLiteral("INSERT INTO fp_pending_upload ( fpdm, fphm, fpzlbm, sxh, userid, username, kpr, "
                              "digest, bcrq ) VALUES ( ?, ?, ?, ?, ?, ?, ?, ?, %1 )")
                   .arg(t.dialect().currentTime()),
               {r.fpdm, r.fphm, r.fpzlbm, r.sxh, r.userid, r.username, r.kpr, r.digest}) &&
        t.commit();
    if (done) return true;
    if (error) *error = t.sqlerrtext;
    (void)t.rollback(); // the failure to report is in `error`
    return false;
}

bool deletePendingUpload(Transaction& t, const QString& fpdm, const QString& fphm) {
    return t.exec(QStringLiteral("DELETE FROM fp_pending_upload WHERE fpdm = ? AND fphm = ?"), {fpdm, fphm});
}

QList<PendingUpload> pendingUploadsOf(Transaction& t, const QString& sxh, const QString& userid) {
    QList<PendingUpload> out;
    for (const QVariantList& row : t.selectAll(
             QStringLiteral("SELECT fpdm, fphm, fpzlbm, sxh, userid, username, kpr, digest FROM fp_pending_upload "
                            "WHERE sxh = ? AND userid = ? ORDER BY bcrq, fpdm, fphm"),
             {sxh, userid}))
        out << PendingUpload{row.value(0).toString(), row.value(1).toString(), row.value(2).toString(),
                             row.value(3).toString(), row.value(4).toString(), row.value(5).toString(),
                             row.value(6).toString(), row.value(7).toString()};
    return out;
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

ReconcileResult gf_reconcile_pending_uploads(HostServices& host) {
    ReconcileResult result;
    Session& s = host.session();
    if (!s.sqlca) return result;
    Transaction& t = *s.sqlca;
    const QList<PendingUpload> records = pendingUploadsOf(t, s.gs_sysuserid, s.gs_userid);
    for (int i = 0; i < records.size(); ++i) {
        const PendingUpload& r = records.at(i);
        const ServerInvoice answer = askServerForInvoice(host, r.fpdm, r.fphm);
        if (answer.kind == ServerInvoice::Kind::Unreachable) {
            // One line for all of them; nothing else waits on it.
            result.kept += int(records.size()) - i;
            host.mess(QStringLiteral("有%1张发票的上传结果尚未确认，暂时无法向税务机关核对（%2），稍后将再次核对。")
                          .arg(records.size() - i)
                          .arg(answer.failure.section(QStringLiteral("\r\n"), 0, 0)));
            return result;
        }
        const bool ours =
            answer.kind == ServerInvoice::Kind::Present && contentDigest(contentOf(*answer.invoice)) == r.digest;
        // Issued there with other content (or for another account): the number
        // is used, but not by this save. Its data stays at the service; it can
        // be downloaded like any invoice issued elsewhere.
        const bool usedElsewhere = !ours && answer.kind != ServerInvoice::Kind::Absent;
        QString error;
        const Settled settled =
            ours ? completeLocally(t, r, *answer.invoice, error) : dropRecord(t, r, usedElsewhere, error);
        if (settled == Settled::Gone) continue; // its own save settled it meanwhile
        if (settled == Settled::Failed) {
            ++result.kept;
            host.mess(numberText(r) +
                      (ours ? QStringLiteral("：税务机关已收到该发票，但补存本地数据失败！\r\n")
                            : QStringLiteral("：清除未确认记录失败！\r\n")) +
                      error);
            continue;
        }
        if (ours) {
            ++result.completed;
            host.mess(numberText(r) +
                      QStringLiteral("：上次保存时未收到税务机关的应答，经核对税务机关已收到该发票，已补存本地数据！"));
            continue;
        }
        ++result.dropped;
        host.mess(numberText(r) + (usedElsewhere
                                       ? QStringLiteral("：税务机关的该号码发票与本机上次未完成的保存内容不同，"
                                                        "本机的保存未生效，该号码已被使用！")
                                       : QStringLiteral("：上次保存未完成，税务机关没有收到该发票，该号码仍可使用。")));
    }
    return result;
}

} // namespace fp
