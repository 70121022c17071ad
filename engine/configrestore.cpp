// SPDX-License-Identifier: GPL-3.0-or-later
#include "configrestore.h"
#include "logcategories.h"

#include "backupfile.h"
#include "firmwareversion.h"
#include "flashjob.h"
#include "flashlayout.h"

#include <QDebug>
#include <QVector>

#include <cstring>

namespace {

struct Record
{
    qint64 offset;
    int length;
};

// The four blocks of a restore, in region order.
struct RestoreBlocks
{
    QByteArray config;
    QByteArray sector2;
    QByteArray sector4;
    QByteArray macro;
};

int readLe16(const char *bytes)
{
    return int(quint8(bytes[0])) | int(quint8(bytes[1])) << 8;
}

void writeLe16(char *bytes, int value)
{
    bytes[0] = char(value & 0xFF);
    bytes[1] = char((value >> 8) & 0xFF);
}

bool refuse(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

// The adapter's current firmware information replaces bytes 1..0x41 of a restored block,
// and its record's end signature byte 255, so the adapter still names its firmware; the
// signatures frame the block.
bool finishConfigBlock(QByteArray &block, const QByteArray &config, QString *reason)
{
    constexpr int RecordTail = int(FlashLayout::RecordSize) - 1;
    if (config.size() <= RecordTail)
        return refuse(
            reason, QStringLiteral("the adapter's configuration block has not been read"));
    std::memcpy(block.data() + ConfigRestore::AdapterInfoFirst,
        config.constData() + ConfigRestore::AdapterInfoFirst,
        ConfigRestore::AdapterInfoLast - ConfigRestore::AdapterInfoFirst + 1);
    block[RecordTail] = config.at(RecordTail);
    block[0] = char(0x55);
    block[ConfigRestore::ConfigBlockSize - 1] = char(0xAA);
    return true;
}

// The configuration block and the sector-2 block are never where firmware lies; should a
// record say so, nothing is restored.
bool fitsFirmware(quint32 leftOut, QString *reason)
{
    const quint32 essential
        = 1u << ConfigRestore::Block_Config | 1u << ConfigRestore::Block_Sector2;
    if (leftOut & essential)
        return refuse(reason, QStringLiteral("this backup does not fit the installed firmware"));
    return true;
}

bool restores(quint32 leftOut, ConfigRestore::Block block)
{
    return !(leftOut & 1u << block);
}

// A sector block stored with its own length field at bytes 0-1.
bool sectorBlock(const char *buffer, qint64 bufferSize, int offset, int capacity, const char *name,
    bool rewriteMarker, QByteArray *out, QString *reason)
{
    if (offset + 2 > bufferSize)
        return refuse(reason,
            QStringLiteral("the %1 block lies past the end of the backup")
                .arg(QLatin1String(name)));
    const int length = readLe16(buffer + offset);
    if (length < 4)
        return refuse(reason,
            QStringLiteral("the %1 block length %2 is shorter than its header "
                           "and end marker")
                .arg(QLatin1String(name))
                .arg(length));
    if (length > capacity)
        return refuse(reason,
            QStringLiteral("the %1 block length %2 exceeds its %3-byte sectors")
                .arg(QLatin1String(name))
                .arg(length)
                .arg(capacity));
    if (offset + qint64(length) > bufferSize)
        return refuse(reason,
            QStringLiteral("the %1 block length %2 runs past the end of the "
                           "backup")
                .arg(QLatin1String(name))
                .arg(length));
    *out = QByteArray(buffer + offset, length);
    if (rewriteMarker) {
        (*out)[length - 2] = char(0xAA);
        (*out)[length - 1] = char(0x55);
    }
    return true;
}

// Walks count records from offset by their length fields, each inside the backup.
bool walkRecords(const char *buffer, qint64 bufferSize, qint64 offset, int count, int minLength,
    QVector<Record> *records, qint64 *total, QString *reason)
{
    qint64 position = offset;
    *total = 0;
    for (int i = 0; i < count; ++i) {
        if (position + 2 > bufferSize)
            return refuse(reason,
                QStringLiteral("macro record %1 starts past the end of the "
                               "backup")
                    .arg(i));
        const int length = readLe16(buffer + position);
        if (length < minLength)
            return refuse(
                reason, QStringLiteral("macro record %1 is only %2 bytes long").arg(i).arg(length));
        if (position + length > bufferSize)
            return refuse(reason,
                QStringLiteral("macro record %1 (%2 bytes) runs past the end "
                               "of the backup")
                    .arg(i)
                    .arg(length));
        records->append({ position, length });
        position += length;
        *total += length;
    }
    return true;
}

// Converts the records and appends them; the converted total goes to *total.
bool convertRecords(const char *buffer, const QVector<Record> &records, bool logEach,
    QByteArray *out, qint64 *total, QString *reason)
{
    *total = 0;
    for (int i = 0; i < records.size(); ++i) {
        const Record &r = records.at(i);
        const QByteArray converted = ConfigRestore::convertRecord(buffer + r.offset, r.length);
        if (converted.isEmpty())
            return refuse(reason,
                QStringLiteral("macro record %1 is only %2 bytes long").arg(i).arg(r.length));
        *total += converted.size();
        // Checked per record so a long list never builds more than one block's worth.
        if (*total > ConfigRestore::MaxBlockLength)
            return refuse(reason,
                QStringLiteral("the converted macro block exceeds %1 bytes")
                    .arg(ConfigRestore::MaxBlockLength));
        if (logEach) {
            const QByteArray moved = converted.mid(132, 10);
            const char *name = converted.constData() + 5;
            const QByteArray nameBytes(
                name, int(qstrnlen(name, ConfigRestore::RecordFixedSize - 5)));
            qCWarning(lcEngine).noquote()
                << "restoreV2ToV2" << i << r.length << converted.size() << moved.toHex();
            qCWarning(lcEngine).noquote() << "restoreV2ToV2  mmacro v1 to v4"
                                          << QString::fromUtf8(nameBytes) << converted.size();
        }
        out->append(converted);
    }
    return true;
}

// Completes a macro block: header (64 bytes, bytes 0-4 set here), records, padding up to
// the records-size field, end marker.
bool finishMacroBlock(QByteArray header, int count, const QByteArray &records,
    qint64 recordsSizeField, QByteArray *out, QString *reason)
{
    const qint64 markerOffset = ConfigRestore::MacroHeaderSize + recordsSizeField;
    const qint64 blockLength = markerOffset + 2;
    if (blockLength > ConfigRestore::MaxBlockLength)
        return refuse(reason,
            QStringLiteral("the macro block would be %1 bytes, more than its "
                           "16-bit length field holds")
                .arg(blockLength));
    header.resize(ConfigRestore::MacroHeaderSize);
    QByteArray block = header + records;
    block.append(QByteArray(int(markerOffset) - block.size(), '\0'));
    block.append(char(0xAA));
    block.append(char(0x55));
    writeLe16(block.data(), int(blockLength));
    block[2] = char(count);
    writeLe16(block.data() + 3, int(recordsSizeField));
    *out = block;
    return true;
}

// The blocks that are not left out, one region each in block order, and their sectors.
bool placeBlocks(const RestoreBlocks &blocks, quint32 leftOut, FlashJob &job, QString *reason)
{
    const struct
    {
        ConfigRestore::Block block;
        quint32 address;
        const QByteArray &data;
    } placements[] = {
        { ConfigRestore::Block_Config, ConfigRestore::ConfigAddress, blocks.config },
        { ConfigRestore::Block_Sector2, ConfigRestore::Sector2Address, blocks.sector2 },
        { ConfigRestore::Block_Sector4, ConfigRestore::Sector4Address, blocks.sector4 },
        { ConfigRestore::Block_Macro, ConfigRestore::MacroAddress, blocks.macro },
    };
    bool placed = true;
    int region = 0;
    for (const auto &p : placements) {
        if (!restores(leftOut, p.block))
            continue;
        const quint32 sectors = ConfigRestore::sectorsOf(p.block);
        for (int sector = 0; sector <= FlashLayout::LastErasedSector; ++sector) {
            if (sectors & 1u << sector)
                placed = placed && job.addSector(quint8(sector));
        }
        placed = placed && job.setRegion(region++, p.address, p.data);
    }
    if (!placed)
        return refuse(reason, QStringLiteral("the restore does not fit into a flash job"));
    job.computeTotal();
    return true;
}

} // namespace

QByteArray ConfigRestore::convertRecord(const char *record, int length)
{
    if (!record || length < RecordFixedSize || length > MaxBlockLength)
        return QByteArray();
    // Bytes 0-84 as they are, 47 new zero bytes, then the old bytes from 85 on.
    QByteArray out;
    out.reserve(length + RecordGrowth);
    out.append(record, RecordFixedSize);
    out.append(RecordGrowth, '\0');
    out.append(record + RecordFixedSize, length - RecordFixedSize);
    const int newLength = out.size();
    out[0] = char(newLength & 0xFF);
    out[1] = char((newLength >> 8) & 0xFF);
    out[2] = 0;
    out[3] = 0;
    const quint8 oldLayout = quint8(record[4]);
    out[84] = char(oldLayout >= 3 ? 0 : oldLayout == 2 ? 1 : 2);
    out[4] = 4;
    return out;
}

quint32 ConfigRestore::sectorsOf(Block block)
{
    switch (block) {
    case Block_Config:
        return 1u << 1;
    case Block_Sector2:
        return 1u << 2 | 1u << 3;
    case Block_Sector4:
        return 1u << 4;
    case Block_Macro:
        return 1u << 5;
    case BlockCount:
        break;
    }
    return 0;
}

quint32 ConfigRestore::leftOutBlocks(
    const char *buffer, qint64 bufferSize, bool layout1, quint32 heldSectors)
{
    quint32 heldInBackup = 0;
    if (buffer && bufferSize >= qint64(FlashLayout::RecordSize))
        heldInBackup = FlashLayout::readFirmwareRecord(
            QByteArray::fromRawData(buffer, int(FlashLayout::RecordSize)))
                           .firmwareSectors();
    quint32 leftOut = 0;
    for (int b = 0; b < BlockCount; ++b) {
        const Block block = Block(b);
        const quint32 source
            = layout1 && block == Block_Macro ? sectorsOf(Block_Config) : sectorsOf(block);
        if ((sectorsOf(block) & heldSectors) || (source & heldInBackup))
            leftOut |= 1u << block;
    }
    return leftOut;
}

bool ConfigRestore::buildLayout1(char *buffer, qint64 bufferSize, const QByteArray &config,
    bool keepMacroLayout, quint32 heldSectors, FlashJob &job, QString *reason)
{
    if (!buffer || bufferSize < ConfigBlockSize)
        return refuse(reason, QStringLiteral("the backup is shorter than a configuration block"));
    const quint32 leftOut = leftOutBlocks(buffer, bufferSize, true, heldSectors);
    if (!fitsFirmware(leftOut, reason))
        return false;

    RestoreBlocks blocks;
    blocks.config = QByteArray(ConfigBlockSize, '\0');
    std::memcpy(blocks.config.data() + 0x42, buffer + 0x42, 0xE3 - 0x42 + 1);
    std::memcpy(blocks.config.data() + 0x3F1D, buffer + 0x3F1D, 0x3FFE - 0x3F1D + 1);
    if (!finishConfigBlock(blocks.config, config, reason))
        return false;

    if (!sectorBlock(buffer, bufferSize, Sector2Offset, Sector2Capacity, "sector-2", true,
            &blocks.sector2, reason)
        || (restores(leftOut, Block_Sector4)
            && !sectorBlock(buffer, bufferSize, Sector4Offset, Sector4Capacity, "sector-4", true,
                &blocks.sector4, reason)))
        return false;
    if (!restores(leftOut, Block_Macro))
        return placeBlocks(blocks, leftOut, job, reason);

    const int count = quint8(buffer[Layout1CountOffset]);
    const bool convert = !keepMacroLayout && count > 0;
    QVector<Record> records;
    qint64 recordsTotal = 0;
    if (!walkRecords(buffer, bufferSize, Layout1RecordsOffset, count, convert ? RecordFixedSize : 2,
            &records, &recordsTotal, reason))
        return false;
    if (recordsTotal > MaxBlockLength)
        return refuse(reason,
            QStringLiteral("the macro records total %1 bytes, more than the "
                           "macro block holds")
                .arg(recordsTotal));

    QByteArray recordBytes;
    qint64 recordsSizeField = recordsTotal;
    if (convert) {
        qCWarning(lcEngine) << "is not compatible version";
        qint64 convertedTotal = 0;
        if (!convertRecords(buffer, records, false, &recordBytes, &convertedTotal, reason))
            return false;
        recordsSizeField = MacroHeaderSize + convertedTotal;
    } else {
        recordBytes = QByteArray(buffer + Layout1RecordsOffset, int(recordsTotal));
    }
    if (!finishMacroBlock(QByteArray(MacroHeaderSize, '\0'), count, recordBytes, recordsSizeField,
            &blocks.macro, reason))
        return false;

    if (!placeBlocks(blocks, leftOut, job, reason))
        return false;
    writeLe16(buffer + Layout1TotalOffset, int(recordsTotal));
    return true;
}

bool ConfigRestore::buildLayout2(const char *buffer, qint64 bufferSize, const QByteArray &config,
    bool keepMacroLayout, quint32 heldSectors, FlashJob &job, QString *reason)
{
    if (!buffer || bufferSize < MacroOffset + MacroHeaderSize)
        return refuse(reason, QStringLiteral("the backup is too short to hold a macro block"));
    const quint32 leftOut = leftOutBlocks(buffer, bufferSize, false, heldSectors);
    if (!fitsFirmware(leftOut, reason))
        return false;

    RestoreBlocks blocks;
    blocks.config = QByteArray(buffer, ConfigBlockSize);
    if (!finishConfigBlock(blocks.config, config, reason))
        return false;
    qCWarning(lcEngine) << "restoreV2ToV2" << quint8(blocks.config.at(3))
                        << quint8(blocks.config.at(2)) << quint8(blocks.config.at(1));

    if (!sectorBlock(buffer, bufferSize, Sector2Offset, Sector2Capacity, "sector-2", false,
            &blocks.sector2, reason)
        || (restores(leftOut, Block_Sector4)
            && !sectorBlock(buffer, bufferSize, Sector4Offset, Sector4Capacity, "sector-4", false,
                &blocks.sector4, reason)))
        return false;
    if (!restores(leftOut, Block_Macro))
        return placeBlocks(blocks, leftOut, job, reason);

    const char *macro = buffer + MacroOffset;
    const int count = quint8(macro[2]);
    if (keepMacroLayout || count == 0) {
        // The block as stored, its length from its first two bytes.
        if (!sectorBlock(buffer, bufferSize, MacroOffset, MaxBlockLength, "macro", false,
                &blocks.macro, reason))
            return false;
    } else {
        qCWarning(lcEngine) << "is not compatible version";
        QVector<Record> records;
        qint64 oldTotal = 0;
        if (!walkRecords(buffer, bufferSize, MacroOffset + MacroHeaderSize, count, RecordFixedSize,
                &records, &oldTotal, reason))
            return false;
        QByteArray recordBytes;
        qint64 convertedTotal = 0;
        if (!convertRecords(buffer, records, true, &recordBytes, &convertedTotal, reason))
            return false;
        if (!finishMacroBlock(QByteArray(macro, MacroHeaderSize), count, recordBytes,
                MacroHeaderSize + convertedTotal, &blocks.macro, reason))
            return false;
    }

    return placeBlocks(blocks, leftOut, job, reason);
}

bool ConfigRestore::keepMacroLayout(const QString &adapterVersion, const QString &backupVersion)
{
    return FirmwareVersion::isCompatible(adapterVersion, backupVersion)
        || !FirmwareVersion::writesMacroLayout4(adapterVersion);
}

bool ConfigRestore::isLayout1(const QString &backupVersion)
{
    return !FirmwareVersion::keepsConfigurationStore(backupVersion);
}

bool ConfigRestore::validate(const QByteArray &data, const QString &backupVersion,
    bool keepMacroLayout, quint32 heldSectors, QString *reason)
{
    const bool layout1 = isLayout1(backupVersion);
    QByteArray copy = data;
    const qint64 size = qMin<qint64>(
        copy.size(), layout1 ? BackupFile::Layout1Length : BackupFile::Layout2Length);
    const QByteArray placeholder(ConfigBlockSize, '\0');
    std::unique_ptr<FlashJob> job = FlashJob::create();
    return layout1
        ? buildLayout1(copy.data(), size, placeholder, keepMacroLayout, heldSectors, *job, reason)
        : buildLayout2(
            copy.constData(), size, placeholder, keepMacroLayout, heldSectors, *job, reason);
}
