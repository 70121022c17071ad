// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingswriteguard.h"

#include "filelock.h"
#include "logcategories.h"
#include "privatefiles.h"

#include <QDebug>
#include <QDir>
#include <QSettings>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

SettingsWriteGuard::SettingsWriteGuard(const QSettings &settings)
{
    const QString path = settings.fileName();
    m_lock = PrivateFiles::open(path + QLatin1String(".writers"), O_RDWR | O_CREAT);
    if (m_lock < 0)
        return;
    if (FileLock::lockExclusive(m_lock, SettingsWriteGuard::MaxWaitMs) != 0) {
        qCWarning(lcCloud) << "SettingsWriteGuard cannot lock the settings file" << path;
        ::_close(m_lock);
        m_lock = -1;
        return;
    }
    // No writer that takes turns here holds QSettings' lock file now. One that is there was
    // left by a writer killed before it wrote its process id into it, and QSettings would
    // wait for it until it is 30 s old. Windows refuses the removal while any process holds
    // the file open, as a live QSettings writer does.
    DeleteFileW(QDir::toNativeSeparators(path + QLatin1String(".lock")).toStdWString().c_str());
}

SettingsWriteGuard::~SettingsWriteGuard()
{
    if (m_lock >= 0)
        ::_close(m_lock);
}
