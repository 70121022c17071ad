// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashlayout.h"

#include "firmwareversion.h"

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

namespace {

    constexpr quint8 RecordHead = 0x55;
    constexpr quint8 RecordTail = 0xAA;
    constexpr int LegacyMarkOffset = 0x40; // 0x55, 0xAA in a legacy factory block

    quint32 le32(const QByteArray &bytes, int offset)
    {
        quint32 value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | quint8(bytes.at(offset + i));
        return value;
    }

    void putLe32(QByteArray &bytes, int offset, quint32 value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = char(quint8(value >> (8 * i)));
    }

} // namespace

QString FirmwareRecord::version() const
{
    return isValid() ? FirmwareVersion::text(major, minor, patch) : QString();
}

quint32 FirmwareRecord::firmwareSectors() const
{
    if (!isValid() || firmwareLength == 0)
        return 0;
    const bool placed = firmwareAddress >= PayloadAddress && firmwareAddress < ErasableEnd;
    const bool stored = firmwareAddress == FirmwareStartV1 || firmwareAddress == FirmwareStartV2;
    const quint64 end = placed ? std::min<quint64>(quint64(firmwareAddress) + firmwareLength
                                + (stored ? FactoryMarkerSize : 0),
                            ErasableEnd)
                               : ErasableEnd;
    quint32 sectors = 0;
    for (int sector = sectorOf(placed ? firmwareAddress : PayloadAddress);
         sector >= 0 && sectorStart(sector) < end; ++sector)
        sectors |= 1u << sector;
    return sectors;
}

FirmwareRecord readFirmwareRecord(const QByteArray &block)
{
    FirmwareRecord record;
    if (block.size() < int(RecordSize) || quint8(block.at(0)) != RecordHead)
        return record;
    const quint32 legacyAddress = le32(block, 4);
    if ((legacyAddress == FirmwareStartV1 || legacyAddress == FirmwareStartV2)
        && quint8(block.at(LegacyMarkOffset)) == RecordHead
        && quint8(block.at(LegacyMarkOffset + 1)) == RecordTail) {
        record.layout = FirmwareRecord::Legacy;
        record.major = quint8(block.at(1));
        record.minor = quint8(block.at(2));
        record.patch = quint8(block.at(3));
        record.firmwareAddress = legacyAddress;
    } else if (quint8(block.at(int(RecordSize) - 1)) == RecordTail) {
        record.layout = FirmwareRecord::Current;
        record.firmwareAddress = le32(block, 1);
        record.major = quint8(block.at(5));
        record.minor = quint8(block.at(6));
        record.patch = quint8(block.at(7));
    } else {
        return record;
    }
    record.firmwareLength = le32(block, 8);
    return record;
}

void writeFirmwareRecord(QByteArray &block, quint32 firmwareAddress, quint8 major, quint8 minor,
    quint8 patch, quint32 firmwareLength)
{
    Q_ASSERT(block.size() >= int(RecordSize));
    block[0] = char(RecordHead);
    putLe32(block, 1, firmwareAddress);
    block[5] = char(major);
    block[6] = char(minor);
    block[7] = char(patch);
    putLe32(block, 8, firmwareLength);
    block[int(RecordSize) - 1] = char(RecordTail);
}

} // namespace FlashLayout
