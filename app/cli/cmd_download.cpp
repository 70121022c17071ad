// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"
#include "clicatalogue.h"

#include <QJsonObject>

namespace {

int runDownload(CliContext &ctx)
{
    QStringList args = ctx.args;
    const bool refresh = args.removeAll(QStringLiteral("--refresh")) > 0;
    if (args.size() != 1)
        return ctx.fail(
            CliExit_Usage, QStringLiteral("download takes one VERSION (see download --help)"));
    const QString version = args.first();

    ctx.addFields({ { QStringLiteral("version"), version } });
    const CliCatalogue::FirmwareFetch fetch = CliCatalogue::fetchForCommand(ctx, version, refresh);
    if (fetch.path.isEmpty())
        return CliExit_Failed;

    if (ctx.json) {
        ctx.printRecord(QJsonObject { { QStringLiteral("version"), version },
                            { QStringLiteral("path"), fetch.path },
                            { QStringLiteral("downloaded"), fetch.downloaded } },
            {});
    } else {
        ctx.out << fetch.path << Qt::endl;
    }
    return CliExit_Ok;
}

const CliRegistrar registrar({
    QStringLiteral("download"),
    QStringLiteral("fetch a catalogue firmware version into the cache and print its path"),
    QStringLiteral(
        "Usage: corvane-cli [--json] download [--refresh] VERSION [--catalogue URL]\n"
        "Prints the path of the cached image of VERSION, downloading it first when it is not "
        "cached yet (the catalogue, or the cached list when the network fails, gives its "
        "address; --catalogue URL names another server).\n"
        "With --json: {\"version\", \"path\", \"downloaded\"}.\n"),
    &runDownload,
    { { QStringLiteral("--refresh"), QString(),
        QStringLiteral("download VERSION even when it is cached, and take its bytes as the ones "
                       "to expect from now on") } },
    cliExitCodes({ { CliExit_Ok, QStringLiteral("the image is in the cache") },
        { CliExit_Failed,
            QStringLiteral("a version the catalogue does not list, a failed download, an image "
                           "that update would refuse or that holds another version, or a "
                           "download whose bytes differ from those first downloaded for "
                           "VERSION") } }),
});

} // namespace
