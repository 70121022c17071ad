// SPDX-License-Identifier: GPL-3.0-or-later
#include "privatefiles.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFiles {

namespace {

    constexpr mode_t FileMode = 0600;
    constexpr mode_t DirectoryMode = 0700;
    // As many links as the kernel follows in one path.
    constexpr int MaxLinks = 40;

    bool fail(QString *errorString, const QString &text)
    {
        if (errorString)
            *errorString = text;
        return false;
    }

    QString systemError(int error)
    {
        return QString::fromLocal8Bit(std::strerror(error));
    }

    QString parentOf(const QString &absolute)
    {
        const int slash = absolute.lastIndexOf(QLatin1Char('/'));
        return slash <= 0 ? QStringLiteral("/") : absolute.left(slash);
    }

} // namespace

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}

bool makeDirectory(const QString &path, QString *errorString)
{
    const QByteArray native = QFile::encodeName(QDir::cleanPath(QDir(path).absolutePath()));
    for (int end = 1; end <= native.size(); ++end) {
        if (end < native.size() && native.at(end) != '/')
            continue;
        const QByteArray prefix = native.left(end);
        if (::mkdir(prefix.constData(), DirectoryMode) == 0)
            ::chmod(prefix.constData(), DirectoryMode); // the umask may have taken owner bits
        else if (errno != EEXIST)
            return fail(
                errorString, QFile::decodeName(prefix) + QLatin1String(": ") + systemError(errno));
    }
    struct stat info = {};
    if (::stat(native.constData(), &info) != 0)
        return fail(errorString, path + QLatin1String(": ") + systemError(errno));
    if (!S_ISDIR(info.st_mode))
        return fail(errorString, path + QLatin1String(" is not a directory"));
    if (info.st_uid != ::geteuid())
        return fail(errorString, path + QLatin1String(" belongs to another user"));
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), info.st_mode & 0700) != 0)
        return fail(errorString, path + QLatin1String(": ") + systemError(errno));
    return true;
}

int open(const QString &path, int flags)
{
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(native.constData(), flags | O_CLOEXEC, FileMode);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0)
        restrict(fd);
    return fd;
}

void close(int fd)
{
    ::close(fd);
}

qint64 size(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 ? qint64(info.st_size) : -1;
}

bool readAt(int fd, qint64 offset, char *data, int length)
{
    return ::pread(fd, data, size_t(length), off_t(offset)) == length;
}

bool sync(int fd)
{
    return ::fdatasync(fd) == 0;
}

bool isFileAt(int fd, const QString &path)
{
    struct stat open = {};
    struct stat named = {};
    return ::fstat(fd, &open) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0
        && open.st_ino == named.st_ino && open.st_dev == named.st_dev;
}

QString stateDirectory()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG_STATE_HOME is ignored when it is a relative path, as XDG asks.
    return QDir::isAbsolutePath(state) ? state : QDir::homePath() + QStringLiteral("/.local/state");
}

bool restrict(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 07777) == FileMode)
        return true;
    return ::fchmod(fd, FileMode) == 0;
}

bool restrict(QFileDevice &file)
{
    const int fd = file.handle();
    if (fd >= 0)
        return restrict(fd);
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool restrict(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(native.constData(), &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 07777) == FileMode)
        return true;
    return ::chmod(native.constData(), FileMode) == 0;
}

QString runtimeDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat info = {};
    if (runtime.startsWith('/') && ::stat(runtime.constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700) {
        const QString directory = QFile::decodeName(runtime) + QLatin1String("/corvane-x9");
        if (makeDirectory(directory))
            return directory;
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty()) {
        const QString directory = cache + QLatin1String("/corvane-x9");
        if (makeDirectory(directory))
            return directory;
    }
    return QString();
}

QString resolveForWriting(const QString &path, QString *errorString)
{
    if (path.isEmpty()) {
        fail(errorString, QStringLiteral("no file name"));
        return QString();
    }
    // Walked component by component as the kernel would, checking every link on the way.
    QStringList pending
        = (path.startsWith(QLatin1Char('/')) ? path : QDir::currentPath() + QLatin1Char('/') + path)
              .split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString resolved = QStringLiteral("/");
    int links = 0;
    while (!pending.isEmpty()) {
        const QString name = pending.takeFirst();
        if (name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            resolved = parentOf(resolved);
            continue;
        }
        const QString next
            = resolved == QLatin1String("/") ? resolved + name : resolved + QLatin1Char('/') + name;
        const QByteArray native = QFile::encodeName(next);
        struct stat link = {};
        if (::lstat(native.constData(), &link) != 0) {
            // The file itself may be missing: writing creates it.
            if (errno == ENOENT && pending.isEmpty())
                return next;
            fail(errorString, next + QLatin1String(": ") + systemError(errno));
            return QString();
        }
        if (!S_ISLNK(link.st_mode)) {
            resolved = next;
            continue;
        }
        // Only this user's links and the system's (root's) are followed: whoever made any
        // other one, wherever it sits, could turn the write onto another of the user's files.
        if (link.st_uid != ::geteuid() && link.st_uid != 0) {
            struct stat directory = {};
            const bool shared = ::stat(QFile::encodeName(resolved).constData(), &directory) == 0
                && (directory.st_mode & S_ISVTX) && (directory.st_mode & S_IWOTH);
            fail(errorString,
                QStringLiteral("refusing to write through the symbolic link %1: another user made "
                               "it%2")
                    .arg(next,
                        shared ? QStringLiteral(" in a directory that every user can write to")
                               : QString()));
            return QString();
        }
        if (++links > MaxLinks) {
            fail(errorString, next + QLatin1String(": ") + systemError(ELOOP));
            return QString();
        }
        const qint64 capacity = qBound(qint64(1), qint64(link.st_size), qint64(65536)) + 1;
        QByteArray target(int(capacity), '\0');
        const ssize_t length = ::readlink(native.constData(), target.data(), size_t(target.size()));
        if (length < 0 || length >= target.size()) {
            fail(errorString,
                next + QLatin1String(": ") + systemError(length < 0 ? errno : ENAMETOOLONG));
            return QString();
        }
        target.truncate(int(length));
        if (target.startsWith('/'))
            resolved = QStringLiteral("/");
        pending = QFile::decodeName(target).split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
    }
    return resolved;
}

bool writeAtomically(
    const QString &path, const QByteArray &bytes, QString *errorString, bool replace)
{
    const QString target = resolveForWriting(path, errorString);
    if (target.isEmpty())
        return false;
    const QByteArray finalName = QFile::encodeName(target);
    QByteArray temporary = finalName + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errorString, systemError(errno));
    bool ok = restrict(fd) && writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok) {
        if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, finalName.constData(),
                replace ? 0 : RENAME_NOREPLACE)
            == 0)
            return true;
        error = errno;
    }
    ::unlink(temporary.constData());
    errno = error;
    return fail(errorString, systemError(error));
}

} // namespace PrivateFiles
