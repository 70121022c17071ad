// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commandreport.h"
#include "deviceerror.h"
#include "flashlayout.h"
#include "operationresult.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class DeviceMonitor;
class DeviceFlashPrivate;
struct DeviceNotice;
struct FlashJob;

// Which progress signal a flash write reports through.
enum class FlashProgress : quint8 {
    Firmware = 0, // write2FlashProgressChanged: update, factory restore
    DataStore = 1, // dataStoreProgressChanged: configuration restore
    Setting = 2, // settingProgressChanged: boot mode
};

// The adapter: device link (HID access, command channel, presence, information, task
// model) and the firmware/configuration engine. Every device operation runs as one task
// on this object's own worker thread under one operation mutex, framed by the busy flag;
// several objects, each on its own adapter, work in parallel.
//
// Where the members live. device/ (corvane_device, which links on its own):
//   deviceflash.cpp     construction, the task runner, busy flag, state, data directory,
//                       the cancel before the first erase
//   hotplug.cpp         presence and hot-plug: open, arrival, removal, the adapter's lock
//   commandchannel.cpp  writeCMDData, readCMDData, readDeviceMemory, answer time-outs
//   flashcommands.cpp   eraseFlash, write2Flash
//   deviceinfo.cpp      readDeviceConfig, updateVersion, loadConfiguration, version gates
//   adapterlink.*       what the engine's tasks use beyond the public members below
// engine/ (corvane_engine): the operations, each of which only starts its task here:
//   firmwareupdate.cpp  updateFirmware, restoreFactorySettings, getFirmwareData
//   firmwareverify.cpp  verifyFirmware
//   configengine.cpp    dataBackup, dataRestore, setBootMode
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
    bool nativeEventFilter(
        const QByteArray &eventType, void *message, NativeEventResult *result) override;
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
    // Receives device notifications through this native window of the program (Windows: the
    // main window's handle) instead of the device layer's own; nothing on Linux.
    void setNotificationWindow(quintptr nativeWindow);
    // While another program holds the adapter, looks twice a second whether it has let go
    // (sending the adapter nothing) and then connects. Off by default: a command that finds
    // the adapter held ends instead.
    void setConnectWhenReleased(bool enabled);

    // --- command channel ---
    // Sends one request, after dropping any input report already waiting on the handle (an
    // answer nobody read must never be taken for this request's).
    bool writeCMDData(const CommandReport &request);
    // extraAllowanceMs lengthens the wait for this one answer beyond the usual answer time:
    // an erase adds the worst-case time of its sectors.
    bool readCMDData(CommandReport &response, int extraAllowanceMs = 0);
    bool readDeviceMemory(
        quint32 code, quint32 address, quint32 length, char *destination, bool reportProgress);
    // Longest wait for one answer, in milliseconds; 0 (the default) waits as long as it
    // takes. When it passes, the transfer fails, nothing more is sent until the adapter is
    // opened again, and answerTimedOut() becomes true.
    void setAnswerTimeout(int milliseconds);
    bool answerTimedOut() const;
    // True while an answer has been outstanding for longer than its request's allowance: the
    // usual answer time (the time-out above, or the stall time where that is 0) plus what the
    // request added. A close may then end the job; otherwise nothing may.
    bool isStalled() const;
    // The usual answer time that isStalled() counts where no time-out is set (the window,
    // which waits for the answer itself); 30 s unless set.
    void setStallTime(int milliseconds);

    // --- flash commands (inside tasks) ---
    // Erases the job's sectors with one request. Returns whether the adapter acknowledged
    // the erase (0x59).
    bool eraseFlash(const FlashJob *job);
    // Writes the job's regions in 52-byte chunks, each checked against the adapter's echo,
    // reporting progress through the signal of progressKind. True when every byte of the
    // job was written and verified.
    bool write2Flash(FlashJob *job, FlashProgress progressKind);

    // --- information and version gates ---
    void readDeviceConfig();
    // True when the last information read got all three blocks (whether or not the firmware
    // record had its signatures); false before the first and while or after a failed one.
    bool isInformationRead() const;
    // Reads the 16 KiB configuration block into configBuffer (inside a task) and announces
    // the firmware version found there.
    void updateVersion();
    // Reads the configuration block into configBuffer in a task, unless it was read since
    // the adapter was connected; false when the adapter is not open.
    bool loadConfiguration();
    bool isConfigLoaded() const;
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
    void setVerifyAfterWrite(bool enabled);
    bool isVerifyAfterWrite() const;
    void restoreFactorySettings(const QString &path, const QString &firmware_version);
    // Reads a firmware file as the update and the factory restores do (inside their tasks);
    // empty, after error(DeviceError_FirmwareEmpty), when it cannot be read or is too large.
    QByteArray getFirmwareData(const QString &path);
    bool dataBackup();
    void dataRestore(const QByteArray &data, const QString &version);
    void setBootMode(int mode);

    // --- automatic backup and history ---
    // The per-user data directory: an update or factory restore first saves the
    // configuration under its "backups" folder, and every flash operation appends a line
    // to its "history.jsonl". Empty (the default) keeps neither.
    void setDataDirectory(const QString &directory);
    QString dataDirectory() const;
    // Whether an update or factory restore saves the configuration first (default true).
    void setAutoBackupEnabled(bool enabled);
    bool isAutoBackupEnabled() const;
    // Cancels the flash operation under way or to come, unless its first erase was already
    // requested. True when nothing will be erased: this and every later flash job of this
    // object is refused. False once committed: the job runs to its end. Any thread.
    bool cancelBeforeErase();
    bool isFlashCancelled() const;
    // A flash job of this object has requested its erase.
    bool isFlashCommitted() const;
    // Stops the read-back that follows an update's write (setVerifyAfterWrite()) at its next
    // read: the write has ended by then, so nothing but the comparison is lost. True when
    // such a read-back runs. Any thread.
    bool stopReadBack();
    // What the last update or factory restore read back at 0x08004000: 1 when both
    // signature bytes of the firmware record were there, 0 when not, -1 when unread.
    int firmwareRecordState() const;
    // The firmware record the last information read or read-back found (unreadable when
    // none was read): the installed firmware's version, address and length.
    FlashLayout::FirmwareRecord firmwareRecord() const;

    // Copies of the adapter's buffers, for tests and the command-line front.
    QByteArray factoryInfo() const;
    QByteArray configBuffer() const;
    const char *backupBuffer() const;

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
    void regionVerified(quint32 address, quint32 length, quint32 differing, qint64 firstDifference);
    // After a failed write the adapter's configuration is what that write left: instead of
    // a new backup, the one saved before the first failed attempt stands (its path).
    void autoBackupReused(QString path);
    // A flash operation has ended: its one result, as the history records it. Every update,
    // factory restore, configuration restore and boot-mode task emits it once, last.
    void finished(OperationResult result);
    // Another program holds the history's lock: the operation waits for it, waitMs at most in
    // all (before its erase, the job starts only once its line is written).
    void historyLockBusy(int waitMs);
    // The adapter is attached but its HID node cannot be opened (usually permissions).
    void deviceAccessDenied(QString node);
    // Another program holds the adapter (its process id, 0 when unknown): nothing was sent.
    void deviceInUse(qint64 pid);
    // The adapter's lock cannot be taken, so it was not opened: nothing was sent.
    void deviceLockFailed(QString reason);

private:
    friend class AdapterLink;

    // Task model: runs body on this object's worker thread under the operation mutex, busy
    // framed.
    void startTask(std::function<void()> body);
    void startupOpenTask(quint64 epoch);
    void arrivalTask(quint32 productId, quint64 epoch);
    // Reads the configuration block into configBuffer unless it was read since connect.
    bool ensureConfigLoaded();

    void handleArrival(const QString &name);
    // Opens the adapter and starts the arrival task (GUI thread, engine idle).
    void openArrivedAdapter(quint16 productId);
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
    void storeVersion(const QString &version);
    void storeRecord(const FlashLayout::FirmwareRecord &record);
    // Stores and announces a version read from the adapter, when it is another one.
    void announceVersion(const QString &version);
    void initialise(DeviceMonitor *monitor);
    void reportAccessDenied(quint16 vendorId, quint16 productId);
    void reportInUse(quint16 productId);
    void reportLockFailed();

    // The state, its locks and the buffers (deviceflash_p.h).
    std::unique_ptr<DeviceFlashPrivate> d;
};

Q_DECLARE_METATYPE(DeviceFlash::Corvane)
