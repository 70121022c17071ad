// SPDX-License-Identifier: GPL-3.0-or-later
// The guard's system objects on Linux: a lock file and the block's key file in the user's
// private runtime directory, a System V block found through that key file, and a local
// socket beside them whose peers the kernel names.
#include "singleapplication_p.h"

#include "privatefiles.h"

#include <QFile>
#include <QSharedMemory>
#include <QVarLengthArray>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString currentUserName()
{
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    QVarLengthArray<char, 1024> buffer(suggested > 0 && suggested < 65536 ? int(suggested) : 1024);
    for (;;) {
        passwd entry;
        passwd *result = nullptr;
        const int rc = getpwuid_r(getuid(), &entry, buffer.data(), size_t(buffer.size()), &result);
        if (rc == 0 && result && result->pw_name)
            return QString::fromLocal8Bit(result->pw_name);
        if (rc != ERANGE || buffer.size() >= (1 << 20))
            break;
        buffer.resize(buffer.size() * 2);
    }
    return qEnvironmentVariable("USER");
}

bool SingleApplicationPrivate::peerIsThisUser(qintptr descriptor, bool)
{
    struct ucred peer = {};
    socklen_t length = sizeof peer;
    return descriptor >= 0
        && ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0
        && peer.uid == ::geteuid();
}

QString SingleApplicationPrivate::guardFile(const char *suffix) const
{
    // 96 bits of the key tell our few keys apart and keep the socket's path well within
    // the 107 bytes a local socket may have, even under a long home directory.
    return directory + QLatin1Char('/') + instanceKey.left(16) + QLatin1String(suffix);
}

QString SingleApplicationPrivate::socketName() const
{
    return guardFile(".socket");
}

QString SingleApplicationPrivate::openGuard()
{
    directory = PrivateFiles::runtimeDirectory();
    if (directory.isEmpty())
        return QStringLiteral("no private runtime directory");
    const QString lockPath = guardFile(".lock");
    lockFd = PrivateFiles::open(lockPath, O_RDWR | O_CREAT | O_NOFOLLOW);
    struct stat info = {};
    if (lockFd < 0 || ::fstat(lockFd, &info) != 0)
        return lockPath + QLatin1String(": ") + systemError();
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        return lockPath + QLatin1String(" is not the user's own file");
    if (!lockBlock())
        return lockPath + QLatin1String(": cannot lock: ") + systemError();

    memory = new QSharedMemory();
    memory->setNativeKey(guardFile(".block"));
    if (!prepareKeyFile())
        return memory->nativeKey() + QLatin1String(": cannot be made: ") + systemError();
    return foreignBlock();
}

bool SingleApplicationPrivate::prepareKeyFile()
{
    // Qt would make it 0640; made here first, it is ours and 0600 before anything uses it.
    const int fd = PrivateFiles::open(memory->nativeKey(), O_RDONLY | O_CREAT | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular)
        errno = EISDIR;
    return regular;
}

QString SingleApplicationPrivate::foreignBlock() const
{
    // The block is found through ftok() of its key file, as Qt finds it; another user can
    // make a block of the same key (ftok keys are guessable) but cannot make it ours.
    const key_t key = ::ftok(QFile::encodeName(memory->nativeKey()).constData(), 'Q');
    const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
    if (id < 0)
        return QString();
    struct shmid_ds info = {};
    if (::shmctl(id, IPC_STAT, &info) != 0)
        return QStringLiteral("the shared block cannot be attached");
    if (info.shm_perm.uid != ::geteuid() || info.shm_perm.cuid != ::geteuid())
        return QStringLiteral("the shared block belongs to another user");
    return QString();
}
