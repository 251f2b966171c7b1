#include "services/register_audit.h"

#include "data_model/transaction.h"
#include "services/invoice_fetch.h"
#include "services/invoice_register.h"
#include "services/pending_uploads.h"
#include "services/remote_text.h"

#include <QDate>
#include <QElapsedTimer>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <algorithm>

namespace fp {

namespace {

const QString kUnknownStatus = QStringLiteral("未知发票状态！");

bool isIssuedStatus(const QString& s) {
    return s == QLatin1String("1") || s == QLatin1String("2") || s == QLatin1String("3");
}
bool isNamedStatus(const QString& s) { return f_get_fpzt_name(s) != kUnknownStatus; }

QString pad8(qint64 n) { return QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0')); }

// A number as it stands at the service, after one status request.
struct Asked {
    enum class Kind { Answered, Invalid, Refused, Unreachable };
    Kind kind = Kind::Unreachable;
    QString status;
    QString text; // the service's own text after the status; Invalid, Refused, Unreachable: why
};

// `pace`, when set, runs just before the request goes out.
Asked askStatus(HostServices& host, const QString& code, const QString& number, const AuditPacer& pace = {}) {
    Asked a;
    QString codeR = code, numberR = number;
    {
        HostServices::MessageCapture said(host);
        if (!f_ptfp_valid_str(host, codeR, QStringLiteral("发票代码")) ||
            !f_ptfp_valid_str(host, numberR, QStringLiteral("发票号码"))) {
            a.kind = Asked::Kind::Invalid;
            a.text = said.texts().join(QStringLiteral("\r\n"));
            return a;
        }
    }
    if (!isInvoiceNumber(number)) {
        a.kind = Asked::Kind::Invalid;
        a.text = notInvoiceNumberMessage(QStringLiteral("发票号码"));
        return a;
    }
    if (pace) pace();
    QString reply;
    if (!host.sendRemoteMsgQuietly(QString(kRemoteEndpoint), req_status(codeR, numberR, true), kTimeoutStatus, reply)) {
        a.kind = host.lastOutcome() == HostServices::Outcome::TransportFailed ? Asked::Kind::Unreachable
                                                                              : Asked::Kind::Refused;
        a.text = host.lastFailureText();
        return a;
    }
    QString body = reply_body(reply);
    a.kind = Asked::Kind::Answered;
    a.status = reply_next_field(body);
    a.text = reply_next_field(body);
    return a;
}

// The local side of a number: its status and table, when stored here.
struct Local {
    QString status;
    InvoiceTable table = InvoiceTable::Integrated;
};

// The difference between the two sides; nothing when they agree.
std::optional<AuditDisagreement> classify(const QString& code, const QString& number, const std::optional<Local>& local,
                                          const Asked& asked) {
    const QString& s = asked.status;
    AuditDisagreement d;
    d.fpdm = code;
    d.fphm = number;
    d.serverStatus = s;
    d.serverName = isNamedStatus(s) ? f_get_fpzt_name(s) : asked.text.isEmpty() ? kUnknownStatus : asked.text;
    if (!local) {
        if (isNamedStatus(s) && !isIssuedStatus(s)) return std::nullopt; // unused there too
        d.kind = isIssuedStatus(s) ? AuditKind::MissingHere : AuditKind::Mismatch;
        d.localName = QStringLiteral("无");
        return d;
    }
    d.localStatus = local->status;
    d.localName = f_get_fpzt_name(local->status);
    d.table = local->table;
    const QString l = trimBlanks(local->status);
    if (l == s) return std::nullopt;
    if (l == QLatin1String("1") && s == QLatin1String("2"))
        d.kind = AuditKind::VoidedThere;
    else if (l == QLatin1String("2") && s == QLatin1String("1"))
        d.kind = AuditKind::ValidThere;
    else if (isNamedStatus(s) && !isIssuedStatus(s))
        d.kind = AuditKind::UnknownThere;
    else
        d.kind = AuditKind::Mismatch;
    return d;
}

// The local row of a number in either header table; nothing when there is
// none, false on a database error.
bool readLocal(Transaction& t, const QString& code, const QString& number, std::optional<Local>& out) {
    out.reset();
    for (const InvoiceTable table : {InvoiceTable::Integrated, InvoiceTable::Estate}) {
        QVariantList row;
        const int rc =
            t.selectInto(QStringLiteral("SELECT fpzt FROM %1 WHERE fpdm = ? AND fphm = ?").arg(headerTableName(table)),
                         {code, number}, row);
        if (rc == -1) return false;
        if (rc == 0) {
            out = Local{row.value(0).toString(), table};
            return true;
        }
    }
    return true;
}

// One number to ask, in the order of the list.
struct Item {
    QString fpdm;
    QString fphm;
    std::optional<Local> local;
};

// Every number of the month to ask; false with `error` on a database error.
bool monthItems(Transaction& t, const QString& month, const QString& sxh, QList<Item>& items, QString& error) {
    RegisterFilter filter;
    filter.month = month;
    const std::optional<QList<RegisterRow>> rows = readRegister(t, sxh, filter, &error);
    if (!rows) return false;

    struct Run {
        qint64 first = -1;
        qint64 last = -1;
        QSet<qint64> used;
    };
    QMap<QString, Run> runs;
    for (const RegisterRow& r : *rows) {
        if (!isInvoiceNumber(r.fphm)) continue;
        const qint64 n = r.fphm.toLongLong();
        Run& run = runs[r.fpdm];
        run.first = run.first < 0 ? n : std::min(run.first, n);
        run.last = std::max(run.last, n);
        run.used.insert(n);
    }

    // Where each number of a run is stored here, in any month and either table.
    QMap<QString, QMap<QString, InvoiceTable>> stored;
    for (auto it = runs.cbegin(); it != runs.cend(); ++it) {
        for (const InvoiceTable table : {InvoiceTable::Estate, InvoiceTable::Integrated}) {
            const QList<QVariantList> found =
                t.selectAll(QStringLiteral("SELECT fphm FROM %1 WHERE fpdm = ? AND fphm >= ? AND fphm <= ?")
                                .arg(headerTableName(table)),
                            {it.key(), pad8(it->first), pad8(it->last)});
            if (t.sqlcode == -1) {
                error = t.sqlerrtext;
                return false;
            }
            for (const QVariantList& f : found) stored[it.key()].insert(f.value(0).toString(), table);
        }
    }

    for (const RegisterRow& r : *rows) {
        const auto where = stored.value(r.fpdm).constFind(r.fphm);
        const bool estate = where != stored.value(r.fpdm).cend() && *where == InvoiceTable::Estate;
        items.append(Item{r.fpdm, r.fphm, Local{r.fpzt, estate ? InvoiceTable::Estate : InvoiceTable::Integrated}});
    }
    for (auto it = runs.cbegin(); it != runs.cend(); ++it) {
        for (qint64 n = it->first + 1; n < it->last; ++n) {
            const QString number = pad8(n);
            if (!it->used.contains(n) && !stored.value(it.key()).contains(number))
                items.append(Item{it.key(), number, std::nullopt});
        }
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.fpdm != b.fpdm ? a.fpdm < b.fpdm : a.fphm < b.fphm; });
    return true;
}

QString countText(int checked, int total) { return QStringLiteral("已核对 %1 张，共 %2 张").arg(checked).arg(total); }

} // namespace

QString auditKindName(AuditKind kind) {
    switch (kind) {
    case AuditKind::VoidedThere: return QStringLiteral("本地有效，税务机关已作废");
    case AuditKind::ValidThere: return QStringLiteral("本地已作废，税务机关有效");
    case AuditKind::UnknownThere: return QStringLiteral("本地有，税务机关无此发票");
    case AuditKind::MissingHere: return QStringLiteral("税务机关有，本地缺少此发票");
    case AuditKind::Mismatch: return QStringLiteral("发票状态不一致");
    case AuditKind::Unchecked: return QStringLiteral("无法核对");
    }
    return QString();
}

AuditPacer steadyPacer(int perSecond) {
    if (perSecond <= 0) return {};
    struct State {
        QElapsedTimer timer;
        qint64 next = 0; // when the next request may start, in ms of `timer`
    };
    auto state = std::make_shared<State>();
    const qint64 gap = std::max<qint64>(1, 1000 / perSecond);
    return [state, gap] {
        if (!state->timer.isValid()) state->timer.start();
        const qint64 now = state->timer.elapsed();
        if (state->next > now) QThread::msleep(static_cast<unsigned long>(state->next - now));
        state->next = std::max(now, state->next) + gap;
    };
}

bool isAuditMonth(const QString& month) {
    static const QRegularExpression shape(QStringLiteral("^[0-9]{4}-[0-9]{2}$"));
    return shape.match(month).hasMatch() &&
           QDate::fromString(month + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd")).isValid();
}

AuditResult auditMonth(HostServices& host, const QString& month, const QString& sxh, const AuditOptions& options) {
    AuditResult result;
    Transaction* t = host.session().sqlca;
    if (!isAuditMonth(month)) {
        result.stop = AuditResult::Stop::Refused;
        result.stopMessage = QStringLiteral("核对月份有误：“") + month + QStringLiteral("”，应写作 yyyy-MM！");
        return result;
    }
    QList<Item> items;
    QString error;
    if (!t || !monthItems(*t, month, sxh, items, error)) {
        result.stop = AuditResult::Stop::DatabaseError;
        result.stopMessage = QStringLiteral("读取本地发票失败：") + error;
        return result;
    }
    result.total = int(items.size());
    if (options.progress && !options.progress(0, result.total)) {
        result.stop = AuditResult::Stop::Cancelled;
        result.stopMessage = QStringLiteral("核对已取消（") + countText(0, result.total) + QStringLiteral("）。");
        return result;
    }
    bool sentOne = false;
    const AuditPacer pace = [&] {
        if (sentOne && options.pacer) options.pacer();
        sentOne = true;
    };
    for (const Item& item : items) {
        const Asked asked = askStatus(host, item.fpdm, item.fphm, pace);
        switch (asked.kind) {
        case Asked::Kind::Unreachable:
            result.stop = AuditResult::Stop::Unreachable;
            result.stopMessage = QStringLiteral("与税务服务器通讯失败，核对已中止（") +
                                 countText(result.checked, result.total) +
                                 QStringLiteral("），本地数据未作修改：\r\n") + asked.text;
            return result;
        case Asked::Kind::Refused:
            result.stop = AuditResult::Stop::Refused;
            result.stopMessage = QStringLiteral("税务服务器拒绝了查询，核对已中止（") +
                                 countText(result.checked, result.total) + QStringLiteral("）：\r\n") + asked.text;
            return result;
        case Asked::Kind::Invalid: {
            AuditDisagreement d;
            d.fpdm = item.fpdm;
            d.fphm = item.fphm;
            d.kind = AuditKind::Unchecked;
            d.localStatus = item.local ? item.local->status : QString();
            d.localName = item.local ? f_get_fpzt_name(item.local->status) : QStringLiteral("无");
            d.note = asked.text;
            if (item.local) d.table = item.local->table;
            result.disagreements.append(d);
            break;
        }
        case Asked::Kind::Answered:
            if (std::optional<AuditDisagreement> d = classify(item.fpdm, item.fphm, item.local, asked))
                result.disagreements.append(*d);
            break;
        }
        ++result.checked;
        if (options.progress && !options.progress(result.checked, result.total) && result.checked < result.total) {
            result.stop = AuditResult::Stop::Cancelled;
            result.stopMessage =
                QStringLiteral("核对已取消（") + countText(result.checked, result.total) + QStringLiteral("）。");
            return result;
        }
    }
    return result;
}

namespace {

AuditMend mendResult(AuditMend::Outcome outcome, const QString& message = QString()) {
    AuditMend m;
    m.outcome = outcome;
    m.message = message;
    return m;
}

// The download of an invoice the service holds, its messages returned.
AuditMend download(HostServices& host, const QString& code, const QString& number) {
    HostServices::MessageCapture said(host);
    if (gf_get_fp_from_remote(host, code, number)) return mendResult(AuditMend::Outcome::Mended);
    if (said.texts().isEmpty()) return mendResult(AuditMend::Outcome::Skipped); // the replacement was declined
    return mendResult(AuditMend::Outcome::Failed, said.texts().join(QStringLiteral("\r\n")));
}

} // namespace

AuditMend mendDisagreement(HostServices& host, const AuditDisagreement& disagreement) {
    const QString& code = disagreement.fpdm;
    const QString& number = disagreement.fphm;
    if (disagreement.kind == AuditKind::Unchecked) return mendResult(AuditMend::Outcome::Left, disagreement.note);
    Transaction* t = host.session().sqlca;
    if (!t) return mendResult(AuditMend::Outcome::Failed, QStringLiteral("没有打开本地数据库！"));

    // Both sides as they stand now: the audit may be a while ago.
    std::optional<Local> local;
    if (!readLocal(*t, code, number, local))
        return mendResult(AuditMend::Outcome::Failed, QStringLiteral("读取本地发票失败：") + t->sqlerrtext);
    const Asked asked = askStatus(host, code, number);
    if (asked.kind != Asked::Kind::Answered)
        return mendResult(asked.kind == Asked::Kind::Invalid ? AuditMend::Outcome::Left : AuditMend::Outcome::Failed,
                          asked.text);
    const std::optional<AuditDisagreement> now = classify(code, number, local, asked);
    if (!now) return mendResult(AuditMend::Outcome::Agrees);

    switch (now->kind) {
    case AuditKind::MissingHere: return download(host, code, number);
    case AuditKind::UnknownThere:
        if (pendingRequestOf(*t, code, number))
            return mendResult(AuditMend::Outcome::Left,
                              QStringLiteral("该发票上次的操作尚未得到税务机关确认，请执行“核对未确认发票”"
                                             "（fpdesk reconcile）后再核对！"));
        return mendResult(AuditMend::Outcome::Left,
                          QStringLiteral("税务机关没有该发票的记录，本机不能修正：请核实该发票是否已上传，"
                                         "必要时与主管税务机关联系！"));
    case AuditKind::Unchecked: return mendResult(AuditMend::Outcome::Left, now->note);
    case AuditKind::VoidedThere:
    case AuditKind::ValidThere:
    case AuditKind::Mismatch: break;
    }
    if (!isNamedStatus(asked.status))
        return mendResult(AuditMend::Outcome::Left, QStringLiteral("税务机关返回的发票状态无法识别（") +
                                                        now->serverName +
                                                        QStringLiteral("），本机不能修正，请与主管税务机关联系！"));
    // A blank void here holds no invoice: the service's invoice replaces it.
    if (trimBlanks(local->status) == QLatin1String("3") && local->table == InvoiceTable::Integrated &&
        (asked.status == QLatin1String("1") || asked.status == QLatin1String("2")))
        return download(host, code, number);
    QString error;
    if (!syncLocalStatus(*t, local->table, code, number, local->status, asked.status, &error))
        return mendResult(AuditMend::Outcome::Failed, error);
    // A status the window leaves alone (a row marked unused) is not mended.
    std::optional<Local> after;
    if (!readLocal(*t, code, number, after) || !after || after->status != asked.status)
        return mendResult(AuditMend::Outcome::Left, QStringLiteral("本地发票状态（") + now->localName +
                                                        QStringLiteral("）不能自动修正，请与主管税务机关核实！"));
    return mendResult(AuditMend::Outcome::Mended);
}

QList<AuditMend> mendAll(HostServices& host, const QList<AuditDisagreement>& disagreements,
                         const std::function<bool(const AuditDisagreement&)>& ask) {
    QList<AuditMend> out;
    QString unreachable;
    for (const AuditDisagreement& d : disagreements) {
        if (!unreachable.isEmpty()) {
            out.append(mendResult(AuditMend::Outcome::Failed, unreachable));
            continue;
        }
        if (ask && !ask(d)) {
            out.append(mendResult(AuditMend::Outcome::Skipped));
            continue;
        }
        const AuditMend m = mendDisagreement(host, d);
        if (m.outcome == AuditMend::Outcome::Failed && host.lastOutcome() == HostServices::Outcome::TransportFailed)
            unreachable = m.message;
        out.append(m);
    }
    return out;
}

} // namespace fp
