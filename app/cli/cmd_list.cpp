// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlist.h"
#include "cli.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

constexpr int SerialWidth = 24;

int runList(CliContext &ctx)
{
    if (!ctx.args.isEmpty())
        return ctx.fail(CliExit_Usage, QStringLiteral("list takes no arguments (see list --help)"));

    QList<AdapterProbe> probes;
    for (const AttachedAdapter &adapter : attachedAdapters())
        probes.append(probeAdapter(adapter, ctx));

    if (ctx.json) {
        QJsonArray array;
        for (const AdapterProbe &probe : qAsConst(probes))
            array.append(probe.json());
        ctx.out << jsonLine(QJsonDocument(array)) << Qt::endl;
        return CliExit_Ok;
    }
    if (probes.isEmpty()) {
        ctx.out << "no Corvane X9 adapter is attached" << Qt::endl;
        return CliExit_Ok;
    }
    int pathWidth = 0;
    for (const AdapterProbe &probe : qAsConst(probes))
        pathWidth = qMax(pathWidth, int(QFile::decodeName(probe.path).size()));
    for (const AdapterProbe &probe : qAsConst(probes)) {
        const QString serial = probe.serial.isEmpty() ? QStringLiteral("-") : probe.serial;
        QString state = probe.version.isEmpty() ? probe.error : probe.version;
        if (probe.unfinished)
            state += QStringLiteral(" (%1)").arg(unfinishedText());
        ctx.out << terminalText(QStringLiteral("%1  %2  %3")
                                    .arg(QFile::decodeName(probe.path), -pathWidth)
                                    .arg(serial, -SerialWidth)
                                    .arg(state))
                << Qt::endl;
    }
    return CliExit_Ok;
}

const CliRegistrar reg({ QStringLiteral("list"),
    QStringLiteral("list the attached adapters: path, serial number, version"),
    QStringLiteral("Usage: corvane-cli [--json] list\n"
                   "Prints one line for each attached adapter: its device path (what "
                   "--adapter takes, as does its serial number), its serial number and "
                   "its firmware version. An adapter that another program holds is "
                   "named with \"in use by PID n\" and is sent nothing (its serial "
                   "number is the one the system lists); one that cannot be opened is "
                   "named with the reason.\n"
                   "An adapter whose last write did not finish (by the history) is marked "
                   "\"last write did not finish: run the update again\", whatever version "
                   "it announces.\n"
                   "With --json: a list of objects with the keys path, serial, version, "
                   "inUseBy (a process id), error, null where they do not apply, and "
                   "unfinished; a usage error gives one object with error and exitCode.\n"),
    &runList, {},
    cliExitCodes({ { CliExit_Ok, QStringLiteral("the adapters were listed (also none)") } }) });

} // namespace
