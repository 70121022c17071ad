// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
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

    // Opens by ids; an absent or empty serial matches any. Closes a handle that is
    // still open first, so a reopen never leaks the old handle.
    bool open(quint16 vendorId, quint16 productId, const QString &serial = QString());
    bool isOpen() const;
    void close();

    // hidapi's conventions: bytes copied, 0 on time-out, -1 on error (also when closed).
    int read(QByteArray &buffer, int length = -1, int timeoutMs = -1);
    int write(const QByteArray &buffer, int length = -1);
    // Raw-pointer forms used by the command channel to avoid allocations per report.
    int read(quint8 *data, int length, int timeoutMs);
    int write(const quint8 *data, int length);

private:
    Q_DECLARE_PRIVATE(QHidDevice)
    QScopedPointer<QHidDevicePrivate> d_ptr;
};
