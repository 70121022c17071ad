// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// An advisory lock per adapter, shared by every program of the tool (the window and
// corvane-cli): every open HID handle receives every input report, so a second program
// talking to the adapter would take the first one's answers. The kernel releases the lock
// when its holder ends, however it ends.
// Linux: where the adapter's path names a file (its /dev/hidraw node, the emulator's node
// file) the lock is flock() on that file itself, so every program meets it whatever its
// environment; other paths lock a file in the user's private lock directory. The holder
// leaves its process id in the private directory for the message others show; the lock
// holds without it.
// Windows: a named kernel object in the session's namespace, named after the adapter's
// path, which also carries the holder's process id.
class AdapterLock
{
public:
    AdapterLock() = default;
    ~AdapterLock();
    AdapterLock(const AdapterLock &) = delete;
    AdapterLock &operator=(const AdapterLock &) = delete;

    enum Result {
        Acquired,
        Held, // another program (or handle) holds the adapter
        Denied, // the node may not be opened by this user (the adapter's open would fail too)
        Failed, // the lock cannot be taken: the adapter must not be opened (see errorString)
    };

    // Takes the lock of the adapter at devicePath, giving up one held for another path.
    // With Held, *owner is the holder's process id (0 when it is not known).
    Result acquire(const QByteArray &devicePath, qint64 *owner = nullptr);
    void release();
    bool isHeld() const { return m_handle != -1; }
    QByteArray devicePath() const { return m_devicePath; }
    // Why the last acquire gave Denied or Failed.
    QString errorString() const { return m_error; }

    // Whether the adapter at devicePath is free (Acquired), held, or cannot be locked, without
    // keeping the lock. Sends nothing to the adapter.
    static Result probe(const QByteArray &devicePath);
    // The private lock directory: the tool's private runtime directory (see
    // PrivateFiles::runtimeDirectory()). Empty when there is none.
    static QString directory();
    // The file in directory() that names the holder of the adapter at devicePath.
    static QString pidFileName(const QByteArray &devicePath);
    // A plain name for the adapter at devicePath (its paths hold slashes and colons).
    static QString baseName(const QByteArray &devicePath);

private:
    // The platform's own part of acquire(), with no lock held and *owner already 0.
    Result take(const QByteArray &devicePath, qint64 *owner);

    qintptr m_handle = -1; // descriptor (Linux) or object handle (Windows)
    QByteArray m_devicePath;
    QByteArray m_pidPath;
    QString m_error;
};
