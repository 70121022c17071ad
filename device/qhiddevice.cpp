// SPDX-License-Identifier: GPL-3.0-or-later
#include "qhiddevice.h"

#include "adapterlock.h"

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
    AdapterLock lock;
    std::atomic<int> openError { QHidDevice::NoError };
    std::atomic<qint64> lockOwner { 0 };
    // The chosen path and the lock's failure; apart from the transfer mutex, which a
    // blocked read may hold for long.
    mutable std::mutex infoMutex;
    QByteArray path;
    QString lockError;

    void setInfo(const QByteArray &chosen, const QString &error)
    {
        std::lock_guard<std::mutex> lock(infoMutex);
        path = chosen;
        lockError = error;
    }

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

namespace {

// Path of the first interface with the ids (and serial) in enumeration order; empty if none.
QByteArray firstDevicePath(quint16 vendorId, quint16 productId, const std::wstring &serial)
{
    QByteArray path;
    hid_device_info *devices = hid_enumerate(vendorId, productId);
    for (hid_device_info *d = devices; d && path.isEmpty(); d = d->next) {
        if (!d->path || (!serial.empty() && (!d->serial_number || serial != d->serial_number)))
            continue;
        path = QByteArray(d->path);
    }
    hid_free_enumeration(devices);
    return path;
}

} // namespace

bool QHidDevice::open(quint16 vendorId, quint16 productId, const QString &serial)
{
    Q_D(QHidDevice);
    const std::wstring wideSerial = serial.toStdWString();
    std::lock_guard<std::mutex> lock(d->mutex);
    d->closeLocked();
    d->lockOwner = 0;
    const QByteArray path = firstDevicePath(vendorId, productId, wideSerial);
    d->setInfo(path, QString());
    if (path.isEmpty()) {
        d->lock.release();
        d->openError = NotFound;
        return false;
    }
    qint64 owner = 0;
    // The adapter is never opened without its lock.
    switch (d->lock.acquire(path, &owner)) {
    case AdapterLock::Acquired:
        break;
    case AdapterLock::Held:
        d->lockOwner = owner;
        d->openError = InUse;
        return false;
    case AdapterLock::Denied:
        d->openError = CannotOpen;
        return false;
    case AdapterLock::Failed:
        d->setInfo(path, d->lock.errorString());
        d->openError = LockFailed;
        return false;
    }
    hid_device *h = hid_open_path(path.constData());
    d->handle.store(h);
    if (!h) {
        d->lock.release();
        d->openError = CannotOpen;
        return false;
    }
    d->openError = NoError;
    return true;
}

QHidDevice::OpenError QHidDevice::lastOpenError() const
{
    Q_D(const QHidDevice);
    return OpenError(d->openError.load());
}

qint64 QHidDevice::lockOwner() const
{
    Q_D(const QHidDevice);
    return d->lockOwner;
}

QString QHidDevice::lockError() const
{
    Q_D(const QHidDevice);
    std::lock_guard<std::mutex> lock(d->infoMutex);
    return d->lockError;
}

QByteArray QHidDevice::devicePath() const
{
    Q_D(const QHidDevice);
    std::lock_guard<std::mutex> lock(d->infoMutex);
    return d->path;
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
    d->lock.release();
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
