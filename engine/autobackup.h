// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Where the automatic configuration backups before an update or factory restore go:
// <data directory>/backups/<serial>/<yyyyMMdd-HHmmss>-<firmware version>.bkp (UTC time).
class DeviceFlash;

namespace AutoBackup {

constexpr int KeptPerAdapter = 10;

QString directory(const QString &dataDirectory, const QString &serial);
// A path in directory that no file takes yet: "-2", "-3", ... follow the version when a
// backup of the same second is there, so no earlier backup is ever replaced.
QString newFilePath(const QString &directory, const QDateTime &utc, const QString &version);
// The directory's backup files, oldest first.
QStringList files(const QString &directory);
// Removes the oldest backup files until keep are left, but never one of keepAlways (other
// files are left alone).
void prune(const QString &directory, const QStringList &keepAlways = {}, int keep = KeptPerAdapter);
// Removes what a killed process left of an atomic backup write ("<backup>.bkp.XXXXXX") in
// the adapters' folders under backupsRoot, once older than an hour.
void removeStaleTemporaries(const QString &backupsRoot, const QDateTime &now);

// Reads the configuration area as a backup does and saves it to a new file under the
// device's data directory, when the firmware keeps a configuration store (5.5.0 and later)
// and automatic backups are on (inside a task). False, after error(DeviceError_BackupFailure),
// when it could not be read or written: the caller must not erase anything then.
bool saveBeforeErase(DeviceFlash &device, QString *savedPath);

} // namespace AutoBackup
