// SPDX-License-Identifier: GPL-3.0-or-later
#include "qhiddevice.h"

#include "adapterlock.h"

#include <hidapi.h>

#include <atomic>
#include <mutex>

namespace {

// hidapi keeps process-wide state for its initialisation, enumeration and opens (the last
// error text among it): with several adapters worked on in parallel, one thread at a time
// calls those. Transfers on different handles still run side by side.
std::mutex &hidapiSetupMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

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
        if (h) {
            std::lock_guard<std::mutex> setup(hidapiSetupMutex());
            hid_close(h);
        }
    }
};

QHidDevice::QHidDevice(QObject *parent) : QObject(parent), d_ptr(new QHidDevicePrivate)
{
    std::lock_guard<std::mutex> setup(hidapiSetupMutex());
    hid_init();
}

QHidDevice::~QHidDevice()
{
    // Releasing the handle here keeps a forgotten close() from leaking it.
    close();
}

QList<QHidDevice::Interface> QHidDevice::enumerate(quint16 vendorId, quint16 productId)
{
    std::lock_guard<std::mutex> setup(hidapiSetupMutex());
    hid_init();
    QList<Interface> found;
    hid_device_info *devices = hid_enumerate(vendorId, productId);
    for (hid_device_info *d = devices; d; d = d->next) {
        if (!d->path || (vendorId && d->vendor_id != vendorId)
            || (productId && d->product_id != productId))
            continue;
        Interface entry;
        entry.path = QByteArray(d->path);
        if (d->serial_number)
            entry.serial = QString::fromWCharArray(d->serial_number);
        found.append(entry);
    }
    hid_free_enumeration(devices);
    return found;
}

namespace {

// What one attempt to open an interface gave.
struct Attempt
{
    QHidDevice::OpenError error = QHidDevice::NoError;
    qint64 owner = 0;
    QString lockError;
};

// Takes the lock of the interface at path and opens it; the caller holds d->mutex.
Attempt openLocked(QHidDevicePrivate *d, const QByteArray &path)
{
    Attempt attempt;
    // The adapter is never opened without its lock.
    switch (d->lock.acquire(path, &attempt.owner)) {
    case AdapterLock::Acquired:
        break;
    case AdapterLock::Held:
        attempt.error = QHidDevice::InUse;
        return attempt;
    case AdapterLock::Denied:
        attempt.error = QHidDevice::CannotOpen;
        attempt.lockError = d->lock.errorString();
        return attempt;
    case AdapterLock::Failed:
        attempt.error = QHidDevice::LockFailed;
        attempt.lockError = d->lock.errorString();
        return attempt;
    }
    hid_device *h = nullptr;
    {
        std::lock_guard<std::mutex> setup(hidapiSetupMutex());
        h = hid_open_path(path.constData());
    }
    d->handle.store(h);
    if (!h) {
        d->lock.release();
        attempt.error = QHidDevice::CannotOpen;
    }
    return attempt;
}

} // namespace

bool QHidDevice::open(quint16 vendorId, quint16 productId, const QString &serial)
{
    QList<QByteArray> paths;
    for (const Interface &entry : enumerate(vendorId, productId)) {
        if (serial.isEmpty() || entry.serial.compare(serial, Qt::CaseInsensitive) == 0)
            paths.append(entry.path);
    }
    return openFirst(paths);
}

bool QHidDevice::openPath(const QByteArray &path)
{
    QList<QByteArray> paths;
    for (const Interface &entry : enumerate(quint16(0), quint16(0))) {
        if (entry.path == path)
            paths.append(path);
    }
    return openFirst(paths.mid(0, 1));
}

bool QHidDevice::openFirst(const QList<QByteArray> &paths)
{
    Q_D(QHidDevice);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->closeLocked();
    d->lockOwner = 0;
    d->setInfo(paths.value(0), QString());
    if (paths.isEmpty()) {
        d->lock.release();
        d->openError = NotFound;
        return false;
    }
    Attempt first;
    for (int i = 0; i < paths.size(); ++i) {
        const Attempt attempt = openLocked(d, paths.at(i));
        if (attempt.error == NoError) {
            d->setInfo(paths.at(i), QString());
            d->openError = NoError;
            return true;
        }
        if (i == 0)
            first = attempt;
    }
    // None opened: the first one is the one to tell about.
    d->setInfo(paths.first(), first.lockError);
    d->lockOwner = first.owner;
    d->openError = first.error;
    return false;
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
