// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class DeviceFlash;

// The data directory shared with the window (history, automatic backups, cache).
QString cliDataDirectory();
// Removes "--no-backup" from args; true when it was there.
bool takeNoBackupOption(QStringList &args);
// Sets the device's data directory, with the automatic backup unless noBackup.
void useDataDirectory(DeviceFlash &device, bool autoBackup);
