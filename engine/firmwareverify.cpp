// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlink.h"
#include "deviceflash.h"
#include "firmwareimage.h"
#include "firmwareupdate.h"
#include "flashjob.h"
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

void verifyTask(DeviceFlash &device, const QString &path)
{
    const FirmwareImage image = FirmwareUpdate::checkFile(device, path).image;
    if (!device.isDeviceOpen()) {
        qCWarning(lcEngine) << "verifyFirmware Device.isOpen" << false;
        return;
    }
    if (!image.isValid()) {
        emit device.error(DeviceError_FirmwareEmpty);
        qCWarning(lcEngine, "%s", FirmwareImage::warningText(image.status));
        return;
    }
    // The job an update of this file writes, so that every byte is read where it would go.
    const std::unique_ptr<FlashJob> job = UpdateJobs::buildUpdateJob(
        { image.major, image.minor, image.patch }, image.payload, image.payloadMd5);
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

bool FirmwareUpdate::verifyJob(DeviceFlash &device, const FlashJob &job)
{
    qCDebug(lcEngine) << "verifyUpdateJob...";

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
        total += UpdateJobs::imageBytesOfUpdateRegion(regions, length).length;
    }

    qlonglong current = 0;
    bool matches = true;
    char actual[CommandReport::DataSize];
    for (int region = 0; region < regions; ++region) {
        const quint32 address = job.regions[region].address;
        const quint32 length = job.regions[region].length;
        const UpdateJobs::Span span = UpdateJobs::imageBytesOfUpdateRegion(region, length);
        const quint8 *expected = job.slot(region);
        quint32 differing = 0;
        qint64 first = -1;
        const quint32 end = span.offset + span.length;
        for (quint32 offset = span.offset; offset < end;) {
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
