// SPDX-License-Identifier: GPL-3.0-or-later
// The two restore conversions over a backup buffer, with the job they build checked.
//
// Input: flags, then four length-prefixed pieces placed where the restore looks for them
// (the configuration block with the layout-1 macro records, the sector-2 block, the sector-4
// block, the layout-2 macro block) in an otherwise zero backup, then the buffer's length.
#include "backupfile.h"
#include "configrestore.h"
#include "flashjob.h"
#include "fuzzsupport.h"

#include <cstring>
#include <memory>

namespace {

// One job for the whole run, zeroed for each input as a fresh one is: a new 1.9 MB job per
// input would make the allocator the bottleneck.
FlashJob *freshJob()
{
    static FlashJob *const job = FlashJob::create().release();
    std::memset(static_cast<void *>(job), 0, sizeof(FlashJob));
    return job;
}

int le16(const quint8 *p)
{
    return p[0] | p[1] << 8;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using FuzzSupport::check;
    FuzzSupport::Input in(data, size);
    const quint8 flags = in.byte();
    const bool layout1 = flags & 1;
    const bool keepMacroLayout = flags & 2;
    const qint64 fullLength = layout1 ? BackupFile::Layout1Length : BackupFile::Layout2Length;

    // Pieces at their offsets; the first one starts at 0x120 so short inputs reach the
    // layout-1 record count (0x124), total (0x125) and records (0x164).
    const int offsets[4] = { 0x120, ConfigRestore::Sector2Offset, ConfigRestore::Sector4Offset,
        ConfigRestore::MacroOffset };
    QByteArray buffer(int(fullLength), '\0');
    for (int offset : offsets) {
        const QByteArray piece = in.bytes(in.u16() % 4096);
        const int n = qMin(piece.size(), buffer.size() - offset);
        if (n > 0)
            std::memcpy(buffer.data() + offset, piece.constData(), size_t(n));
    }
    // A whole backup, or one cut short anywhere.
    qint64 length = fullLength;
    if (flags & 4)
        length = qint64(in.u32() % quint32(fullLength + 1));
    // Exactly length bytes on the heap, so the sanitizer sees any read past them.
    std::unique_ptr<char[]> exact(new char[size_t(qMax<qint64>(length, 1))]);
    std::memcpy(exact.get(), buffer.constData(), size_t(length));

    const QByteArray config(ConfigRestore::ConfigBlockSize, '\x5a');
    FlashJob *job = freshJob();
    QString reason;
    const bool accepted = layout1 ? ConfigRestore::buildLayout1(
                              exact.get(), length, config, keepMacroLayout, 0, *job, &reason)
                                  : ConfigRestore::buildLayout2(exact.get(), length, config,
                                      keepMacroLayout, 0, *job, &reason);
    check(accepted || !reason.isEmpty(), "a refusal without a reason");
    if (!accepted)
        return 0;

    // Four regions at their addresses, each within its slots and its sectors.
    const quint32 addresses[4] = { ConfigRestore::ConfigAddress, ConfigRestore::Sector2Address,
        ConfigRestore::Sector4Address, ConfigRestore::MacroAddress };
    const quint32 capacities[4]
        = { quint32(ConfigRestore::ConfigBlockSize), quint32(ConfigRestore::Sector2Capacity),
              quint32(ConfigRestore::Sector4Capacity), quint32(ConfigRestore::MaxBlockLength) };
    quint32 total = 0;
    for (int r = 0; r < 4; ++r) {
        const FlashJob::Region region = job->regions[r];
        check(region.address == addresses[r], "region at the wrong address");
        check(region.length >= 4 && region.length <= capacities[r], "region length out of range");
        check(region.length <= FlashJob::SlotSize, "region spills into the next slot");
        total += region.length;
    }
    check(job->regions[4].length == 0, "more than four regions");
    check(job->total == total, "job total is not the sum of its regions");
    const quint32 sectorCount = job->sectorCount;
    check(sectorCount == 5, "restore erases other sectors than 1 to 5");

    // The configuration block: framed, with the adapter's information and record signature, the
    // rest from the backup (layout 1 keeps only its settings ranges, everything else is zero).
    const quint8 *block = job->slot(0);
    const auto *backup = reinterpret_cast<const quint8 *>(exact.get());
    check(job->regions[0].length == quint32(ConfigRestore::ConfigBlockSize), "short config block");
    check(block[0] == 0x55 && block[ConfigRestore::ConfigBlockSize - 1] == 0xAA,
        "configuration block without its signatures");
    check(std::memcmp(block + 1, config.constData() + 1, 0x41) == 0,
        "configuration block lost the adapter's information");
    check(block[255] == quint8(config.at(255)), "configuration block lost the record's signature");
    for (int i = 0x42; i < ConfigRestore::ConfigBlockSize - 1; ++i) {
        const bool kept = !layout1 || i <= 0xE3 || i >= 0x3F1D;
        check(i == 255 || block[i] == (kept ? backup[i] : 0),
            "configuration block byte not as restored");
    }

    // The sector blocks carry their length field; layout 1 rewrites their end marker,
    // layout 2 copies them as stored.
    for (int r = 1; r < 3; ++r) {
        const quint8 *bytes = job->slot(r);
        const quint32 n = job->regions[r].length;
        check(quint32(le16(bytes)) == n, "block length field differs from its region");
        check(std::memcmp(bytes, backup + offsets[r], layout1 ? n - 2 : n) == 0,
            "block changed in transit");
        if (layout1)
            check(bytes[n - 2] == 0xAA && bytes[n - 1] == 0x55, "block without its end marker");
    }

    // The macro block: stored as it is, or built from a header, the records (converted to
    // layout 4 when the layouts differ), padding and the end marker at 64 + records-size.
    const quint8 *macro = job->slot(3);
    const quint32 macroLength = job->regions[3].length;
    check(quint32(le16(macro)) == macroLength, "macro length field differs from its region");
    const int count = layout1 ? backup[ConfigRestore::Layout1CountOffset]
                              : backup[ConfigRestore::MacroOffset + 2];
    const bool built = layout1 || (!keepMacroLayout && count > 0);
    if (!built) {
        check(std::memcmp(macro, backup + ConfigRestore::MacroOffset, macroLength) == 0,
            "stored macro block changed in transit");
        return 0;
    }
    const quint32 recordsSize = quint32(le16(macro + 3));
    check(macroLength == 64 + recordsSize + 2, "macro block length disagrees with records-size");
    check(macro[macroLength - 2] == 0xAA && macro[macroLength - 1] == 0x55,
        "macro block without its end marker");
    check(macro[2] == count, "macro record count changed");
    if (keepMacroLayout || count == 0) {
        check(
            std::memcmp(macro + 64, backup + ConfigRestore::Layout1RecordsOffset, recordsSize) == 0,
            "kept macro records changed");
    } else {
        quint32 position = 64;
        quint32 sum = 0;
        for (int i = 0; i < count; ++i) {
            check(position + 5 <= macroLength - 2, "converted record past the block");
            const quint32 n = quint32(le16(macro + position));
            check(n >= quint32(ConfigRestore::RecordFixedSize + ConfigRestore::RecordGrowth),
                "converted record too short");
            check(macro[position + 4] == 4 && macro[position + 2] == 0 && macro[position + 3] == 0,
                "converted record header not in layout 4");
            position += n;
            sum += n;
            check(position <= macroLength - 2, "converted record past the block");
        }
        check(recordsSize == 64 + sum, "records-size is not 64 more than the converted records");
        for (quint32 i = position; i < macroLength - 2; ++i)
            check(macro[i] == 0, "padding before the end marker not zero");
    }
    if (layout1)
        for (int i = 5; i < 64; ++i)
            check(macro[i] == 0, "layout-1 macro header not zero");
    return 0;
}
