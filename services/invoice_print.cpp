#include "services/invoice_print.h"

#include "data_model/data_store.h"
#include "data_model/schema.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "services/journal_store.h"
#include "services/pending_uploads.h"
#include "services/print_render.h"
#include "services/remote_text.h"

namespace fp {

namespace {

const QString kBz = QStringLiteral("bz");
const QString kKpr = QStringLiteral("kpr");
const QString kSkflxdh = QStringLiteral("skflxdh");
const QString kPrintedMark = QStringLiteral("|@|");

// Display width up to which a remark stays whole in one row.
constexpr int kRemarkWholeWidth = 20;
constexpr int kTelephoneChars = 19;
constexpr int kRemarkRows = 3;

// The width of the log's remark column, which the print remark must fit.
int remarkColumnWidth() {
    const TableDef* log = findTable(QStringLiteral("bdcja_fpk_log"));
    const ColumnDef* bz = log ? log->column(kBz) : nullptr;
    return bz && bz->width > 0 ? bz->width : 200;
}

// A printer's name or information as it may stand inside the remark of a
// request: the reserved separators lose their meaning, CR, LF and ":" are
// escaped like every free-text value. The text comes from the printer driver
// after the paper was printed, so it is made safe rather than refused. At most
// `budget` characters of the result are kept, never half an escape.
QString requestSafe(const QString& text, int& budget) {
    QString plain = text;
    for (bool changed = true; changed;) {
        const QString before = plain;
        for (const char* sep : {"|@|", "|&|", "|#|"}) plain.replace(QLatin1String(sep), QLatin1String("|"));
        changed = plain != before;
    }
    plain.replace(QLatin1Char(','), QChar(0xFF0C)); // fullwidth comma
    plain.replace(QLatin1String("{["), QString(QChar(0xFF5B)) + QLatin1Char('['));

    QString out;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        QString piece;
        const QChar c = plain.at(i);
        if (c == QLatin1Char('\r'))
            piece = QStringLiteral("{[r]}");
        else if (c == QLatin1Char('\n'))
            piece = QStringLiteral("{[n]}");
        else if (c == QLatin1Char(':'))
            piece = QStringLiteral("{[:]}");
        else if (c.isHighSurrogate() && i + 1 < plain.size())
            piece = plain.mid(i++, 2);
        else
            piece = QString(c);
        const int len = textLength(piece);
        if (len > budget) break;
        budget -= len;
        out += piece;
    }
    return out;
}

// Sets a value of the print form's own columns. They exist and take any text,
// so setItem cannot refuse here (the print form's tests hold the definition to
// that): its result is not examined.
void setPrintValue(DataStore& form, int row, const QString& column, const QVariant& value) {
    (void)form.setItem(row, column, value);
}

bool noCopiesPrinted(const s_printreturn& printed) {
    return !printed.sl_printcnt.has_value() || *printed.sl_printcnt < 1;
}

} // namespace

void gf_fp_zhty_print_format(DataStore* adw_ref) {
    if (!adw_ref || adw_ref->rowCount() < 1) return;
    DataStore& form = *adw_ref;

    const int rows = form.rowCount();
    const QVariant issuer = form.getVariant(1, kKpr);
    for (int i = rows; i < kPrintItemRows; ++i) {
        const int added = form.insertRow(0);
        setPrintValue(form, added, kKpr, issuer);
    }

    QString remark = form.getString(1, kBz);
    const QString telephone = form.getString(1, kSkflxdh).left(kTelephoneChars);
    setPrintValue(form, 4, kBz, QStringLiteral("  收款方电话:"));
    setPrintValue(form, 5, kBz, QString(QStringLiteral("  ") + telephone));

    for (int row = 1; row <= kRemarkRows; ++row) {
        QString piece;
        if (displayWidth(remark) > kRemarkWholeWidth) {
            piece = leftc(remark, kPrintRemarkPieceWidth);
            remark = remark.mid(piece.size());
        } else {
            piece = remark;
            remark.clear();
        }
        setPrintValue(form, row, kBz, piece.isNull() ? QStringLiteral("") : piece);
    }
    for (int row = kPrintItemRows + 1; row <= rows; ++row) setPrintValue(form, row, kBz, QStringLiteral(""));
}

QString printRemark(long newCount, const s_printreturn& printed) {
    QString remark = newCount >= 2 ? QStringLiteral("打印次数：") + QString::number(newCount) : QStringLiteral("");
    if (printed.ss_printer.isNull() || printed.ss_printer == QLatin1String("0")) return remark;

    const bool infoHasBar = printed.ss_printer_info.startsWith(QLatin1Char('|'));
    // What the printer texts may take: the column less the count, both marks
    // and our own bar.
    int budget = remarkColumnWidth() - textLength(remark) - 2 * int(kPrintedMark.size()) - (infoHasBar ? 0 : 1);
    const QString printer = requestSafe(printed.ss_printer, budget);
    const QString info = requestSafe(printed.ss_printer_info, budget);
    remark += kPrintedMark + printer;
    if (!infoHasBar) remark += QLatin1Char('|');
    remark += info + kPrintedMark;
    return remark;
}

namespace {

// How often a print is recorded again when other prints of the number keep
// moving its count on meanwhile.
constexpr int kPrintRecordTries = 5;

long printCountOf(const QVariant& drcs) { return drcs.isValid() && !drcs.isNull() ? long(drcs.toLongLong()) : 0; }

// The print's report (98179) and the commit. A lost answer: the service is
// asked for its count at once; counted there -> completed as after an
// acceptance, otherwise the record stays for settling.
bool reportPrint(HostServices& host, const PendingRequest& record, const QString& fpdmr, const QString& fphmr,
                 qint64 previous, const QString& kprr) {
    Transaction& sqlca = *host.session().sqlca;
    const QString remark = record.bz.isEmpty() ? QStringLiteral(" ") : record.bz;
    QString reply;
    if (!host.sendRemoteMsgQuietly(QString(kRemoteEndpoint), req_print(fpdmr, fphmr, previous, kprr, remark),
                                   kTimeoutPrint, reply)) {
        (void)sqlca.rollback(); // the failure is reported below; the record comes back with it
        const QString failure = host.lastFailureText();
        if (host.lastOutcome() != HostServices::Outcome::TransportFailed) {
            dropPendingRequest(sqlca, record); // the service did nothing with the report
            host.mess(failure);
            return false;
        }
        const Settlement settled = settlePendingRequest(host, record.fpdm, record.fphm, true);
        if (settled.outcome == Settlement::Outcome::Completed) return true;
        host.mess(failure + QStringLiteral("\r\n\r\n") +
                  (settled.outcome == Settlement::Outcome::Kept
                       ? QStringLiteral("经核对，税务机关目前没有记录本次打印，打印次数未保存。"
                                        "请先执行“核对未确认发票”再重新打印。")
                   : settled.outcome == Settlement::Outcome::Failed
                       ? settled.message
                       : QStringLiteral("无法向税务机关核对本次打印是否已记录，打印次数未保存。"
                                        "请在网络恢复后执行“核对未确认发票”。")));
        return false;
    }
    if (sqlca.commit()) return true;
    // The service has counted the print: the record stays for settling.
    const QString err = sqlca.sqlerrtext;
    (void)sqlca.rollback(); // the failure to report is `err`
    host.mess(QStringLiteral("税务机关已记录本次打印，但本地打印次数保存失败！\r\n") + err +
              QStringLiteral("\r\n请执行“核对未确认发票”补存本地数据。"));
    return false;
}

} // namespace

long gf_fp_zhty_print(HostServices& host, const QString& as_fpdm, const QString& as_fphm, DataStore* adw_ref,
                      s_preview_parameter parameter) {
    if (as_fpdm.isEmpty() || as_fphm.isEmpty() || !adw_ref) {
        host.mess(QStringLiteral("参数传入有误！"));
        return -1;
    }
    if (adw_ref->rowCount() < 1) {
        host.mess(QStringLiteral("没有数据可打印f！"));
        return -1;
    }
    // An invoice longer than one sheet is refused before the preview: nothing
    // is printed, counted or reported.
    if (const PrintLayout* layout = adw_ref->def().layout.get(); layout && !fitsOneSheet(*layout, *adw_ref)) {
        host.mess(itemLinesRefusal(*layout, adw_ref->rowCount()));
        return -1;
    }

    Session& s = host.session();
    QString fpdmr = as_fpdm, fphmr = as_fphm, kprr = s.gs_kprmc;
    if (!f_ptfp_valid_str(host, fpdmr, QStringLiteral("发票代码")) ||
        !f_ptfp_valid_str(host, fphmr, QStringLiteral("发票号码")) ||
        !f_ptfp_valid_str(host, kprr, QStringLiteral("开票人"))) {
        host.mess(QStringLiteral("不能进行打印！"));
        return -1;
    }

    // A report of an earlier print whose answer was lost is settled before
    // paper is used: the count this print starts from must be the service's.
    if (s.sqlca && pendingRequestOf(*s.sqlca, as_fpdm, as_fphm) && !settleBeforeRequest(host, as_fpdm, as_fphm))
        return -1;

    parameter.dw_datawindow = adw_ref;
    parameter.dw_datawindowname = adw_ref->name();
    parameter.s_print_type = QStringLiteral("1");
    parameter.s_col_date_format = QStringLiteral("|kprq|");
    parameter.b_col_visible_not_adjust = true;
    const s_printreturn printed = host.dialogs().printPreview(parameter);
    if (noCopiesPrinted(printed)) return 0;

    Transaction* sqlca = s.sqlca;
    if (!sqlca) {
        host.mess(QStringLiteral("发票打印次数保存失败：指定发票未找到！"));
        return -1;
    }
    TxGuard guard(*sqlca);

    // The report's record, before the transaction: a lost answer or a crash
    // leaves it to be settled against the service's count. The count this
    // print starts from is read again once the record is held (no other print
    // of the number can record itself then): another print that recorded
    // itself in between moved it on, and this one is recorded again from there.
    PendingRequest record;
    long previous = 0, printCount = 0;
    QString remark;
    for (int tries = 1;; ++tries) {
        QVariantList found;
        if (sqlca->selectInto(QStringLiteral("SELECT drcs , kprq FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                              {as_fpdm, as_fphm}, found) != 0) {
            host.mess(QStringLiteral("发票打印次数保存失败：指定发票未找到！"));
            return -1;
        }
        previous = printCountOf(found.value(0));
        printCount = previous + *printed.sl_printcnt;
        remark = printRemark(printCount, printed);
        record = PendingRequest{as_fpdm, as_fphm, QString(), s.gs_sysuserid, s.gs_userid, s.gs_username, s.gs_kprmc};
        record.op = JournalOp::Print;
        record.dycs = printCount;
        record.bz = remark;
        QString error;
        switch (recordPendingRequest(*sqlca, record, &error)) {
        case JournalWrite::Written: break;
        case JournalWrite::Taken:
        case JournalWrite::Blocked: host.mess(pendingRecordRefusal()); return -1;
        case JournalWrite::Failed: host.mess(QStringLiteral("发票打印信息保存失败1！\r\n") + error); return -1;
        }
        if (!takePendingRequest(*sqlca, record) ||
            sqlca->selectInto(QStringLiteral("SELECT drcs FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                              {as_fpdm, as_fphm}, found) != 0) {
            const QString err = sqlca->sqlerrtext;
            (void)sqlca->rollback();            // the failure to report is `err`
            dropPendingRequest(*sqlca, record); // nothing was sent
            host.mess(QStringLiteral("发票打印次数保存失败1！\r\n") + err);
            return -1;
        }
        if (printCountOf(found.value(0)) == previous) break;
        (void)sqlca->rollback();            // nothing was written but the record's taking
        dropPendingRequest(*sqlca, record); // nothing was sent
        if (tries == kPrintRecordTries) {
            host.mess(QStringLiteral("发票打印次数保存失败1！\r\n该发票正在其他地方打印，请稍后再试！"));
            return -1;
        }
    }
    if (!sqlca->exec(QStringLiteral("UPDATE ptfp_fpk SET drcs = ? WHERE fpdm = ? AND fphm = ?"),
                     {qlonglong(printCount), as_fpdm, as_fphm})) {
        const QString err = sqlca->sqlerrtext;
        (void)sqlca->rollback();            // the failure to report is `err`
        dropPendingRequest(*sqlca, record); // nothing was sent
        host.mess(QStringLiteral("发票打印次数保存失败1！\r\n") + err);
        return -1;
    }
    if (!insertPrintLog(*sqlca, as_fpdm, as_fphm, s.gs_sysuserid, s.gs_kprmc, remark)) {
        const QString err = sqlca->sqlerrtext;
        (void)sqlca->rollback();            // the failure to report is `err`
        dropPendingRequest(*sqlca, record); // nothing was sent
        host.mess(QStringLiteral("发票打印信息保存失败1！\r\n") + err);
        return -1;
    }
    return reportPrint(host, record, fpdmr, fphmr, qint64(previous), kprr) ? printCount : -1;
}

} // namespace fp
