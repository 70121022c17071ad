// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostprogram.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>

struct HostProgram::Private
{
    QProcess process;
};

HostProgram::HostProgram() : d(new Private) { }

HostProgram::~HostProgram()
{
    if (d->process.state() == QProcess::NotRunning)
        return;
    d->process.terminate();
    if (!d->process.waitForFinished(3000)) {
        d->process.kill();
        d->process.waitForFinished(3000);
    }
}

bool HostProgram::start(const QString &script, const QStringList &arguments, QString *error)
{
    QString interpreter;
    QStringList options;
    if (script.endsWith(QLatin1String(".py"))) {
        // The system's interpreter first: a version manager's shim on PATH runs a chain of
        // shell scripts first, which can take longer than a test's start-up allowance on a
        // loaded machine.
        interpreter = QStandardPaths::findExecutable(
            QStringLiteral("python3"), { QStringLiteral("/usr/bin"), QStringLiteral("/bin") });
        if (interpreter.isEmpty())
            interpreter = QStandardPaths::findExecutable(QStringLiteral("python3"));
        options = QStringList { QStringLiteral("-u") };
    } else {
        interpreter = QStandardPaths::findExecutable(QStringLiteral("bash"));
    }
    if (interpreter.isEmpty()) {
        if (error)
            *error = QStringLiteral("no interpreter for %1").arg(script);
        return false;
    }
    d->process.setProgram(interpreter);
    d->process.setArguments(options + QStringList { script } + arguments);
    d->process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    d->process.start();
    if (!d->process.waitForStarted(5000)) {
        if (error)
            *error = QStringLiteral("did not start: %1").arg(d->process.errorString());
        return false;
    }
    return true;
}

bool HostProgram::isRunning() const
{
    return d->process.state() == QProcess::Running;
}

bool HostProgram::readLine(QByteArray *line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!d->process.canReadLine() && !deadline.hasExpired()
        && d->process.state() == QProcess::Running)
        d->process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    if (!d->process.canReadLine())
        return false;
    *line = d->process.readLine();
    line->chop(line->endsWith('\n') ? 1 : 0);
    return true;
}

int HostProgram::waitForExit(int timeoutMs)
{
    if (!d->process.waitForFinished(timeoutMs) && d->process.state() != QProcess::NotRunning)
        return -1;
    return d->process.exitStatus() == QProcess::NormalExit ? d->process.exitCode() : -1;
}
