// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterwatch.h"
#include "cli.h"
#include "stoprequests.h"

#include <QEventLoop>

namespace {

int runWatch(CliContext &ctx)
{
    if (!ctx.args.isEmpty())
        return ctx.fail(
            CliExit_Usage, QStringLiteral("watch takes no arguments (see watch --help)"));

    // Ctrl+C or SIGTERM end the watch (exit code 0).
    StopRequests stop(StopRequests::interruptSignals());
    if (!stop.isInstalled())
        return ctx.fail(CliExit_Failed,
            QStringLiteral("cannot set up signal handling: %1").arg(stop.errorString()));

    int code = CliExit_Ok;
    {
        AdapterWatch watch(ctx);
        if (!watch.isMonitoring()) {
            code = ctx.fail(CliExit_Failed,
                QStringLiteral(
                    "cannot follow device changes (the system's device notifications are "
                    "unavailable)"));
        } else {
            QEventLoop loop;
            QObject::connect(&stop, &StopRequests::requested, &loop, &QEventLoop::quit);
            // Reports the adapters already attached, then follows changes.
            watch.start();
            loop.exec();
        }
    }

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
