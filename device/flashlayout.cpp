// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashlayout.h"

#include <algorithm>

namespace FlashLayout {

int sectorOf(quint32 address)
{
    if (address < FlashBase || address >= ErasableEnd)
        return -1;
    int sector = LastErasedSector;
    while (sectorStart(sector) > address)
        --sector;
    return sector;
}

int worstEraseMs(const FlashJob &job)
{
    const quint32 sectorCount = job.sectorCount; // copied: the job is packed
    const quint32 count = std::min<quint32>(sectorCount, FlashJob::MaxSectors);
    int total = 0;
    for (quint32 i = 0; i < count; ++i)
        total += int(worstEraseMs(job.sectors[i]));
    return total;
}

bool erasesEveryRegion(const FlashJob &job, QString *reason)
{
    bool erased[LastErasedSector + 1] = {};
    // FlashJob is packed: copy its fields before binding them to references.
    const quint32 sectorCount = job.sectorCount;
    const quint32 count = std::min<quint32>(sectorCount, FlashJob::MaxSectors);
    for (quint32 i = 0; i < count; ++i) {
        if (job.sectors[i] <= LastErasedSector)
            erased[job.sectors[i]] = true;
    }
    for (int index = 0; index < FlashJob::MaxRegions; ++index) {
        const quint32 address = job.regions[index].address;
        const quint32 length = job.regions[index].length;
        if (length == 0)
            break;
        const quint64 end = quint64(address) + length;
        const int first = sectorOf(address);
        const int last = end <= ErasableEnd ? sectorOf(quint32(end - 1)) : -1;
        bool covered = first >= 0 && last >= 0;
        for (int sector = first; covered && sector <= last; ++sector)
            covered = erased[sector];
        if (!covered) {
            if (reason)
                *reason = QStringLiteral("region %1 (0x%2, %3 bytes) reaches flash that the job "
                                         "does not erase")
                              .arg(index)
                              .arg(address, 8, 16, QLatin1Char('0'))
                              .arg(length);
            return false;
        }
    }
    return true;
}

} // namespace FlashLayout
