// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace FileLock {

// Takes an exclusive advisory lock on fd's file (flock() on Linux, LockFileEx() on a byte
// beyond the content on Windows). While another holder has it, tries again every 2 ms
// for up to waitMs (0: a single attempt; below 0: waits as long as it takes); an
// interrupted attempt is always repeated.
// 0 when locked, else the errno of the last attempt (EWOULDBLOCK: still held).
int lockExclusive(int fd, int waitMs);
// Gives up the lock lockExclusive() took on fd. True when it was given up.
bool unlock(int fd);

} // namespace FileLock
