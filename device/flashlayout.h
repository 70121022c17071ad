// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flashjob.h"

#include <QByteArray>
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
// A stored factory file is followed by these two bytes.
constexpr int FactoryMarkerSize = 2;
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

// The firmware information record: the first RecordSize bytes of the configuration block,
// which name the installed firmware and where it lies. Every writer puts it in one layout:
//   byte 0 0x55 | 1-4 firmware address | 5-7 version major, minor, patch | 8-11 firmware
//   length | 12-27 an update's payload digest | byte 255 0xAA
// Factory restores of earlier versions of this tool wrote the version in bytes 1-3 and the
// address in 4-7, left byte 255 at 0 and put 0x55, 0xAA at 0x40 (bytes a restore keeps):
// adapters and backup files written so are still read. They are told apart by bytes 4-7
// holding a factory start address with that mark at 0x40: in the one layout byte 4 is the
// address's top byte (0x08), in the other the low byte of a sector-aligned address (0).
struct FirmwareRecord
{
    enum Layout {
        Unreadable, // neither layout's signatures: the firmware is lost
        Current,
        Legacy,
    };
    Layout layout = Unreadable;
    quint8 major = 0;
    quint8 minor = 0;
    quint8 patch = 0;
    quint32 firmwareAddress = 0;
    quint32 firmwareLength = 0;

    bool isValid() const { return layout != Unreadable; }
    // "major.minor.patch"; empty when the record is unreadable.
    QString version() const;
    // The sectors the installed firmware occupies, one bit each (1 << sector); a stored
    // factory file's two marker bytes count with it. A record whose address lies outside
    // the firmware area holds back every sector from 4 on.
    quint32 firmwareSectors() const;
};

// Reads a record from the first RecordSize bytes of block (Unreadable when shorter).
FirmwareRecord readFirmwareRecord(const QByteArray &block);
// Writes a record's fields (bytes 1-11) and signatures (0 and 255) into block, which holds
// at least RecordSize bytes; the other bytes are left as they are.
void writeFirmwareRecord(QByteArray &block, quint32 firmwareAddress, quint8 major, quint8 minor,
    quint8 patch, quint32 firmwareLength);

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
