// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlink.h"
#include "logcategories.h"

#include "deviceflash.h"
#include "deviceflash_p.h"

#include <QDebug>

#include <cstring>

void AdapterLink::runTask(std::function<void()> body) const
{
    m_device->startTask(std::move(body));
}

bool AdapterLink::runBufferTask(std::function<void()> body, const QByteArray *fill) const
{
    DeviceFlashPrivate &d = *m_device->d;
    {
        std::lock_guard<std::mutex> lock(d.m_taskCountMutex);
        if (d.m_bufferTasks > 0) {
            qCWarning(lcDevice) << "buffer task refused: a backup or restore is still running"
                                << d.m_bufferTasks;
            return false;
        }
        ++d.m_bufferTasks;
    }
    if (fill) {
        // Zero the rest, so nothing left from an earlier backup can reach the adapter.
        const int length = qMin(fill->size(), int(DeviceFlash::BackupBufferSize));
        char *buffer = d.backupBuffer();
        std::memcpy(buffer, fill->constData(), size_t(length));
        std::memset(buffer + length, 0, size_t(DeviceFlash::BackupBufferSize - length));
        d.m_backupLength = length;
    }
    // Made here, on the object's own thread, before the task that uses it starts.
    d.backupBuffer();
    m_device->startTask([&d, body = std::move(body)] {
        body();
        std::lock_guard<std::mutex> lock(d.m_taskCountMutex);
        --d.m_bufferTasks;
    });
    return true;
}

char *AdapterLink::backupBuffer() const
{
    return m_device->d->backupBuffer();
}

qint64 AdapterLink::backupLength() const
{
    return m_device->d->m_backupLength;
}

bool AdapterLink::readConfigurationOnce() const
{
    return m_device->ensureConfigLoaded();
}

void AdapterLink::markConfigStale() const
{
    m_device->d->m_configLoaded = false;
}

void AdapterLink::setFirmwareRecordState(int state) const
{
    m_device->d->m_recordState = state;
}

void AdapterLink::publishRecord(const FlashLayout::FirmwareRecord &record) const
{
    m_device->storeRecord(record);
    if (record.isValid())
        m_device->announceVersion(record.version());
}

void AdapterLink::setActiveRecord(OperationRecord *record) const
{
    m_device->d->m_activeRecord = record;
}

OperationRecord *AdapterLink::activeRecord() const
{
    return m_device->d->m_activeRecord;
}

bool AdapterLink::eraseAnswered() const
{
    return m_device->d->m_eraseAnswered;
}

void AdapterLink::setReadingBack(bool reading) const
{
    if (reading)
        m_device->d->m_readBackStopped = false;
    m_device->d->m_readingBack = reading;
}

bool AdapterLink::isReadBackStopped() const
{
    return m_device->d->m_readBackStopped;
}

bool AdapterLink::commitToErase() const
{
    int state = DeviceFlashPrivate::Flash_Preparing;
    if (!m_device->d->m_flashCommit.compare_exchange_strong(
            state, DeviceFlashPrivate::Flash_Committed)
        && state == DeviceFlashPrivate::Flash_Cancelled) {
        qCWarning(lcDevice, "flash job cancelled, nothing erased");
        return false;
    }
    return true;
}
