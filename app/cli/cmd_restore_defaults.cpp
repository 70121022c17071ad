// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "datadirectory.h"
#include "everyadapter.h"
#include "flashreport.h"
#include "interruptguard.h"

#include "deviceflash.h"
#include "firmwarefile.h"
#include "updatejobs.h"

namespace {

int runRestoreDefaults(CliContext &ctx)
{
    QStringList args = ctx.args;
    const bool noBackup = takeNoBackupOption(args);
    bool all = false;
    bool force = false;
    if (!takeEveryAdapterOptions(ctx, args, &all, &force))
        return CliExit_Usage;
    if (args.size() != 2)
        return ctx.fail(CliExit_Usage,
            QStringLiteral("restore-defaults takes FILE and VERSION "
                           "(see restore-defaults --help)"));
    const QString path = args.at(0);
    const QString versionText = args.at(1);
    UpdateJobs::Version version;
    if (!UpdateJobs::parseVersionText(versionText, &version))
        return ctx.fail(CliExit_Usage,
            QStringLiteral("VERSION must be three dot-separated numbers, like 5.6.0 "
                           "(got '%1')")
                .arg(versionText));

    // The file is stored as it is, and the adapter's record will name VERSION: it must be an
    // image that update takes, of that version, before the adapter is touched.
    const FirmwareFileCheck check = checkFirmwareFile(path);
    if (check.unread() || check.problem == FirmwareFileCheck::NotAnImage)
        return ctx.fail(CliExit_Failed, check.reason);
    if (!check.image.isVersion(versionText))
        return ctx.fail(CliExit_Failed,
            QStringLiteral("%1 holds firmware %2, not %3; nothing was changed")
                .arg(path, check.image.versionText(), versionText));
    const UpdateJobs::RestoreGeneration generation = UpdateJobs::restoreGeneration(versionText);
    const qint64 size = check.content.size();
    const quint32 capacity = UpdateJobs::restoreCapacity(generation);
    if (quint64(size) > capacity)
        return ctx.fail(CliExit_Failed,
            QStringLiteral("%1 has %2 bytes, more than a factory restore of version "
                           "%3 holds (%4)")
                .arg(path)
                .arg(size)
                .arg(versionText)
                .arg(capacity));

    const QString target = UpdateJobs::versionText(version.major, version.minor, version.patch);
    // A factory restore resets the configuration whatever the version: none is left alone.
    if (all)
        return runOnEveryAdapter(ctx,
            { target, FlashImage { path, false }, !noBackup, false, false,
                [&path, &versionText](DeviceFlash &device) {
                    device.restoreFactorySettings(path, versionText);
                } });

    DeviceFlash device;
    const InterruptGuard interrupts(ctx, device);
    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;
    useDataDirectory(device, !noBackup);
    return runFlashOperation(
        device, ctx,
        [&device, &path, &versionText] { device.restoreFactorySettings(path, versionText); },
        target, FlashImage { path, false });
}

const CliRegistrar reg({ QStringLiteral("restore-defaults"),
    QStringLiteral("factory restore: default configuration and a firmware file"),
    QStringLiteral("Usage: corvane-cli [--json] restore-defaults [--no-backup] [--all] "
                   "FILE VERSION\n"
                   "Puts the adapter back to its factory state: saves the adapter's "
                   "configuration (firmware 5.5.0 and later) to a backup file in the "
                   "data directory and prints its path (nothing is erased when it "
                   "cannot be saved), then writes the default "
                   "configuration with VERSION and stores FILE, byte for byte, as the "
                   "factory firmware (from 0x08040000 for VERSION 5.5.0 and later, from "
                   "0x08020000 before), verifying every byte; then reads the "
                   "configuration back.\n"
                   "FILE must pass the checks of update, and VERSION must be its own "
                   "version, three dot-separated numbers; otherwise nothing is changed.\n"
                   "Shows a progress bar on a terminal (plain progress lines otherwise) "
                   "and prints the adapter's version and the bytes written.\n"
                   "With --json: one object with the keys version, bytesWritten and "
                   "backup (the backup file's path, or null).\n"
                   "With --all, every attached adapter is restored at once, whatever "
                   "version it runs, with its lines, table and --json object as update "
                   "--all gives them.\n"
                   "Do not unplug the adapter while it runs; when the write fails, "
                   "the message says how to recover. SIGINT (Ctrl+C), SIGTERM, SIGHUP, "
                   "SIGQUIT or any other signal that would end the program cancels it "
                   "before the erase (nothing is changed, exit 128 + the signal number); "
                   "from the erase on, the write runs to its end.\n"),
    &runRestoreDefaults,
    { { QStringLiteral("--no-backup"), QString(),
          QStringLiteral("do not save the configuration first") },
        { QStringLiteral("--all"), QString(),
            QStringLiteral("restore every attached adapter at once, each with its "
                           "own lock, backup, history line and result") } },
    cliExitCodes({ { CliExit_Ok, QStringLiteral("every byte written and verified") },
                     { CliExit_Failed,
                         QStringLiteral("the file was refused or the write failed (with "
                                        "--all: on any adapter)") } },
        CliExitSet_Adapter | CliExitSet_Interrupt) });

} // namespace
