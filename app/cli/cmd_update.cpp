// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "clicatalogue.h"
#include "datadirectory.h"
#include "everyadapter.h"
#include "firmwarefile.h"
#include "flashreport.h"
#include "interruptguard.h"
#include "readbackreport.h"

#include "deviceflash.h"
#include "firmwareversion.h"
#include "operationhistory.h"

namespace {

// Why writing image over the installed version needs an option, naming it; "" when it does
// not. The same version is written again without --force while the adapter's last write is
// unfinished (the adapter may announce a version whose payload is only half there).
QString versionGuard(
    const QString &installed, const QString &image, bool allowOlder, bool force, bool unfinished)
{
    if (installed.isEmpty())
        return {};
    const int order = FirmwareVersion::compare(image, installed);
    if (order < 0 && !allowOlder)
        return QStringLiteral("the adapter runs %1, newer than the image's %2; --allow-older "
                              "writes the older version")
            .arg(installed, image);
    if (order == 0 && !force && !unfinished)
        return QStringLiteral("the adapter already runs %1; --force writes it again")
            .arg(installed);
    return {};
}

int runUpdate(CliContext &ctx)
{
    QStringList args = ctx.args;
    const bool noBackup = takeNoBackupOption(args);
    const bool verify = args.removeAll(QStringLiteral("--verify")) > 0;
    const bool allowOlder = args.removeAll(QStringLiteral("--allow-older")) > 0;
    // With or without --all: taken here, before --all's own check of it.
    const bool force = args.removeAll(QStringLiteral("--force")) > 0;
    bool all = false;
    bool unused = false;
    if (!takeEveryAdapterOptions(ctx, args, &all, &unused))
        return CliExit_Usage;
    const CliCatalogue::FirmwareSource source
        = CliCatalogue::takeFirmwareSource(ctx, args, QStringLiteral("update"));
    if (source.exitCode != CliExit_Ok)
        return source.exitCode;
    const QString &version = source.version;
    const QString &path = source.path;

    // The image is checked before the adapter is touched; the update checks it again.
    const FirmwareFileCheck check = checkFirmwareFile(path);
    if (!check.accepted())
        return ctx.fail(CliExit_Failed, check.reason);
    const QString imageVersion = check.image.versionText();
    if (all)
        return runOnEveryAdapter(ctx,
            { imageVersion, FlashImage { path, !version.isEmpty() }, !noBackup, verify, !force,
                [&path, &version](DeviceFlash &device) { device.updateFirmware(path, version); },
                !allowOlder });

    DeviceFlash device;
    const InterruptGuard interrupts(ctx, device);
    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;
    const QString refusal = versionGuard(device.version(), imageVersion, allowOlder, force,
        OperationHistory::standingIn(cliDataDirectory(), QString::fromLatin1(device.serialNumber()))
            .unfinished);
    if (!refusal.isEmpty())
        return ctx.fail(CliExit_Usage, refusal);
    useDataDirectory(device, !noBackup);
    device.setVerifyAfterWrite(verify);
    const ReadBackReport readBack(device, ctx, true);
    return runFlashOperation(
        device, ctx, [&device, &path, &version] { device.updateFirmware(path, version); },
        imageVersion, FlashImage{path, !version.isEmpty()},
        verify ? [&readBack](QJsonObject &record) { return readBack.checkAfterWrite(record); }
               : std::function<QString(QJsonObject &)>());
}

const CliRegistrar reg({ QStringLiteral("update"),
    QStringLiteral("write a firmware file (*.rfw, *.bin) into the adapter"),
    QStringLiteral("Usage: corvane-cli [--json] update [--no-backup] [--verify] "
                   "[--allow-older] [--force] [--all] FILE\n"
                   "       corvane-cli [--json] update [--no-backup] [--verify] "
                   "[--allow-older] [--force] [--all] --version VERSION\n"
                   "An image older than the adapter's firmware is written only with "
                   "--allow-older, and the version the adapter runs only with --force "
                   "(or while its last write is unfinished); otherwise the command exits "
                   "with 2, naming the option, and nothing is written.\n"
                   "With --version, takes the catalogue's image of VERSION from the "
                   "firmware cache, downloading it first when needed (from the server "
                   "of --catalogue URL when given); an image that holds another "
                   "version is refused.\n"
                   "Checks the firmware image, saves the adapter's configuration "
                   "(firmware 5.5.0 and later) to a backup file in the data directory "
                   "and prints its path, erases the adapter's firmware "
                   "sectors, writes and verifies every byte, and reads the firmware "
                   "information back. When the configuration cannot be saved, nothing "
                   "is erased.\n"
                   "Shows a progress bar on a terminal (plain progress lines otherwise) "
                   "and prints the adapter's new version and the bytes written "
                   "(with --verify also \"verified: true\"; with --quiet also the "
                   "backup's path). Success is the new version read back; a signal "
                   "during --verify's read-back stops only the read-back (exit 128 + "
                   "the signal number).\n"
                   "With --json: one object with the keys version, bytesWritten and "
                   "backup (the backup file's path, or null), and with --verify "
                   "verified.\n"
                   "With --all, each adapter's lines are prefixed by its serial number "
                   "(on a terminal: one progress line per adapter), then a table gives "
                   "each adapter's result: success, skipped (it runs that version, or a "
                   "newer one), failed, cancelled or in use. With --json and --all: one object "
                   "whose key adapters holds one "
                   "object per adapter with the keys serial, path, result, fromVersion, "
                   "version, bytesWritten, backup and error.\n"
                   "Do not unplug the adapter while it runs; when the write fails, "
                   "the message says how to recover. SIGINT (Ctrl+C), SIGTERM, SIGHUP, "
                   "SIGQUIT or any other signal that would end the program cancels it "
                   "before the erase (nothing is changed, exit 128 + the signal number); "
                   "from the erase on, the write runs to its end.\n"),
    &runUpdate,
    { { QStringLiteral("--version"), QStringLiteral("VERSION"),
          QStringLiteral("write the catalogue's image of VERSION") },
        { QStringLiteral("--no-backup"), QString(),
            QStringLiteral("do not save the configuration first") },
        { QStringLiteral("--verify"), QString(),
            QStringLiteral("after the write, read every region back and compare "
                           "it with the image as verify does (takes about as long "
                           "again)") },
        { QStringLiteral("--all"), QString(),
            QStringLiteral("write every attached adapter at once, each with its "
                           "own lock, backup, history line and result; those that "
                           "already run the image's version are read back and left "
                           "alone when every byte matches (unless their last write "
                           "did not finish)") },
        { QStringLiteral("--allow-older"), QString(),
            QStringLiteral("write an image older than the adapter's firmware") },
        { QStringLiteral("--force"), QString(),
            QStringLiteral("write the version the adapter already runs") } },
    cliExitCodes({ { CliExit_Ok,
                       QStringLiteral("every byte written and verified "
                                      "and the new version read back "
                                      "(with --all: on every adapter "
                                      "not left alone)") },
                     { CliExit_Failed,
                         QStringLiteral("the file was refused or the write failed "
                                        "(with --all: on any adapter)") },
                     { CliExit_Usage,
                         QStringLiteral("usage error; an older image without --allow-older "
                                        "or the same version without --force; several "
                                        "adapters and no --adapter (nothing was written)") } },
        CliExitSet_Adapter | CliExitSet_Interrupt) });

} // namespace
