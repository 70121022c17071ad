// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "deviceflash_p.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "logcategories.h"

#include <QByteArray>
#include <QDebug>

#include <algorithm>
#include <cstring>

namespace {

constexpr int ChunkSize = CommandReport::DataSize;

QByteArray hexOf(const quint8 *bytes, int length)
{
    return QByteArray(reinterpret_cast<const char *>(bytes), length).toHex();
}

} // namespace

bool DeviceFlash::eraseFlash(const FlashJob *job)
{
    qCDebug(lcDevice) << "eraseFlash...";

    const quint32 listed = job->sectorCount; // copied: the job is packed
    const quint32 count = std::min<quint32>(listed, FlashJob::MaxSectors);
    CommandReport request = CommandReport::request(CommandReport::Code_Erase, 0, count);
    std::memcpy(request.data(), job->sectors, count);
    // A failed send shows as a missing answer.
    d->m_eraseAnswered = false;
    const bool sent = writeCMDData(request);

    // The answer comes once every listed sector is erased: the wait allows for the slowest
    // erase the flash may take, on top of the usual answer time.
    CommandReport response;
    response.setCode(0);
    d->m_eraseAnswered = sent && readCMDData(response, FlashLayout::worstEraseMs(*job));
    if (response.code() != CommandReport::Code_EraseAnswer) {
        qCWarning(lcDevice) << "erase error !";
        return false;
    }
    return true;
}

bool DeviceFlash::write2Flash(FlashJob *job, FlashProgress progressKind)
{
    qCDebug(lcDevice) << "write2Flash...";

    const qlonglong total = job->total;
    qlonglong current = 0;
    int region = -1;
    quint32 remaining = 0;
    quint32 address = 0;
    quint32 offset = 0;
    quint32 regionCapacity = 0;
    CommandReport request;
    CommandReport response;

    for (;;) {
        if (remaining == 0) {
            if (++region >= FlashJob::MaxRegions)
                break;
            remaining = job->regions[region].length;
            if (remaining == 0)
                break;
            address = job->regions[region].address;
            offset = 0;
            regionCapacity = FlashJob::capacityFrom(region);
            if (remaining > regionCapacity) {
                qCWarning(lcDevice) << "write2Flash region exceeds the job" << region << remaining;
                return false;
            }
        }

        const quint32 n = std::min<quint32>(remaining, ChunkSize);
        request = CommandReport::request(CommandReport::Code_Write, address, n);
        std::memcpy(request.data(), job->slot(region) + offset, n);
        if (!writeCMDData(request)) {
            qCWarning(lcDevice) << "write2Flash write error!";
            return false;
        }

        response.clearHeader();
        readCMDData(response);
        if (response.address() != request.address() || response.code() != CommandReport::Code_Answer
            || response.length() != n || response.reportId() != request.reportId()) {
            qCWarning(lcDevice) << "write2Flash USB_ERR_DATA_VERIFY 2";
            return false;
        }
        if (std::memcmp(response.data(), request.data(), n) != 0) {
            qCWarning(lcDevice) << "write2Flash USB_ERR_DATA_VERIFY 1";
            qCDebug(lcDevice).noquote() << "write_data:" << hexOf(request.data(), int(n));
            qCDebug(lcDevice).noquote() << "read_data :" << hexOf(response.data(), int(n));
            return false;
        }

        remaining -= n;
        current += n;
        address += n;
        offset += n;
        switch (progressKind) {
        case FlashProgress::Firmware:
            emit write2FlashProgressChanged(current, total);
            break;
        case FlashProgress::DataStore:
            emit dataStoreProgressChanged(current, total);
            break;
        case FlashProgress::Setting:
            emit settingProgressChanged(current, total);
            break;
        }
    }
    return current == total;
}
