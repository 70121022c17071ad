// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>

class OperationRecord;
class QHidDevice;
class QThreadPool;
class QTimer;

// DeviceFlash's state, seen only by device/: the other layers reach it through
// DeviceFlash's members and AdapterLink.
class DeviceFlashPrivate
{
public:
    bool m_isBusy = false;
    bool m_isConnected = false;
    DeviceFlash::Corvane m_currentDevice = DeviceFlash::Corvane_NoDevice;
    DeviceFlash::DeviceStatus m_runState = DeviceFlash::DeviceStatus_Unknow;
    QList<quint16> productIds;
    QHidDevice *m_hidDevice = nullptr;
    DeviceMonitor *m_monitor = nullptr;
    // The tasks' thread: one per object, so one object's tasks never wait for another's.
    QThreadPool *m_pool = nullptr;
    QByteArray m_adapterPath; // guarded by m_stateMutex
    QMutex m_operationMutex;
    char factoryInfoBuffer[DeviceFlash::FactoryInfoSize] = {};
    char configBufferData[DeviceFlash::ConfigBufferSize] = {};
    // Zeroed when a backup or restore first needs it (backupBuffer()): most sessions never
    // use its quarter megabyte.
    std::unique_ptr<char[]> m_backupBuffer;
    char *backupBuffer()
    {
        if (!m_backupBuffer)
            m_backupBuffer = std::make_unique<char[]>(DeviceFlash::BackupBufferSize);
        return m_backupBuffer.get();
    }
    QString m_strVersion;
    FlashLayout::FirmwareRecord m_firmwareRecord; // guarded by m_stateMutex

    // Guards m_strVersion, the busy flag, the connection state and the factory and
    // configuration buffers between the GUI thread and the tasks.
    mutable QMutex m_stateMutex;
    // Counts removals: a task started before the last one announces no connection.
    quint64 m_presenceEpoch = 0;
    // An arrival that came while a task ran, and the timer that retries it when idle.
    QString m_deferredArrival;
    QTimer *m_arrivalRetry = nullptr;
    // The adapter's HID node and sysfs path (guarded by m_stateMutex); empty when unknown.
    QByteArray m_adapterNode;
    QString m_adapterSysPath;
    // Looks whether another program has let go of the adapter (GUI thread).
    QTimer *m_releasePoll = nullptr;
    quint16 m_heldProductId = 0;
    std::atomic<bool> m_connectWhenReleased { false };
    std::atomic<int> m_answerTimeoutMs { 0 };
    std::atomic<bool> m_answerTimedOut { false };
    std::atomic<int> m_stallTimeMs { 30000 };
    // When the outstanding answer's allowance ends (steady clock, ms); max when none is.
    std::atomic<qint64> m_answerDueMs { std::numeric_limits<qint64>::max() };
    // Makes a busy change and its signal one step, so removal's order holds against a task.
    std::recursive_mutex m_busyMutex;
    // configBuffer holds the adapter's block read since it was last connected.
    std::atomic<bool> m_configLoaded { false };
    // Set by removal and shutdown: blocked reads give up at their next slice.
    std::atomic<bool> m_cancelTransfers { false };
    std::atomic<bool> m_shuttingDown { false };
    // Tasks started and not yet ended (backup buffer guard, waitForIdle, shutdown).
    mutable std::mutex m_taskCountMutex;
    std::condition_variable m_taskCountChanged;
    int m_pendingTasks = 0;
    int m_bufferTasks = 0; // backup and restore tasks using m_backupBuffer
    qint64 m_backupLength = 0; // bytes of m_backupBuffer filled by dataRestore
    QString m_dataDirectory; // guarded by m_stateMutex
    std::atomic<bool> m_autoBackup { true };
    std::atomic<bool> m_verifyAfterWrite { false };
    std::atomic<int> m_recordState { -1 };
    std::atomic<bool> m_informationRead { false };
    // Preparing until the first erase request, then Committed for good; Cancelled refuses
    // every flash job. One state, so a cancel and the start of the erase never both win.
    enum FlashCommit { Flash_Preparing, Flash_Cancelled, Flash_Committed };
    std::atomic<int> m_flashCommit { Flash_Preparing };
    // A read-back after an update's write runs, and whether it was asked to stop.
    std::atomic<bool> m_readingBack { false };
    std::atomic<bool> m_readBackStopped { false };
    // The last erase request got an answer at all (whatever its code).
    std::atomic<bool> m_eraseAnswered { false };
    OperationRecord *m_activeRecord = nullptr; // task thread only
};
