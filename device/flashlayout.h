// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flashjob.h"

#include <QString>
#include <QtGlobal>

// The adapter's flash as the erase command sees it: 16 KiB sectors 0-3 from 0x08000000, the
// 64 KiB sector 4 at 0x08010000, then 128 KiB sectors from 5 at 0x08020000. The erase takes
// sector numbers up to LastErasedSector, so no job may write at or above ErasableEnd: flash
// there would be programmed without an erase. Every size limit of the flash jobs comes from
// this table.
namespace FlashLayout {

constexpr quint32 FlashBase = 0x08000000;
constexpr quint8 LastErasedSector = 11;

constexpr quint32 sectorStart(int sector)
{
    return sector < 4 ? FlashBase + quint32(sector) * 0x4000
        : sector == 4 ? FlashBase + 0x10000
                      : FlashBase + 0x20000 + quint32(sector - 5) * 0x20000;
}

constexpr quint32 sectorSize(int sector)
{
    return sector < 4 ? 0x4000 : sector == 4 ? 0x10000 : 0x20000;
}

constexpr quint32 ErasableEnd = sectorStart(LastErasedSector) + sectorSize(LastErasedSector);

// What lives where. Sector 1 starts with the firmware information record, which is also the
// head of the 16 KiB configuration block; the configuration area a backup reads runs on from
// there. Sector 5 holds the macro block, or the factory firmware of the first generation.
constexpr quint32 FactoryInfoAddress = 0x08003FC0;
constexpr quint32 UniqueIdAddress = 0x1FFF7A10;
constexpr quint32 ConfigBlockAddress = sectorStart(1);
constexpr quint32 RecordAddress = ConfigBlockAddress;
constexpr quint32 RecordSize = 256;
constexpr quint32 ConfigBlockSize = sectorSize(1);
constexpr quint32 SecondBlockAddress = sectorStart(2);
constexpr quint32 ThirdBlockAddress = sectorStart(4);
constexpr quint32 PayloadAddress = sectorStart(4);
constexpr quint32 FourthBlockAddress = sectorStart(5);
constexpr quint32 MacroAddress = sectorStart(5);
constexpr quint32 FirmwareStartV1 = sectorStart(5);
constexpr quint32 FirmwareStartV2 = sectorStart(6);
static_assert(ConfigBlockAddress == 0x08004000 && SecondBlockAddress == 0x08008000
        && PayloadAddress == 0x08010000 && MacroAddress == 0x08020000
        && FirmwareStartV2 == 0x08040000,
    "the flash map follows from the sector table");

// Sector number of a flash address, -1 outside the sectors the erase command reaches.
int sectorOf(quint32 address);

// The longest an erase of one sector may take: 4 s for a 128 KiB sector, smaller sectors in
// proportion. The adapter answers an erase only once every listed sector is erased.
constexpr quint32 WorstEraseMsPer128KiB = 4000;
constexpr quint32 worstEraseMs(int sector)
{
    return sectorSize(sector) / 0x4000 * (WorstEraseMsPer128KiB / 8);
}

// The worst-case time of a job's erase request: the sum over the sectors it lists.
int worstEraseMs(const FlashJob &job);

// Bytes that a region starting at `address` in slot `slot` of a job may hold: up to
// ErasableEnd, and no more than the job's slots from `slot` on.
constexpr quint32 regionCapacity(int slot, quint32 address)
{
    const quint32 inSlots = slot >= 0 && slot < FlashJob::MaxRegions
        ? quint32(FlashJob::MaxRegions - slot) * FlashJob::SlotSize
        : 0;
    const quint32 inFlash
        = address >= FlashBase && address < ErasableEnd ? ErasableEnd - address : 0;
    return inSlots < inFlash ? inSlots : inFlash;
}

// True when every byte of every region of the job lies in a sector that the job erases.
// Otherwise false, with the first region that does not fit described in *reason.
bool erasesEveryRegion(const FlashJob &job, QString *reason = nullptr);

} // namespace FlashLayout
