// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlock.h"
#include "deviceflash.h"
#include "deviceflash_p.h"
#include "devicemonitor.h"
#include "devicenotice.h"
#include "logcategories.h"
#include "qhiddevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <memory>
#include <utility>

namespace {

constexpr int ReopenDelayMs = 1000;
constexpr int ShutdownPollMs = 50;
// How often an arrival that came during a task looks whether the engine is idle.
constexpr int ArrivalRetryMs = 100;
// How often a window looks whether another program has let go of the adapter.
constexpr int ReleasePollMs = 500;

// Shared between the waiting thread and the delayed second attempt, which may run after
// the waiter has gone (shutdown).
struct ReopenState
{
    std::mutex mutex;
    QEventLoop *loop = nullptr;
    bool result = false;
};

} // namespace

void DeviceFlash::openDevice()
{
    const quint64 epoch = presenceEpoch();
    startTask([this, epoch] { startupOpenTask(epoch); });
}

void DeviceFlash::setAdapterPath(const QByteArray &path)
{
    QMutexLocker lock(&d->m_stateMutex);
    d->m_adapterPath = path;
}

QByteArray DeviceFlash::adapterPath() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_adapterPath;
}

QByteArray DeviceFlash::openedPath() const
{
    return d->m_hidDevice->devicePath();
}

bool DeviceFlash::open(quint16 vendorId, quint16 productId)
{
    const QByteArray path = adapterPath();
    const auto openOnce = [this, path, vendorId, productId] {
        return path.isEmpty() ? d->m_hidDevice->open(vendorId, productId)
                              : d->m_hidDevice->openPath(path);
    };
    bool result = openOnce();
    // A second attempt cannot help while another program holds the adapter or its lock
    // cannot be taken.
    if (!result && d->m_hidDevice->lastOpenError() != QHidDevice::InUse
        && d->m_hidDevice->lastOpenError() != QHidDevice::LockFailed) {
        qCInfo(lcDevice) << "DeviceFlash open try onec more..." << vendorId << productId;
        if (!QCoreApplication::instance()) {
            // Without an application there is no event loop to wait in.
            QThread::msleep(ReopenDelayMs);
            result = openOnce();
        } else {
            auto state = std::make_shared<ReopenState>();
            QEventLoop loop;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->loop = &loop;
            }
            // The second attempt runs on this object's thread; the caller waits here.
            QTimer::singleShot(ReopenDelayMs, this, [state, openOnce] {
                const bool opened = openOnce();
                std::lock_guard<std::mutex> lock(state->mutex);
                state->result = opened;
                if (QEventLoop *waiting = state->loop)
                    QMetaObject::invokeMethod(
                        waiting, [waiting] { waiting->quit(); }, Qt::QueuedConnection);
            });
            // Shutdown blocks this object's thread, so the attempt above would never come.
            QTimer shutdownPoll;
            connect(&shutdownPoll, &QTimer::timeout, &loop, [this, &loop] {
                if (d->m_shuttingDown)
                    loop.quit();
            });
            shutdownPoll.start(ShutdownPollMs);
            loop.exec();
            std::lock_guard<std::mutex> lock(state->mutex);
            state->loop = nullptr;
            result = state->result;
        }
    }
    qCInfo(lcDevice) << "DeviceFlash open ..." << vendorId << Corvane(productId) << result;
    if (result) {
        // A flash operation cancelled before its erase keeps its transfers cancelled.
        if (!d->m_shuttingDown && !isFlashCancelled())
            d->m_cancelTransfers = false;
        d->m_answerTimedOut = false;
        d->m_configLoaded = false;
        rememberAdapter();
    } else if (d->m_hidDevice->lastOpenError() == QHidDevice::InUse) {
        rememberAdapter();
        reportInUse(productId);
    } else if (d->m_hidDevice->lastOpenError() == QHidDevice::LockFailed) {
        reportLockFailed();
    } else {
        reportAccessDenied(vendorId, productId);
    }
    return result;
}

void DeviceFlash::closeDevice()
{
    waitForIdle();
    d->m_hidDevice->close();
}

void DeviceFlash::rememberAdapter()
{
    const QByteArray node = d->m_hidDevice->devicePath();
    const QString sysPath = d->m_monitor ? d->m_monitor->sysfsPath(node) : QString();
    QMutexLocker lock(&d->m_stateMutex);
    d->m_adapterNode = node;
    d->m_adapterSysPath = sysPath;
}

void DeviceFlash::reportInUse(quint16 productId)
{
    const qint64 owner = d->m_hidDevice->lockOwner();
    qCWarning(lcDevice) << "DeviceFlash adapter in use by another program, PID" << owner;
    emit deviceInUse(owner);
    if (d->m_connectWhenReleased)
        QMetaObject::invokeMethod(
            this, [this, productId] { watchForRelease(productId); }, Qt::QueuedConnection);
}

void DeviceFlash::reportLockFailed()
{
    const QString reason = d->m_hidDevice->lockError();
    qCWarning(lcDevice).noquote() << "DeviceFlash adapter not opened: its lock cannot be taken:"
                                  << reason;
    emit deviceLockFailed(reason);
}

void DeviceFlash::watchForRelease(quint16 productId)
{
    if (d->m_shuttingDown || d->m_hidDevice->isOpen())
        return;
    d->m_heldProductId = productId;
    if (!d->m_releasePoll) {
        d->m_releasePoll = new QTimer(this);
        d->m_releasePoll->setInterval(ReleasePollMs);
        connect(d->m_releasePoll, &QTimer::timeout, this, &DeviceFlash::pollHeldAdapter);
    }
    d->m_releasePoll->start();
}

// Only the lock is looked at while the other program holds the adapter; once it is free,
// the adapter is opened as at its arrival (and watched again if a third program was first).
void DeviceFlash::pollHeldAdapter()
{
    if (d->m_shuttingDown || d->m_hidDevice->isOpen()) {
        d->m_releasePoll->stop();
        return;
    }
    if (!isIdle())
        return;
    QByteArray node;
    {
        QMutexLocker lock(&d->m_stateMutex);
        node = d->m_adapterNode;
    }
    const AdapterLock::Result state = AdapterLock::probe(node);
    if (state == AdapterLock::Held)
        return;
    // Free, or the node has gone: then its removal or next arrival takes over.
    d->m_releasePoll->stop();
    if (state == AdapterLock::Acquired) {
        qCInfo(lcDevice) << "DeviceFlash adapter released by the other program";
        openArrivedAdapter(d->m_heldProductId);
    }
}

void DeviceFlash::reportAccessDenied(quint16 vendorId, quint16 productId)
{
    // A chosen adapter is its own node; otherwise the monitor tells whether one is attached.
    const QByteArray path = adapterPath();
    QString node;
    if (!path.isEmpty())
        node = d->m_hidDevice->lastOpenError() == QHidDevice::CannotOpen ? QFile::decodeName(path)
                                                                         : QString();
    else if (d->m_monitor)
        node = d->m_monitor->findHidNode(vendorId, productId);
    if (node.isEmpty())
        return;
    qCWarning(lcDevice) << "DeviceFlash adapter present but cannot be opened:" << node
                        << "(install the udev rule 70-corvane-x9.rules)";
    emit deviceAccessDenied(node);
}

quint64 DeviceFlash::presenceEpoch() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_presenceEpoch;
}

void DeviceFlash::announceConnected(Corvane device, quint64 epoch)
{
    // One step against removal, which takes the same lock for its changes and signal: a
    // removal either comes after this announcement or keeps it from being made.
    std::lock_guard<std::recursive_mutex> step(d->m_busyMutex);
    {
        QMutexLocker lock(&d->m_stateMutex);
        if (d->m_presenceEpoch != epoch) {
            qCInfo(lcDevice) << "DeviceFlash adapter removed while it was being opened" << device;
            return;
        }
        d->m_isConnected = true;
        d->m_currentDevice = device;
    }
    emit deviceConnectStatusChanged(true, device);
}

void DeviceFlash::startupOpenTask(quint64 epoch)
{
    for (quint16 id : qAsConst(d->productIds)) {
        if (open(adapterVendorId, id)) {
            readDeviceConfig();
            const Corvane device = Corvane(id);
            qCInfo(lcDevice) << "Device open! -- " << device;
            announceConnected(device, epoch);
            break;
        }
    }
}

void DeviceFlash::arrivalTask(quint32 productId, quint64 epoch)
{
    readDeviceConfig();
    announceConnected(Corvane(productId), epoch);
}

bool DeviceFlash::nativeEventFilter(
    const QByteArray &eventType, void *message, NativeEventResult *result)
{
    // Windows hands device notifications of the program's own window to this filter; on
    // Linux they come through the monitor and nothing in the native stream is ours. The
    // message is never consumed.
    Q_UNUSED(result)
    DeviceNotice notice;
    if (DeviceMonitor::noticeFromNativeEvent(eventType, message, &notice))
        handleNotice(notice);
    return false;
}

void DeviceFlash::handleNotice(const DeviceNotice &notice)
{
    switch (notice.kind) {
    case DeviceNotice::InterfaceArrival:
        handleArrival(notice.interfaceName);
        break;
    case DeviceNotice::InterfaceRemoval:
        handleRemoval(notice.interfaceName, notice.devicePath);
        break;
    case DeviceNotice::VolumeArrival:
        if (notice.volumeFlags == 0)
            qCDebug(lcDevice, "upan");
        else if (notice.volumeFlags == 1)
            qCDebug(lcDevice, "CD_Arrived.");
        break;
    }
}

bool DeviceFlash::matchesAdapter(const QString &name, quint32 *productId)
{
    const ParsedDeviceName parsed = parseDeviceInterfaceName(name);
    if (!parsed.valid || parsed.vendorId != adapterVendorId
        || !d->productIds.contains(quint16(parsed.productId)))
        return false;
    if (productId)
        *productId = quint16(parsed.productId);
    return true;
}

void DeviceFlash::handleArrival(const QString &name)
{
    if (name.isEmpty())
        return;
    quint32 productId = 0;
    if (!matchesAdapter(name, &productId))
        return;
    // Reopening would swap the handle under a running task and lose its answer.
    if (d->m_hidDevice->isOpen()) {
        qCInfo(lcDevice) << "DeviceFlash arrival ignored: the adapter is already open";
        return;
    }
    if (!isIdle()) {
        qCInfo(lcDevice) << "DeviceFlash arrival deferred until the running task has ended";
        d->m_deferredArrival = name;
        if (!d->m_arrivalRetry) {
            d->m_arrivalRetry = new QTimer(this);
            d->m_arrivalRetry->setInterval(ArrivalRetryMs);
            connect(d->m_arrivalRetry, &QTimer::timeout, this, &DeviceFlash::retryDeferredArrival);
        }
        d->m_arrivalRetry->start();
        return;
    }
    openArrivedAdapter(quint16(productId));
}

void DeviceFlash::openArrivedAdapter(quint16 productId)
{
    if (!open(adapterVendorId, productId))
        return;
    const quint64 epoch = presenceEpoch();
    startTask([this, productId, epoch] { arrivalTask(productId, epoch); });
}

void DeviceFlash::retryDeferredArrival()
{
    if (d->m_shuttingDown || !isIdle())
        return;
    d->m_arrivalRetry->stop();
    handleArrival(std::exchange(d->m_deferredArrival, QString()));
}

bool DeviceFlash::removalNamesAdapter(const QString &removedPath) const
{
    QMutexLocker lock(&d->m_stateMutex);
    if (removedPath.isEmpty() || d->m_adapterSysPath.isEmpty())
        return true;
    // A USB device's removal names the interfaces and nodes below it too. Windows gives the
    // adapter's place as the chain of devices down to its HID interface, whose own removal
    // names the end of that chain.
    return removedPath == d->m_adapterSysPath || removedPath == QFile::decodeName(d->m_adapterNode)
        || d->m_adapterSysPath.startsWith(removedPath + QLatin1Char('/'))
        || d->m_adapterSysPath.endsWith(QLatin1Char('/') + removedPath);
}

void DeviceFlash::handleRemoval(const QString &name, const QString &removedPath)
{
    qCDebug(lcDevice) << "---" << name << name.size();
    if (name.isEmpty())
        return;
    const ParsedDeviceName parsed = parseDeviceInterfaceName(name);
    const bool vendorMatches = parsed.valid && parsed.vendorId == adapterVendorId;
    const bool productListed = parsed.valid && d->productIds.contains(quint16(parsed.productId));
    qCDebug(lcDevice) << parsed.vendorId << parsed.productId << vendorMatches << productListed;
    if (!vendorMatches || !productListed)
        return;

    const Corvane device = Corvane(quint16(parsed.productId));
    // With two adapters attached, pulling out the idle one must not cut the other's write.
    if (!removalNamesAdapter(removedPath)) {
        qCInfo(lcDevice) << "DeviceFlash removal of another adapter ignored:" << removedPath;
        return;
    }
    qCWarning(lcDevice) << "nativeEventFilter closed." << device;
    // A connection announced by a task started before now no longer holds.
    std::lock_guard<std::recursive_mutex> step(d->m_busyMutex);
    {
        QMutexLocker lock(&d->m_stateMutex);
        ++d->m_presenceEpoch;
        d->m_adapterNode.clear();
        d->m_adapterSysPath.clear();
    }
    d->m_deferredArrival.clear();
    if (d->m_arrivalRetry)
        d->m_arrivalRetry->stop();
    if (d->m_releasePoll)
        d->m_releasePoll->stop();
    // A task blocked in a read gives up at its next slice; close waits for that slice.
    d->m_cancelTransfers = true;
    d->m_hidDevice->close();
    storeVersion(QString());
    storeRecord({});
    setIsBusy(false);
    {
        QMutexLocker lock(&d->m_stateMutex);
        d->m_isConnected = false;
    }
    d->m_configLoaded = false;
    emit deviceConnectStatusChanged(false, device);
    QMutexLocker lock(&d->m_stateMutex);
    d->m_currentDevice = Corvane_NoDevice;
}
