// The red-letter start: identifies the invoice being reversed (issued outside
// the system and unknown to the tax service, or held locally or downloaded), and
// fills the new invoice from it, negated, or prepares it for typed lines.
#include "data_model/data_store.h"
#include "data_model/transaction.h"
#include "host/text_helpers.h"
#include "issuing/start_run.h"
#include "issuing/w_fp_invoicing.h"
#include "services/invoice_fetch.h"
#include "services/remote_text.h"

namespace fp {

namespace {
QVariant negated(const DataStore& s, int row, const QString& column) {
    const std::optional<Decimal> d = s.getDecimal(row, column);
    return d ? QVariant::fromValue(-*d) : QVariant();
}
} // namespace

bool w_fp_invoicing::identifyReversedInvoice(StartRun& run) {
    if (!checkNotReversedYet(run.chdm, run.chhm)) {
        sle_ch.setFocus();
        return false;
    }
    return ib_sgfpch ? checkOutsideInvoiceUnknown(run) : loadReversedInvoice(run);
}

// An invoice is reversed once: a valid red-letter invoice already naming it
// (its code and number as extprop2 and extprop1) refuses another, at the start
// and again at the save (another window may have saved one meanwhile). A
// red-letter invoice since voided no longer counts. Two windows that save
// together are settled by the tax service, which refuses the second upload
// before either save commits.
bool w_fp_invoicing::checkNotReversedYet(const QString& code, const QString& number) {
    Session& s = session();
    if (!s.sqlca) return false;
    QVariantList row;
    const int rc = s.sqlca->selectInto(QStringLiteral("SELECT count(1) FROM ptfp_fpk WHERE extprop2 = ? AND "
                                                      "extprop1 = ? AND fpzt = '1'"),
                                       {code, number}, row);
    if (rc == -1) {
        mess(QStringLiteral("发票数据读取失败！\r\n") + s.sqlca->sqlerrtext);
        return false;
    }
    if (row.value(0).toLongLong() < 1) return true;
    mess(QStringLiteral("该发票已被冲红，不能重复冲红！"));
    return false;
}

// An invoice issued outside the system must be one the tax service never sold
// through it: its status there is "-2".
bool w_fp_invoicing::checkOutsideInvoiceUnknown(const StartRun& run) {
    QString resp;
    if (!host().f_send_remote_msg(QString(kRemoteEndpoint), req_status(run.chdm, run.chhm, false), kTimeoutStatus,
                                  resp)) {
        sle_ch.setFocus();
        return false;
    }
    if (!resp.mid(5).startsWith(QLatin1String("-2"))) {
        mess(QStringLiteral("被冲红号码：") + run.chhm + QStringLiteral("已存在，不能进行“") + is_sgfp_name +
             QStringLiteral("”冲红处理！"));
        sle_ch.setFocus();
        return false;
    }
    return true;
}

// The reversed invoice from the local tables, downloaded first when the clerk
// agrees; it must be issued and valid, not a reversal itself, and have lines.
bool w_fp_invoicing::loadReversedInvoice(StartRun& run) {
    Session& s = session();
    auto refuse = [&](const QString& text) {
        if (!text.isEmpty()) mess(text);
        sle_ch.setFocus();
        return false;
    };
    if (!s.sqlca) return false;
    run.oldFp = makeStore(run.fpForm, *s.sqlca);
    run.oldXm = makeStore(run.xmForm, *s.sqlca);
    DataStore& oldFp = *run.oldFp;
    const QVariantList key{s.gs_sysuserid, run.chdm, run.chhm};
    if (oldFp.retrieve(key) < 1) {
        if (msg2(QStringLiteral("被冲红号码：") + run.chhm + QStringLiteral("本地未找到，需要到服务器上去下载吗？")) ==
            2)
            return refuse(QString());
        if (!gf_get_fp_from_remote(host(), run.chdm, run.chhm)) return refuse(QString());
        if (oldFp.retrieve(key) < 1)
            return refuse(QStringLiteral("被冲红号码：") + run.chhm + QStringLiteral("未找到！"));
    }
    const QString fpzt = oldFp.getString(1, QStringLiteral("fpzt"));
    if (fpzt != QLatin1String("1"))
        return refuse(QStringLiteral("发票状为：") + f_get_fpzt_name(fpzt) + QStringLiteral("，不能进行冲红处理！"));
    if (!oldFp.getString(1, QStringLiteral("extprop1")).trimmed().isEmpty())
        return refuse(QStringLiteral("被冲红发票本身即为冲红发票，不能进行冲红！"));
    const QString month = QStringLiteral("yyyyMM");
    if (oldFp.getDateTime(1, QStringLiteral("kprq")).toString(month) == s.gdt_srv_date().toString(month) &&
        msg2(QStringLiteral("被冲红发票为本月发票，确定要继续冲红吗？")) == 2)
        return refuse(QString());
    if (run.oldXm->retrieve({run.chdm, run.chhm}) < 1) return refuse(QStringLiteral("被冲红发票的品目明细未找到！"));
    return true;
}

void w_fp_invoicing::startRedLetterLines(StartRun& run) {
    DataStore* fp = dw_fp.store();
    if (!fp) return;
    setOwnValue(*fp, 1, QStringLiteral("extprop1"), run.chhm);
    setOwnValue(*fp, 1, QStringLiteral("extprop2"), run.chdm);
    if (ib_sgfpch) {
        // The clerk types the lines of an invoice the system never saw; the
        // marker frees the payer and the amounts for typing.
        // The marker is an object of every form of the window.
        (void)fp->setObjectText(QStringLiteral("sgfpch_t"), QStringLiteral("1"));
        if (DataStore* xm = dw_xm.store()) (void)xm->setObjectText(QStringLiteral("sgfpch_t"), QStringLiteral("1"));
        uo_toolbar.of_setenable(kNewProj, ib_write);
        uo_toolbar.of_setenable(kDelProj, ib_write);
        ib_add_xm_script = true;
        ue_newproj();
        return;
    }
    copyReversedInvoice(run);
}

// Header and lines of the reversed invoice, with negated prices, amounts and
// total; the lines cannot be extended afterwards.
void w_fp_invoicing::copyReversedInvoice(StartRun& run) {
    DataStore* fp = dw_fp.store();
    DataStore* xm = dw_xm.store();
    const DataStore& oldFp = *run.oldFp;
    const DataStore& oldXm = *run.oldXm;
    for (const char* c : {"fkfmc", "fkfzjlx", "fkfzjhm"})
        setOwnValue(*fp, 1, QLatin1String(c), oldFp.getVariant(1, QLatin1String(c)));
    setOwnValue(*fp, 1, QStringLiteral("hjje"), negated(oldFp, 1, QStringLiteral("hjje")));
    ib_add_xm_script = true;
    for (int r = 1; r <= oldXm.rowCount(); ++r) {
        const long n = ue_newproj();
        if (n < 1) break;
        setOwnValue(*xm, int(n), QStringLiteral("xmmc"), oldXm.getVariant(r, QStringLiteral("xmmc")));
        setOwnValue(*xm, int(n), QStringLiteral("mj"), oldXm.getVariant(r, QStringLiteral("mj")));
        setOwnValue(*xm, int(n), QStringLiteral("dj"), negated(oldXm, r, QStringLiteral("dj")));
        setOwnValue(*xm, int(n), QStringLiteral("je"), negated(oldXm, r, QStringLiteral("je")));
    }
    ib_add_xm_script = false;
    dw_xm.setColumn(QStringLiteral("xmmc"));
    dw_xm.setFocus();
    dw_fp.notify();
    dw_xm.notify();
    run.oldFp.reset();
    run.oldXm.reset();
}

} // namespace fp
