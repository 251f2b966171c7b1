#include "app/profile.h"

#include "data_model/database_url.h"
#include "data_model/demo_constants.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace fp::app {

namespace {

QString demoText(const char* s) { return QString::fromUtf8(s); }

void setDemoHost(Profile& p) {
    p.userid = demoText(demo::kUserId);
    p.username = demoText(demo::kUserName);
    p.sysuserid = demoText(demo::kSxh);
    p.sysusername = demoText(demo::kTaxpayerName);
    p.kprmc = QStringLiteral("");
    p.nsrsbh = demoText(demo::kNsrsbh);
    p.nsrlxdh = demoText(demo::kNsrlxdh);
    p.ssswjgdm = demoText(demo::kSwjgdm);
}

// A value of the INI, or `fallback` when the key is absent. A present empty
// value stays empty (and never null).
QString text(const QSettings& s, const QString& key, const QString& fallback) {
    if (!s.contains(key)) return fallback;
    const QString v = s.value(key).toString();
    return v.isNull() ? QStringLiteral("") : v;
}

std::optional<bool> boolean(const QSettings& s, const QString& key, bool fallback) {
    if (!s.contains(key)) return fallback;
    const QString v = s.value(key).toString().trimmed().toLower();
    if (v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("yes")) return true;
    if (v == QLatin1String("false") || v == QLatin1String("0") || v == QLatin1String("no")) return false;
    return std::nullopt;
}

} // namespace

QString defaultDataDir() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.fpdesk");
    return dir;
}

Profile Profile::embeddedDemo(const QString& dataDir) {
    Profile p;
    p.database.driver = QStringLiteral("QSQLITE");
    p.database.database = QDir(dataDir).filePath(QStringLiteral("fpdesk.db"));
    p.demoData = true;
    p.serverMode = ServerMode::InProcess;
    p.serverStore = QDir(dataDir).filePath(QStringLiteral("taxsim.db"));
    setDemoHost(p);
    p.serverUser = p.sysuserid;
    p.serverPassword = demoText(demo::kPassword);
    return p;
}

std::optional<Profile> Profile::load(const QString& file, QString* error) {
    auto fail = [error](const QString& m) -> std::optional<Profile> {
        if (error) *error = m;
        return std::nullopt;
    };
    const QFileInfo fi(file);
    if (!fi.isFile()) return fail(QStringLiteral("找不到配置文件：%1").arg(file));
    QSettings s(fi.absoluteFilePath(), QSettings::IniFormat);
    if (s.status() != QSettings::NoError) return fail(QStringLiteral("配置文件格式错误：%1").arg(file));

    const QDir base = fi.absoluteDir();
    Profile p;
    p.sourceFile = fi.absoluteFilePath();
    setDemoHost(p);

    // [database]: a url, or the driver and its keys.
    const QString url = text(s, QStringLiteral("database/url"), QString()).trimmed();
    if (!url.isEmpty()) {
        QString e;
        auto c = parseDatabaseUrl(url, &e);
        if (!c) return fail(QStringLiteral("database/url：") + e);
        p.database = *c;
        if (p.database.password.isEmpty())
            p.database.password = text(s, QStringLiteral("database/password"), QString());
    } else {
        p.database.driver = text(s, QStringLiteral("database/driver"), QStringLiteral("QSQLITE")).toUpper();
        if (p.database.driver != QLatin1String("QSQLITE") && p.database.driver != QLatin1String("QPSQL"))
            return fail(QStringLiteral("不支持的数据库驱动：%1（可用 QSQLITE、QPSQL）").arg(p.database.driver));
        if (p.database.driver == QLatin1String("QSQLITE")) {
            const QString path =
                text(s, QStringLiteral("database/path"), QDir(defaultDataDir()).filePath(QStringLiteral("fpdesk.db")));
            p.database.database = QDir::cleanPath(base.absoluteFilePath(path));
        } else {
            p.database.database = text(s, QStringLiteral("database/name"), QStringLiteral("fpdesk"));
            p.database.host = text(s, QStringLiteral("database/host"), QStringLiteral("localhost"));
            bool ok = true;
            const QString port = text(s, QStringLiteral("database/port"), QStringLiteral("5432"));
            p.database.port = port.toInt(&ok);
            if (!ok || p.database.port <= 0) return fail(QStringLiteral("数据库端口无效：%1").arg(port));
            p.database.user = text(s, QStringLiteral("database/user"), QString());
            p.database.password = text(s, QStringLiteral("database/password"), QString());
            p.database.options = text(s, QStringLiteral("database/options"), QString());
        }
    }
    p.databasePassword = text(s, QStringLiteral("database/password"), QString());
    const auto demo = boolean(s, QStringLiteral("database/demo"), false);
    if (!demo) return fail(QStringLiteral("database/demo 应为 true 或 false"));
    p.demoData = *demo;

    // [host]
    for (const char* key : {"userid", "sysuserid", "sysusername", "nsrsbh", "ssswjgdm"})
        if (!s.contains(QStringLiteral("host/") + QLatin1String(key)))
            p.missingForServer << QStringLiteral("[host] ") + QLatin1String(key);
    if (!s.contains(QStringLiteral("server/password"))) p.missingForServer << QStringLiteral("[server] password");
    p.userid = text(s, QStringLiteral("host/userid"), p.userid);
    p.username = text(s, QStringLiteral("host/username"), p.username);
    p.sysuserid = text(s, QStringLiteral("host/sysuserid"), p.sysuserid);
    p.sysusername = text(s, QStringLiteral("host/sysusername"), p.sysusername);
    p.kprmc = text(s, QStringLiteral("host/kprmc"), QStringLiteral(""));
    p.nsrsbh = text(s, QStringLiteral("host/nsrsbh"), p.nsrsbh);
    p.nsrlxdh = text(s, QStringLiteral("host/nsrlxdh"), p.nsrlxdh);
    p.ssswjgdm = text(s, QStringLiteral("host/ssswjgdm"), p.ssswjgdm);

    // [server]
    const QString mode = text(s, QStringLiteral("server/mode"), QStringLiteral("inprocess")).toLower();
    if (mode == QLatin1String("inprocess")) {
        p.serverMode = ServerMode::InProcess;
    } else if (mode == QLatin1String("http")) {
        p.serverMode = ServerMode::Http;
    } else {
        return fail(QStringLiteral("server/mode 应为 inprocess 或 http：%1").arg(mode));
    }
    p.serverUrl = text(s, QStringLiteral("server/url"), QString());
    if (p.serverMode == ServerMode::Http && p.serverUrl.trimmed().isEmpty())
        return fail(QStringLiteral("server/mode 为 http 时须指定 server/url"));
    p.serverUser = text(s, QStringLiteral("server/user"), p.sysuserid);
    p.serverPassword = text(s, QStringLiteral("server/password"), demoText(demo::kPassword));
    QString storeDefault = QDir(defaultDataDir()).filePath(QStringLiteral("taxsim.db"));
    if (p.database.driver == QLatin1String("QSQLITE"))
        storeDefault = QFileInfo(p.database.database).absoluteDir().filePath(QStringLiteral("taxsim.db"));
    p.serverStore = QDir::cleanPath(base.absoluteFilePath(text(s, QStringLiteral("server/store"), storeDefault)));
    if (p.serverMode == ServerMode::Http) {
        const QString e = p.serverModeError();
        if (!e.isEmpty()) return fail(e);
    }
    bool ok = true;
    const QString unit = text(s, QStringLiteral("server/timeout_unit_ms"), QStringLiteral("100"));
    p.timeoutUnitMs = unit.toInt(&ok);
    if (!ok || p.timeoutUnitMs <= 0) return fail(QStringLiteral("server/timeout_unit_ms 无效：%1").arg(unit));
    return p;
}

QString Profile::serverModeError() const {
    if (missingForServer.isEmpty()) return QString();
    return QStringLiteral("配置文件 %1 指定了税务服务器，但缺少纳税人信息或登录凭据：%2。\r\n"
                          "请在配置文件中填写这些项目（参见 README 的“配置文件”一节）。")
        .arg(sourceFile, missingForServer.join(QStringLiteral("、")));
}

void Profile::applyTo(Session& s) const {
    s.gs_userid = userid;
    s.gs_username = username;
    s.gs_sysuserid = sysuserid;
    s.gs_sysusername = sysusername;
    s.gs_kprmc = kprmc.isNull() ? QStringLiteral("") : kprmc;
    s.gs_nsrsbh = nsrsbh;
    s.gs_nsrlxdh = nsrlxdh;
    s.gs_ssswjgdm = ssswjgdm;
}

} // namespace fp::app
