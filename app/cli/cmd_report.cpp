// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlist.h"
#include "cli.h"
#include "datadirectory.h"

#include "appidentity.h"
#include "logfile.h"
#include "operationhistory.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

constexpr int HistoryLines = 10;
constexpr int LogLines = 200;

// A serial number as "0011…aabb": enough to tell the adapters of a report apart.
QString shortenSerials(const QString &text)
{
    static const QRegularExpression serial(QStringLiteral("\\b([0-9A-Fa-f]{4})[0-9A-Fa-f]{16}"
                                                          "([0-9A-Fa-f]{4})\\b"));
    QString shortened = text;
    return shortened.replace(serial, QStringLiteral("\\1…\\2"));
}

int runReport(CliContext &ctx)
{
    if (!ctx.args.isEmpty())
        return ctx.fail(
            CliExit_Usage, QStringLiteral("report takes no arguments (see report --help)"));

    QStringList lines;
    lines << QStringLiteral("```")
          << QStringLiteral("%1 %2 (corvane-cli, Qt %3)")
                 .arg(AppIdentity::applicationName(), AppIdentity::applicationVersion(),
                     QLatin1String(qVersion()))
          << QStringLiteral("system: %1; kernel %2 %3; %4")
                 .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                     QSysInfo::kernelVersion(), QSysInfo::currentCpuArchitecture());

    const QList<AttachedAdapter> adapters = attachedAdapters();
    lines << QStringLiteral("adapters: %1").arg(adapters.size());
    for (const AttachedAdapter &adapter : adapters) {
        const AdapterProbe probe = probeAdapter(adapter, ctx);
        lines << QStringLiteral("  %1  %2  %3")
                     .arg(QString::fromLocal8Bit(probe.path),
                         probe.serial.isEmpty() ? QStringLiteral("-") : probe.serial,
                         probe.version.isEmpty() ? probe.error : probe.version);
    }

    QList<QJsonObject> history
        = OperationHistory::readLines(OperationHistory::filePath(cliDataDirectory()));
    history = history.mid(qMax(0, int(history.size()) - HistoryLines));
    lines << QStringLiteral("history (last %1 lines):").arg(history.size());
    for (const QJsonObject &entry : qAsConst(history))
        lines << QLatin1String("  ")
                + QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact));

    const QStringList log = LogFile::lastLines(LogLines);
    lines << QStringLiteral("log (last %1 lines of %2):").arg(log.size()).arg(LogFile::directory());
    for (const QString &line : log)
        lines << QLatin1String("  ") + line;
    lines << QStringLiteral("```");

    for (const QString &line : qAsConst(lines))
        ctx.out << terminalText(shortenSerials(line)) << '\n';
    ctx.out.flush();
    return CliExit_Ok;
}

const CliRegistrar reg({ QStringLiteral("report"),
    QStringLiteral("print what a bug report needs, in one block to paste"),
    QStringLiteral("Usage: corvane-cli report\n"
                   "Prints, between two lines of ``` so that it pastes as one block into a "
                   "bug report: the tool's version, the system, the attached adapters with "
                   "their versions, the last 10 lines of the operation history and the last "
                   "200 lines of the log files of both programs (in $XDG_STATE_HOME/corvane-x9/, "
                   "by default ~/.local/state/corvane-x9/). Serial numbers are shortened to "
                   "their first and last four digits. An adapter that another program holds "
                   "is named without being asked anything.\n"),
    &runReport, {}, cliExitCodes({ { CliExit_Ok, QStringLiteral("success") } }) });

} // namespace
