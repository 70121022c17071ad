// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "datadirectory.h"
#include "flashreport.h"
#include "interruptguard.h"

#include "backupadmission.h"
#include "deviceflash.h"

#include <QJsonObject>

namespace {

// Why `restore` refuses the backup file at path; nothing has been written then.
QString refusalText(
    const BackupAdmission &admission, const QString &path, const QString &adapterVersion)
{
    const BackupFile::ReadResult &file = admission.file;
    switch (admission.verdict) {
    case BackupAdmission::Admitted:
        break;
    case BackupAdmission::UnknownVersion:
        return QStringLiteral("could not read the adapter's firmware version");
    case BackupAdmission::NoConfigurationStore:
        return QStringLiteral("firmware %1 keeps no configuration store; a restore needs 5.5.0 "
                              "or later")
            .arg(adapterVersion);
    case BackupAdmission::Unreadable:
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString);
    case BackupAdmission::Corrupted:
        return QStringLiteral("%1: Corrupted file/Unauthorized ! (the file is damaged or was made "
                              "on another adapter); nothing was written")
            .arg(path);
    case BackupAdmission::UpdateRequired:
        return QStringLiteral("%1: Firmware Update Required %2 The backup is of firmware %3, the "
                              "adapter runs %4; nothing was written")
            .arg(path, BackupFile::requiredVersionText(file.version), file.version, adapterVersion);
    case BackupAdmission::DoesNotFit:
        return QStringLiteral("%1 cannot be restored: %2; nothing was written")
            .arg(path, admission.reason);
    }
    return QString();
}

int runRestore(CliContext &ctx)
{
    if (ctx.args.size() != 1)
        return ctx.fail(
            CliExit_Usage, QStringLiteral("restore needs exactly one IN.bkp (see restore --help)"));
    const QString path = ctx.args.first();

    DeviceFlash device;
    const InterruptGuard interrupts(ctx, device);
    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;
    useDataDirectory(device, false); // the history line
    const QString adapterVersion = device.version();
    const BackupAdmission admission = backupAdmission(path, device.serialNumber(), adapterVersion);
    if (!admission.admitted())
        return ctx.fail(CliExit_Failed, refusalText(admission, path, adapterVersion));
    const BackupFile::ReadResult &read = admission.file;
    const bool keep = admission.keepMacroLayout;

    const FlashOutcome outcome
        = watchFlashWrite(device, ctx, &DeviceFlash::dataStoreProgressChanged,
            [&device, &read] { device.dataRestore(read.data, read.version); });
    const QString failure = flashFailure(outcome);
    if (!failure.isEmpty()) {
        const int code = ctx.fail(CliExit_Failed, failure);
        adviseAfterConfigWrite(ctx, device, adapterVersion);
        return code;
    }
    const qlonglong total = outcome.total;

    QJsonObject record;
    record.insert(QStringLiteral("backupVersion"), read.version);
    record.insert(QStringLiteral("adapterVersion"), adapterVersion);
    record.insert(QStringLiteral("macrosConverted"), !keep);
    record.insert(QStringLiteral("bytesWritten"), double(total));
    ctx.printRecord(record,
        { QStringLiteral("backupVersion"), QStringLiteral("adapterVersion"),
            QStringLiteral("macrosConverted"), QStringLiteral("bytesWritten") });
    return CliExit_Ok;
}

const CliRegistrar reg({ QStringLiteral("restore"),
    QStringLiteral("write a configuration backup file back to the adapter"),
    QStringLiteral("Usage: corvane-cli [--json] restore IN.bkp\n"
                   "Checks IN.bkp (made by backup on this same adapter) and writes its "
                   "settings, sector blocks and macros back, verifying every byte. The "
                   "adapter keeps its own firmware information. Macros of an older "
                   "layout are converted when the adapter's firmware needs it.\n"
                   "Refused, with nothing written: a damaged file or one of another "
                   "adapter (\"Corrupted file/Unauthorized !\"), a backup of a newer "
                   "major.minor than the adapter's firmware (\"Firmware Update "
                   "Required ( >= X.Y.Z) !\"), firmware below 5.5.0, and a backup whose "
                   "block lengths do not fit.\n"
                   "Prints the backup's and the adapter's versions, whether macros "
                   "were converted and the bytes written.\n"
                   "With --json: one object with the keys backupVersion, "
                   "adapterVersion, macrosConverted and bytesWritten.\n"
                   "Do not unplug the adapter while it runs.\n"),
    &runRestore, {},
    cliExitCodes({ { CliExit_Ok, QStringLiteral("every byte written and verified") },
                     { CliExit_Failed, QStringLiteral("refused or the write failed") } },
        CliExitSet_Adapter | CliExitSet_Interrupt) });

} // namespace
