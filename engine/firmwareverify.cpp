// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlink.h"
#include "deviceflash.h"
#include "firmwareimage.h"
#include "firmwareupdate.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "logcategories.h"
#include "updatejobs.h"

#include <QDebug>

#include <algorithm>
#include <memory>

namespace {

QString hexAddress(qint64 address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
}

// Whether the adapter's record names firmware that a factory restore stored as its file.
bool storedByFactoryRestore(const FlashLayout::FirmwareRecord &record)
{
    return record.isValid()
        && (record.firmwareAddress == FlashLayout::FirmwareStartV1
            || record.firmwareAddress == FlashLayout::FirmwareStartV2);
}

void verifyTask(DeviceFlash &device, const QString &path)
{
    const FirmwareFileCheck file = FirmwareUpdate::checkFile(device, path);
    const FirmwareImage &image = file.image;
    if (!device.isDeviceOpen()) {
        qCWarning(lcEngine) << "verifyFirmware Device.isOpen" << false;
        return;
    }
    if (!image.isValid()) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine, "%s", FirmwareImage::warningText(image.status));
        return;
    }
    const UpdateJobs::Version version { image.major, image.minor, image.patch };
    // The job that wrote the firmware the adapter's record names, so that every byte is read
    // where it would go: a factory restore stores the file as it is, an update its payload.
    if (storedByFactoryRestore(device.firmwareRecord())) {
        const UpdateJobs::RestoreGeneration generation
            = UpdateJobs::restoreGeneration(image.versionText());
        const std::unique_ptr<FlashJob> job
            = UpdateJobs::buildRestoreJob(generation, file.content, version);
        if (!job) {
            emit device.error(DeviceError_FirmwareEmpty);
            qCWarning(lcEngine) << "verifyFirmware file too large for a factory restore:"
                                << file.content.size() << "bytes";
            return;
        }
        FirmwareUpdate::verifyJob(device, *job, [generation](int region, quint32 length) {
            return UpdateJobs::imageBytesOfRestoreRegion(generation, region, length);
        });
        return;
    }
    const std::unique_ptr<FlashJob> job
        = UpdateJobs::buildUpdateJob(version, image.payload, image.payloadMd5);
    if (!job) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine) << "verifyFirmware firmware too large:" << image.payload.size()
                            << "bytes, at most" << UpdateJobs::MaxUpdatePayload;
        return;
    }
    FirmwareUpdate::verifyJob(device, *job);
}

} // namespace

void DeviceFlash::verifyFirmware(const QString &path)
{
    AdapterLink(*this).runTask([this, path] { verifyTask(*this, path); });
}

bool FirmwareUpdate::verifyJob(
    DeviceFlash &device, const FlashJob &job, const ImageBytes &imageBytes)
{
    qCDebug(lcEngine) << "verifyUpdateJob...";
    const auto spanOf = [&imageBytes](int region, quint32 length) {
        return imageBytes ? imageBytes(region, length)
                          : UpdateJobs::imageBytesOfUpdateRegion(region, length);
    };

    // The regions up to the first empty one; a length the job cannot hold is refused
    // before anything is read.
    int regions = 0;
    qlonglong total = 0;
    for (; regions < FlashJob::MaxRegions; ++regions) {
        const quint32 length = job.regions[regions].length; // copied: the job is packed
        if (length == 0)
            break;
        if (length > FlashJob::capacityFrom(regions)) {
            qCWarning(lcEngine) << "verifyUpdateJob region exceeds the job" << regions << length;
            return false;
        }
        total += spanOf(regions, length).length;
    }

    qlonglong current = 0;
    bool matches = true;
    char actual[CommandReport::DataSize];
    for (int region = 0; region < regions; ++region) {
        const quint32 address = job.regions[region].address;
        const quint32 length = job.regions[region].length;
        const UpdateJobs::Span span = spanOf(region, length);
        if (span.length == 0)
            continue;
        const quint8 *expected = job.slot(region);
        quint32 differing = 0;
        qint64 first = -1;
        const quint32 end = span.offset + span.length;
        for (quint32 offset = span.offset; offset < end;) {
            if (AdapterLink(device).isReadBackStopped()) {
                qCWarning(lcEngine, "verifyUpdateJob stopped");
                return false;
            }
            const quint32 n = std::min<quint32>(end - offset, CommandReport::DataSize);
            if (!device.readDeviceMemory(
                    CommandReport::Code_Read, address + offset, n, actual, false)) {
                qCWarning(lcEngine).noquote()
                    << "verifyUpdateJob read error at" << hexAddress(qint64(address) + offset);
                return false;
            }
            for (quint32 i = 0; i < n; ++i) {
                if (quint8(actual[i]) == expected[offset + i])
                    continue;
                if (first < 0)
                    first = qint64(address) + offset + i;
                ++differing;
            }
            offset += n;
            current += n;
            emit device.verifyProgressChanged(current, total);
        }
        if (differing > 0) {
            qCWarning(lcEngine).noquote() << "verifyUpdateJob region" << region << "differs in"
                                          << differing << "bytes, first at" << hexAddress(first);
            matches = false;
        }
        emit device.regionVerified(address, length, differing, first);
    }
    return matches;
}
