// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareupdate.h"
#include "adapterlink.h"
#include "autobackup.h"
#include "deviceflash.h"
#include "firmwarefile.h"
#include "firmwareimage.h"
#include "flashjob.h"
#include "flashprogramming.h"
#include "logcategories.h"
#include "operationhistory.h"
#include "updatejobs.h"

#include <QDebug>
#include <QFileInfo>
#include <QStringList>

#include <memory>

namespace {

// The factory restore: default configuration, default blocks and the firmware file as it
// is, then the configuration block is read back. The file must be an image that an update
// takes, and the version given its own: the record names what is stored. Its version
// chooses the generation.
void runFactoryRestore(DeviceFlash &device, const QString &path, const QString &firmwareVersion)
{
    OperationRecord record(device, QStringLiteral("restore-defaults"));
    const FirmwareFileCheck file = FirmwareUpdate::checkFile(device, path);
    const QByteArray &firmware = file.content;
    record.setImage(path, firmware);
    bool written = false;
    QString reason;
    const bool open = device.isDeviceOpen();
    const QStringList parts = firmwareVersion.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    const bool threeParts = UpdateJobs::parseVersionText(firmwareVersion, nullptr);
    const FirmwareImage &image = file.image;
    const UpdateJobs::Version version { image.major, image.minor, image.patch };
    const UpdateJobs::RestoreGeneration generation
        = UpdateJobs::restoreGeneration(image.versionText());
    const bool second = generation == UpdateJobs::RestoreGeneration::Second;
    if (threeParts && image.isValid())
        record.setTargetVersion(image.versionText());

    if (!firmware.isEmpty() && open && threeParts) {
        const quint32 capacity = UpdateJobs::restoreCapacity(generation);
        // Refused before anything is erased: the file is no image an update takes, names
        // another version, or the job could not hold it.
        if (!image.isValid()) {
            qCWarning(lcEngine, "%s", FirmwareImage::warningText(image.status));
            emit device.error(DeviceError_FirmwareEmpty);
        } else if (!image.isVersion(firmwareVersion)) {
            qCWarning(lcEngine) << "restoreFactorySettings image version" << image.versionText()
                                << "is not" << firmwareVersion;
            emit device.error(DeviceError_FirmwareEmpty);
        } else if (quint64(firmware.size()) > capacity) {
            qCWarning(lcEngine) << "restoreFactorySettings firmware too large:" << firmware.size()
                                << "bytes, at most" << capacity;
            emit device.error(DeviceError_FirmwareEmpty);
        } else {
            qCWarning(lcEngine) << (second ? "restoreFactorySettings_v2"
                                           : "restoreFactorySettings_v1");
            std::unique_ptr<FlashJob> job
                = UpdateJobs::buildRestoreJob(generation, firmware, version);
            // The defaults replace the user's configuration: it is saved first, or nothing
            // is erased.
            QString backupPath;
            if (job && AutoBackup::saveBeforeErase(device, &backupPath)) {
                record.setBackup(backupPath);
                written = FlashProgramming::runJob(device, job.get(), FlashProgress::Firmware);
            }
        }
    } else {
        reason = QStringLiteral("The firmware file, the adapter or the version was missing.");
        qCWarning(lcEngine) << "restoreFactorySettings Error! firmware_data.isEmpty"
                            << firmware.isEmpty() << "Device.isOpen" << open
                            << "firmware_version.size is 3" << threeParts << parts;
    }
    // Success is the written version read back from the configuration block, nothing less;
    // a block not read whole names no version.
    device.updateVersion();
    const QString readBack = device.version();
    if (written) {
        record.setVersionRead(readBack);
        if (!readBack.isEmpty())
            reason = QStringLiteral("The adapter reads back version %1.").arg(readBack);
        else
            emit device.error(device.firmwareRecordState() < 0 ? DeviceError_VersionNotReadBack
                                                               : DeviceError_FirmwareLost);
    }
    record.finish(written && threeParts && readBack == record.targetVersion(), reason);
}

// Reads the firmware information record back after a write: the version it names (then
// announced), or empty when it could not be read or lacks its signatures.
QString readBackRecord(const AdapterLink &link)
{
    DeviceFlash &device = link.device();
    QByteArray info(int(UpdateJobs::RecordSize), '\0');
    link.setFirmwareRecordState(-1);
    if (!device.readDeviceMemory(CommandReport::Code_Read, UpdateJobs::RecordAddress,
            UpdateJobs::RecordSize, info.data(), false))
        return QString();
    const FlashLayout::FirmwareRecord firmware = FlashLayout::readFirmwareRecord(info);
    link.setFirmwareRecordState(firmware.isValid() ? 1 : 0);
    link.publishRecord(firmware);
    return firmware.version();
}

void updateTask(const AdapterLink &link, const QString &path, const QString &catalogueVersion)
{
    DeviceFlash &device = link.device();
    OperationRecord record(device, QStringLiteral("update"));
    const FirmwareFileCheck file = FirmwareUpdate::checkFile(device, path);
    record.setImage(path, file.content);
    const FirmwareImage &image = file.image;

    // Check: nothing is saved or erased unless the image is whole, is the catalogue's
    // version when one was chosen, and fits.
    if (!device.isDeviceOpen()) {
        qCWarning(lcEngine) << "updateFirmware Device.isOpen" << false;
        record.finish(false, QStringLiteral("The adapter is not connected."));
        return;
    }
    if (!image.isValid()) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine, "%s", FirmwareImage::warningText(image.status));
        return;
    }
    if (!catalogueVersion.isEmpty() && !image.isVersion(catalogueVersion)) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine) << "updateFirmware image version" << image.versionText()
                            << "is not the catalogue's" << catalogueVersion;
        return;
    }
    if (file.problem == FirmwareFileCheck::TooLarge) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine) << "updateFirmware firmware too large:" << image.payload.size()
                            << "bytes, at most" << UpdateJobs::MaxUpdatePayload;
        return;
    }

    // Build the job.
    const UpdateJobs::Version imageVersion { image.major, image.minor, image.patch };
    const QString target = UpdateJobs::versionText(image.major, image.minor, image.patch);
    record.setTargetVersion(target);
    std::unique_ptr<FlashJob> job
        = UpdateJobs::buildUpdateJob(imageVersion, image.payload, image.payloadMd5);
    if (!job) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine, "updateFirmware cannot build the flash job");
        return;
    }

    // Back up: the record replaces the user's configuration in sector 1, so it is saved
    // first, or nothing is erased.
    QString backupPath;
    if (!AutoBackup::saveBeforeErase(device, &backupPath))
        return;
    record.setBackup(backupPath);

    // Erase, write and verify; on request every region is read back whole, beyond the echo
    // of each chunk. A stopped read-back loses only the comparison: the write had ended.
    emit device.dataStoreProgressChanged(0, job->total);
    const bool written = FlashProgramming::runJob(device, job.get(), FlashProgress::Firmware);
    bool verified = true;
    if (written && device.isVerifyAfterWrite()) {
        link.setReadingBack(true);
        verified = FirmwareUpdate::verifyJob(device, *job);
        link.setReadingBack(false);
        record.setVerified(verified, link.isReadBackStopped());
        verified = verified || link.isReadBackStopped();
    }
    job.reset();
    // Sector 1 now holds the new record: the configuration copy is stale.
    link.markConfigStale();

    // Read back and report: success is the written version read back, nothing less. After
    // a failed write the record's state still tells the advice whether "Firmware lost" comes.
    const QString readBack = readBackRecord(link);
    record.setVersionRead(readBack);
    QString reason = QStringLiteral("The firmware read back differs from the image.");
    if (!written) {
        // The write's error says what happened.
    } else if (verified && readBack.isEmpty()) {
        const bool unread = device.firmwareRecordState() < 0;
        emit device.error(unread ? DeviceError_VersionNotReadBack : DeviceError_FirmwareLost);
    } else if (verified && readBack != target) {
        reason = QStringLiteral("The adapter reads back version %1.").arg(readBack);
    }
    record.finish(written && verified && readBack == target, reason);
}

void logUnreadable(const QString &path, const FirmwareFileCheck &file)
{
    if (!file.unread())
        return;
    if (file.problem == FirmwareFileCheck::FileTooLarge)
        qCWarning(lcEngine) << "getFirmwareData file too large:" << path << "more than"
                            << UpdateJobs::MaxFirmwareFileSize << "bytes";
    qCWarning(lcEngine) << "getFirmwareData is Empty!" << path
                        << QFileInfo(path).absoluteFilePath();
}

} // namespace

namespace FirmwareUpdate {

FirmwareFileCheck checkFile(DeviceFlash &device, const QString &path)
{
    const FirmwareFileCheck file = checkFirmwareFile(path);
    if (file.unread()) {
        logUnreadable(path, file);
        emit device.error(DeviceError_FirmwareEmpty);
    }
    return file;
}

} // namespace FirmwareUpdate

QByteArray DeviceFlash::getFirmwareData(const QString &path)
{
    const FirmwareFileCheck file = readFirmwareFile(path);
    if (file.unread()) {
        logUnreadable(path, file);
        emit error(DeviceError_FirmwareEmpty);
    }
    return file.content;
}

void DeviceFlash::updateFirmware(const QString &path, const QString &catalogueVersion)
{
    const AdapterLink link(*this);
    link.runTask([link, path, catalogueVersion] { updateTask(link, path, catalogueVersion); });
}

void DeviceFlash::restoreFactorySettings(const QString &path, const QString &firmware_version)
{
    AdapterLink(*this).runTask(
        [this, path, firmware_version] { runFactoryRestore(*this, path, firmware_version); });
}
