// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "datadirectory.h"
#include "flashreport.h"
#include "interruptguard.h"

#include "backupadmission.h"
#include "configrestore.h"
#include "deviceflash.h"
#include "firmwareversion.h"
#include "logcategories.h"

#include <QDebug>
#include <QJsonObject>
#include <QStringList>

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
        if (FirmwareVersion::isCompatible(file.version, adapterVersion))
            return QStringLiteral("%1 cannot be restored: its blocks do not fit the adapter's "
                                  "flash (the backup is damaged); nothing was written. Restore "
                                  "another backup")
                .arg(path);
        return QStringLiteral("%1 cannot be restored: this backup was taken from firmware %2 and "
                              "cannot be converted for firmware %3; nothing was written. Restore "
                              "a backup taken from firmware %3 instead")
            .arg(path, file.version, adapterVersion);
    case BackupAdmission::UnnamedFirmware:
        return QStringLiteral("%1 cannot be restored: the adapter's firmware was lost when this "
                              "backup was saved, so it does not say how its settings are laid "
                              "out; nothing was written. Restore a backup saved while the adapter "
                              "worked")
            .arg(path);
    }
    return QString();
}

// The blocks of the backup that a restore leaves out where firmware lies, for the record.
QString leftOutText(quint32 leftOut)
{
    QStringList names;
    if (leftOut & 1u << ConfigRestore::Block_Sector4)
        names.append(QStringLiteral("sector-4 block"));
    if (leftOut & 1u << ConfigRestore::Block_Macro)
        names.append(QStringLiteral("macros"));
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
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
    const quint32 held = device.firmwareRecord().firmwareSectors();
    const BackupAdmission admission
        = backupAdmission(path, device.serialNumber(), adapterVersion, held);
    if (!admission.admitted()) {
        if (!admission.reason.isEmpty())
            qCInfo(lcCli).noquote() << "restore refused:" << admission.reason;
        return ctx.fail(CliExit_Failed, refusalText(admission, path, adapterVersion));
    }
    const BackupFile::ReadResult &read = admission.file;
    const bool keep = admission.keepMacroLayout;
    const quint32 leftOut = ConfigRestore::leftOutBlocks(read.data.constData(),
        read.data.size() - BackupFile::DigestLength, ConfigRestore::isLayout1(read.version), held);

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
    record.insert(QStringLiteral("leftOut"), leftOutText(leftOut));
    ctx.printRecord(record,
        { QStringLiteral("backupVersion"), QStringLiteral("adapterVersion"),
            QStringLiteral("macrosConverted"), QStringLiteral("bytesWritten"),
            QStringLiteral("leftOut") });
    return CliExit_Ok;
}

const CliRegistrar reg({ QStringLiteral("restore"),
    QStringLiteral("write a configuration backup file back to the adapter"),
    QStringLiteral("Usage: corvane-cli [--json] restore IN.bkp\n"
                   "Checks IN.bkp (made by backup on this same adapter) and writes its "
                   "settings, sector blocks and macros back, verifying every byte. The "
                   "adapter keeps its own firmware information. Macros of an older "
                   "layout are converted when the adapter's firmware needs it. Flash "
                   "where firmware lies (an update's firmware from 0x08010000, on the "
                   "adapter or where the backup was taken) is neither erased nor "
                   "written: the blocks there are left out.\n"
                   "Refused, with nothing written: a damaged file or one of another "
                   "adapter (\"Corrupted file/Unauthorized !\"), a backup of a newer "
                   "major.minor than the adapter's firmware (\"Firmware Update "
                   "Required ( >= X.Y.Z) !\"), firmware below 5.5.0, a backup saved "
                   "while the adapter's firmware was lost, and one that cannot be "
                   "converted for the adapter's firmware.\n"
                   "Prints the backup's and the adapter's versions, whether macros "
                   "were converted, the bytes written and the blocks left out.\n"
                   "With --json: one object with the keys backupVersion, "
                   "adapterVersion, macrosConverted, bytesWritten and leftOut.\n"
                   "Do not unplug the adapter while it runs.\n"),
    &runRestore, {},
    cliExitCodes({ { CliExit_Ok, QStringLiteral("every byte written and verified") },
                     { CliExit_Failed, QStringLiteral("refused or the write failed") } },
        CliExitSet_Adapter | CliExitSet_Interrupt) });

} // namespace
