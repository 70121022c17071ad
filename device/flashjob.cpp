// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashjob.h"

#include <cstring>

namespace {

// Number of slots that `length` (> 0) bytes starting at a slot boundary occupy.
quint32 slotsSpanned(quint32 length)
{
    return (length + FlashJob::SlotSize - 1) / FlashJob::SlotSize;
}

} // namespace

std::unique_ptr<FlashJob> FlashJob::create()
{
    // Value-initialisation zero-fills the whole ~1.9 MB job.
    return std::unique_ptr<FlashJob>(new FlashJob());
}

bool FlashJob::addSector(quint8 sector)
{
    const quint32 count = sectorCount;
    if (count >= quint32(MaxSectors))
        return false;
    sectors[count] = sector;
    sectorCount = count + 1;
    return true;
}

bool FlashJob::setRegion(int index, quint32 address, const QByteArray &bytes)
{
    return setRegion(index, address, bytes.constData(), quint32(bytes.size()));
}

bool FlashJob::setRegion(int index, quint32 address, const char *bytes, quint32 length)
{
    if (index < 0 || index >= MaxRegions || length > capacityFrom(index))
        return false;
    if (length > 0 && !bytes)
        return false;

    if (length == 0) {
        regions[index].address = address;
        regions[index].length = 0;
        return true;
    }

    // A region that runs over several slots owns them: refuse to share a slot with
    // another non-empty region, which would overwrite that region's data.
    const quint32 first = quint32(index);
    const quint32 last = first + slotsSpanned(length) - 1;
    for (int other = 0; other < MaxRegions; ++other) {
        const quint32 otherLength = regions[other].length;
        if (other == index || otherLength == 0)
            continue;
        const quint32 otherFirst = quint32(other);
        const quint32 otherLast = otherFirst + slotsSpanned(otherLength) - 1;
        if (first <= otherLast && otherFirst <= last)
            return false;
    }

    std::memcpy(slot(index), bytes, length);
    regions[index].address = address;
    regions[index].length = length;
    return true;
}

quint32 FlashJob::capacityFrom(int index)
{
    if (index < 0 || index >= MaxRegions)
        return 0;
    return quint32(MaxRegions - index) * SlotSize;
}

quint32 FlashJob::computeTotal()
{
    quint32 sum = 0;
    for (int i = 0; i < MaxRegions; ++i) {
        const quint32 length = regions[i].length;
        if (length == 0)
            break;
        sum += length;
    }
    total = sum;
    return sum;
}
