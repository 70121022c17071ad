// SPDX-License-Identifier: GPL-3.0-or-later
#include "datadirectory.h"

#include "deviceflash.h"

#include <QStandardPaths>

QString cliDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool takeNoBackupOption(QStringList &args)
{
    return args.removeAll(QStringLiteral("--no-backup")) > 0;
}

void useDataDirectory(DeviceFlash &device, bool autoBackup)
{
    device.setDataDirectory(cliDataDirectory());
    device.setAutoBackupEnabled(autoBackup);
}
