// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "clicatalogue.h"
#include "firmwarefile.h"
#include "flashreport.h"
#include "readbackreport.h"

#include "deviceflash.h"

#include <QJsonObject>
#include <QObject>

namespace {

int runVerify(CliContext &ctx)
{
    QStringList args = ctx.args;
    const CliCatalogue::FirmwareSource source
        = CliCatalogue::takeFirmwareSource(ctx, args, QStringLiteral("verify"));
    if (source.exitCode != CliExit_Ok)
        return source.exitCode;
    const QString &version = source.version;
    const QString &path = source.path;

    // The same checks as an update's, before the adapter is touched.
    const FirmwareFileCheck check = checkFirmwareFile(path);
    if (!check.accepted())
        return ctx.fail(CliExit_Failed, check.reason);
    const QString imageVersion = check.image.versionText();

    DeviceFlash device;
    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;

    QList<DeviceError> errors;
    QObject context;
    QObject::connect(
        &device, &DeviceFlash::error, &context, [&errors](DeviceError e) { errors.append(e); });
    ReadBackReport report(device, ctx, false);
    device.verifyFirmware(path);
    waitUntilIdle(device);
    report.finishLine();

    // The file may have changed since it was checked.
    if (!errors.isEmpty())
        return ctx.fail(CliExit_Failed, deviceErrorText(errors.first()));
    if (!report.complete())
        return ctx.fail(CliExit_Failed, report.failureText());

    const bool matches = report.matches();
    if (ctx.json) {
        QJsonObject result;
        result.insert(QStringLiteral("matches"), matches);
        result.insert(QStringLiteral("version"), imageVersion);
        result.insert(QStringLiteral("regions"), report.regionsJson());
        if (!matches)
            result.insert(QStringLiteral("error"),
                QStringLiteral("differs from %1 at %2").arg(path, report.differenceText()));
        ctx.printRecord(result, {});
    } else if (matches) {
        ctx.out << "matches " << terminalText(path) << " (version " << imageVersion << ")"
                << Qt::endl;
    } else {
        ctx.out << "differs from " << terminalText(path) << " at " << report.differenceText()
                << Qt::endl;
    }
    if (matches)
        return CliExit_Ok;
    // The update named must pass its version guard: a half-written adapter announces the
    // image's version, and the image may be older than what the adapter runs.
    QStringList update { QStringLiteral("update") };
    update += versionGuardOptions(device.version(), imageVersion, false);
    update += version.isEmpty() ? QStringList { path }
                                : QStringList { QStringLiteral("--version"), version };
    ctx.warn(
        QStringLiteral("to write the image again: %1").arg(adviceCommand(ctx, device, update)));
    return CliExit_Failed;
}

const CliRegistrar reg(
    { QStringLiteral("verify"), QStringLiteral("compare the adapter's flash with a firmware file"),
        QStringLiteral("Usage: corvane-cli [--json] verify FILE\n"
                       "       corvane-cli [--json] verify --version VERSION\n"
                       "Checks the firmware image as update does, then reads back from "
                       "the adapter every region that an update with it writes and "
                       "compares it with the image; when the adapter's firmware record "
                       "names firmware that restore-defaults stored, the stored file and "
                       "the record's address, version and length instead. Nothing is "
                       "erased or written.\n"
                       "With --version, takes the catalogue's image of VERSION from the "
                       "firmware cache, downloading it first when needed (from the server "
                       "of --catalogue URL when given).\n"
                       "Of the firmware information record, only what the image "
                       "determines is compared: the payload's address, the version, the "
                       "payload's length and its MD5 digest. The record's signature bytes "
                       "and the configuration stored after it belong to the adapter and "
                       "are left out.\n"
                       "Shows a progress bar on a terminal, then prints \"matches FILE "
                       "(version V)\", or \"differs from FILE at ADDRESS (N bytes differ "
                       "in K regions)\" with the first differing address and the advice "
                       "to write the image again with update.\n"
                       "With --json: one object with the keys matches, version and "
                       "regions, a list of objects with the keys address, length, "
                       "differing (bytes) and firstDifference (an address, or null).\n"),
        &runVerify,
        { { QStringLiteral("--version"), QStringLiteral("VERSION"),
            QStringLiteral("compare with the catalogue's image of VERSION") } },
        cliExitCodes({ { CliExit_Ok, QStringLiteral("the adapter holds the image") },
                         { CliExit_Failed,
                             QStringLiteral("it differs, the file was refused or a read "
                                            "failed") } },
            CliExitSet_Adapter) });

} // namespace
