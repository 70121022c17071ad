// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backupfile.h"

#include <QByteArray>
#include <QString>

// Whether a backup file may be written back to an adapter, decided before the adapter is
// touched: the adapter keeps a configuration store, the file verifies for this adapter and is
// not newer than its firmware, and the backup's blocks fit.
struct BackupAdmission
{
    enum Verdict {
        Admitted,
        UnknownVersion, // the adapter's firmware version could not be read
        NoConfigurationStore, // firmware below 5.5.0
        Unreadable, // the file cannot be opened, or is empty
        Corrupted, // damaged, or made on another adapter
        UpdateRequired, // a backup of a newer major.minor than the adapter's firmware
        DoesNotFit, // verifies, but its length fields would not build a restore
        UnnamedFirmware, // verifies, but its firmware record is unreadable: its layout is unknown
    };

    Verdict verdict = Unreadable;
    BackupFile::ReadResult file;
    // How the macros are written: kept in the backup's layout or converted.
    bool keepMacroLayout = false;
    // Why the blocks do not fit (DoesNotFit), in English for the log.
    QString reason;

    bool admitted() const { return verdict == Admitted; }
};

// Checks the backup file at path for the adapter with that serial number running
// adapterVersion (empty when unknown), whose firmware occupies heldSectors (one bit per
// sector, FlashLayout::FirmwareRecord::firmwareSectors()): the blocks there are left out.
BackupAdmission backupAdmission(const QString &path, const QByteArray &serialNumber,
    const QString &adapterVersion, quint32 heldSectors = 0);
