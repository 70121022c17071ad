// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "deviceflash_p.h"
#include "logcategories.h"

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

DeviceFlash::DeviceFlash(QObject *parent)
    : QObject(parent), d(std::make_unique<DeviceFlashPrivate>())
{
    initialise(DeviceMonitor::create(this));
}

DeviceFlash::DeviceFlash(DeviceMonitor *monitor, QObject *parent)
    : QObject(parent), d(std::make_unique<DeviceFlashPrivate>())
{
    if (monitor)
        monitor->setParent(this);
    initialise(monitor);
}

void DeviceFlash::initialise(DeviceMonitor *monitor)
{
    d->productIds = { quint16(Corvane_Adapter) };

    // Queued connections carry these across threads.
    qRegisterMetaType<DeviceFlash::Corvane>("DeviceFlash::Corvane");
    qRegisterMetaType<DeviceFlash::Corvane>("Corvane");
    qRegisterMetaType<DeviceFlash::DeviceStatus>("DeviceFlash::DeviceStatus");
    qRegisterMetaType<DeviceError>("DeviceError");
    qRegisterMetaType<OperationResult>("OperationResult");
    qRegisterMetaType<char *>("char*");

    d->m_hidDevice = new QHidDevice(this);
    // Tasks run one at a time anyway (the operation mutex); a thread of their own keeps
    // them from queueing behind other objects' tasks in a shared pool.
    d->m_pool = new QThreadPool(this);
    d->m_pool->setMaxThreadCount(1);

    // The monitor replaces the two notification registrations (USB devices, disks).
    d->m_monitor = monitor;
    if (!d->m_monitor || !d->m_monitor->isActive()) {
        qCWarning(lcDevice, "registerDevice fail!");
        qCWarning(lcDevice, "registerDevice fail!");
    }
    if (d->m_monitor)
        connect(d->m_monitor, &DeviceMonitor::notice, this, &DeviceFlash::handleNotice);

    if (QCoreApplication *app = QCoreApplication::instance())
        app->installNativeEventFilter(this);
}

DeviceFlash::~DeviceFlash()
{
    // No task may outlive the object: queued ones return at once, a running one gives
    // up its blocked transfer at the next read slice.
    d->m_shuttingDown = true;
    d->m_cancelTransfers = true;
    waitForIdle();

    if (d->m_monitor)
        disconnect(d->m_monitor, nullptr, this, nullptr);
    d->m_hidDevice->close();
}

void DeviceFlash::startTask(std::function<void()> body)
{
    {
        std::lock_guard<std::mutex> lock(d->m_taskCountMutex);
        ++d->m_pendingTasks;
    }
    d->m_pool->start([this, body = std::move(body)]() {
        if (!d->m_shuttingDown) {
            QMutexLocker operation(&d->m_operationMutex);
            // Shutdown may have begun while this task waited behind a blocked one.
            if (!d->m_shuttingDown) {
                setIsBusy(true);
                body();
                setIsBusy(false);
            }
        }
        // Notify under the lock: the destructor may free the condition variable as soon
        // as it sees the count reach zero.
        std::lock_guard<std::mutex> lock(d->m_taskCountMutex);
        --d->m_pendingTasks;
        d->m_taskCountChanged.notify_all();
    });
}

bool DeviceFlash::isIdle() const
{
    std::lock_guard<std::mutex> lock(d->m_taskCountMutex);
    return d->m_pendingTasks == 0;
}

void DeviceFlash::waitForIdle()
{
    std::unique_lock<std::mutex> lock(d->m_taskCountMutex);
    d->m_taskCountChanged.wait(lock, [this] { return d->m_pendingTasks == 0; });
}

bool DeviceFlash::waitForIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->m_taskCountMutex);
    return d->m_taskCountChanged.wait_for(lock, std::chrono::milliseconds(qMax(timeoutMs, 0)),
        [this] { return d->m_pendingTasks == 0; });
}

void DeviceFlash::setIsBusy(bool busy)
{
    std::lock_guard<std::recursive_mutex> step(d->m_busyMutex);
    {
        QMutexLocker lock(&d->m_stateMutex);
        if (d->m_isBusy == busy)
            return;
        d->m_isBusy = busy;
    }
    qCInfo(lcDevice) << "setIsBusy -- " << busy;
    emit isBusyChanged(busy);
}

bool DeviceFlash::isBusy() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_isBusy;
}

void DeviceFlash::storeVersion(const QString &version)
{
    QMutexLocker lock(&d->m_stateMutex);
    d->m_strVersion = version;
}

void DeviceFlash::storeRecord(const FlashLayout::FirmwareRecord &record)
{
    QMutexLocker lock(&d->m_stateMutex);
    d->m_firmwareRecord = record;
}

FlashLayout::FirmwareRecord DeviceFlash::firmwareRecord() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_firmwareRecord;
}

QString DeviceFlash::version() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_strVersion;
}

bool DeviceFlash::isConnected() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_isConnected;
}

DeviceFlash::Corvane DeviceFlash::currentDevice() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_currentDevice;
}

bool DeviceFlash::isDeviceOpen() const
{
    return d->m_hidDevice->isOpen();
}

bool DeviceFlash::isMonitoring() const
{
    return d->m_monitor && d->m_monitor->isActive();
}

void DeviceFlash::setNotificationWindow(quintptr nativeWindow)
{
    if (d->m_monitor)
        d->m_monitor->listenOn(nativeWindow);
}

void DeviceFlash::setConnectWhenReleased(bool enabled)
{
    d->m_connectWhenReleased = enabled;
}

bool DeviceFlash::answerTimedOut() const
{
    return d->m_answerTimedOut;
}

bool DeviceFlash::isInformationRead() const
{
    return d->m_informationRead;
}

void DeviceFlash::setVerifyAfterWrite(bool enabled)
{
    d->m_verifyAfterWrite = enabled;
}

bool DeviceFlash::isVerifyAfterWrite() const
{
    return d->m_verifyAfterWrite;
}

bool DeviceFlash::isConfigLoaded() const
{
    return d->m_configLoaded;
}

void DeviceFlash::setDataDirectory(const QString &directory)
{
    QMutexLocker lock(&d->m_stateMutex);
    d->m_dataDirectory = directory;
}

QString DeviceFlash::dataDirectory() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return d->m_dataDirectory;
}

void DeviceFlash::setAutoBackupEnabled(bool enabled)
{
    d->m_autoBackup = enabled;
}

bool DeviceFlash::isAutoBackupEnabled() const
{
    return d->m_autoBackup;
}

bool DeviceFlash::cancelBeforeErase()
{
    int state = DeviceFlashPrivate::Flash_Preparing;
    if (!d->m_flashCommit.compare_exchange_strong(state, DeviceFlashPrivate::Flash_Cancelled)
        && state != DeviceFlashPrivate::Flash_Cancelled)
        return false;
    // Reads of the preparation (information, backup) give up at their next slice.
    d->m_cancelTransfers = true;
    qCInfo(lcDevice, "flash operation cancelled before its erase");
    return true;
}

bool DeviceFlash::isFlashCancelled() const
{
    return d->m_flashCommit == DeviceFlashPrivate::Flash_Cancelled;
}

bool DeviceFlash::isFlashCommitted() const
{
    return d->m_flashCommit == DeviceFlashPrivate::Flash_Committed;
}

bool DeviceFlash::stopReadBack()
{
    if (!d->m_readingBack)
        return false;
    d->m_readBackStopped = true;
    qCInfo(lcDevice, "read-back after the write stops");
    return true;
}

int DeviceFlash::firmwareRecordState() const
{
    return d->m_recordState;
}

const char *DeviceFlash::backupBuffer() const
{
    return d->backupBuffer();
}
