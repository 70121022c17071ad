// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

qint64 readOwner(int fd)
{
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = QByteArray(text, int(n)).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

} // namespace

AdapterLock::~AdapterLock()
{
    release();
}

QString AdapterLock::directory()
{
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return runtime + QLatin1String("/corvane-x9");
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QLatin1String("/locks");
}

QString AdapterLock::filePath(const QByteArray &devicePath)
{
    // Device paths hold slashes and colons; a digest gives every adapter a plain name.
    const QByteArray digest
        = QCryptographicHash::hash(devicePath, QCryptographicHash::Sha1).toHex().left(16);
    return directory() + QLatin1String("/adapter-") + QString::fromLatin1(digest)
        + QLatin1String(".lock");
}

AdapterLock::Result AdapterLock::acquire(const QByteArray &devicePath, qint64 *owner)
{
    if (owner)
        *owner = 0;
    if (m_fd >= 0 && m_devicePath == devicePath)
        return Acquired;
    release();

    const QString path = filePath(devicePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Unavailable;
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked < 0 && errno == EINTR);
    if (locked < 0) {
        const bool held = errno == EWOULDBLOCK;
        if (held && owner)
            *owner = readOwner(fd);
        ::close(fd);
        return held ? Held : Unavailable;
    }
    // The process id only serves the messages of others; the lock holds without it.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    const bool recorded = ::ftruncate(fd, 0) == 0
        && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    Q_UNUSED(recorded)
    m_fd = fd;
    m_devicePath = devicePath;
    return Acquired;
}

void AdapterLock::release()
{
    if (m_fd < 0)
        return;
    // The file stays: removing it could let two programs lock two different files.
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_devicePath.clear();
}
