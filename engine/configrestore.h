// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flashlayout.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct FlashJob;

// Builds the flash job that writes a configuration backup back to the adapter: the
// configuration block (sector 1), the sector-2 and sector-4 blocks (sectors 2-3 and 4) and
// the macro block (sector 5). Every length found in the backup is checked against the
// backup and the job first; a backup that would make the job read or write outside them
// is refused with a reason and the job is left untouched.
//
// Firmware may lie in sectors 4 and 5 (an update's payload from 0x08010000): a block whose
// sectors hold firmware, on the adapter now (heldSectors, from its firmware record) or
// where the backup was taken (the backup's own record), is left out. It is neither erased
// nor written, so the installed firmware stays byte for byte, and not taken from the
// backup, where it holds firmware rather than configuration.
class ConfigRestore
{
public:
    static constexpr quint32 ConfigAddress = FlashLayout::ConfigBlockAddress;
    static constexpr quint32 Sector2Address = FlashLayout::SecondBlockAddress;
    static constexpr quint32 Sector4Address = FlashLayout::ThirdBlockAddress;
    static constexpr quint32 MacroAddress = FlashLayout::MacroAddress;

    // Offsets into the backup.
    static constexpr int ConfigBlockSize = 0x4000;
    static constexpr int Sector2Offset = 0x4000;
    static constexpr int Sector4Offset = 0xC000;
    static constexpr int MacroOffset = 0x1C000; // layout 2
    static constexpr int Layout1CountOffset = 0x124;
    static constexpr int Layout1TotalOffset = 0x125;
    static constexpr int Layout1RecordsOffset = 0x164;

    static constexpr int AdapterInfoFirst = 1; // bytes 1..0x41 come from the adapter
    static constexpr int AdapterInfoLast = 0x41;
    static constexpr int MacroHeaderSize = 64;
    static constexpr int RecordGrowth = 47;
    static constexpr int RecordFixedSize = 85; // bytes 0..84 every record carries
    // Length fields are 16-bit; sectors 2+3 hold 32 KiB, sector 4 64 KiB.
    static constexpr int MaxBlockLength = 0xFFFF;
    static constexpr int Sector2Capacity = 0x8000;
    static constexpr int Sector4Capacity = 0x10000;

    // The blocks in region order.
    enum Block { Block_Config, Block_Sector2, Block_Sector4, Block_Macro, BlockCount };

    ConfigRestore() = delete;

    // The sectors a block is written to, one bit each (1 << sector).
    static quint32 sectorsOf(Block block);
    // The blocks left out, one bit each (1 << Block): those written where heldSectors lie, and
    // those taken from where the backup's own firmware lay (its record at the head of buffer,
    // bufferSize bytes; layout 1 keeps its macros in the configuration block).
    static quint32 leftOutBlocks(
        const char *buffer, qint64 bufferSize, bool layout1, quint32 heldSectors);

    // The macro layout stays when both versions share major.minor, or the adapter's
    // firmware is below 5.6.0; otherwise the records are converted to layout 4.
    static bool keepMacroLayout(const QString &adapterVersion, const QString &backupVersion);
    // Backups of firmware below 5.5.0 are in layout 1.
    static bool isLayout1(const QString &backupVersion);
    // Whether data (a backup as read from its file) would build a restore job, without an
    // adapter: the same checks as the restore, with a placeholder for the adapter's block.
    static bool validate(const QByteArray &data, const QString &backupVersion, bool keepMacroLayout,
        quint32 heldSectors, QString *reason);

    // One macro record converted to layout 4: 47 bytes longer, byte 4 = 4, byte 84 from
    // the old record layout version. Empty when the record is shorter than 85 bytes.
    static QByteArray convertRecord(const char *record, int length);

    // Layout 1 (firmware below 5.5.0). buffer holds bufferSize bytes of the backup; the
    // total of the macro records is stored back into buffer bytes 0x125-0x126. config is
    // the adapter's current configuration block, heldSectors the sectors its firmware
    // occupies. job must be fresh (zero-filled).
    static bool buildLayout1(char *buffer, qint64 bufferSize, const QByteArray &config,
        bool keepMacroLayout, quint32 heldSectors, FlashJob &job, QString *reason);
    // Layout 2 (firmware 5.5.0 and later).
    static bool buildLayout2(const char *buffer, qint64 bufferSize, const QByteArray &config,
        bool keepMacroLayout, quint32 heldSectors, FlashJob &job, QString *reason);
};
