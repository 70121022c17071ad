// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "devicemonitor.h"
#include "devicenotice.h"
#include "qhiddevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

constexpr int ReopenDelayMs = 1000;
constexpr int ShutdownPollMs = 50;

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
    startTask([this] { startupOpenTask(); });
}

bool DeviceFlash::open(quint16 vendorId, quint16 productId)
{
    bool result = m_hidDevice->open(vendorId, productId);
    if (!result) {
        qInfo() << "DeviceFlash open try onec more..." << vendorId << productId;
        if (!QCoreApplication::instance()) {
            // Without an application there is no event loop to wait in.
            QThread::msleep(ReopenDelayMs);
            result = m_hidDevice->open(vendorId, productId);
        } else {
            auto state = std::make_shared<ReopenState>();
            QEventLoop loop;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->loop = &loop;
            }
            // The second attempt runs on this object's thread; the caller waits here.
            QTimer::singleShot(ReopenDelayMs, this, [this, state, vendorId, productId] {
                const bool opened = m_hidDevice->open(vendorId, productId);
                std::lock_guard<std::mutex> lock(state->mutex);
                state->result = opened;
                if (QEventLoop *waiting = state->loop)
                    QMetaObject::invokeMethod(
                        waiting, [waiting] { waiting->quit(); }, Qt::QueuedConnection);
            });
            // Shutdown blocks this object's thread, so the attempt above would never come.
            QTimer shutdownPoll;
            connect(&shutdownPoll, &QTimer::timeout, &loop, [this, &loop] {
                if (m_shuttingDown)
                    loop.quit();
            });
            shutdownPoll.start(ShutdownPollMs);
            loop.exec();
            std::lock_guard<std::mutex> lock(state->mutex);
            state->loop = nullptr;
            result = state->result;
        }
    }
    qInfo() << "DeviceFlash open ..." << vendorId << Corvane(productId) << result;
    if (result) {
        if (!m_shuttingDown)
            m_cancelTransfers = false;
        m_configLoaded = false;
    } else {
        reportAccessDenied(vendorId, productId);
    }
    return result;
}

void DeviceFlash::reportAccessDenied(quint16 vendorId, quint16 productId)
{
    if (!m_monitor)
        return;
    const QString node = m_monitor->findHidNode(vendorId, productId);
    if (node.isEmpty())
        return;
    qWarning() << "DeviceFlash adapter present but cannot be opened:" << node
               << "(install the udev rule 70-corvane-x9.rules)";
    emit deviceAccessDenied(node);
}

void DeviceFlash::startupOpenTask()
{
    for (quint16 id : qAsConst(productIds)) {
        if (open(adapterVendorId, id)) {
            readDeviceConfig();
            QMutexLocker lock(&m_stateMutex);
            m_isConnected = true;
            m_currentDevice = Corvane(id);
            break;
        }
    }
    if (isConnected()) {
        const Corvane device = currentDevice();
        qInfo() << "Device open! -- " << device;
        emit deviceConnectStatusChanged(true, device);
    }
}

void DeviceFlash::arrivalTask(quint32 productId)
{
    readDeviceConfig();
    const Corvane device = Corvane(productId);
    {
        QMutexLocker lock(&m_stateMutex);
        m_isConnected = true;
        m_currentDevice = device;
    }
    emit deviceConnectStatusChanged(true, device);
}

bool DeviceFlash::nativeEventFilter(const QByteArray &eventType, void *message, long *result)
{
    // Device changes arrive through the udev monitor; nothing in the native stream is ours.
    Q_UNUSED(eventType)
    Q_UNUSED(message)
    Q_UNUSED(result)
    return false;
}

void DeviceFlash::handleNotice(const DeviceNotice &notice)
{
    switch (notice.kind) {
    case DeviceNotice::InterfaceArrival:
        handleArrival(notice.interfaceName);
        break;
    case DeviceNotice::InterfaceRemoval:
        handleRemoval(notice.interfaceName);
        break;
    case DeviceNotice::VolumeArrival:
        if (notice.volumeFlags == 0)
            qDebug("upan");
        else if (notice.volumeFlags == 1)
            qDebug("CD_Arrived.");
        break;
    }
}

bool DeviceFlash::matchesAdapter(const QString &name, quint32 *productId)
{
    const ParsedDeviceName parsed = parseDeviceInterfaceName(name);
    if (!parsed.valid || parsed.vendorId != adapterVendorId
        || !productIds.contains(quint16(parsed.productId)))
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
    if (!open(adapterVendorId, quint16(productId)))
        return;
    startTask([this, productId] { arrivalTask(productId); });
}

void DeviceFlash::handleRemoval(const QString &name)
{
    qDebug() << "---" << name << name.size();
    if (name.isEmpty())
        return;
    const ParsedDeviceName parsed = parseDeviceInterfaceName(name);
    const bool vendorMatches = parsed.valid && parsed.vendorId == adapterVendorId;
    const bool productListed = parsed.valid && productIds.contains(quint16(parsed.productId));
    qDebug() << parsed.vendorId << parsed.productId << vendorMatches << productListed;
    if (!vendorMatches || !productListed)
        return;

    const Corvane device = Corvane(quint16(parsed.productId));
    qWarning() << "nativeEventFilter closed." << device;
    // A task blocked in a read gives up at its next slice; close waits for that slice.
    m_cancelTransfers = true;
    m_hidDevice->close();
    setVersion(QString());
    setIsBusy(false);
    {
        QMutexLocker lock(&m_stateMutex);
        m_isConnected = false;
    }
    m_configLoaded = false;
    emit deviceConnectStatusChanged(false, device);
    QMutexLocker lock(&m_stateMutex);
    m_currentDevice = Corvane_NoDevice;
}
