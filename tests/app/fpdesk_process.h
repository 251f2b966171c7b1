#pragma once
// Runs the fpdesk executable as a user's shell would and keeps what it said.
#include "tests/app/core_app.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

namespace fp::test {

struct CliRun {
    int exitCode = -1; // -1: crashed or did not end within a minute
    QString out, err;
    QByteArray raw; // standard output as written
};

// The environment of the test with `changes` applied: a value sets a
// variable, a null QString removes it.
inline QProcessEnvironment environmentWith(const QList<std::pair<QString, QString>>& changes) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : changes) {
        if (value.isNull())
            env.remove(name);
        else
            env.insert(name, value);
    }
    return env;
}

// A machine without a display: no platform named, no X or Wayland server.
inline QProcessEnvironment withoutDisplay() {
    return environmentWith({{QStringLiteral("QT_QPA_PLATFORM"), QString()},
                            {QStringLiteral("DISPLAY"), QString()},
                            {QStringLiteral("WAYLAND_DISPLAY"), QString()}});
}

inline CliRun fpdesk(const QStringList& args, const QProcessEnvironment& env) {
    coreApp();
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FPDESK_EXE), args);
    CliRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.raw = p.readAllStandardOutput();
    r.out = QString::fromUtf8(r.raw);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Offscreen: windows and paint need no display.
inline CliRun fpdesk(const QStringList& args) {
    return fpdesk(args, environmentWith({{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}}));
}

} // namespace fp::test
