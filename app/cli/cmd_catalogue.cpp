// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlist.h"
#include "cli.h"
#include "clicatalogue.h"
#include "firmwareversion.h"
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
    const QStringList versions = cloud.firmwareVersions();
    const int newest = FirmwareVersion::newest(versions);
    // The list of a shell completion never waits for the adapter either.
    const QString installed = cachedOnly ? QString() : installedVersion(ctx);
    const auto isInstalled = [&installed, &versions](int i) {
        return !installed.isEmpty() && versions.at(i) == installed;
    };
    if (ctx.json) {
        QJsonArray firmware;
        for (int i = 0; i < entries.size(); ++i) {
            const QJsonObject entry = entries.at(i).toObject();
            firmware.append(QJsonObject {
                { QStringLiteral("version"), entry.value(QLatin1String("version")).toString() },
                { QStringLiteral("info"), entry.value(QLatin1String("info")).toString() },
                { QStringLiteral("download"), entry.value(QLatin1String("download")).toString() },
                { QStringLiteral("newest"), i == newest },
                { QStringLiteral("installed"), isInstalled(i) },
            });
        }
        const QJsonObject record { { QStringLiteral("synced"),
                                       fetch.source == CliCatalogue::ListSource::Network },
            { QStringLiteral("firmware"), firmware },
            { QStringLiteral("flashTool"), cloud.flashToolInfo() },
            { QStringLiteral("installedVersion"),
                installed.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(installed) } };
        ctx.out << jsonLine(QJsonDocument(record)) << Qt::endl;
        return CliExit_Ok;
    }

    if (entries.isEmpty())
        ctx.out << "The catalogue lists no firmware." << '\n';
    for (int i = 0; i < versions.size(); ++i) {
        const QString &version = versions.at(i);
        QStringList marks;
        if (i == newest)
            marks << QStringLiteral("newest");
        if (isInstalled(i))
            marks << QStringLiteral("installed");
        ctx.out << "Firmware "
                << (version.isEmpty() ? QStringLiteral("(no version)") : terminalText(version));
        if (!marks.isEmpty())
            ctx.out << " (" << marks.join(QStringLiteral(", ")) << ")";
        ctx.out << '\n';
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
        "lists its versions with their change logs, marking the newest and (unless --cached) "
        "the one the attached adapter runs as \"(newest)\" and \"(installed)\". When the catalogue "
        "cannot be reached, "
        "the list cached by an earlier run is shown and a note says so on standard error; "
        "with neither the command fails (exit 1).\n"
        "With --json: {\"synced\", \"firmware\": [{\"version\", \"info\", \"download\", "
        "\"newest\", \"installed\"}], \"flashTool\", \"installedVersion\"}; synced is false "
        "when the cached list is shown.\n"),
    &runCatalogue,
    { { QStringLiteral("--cached"), QString(),
        QStringLiteral("list the versions cached by an earlier run, without the network") } },
    cliExitCodes({ { CliExit_Ok, QStringLiteral("success") },
        { CliExit_Failed, QStringLiteral("neither the catalogue nor a cached list") } }),
});

} // namespace
