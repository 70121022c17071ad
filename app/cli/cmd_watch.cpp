// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterwatch.h"
#include "cli.h"

#include <QEventLoop>
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
        AdapterWatch watch(ctx);
        if (!watch.isMonitoring()) {
            code = ctx.fail(CliExit_Failed,
                QStringLiteral("cannot follow device changes (udev monitor unavailable)"));
        } else {
            QEventLoop loop;
            QSocketNotifier stop(fds[1], QSocketNotifier::Read);
            QObject::connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            // Reports the adapters already attached, then follows changes.
            watch.start();
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
                       "Prints one line for every adapter attached at the start and each "
                       "time an adapter is connected or disconnected, or is attached but "
                       "cannot be opened, naming it by serial number and device path, until "
                       "interrupted (Ctrl+C ends it with exit code 0). An adapter that "
                       "another program uses is reported without being read; each "
                       "adapter is closed again after its report.\n"
                       "With --json: one object per event with the keys event "
                       "(connected, disconnected or accessDenied), device, serial, path, "
                       "version, node for an adapter that cannot be opened, and inUseBy (a "
                       "process id) for an adapter in use.\n"),
        &runWatch, {},
        cliExitCodes({ { CliExit_Ok, QStringLiteral("ended by SIGINT (Ctrl+C) or SIGTERM") },
            { CliExit_Failed, QStringLiteral("device changes cannot be followed") } }) });

} // namespace
