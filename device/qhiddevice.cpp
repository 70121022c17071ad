// SPDX-License-Identifier: GPL-3.0-or-later
#include "qhiddevice.h"

#include <hidapi.h>

#include <atomic>
#include <mutex>
#include <string>

class QHidDevicePrivate
{
public:
    // Held across every hidapi call on the handle, so close() waits for a transfer.
    std::mutex mutex;
    // Written only under the mutex; read without it by isOpen().
    std::atomic<hid_device *> handle { nullptr };

    void closeLocked()
    {
        hid_device *h = handle.exchange(nullptr);
        if (h)
            hid_close(h);
    }
};

QHidDevice::QHidDevice(QObject *parent) : QObject(parent), d_ptr(new QHidDevicePrivate)
{
    hid_init();
}

QHidDevice::~QHidDevice()
{
    // Releasing the handle here keeps a forgotten close() from leaking it.
    close();
}

bool QHidDevice::open(quint16 vendorId, quint16 productId, const QString &serial)
{
    Q_D(QHidDevice);
    const std::wstring wideSerial = serial.toStdWString();
    std::lock_guard<std::mutex> lock(d->mutex);
    d->closeLocked();
    hid_device *h = hid_open(vendorId, productId, serial.isEmpty() ? nullptr : wideSerial.c_str());
    d->handle.store(h);
    return h != nullptr;
}

bool QHidDevice::isOpen() const
{
    Q_D(const QHidDevice);
    return d->handle.load() != nullptr;
}

void QHidDevice::close()
{
    Q_D(QHidDevice);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->closeLocked();
}

int QHidDevice::read(QByteArray &buffer, int length, int timeoutMs)
{
    if (length == -1)
        length = buffer.size();
    if (length < 0) {
        buffer.clear();
        return -1;
    }
    buffer.fill('\0', length);
    const int count = read(reinterpret_cast<quint8 *>(buffer.data()), length, timeoutMs);
    buffer.resize(qMax(count, 0));
    return count;
}

int QHidDevice::write(const QByteArray &buffer, int length)
{
    if (length == -1)
        length = buffer.size();
    if (length < 0 || length > buffer.size())
        return -1;
    return write(reinterpret_cast<const quint8 *>(buffer.constData()), length);
}

int QHidDevice::read(quint8 *data, int length, int timeoutMs)
{
    Q_D(QHidDevice);
    if (length < 0 || (length > 0 && !data))
        return -1;
    std::lock_guard<std::mutex> lock(d->mutex);
    hid_device *h = d->handle.load();
    if (!h)
        return -1;
    const int count = hid_read_timeout(h, data, size_t(length), timeoutMs);
    // Never report more than the caller's buffer holds.
    return qMin(count, length);
}

int QHidDevice::write(const quint8 *data, int length)
{
    Q_D(QHidDevice);
    if (length < 0 || (length > 0 && !data))
        return -1;
    std::lock_guard<std::mutex> lock(d->mutex);
    hid_device *h = d->handle.load();
    if (!h)
        return -1;
    return hid_write(h, data, size_t(length));
}
