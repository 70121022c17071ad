// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"

#include "deviceflash.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Write end of the pipe that turns SIGINT/SIGTERM into an event-loop wake-up.
int g_signalFd = -1;

void onSignal(int)
{
    const char byte = 1;
    if (g_signalFd >= 0)
        (void)!::write(g_signalFd, &byte, 1);
}

QString deviceText(DeviceFlash::Corvane device)
{
    return QStringLiteral("0x%1").arg(quint32(device), 4, 16, QLatin1Char('0'));
}

void printEvent(const CliContext &ctx, const QJsonObject &event, const QString &line)
{
    if (ctx.json)
        ctx.out << QJsonDocument(event).toJson(QJsonDocument::Compact) << Qt::endl;
    else
        ctx.out << line << Qt::endl;
}

int runWatch(CliContext &ctx)
{
    if (!ctx.args.isEmpty())
        return ctx.fail(
            CliExit_Usage, QStringLiteral("watch takes no arguments (see watch --help)"));

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return ctx.fail(CliExit_Failed, QStringLiteral("cannot set up signal handling"));
    g_signalFd = fds[0];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt = {};
    struct sigaction oldTerm = {};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);

    int code = CliExit_Ok;
    {
        DeviceFlash device;
        if (!device.isMonitoring()) {
            code = ctx.fail(CliExit_Failed,
                QStringLiteral("cannot follow device changes (udev monitor unavailable)"));
        } else {
            QEventLoop loop;
            QSocketNotifier stop(fds[1], QSocketNotifier::Read);
            QObject::connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);

            QObject::connect(&device, &DeviceFlash::deviceConnectStatusChanged, &loop,
                [&ctx, &device](bool connected, DeviceFlash::Corvane d) {
                    const QString what
                        = connected ? QStringLiteral("connected") : QStringLiteral("disconnected");
                    QJsonObject event;
                    event.insert(QStringLiteral("event"), what);
                    event.insert(QStringLiteral("device"), deviceText(d));
                    printEvent(ctx, event, QStringLiteral("%1 %2").arg(what, deviceText(d)));
                    // Watching must not keep the window or another command from the adapter.
                    if (connected)
                        device.closeDevice();
                });
            QObject::connect(&device, &DeviceFlash::deviceInUse, &loop, [&ctx](qint64 pid) {
                QJsonObject event;
                event.insert(QStringLiteral("event"), QStringLiteral("connected"));
                event.insert(QStringLiteral("device"), deviceText(DeviceFlash::Corvane_Adapter));
                event.insert(QStringLiteral("inUseBy"), double(pid));
                printEvent(ctx, event,
                    QStringLiteral("connected %1 (in use by another program, PID %2; not read)")
                        .arg(deviceText(DeviceFlash::Corvane_Adapter))
                        .arg(pid));
            });
            QObject::connect(
                &device, &DeviceFlash::deviceAccessDenied, &loop, [&ctx](const QString &node) {
                    QJsonObject event;
                    event.insert(QStringLiteral("event"), QStringLiteral("accessDenied"));
                    event.insert(QStringLiteral("node"), node);
                    printEvent(ctx, event,
                        QStringLiteral("access denied %1: %2").arg(node, udevRuleHint()));
                });
            // Reports an adapter that is already attached, then follows changes.
            device.setAnswerTimeout(ctx.answerTimeoutMs);
            device.openDevice();
            loop.exec();
        }
    }

    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    g_signalFd = -1;
    ::close(fds[0]);
    ::close(fds[1]);
    return code;
}

const CliRegistrar reg(
    { QStringLiteral("watch"), QStringLiteral("print adapter connect and disconnect events"),
        QStringLiteral("Usage: corvane-cli [--json] watch\n"
                       "Prints one line each time the adapter is connected or "
                       "disconnected, or is attached but cannot be opened, until "
                       "interrupted (Ctrl+C ends it with exit code 0). An adapter that "
                       "another program uses is reported without being read; the "
                       "adapter is closed again after each report.\n"
                       "With --json: one object per event with the key event "
                       "(connected, disconnected or accessDenied), device or node, and "
                       "inUseBy (a process id) for an adapter in use.\n"),
        &runWatch, {},
        cliExitCodes({ { CliExit_Ok, QStringLiteral("ended by SIGINT (Ctrl+C) or SIGTERM") },
            { CliExit_Failed, QStringLiteral("device changes cannot be followed") } }) });

} // namespace
