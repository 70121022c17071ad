// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

// In-memory description of one flash operation: sectors to erase, up to 15 regions with
// their data, and the total length that progress reports count towards.
#pragma pack(push, 1)
struct FlashJob
{
    static constexpr int MaxSectors = 15;
    static constexpr int MaxRegions = 15;
    static constexpr quint32 SlotSize = 131072;

    struct Region
    {
        quint32 address;
        quint32 length;
    };

    quint8 sectors[MaxSectors];
    quint32 sectorCount;
    Region regions[MaxRegions];
    quint8 data[MaxRegions * SlotSize];
    quint32 total;

    // A zero-filled job on the heap.
    static std::unique_ptr<FlashJob> create();

    // Appends a sector number; false when the list is full.
    bool addSector(quint8 sector);
    // Sets region index to {address, bytes.size()} with its data from the start of slot
    // `index`. False (nothing changed) when the data would run past the data area or
    // into a slot that another non-empty region occupies.
    bool setRegion(int index, quint32 address, const QByteArray &bytes);
    bool setRegion(int index, quint32 address, const char *bytes, quint32 length);
    // Bytes available from the start of slot `index` to the end of the data area.
    static quint32 capacityFrom(int index);
    quint8 *slot(int index) { return data + size_t(index) * SlotSize; }
    const quint8 *slot(int index) const { return data + size_t(index) * SlotSize; }
    // Sum of the region lengths up to the first empty region, stored into total.
    quint32 computeTotal();
};
#pragma pack(pop)
