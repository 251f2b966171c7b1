#pragma once
// Runs the fpdesk executable as a user's shell would and keeps what it said.
#include "tests/app/core_app.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace fp::test {

struct CliRun {
    int exitCode = -1; // -1: crashed or did not end within a minute
    QString out, err;
    QByteArray raw; // standard output as written
};

inline CliRun fpdesk(const QStringList& args) {
    coreApp();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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

} // namespace fp::test
