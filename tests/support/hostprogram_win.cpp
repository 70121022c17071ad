// SPDX-License-Identifier: GPL-3.0-or-later
// Under Wine the script runs on the Linux side: the host runner that the test launcher started
// (tools/scripts/host-runner.py, its port and token in CORVANE_HOST_RUNNER) starts it for one
// JSON line and relays its output in JSON lines; the runner ends it when asked or when the
// connection closes.
#include "hostprogram.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

struct HostProgram::Private
{
    QTcpSocket socket;
    QByteArray output; // standard output not read yet
    bool started = false;
    QString refusal;
    bool exited = false;
    int exitCode = -1;

    // Takes in what the runner sent; waits up to timeoutMs for more when nothing was there.
    bool receive(int timeoutMs)
    {
        if (!socket.canReadLine() && !socket.waitForReadyRead(timeoutMs))
            return false;
        while (socket.canReadLine()) {
            const QJsonObject message = QJsonDocument::fromJson(socket.readLine()).object();
            if (message.contains(QLatin1String("started"))) {
                started = true;
            } else if (message.contains(QLatin1String("out"))) {
                output += QByteArray::fromBase64(
                    message.value(QLatin1String("out")).toString().toLatin1());
            } else if (message.contains(QLatin1String("exit"))) {
                exited = true;
                // A negative code: ended by that signal.
                exitCode = qMax(-1, message.value(QLatin1String("exit")).toInt(-1));
            } else {
                refusal = message.value(QLatin1String("error"))
                              .toString(QStringLiteral("an answer that is not the runner's"));
                exited = true;
            }
        }
        return true;
    }
};

HostProgram::HostProgram() : d(new Private) { }

HostProgram::~HostProgram()
{
    if (d->socket.state() != QAbstractSocket::ConnectedState)
        return;
    // Any further line asks the runner to end the program; its exit follows.
    d->socket.write("end\n");
    d->socket.waitForBytesWritten(3000);
    QDeadlineTimer deadline(6000);
    while (!d->exited && !deadline.hasExpired()
        && d->socket.state() == QAbstractSocket::ConnectedState)
        d->receive(int(qMax<qint64>(1, deadline.remainingTime())));
    d->socket.abort();
}

bool HostProgram::start(const QString &script, const QStringList &arguments, QString *error)
{
    auto failed = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QList<QByteArray> runner = qgetenv("CORVANE_HOST_RUNNER").split(' ');
    if (runner.size() != 2)
        return failed(QStringLiteral("no host runner to start %1 (CORVANE_HOST_RUNNER is set by "
                                     "the test launcher, wine-run.sh)")
                          .arg(script));
    // Paths with their drive, which the runner maps to the Linux side's.
    const auto withDrive = [](const QString &text) {
        return QDir::isAbsolutePath(text)
            ? QDir::toNativeSeparators(QFileInfo(text).absoluteFilePath())
            : text;
    };
    QJsonArray args;
    for (const QString &argument : arguments)
        args.append(withDrive(argument));
    const QJsonObject request { { QStringLiteral("token"), QString::fromLatin1(runner.at(1)) },
        { QStringLiteral("program"), withDrive(script) }, { QStringLiteral("arguments"), args } };

    d->socket.connectToHost(QHostAddress::LocalHost, quint16(runner.at(0).toUInt()));
    if (!d->socket.waitForConnected(5000))
        return failed(
            QStringLiteral("the host runner does not answer: %1").arg(d->socket.errorString()));
    d->socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    if (!d->socket.waitForBytesWritten(5000))
        return failed(QStringLiteral("the host runner does not take the request"));
    QDeadlineTimer deadline(30000);
    while (!d->started && !d->exited && !deadline.hasExpired()
        && d->socket.state() == QAbstractSocket::ConnectedState)
        d->receive(int(qMax<qint64>(1, deadline.remainingTime())));
    if (!d->started)
        return failed(
            QStringLiteral("the host runner did not start %1: %2")
                .arg(script, d->refusal.isEmpty() ? d->socket.errorString() : d->refusal));
    return true;
}

bool HostProgram::isRunning() const
{
    return d->socket.state() == QAbstractSocket::ConnectedState && !d->exited;
}

bool HostProgram::readLine(QByteArray *line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!d->output.contains('\n') && !d->exited && !deadline.hasExpired()
        && d->socket.state() == QAbstractSocket::ConnectedState)
        d->receive(int(qMax<qint64>(1, deadline.remainingTime())));
    const int end = d->output.indexOf('\n');
    if (end < 0)
        return false;
    *line = d->output.left(end);
    d->output.remove(0, end + 1);
    return true;
}

int HostProgram::waitForExit(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!d->exited && !deadline.hasExpired()
        && d->socket.state() == QAbstractSocket::ConnectedState)
        d->receive(int(qMax<qint64>(1, deadline.remainingTime())));
    return d->exited ? d->exitCode : -1;
}
