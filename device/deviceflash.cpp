// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"

#include "devicemonitor.h"
#include "devicenotice.h"
#include "qhiddevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMetaType>
#include <QMutexLocker>
#include <QThreadPool>

#include <chrono>
#include <cstring>

DeviceFlash::DeviceFlash(QObject *parent) : QObject(parent)
{
    initialise(DeviceMonitor::create(this));
}

DeviceFlash::DeviceFlash(DeviceMonitor *monitor, QObject *parent) : QObject(parent)
{
    if (monitor)
        monitor->setParent(this);
    initialise(monitor);
}

void DeviceFlash::initialise(DeviceMonitor *monitor)
{
    productIds = { quint16(Corvane_Adapter) };

    // Queued connections carry these across threads.
    qRegisterMetaType<DeviceFlash::Corvane>("DeviceFlash::Corvane");
    qRegisterMetaType<DeviceFlash::Corvane>("Corvane");
    qRegisterMetaType<DeviceFlash::DeviceStatus>("DeviceFlash::DeviceStatus");
    qRegisterMetaType<DeviceError>("DeviceError");
    qRegisterMetaType<char *>("char*");

    m_hidDevice = new QHidDevice(this);
    // Tasks run one at a time anyway (the operation mutex); a thread of their own keeps
    // them from queueing behind other objects' tasks in a shared pool.
    m_pool = new QThreadPool(this);
    m_pool->setMaxThreadCount(1);
    factoryInfoBuffer = new char[FactoryInfoSize]();
    configBufferData = new char[ConfigBufferSize]();
    m_backupBuffer = new char[BackupBufferSize]();

    // The monitor replaces the two notification registrations (USB devices, disks).
    m_monitor = monitor;
    if (!m_monitor || !m_monitor->isActive()) {
        qWarning("registerDevice fail!");
        qWarning("registerDevice fail!");
    }
    if (m_monitor)
        connect(m_monitor, &DeviceMonitor::notice, this, &DeviceFlash::handleNotice);

    if (QCoreApplication *app = QCoreApplication::instance())
        app->installNativeEventFilter(this);
}

DeviceFlash::~DeviceFlash()
{
    // No task may outlive the object: queued ones return at once, a running one gives
    // up its blocked transfer at the next read slice.
    m_shuttingDown = true;
    m_cancelTransfers = true;
    waitForIdle();

    if (m_monitor)
        disconnect(m_monitor, nullptr, this, nullptr);
    m_hidDevice->close();
    delete[] factoryInfoBuffer;
    delete[] configBufferData;
    delete[] m_backupBuffer;
    factoryInfoBuffer = nullptr;
    configBufferData = nullptr;
    m_backupBuffer = nullptr;
}

void DeviceFlash::startTask(std::function<void()> body)
{
    {
        std::lock_guard<std::mutex> lock(m_taskCountMutex);
        ++m_pendingTasks;
    }
    m_pool->start([this, body = std::move(body)]() {
        if (!m_shuttingDown) {
            QMutexLocker operation(&m_operationMutex);
            // Shutdown may have begun while this task waited behind a blocked one.
            if (!m_shuttingDown) {
                setIsBusy(true);
                body();
                setIsBusy(false);
            }
        }
        // Notify under the lock: the destructor may free the condition variable as soon
        // as it sees the count reach zero.
        std::lock_guard<std::mutex> lock(m_taskCountMutex);
        --m_pendingTasks;
        m_taskCountChanged.notify_all();
    });
}

bool DeviceFlash::isIdle() const
{
    std::lock_guard<std::mutex> lock(m_taskCountMutex);
    return m_pendingTasks == 0;
}

void DeviceFlash::waitForIdle()
{
    std::unique_lock<std::mutex> lock(m_taskCountMutex);
    m_taskCountChanged.wait(lock, [this] { return m_pendingTasks == 0; });
}

bool DeviceFlash::waitForIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_taskCountMutex);
    return m_taskCountChanged.wait_for(lock, std::chrono::milliseconds(qMax(timeoutMs, 0)),
        [this] { return m_pendingTasks == 0; });
}

void DeviceFlash::setIsBusy(bool busy)
{
    std::lock_guard<std::recursive_mutex> step(m_busyMutex);
    {
        QMutexLocker lock(&m_stateMutex);
        if (m_isBusy == busy)
            return;
        m_isBusy = busy;
    }
    qInfo() << "setIsBusy -- " << busy;
    emit isBusyChanged(busy);
}

bool DeviceFlash::isBusy() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_isBusy;
}

void DeviceFlash::setVersion(const QString &version)
{
    QMutexLocker lock(&m_stateMutex);
    m_strVersion = version;
}

QString DeviceFlash::version() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_strVersion;
}

bool DeviceFlash::isConnected() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_isConnected;
}

DeviceFlash::Corvane DeviceFlash::currentDevice() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_currentDevice;
}

bool DeviceFlash::isDeviceOpen() const
{
    return m_hidDevice->isOpen();
}

bool DeviceFlash::isMonitoring() const
{
    return m_monitor && m_monitor->isActive();
}
