#include "data_model/database_url.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QUrl>

namespace fp {

namespace {

// Connection parameters a URL may carry after "?", passed on to the driver.
bool knownParameter(const QString& name) {
    static const QStringList names = {QStringLiteral("sslmode"),         QStringLiteral("sslrootcert"),
                                      QStringLiteral("sslcert"),         QStringLiteral("sslkey"),
                                      QStringLiteral("connect_timeout"), QStringLiteral("application_name")};
    return names.contains(name);
}

// Percent-decoding of one part; false when an escape is malformed or the bytes
// are not UTF-8.
bool decodePart(const QString& part, QString* out) {
    const QByteArray raw = part.toUtf8();
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') continue;
        if (i + 2 >= raw.size() || !isxdigit(uchar(raw[i + 1])) || !isxdigit(uchar(raw[i + 2]))) return false;
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(raw);
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) return false;
    *out = text;
    return true;
}

} // namespace

bool isDatabaseUrl(const QString& text) {
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

std::optional<DatabaseConfig> parseDatabaseUrl(const QString& url, QString* error) {
    auto fail = [&](const QString& why) -> std::optional<DatabaseConfig> {
        if (error) *error = QStringLiteral("数据库地址无效：") + why;
        return std::nullopt;
    };
    if (!isDatabaseUrl(url)) return fail(QStringLiteral("应以 postgresql:// 开头"));
    QString rest = url.mid(url.indexOf(QLatin1String("://")) + 3);

    QString query;
    const int q = rest.indexOf(QLatin1Char('?'));
    if (q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    if (rest.contains(QLatin1Char('#'))) return fail(QStringLiteral("不能含有“#”"));
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash >= 0 ? rest.left(slash) : rest;
    const QString path = slash >= 0 ? rest.mid(slash + 1) : QString();

    DatabaseConfig c;
    c.driver = QStringLiteral("QPSQL");

    // USER[:PASSWORD]@ — the last "@" ends it, so an unencoded "@" in a password still works.
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString userinfo = authority.left(at);
        authority = authority.mid(at + 1);
        const int colon = userinfo.indexOf(QLatin1Char(':'));
        const QString user = colon >= 0 ? userinfo.left(colon) : userinfo;
        if (!decodePart(user, &c.user)) return fail(QStringLiteral("用户名的百分号编码有误"));
        if (colon >= 0 && !decodePart(userinfo.mid(colon + 1), &c.password))
            return fail(QStringLiteral("密码的百分号编码有误"));
    }

    // HOST[:PORT], the host possibly "[IPv6]".
    QString host = authority;
    QString port;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0) return fail(QStringLiteral("IPv6 地址缺少“]”"));
        host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':'))) return fail(QStringLiteral("主机名后应为“:端口”"));
            port = after.mid(1);
        }
    } else {
        const int colon = authority.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0) {
            host = authority.left(colon);
            port = authority.mid(colon + 1);
        }
        if (!decodePart(host, &host)) return fail(QStringLiteral("主机名的百分号编码有误"));
    }
    if (host.contains(QLatin1Char(','))) return fail(QStringLiteral("只能指定一台数据库服务器"));
    c.host = host;
    if (!port.isEmpty()) {
        bool ok = false;
        const int p = port.toInt(&ok);
        if (!ok || p < 1 || p > 65535) return fail(QStringLiteral("端口“%1”应为 1 至 65535 的整数").arg(port));
        c.port = p;
    }

    if (!decodePart(path, &c.database)) return fail(QStringLiteral("数据库名的百分号编码有误"));
    if (c.database.isEmpty()) return fail(QStringLiteral("缺少数据库名（…/数据库名）"));
    if (c.database.contains(QLatin1Char('/'))) return fail(QStringLiteral("数据库名不能含有“/”"));

    // Parameters, as "name=value" joined by "&"; values are kept to a safe
    // alphabet, since the driver passes them on as they are.
    QStringList options;
    if (!query.isEmpty()) {
        static const QRegularExpression safeValue(QStringLiteral("^[A-Za-z0-9_.:/+\\-]*$"));
        for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
            const int eq = pair.indexOf(QLatin1Char('='));
            QString name, value;
            if (eq < 0 || !decodePart(pair.left(eq), &name) || !decodePart(pair.mid(eq + 1), &value))
                return fail(QStringLiteral("参数“%1”应写作 名称=值").arg(pair));
            if (!knownParameter(name)) return fail(QStringLiteral("不支持的参数“%1”").arg(name));
            if (!safeValue.match(value).hasMatch())
                return fail(QStringLiteral("参数“%1”的值含有不允许的字符").arg(name));
            if (name == QLatin1String("sslmode")) {
                static const QStringList modes = {QStringLiteral("disable"),   QStringLiteral("allow"),
                                                  QStringLiteral("prefer"),    QStringLiteral("require"),
                                                  QStringLiteral("verify-ca"), QStringLiteral("verify-full")};
                if (!modes.contains(value))
                    return fail(
                        QStringLiteral("sslmode 应为 disable、allow、prefer、require、verify-ca 或 verify-full"));
            }
            options << name + QLatin1Char('=') + value;
        }
    }
    c.options = options.join(QLatin1Char(';'));
    return c;
}

QString describeDatabase(const DatabaseConfig& c) {
    if (c.driver != QLatin1String("QPSQL")) return c.database;
    QString s = QStringLiteral("postgresql://");
    if (!c.user.isEmpty()) s += QString::fromUtf8(QUrl::toPercentEncoding(c.user)) + QLatin1Char('@');
    s += c.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + c.host + QLatin1Char(']')
                                           : QString::fromUtf8(QUrl::toPercentEncoding(c.host));
    if (c.port > 0) s += QLatin1Char(':') + QString::number(c.port);
    s += QLatin1Char('/') + QString::fromUtf8(QUrl::toPercentEncoding(c.database));
    return s;
}

} // namespace fp
