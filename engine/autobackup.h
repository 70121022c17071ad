// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Where the automatic configuration backups before an update or factory restore go:
// <data directory>/backups/<serial>/<yyyyMMdd-HHmmss>-<firmware version>.bkp (UTC time).
namespace AutoBackup {

constexpr int KeptPerAdapter = 10;

QString directory(const QString &dataDirectory, const QString &serial);
// A path in directory that no file takes yet: "-2", "-3", ... follow the version when a
// backup of the same second is there, so no earlier backup is ever replaced.
QString newFilePath(const QString &directory, const QDateTime &utc, const QString &version);
// The directory's backup files, oldest first.
QStringList files(const QString &directory);
// Removes all but the newest keep backup files (other files are left alone).
void prune(const QString &directory, int keep = KeptPerAdapter);

} // namespace AutoBackup
