// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flashlayout.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

class DeviceFlash;
class OperationRecord;

// What the engine's operations use of DeviceFlash beyond its public members (command
// channel, flash commands, information read, signals): the task runner with the busy flag
// and the operation mutex, the backup buffer and its guard, the configuration copy and the
// cancel point before the first erase. A handle: copies refer to the same adapter.
class AdapterLink
{
public:
    explicit AdapterLink(DeviceFlash &device) : m_device(&device) { }

    DeviceFlash &device() const { return *m_device; }

    // Runs body as one task on the device's worker thread, holding the operation mutex,
    // with the busy flag set around it.
    void runTask(std::function<void()> body) const;
    // As runTask() for a task that uses the backup buffer: refused (false) while another
    // such task has not ended, as the window reads the buffer after the task's last report.
    // With fill, the buffer first receives fill's bytes (at most its size), the rest zeros.
    bool runBufferTask(std::function<void()> body, const QByteArray *fill = nullptr) const;
    // The backup buffer (DeviceFlash::BackupBufferSize bytes) and how much of it the last
    // fill set; for buffer tasks only.
    char *backupBuffer() const;
    qint64 backupLength() const;

    // Reads the configuration block into the copy unless it was read since connect.
    bool readConfigurationOnce() const;
    // After a write to sector 1 the copy is no longer the adapter's block.
    void markConfigStale() const;
    // The firmware record read back after a write: 1 signed, 0 not, -1 unread.
    void setFirmwareRecordState(int state) const;
    // Stores a firmware record read back from the adapter and announces its version when
    // it changed.
    void publishRecord(const FlashLayout::FirmwareRecord &record) const;

    // The history record of the operation the running task performs (task thread).
    void setActiveRecord(OperationRecord *record) const;
    OperationRecord *activeRecord() const;
    // The cancel point before a job's first erase: commits the flash operation unless it
    // was cancelled. False: nothing may be erased.
    bool commitToErase() const;
    // Whether the last erase request got an answer at all (whatever it said).
    bool eraseAnswered() const;
    // Frames a read-back after a write, which DeviceFlash::stopReadBack() may end early.
    void setReadingBack(bool reading) const;
    bool isReadBackStopped() const;

private:
    DeviceFlash *m_device;
};
