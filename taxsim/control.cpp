// Control commands: faults, the clock and seed lines set from outside the
// process (POST /__control) or by a test. The grammar is at the top of
// service.h.
#include "taxsim/service_impl.h"

#include <QRegularExpression>

namespace taxsim {

namespace {

bool faultKind(const QString& name, Fault::Kind& kind) {
    static const std::pair<const char*, Fault::Kind> kinds[] = {
        {"delay", Fault::Kind::Delay},         {"refuse", Fault::Kind::Refuse}, {"http", Fault::Kind::HttpError},
        {"malformed", Fault::Kind::Malformed}, {"drop", Fault::Kind::Drop},     {"lost", Fault::Kind::LostReply},
    };
    for (const auto& [n, k] : kinds) {
        if (name == QLatin1String(n)) {
            kind = k;
            return true;
        }
    }
    return false;
}

int intOption(const QString& name, const QString& value) {
    bool ok = false;
    const int v = value.toInt(&ok);
    if (!ok) throw Refusal{name + QStringLiteral(" 不是整数：") + value};
    return v;
}

} // namespace

QString Service::Impl::control(const QString& commands) {
    const QString err = QString::fromLatin1(kErr);
    const QStringList lines = commands.split(QRegularExpression(QStringLiteral("\r?\n")));
    try {
        for (const QString& raw : lines) {
            const QString line = raw.trimmed();
            if (line.isEmpty()) continue;
            const int space = line.indexOf(QLatin1Char(' '));
            const QString verb = space < 0 ? line : line.left(space);
            const QString rest = space < 0 ? QString() : line.mid(space + 1).trimmed();
            if (verb == QLatin1String("ping")) {
                continue;
            } else if (verb == QLatin1String("clear")) {
                std::lock_guard<std::mutex> lock(stateMutex);
                faults.clear();
            } else if (verb == QLatin1String("time")) {
                std::function<QDateTime()> fixed;
                if (rest != QLatin1String("wall")) {
                    const QDateTime t = QDateTime::fromString(rest, QString::fromLatin1(kDateTimeFormat));
                    if (!t.isValid()) throw Refusal{QStringLiteral("时间格式有误：") + rest};
                    fixed = [t] { return t; };
                }
                std::lock_guard<std::mutex> lock(stateMutex);
                clock = std::move(fixed);
            } else if (verb == QLatin1String("seed")) {
                seedLine(rest);
            } else if (verb == QLatin1String("fault")) {
                // Options come as name=value words; text= takes the rest of the line.
                QString options = rest;
                QString text;
                const int textAt = options.indexOf(QLatin1String("text="));
                if (textAt >= 0) {
                    text = options.mid(textAt + 5);
                    options = options.left(textAt);
                }
                const QStringList words = options.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                if (words.isEmpty()) throw Refusal{QStringLiteral("fault 缺少故障类型")};
                Fault f;
                if (!faultKind(words.first(), f.kind))
                    throw Refusal{QStringLiteral("未知的故障类型：") + words.first()};
                f.text = text;
                int proc = 0;
                int times = 1;
                for (int i = 1; i < words.size(); ++i) {
                    const int eq = words[i].indexOf(QLatin1Char('='));
                    const QString name = eq < 0 ? words[i] : words[i].left(eq);
                    const QString value = eq < 0 ? QString() : words[i].mid(eq + 1);
                    if (name == QLatin1String("proc"))
                        proc = intOption(name, value);
                    else if (name == QLatin1String("times"))
                        times = intOption(name, value);
                    else if (name == QLatin1String("ms"))
                        f.delayMs = intOption(name, value);
                    else if (name == QLatin1String("status"))
                        f.httpStatus = intOption(name, value);
                    else
                        throw Refusal{QStringLiteral("未知的选项：") + words[i]};
                }
                if (times != 0) {
                    std::lock_guard<std::mutex> lock(stateMutex);
                    faults.push_back({f, proc, times});
                }
            } else {
                throw Refusal{QStringLiteral("未知的命令：") + verb};
            }
        }
    } catch (const Refusal& r) {
        return err + r.text;
    } catch (const DbError& e) {
        return err + QString::fromUtf8(e.what());
    }
    return QStringLiteral("ok");
}

} // namespace taxsim
