#include "app/register_commands.h"

#include "reprint_void/w_fp_invoice_query.h"
#include "services/invoice_register.h"
#include "services/table_export.h"

#include <QDate>
#include <QStringList>

namespace fp::cli {

namespace {

const QStringList kStatuses{QStringLiteral("valid"), QStringLiteral("void"), QStringLiteral("blank")};
const QStringList kKinds{QStringLiteral("50"), QStringLiteral("20"), QStringLiteral("40")};
const QStringList kFormats{QStringLiteral("table"), QStringLiteral("csv"), QStringLiteral("xlsx"),
                           QStringLiteral("json")};

bool isDay(const QString& text) { return QDate::fromString(text, QStringLiteral("yyyy-MM-dd")).isValid(); }

// Columns a text takes on a terminal: wide (East Asian) characters two.
int screenWidth(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += (c >= 0x1100 && (c <= 0x115F || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                                  (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
                                  (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6)))
                     ? 2
                     : 1;
    return width;
}

QString padded(const QString& text, int width, bool right) {
    const QString fill(qMax(0, width - screenWidth(text)), QLatin1Char(' '));
    return right ? fill + text : text + fill;
}

// The window opened for the command, its filters set from the options; null
// after the window refused to open.
std::unique_ptr<w_fp_invoice_query> openQuery(HostServices& host) {
    auto w = std::make_unique<w_fp_invoice_query>(host);
    if (!w->open(OpenParams{w_fp_invoice_query::kFunctionId, QString()})) return nullptr;
    return w;
}

bool setFilters(w_fp_invoice_query& w, HostServices& host, const RegisterOptions& o) {
    if (!o.month.isEmpty()) w.sle_month.setText(o.month);
    w.sle_from.setText(o.from);
    w.sle_to.setText(o.to);
    if (!o.code.isEmpty() && !w_fp_invoice_query::chooseId(w.ddlb_fpdm, o.code)) {
        host.mess(QStringLiteral("发票代码“%1”不在本纳税人的发票代码中！").arg(o.code));
        return false;
    }
    const QString status = o.status == QLatin1String("valid")   ? QStringLiteral("1")
                           : o.status == QLatin1String("void")  ? QStringLiteral("2")
                           : o.status == QLatin1String("blank") ? QStringLiteral("3")
                                                                : QString();
    (void)w_fp_invoice_query::chooseId(w.ddlb_fpzt, status); // every status name has its entry
    (void)w_fp_invoice_query::chooseId(w.ddlb_sign, o.red      ? QStringLiteral("red")
                                                    : o.normal ? QStringLiteral("normal")
                                                               : QString());
    if (!o.kind.isEmpty() && !w_fp_invoice_query::chooseId(w.ddlb_fpzl, o.kind)) {
        host.mess(QStringLiteral("发票种类“%1”不是本系统开具的种类！").arg(o.kind));
        return false;
    }
    w.ddlb_kpr.setText(o.issuer);
    w.sle_payer.setText(o.payer);
    return true;
}

int writeReport(w_fp_invoice_query& w, const RegisterOptions& o, std::FILE* out) {
    if (!o.output.isEmpty()) return w.exportTo(o.output, o.format) == 1 ? 0 : 1;
    // Anything but the terminal's table hands the data on: an export.
    if (o.format != QLatin1String("table") && w.is_right != QLatin1String("02")) {
        w.host().mess(QStringLiteral("您没有导出发票的权限！"));
        return 1;
    }
    QByteArray bytes;
    if (o.format == QLatin1String("csv"))
        bytes = csvReport(w.report());
    else if (o.format == QLatin1String("json"))
        bytes = jsonReport(w.report());
    else
        bytes = textTable(w.report()).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
    return 0;
}

} // namespace

QString registerOptionError(const RegisterOptions& o, bool summary) {
    if (!kFormats.contains(o.format))
        return QStringLiteral("未知的格式“%1”，应为 table、csv、xlsx 或 json。").arg(o.format);
    if (o.format == QLatin1String("xlsx") && o.output.isEmpty())
        return QStringLiteral("xlsx 格式须用 --output 指定文件。");
    if (o.format == QLatin1String("table") && !o.output.isEmpty())
        return QStringLiteral("table 格式只输出到终端；写入文件请用 --format csv、xlsx 或 json。");
    if (summary && o.month.isEmpty()) return QStringLiteral("请用 --month 指定要汇总的月份。");
    if (!o.month.isEmpty() && !firstDayOfMonth(o.month).isValid()) return monthRefusal(o.month);
    if (summary) return QString();
    if (!o.month.isEmpty() && (!o.from.isEmpty() || !o.to.isEmpty()))
        return QStringLiteral("--month 与 --from/--to 只能选一种。");
    if (o.from.isEmpty() != o.to.isEmpty()) return QStringLiteral("--from 与 --to 须同时指定。");
    if (!o.from.isEmpty() && !isDay(o.from)) return QStringLiteral("日期“%1”无效，应为“年-月-日”。").arg(o.from);
    if (!o.to.isEmpty() && !isDay(o.to)) return QStringLiteral("日期“%1”无效，应为“年-月-日”。").arg(o.to);
    if (!o.status.isEmpty() && !kStatuses.contains(o.status))
        return QStringLiteral("未知的状态“%1”，应为 valid、void 或 blank。").arg(o.status);
    if (o.red && o.normal) return QStringLiteral("--red 与 --normal 只能选一个。");
    if (!o.kind.isEmpty() && !kKinds.contains(o.kind))
        return QStringLiteral("未知的发票种类“%1”，应为 50、20 或 40。").arg(o.kind);
    return QString();
}

QString textTable(const ReportTable& report) {
    QList<int> widths;
    for (const ReportColumn& c : report.columns) widths << screenWidth(c.title);
    for (const QStringList& row : report.rows)
        for (int i = 0; i < widths.size(); ++i) widths[i] = qMax(widths[i], screenWidth(row.value(i)));
    const auto line = [&](const QStringList& cells) -> QString {
        QStringList parts;
        for (int i = 0; i < widths.size(); ++i)
            parts << padded(cells.value(i), widths[i], report.columns[i].type != ReportColumn::Type::Text);
        return parts.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    };
    QString text;
    for (const QString& h : report.headingLines) text += h + QLatin1Char('\n');
    QStringList titles;
    for (const ReportColumn& c : report.columns) titles << c.title;
    text += line(titles);
    for (const QStringList& row : report.rows) text += line(row);
    for (const QString& t : report.totalsLines) text += t + QLatin1Char('\n');
    return text;
}

int runList(HostServices& host, const RegisterOptions& options, std::FILE* out) {
    auto w = openQuery(host);
    if (!w || !setFilters(*w, host, options)) return 1;
    if (w->raise(QStringLiteral("ue_query")) != 1) return 1;
    return writeReport(*w, options, out);
}

int runSummary(HostServices& host, const RegisterOptions& options, std::FILE* out) {
    auto w = openQuery(host);
    if (!w) return 1;
    w->sle_month.setText(options.month);
    if (w->raise(QStringLiteral("ue_summary")) != 1) return 1;
    return writeReport(*w, options, out);
}

} // namespace fp::cli
