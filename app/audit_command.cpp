#include "app/audit_command.h"

#include "services/register_audit.h"

namespace fp::cli {

namespace {

void write(std::FILE* f, QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fflush(f);
}

// A status name for the list: without its closing "！", "无" for none.
QString shown(QString name) {
    if (name.endsWith(QStringLiteral("！"))) name.chop(1);
    return name.isEmpty() ? QStringLiteral("无") : name;
}

QString numberText(const AuditDisagreement& d) {
    return QStringLiteral("发票代码") + d.fpdm + QStringLiteral("、号码") + d.fphm;
}

} // namespace

QString auditMonthOptionError(const QString& month, bool given) {
    if (!given) return QStringLiteral("fpdesk audit: --month YYYY-MM is required");
    if (!isAuditMonth(month))
        return QStringLiteral("fpdesk audit: --month takes a month written YYYY-MM (2026-01), not \"%1\"").arg(month);
    return QString();
}

int runAudit(HostServices& host, const AuditCommand& command, std::FILE* out, std::FILE* err, bool progress) {
    // The register window's right: only the full right may audit.
    if (host.f_get_right(host.session().gs_userid, QStringLiteral("04")) != QLatin1String("02")) {
        host.mess(QStringLiteral("您没有与税务机关核对的权限！"));
        return 1;
    }
    AuditOptions options;
    if (progress)
        options.progress = [err](int done, int total) {
            write(err, QStringLiteral("\r核对中：%1 / %2").arg(done).arg(total));
            return true;
        };
    const AuditResult result = auditMonth(host, command.month, host.session().gs_sysuserid, options);
    if (progress) write(err, QStringLiteral("\n"));

    for (const AuditDisagreement& d : result.disagreements)
        write(out, QStringLiteral("%1 %2 %3 %4 %5\n")
                       .arg(d.fpdm, d.fphm, auditKindName(d.kind), shown(d.localName), shown(d.serverName)));
    write(out, QStringLiteral("已核对 %1 张（共 %2 张），不一致 %3 张\n")
                   .arg(result.checked)
                   .arg(result.total)
                   .arg(result.disagreements.size()));
    if (!result.complete()) {
        write(err, result.stopMessage + QLatin1Char('\n'));
        return 1;
    }
    if (!command.fix || result.disagreements.isEmpty()) return result.disagreements.isEmpty() ? 0 : 1;

    const QList<AuditMend> mends = mendAll(host, result.disagreements, [&](const AuditDisagreement& d) {
        return host.msg2(numberText(d) + QStringLiteral("：") + auditKindName(d.kind) +
                         QStringLiteral("，要修正吗？")) != 2;
    });
    int mended = 0;
    for (int i = 0; i < mends.size(); ++i) {
        const AuditDisagreement& d = result.disagreements.at(i);
        const AuditMend& m = mends.at(i);
        if (m.done()) {
            ++mended;
            write(out, QStringLiteral("%1 %2 已修正\n").arg(d.fpdm, d.fphm));
        } else if (!m.message.isEmpty()) {
            write(err, numberText(d) + QStringLiteral("：") + m.message + QLatin1Char('\n'));
        }
    }
    write(out, QStringLiteral("已修正 %1 张，未修正 %2 张\n").arg(mended).arg(mends.size() - mended));
    return mended == mends.size() ? 0 : 1;
}

} // namespace fp::cli
