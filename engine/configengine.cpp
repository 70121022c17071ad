// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlink.h"
#include "backupfile.h"
#include "configrestore.h"
#include "deviceflash.h"
#include "firmwareversion.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "flashprogramming.h"
#include "operationhistory.h"

#include <QDebug>

namespace {

constexpr int BootModeOffset = 0x82;

void backupTask(const AdapterLink &link)
{
    DeviceFlash &device = link.device();
    const quint32 length = FirmwareVersion::keepsConfigurationStore(device.version())
        ? quint32(BackupFile::Layout2Length)
        : quint32(BackupFile::Layout1Length);
    if (!device.readDeviceMemory(CommandReport::Code_Read, FlashLayout::ConfigBlockAddress,
                                 length, link.backupBuffer(), true))
        qWarning() << "dataBackup read failure";
}

// Announces the restore's total, then erases and writes the job.
bool writeRestoreJob(const AdapterLink &link, FlashJob *job)
{
    emit link.device().dataStoreProgressChanged(0, job->total);
    const bool written = FlashProgramming::runJob(link.device(), job, FlashProgress::DataStore);
    // Sector 1 now holds the restored block, no longer the copy in configBuffer.
    link.markConfigStale();
    return written;
}

bool restoreV1ToV2(const AdapterLink &link, char *buffer, bool keepMacroLayout)
{
    qWarning() << "restoreV1ToV2";
    std::unique_ptr<FlashJob> job = FlashJob::create();
    QString reason;
    // Only the configuration area counts: the digest behind it is no part of any block.
    const qint64 size = qMin<qint64>(link.backupLength(), BackupFile::Layout1Length);
    if (!ConfigRestore::buildLayout1(buffer, size, link.device().configBuffer(), keepMacroLayout,
                                     *job, &reason)) {
        qWarning().noquote() << "dataRestore refused:" << reason;
        return false;
    }
    return writeRestoreJob(link, job.get());
}

bool restoreV2ToV2(const AdapterLink &link, char *buffer, bool keepMacroLayout)
{
    std::unique_ptr<FlashJob> job = FlashJob::create();
    QString reason;
    const qint64 size = qMin<qint64>(link.backupLength(), BackupFile::Layout2Length);
    if (!ConfigRestore::buildLayout2(buffer, size, link.device().configBuffer(), keepMacroLayout,
                                     *job, &reason)) {
        qWarning().noquote() << "dataRestore refused:" << reason;
        return false;
    }
    return writeRestoreJob(link, job.get());
}

void restoreTask(const AdapterLink &link, const QString &backupVersion)
{
    DeviceFlash &device = link.device();
    OperationRecord record(device, QStringLiteral("restore"));
    bool written = false;
    QString reason = QStringLiteral("The backup was refused; nothing was written.");
    const QString adapterVersion = device.version();
    const bool keepMacroLayout = ConfigRestore::keepMacroLayout(adapterVersion, backupVersion);
    qInfo() << "dataRestore...." << adapterVersion << backupVersion << keepMacroLayout;

    // Below 5.5.0 sector 5 holds the factory firmware, which the macro block would replace.
    if (!FirmwareVersion::keepsConfigurationStore(adapterVersion)) {
        qWarning() << "dataRestore refused: firmware below 5.5.0 keeps no configuration store"
                   << adapterVersion;
    } else if (!link.ensureConfigLoaded()) {
        // Bytes 1..0x41 of the new block must come from the adapter's own configuration.
        qWarning() << "dataRestore refused: the adapter's configuration could not be read";
    } else if (ConfigRestore::isLayout1(backupVersion)) {
        written = restoreV1ToV2(link, link.backupBuffer(), keepMacroLayout);
    } else {
        written = restoreV2ToV2(link, link.backupBuffer(), keepMacroLayout);
    }
    emit device.settingChanged();
    record.finish(written, reason);
}

void bootModeTask(const AdapterLink &link, int mode)
{
    DeviceFlash &device = link.device();
    OperationRecord record(device, QStringLiteral("boot-mode"));
    // The block is rewritten whole: it must be the adapter's own, read since connect.
    if (!link.ensureConfigLoaded()) {
        qWarning() << "setBootMode refused: the adapter's configuration could not be read";
        record.finish(false, QStringLiteral("The adapter's configuration could not be read."));
        return;
    }
    QByteArray block = device.configBuffer();
    block[BootModeOffset] = char(mode & 0xFF);

    std::unique_ptr<FlashJob> job = FlashJob::create();
    job->addSector(1);
    job->setRegion(0, FlashLayout::ConfigBlockAddress, block);
    job->computeTotal();
    const bool written = FlashProgramming::runJob(device, job.get(), FlashProgress::Setting);
    // Sector 1 now holds the new block (or what of it was written), not configBuffer's copy.
    link.markConfigStale();
    record.finish(written);
}

} // namespace

bool DeviceFlash::dataBackup()
{
    if (!isDeviceOpen())
        return false;
    // The window reads the buffer after the last progress report: never refill it while
    // another backup or restore still uses it.
    const AdapterLink link(*this);
    return link.startBufferTask([link] { backupTask(link); });
}

void DeviceFlash::dataRestore(const QByteArray &data, const QString &version)
{
    if (!isDeviceOpen())
        return;
    const AdapterLink link(*this);
    link.startBufferTask([link, version] { restoreTask(link, version); }, &data);
}

void DeviceFlash::setBootMode(int mode)
{
    if (!isDeviceOpen())
        return;
    const AdapterLink link(*this);
    link.startTask([link, mode] { bootModeTask(link, mode); });
}
