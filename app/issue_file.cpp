#include "app/issue_file.h"

#include "data_model/data_store.h"
#include "data_model/decimal.h"
#include "data_model/transaction.h"
#include "issuing/w_fp_invoicing.h"

#include "host/text_decoding.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace fp::cli {

namespace {

const QStringList kInvoiceKeys = {QStringLiteral("fpdm"),    QStringLiteral("fphm"),    QStringLiteral("fkfmc"),
                                  QStringLiteral("fkfzjlx"), QStringLiteral("fkfzjhm"), QStringLiteral("bz"),
                                  QStringLiteral("items"),   QStringLiteral("ch")};
const QStringList kItemKeys = {QStringLiteral("xmmc"), QStringLiteral("mj"), QStringLiteral("dj"),
                               QStringLiteral("je")};
const QStringList kChKeys = {QStringLiteral("fpdm"), QStringLiteral("fphm"), QStringLiteral("sgfp")};

QString placeOf(int index) { return QStringLiteral("第%1张发票").arg(index + 1); }

// Whether the text is one UTF-8 can carry: an unpaired surrogate escaped in
// the JSON ("\ud800") is not, and would be stored as something else.
bool survivesUtf8(const QString& text) { return QString::fromUtf8(text.toUtf8()) == text; }

// A key as a message shows it: a NUL or an unpaired surrogate as its escape.
QString shownKey(const QString& key) {
    QString shown;
    for (qsizetype i = 0; i < key.size(); ++i) {
        const QChar c = key.at(i);
        const bool paired = c.isHighSurrogate()  ? i + 1 < key.size() && key.at(i + 1).isLowSurrogate()
                            : c.isLowSurrogate() ? i > 0 && key.at(i - 1).isHighSurrogate()
                                                 : true;
        if (c == QChar(u'\0') || !paired)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// Parse errors name the invoice and the key; the first one wins.
class Parser {
public:
    explicit Parser(QString* error) : error_(error) {}

    bool fail(const QString& where, const QString& what) {
        if (error_) *error_ = where + QStringLiteral("：") + what;
        return false;
    }

    bool onlyKeys(const QJsonObject& o, const QStringList& allowed, const QString& where, const QString& prefix) {
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!allowed.contains(it.key()))
                return fail(where, QStringLiteral("未知的键“%1%2”").arg(prefix, shownKey(it.key())));
        return true;
    }

    bool text(const QJsonObject& o, const QString& key, const QString& where, const QString& shown,
              std::optional<QString>& out) {
        if (!o.contains(key)) return true;
        if (!o.value(key).isString()) return fail(where, QStringLiteral("“%1”必须是字符串").arg(shown));
        // A "\u0000" escape is valid JSON but no text a clerk typed.
        if (o.value(key).toString().contains(QChar(u'\0')))
            return fail(where, QStringLiteral("“%1”含有空字符（NUL），不能使用").arg(shown));
        // Nor is an unpaired surrogate ("\ud800"): UTF-8 has no form for it.
        if (!survivesUtf8(o.value(key).toString()))
            return fail(where, QStringLiteral("“%1”含有不成对的代理项（无效的字符），不能使用").arg(shown));
        out = o.value(key).toString();
        return true;
    }

    bool requiredText(const QJsonObject& o, const QString& key, const QString& where, const QString& shown,
                      QString& out) {
        std::optional<QString> v;
        if (!text(o, key, where, shown, v)) return false;
        if (!v || v->trimmed().isEmpty()) return fail(where, QStringLiteral("缺少“%1”").arg(shown));
        out = *v;
        return true;
    }

    // An amount is a JSON string holding a decimal with at most two places: a
    // JSON number cannot carry an exact decimal.
    bool amount(const QJsonObject& o, const QString& key, const QString& where, const QString& shown,
                std::optional<QString>& out) {
        static const QRegularExpression decimal(QStringLiteral("^[+-]?\\d+(\\.\\d{1,2})?$"));
        if (!o.contains(key)) return true;
        const QJsonValue v = o.value(key);
        if (!v.isString() || !decimal.match(v.toString().trimmed()).hasMatch())
            return fail(where, QStringLiteral("“%1”必须是最多两位小数的金额字符串（如 \"280.00\"）").arg(shown));
        out = v.toString().trimmed();
        return true;
    }

    bool line(const QJsonValue& value, int n, const QString& where, IssueLine& out) {
        const QString prefix = QStringLiteral("items[%1].").arg(n);
        if (!value.isObject()) return fail(where, QStringLiteral("“items[%1]”必须是JSON对象").arg(n));
        const QJsonObject o = value.toObject();
        if (!onlyKeys(o, kItemKeys, where, prefix)) return false;
        if (!requiredText(o, QStringLiteral("xmmc"), where, prefix + QStringLiteral("xmmc"), out.xmmc)) return false;
        std::optional<QString> mj, dj;
        if (!amount(o, QStringLiteral("mj"), where, prefix + QStringLiteral("mj"), mj) ||
            !amount(o, QStringLiteral("dj"), where, prefix + QStringLiteral("dj"), dj) ||
            !amount(o, QStringLiteral("je"), where, prefix + QStringLiteral("je"), out.je))
            return false;
        if (!mj) return fail(where, QStringLiteral("缺少“%1mj”").arg(prefix));
        if (!dj) return fail(where, QStringLiteral("缺少“%1dj”").arg(prefix));
        out.mj = *mj;
        out.dj = *dj;
        return true;
    }

    bool redLetter(const QJsonValue& value, const QJsonObject& invoice, const QString& where, IssueInvoice& out) {
        if (!value.isObject()) return fail(where, QStringLiteral("“ch”必须是JSON对象"));
        const QJsonObject ch = value.toObject();
        if (!onlyKeys(ch, kChKeys, where, QStringLiteral("ch."))) return false;
        if (ch.contains(QStringLiteral("sgfp")) && !ch.value(QStringLiteral("sgfp")).isBool())
            return fail(where, QStringLiteral("“ch.sgfp”必须是 true 或 false"));
        out.redLetter = true;
        out.outsideSystem = ch.value(QStringLiteral("sgfp")).toBool(false);
        if (!requiredText(ch, QStringLiteral("fpdm"), where, QStringLiteral("ch.fpdm"), out.chdm) ||
            !requiredText(ch, QStringLiteral("fphm"), where, QStringLiteral("ch.fphm"), out.chhm))
            return false;
        if (!out.outsideSystem) {
            // The reversed invoice's payer and lines are copied, not given.
            for (const char* k : {"fkfmc", "fkfzjlx", "fkfzjhm", "items"})
                if (invoice.contains(QLatin1String(k)))
                    return fail(where,
                                QStringLiteral("冲红系统内发票时复制原发票，不能给出“%1”").arg(QLatin1String(k)));
        }
        return true;
    }

    bool invoice(const QJsonValue& value, int index, IssueInvoice& out) {
        const QString where = placeOf(index);
        if (!value.isObject()) return fail(where, QStringLiteral("不是JSON对象"));
        const QJsonObject o = value.toObject();
        if (!onlyKeys(o, kInvoiceKeys, where, QString())) return false;
        std::optional<QString> fphm;
        if (!requiredText(o, QStringLiteral("fpdm"), where, QStringLiteral("fpdm"), out.fpdm) ||
            !text(o, QStringLiteral("fphm"), where, QStringLiteral("fphm"), fphm) ||
            !text(o, QStringLiteral("fkfmc"), where, QStringLiteral("fkfmc"), out.fkfmc) ||
            !text(o, QStringLiteral("fkfzjlx"), where, QStringLiteral("fkfzjlx"), out.fkfzjlx) ||
            !text(o, QStringLiteral("fkfzjhm"), where, QStringLiteral("fkfzjhm"), out.fkfzjhm) ||
            !text(o, QStringLiteral("bz"), where, QStringLiteral("bz"), out.bz))
            return false;
        out.fphm = fphm.value_or(QString()).trimmed();
        if (o.contains(QStringLiteral("items"))) {
            if (!o.value(QStringLiteral("items")).isArray()) return fail(where, QStringLiteral("“items”必须是数组"));
            const QJsonArray items = o.value(QStringLiteral("items")).toArray();
            for (int n = 0; n < items.size(); ++n) {
                IssueLine l;
                if (!line(items.at(n), n, where, l)) return false;
                out.items.push_back(l);
            }
        }
        if (o.contains(QStringLiteral("ch")) && !redLetter(o.value(QStringLiteral("ch")), o, where, out)) return false;
        return true;
    }

private:
    QString* error_;
};

int indexOfId(const DropDown& dd, const QString& id) {
    for (int i = 1; i <= dd.count(); ++i)
        if (dd.of_getid(i) == id) return i;
    return 0;
}

bool typeInto(FormControl& form, int row, const QString& column, const std::optional<QString>& value) {
    return !value || form.typeInto(row, column, *value) == 1;
}

// The selector row as a clerk sets it: code, number, and the red-letter fields.
bool chooseInvoice(w_fp_invoicing& win, const IssueInvoice& inv) {
    const int code = indexOfId(win.ddlb_fpdm, inv.fpdm);
    if (code < 1) {
        win.host().mess(QStringLiteral("发票代码%1没有可开具的发票！").arg(inv.fpdm));
        return false;
    }
    win.ddlb_fpdm.select(code);
    QString number = inv.fphm;
    if (number.isEmpty()) {
        if (win.ddlb_fphm.count() < 1) {
            win.host().mess(QStringLiteral("发票代码%1已没有可用的发票号码！").arg(inv.fpdm));
            return false;
        }
        number = win.ddlb_fphm.items().front().text;
    }
    win.ddlb_fphm.setText(number);
    if (win.cbx_ch.checked != inv.redLetter) win.cbx_ch.click();
    if (!inv.redLetter) return true;
    const int old = indexOfId(win.ddlb_oldfpdm, inv.outsideSystem ? QStringLiteral("-1") : inv.chdm);
    if (old < 1) {
        win.host().mess(QStringLiteral("原发票代码%1不是本种类发票的代码！").arg(inv.chdm));
        return false;
    }
    win.ddlb_oldfpdm.select(old);
    if (inv.outsideSystem) win.sle_oldfpdm.setText(inv.chdm);
    win.sle_ch.setText(inv.chhm);
    return true;
}

// The lines, each checked against the amount the window computed. An invoice
// whose lines the file gives (all but a copied reversal) needs at least one,
// as the window's save says; the empty line the start left is no line.
bool fillLines(w_fp_invoicing& win, const IssueInvoice& inv) {
    if (inv.items.empty() && (!inv.redLetter || inv.outsideSystem)) {
        win.host().mess(win.itemLabel() + QStringLiteral("必须录入！"));
        return false;
    }
    for (size_t i = 0; i < inv.items.size(); ++i) {
        const IssueLine& l = inv.items[i];
        const int row = int(i) + 1;
        if (row > win.dw_xm.store()->rowCount() && win.raise(QStringLiteral("ue_newproj")) != row) return false;
        if (win.dw_xm.typeInto(row, QStringLiteral("xmmc"), l.xmmc) != 1 ||
            win.dw_xm.typeInto(row, QStringLiteral("mj"), l.mj) != 1 ||
            win.dw_xm.typeInto(row, QStringLiteral("dj"), l.dj) != 1)
            return false;
        const std::optional<Decimal> computed = win.dw_xm.store()->getDecimal(row, QStringLiteral("je"));
        // An amount beyond the range: the window has said so; the save would
        // only say it again.
        if (computed && !computed->fitsStorage()) return false;
        if (!l.je) continue;
        const std::optional<Decimal> given = Decimal::parse(*l.je);
        if (!computed || !given || *computed != *given) {
            win.host().mess(QStringLiteral("第%1行金额%2与数量乘单价%3不符！")
                                .arg(row)
                                .arg(*l.je, computed ? computed->toString(2) : QString()));
            return false;
        }
    }
    return true;
}

// Whether a refusal says that another issuer took the number meanwhile: the
// local row exists, the service names the number's status as not unused, or
// the service refused the upload of a used number.
bool numberTaken(const QString& message) {
    if (message == QStringLiteral("当前发票号码已使用！")) return true;
    if (message.contains(QStringLiteral("已使用，不能重复开具"))) return true;
    return message.startsWith(QStringLiteral("指定发票")) && message != QStringLiteral("指定发票号码无效！");
}

// The number after `refused` for another try: the first one the list offers
// beyond it, else the one right after it.
QString nextNumberAfter(w_fp_invoicing& win, const QString& refused) {
    for (const auto& item : win.ddlb_fphm.items())
        if (item.text > refused) return item.text;
    return QStringLiteral("%1").arg(refused.toLongLong() + 1, 8, 10, QLatin1Char('0'));
}

bool issueOne(w_fp_invoicing& win, const IssueInvoice& inv, QString* issued) {
    if (!chooseInvoice(win, inv)) return false;
    if (win.raise(QStringLiteral("ue_start")) != 1) return false;
    // The payer's name first: the partner list fills the document fields, which
    // the file's own values then overwrite, as a clerk would.
    FormControl& fp = win.dw_fp;
    if (!typeInto(fp, 1, QStringLiteral("fkfmc"), inv.fkfmc) ||
        !typeInto(fp, 1, QStringLiteral("fkfzjlx"), inv.fkfzjlx) ||
        !typeInto(fp, 1, QStringLiteral("fkfzjhm"), inv.fkfzjhm) || !typeInto(fp, 1, QStringLiteral("bz"), inv.bz))
        return false;
    if (!fillLines(win, inv)) return false;
    const QString code = win.is_fpdm, number = win.is_fphm;
    if (win.raise(QStringLiteral("ue_save")) != 1) return false;
    *issued = code + QLatin1Char(' ') + number;
    return true;
}

// issueOne; without a number of its own, a number taken meanwhile by another
// issuer is left for the next free one. Each try goes to a higher number, so
// the tries end at the end of the stock (start refuses a number beyond it);
// the bound only guards against a list that does not move.
bool issueWithNextFreeNumber(w_fp_invoicing& win, IssueDialogs& dialogs, const IssueInvoice& inv, QString* issued) {
    constexpr int kMaxTries = 100000;
    IssueInvoice attempt = inv;
    for (int tries = 1;; ++tries) {
        if (issueOne(win, attempt, issued)) {
            dialogs.setGiveUpConfirmed(false);
            return true;
        }
        const QString refused = win.is_fphm.isEmpty() ? win.ddlb_fphm.text() : win.is_fphm;
        if (!inv.fphm.isEmpty() || tries >= kMaxTries || !numberTaken(dialogs.lastMessage()) || refused.isEmpty()) {
            dialogs.setGiveUpConfirmed(false);
            return false;
        }
        // The list as it is now, then the first number beyond the refused one.
        dialogs.setGiveUpConfirmed(true);
        const int code = indexOfId(win.ddlb_fpdm, inv.fpdm);
        if (code < 1) return false;
        win.ddlb_fpdm.select(code);
        attempt.fphm = nextNumberAfter(win, refused);
    }
}

bool isIssuer(Transaction& t, const QString& sxh, const QString& name) {
    QVariantList row;
    return t.selectInto(
               QStringLiteral("SELECT count(1) FROM b_emp WHERE department = 'KPRY' AND sxh = ? AND cname = ?"),
               {sxh, name}, row) == 0 &&
           row.value(0).toLongLong() > 0;
}

QString kindOf(Transaction& t, const QString& code) {
    QVariantList row;
    if (t.selectInto(QStringLiteral("SELECT fpzlbm FROM bm_bdcja_fpdm WHERE fpdm = ?"), {code}, row) != 0)
        return QString();
    return row.value(0).toString();
}

} // namespace

bool parseIssueFile(const QByteArray& json, std::vector<IssueInvoice>& out, QString* error) {
    out.clear();
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("发票文件不是有效的JSON（第%1个字符）：%2").arg(pe.offset).arg(pe.errorString());
        return false;
    }
    QJsonArray invoices;
    if (doc.isArray())
        invoices = doc.array();
    else
        invoices.append(doc.object());
    if (invoices.isEmpty()) {
        if (error) *error = QStringLiteral("发票文件中没有发票");
        return false;
    }
    Parser parser(error);
    std::vector<IssueInvoice> parsed;
    for (int i = 0; i < invoices.size(); ++i) {
        IssueInvoice inv;
        if (!parser.invoice(invoices.at(i), i, inv)) return false;
        parsed.push_back(std::move(inv));
    }
    out = std::move(parsed);
    return true;
}

void IssueDialogs::message(const QString& text) {
    lastMessage_ = text;
    inner_.message(place_.isEmpty() ? text : place_ + QStringLiteral("：") + text);
}

int IssueDialogs::question(const QString& text) {
    if (giveUpConfirmed_ && text.contains(QStringLiteral("确定要〖放弃〗当前发票录入吗？"))) return 1;
    if (text.startsWith(QStringLiteral("发票代码：")) &&
        text.endsWith(QStringLiteral("一旦保存即不可修改，确定要保存吗？")))
        return 1;
    return inner_.question(place_.isEmpty() ? text : place_ + QStringLiteral("：") + text);
}

int issueInvoices(HostServices& host, IssueDialogs& dialogs, const std::vector<IssueInvoice>& invoices,
                  const QString& issuer, std::FILE* out) {
    Session& s = host.session();
    if (!s.sqlca) return 1;
    dialogs.setPlace(QString());
    if (!issuer.isEmpty()) {
        if (!isIssuer(*s.sqlca, s.gs_sysuserid, issuer)) {
            host.mess(QStringLiteral("“%1”不是本纳税人的开票人员！").arg(issuer));
            return 1;
        }
        s.gs_kprmc = issuer;
    } else if (s.gs_kprmc.isEmpty()) {
        host.mess(QStringLiteral("请用 --issuer 指定开票人员！"));
        return 1;
    }
    // Only integrated invoices come from a file; refused before anything is sent.
    for (size_t i = 0; i < invoices.size(); ++i) {
        const QString kind = kindOf(*s.sqlca, invoices[i].fpdm);
        if (kind != QLatin1String("50")) {
            dialogs.setPlace(placeOf(int(i)));
            host.mess(kind.isEmpty()
                          ? QStringLiteral("指定的发票代码无效！")
                          : QStringLiteral("发票代码%1不是综合统一发票，只能开具综合统一发票！").arg(invoices[i].fpdm));
            return 1;
        }
    }

    w_fp_invoicing win(host);
    if (!win.open(OpenParams{1, QString()})) return 1;
    if (!win.ib_write) {
        host.mess(QStringLiteral("当前用户没有开票权限！"));
        return 1;
    }
    for (size_t i = 0; i < invoices.size(); ++i) {
        dialogs.setPlace(placeOf(int(i)));
        QString issued;
        if (!issueWithNextFreeNumber(win, dialogs, invoices[i], &issued)) return 1;
        const QByteArray line = (issued + QLatin1Char('\n')).toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), out);
        std::fflush(out);
    }
    dialogs.setPlace(QString());
    return 0;
}

int issueFile(HostServices& host, IssueDialogs& dialogs, const QString& file, const QString& issuer, std::FILE* out) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        host.mess(QStringLiteral("无法读取文件“") + file + QStringLiteral("”：") + f.errorString());
        return 2;
    }
    // An invoice file is UTF-8 text: bytes that are not, a NUL or a file beyond
    // the size limit are refused before the JSON is read.
    const QByteArray bytes = f.read(kMaxExternalTextBytes + 1);
    if (const DecodedText decoded = decodeExternalText(bytes); !decoded.ok) {
        host.mess(QStringLiteral("文件“") + file + QStringLiteral("”") + decoded.problem +
                  QStringLiteral("，不能使用！"));
        return 2;
    }
    std::vector<IssueInvoice> invoices;
    QString error;
    if (!parseIssueFile(bytes, invoices, &error)) {
        host.mess(error);
        return 2;
    }
    return issueInvoices(host, dialogs, invoices, issuer, out);
}

} // namespace fp::cli
