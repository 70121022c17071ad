// SPDX-License-Identifier: GPL-3.0-or-later
#include "filelock.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>

#include <io.h>
#include <windows.h>

namespace FileLock {

namespace {

    // Windows' locks keep other handles from reading and writing the bytes they cover: one
    // byte far beyond any content stands for the whole file, as flock() does.
    OVERLAPPED lockedByte()
    {
        OVERLAPPED at = {};
        at.Offset = 0xFFFFFFFE;
        at.OffsetHigh = 0x7FFFFFFF;
        return at;
    }

} // namespace

int lockExclusive(int fd, int waitMs)
{
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE)
        return EBADF;
    const QDeadlineTimer deadline(waitMs > 0 ? waitMs : 0);
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (waitMs < 0 ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    for (;;) {
        OVERLAPPED at = lockedByte();
        if (LockFileEx(file, flags, 0, 1, 0, &at))
            return 0;
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
            return error == ERROR_ACCESS_DENIED ? EACCES : EIO;
        if (deadline.hasExpired())
            return EWOULDBLOCK;
        QThread::msleep(2);
    }
}

bool unlock(int fd)
{
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED at = lockedByte();
    return file != INVALID_HANDLE_VALUE && UnlockFileEx(file, 0, 1, 0, &at);
}

} // namespace FileLock
