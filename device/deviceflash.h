// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commandreport.h"
#include "deviceerror.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>

class QHidDevice;
class QThreadPool;
class QTimer;
class DeviceMonitor;
struct DeviceNotice;
struct FlashJob;
class OperationRecord;

// The adapter: device link (HID access, command channel, presence, information, task
// model) and the firmware/configuration engine. Every device operation runs as one task
// on this object's own worker thread under one operation mutex, framed by the busy flag;
// several objects, each on its own adapter, work in parallel.
// The engine operations are implemented in the engine library.
class DeviceFlash : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    enum DeviceStatus {
        DeviceStatus_Play = 0,
        DeviceStatus_FlashUpgrade = 1,
        DeviceStatus_Factory = 2,
        DeviceStatus_ForceFactory = 3,
        DeviceStatus_Init = 4,
        DeviceStatus_FlashUpgradeImmediately = 5,
        DeviceStatus_Config = 6,
        DeviceStatus_ForceApp = 7,
        DeviceStatus_Unknow = 8,
    };
    Q_ENUM(DeviceStatus)

    enum Corvane : quint32 {
        Corvane_Adapter = 0xB471,
        Corvane_NoDevice = 0xB472,
    };
    Q_ENUM(Corvane)

    static constexpr quint16 adapterVendorId = 0x0E3A;
    static constexpr int FactoryInfoSize = 64;
    static constexpr int ConfigBufferSize = 16384;
    static constexpr int BackupBufferSize = 0x3C400;

    // Without a monitor argument the platform's device monitor (udev) is created.
    explicit DeviceFlash(QObject *parent = nullptr);
    // Uses the given monitor instead (taken as a child; may be null for none).
    DeviceFlash(DeviceMonitor *monitor, QObject *parent);
    ~DeviceFlash() override;

    // --- presence and hot-plug ---
    void openDevice();
    // Opens the adapter at path (as QHidDevice::enumerate() lists it); by default (empty)
    // the first one that no other program holds. Set before openDevice().
    void setAdapterPath(const QByteArray &path);
    QByteArray adapterPath() const;
    // Where the adapter that the last open chose sits (also when another program held
    // it); empty when none was attached.
    QByteArray openedPath() const;
    bool open(quint16 vendorId, quint16 productId);
    // The native filter's result slot is a long on Qt 5 and a qintptr on Qt 6.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    using NativeEventResult = qintptr;
#else
    using NativeEventResult = long;
#endif
    bool nativeEventFilter(const QByteArray &eventType, void *message,
                           NativeEventResult *result) override;
    // Platform-free handling of the three device notices (GUI thread).
    void handleNotice(const DeviceNotice &notice);
    bool isConnected() const;
    Corvane currentDevice() const;
    // Used by the monitor to tell a present-but-inaccessible adapter (permissions).
    bool isDeviceOpen() const;
    // Waits for the running tasks, then closes the adapter and gives it up to other
    // programs; hot-plug is still followed and the next arrival opens it again.
    void closeDevice();
    // True while the platform monitor reports device changes (hot-plug is followed).
    bool isMonitoring() const;
    // While another program holds the adapter, looks twice a second whether it has let go
    // (sending the adapter nothing) and then connects. Off by default: a command that finds
    // the adapter held ends instead.
    void setConnectWhenReleased(bool enabled) { m_connectWhenReleased = enabled; }

    // --- command channel ---
    // Sends one request, after dropping any input report already waiting on the handle (an
    // answer nobody read must never be taken for this request's).
    bool writeCMDData(const CommandReport &request);
    // extraAllowanceMs lengthens the wait for this one answer beyond the usual answer time:
    // an erase adds the worst-case time of its sectors.
    bool readCMDData(CommandReport &response, int extraAllowanceMs = 0);
    bool readDeviceMemory(quint32 code, quint32 address, quint32 length, char *destination,
                          bool reportProgress);
    // Longest wait for one answer, in milliseconds; 0 (the default) waits as long as it
    // takes. When it passes, the transfer fails, nothing more is sent until the adapter is
    // opened again, and answerTimedOut() becomes true.
    void setAnswerTimeout(int milliseconds);
    bool answerTimedOut() const { return m_answerTimedOut; }
    // True while an answer has been outstanding for longer than its request's allowance: the
    // usual answer time (the time-out above, or the stall time where that is 0) plus what the
    // request added. A close may then end the job; otherwise nothing may.
    bool isStalled() const;
    // The usual answer time that isStalled() counts where no time-out is set (the window,
    // which waits for the answer itself); 30 s unless set.
    void setStallTime(int milliseconds);

    // --- information and version gates ---
    void readDeviceConfig();
    // True when the last information read got all three blocks (whether or not the firmware
    // record had its signatures); false before the first and while or after a failed one.
    bool isInformationRead() const { return m_informationRead; }
    QString version() const;
    QByteArray serialNumber() const;
    static int compareVersionNumbers(const QString &a, const QString &b);
    static bool isCompatibleVersion(const QString &a, const QString &b);
    static int compareMajorMinor(const QString &a, const QString &b);
    bool isSupportBootMode() const;
    bool isSupportDataStore() const;
    int bootMode() const;
    void setIsBusy(bool busy);
    bool isBusy() const;

    // --- engine operations (each starts one task and returns at once) ---
    // With a catalogue version, an image whose own version is another one is refused
    // before anything is saved or erased.
    void updateFirmware(const QString &path, const QString &catalogueVersion = QString());
    // Checks the firmware file as an update does, builds the same job and reads every region
    // of it back from the adapter to compare; never erases or writes. Reports through
    // verifyProgressChanged and regionVerified, or error(DeviceError_FirmwareEmpty) when the
    // file is refused.
    void verifyFirmware(const QString &path);
    // Whether an update reads every region back after a successful write (default false).
    void setVerifyAfterWrite(bool enabled) { m_verifyAfterWrite = enabled; }
    void restoreFactorySettings(const QString &path, const QString &firmware_version);
    bool dataBackup();
    void dataRestore(const QByteArray &data, const QString &version);
    void setBootMode(int mode);
    // Reads the configuration block into configBuffer in a task, unless it was read since
    // the adapter was connected; false when the adapter is not open.
    bool loadConfiguration();
    bool isConfigLoaded() const { return m_configLoaded; }

    // --- automatic backup and history ---
    // The per-user data directory: an update or factory restore first saves the
    // configuration under its "backups" folder, and every flash operation appends a line
    // to its "history.jsonl". Empty (the default) keeps neither.
    void setDataDirectory(const QString &directory);
    QString dataDirectory() const;
    // Whether an update or factory restore saves the configuration first (default true).
    void setAutoBackupEnabled(bool enabled) { m_autoBackup = enabled; }
    bool isAutoBackupEnabled() const { return m_autoBackup; }
    // The history record of the flash operation the running task performs (task thread).
    void setActiveRecord(OperationRecord *record) { m_activeRecord = record; }
    // Cancels the flash operation under way or to come, unless its first erase was already
    // requested. True when nothing will be erased: this and every later flash job of this
    // object is refused. False once committed: the job runs to its end. Any thread.
    bool cancelBeforeErase();
    bool isFlashCancelled() const { return m_flashCommit == Flash_Cancelled; }
    // A flash job of this object has requested its erase.
    bool isFlashCommitted() const { return m_flashCommit == Flash_Committed; }
    // What the last update or factory restore read back at 0x08004000: 1 when both
    // signature bytes of the firmware record were there, 0 when not, -1 when unread.
    int firmwareRecordState() const { return m_recordState; }

    // --- engine building blocks (run inside tasks) ---
    QByteArray getFirmwareData(const QString &path);
    // Returns whether the adapter acknowledged the erase (0x59).
    bool eraseFlash(const FlashJob *job);
    // Returns true when every byte of the job was written and verified.
    bool write2Flash(FlashJob *job, quint8 progressKind);
    // Erase, then write; when the write stops short of the job's total, emits one
    // error(): DeviceError_EraseFailure after a refused erase, else DeviceError_WriteFailure.
    // A job with a region outside the sectors it erases is refused before the erase, with
    // DeviceError_FirmwareEmpty.
    bool runFlashJob(FlashJob *job, quint8 progressKind);
    void updateVersion();
    // Reads back the image's bytes of every region of an update job (0x56 reads of up to 52
    // bytes) and compares them. True when every region was read and matched.
    bool verifyUpdateJob(const FlashJob &job);
    // Reads the configuration area as a backup does and saves it to a new file under the
    // data directory, when the firmware keeps a configuration store (5.5.0 and later) and
    // automatic backups are on. False, after error(DeviceError_BackupFailure), when it
    // could not be read or written: the caller must not erase anything then.
    bool saveAutomaticBackup(QString *savedPath);

    // Copies of the adapter's buffers, for tests and the command-line front.
    QByteArray factoryInfo() const;
    QByteArray configBuffer() const;
    const char *backupBuffer() const { return m_backupBuffer; }

    // True when no task is running or waiting to run.
    bool isIdle() const;
    // Blocks until every task started so far has ended (command-line front, tests).
    void waitForIdle();
    // As waitForIdle(), but gives up after timeoutMs; true when idle. Signals queued to
    // this thread still need its event loop, so callers alternate this with processEvents.
    bool waitForIdle(int timeoutMs);

signals:
    void deviceConnectStatusChanged(bool connected, DeviceFlash::Corvane device);
    void deviceRunStateChanged(DeviceFlash::DeviceStatus state);
    void isBusyChanged(bool isBusy);
    void versionChanged(QString version);
    void settingChanged();
    void settingInit(int modek, bool supportStore);
    void error(DeviceError error);
    void dataBackupProgressChanged(qlonglong current, qlonglong total, char *backupData);
    void dataStoreProgressChanged(qlonglong current, qlonglong total);
    void write2FlashProgressChanged(qlonglong current, qlonglong total);
    void settingProgressChanged(qlonglong current, qlonglong total);
    // The automatic backup before an update or factory restore: its read, then its file.
    void autoBackupProgressChanged(qlonglong current, qlonglong total);
    void autoBackupSaved(QString path);
    // A read-back: bytes read so far of all it reads, then one signal per region read with
    // the number of its bytes that differ and the address of the first (-1 when none). A
    // read that fails ends it short of total.
    void verifyProgressChanged(qlonglong current, qlonglong total);
    void regionVerified(quint32 address, quint32 length, quint32 differing,
                        qint64 firstDifference);
    // After a failed write the adapter's configuration is what that write left: instead of
    // a new backup, the one saved before the first failed attempt stands (its path).
    void autoBackupReused(QString path);
    // The adapter is attached but its HID node cannot be opened (usually permissions).
    void deviceAccessDenied(QString node);
    // Another program holds the adapter (its process id, 0 when unknown): nothing was sent.
    void deviceInUse(qint64 pid);
    // The adapter's lock cannot be taken, so it was not opened: nothing was sent.
    void deviceLockFailed(QString reason);

private:
    friend class DeviceFlashTestAccess;

    // Task model: runs body on the global pool under the operation mutex, busy framed.
    void startTask(std::function<void()> body);
    void startupOpenTask(quint64 epoch);
    void arrivalTask(quint32 productId, quint64 epoch);
    void updateTask(const QString &path, const QString &catalogueVersion);
    void verifyTask(const QString &path);
    void restoreFactorySettings_v1(const QString &path, const QString &firmware_version);
    void restoreFactorySettings_v2(const QString &path, const QString &firmware_version);
    void backupTask();
    void restoreTask(const QString &version);
    void bootModeTask(int mode);
    bool restoreV1ToV2(char *buffer, bool keepMacroLayout);
    bool restoreV2ToV2(char *buffer, bool keepMacroLayout);
    // Announces the restore's total, then erases and writes the job (progress kind 1).
    bool writeRestoreJob(FlashJob *job);
    // Reads the configuration block into configBuffer unless it was read since connect.
    bool ensureConfigLoaded();
    // The cancel point before a job's first erase: commits the flash operation unless it
    // was cancelled, and writes the "started" line of its history record. False: no erase.
    bool commitToErase();

    void handleArrival(const QString &name);
    // Opens the adapter and starts the arrival task (GUI thread, engine idle).
    void connectAdapter(quint16 productId);
    // Runs an arrival that came while a task was under way, once the engine is idle.
    void retryDeferredArrival();
    // Publishes the connection a start-up or arrival task made, unless the adapter was
    // removed after the task was started.
    void announceConnected(Corvane device, quint64 epoch);
    quint64 presenceEpoch() const;
    void dropStaleReports();
    void handleRemoval(const QString &name, const QString &removedPath);
    // Whether a removal of the device at removedPath concerns the adapter this object
    // opened or found held; without a location on either side, the ids alone decide.
    bool removalNamesAdapter(const QString &removedPath) const;
    // Keeps where the adapter that open() chose sits, for removals.
    void rememberAdapter();
    void watchForRelease(quint16 productId);
    void pollHeldAdapter();
    bool matchesAdapter(const QString &name, quint32 *productId);
    void setVersion(const QString &version);
    void initialise(DeviceMonitor *monitor);
    void reportAccessDenied(quint16 vendorId, quint16 productId);
    void reportInUse(quint16 productId);
    void reportLockFailed();

    bool m_isBusy = false;
    bool m_isConnected = false;
    Corvane m_currentDevice = Corvane_NoDevice;
    DeviceStatus m_runState = DeviceStatus_Unknow;
    QList<quint16> productIds;
    QHidDevice *m_hidDevice = nullptr;
    DeviceMonitor *m_monitor = nullptr;
    // The tasks' thread: one per object, so one object's tasks never wait for another's.
    QThreadPool *m_pool = nullptr;
    QByteArray m_adapterPath; // guarded by m_stateMutex
    QMutex m_operationMutex;
    char *factoryInfoBuffer = nullptr;
    char *configBufferData = nullptr;
    char *m_backupBuffer = nullptr;
    QString m_strVersion;

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
    std::atomic<bool> m_connectWhenReleased{false};
    std::atomic<int> m_answerTimeoutMs{0};
    std::atomic<bool> m_answerTimedOut{false};
    std::atomic<int> m_stallTimeMs{30000};
    // When the outstanding answer's allowance ends (steady clock, ms); max when none is.
    std::atomic<qint64> m_answerDueMs{std::numeric_limits<qint64>::max()};
    // Makes a busy change and its signal one step, so removal's order holds against a task.
    std::recursive_mutex m_busyMutex;
    // configBuffer holds the adapter's block read since it was last connected.
    std::atomic<bool> m_configLoaded{false};
    // Set by removal and shutdown: blocked reads give up at their next slice.
    std::atomic<bool> m_cancelTransfers{false};
    std::atomic<bool> m_shuttingDown{false};
    // Tasks started and not yet ended (backup buffer guard, waitForIdle, shutdown).
    mutable std::mutex m_taskCountMutex;
    std::condition_variable m_taskCountChanged;
    int m_pendingTasks = 0;
    int m_bufferTasks = 0; // backup and restore tasks using m_backupBuffer
    qint64 m_backupLength = 0; // bytes of m_backupBuffer filled by dataRestore
    QString m_dataDirectory; // guarded by m_stateMutex
    std::atomic<bool> m_autoBackup{true};
    std::atomic<bool> m_verifyAfterWrite{false};
    std::atomic<int> m_recordState{-1};
    std::atomic<bool> m_informationRead{false};
    // Preparing until the first erase request, then Committed for good; Cancelled refuses
    // every flash job. One state, so a cancel and the start of the erase never both win.
    enum FlashCommit { Flash_Preparing, Flash_Cancelled, Flash_Committed };
    std::atomic<int> m_flashCommit{Flash_Preparing};
    OperationRecord *m_activeRecord = nullptr; // task thread only
};

Q_DECLARE_METATYPE(DeviceFlash::Corvane)
