// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlock.h"

#include "filelock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int OwnerTextMax = 31;

// A directory that nobody but its owner (the user, or root where allowed) may write in.
bool isPrivateDirectory(const QByteArray &path, bool rootMayOwn)
{
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    const bool owned = st.st_uid == ::geteuid() || (rootMayOwn && st.st_uid == 0);
    return owned && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QByteArray parentOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QString systemError(const QByteArray &path, int error)
{
    return QStringLiteral("%1: %2").arg(QFile::decodeName(path), qt_error_string(error));
}

// What the lock is taken on: a descriptor, or why there is none.
struct Target
{
    int fd = -1;
    AdapterLock::Result failure = AdapterLock::Failed;
    QString error;
};

// The adapter's node itself, opened only to be locked: never read or written.
Target openNode(const QByteArray &path)
{
    Target target;
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.constData(), flags | O_NOFOLLOW);
    int error = fd < 0 ? errno : 0;
    // A link is followed only to a character device and only where nobody but root or the
    // user could have put it, as a mocked kernel puts its nodes; a real node is none.
    bool followed = false;
    if (error == ELOOP) {
        if (!isPrivateDirectory(parentOf(path), true)) {
            target.error = QStringLiteral("%1: a symbolic link in a directory others may write in")
                               .arg(QFile::decodeName(path));
            return target;
        }
        followed = true;
        fd = ::open(path.constData(), flags);
        error = fd < 0 ? errno : 0;
    }
    if (fd < 0) {
        target.failure
            = error == EACCES || error == EPERM ? AdapterLock::Denied : AdapterLock::Failed;
        target.error = systemError(path, error);
        return target;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || (S_ISREG(st.st_mode) && !followed))) {
        ::close(fd);
        target.error = QStringLiteral("%1: not a device node").arg(QFile::decodeName(path));
        return target;
    }
    target.fd = fd;
    return target;
}

// Paths that name no file: a lock file of the user's own, in the private directory only.
Target openLockFile(const QByteArray &devicePath)
{
    Target target;
    const QString directory = AdapterLock::directory();
    if (directory.isEmpty()) {
        target.error = QStringLiteral("no private directory for the adapter's lock "
                                      "($XDG_RUNTIME_DIR or the data directory)");
        return target;
    }
    const QByteArray path = QFile::encodeName(
        directory + QLatin1Char('/') + AdapterLock::baseName(devicePath) + QLatin1String(".lock"));
    const int fd
        = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        target.error = systemError(path, errno);
        return target;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        target.error
            = QStringLiteral("%1: not a lock file of this user").arg(QFile::decodeName(path));
        return target;
    }
    target.fd = fd;
    return target;
}

Target openTarget(const QByteArray &devicePath)
{
    return devicePath.startsWith('/') ? openNode(devicePath) : openLockFile(devicePath);
}

QByteArray pidFilePath(const QByteArray &devicePath)
{
    const QString directory = AdapterLock::directory();
    if (directory.isEmpty())
        return QByteArray();
    return QFile::encodeName(directory + QLatin1Char('/') + AdapterLock::pidFileName(devicePath));
}

qint64 readOwner(const QByteArray &path)
{
    if (path.isEmpty())
        return 0;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    char text[OwnerTextMax + 1] = {};
    ssize_t n = 0;
    struct stat st
    {
    };
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::pread(fd, text, OwnerTextMax, 0);
    ::close(fd);
    if (n <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = QByteArray(text, int(n)).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return 0;
    // A holder that ended without removing the file holds nothing.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

// Never writes into an existing file: a new one is renamed over the name, which replaces a
// stale file, or a link without touching its target, in one step. A directory in the way
// stays, and the others' message then says "another program".
void writeOwner(const QByteArray &path)
{
    if (path.isEmpty())
        return;
    const QByteArray pid = QByteArray::number(qint64(::getpid()));
    const QByteArray temporary = path + '.' + pid;
    ::unlink(temporary.constData()); // left behind by an earlier process with this id
    const int fd = ::open(temporary.constData(),
        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return;
    const QByteArray text = pid + '\n';
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    if (!written || ::rename(temporary.constData(), path.constData()) != 0)
        ::unlink(temporary.constData());
}

} // namespace

AdapterLock::Result AdapterLock::take(const QByteArray &devicePath, qint64 *owner)
{
    const Target target = openTarget(devicePath);
    if (target.fd < 0) {
        m_error = target.error;
        return target.failure;
    }
    const int error = FileLock::lockExclusive(target.fd, 0);
    if (error != 0) {
        ::close(target.fd);
        if (error == EWOULDBLOCK) {
            if (owner)
                *owner = readOwner(pidFilePath(devicePath));
            return Held;
        }
        m_error = systemError(devicePath, error);
        return Failed;
    }
    m_handle = target.fd;
    m_devicePath = devicePath;
    m_pidPath = pidFilePath(devicePath);
    writeOwner(m_pidPath);
    return Acquired;
}

AdapterLock::Result AdapterLock::probe(const QByteArray &devicePath)
{
    const Target target = openTarget(devicePath);
    if (target.fd < 0)
        return target.failure;
    const int error = FileLock::lockExclusive(target.fd, 0);
    // Closing the only descriptor gives back a lock it took.
    ::close(target.fd);
    return error == 0 ? Acquired : error == EWOULDBLOCK ? Held : Failed;
}

void AdapterLock::release()
{
    if (!isHeld())
        return;
    // The process id goes first, so nobody reads it once the adapter is free. A lock file
    // stays: removing it could let two programs lock two different files.
    if (readOwner(m_pidPath) == qint64(::getpid()))
        ::unlink(m_pidPath.constData());
    const int fd = int(m_handle);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    m_handle = -1;
    m_devicePath.clear();
    m_pidPath.clear();
}
