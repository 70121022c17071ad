// SPDX-License-Identifier: GPL-3.0-or-later
#include "filelock.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>

#include <sys/file.h>

namespace FileLock {

int lockExclusive(int fd, int waitMs)
{
    const QDeadlineTimer deadline(waitMs > 0 ? waitMs : 0);
    const int operation = waitMs < 0 ? LOCK_EX : LOCK_EX | LOCK_NB;
    for (;;) {
        if (::flock(fd, operation) == 0)
            return 0;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK || deadline.hasExpired())
            return error;
        QThread::msleep(2);
    }
}

bool unlock(int fd)
{
    return ::flock(fd, LOCK_UN) == 0;
}

} // namespace FileLock
