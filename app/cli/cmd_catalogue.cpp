// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"
#include "clicatalogue.h"
#include "syncloud.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// Change logs separate their lines with ";".
void printLines(QTextStream &out, const QString &text, const QString &indent)
{
    const QStringList lines = text.split(QLatin1Char(';'));
    for (const QString &line : lines) {
        if (!line.trimmed().isEmpty())
            out << indent << terminalText(line.trimmed()) << '\n';
    }
}

int runCatalogue(CliContext &ctx)
{
    QStringList args = ctx.args;
    const bool cachedOnly = args.removeAll(QStringLiteral("--cached")) > 0;
    if (!args.isEmpty())
        return ctx.fail(CliExit_Usage,
            QStringLiteral("unexpected argument '%1' (see catalogue --help)").arg(args.first()));

    SyncCloud cloud;
    CliCatalogue::CatalogueFetch fetch;
    if (cachedOnly) {
        // Shell completion lists versions this way, so it never waits for the network.
        cloud.loadCachedInformation();
        if (cloud.firmwareInfo().isEmpty())
            return ctx.fail(CliExit_Failed, QStringLiteral("no firmware list is cached yet"));
        fetch.source = CliCatalogue::ListSource::Cache;
    } else {
        fetch = CliCatalogue::fetchCatalogue(cloud);
    }
    if (fetch.source == CliCatalogue::ListSource::None)
        return ctx.fail(CliExit_Failed, fetch.problem);
    if (!fetch.problem.isEmpty())
        ctx.note(fetch.problem);

    const QJsonArray entries = cloud.firmwareInfo();
    if (ctx.json) {
        QJsonArray firmware;
        for (const QJsonValue &value : entries) {
            const QJsonObject entry = value.toObject();
            firmware.append(QJsonObject {
                { QStringLiteral("version"), entry.value(QLatin1String("version")).toString() },
                { QStringLiteral("info"), entry.value(QLatin1String("info")).toString() },
                { QStringLiteral("download"), entry.value(QLatin1String("download")).toString() },
            });
        }
        const QJsonObject record { { QStringLiteral("synced"),
                                       fetch.source == CliCatalogue::ListSource::Network },
            { QStringLiteral("firmware"), firmware },
            { QStringLiteral("flashTool"), cloud.flashToolInfo() } };
        ctx.out << jsonLine(QJsonDocument(record)) << Qt::endl;
        return CliExit_Ok;
    }

    if (entries.isEmpty())
        ctx.out << "The catalogue lists no firmware." << '\n';
    const QStringList versions = cloud.firmwareVersions();
    for (int i = 0; i < versions.size(); ++i) {
        const QString &version = versions.at(i);
        ctx.out << "Firmware "
                << (version.isEmpty() ? QStringLiteral("(no version)") : terminalText(version))
                << '\n';
        printLines(ctx.out, cloud.firmwareInfoText(i), QStringLiteral("    "));
    }
    const QJsonObject tool = cloud.flashToolInfo();
    const QString toolVersion = tool.value(QLatin1String("version")).toString();
    if (!toolVersion.isEmpty()) {
        ctx.out << "Firmware tool " << terminalText(toolVersion) << " (this is "
                << QCoreApplication::applicationVersion() << ")" << '\n';
        printLines(ctx.out, tool.value(QLatin1String("info")).toString(), QStringLiteral("    "));
    }
    ctx.out.flush();
    return CliExit_Ok;
}

const CliRegistrar registrar({
    QStringLiteral("catalogue"),
    QStringLiteral("list the firmware versions of the catalogue with their change logs"),
    QStringLiteral(
        "Usage: corvane-cli [--json] catalogue [--cached] [--catalogue URL]\n"
        "Fetches the firmware catalogue (from the server of --catalogue URL when given) and "
        "lists its versions with their change logs. When the catalogue cannot be reached, "
        "the list cached by an earlier run is shown and a note says so on standard error; "
        "with neither the command fails (exit 1).\n"
        "With --json: {\"synced\", \"firmware\": [{\"version\", \"info\", \"download\"}], "
        "\"flashTool\"}; synced is false when the cached list is shown.\n"),
    &runCatalogue,
    { { QStringLiteral("--cached"), QString(),
        QStringLiteral("list the versions cached by an earlier run, without the network") } },
    cliExitCodes({ { CliExit_Ok, QStringLiteral("success") },
        { CliExit_Failed, QStringLiteral("neither the catalogue nor a cached list") } }),
});

} // namespace
