// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlink.h"
#include "backupfile.h"
#include "configrestore.h"
#include "deviceflash.h"
#include "firmwareversion.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "flashprogramming.h"
#include "logcategories.h"
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
    if (!device.readDeviceMemory(CommandReport::Code_Read, FlashLayout::ConfigBlockAddress, length,
            link.backupBuffer(), true))
        qCWarning(lcEngine) << "dataBackup read failure";
}

// Builds the restore job of the backup's layout from the backup buffer around the firmware
// that the adapter's record names, announces its total, then erases and writes it.
bool restoreBackup(const AdapterLink &link, bool layout1, bool keepMacroLayout)
{
    const QByteArray config = link.device().configBuffer();
    const FlashLayout::FirmwareRecord installed = FlashLayout::readFirmwareRecord(config);
    if (!installed.isValid()) {
        // Without it nothing tells where the firmware lies, which no byte may touch.
        qCWarning(lcEngine) << "dataRestore refused: the adapter's firmware record is unreadable";
        return false;
    }
    if (layout1)
        qCWarning(lcEngine) << "restoreV1ToV2";
    std::unique_ptr<FlashJob> job = FlashJob::create();
    QString reason;
    // Only the configuration area counts: the digest behind it is no part of any block.
    const qint64 size = qMin<qint64>(
        link.backupLength(), layout1 ? BackupFile::Layout1Length : BackupFile::Layout2Length);
    const quint32 held = installed.firmwareSectors();
    const bool built = layout1 ? ConfigRestore::buildLayout1(
                           link.backupBuffer(), size, config, keepMacroLayout, held, *job, &reason)
                               : ConfigRestore::buildLayout2(link.backupBuffer(), size, config,
                                   keepMacroLayout, held, *job, &reason);
    if (!built) {
        qCWarning(lcEngine).noquote() << "dataRestore refused:" << reason;
        return false;
    }
    const quint32 leftOut = ConfigRestore::leftOutBlocks(link.backupBuffer(), size, layout1, held);
    if (leftOut)
        qCInfo(lcEngine) << "dataRestore leaves out the blocks where firmware lies:" << Qt::hex
                         << leftOut;
    emit link.device().dataStoreProgressChanged(0, job->total);
    const bool written
        = FlashProgramming::runJob(link.device(), job.get(), FlashProgress::DataStore);
    // Sector 1 now holds the restored block, no longer the copy in configBuffer.
    link.markConfigStale();
    return written;
}

void restoreTask(const AdapterLink &link, const QString &backupVersion)
{
    DeviceFlash &device = link.device();
    OperationRecord record(device, QStringLiteral("restore"));
    bool written = false;
    QString reason = QStringLiteral("The backup was refused; nothing was written.");
    const QString adapterVersion = device.version();
    const bool keepMacroLayout = ConfigRestore::keepMacroLayout(adapterVersion, backupVersion);
    qCInfo(lcEngine) << "dataRestore...." << adapterVersion << backupVersion << keepMacroLayout;

    // Below 5.5.0 sector 5 holds the factory firmware, which the macro block would replace.
    if (!FirmwareVersion::keepsConfigurationStore(adapterVersion)) {
        qCWarning(lcEngine)
            << "dataRestore refused: firmware below 5.5.0 keeps no configuration store"
            << adapterVersion;
    } else if (!link.readConfigurationOnce()) {
        // Bytes 1..0x41 of the new block must come from the adapter's own configuration.
        qCWarning(lcEngine) << "dataRestore refused: the adapter's configuration could not be read";
    } else {
        written = restoreBackup(link, ConfigRestore::isLayout1(backupVersion), keepMacroLayout);
    }
    emit device.settingChanged();
    record.finish(written, reason);
}

void bootModeTask(const AdapterLink &link, int mode)
{
    DeviceFlash &device = link.device();
    OperationRecord record(device, QStringLiteral("boot-mode"));
    // The block is rewritten whole: it must be the adapter's own, read since connect.
    if (!link.readConfigurationOnce()) {
        qCWarning(lcEngine) << "setBootMode refused: the adapter's configuration could not be read";
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
    return link.runBufferTask([link] { backupTask(link); });
}

void DeviceFlash::dataRestore(const QByteArray &data, const QString &version)
{
    if (!isDeviceOpen())
        return;
    const AdapterLink link(*this);
    link.runBufferTask([link, version] { restoreTask(link, version); }, &data);
}

void DeviceFlash::setBootMode(int mode)
{
    if (!isDeviceOpen())
        return;
    const AdapterLink link(*this);
    link.runTask([link, mode] { bootModeTask(link, mode); });
}
