// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// An advisory lock per adapter, shared by every program of the tool (the window and
// corvane-cli): on Linux every open HID handle receives every input report, so a second
// program talking to the adapter would take the first one's answers. The lock is a file
// in the user's runtime directory (the data directory when there is none) named after the
// adapter's device path, locked with flock(); the kernel releases it when its holder ends,
// however it ends. The holder writes its process id into the file for the message others
// show.
class AdapterLock
{
public:
    AdapterLock() = default;
    ~AdapterLock();
    AdapterLock(const AdapterLock &) = delete;
    AdapterLock &operator=(const AdapterLock &) = delete;

    enum Result {
        Acquired,
        Held,        // another program (or handle) holds the adapter
        Unavailable, // no lock file could be made: the caller goes on without one
    };

    // Takes the lock of the adapter at devicePath, giving up one held for another path.
    // With Held, *owner is the holder's process id (0 when it has not written it yet).
    Result acquire(const QByteArray &devicePath, qint64 *owner = nullptr);
    void release();
    bool isHeld() const { return m_fd >= 0; }
    QByteArray devicePath() const { return m_devicePath; }

    // Where the lock files live.
    static QString directory();
    // The lock file of a device path.
    static QString filePath(const QByteArray &devicePath);

private:
    int m_fd = -1;
    QByteArray m_devicePath;
};
