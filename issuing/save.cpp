// ue_save: validates the invoice, writes header, lines, stock use and the log in
// one transaction, uploads it (procedure 11633) and commits only when the tax
// service accepted it.
#include "data_model/data_store.h"
#include "data_model/stock_use.h"
#include "data_model/transaction.h"
#include "host/judge_column.h"
#include "host/text_helpers.h"
#include "issuing/w_fp_invoicing.h"
#include "services/journal_store.h"
#include "services/pending_uploads.h"
#include "services/remote_text.h"

namespace fp {

// What one run of the save carries from step to step: the upload text built so
// far, and the lines as entered, to put back on screen when a failure follows
// the read-back of the lines inside the rolled-back transaction.
struct w_fp_invoicing::SaveRun {
    explicit SaveRun(Transaction& t) : sqlca(t), guard(t) {}
    Transaction& sqlca;
    TxGuard guard; // rolls back whatever a step leaves open
    QString label; // the item label of messages
    QString data;  // the upload's fields
    std::unique_ptr<DataStore> entered;
    bool readBack = false;
    int lineCount = 0;
    PendingRequest record;    // the journal's record of the upload (pending_uploads.h)
    bool pending = false;     // the record was written
    bool keepPending = false; // the upload may yet be stored: its record stays
    QString savedMessage = QStringLiteral("数据保存成功！");
};

namespace {

bool isPosition(int position, std::initializer_list<int> set) {
    for (int p : set)
        if (p == position) return true;
    return false;
}

} // namespace

// The value of a column as the upload writes it: at fixed positions two decimals
// ("0.00") or a 14-digit date-time ("yyyymmddhhmmss"); elsewhere its plain text.
QString w_fp_invoicing::uploadValue(DataStore& store, int row, int position, bool header) const {
    const QVariant v = store.getVariant(row, position);
    if (!v.isValid() || v.isNull()) return QString(QLatin1String(""));
    const bool twoDecimals =
        header ? isPosition(position, {16, 18, 19, 25}) : isPosition(position, {1, 8, 9, 11, 13, 14});
    const bool dateTime = header && isPosition(position, {23, 24});
    if (v.metaType() == QMetaType::fromType<Decimal>()) {
        const Decimal d = v.value<Decimal>();
        return twoDecimals ? d.toString(2) : d.toPlainString();
    }
    if (v.metaType().id() == QMetaType::LongLong || v.metaType().id() == QMetaType::Int) {
        return twoDecimals ? Decimal::fromInt(v.toLongLong()).toString(2) : QString::number(v.toLongLong());
    }
    if (v.metaType().id() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        return dateTime ? dt.toString(QStringLiteral("yyyyMMddHHmmss")) : dt.toString(canonicalDateTimeFormat());
    }
    return v.toString();
}

// A column's label for messages: the text of its heading object (column + "_t").
QString w_fp_invoicing::fieldLabel(DataStore& store, int position) const {
    const QString t = store.describe(store.columnName(position) + QStringLiteral("_t.text"));
    if (t == QLatin1String("!") || t == QLatin1String("?")) return QString(QLatin1String(""));
    return t;
}

long w_fp_invoicing::ue_save() {
    if (!requireInvoiceAndAccept()) return 0;
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    Transaction* sqlca = session().sqlca;
    if (!fp || !xm || !sqlca) return 0;

    if (!requireItemLines() || !requireChanges() || !requireFilledColumns() || !checkLineSigns() ||
        !requireNotReversedYet())
        return 0;
    settleTotals();

    SaveRun run(*sqlca);
    run.label = itemLabel();
    if (!appendHeaderUpload(run) || !confirmSave()) return 0;

    // From here on one transaction; every failure leaves through failSave.
    run.entered = makeStore(xm->name(), *sqlca);
    (void)xm->rowsCopy(1, xm->rowCount(), *run.entered, 0); // a store of the same definition takes every row
    if (!recordPendingSave(run) || !takePendingRecord(run) || !writeHeader(run) || !writeLines(run) ||
        !checkLineSerials(run) || !appendLinesUpload(run) || !markNumberUsed(run) || !logIssue(run) ||
        !uploadAndCommit(run))
        return 0;

    lockSavedInvoice();
    mess(run.savedMessage);
    moveToNextNumber();
    return 1;
}

bool w_fp_invoicing::requireItemLines() {
    if (dw_xm.store()->rowCount() >= 1) return true;
    mess(itemLabel() + QStringLiteral("必须录入！"));
    dw_xm.setFocus();
    return false;
}

// A red-letter invoice whose invoice another window reversed meanwhile.
bool w_fp_invoicing::requireNotReversedYet() {
    if (!cbx_ch.checked) return true;
    const DataStore* fp = dw_fp.store();
    return checkNotReversedYet(fp->getString(1, QStringLiteral("extprop2")),
                               fp->getString(1, QStringLiteral("extprop1")));
}

bool w_fp_invoicing::requireChanges() {
    const DataStore* fp = dw_fp.store();
    const DataStore* xm = dw_xm.store();
    if (fp->modifiedCount() > 0 || xm->modifiedCount() > 0 || xm->deletedCount() > 0) return true;
    mess(QStringLiteral("没有数据变动，不需要保存！"));
    return false;
}

// Every required column filled. A required header column that the system fills
// (the total follows the lines) is never the place to send the clerk: the focus
// goes to the first line whose amount is empty instead.
bool w_fp_invoicing::requireFilledColumns() {
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    int badRow = 0;
    QString badColumn;
    if (!gf_judge_dw_column_isnull(host(), *fp, &badRow, &badColumn)) {
        if (!badColumn.isEmpty() && fp->isProtected(1, badColumn)) {
            if (badColumn == QLatin1String("hjje") || badColumn == QLatin1String("hjdx")) {
                int row = xm->find([](const DataStore::RowView& r) { return r.isNull(QStringLiteral("je")); }, 1,
                                   xm->rowCount());
                dw_xm.scrollToRow(row > 0 ? row : 1);
                dw_xm.setColumn(QStringLiteral("je"));
                dw_xm.setFocus();
                return false;
            }
        } else if (!badColumn.isEmpty()) {
            dw_fp.setColumn(badColumn);
        }
        dw_fp.setFocus();
        return false;
    }
    if (!gf_judge_dw_column_isnull(host(), *xm, &badRow, &badColumn)) {
        if (badRow > 0) dw_xm.scrollToRow(badRow);
        if (!badColumn.isEmpty()) dw_xm.setColumn(badColumn);
        dw_xm.setFocus();
        return false;
    }
    return true;
}

// Signs: a normal invoice is not negative; a red-letter one has non-negative
// quantities and non-positive prices and amounts. Empty values pass.
bool w_fp_invoicing::checkLineSigns() {
    DataStore* xm = dw_xm.store();
    const bool red = cbx_ch.checked;
    for (int row = 1; row <= xm->rowCount(); ++row) {
        const auto mj = xm->getDecimal(row, QStringLiteral("mj"));
        const auto dj = xm->getDecimal(row, QStringLiteral("dj"));
        const auto je = xm->getDecimal(row, QStringLiteral("je"));
        QString column, text;
        if (mj && mj->sign() < 0) {
            column = QStringLiteral("mj");
            text = QStringLiteral("数量不能小于零");
        } else if (!red && dj && dj->sign() < 0) {
            column = QStringLiteral("dj");
            text = QStringLiteral("单价不能小于零");
        } else if (!red && je && je->sign() < 0) {
            column = QStringLiteral("je");
            text = QStringLiteral("金额不能小于零");
        } else if (red && dj && dj->sign() > 0) {
            column = QStringLiteral("dj");
            text = QStringLiteral("冲红单价不能大于零");
        } else if (red && je && je->sign() > 0) {
            column = QStringLiteral("je");
            text = QStringLiteral("冲红金额不能大于零");
        }
        if (!text.isEmpty()) {
            dw_xm.scrollToRow(row);
            dw_xm.setColumn(column);
            mess(text);
            dw_xm.setFocus();
            return false;
        }
    }
    return true;
}

// The header total follows the lines; the total in capitals follows the total.
void w_fp_invoicing::settleTotals() {
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    std::optional<Decimal> total = fp->getDecimal(1, QStringLiteral("hjje"));
    const std::optional<Decimal> itemTotal = Decimal::fromVariant(xm->computed(QStringLiteral("cpt_amount"), 1));
    if (total && itemTotal && *total != *itemTotal) {
        setOwnValue(*fp, 1, QStringLiteral("hjje"), QVariant::fromValue(*itemTotal));
        total = itemTotal;
    }
    setOwnValue(*fp, 1, QStringLiteral("hjdx"), total ? f_convert_to_big(*total) : QString());
    dw_fp.notify();
}

bool w_fp_invoicing::appendHeaderUpload(SaveRun& run) {
    DataStore* fp = dw_fp.store();
    for (int pos = 1; pos <= fp->columnCount(); ++pos) {
        QString value = uploadValue(*fp, 1, pos, true);
        if (!f_ptfp_valid_str(host(), value, fieldLabel(*fp, pos))) {
            dw_fp.setColumn(fp->columnName(pos));
            dw_fp.setFocus();
            return false;
        }
        run.data += value + QStringLiteral("|#|");
    }
    return true;
}

bool w_fp_invoicing::confirmSave() {
    return msg2(QStringLiteral("发票代码：") + is_fpdm + QStringLiteral("\r\n发票号码：") + is_fphm +
                QStringLiteral("\r\n\r\n一旦保存即不可修改，确定要保存吗？")) != 2;
}

bool w_fp_invoicing::failSave(SaveRun& run, const QString& message) {
    (void)run.sqlca.rollback(); // the failure to report is `message`
    // Nothing was stored at the service (or it said so): the record goes.
    if (run.pending && !run.keepPending) dropPendingRequest(run.sqlca, run.record);
    if (run.readBack) {
        DataStore* xm = dw_xm.store();
        xm->reset();
        (void)run.entered->rowsCopy(1, run.entered->rowCount(), *xm, 0);
        if (xm->columnId(QStringLiteral("iserial")) > 0)
            for (int r = 1; r <= xm->rowCount(); ++r) setOwnValue(*xm, r, QStringLiteral("iserial"), QVariant());
        dw_xm.notify();
    }
    if (!message.isEmpty()) mess(message);
    return false;
}

bool w_fp_invoicing::writeHeader(SaveRun& run) {
    DataStore* fp = dw_fp.store();
    if (fp->update(true, false) == 1) return true;
    const QString err = fp->lastError().isEmpty() ? run.sqlca.sqlerrtext : fp->lastError();
    failSave(run, QString());
    // Another issuer may have saved this very number meanwhile.
    QVariantList row;
    if (run.sqlca.selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                             {is_fpdm, is_fphm}, row) == 0 &&
        row.value(0).toLongLong() > 0) {
        mess(QStringLiteral("当前发票号码已使用！"));
        return false;
    }
    mess(QStringLiteral("发票数据保存失败！\r\n") + err);
    return false;
}

bool w_fp_invoicing::writeLines(SaveRun& run) {
    DataStore* xm = dw_xm.store();
    if (xm->update(true, false) == 1) return true;
    const QString err = xm->lastError().isEmpty() ? run.sqlca.sqlerrtext : xm->lastError();
    return failSave(run, run.label + QStringLiteral("数据保存失败！\r\n") + err);
}

// Every line must carry its serial; otherwise the lines are read back and must
// come back in the number written.
bool w_fp_invoicing::checkLineSerials(SaveRun& run) {
    DataStore* xm = dw_xm.store();
    run.lineCount = xm->rowCount();
    for (int row = 1; row <= run.lineCount; ++row) {
        const QVariant serial = xm->getVariant(row, QStringLiteral("iserial"));
        if (serial.isValid() && !serial.isNull() && serial.toLongLong() >= 1) continue;
        run.readBack = true;
        if (xm->retrieve({is_fpdm, is_fphm}) != run.lineCount)
            return failSave(run,
                            QStringLiteral("数据保存失败：品目信息保存错误！\r\n解决方法：\r\n"
                                           "1、请先开其他发票内容，保存成功后再开这张发票\r\n2、换台机子开这张发票"));
        break;
    }
    return true;
}

bool w_fp_invoicing::appendLinesUpload(SaveRun& run) {
    DataStore* xm = dw_xm.store();
    for (int row = 1; row <= run.lineCount; ++row) {
        for (int pos = 1; pos <= xm->columnCount(); ++pos) {
            QString value = uploadValue(*xm, row, pos, false);
            if (!f_ptfp_valid_str(host(), value, fieldLabel(*xm, pos))) {
                failSave(run, QString());
                dw_xm.scrollToRow(row);
                dw_xm.setColumn(xm->columnName(pos));
                dw_xm.setFocus();
                return false;
            }
            run.data += value + QStringLiteral("|@|");
        }
        run.data += QStringLiteral("|&|");
    }
    return true;
}

bool w_fp_invoicing::markNumberUsed(SaveRun& run) {
    // The batch keeps the highest number saved: issuers save in any order.
    if (recordNumberUsed(run.sqlca, is_fpdm, is_fpzl, is_fphm)) return true;
    return failSave(run, QStringLiteral("发票库数据保存失败！\r\n") + run.sqlca.sqlerrtext);
}

bool w_fp_invoicing::logIssue(SaveRun& run) {
    const Session& s = session();
    if (insertIssueLog(run.sqlca, is_fpdm, is_fphm, s.gs_sysuserid, s.gs_username)) return true;
    return failSave(run, QStringLiteral("发票库数据保存失败！\r\n") + run.sqlca.sqlerrtext);
}

// The fields of the invoice as entered that tell the service's copy apart
// (InvoiceContent), digested: what the record of the pending upload keeps.
QString w_fp_invoicing::enteredContentDigest() const {
    // Amounts with two decimals whatever their stored form, as the digest of a
    // download writes them; other values as text.
    auto text = [](const DataStore& store, int row, const QString& column, bool amount) {
        if (store.columnId(column) <= 0) return QStringLiteral("");
        const QVariant v = store.getVariant(row, column);
        if (!v.isValid() || v.isNull()) return QStringLiteral("");
        if (amount) {
            if (const std::optional<Decimal> d = Decimal::fromVariant(v)) return d->toString(2);
        }
        return v.toString();
    };
    InvoiceContent c;
    const DataStore& fp = *dw_fp.store();
    const DataStore& xm = *dw_xm.store();
    for (const char* column : {"fpdm", "fphm", "sxh", "fkfmc", "fkfzjlx", "fkfzjhm", "hjje", "bz", "kpr"})
        c.header << text(fp, 1, QLatin1String(column), qstrcmp(column, "hjje") == 0);
    for (int row = 1; row <= xm.rowCount(); ++row) {
        QStringList line;
        for (const char* column : {"xmmc", "mj", "dj", "je"})
            line << text(xm, row, QLatin1String(column), qstrcmp(column, "xmmc") != 0);
        c.lines << line;
    }
    return contentDigest(c);
}

// Before the save's own transaction (a second writer would wait on it), a
// committed record of the upload about to be made: a crash before the answer
// leaves it to be settled against the service.
bool w_fp_invoicing::recordPendingSave(SaveRun& run) {
    const Session& s = session();
    run.record = PendingRequest{is_fpdm,     is_fphm,       is_fpzl,    s.gs_sysuserid,
                                s.gs_userid, s.gs_username, s.gs_kprmc, enteredContentDigest()};
    QString error;
    // A record of the number that another save left (or is still writing) is
    // settled first: that save may have issued the number.
    switch (writeAfterSettling(host(), run.record, &error)) {
    case JournalWrite::Written: run.pending = true; return true;
    case JournalWrite::Failed: return failSave(run, QStringLiteral("发票数据保存失败！\r\n") + error);
    case JournalWrite::Taken: return failSave(run, QStringLiteral("当前发票号码已使用！"));
    case JournalWrite::Blocked: break;
    }
    return failSave(run, QString());
}

// The first step of the save's transaction: it holds its record from here on,
// so that settling in another client waits for it, and its commit removes it.
bool w_fp_invoicing::takePendingRecord(SaveRun& run) {
    if (takePendingRequest(run.sqlca, run.record)) return true;
    if (run.sqlca.sqlcode == -1) return failSave(run, QStringLiteral("发票数据保存失败！\r\n") + run.sqlca.sqlerrtext);
    // Settled by another client meanwhile, before anything was sent: that
    // client may be about to save the number itself.
    run.pending = false;
    return failSave(run, QStringLiteral("当前发票号码已使用！"));
}

// The local data is committed only when the service accepted the upload. A
// refusal is shown as the service gave it; a transport failure is shown only
// once the service has been asked whether it stored the invoice after all, so
// that the clerk reads one message that says how things stand.
bool w_fp_invoicing::uploadAndCommit(SaveRun& run) {
    QString reply;
    if (!host().sendRemoteMsgQuietly(QString(kRemoteEndpoint), req_upload(run.data), kTimeoutUpload, reply)) {
        if (host().lastOutcome() == HostServices::Outcome::TransportFailed) return settleLostUploadReply(run);
        return failSave(run, host().lastFailureText());
    }
    reply = reply.mid(5);
    return commitAccepted(run);
}

// The service holds the invoice: a commit that fails now keeps the record, so
// that settling stores the service's copy.
bool w_fp_invoicing::commitAccepted(SaveRun& run) {
    if (run.sqlca.commit()) return true;
    run.keepPending = true;
    return failSave(run, QStringLiteral("税务机关已收到该发票，但本地数据保存失败！\r\n") + run.sqlca.sqlerrtext +
                             QStringLiteral("\r\n请执行“核对未确认发票”补存本地数据。"));
}

// The upload's answer was lost: the service may have stored the invoice. It is
// asked for the invoice; ours there (the same content) -> commit as after an
// acceptance; absent, or the question failing -> roll back and keep the record
// (a delayed upload may still be stored); the number issued with other
// content -> roll back and drop the record.
bool w_fp_invoicing::settleLostUploadReply(SaveRun& run) {
    const QString failure = host().lastFailureText();
    const ServerInvoice answer = askServerForInvoice(host(), is_fpdm, is_fphm);
    if (answer.kind == ServerInvoice::Kind::Present && contentDigest(contentOf(*answer.invoice)) == run.record.digest) {
        if (!commitAccepted(run)) return false;
        run.savedMessage = QStringLiteral("上传应答未收到，经核对税务机关已收到该发票，数据已保存！");
        return true;
    }
    switch (answer.kind) {
    case ServerInvoice::Kind::Present:
    case ServerInvoice::Kind::Foreign:
        return failSave(run, failure + QStringLiteral("\r\n\r\n经核对，税务机关的该号码发票与本次保存的内容不同，"
                                                      "该号码已被使用，本次保存未生效！"));
    case ServerInvoice::Kind::Absent:
        run.keepPending = true;
        return failSave(run, failure + QStringLiteral("\r\n\r\n经核对，税务机关目前没有收到该发票，本地数据未保存。"
                                                      "税务机关可能稍后才收到，请先执行“核对未确认发票”再重新保存。"));
    case ServerInvoice::Kind::Unreachable: break;
    }
    run.keepPending = true;
    return failSave(run, failure + QStringLiteral("\r\n\r\n无法向税务机关核对该发票是否已收到，本地数据未保存。"
                                                  "请在网络恢复后执行“核对未确认发票”。"));
}

void w_fp_invoicing::lockSavedInvoice() {
    dw_fp.store()->resetUpdate();
    dw_xm.store()->resetUpdate();
    dw_fp.setReadOnly(true);
    dw_xm.setReadOnly(true);
    uo_toolbar.of_setenable(kNewProj, false);
    uo_toolbar.of_setenable(kDelProj, false);
    uo_toolbar.of_setenable(kSave, false);
    uo_toolbar.of_setenable(kCopy, ib_write);
    uo_toolbar.of_setenable(kPrint, ib_write);
}

// The number list of the same code moves on while the saved invoice stays on
// screen; the next free number is offered ready for Enter.
void w_fp_invoicing::moveToNextNumber() {
    ib_auto_find_fphm = true;
    int index = 0;
    for (int i = 1; i <= ddlb_fpdm.count(); ++i) {
        if (ddlb_fpdm.items()[size_t(i - 1)].text == ddlb_fpdm.text()) {
            index = i;
            break;
        }
    }
    ddlb_fpdm_selectionchanged(index);
    if (ddlb_fphm.count() > 0) ddlb_fphm.selectItem(1);
}

} // namespace fp
