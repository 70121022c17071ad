// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcategories.h"
#include "settingswriteguard.h"

#include "filelock.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

int openNoInterrupt(const QByteArray &path, int flags)
{
    int fd;
    do
        fd = ::open(path.constData(), flags | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A live QSettings writer holds a lock on its lock file from right after creating it; a
// lock file that can be locked here belongs to nobody.
void removeAbandonedLockFile(const QString &settingsPath)
{
    const QByteArray lockPath = QFile::encodeName(settingsPath + QLatin1String(".lock"));
    const int fd = openNoInterrupt(lockPath, O_WRONLY);
    if (fd < 0)
        return;
    if (FileLock::lockExclusive(fd, 0) == 0) {
        if (::unlink(lockPath.constData()) == 0)
            qCInfo(lcCloud) << "SettingsWriteGuard removed an abandoned lock file" << lockPath;
    }
    ::close(fd);
}

} // namespace

SettingsWriteGuard::SettingsWriteGuard(const QSettings &settings)
{
    const QString path = settings.fileName();
    m_lock = openNoInterrupt(
        QFile::encodeName(QFileInfo(path).absolutePath()), O_RDONLY | O_DIRECTORY);
    if (m_lock < 0)
        return;
    if (FileLock::lockExclusive(m_lock, SettingsWriteGuard::MaxWaitMs) != 0) {
        qCWarning(lcCloud) << "SettingsWriteGuard cannot lock the settings directory" << path;
        ::close(m_lock);
        m_lock = -1;
        return;
    }
    removeAbandonedLockFile(path);
}

SettingsWriteGuard::~SettingsWriteGuard()
{
    if (m_lock >= 0)
        ::close(m_lock);
}
