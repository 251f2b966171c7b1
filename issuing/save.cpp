// ue_save: validates the invoice, writes header, lines, stock use and the log in
// one transaction, uploads it (procedure 11633) and commits only when the tax
// service accepted it.
#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "host/judge_column.h"
#include "host/text_helpers.h"
#include "issuing/w_fp_invoicing.h"
#include "services/remote_text.h"

namespace fp {

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
    const bool twoDecimals = header ? isPosition(position, {16, 18, 19, 25}) : isPosition(position, {1, 8, 9, 11, 13, 14});
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
    Session& s = session();
    Transaction* sqlca = s.sqlca;

    // 1.-3. An invoice must be started; pending edits are committed.
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    if (!requireInvoiceAndAccept()) return 0;
    if (!fp || !xm || !sqlca) return 0;

    // 4. At least one line.
    const QString label = itemLabel();
    if (xm->rowCount() < 1) {
        mess(label + QStringLiteral("必须录入！"));
        dw_xm.setFocus();
        return 0;
    }

    // 5. Something to save.
    if (fp->modifiedCount() == 0 && xm->modifiedCount() == 0 && xm->deletedCount() == 0) {
        mess(QStringLiteral("没有数据变动，不需要保存！"));
        return 0;
    }

    // 6. Required columns.
    {
        int badRow = 0;
        QString badColumn;
        if (!gf_judge_dw_column_isnull(host(), *fp, &badRow, &badColumn)) {
            if (!badColumn.isEmpty()) dw_fp.setColumn(badColumn);
            dw_fp.setFocus();
            return 0;
        }
        if (!gf_judge_dw_column_isnull(host(), *xm, &badRow, &badColumn)) {
            if (badRow > 0) dw_xm.scrollToRow(badRow);
            if (!badColumn.isEmpty()) dw_xm.setColumn(badColumn);
            dw_xm.setFocus();
            return 0;
        }
    }

    // 7. Signs: a normal invoice is not negative; a red-letter one has
    //    non-negative quantities and non-positive prices and amounts.
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
            return 0;
        }
    }

    // 8. Totals: the header follows the lines; the total in capitals.
    std::optional<Decimal> total = fp->getDecimal(1, QStringLiteral("hjje"));
    const std::optional<Decimal> itemTotal = Decimal::fromVariant(xm->computed(QStringLiteral("cpt_amount"), 1));
    if (total && itemTotal && *total != *itemTotal) {
        fp->setItem(1, QStringLiteral("hjje"), QVariant::fromValue(*itemTotal));
        total = itemTotal;
    }
    fp->setItem(1, QStringLiteral("hjdx"), total ? f_convert_to_big(*total) : QString());
    dw_fp.notify();

    // 9. Header fields of the upload.
    QString data;
    for (int pos = 1; pos <= fp->columnCount(); ++pos) {
        QString value = uploadValue(*fp, 1, pos, true);
        if (!f_ptfp_valid_str(host(), value, fieldLabel(*fp, pos))) {
            dw_fp.setColumn(fp->columnName(pos));
            dw_fp.setFocus();
            return 0;
        }
        data += value + QStringLiteral("|#|");
    }

    // 10. Confirmation.
    if (msg2(QStringLiteral("发票代码：") + is_fpdm + QStringLiteral("\r\n发票号码：") + is_fphm +
             QStringLiteral("\r\n\r\n一旦保存即不可修改，确定要保存吗？")) == 2)
        return 0;

    // From here on one transaction: every way out rolls back unless committed.
    TxGuard guard(*sqlca);
    const int lineCount0 = xm->rowCount();
    // The lines as entered, to put back if a failure follows a read-back.
    std::unique_ptr<DataStore> entered = makeStore(xm->name(), *sqlca);
    xm->rowsCopy(1, lineCount0, *entered, 0);
    bool readBack = false;
    auto restoreLines = [&] {
        if (!readBack) return;
        xm->reset();
        entered->rowsCopy(1, entered->rowCount(), *xm, 0);
        if (xm->columnId(QStringLiteral("iserial")) > 0)
            for (int r = 1; r <= xm->rowCount(); ++r) xm->setItem(r, QStringLiteral("iserial"), QVariant());
        dw_xm.notify();
    };

    // 11. The header.
    if (fp->update(true, false) != 1) {
        const QString err = fp->lastError().isEmpty() ? sqlca->sqlerrtext : fp->lastError();
        sqlca->rollback();
        // Another issuer may have saved this very number meanwhile.
        QVariantList row;
        if (sqlca->selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE fpdm = ? AND fphm = ?"),
                              {is_fpdm, is_fphm}, row) == 0 &&
            row.value(0).toLongLong() > 0) {
            mess(QStringLiteral("当前发票号码已使用！"));
            return 0;
        }
        mess(QStringLiteral("发票数据保存失败！\r\n") + err);
        return 0;
    }

    // 12. The lines.
    if (xm->update(true, false) != 1) {
        const QString err = xm->lastError().isEmpty() ? sqlca->sqlerrtext : xm->lastError();
        sqlca->rollback();
        mess(label + QStringLiteral("数据保存失败！\r\n") + err);
        return 0;
    }

    // 13. Every line must have its serial; otherwise read the lines back.
    const int lineCount = xm->rowCount();
    for (int row = 1; row <= lineCount; ++row) {
        const QVariant serial = xm->getVariant(row, QStringLiteral("iserial"));
        if (!serial.isValid() || serial.isNull() || serial.toLongLong() < 1) {
            readBack = true;
            const int n = xm->retrieve({is_fpdm, is_fphm});
            if (n != lineCount) {
                sqlca->rollback();
                restoreLines();
                mess(QStringLiteral("数据保存失败：品目信息保存错误！\r\n解决方法：\r\n1、请先开其他发票内容，保存成功后再开这张发票\r\n2、换台机子开这张发票"));
                return 0;
            }
            break;
        }
    }

    // 14. The lines of the upload.
    for (int row = 1; row <= lineCount; ++row) {
        for (int pos = 1; pos <= xm->columnCount(); ++pos) {
            QString value = uploadValue(*xm, row, pos, false);
            if (!f_ptfp_valid_str(host(), value, fieldLabel(*xm, pos))) {
                sqlca->rollback();
                restoreLines();
                dw_xm.scrollToRow(row);
                dw_xm.setColumn(xm->columnName(pos));
                dw_xm.setFocus();
                return 0;
            }
            data += value + QStringLiteral("|@|");
        }
        data += QStringLiteral("|&|");
    }

    // 15. The number is used.
    sqlca->exec(QStringLiteral("UPDATE bdcja_fplg SET zjsyh = ? WHERE fpdm = ? AND fpzlbm = ? AND fpqh <= ? AND fpzh >= ?"),
                {is_fphm, is_fpdm, is_fpzl, is_fphm, is_fphm});
    if (sqlca->sqlcode != 0) {
        const QString err = sqlca->sqlerrtext;
        sqlca->rollback();
        restoreLines();
        mess(QStringLiteral("发票库数据保存失败！\r\n") + err);
        return 0;
    }

    // 16. The log.
    sqlca->exec(QStringLiteral("INSERT INTO bdcja_fpk_log ( fpdm, fphm, sxh, czlx, kpr, czrq ) VALUES ( ?, ?, ?, '1', ?, %1 )")
                    .arg(sqlca->dialect().currentTime()),
                {is_fpdm, is_fphm, s.gs_sysuserid, s.gs_username});
    if (sqlca->sqlcode != 0) {
        const QString err = sqlca->sqlerrtext;
        sqlca->rollback();
        restoreLines();
        mess(QStringLiteral("发票库数据保存失败！\r\n") + err);
        return 0;
    }

    // 17. Upload; the local data is committed only when the service accepted it.
    QString reply;
    if (!host().f_send_remote_msg(QString(kRemoteEndpoint), req_upload(data), kTimeoutUpload, reply)) {
        sqlca->rollback();
        restoreLines();
        return 0;
    }

    // 18. Commit.
    reply = reply.mid(5);
    if (!sqlca->commit()) {
        const QString err = sqlca->sqlerrtext;
        sqlca->rollback();
        restoreLines();
        mess(QStringLiteral("发票数据保存失败！\r\n") + err);
        return 0;
    }

    // 19. Lock the invoice.
    fp->resetUpdate();
    xm->resetUpdate();
    dw_fp.setReadOnly(true);
    dw_xm.setReadOnly(true);
    uo_toolbar.of_setenable(kNewProj, false);
    uo_toolbar.of_setenable(kDelProj, false);
    uo_toolbar.of_setenable(kSave, false);
    uo_toolbar.of_setenable(kCopy, ib_write);
    uo_toolbar.of_setenable(kPrint, ib_write);

    // 20. Done; the number list moves on while the invoice stays on screen.
    mess(QStringLiteral("数据保存成功！"));
    ib_auto_find_fphm = true;
    int index = 0;
    for (int i = 1; i <= ddlb_fpdm.count(); ++i) {
        if (ddlb_fpdm.items()[size_t(i - 1)].text == ddlb_fpdm.text()) {
            index = i;
            break;
        }
    }
    ddlb_fpdm_selectionchanged(index);
    // Offer the next free number ready for Enter; no handler runs.
    if (ddlb_fphm.count() > 0) ddlb_fphm.selectItem(1);
    return 1;
}

} // namespace fp
