// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "firmwareimage.h"
#include "flashjob.h"
#include "operationhistory.h"
#include "updatejobs.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <memory>

namespace {

constexpr quint8 ProgressFirmware = 0;

// The factory restore of one generation: default configuration, default blocks and the
// firmware file as it is, then the configuration block is read back.
void runFactoryRestore(DeviceFlash &device, UpdateJobs::RestoreGeneration generation,
                       const QString &path, const QString &firmwareVersion)
{
    const bool second = generation == UpdateJobs::RestoreGeneration::Second;
    OperationRecord record(device, QStringLiteral("restore-defaults"));
    const QByteArray firmware = device.getFirmwareData(path);
    record.setImage(path, firmware);
    bool written = false;
    QString reason;
    const bool open = device.isDeviceOpen();
    const QStringList parts = firmwareVersion.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    UpdateJobs::Version version;
    const bool threeParts = UpdateJobs::parseVersionText(firmwareVersion, &version);
    if (threeParts)
        record.setTargetVersion(
            UpdateJobs::versionText(version.major, version.minor, version.patch));

    if (!firmware.isEmpty() && open && threeParts) {
        const quint32 capacity = UpdateJobs::restoreCapacity(generation);
        if (quint64(firmware.size()) > capacity) {
            // Refused before anything is erased: the job could not hold the file.
            qWarning() << "restoreFactorySettings firmware too large:" << firmware.size()
                       << "bytes, at most" << capacity;
            emit device.error(DeviceError_FirmwareEmpty);
        } else {
            qWarning() << (second ? "restoreFactorySettings_v2" : "restoreFactorySettings_v1");
            std::unique_ptr<FlashJob> job = UpdateJobs::buildRestoreJob(generation, firmware,
                                                                        version);
            // The defaults replace the user's configuration: it is saved first, or nothing
            // is erased.
            QString backupPath;
            if (job && device.saveAutomaticBackup(&backupPath)) {
                record.setBackup(backupPath);
                written = device.runFlashJob(job.get(), ProgressFirmware);
            }
        }
    } else {
        reason = QStringLiteral("The firmware file, the adapter or the version was missing.");
        qWarning() << "restoreFactorySettings Error! firmware_data.isEmpty" << firmware.isEmpty()
                   << "Device.isOpen" << open << "firmware_version.size is 3" << threeParts
                   << parts;
    }
    device.updateVersion();
    record.finish(written, reason);
}

} // namespace

QByteArray DeviceFlash::getFirmwareData(const QString &path)
{
    QByteArray data;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        // Read one byte past the limit to tell a too-large file without loading it whole.
        data = file.read(UpdateJobs::MaxFirmwareFileSize + 1);
        if (data.size() > UpdateJobs::MaxFirmwareFileSize) {
            qWarning() << "getFirmwareData file too large:" << path << "more than"
                       << UpdateJobs::MaxFirmwareFileSize << "bytes";
            data.clear();
        }
    }
    if (data.isEmpty()) {
        qWarning() << "getFirmwareData is Empty!" << path << QFileInfo(path).absoluteFilePath();
        emit error(DeviceError_FirmwareEmpty);
    }
    return data;
}

void DeviceFlash::updateFirmware(const QString &path, const QString &catalogueVersion)
{
    startTask([this, path, catalogueVersion] { updateTask(path, catalogueVersion); });
}

void DeviceFlash::updateTask(const QString &path, const QString &catalogueVersion)
{
    OperationRecord record(*this, QStringLiteral("update"));
    const QByteArray file = getFirmwareData(path);
    record.setImage(path, file);
    const FirmwareImage image = decodeFirmwareImage(file);

    if (!isDeviceOpen()) {
        qWarning() << "updateFirmware Device.isOpen" << false;
        record.finish(false, QStringLiteral("The adapter is not connected."));
        return;
    }
    if (!image.isValid()) {
        emit error(DeviceError_FirmwareEmpty);
        qWarning("%s", FirmwareImage::warningText(image.status));
        return;
    }
    if (!catalogueVersion.isEmpty() && !image.isVersion(catalogueVersion)) {
        emit error(DeviceError_FirmwareEmpty);
        qWarning() << "updateFirmware image version" << image.versionText()
                   << "is not the catalogue's" << catalogueVersion;
        return;
    }
    if (quint64(image.payload.size()) > UpdateJobs::MaxUpdatePayload) {
        // Refused before anything is erased: the job could not hold the payload.
        emit error(DeviceError_FirmwareEmpty);
        qWarning() << "updateFirmware firmware too large:" << image.payload.size()
                   << "bytes, at most" << UpdateJobs::MaxUpdatePayload;
        return;
    }

    const UpdateJobs::Version imageVersion{image.major, image.minor, image.patch};
    const QString target = UpdateJobs::versionText(image.major, image.minor, image.patch);
    record.setTargetVersion(target);
    std::unique_ptr<FlashJob> job
        = UpdateJobs::buildUpdateJob(imageVersion, image.payload, image.payloadMd5);
    if (!job) {
        emit error(DeviceError_FirmwareEmpty);
        qWarning("updateFirmware cannot build the flash job");
        return;
    }

    // The record replaces the user's configuration in sector 1: it is saved first, or
    // nothing is erased.
    QString backupPath;
    if (!saveAutomaticBackup(&backupPath))
        return;
    record.setBackup(backupPath);

    emit dataStoreProgressChanged(0, job->total);
    const bool written = runFlashJob(job.get(), ProgressFirmware);
    // On request every region is read back whole, beyond the echo of each chunk.
    const bool verified = !written || !m_verifyAfterWrite || verifyUpdateJob(*job);
    job.reset();
    // Sector 1 now holds the new record: the configuration copy is stale.
    m_configLoaded = false;

    char info[UpdateJobs::RecordSize] = {};
    m_recordState = -1;
    bool readBack = false;
    if (readDeviceMemory(CommandReport::Code_Read, UpdateJobs::RecordAddress,
                         UpdateJobs::RecordSize, info, false)) {
        readBack = quint8(info[0]) == 0x55 && quint8(info[UpdateJobs::RecordSize - 1]) == 0xAA;
        m_recordState = readBack ? 1 : 0;
    }
    if (readBack) {
        const QString text = UpdateJobs::versionText(quint8(info[5]), quint8(info[6]),
                                                     quint8(info[7]));
        if (text != version()) {
            setVersion(text);
            emit versionChanged(text);
        }
    }
    QString reason = QStringLiteral("The firmware information could not be read back.");
    if (!verified)
        reason = QStringLiteral("The firmware read back differs from the image.");
    else if (readBack)
        reason = QStringLiteral("The adapter reads back version %1.").arg(version());
    record.finish(written && verified && readBack && version() == target, reason);
}

void DeviceFlash::restoreFactorySettings(const QString &path, const QString &firmware_version)
{
    if (compareVersionNumbers(firmware_version, QStringLiteral("5.5.0")) < 0)
        startTask([this, path, firmware_version] {
            restoreFactorySettings_v1(path, firmware_version);
        });
    else
        startTask([this, path, firmware_version] {
            restoreFactorySettings_v2(path, firmware_version);
        });
}

void DeviceFlash::restoreFactorySettings_v1(const QString &path, const QString &firmware_version)
{
    runFactoryRestore(*this, UpdateJobs::RestoreGeneration::First, path, firmware_version);
}

void DeviceFlash::restoreFactorySettings_v2(const QString &path, const QString &firmware_version)
{
    runFactoryRestore(*this, UpdateJobs::RestoreGeneration::Second, path, firmware_version);
}
