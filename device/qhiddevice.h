// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QScopedPointer>
#include <QString>

class QHidDevicePrivate;

// Thin wrapper around one hidapi device handle. Knows nothing of the adapter protocol.
// Transfers and close() are serialised internally, so closing from one thread never
// releases the handle while another thread is inside a read or write on it.
class QHidDevice : public QObject
{
    Q_OBJECT
public:
    explicit QHidDevice(QObject *parent = nullptr);
    ~QHidDevice() override;

    enum OpenError {
        NoError,
        NotFound, // no interface with these ids (and serial) is attached
        InUse, // another program holds the adapter's lock
        CannotOpen, // attached, but the system refused the open (usually permissions)
        LockFailed, // the adapter's lock cannot be taken (lockError() says why): not opened
    };

    // An attached interface as hidapi lists it: its path and USB serial number string.
    struct Interface
    {
        QByteArray path;
        QString serial;
    };
    // Every attached interface with these ids (0: any), in hidapi's enumeration order.
    // Sends nothing.
    static QList<Interface> enumerate(quint16 vendorId, quint16 productId);

    // Opens the first interface with these ids, in hidapi's enumeration order, that no other
    // program holds; an absent or empty serial matches any. When none opens, the first
    // one's failure is kept. Takes the adapter's lock first, so two programs never talk to
    // one adapter, and keeps it until close(). Closes a handle that is still open first, so
    // a reopen never leaks the old handle.
    bool open(quint16 vendorId, quint16 productId, const QString &serial = QString());
    // Opens the interface at path (one that enumerate() lists), as open() does.
    bool openPath(const QByteArray &path);
    bool isOpen() const;
    void close();
    // Why the last open failed, and with InUse the holder's process id (0 when unknown).
    OpenError lastOpenError() const;
    qint64 lockOwner() const;
    QString lockError() const;
    // The path of the interface the last open chose, whether it opened or another program
    // held it; empty when none was attached.
    QByteArray devicePath() const;

    // hidapi's conventions: bytes copied, 0 on time-out, -1 on error (also when closed).
    int read(QByteArray &buffer, int length = -1, int timeoutMs = -1);
    int write(const QByteArray &buffer, int length = -1);
    // Raw-pointer forms used by the command channel to avoid allocations per report.
    int read(quint8 *data, int length, int timeoutMs);
    int write(const quint8 *data, int length);

private:
    // Opens the first of paths that opens; see open().
    bool openFirst(const QList<QByteArray> &paths);

    Q_DECLARE_PRIVATE(QHidDevice)
    QScopedPointer<QHidDevicePrivate> d_ptr;
};
