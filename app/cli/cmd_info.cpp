// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "adapterlist.h"
#include "cli.h"
#include "clicatalogue.h"
#include "datadirectory.h"
#include "flashreport.h"
#include "logcategories.h"

#include "deviceflash.h"
#include "firmwareversion.h"
#include "operationhistory.h"
#include "syncloud.h"

#include <QJsonObject>

namespace {

// The newest version of the live catalogue, waiting no longer than the network time-out; ""
// when it cannot be had then (the cached list says nothing of what is published now).
QString newestPublished()
{
    SyncCloud cloud;
    const CliCatalogue::CatalogueFetch fetch
        = CliCatalogue::fetchCatalogue(cloud, SyncCloud::defaultTransferTimeout());
    if (fetch.source != CliCatalogue::ListSource::Network) {
        qCInfo(lcCli).noquote() << "no update check:" << fetch.problem;
        return {};
    }
    const QStringList versions = cloud.firmwareVersions();
    return versions.value(FirmwareVersion::newest(versions));
}

int runInfo(CliContext &ctx)
{
    if (!ctx.args.isEmpty())
        return ctx.fail(CliExit_Usage, QStringLiteral("info takes no arguments (see info --help)"));
    if (ctx.adapter.isEmpty() && attachedAdapters().size() > 1)
        return printEveryAdapter(ctx);

    DeviceFlash device;
    bool firmwareLost = false;
    QObject::connect(
        &device, &DeviceFlash::error, &device,
        [&firmwareLost](
            DeviceError e) { firmwareLost = firmwareLost || e == DeviceError_FirmwareLost; },
        Qt::DirectConnection);

    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;

    const QString serial = QString::fromLatin1(device.serialNumber());
    const QString version = device.version();
    // The firmware record is written first: a half-written adapter announces the new version.
    const OperationHistory::Standing standing
        = OperationHistory::standingIn(cliDataDirectory(), serial);
    if (version.isEmpty()) {
        if (firmwareLost)
            return ctx.fail(CliExit_Failed,
                QStringLiteral("adapter %1 has no valid firmware information record "
                               "(its firmware is lost; run an update)")
                    .arg(serial));
        return ctx.fail(CliExit_Failed, QStringLiteral("could not read the adapter's information"));
    }

    QJsonObject record;
    record.insert(QStringLiteral("serial"), serial);
    record.insert(QStringLiteral("version"), version);
    record.insert(QStringLiteral("supportsBootMode"), device.isSupportBootMode());
    record.insert(QStringLiteral("supportsDataStore"), device.isSupportDataStore());
    record.insert(QStringLiteral("unfinished"), standing.unfinished);
    QStringList order { QStringLiteral("serial"), QStringLiteral("version") };
    if (standing.unfinished) {
        const QJsonObject &failed = standing.failedOperation;
        const QString image = failed.value(QStringLiteral("image")).toString();
        QString state = unfinishedText();
        if (failed.value(QStringLiteral("operation")).toString() == QLatin1String("update")
            && !image.isEmpty())
            state += QStringLiteral(": ")
                + adviceCommand(ctx, device,
                    QStringList { QStringLiteral("update") }
                        + versionGuardOptions(
                            version, failed.value(QStringLiteral("toVersion")).toString(), true)
                        + QStringList { image });
        record.insert(QStringLiteral("state"), state);
        order.append(QStringLiteral("state"));
    }
    // The adapter is let go first: the catalogue may take up to the network time-out.
    device.closeDevice();
    const QString latest = newestPublished();
    if (!latest.isEmpty()) {
        const bool newer = FirmwareVersion::compare(latest, version) > 0;
        record.insert(QStringLiteral("latest"), latest);
        record.insert(QStringLiteral("updateAvailable"), newer);
        record.insert(QStringLiteral("update"),
            newer ? QStringLiteral("update available: %1").arg(latest)
                  : QStringLiteral("up to date"));
        order.append(QStringLiteral("update"));
    }
    ctx.printRecord(record, order);
    return CliExit_Ok;
}

const CliRegistrar reg({ QStringLiteral("info"),
    QStringLiteral("show the adapter's serial number and firmware version"),
    QStringLiteral("Usage: corvane-cli [--json] [--adapter SERIAL|PATH] info\n"
                   "Opens the attached adapter and prints its serial number "
                   "(24 hexadecimal digits) and firmware version, then, when the "
                   "catalogue answers within the network time-out, \"update: up to "
                   "date\" or \"update: update available: VERSION\" (the newest "
                   "version it lists).\n"
                   "An adapter whose last write did not finish (by the history) is "
                   "marked \"last write did not finish: run the update again\", with the "
                   "command where the history names the image, whatever version it "
                   "announces.\n"
                   "With --json: one object with the keys serial, version, "
                   "supportsBootMode, supportsDataStore and unfinished (and state when it "
                   "is), and with the catalogue's answer latest, updateAvailable and "
                   "update.\n"
                   "With several adapters attached and no --adapter: the path, serial "
                   "number and version of each (--json: a list of objects, with the keys "
                   "of list and the two above).\n"),
    &runInfo, {},
    cliExitCodes({ { CliExit_Ok, QStringLiteral("success") },
                     { CliExit_Failed, QStringLiteral("the information could not be read") },
                     { CliExit_Usage, QStringLiteral("usage error") } },
        CliExitSet_Adapter) });

} // namespace
