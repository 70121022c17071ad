// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupfile.h"
#include "configrestore.h"
#include "deviceflash.h"
#include "flashjob.h"
#include "operationhistory.h"

#include <QDebug>
#include <QMutexLocker>

#include <cstring>

namespace {

constexpr quint32 ConfigBlockAddress = 0x08004000;
constexpr int BootModeOffset = 0x82;
constexpr quint8 ProgressDataStore = 1;
constexpr quint8 ProgressSetting = 2;

} // namespace

bool DeviceFlash::dataBackup()
{
    if (!isDeviceOpen())
        return false;
    {
        // The window reads the buffer after the last progress report: never refill it
        // while another backup or restore still uses it.
        std::lock_guard<std::mutex> lock(m_taskCountMutex);
        if (m_bufferTasks > 0) {
            qWarning() << "dataBackup refused: a backup or restore is still running"
                       << m_bufferTasks;
            return false;
        }
        ++m_bufferTasks;
    }
    startTask([this] {
        backupTask();
        std::lock_guard<std::mutex> lock(m_taskCountMutex);
        --m_bufferTasks;
    });
    return true;
}

void DeviceFlash::backupTask()
{
    const quint32 length = compareVersionNumbers(version(), QStringLiteral("5.5.0")) >= 0
        ? quint32(BackupFile::Layout2Length)
        : quint32(BackupFile::Layout1Length);
    if (!readDeviceMemory(
            CommandReport::Code_Read, ConfigBlockAddress, length, m_backupBuffer, true))
        qWarning() << "dataBackup read failure";
}

void DeviceFlash::dataRestore(const QByteArray &data, const QString &version)
{
    if (!isDeviceOpen())
        return;
    {
        std::lock_guard<std::mutex> lock(m_taskCountMutex);
        if (m_bufferTasks > 0) {
            qWarning() << "dataRestore refused: a backup or restore is still running"
                       << m_bufferTasks;
            return;
        }
        ++m_bufferTasks;
    }
    // Zero the rest, so nothing left from an earlier backup can reach the adapter.
    const int length = qMin(data.size(), int(BackupBufferSize));
    std::memcpy(m_backupBuffer, data.constData(), size_t(length));
    std::memset(m_backupBuffer + length, 0, size_t(BackupBufferSize - length));
    m_backupLength = length;
    startTask([this, version] {
        restoreTask(version);
        std::lock_guard<std::mutex> lock(m_taskCountMutex);
        --m_bufferTasks;
    });
}

void DeviceFlash::restoreTask(const QString &backupVersion)
{
    OperationRecord record(*this, QStringLiteral("restore"));
    bool written = false;
    QString reason = QStringLiteral("The backup was refused; nothing was written.");
    const QString adapterVersion = version();
    const bool keepMacroLayout = ConfigRestore::keepMacroLayout(adapterVersion, backupVersion);
    qInfo() << "dataRestore...." << adapterVersion << backupVersion << keepMacroLayout;

    // Below 5.5.0 sector 5 holds the factory firmware, which the macro block would replace.
    if (compareVersionNumbers(adapterVersion, QStringLiteral("5.5.0")) < 0) {
        qWarning() << "dataRestore refused: firmware below 5.5.0 keeps no configuration store"
                   << adapterVersion;
    } else if (!ensureConfigLoaded()) {
        // Bytes 1..0x41 of the new block must come from the adapter's own configuration.
        qWarning() << "dataRestore refused: the adapter's configuration could not be read";
    } else if (ConfigRestore::isLayout1(backupVersion)) {
        written = restoreV1ToV2(m_backupBuffer, keepMacroLayout);
    } else {
        written = restoreV2ToV2(m_backupBuffer, keepMacroLayout);
    }
    emit settingChanged();
    record.finish(written, reason);
}

bool DeviceFlash::writeRestoreJob(FlashJob *job)
{
    emit dataStoreProgressChanged(0, job->total);
    const bool written = runFlashJob(job, ProgressDataStore);
    // Sector 1 now holds the restored block, no longer the copy in configBuffer.
    m_configLoaded = false;
    return written;
}

bool DeviceFlash::restoreV1ToV2(char *buffer, bool keepMacroLayout)
{
    qWarning() << "restoreV1ToV2";
    std::unique_ptr<FlashJob> job = FlashJob::create();
    QString reason;
    // Only the configuration area counts: the digest behind it is no part of any block.
    const qint64 size = qMin<qint64>(m_backupLength, BackupFile::Layout1Length);
    if (!ConfigRestore::buildLayout1(
            buffer, size, configBuffer(), keepMacroLayout, *job, &reason)) {
        qWarning().noquote() << "dataRestore refused:" << reason;
        return false;
    }
    return writeRestoreJob(job.get());
}

bool DeviceFlash::restoreV2ToV2(char *buffer, bool keepMacroLayout)
{
    std::unique_ptr<FlashJob> job = FlashJob::create();
    QString reason;
    const qint64 size = qMin<qint64>(m_backupLength, BackupFile::Layout2Length);
    if (!ConfigRestore::buildLayout2(
            buffer, size, configBuffer(), keepMacroLayout, *job, &reason)) {
        qWarning().noquote() << "dataRestore refused:" << reason;
        return false;
    }
    return writeRestoreJob(job.get());
}

void DeviceFlash::setBootMode(int mode)
{
    if (!isDeviceOpen())
        return;
    startTask([this, mode] { bootModeTask(mode); });
}

void DeviceFlash::bootModeTask(int mode)
{
    OperationRecord record(*this, QStringLiteral("boot-mode"));
    // The block is rewritten whole: it must be the adapter's own, read since connect.
    if (!ensureConfigLoaded()) {
        qWarning() << "setBootMode refused: the adapter's configuration could not be read";
        record.finish(false, QStringLiteral("The adapter's configuration could not be read."));
        return;
    }
    QByteArray block = configBuffer();
    block[BootModeOffset] = char(mode & 0xFF);

    std::unique_ptr<FlashJob> job = FlashJob::create();
    job->addSector(1);
    job->setRegion(0, ConfigBlockAddress, block);
    job->computeTotal();
    const bool written = runFlashJob(job.get(), ProgressSetting);
    // Sector 1 now holds the new block (or what of it was written), not configBuffer's copy.
    m_configLoaded = false;
    record.finish(written);
}

bool DeviceFlash::loadConfiguration()
{
    if (!isDeviceOpen())
        return false;
    startTask([this] { ensureConfigLoaded(); });
    return true;
}

bool DeviceFlash::ensureConfigLoaded()
{
    if (m_configLoaded)
        return true;
    if (!isDeviceOpen())
        return false;
    // Read into a scratch block so a failed read leaves configBuffer as it was.
    QByteArray block(ConfigBufferSize, '\0');
    if (!readDeviceMemory(
            CommandReport::Code_Read, ConfigBlockAddress, ConfigBufferSize, block.data(), false)) {
        qWarning() << "ensureConfigLoaded read failure";
        return false;
    }
    {
        QMutexLocker lock(&m_stateMutex);
        std::memcpy(configBufferData, block.constData(), ConfigBufferSize);
    }
    m_configLoaded = true;
    return true;
}
