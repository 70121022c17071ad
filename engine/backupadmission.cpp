// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupadmission.h"

#include "configrestore.h"
#include "firmwareversion.h"

BackupAdmission backupAdmission(const QString &path, const QByteArray &serialNumber,
    const QString &adapterVersion, quint32 heldSectors)
{
    BackupAdmission admission;
    if (adapterVersion.isEmpty()) {
        admission.verdict = BackupAdmission::UnknownVersion;
        return admission;
    }
    if (!FirmwareVersion::keepsConfigurationStore(adapterVersion)) {
        admission.verdict = BackupAdmission::NoConfigurationStore;
        return admission;
    }
    admission.file = BackupFile::read(path, serialNumber, adapterVersion);
    switch (admission.file.status) {
    case BackupFile::ReadStatus_Ok:
        break;
    case BackupFile::ReadStatus_Unreadable:
        admission.verdict = BackupAdmission::Unreadable;
        return admission;
    case BackupFile::ReadStatus_Corrupted:
        admission.verdict = BackupAdmission::Corrupted;
        return admission;
    case BackupFile::ReadStatus_UpdateRequired:
        admission.verdict = BackupAdmission::UpdateRequired;
        return admission;
    }
    // Without the firmware it was taken from, neither its layout nor a conversion is known.
    if (admission.file.version.isEmpty()) {
        admission.verdict = BackupAdmission::UnnamedFirmware;
        admission.reason = QStringLiteral("the backup's firmware record is unreadable");
        return admission;
    }
    admission.keepMacroLayout
        = ConfigRestore::keepMacroLayout(adapterVersion, admission.file.version);
    admission.verdict = ConfigRestore::validate(admission.file.data, admission.file.version,
                            admission.keepMacroLayout, heldSectors, &admission.reason)
        ? BackupAdmission::Admitted
        : BackupAdmission::DoesNotFit;
    return admission;
}
