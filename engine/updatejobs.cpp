// SPDX-License-Identifier: GPL-3.0-or-later
#include "updatejobs.h"

#include "firmwareversion.h"

#include <QStringList>

namespace UpdateJobs {

namespace {

    void putLe32(QByteArray &bytes, int offset, quint32 value)
    {
        Q_ASSERT(offset >= 0 && offset + 4 <= bytes.size());
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = char(quint8(value >> (8 * i)));
    }

    void putBytes(QByteArray &bytes, int offset, std::initializer_list<quint8> values)
    {
        Q_ASSERT(offset >= 0 && offset + int(values.size()) <= bytes.size());
        for (quint8 v : values)
            bytes[offset++] = char(v);
    }

    // Low 8 bits of an unsigned decimal text of any length; 0 when it is not such a text.
    quint8 lowByteOfDecimal(const QString &part)
    {
        if (part.isEmpty())
            return 0;
        unsigned value = 0;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return 0;
            value = (value * 10 + unsigned(c.unicode() - '0')) & 0xFFu;
        }
        return quint8(value);
    }

    QByteArray defaultBlock66()
    {
        QByteArray block(int(DefaultBlockSize), '\0');
        putBytes(block, 0, { 0x42, 0x00 });
        putBytes(block, 64, { 0xAA, 0x55 });
        return block;
    }

} // namespace

QString versionText(quint8 major, quint8 minor, quint8 patch)
{
    return FirmwareVersion::text(major, minor, patch);
}

bool parseVersionText(const QString &text, Version *version)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 3)
        return false;
    if (version) {
        version->major = lowByteOfDecimal(parts.at(0));
        version->minor = lowByteOfDecimal(parts.at(1));
        version->patch = lowByteOfDecimal(parts.at(2));
    }
    return true;
}

QList<quint8> sectorRun(quint8 first, quint32 length)
{
    const quint32 count = length / FlashJob::SlotSize + 1;
    QList<quint8> sectors;
    for (quint32 i = 0; i < count; ++i) {
        const quint32 sector = quint32(first) + i;
        if (sector > FlashLayout::LastErasedSector)
            break;
        sectors.append(quint8(sector));
    }
    return sectors;
}

QList<quint8> sectorsForRegion(quint8 first, quint32 address, quint32 length)
{
    QList<quint8> sectors = sectorRun(first, length);
    if (length == 0 || quint64(address) + length > FlashLayout::ErasableEnd)
        return sectors;
    const int last = FlashLayout::sectorOf(address + length - 1);
    for (int sector = sectors.isEmpty() ? first : sectors.last() + 1; sector <= last; ++sector)
        sectors.append(quint8(sector));
    return sectors;
}

QByteArray firmwareInfoRecord(
    const Version &version, quint32 payloadLength, const QByteArray &payloadMd5)
{
    QByteArray record(int(RecordSize), '\0');
    FlashLayout::writeFirmwareRecord(
        record, PayloadAddress, version.major, version.minor, version.patch, payloadLength);
    const int digestLength = qMin(payloadMd5.size(), 16);
    for (int i = 0; i < digestLength; ++i)
        record[12 + i] = payloadMd5.at(i);
    return record;
}

Span imageBytesOfUpdateRegion(int region, quint32 regionLength)
{
    if (region != 0)
        return { 0, regionLength };
    if (regionLength < RecordImageBytes.offset + RecordImageBytes.length)
        return { 0, 0 };
    return RecordImageBytes;
}

Span imageBytesOfRestoreRegion(RestoreGeneration generation, int region, quint32 regionLength)
{
    const int firmwareRegion = generation == RestoreGeneration::Second ? 4 : 3;
    if (region == firmwareRegion)
        return { 0, regionLength };
    if (region != 0 || regionLength < RecordRestoreBytes.offset + RecordRestoreBytes.length)
        return { 0, 0 };
    return RecordRestoreBytes;
}

std::unique_ptr<FlashJob> buildUpdateJob(
    const Version &version, const QByteArray &payload, const QByteArray &payloadMd5)
{
    if (quint64(payload.size()) > MaxUpdatePayload || payloadMd5.size() != 16)
        return nullptr;
    const quint32 payloadLength = quint32(payload.size());

    std::unique_ptr<FlashJob> job = FlashJob::create();
    if (!job->setRegion(0, RecordAddress, firmwareInfoRecord(version, payloadLength, payloadMd5))
        || !job->setRegion(1, PayloadAddress, payload))
        return nullptr;
    job->addSector(1);
    for (quint8 sector : sectorsForRegion(4, PayloadAddress, payloadLength))
        job->addSector(sector);
    job->computeTotal();
    return job;
}

QByteArray defaultConfigBlock(const Version &version, quint32 firmwareStart, quint32 firmwareLength)
{
    QByteArray block(int(ConfigBlockSize), '\0');
    // The firmware record in the layout every reader takes (the start-up read included).
    FlashLayout::writeFirmwareRecord(
        block, firmwareStart, version.major, version.minor, version.patch, firmwareLength);
    putBytes(block, 0x40, { 0x55, 0xAA });
    putBytes(block, 0x46, { 0x45, 0x12, 0x52, 0x12, 0x51, 0x12, 0x4F, 0x12, 0x50, 0x12 });
    putBytes(block, 0x7E, { 0x10, 0x00 });
    block[0x3F1D] = char(0x55);
    putLe32(block, 0x3F1E, 1);
    putBytes(block, 0x3FFE, { 0xAA, 0xAA });
    return block;
}

QByteArray defaultSecondBlock()
{
    QByteArray block = defaultBlock66();
    putBytes(block, 3, { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF });
    return block;
}

QByteArray defaultBlankBlock()
{
    return defaultBlock66();
}

QByteArray restoreFirmwareRegion(const QByteArray &file)
{
    QByteArray region;
    region.reserve(file.size() + 2);
    region.append(file);
    region.append(char(0x55));
    region.append(char(0xAA));
    return region;
}

RestoreGeneration restoreGeneration(const QString &firmwareVersion)
{
    return FirmwareVersion::keepsConfigurationStore(firmwareVersion) ? RestoreGeneration::Second
                                                                     : RestoreGeneration::First;
}

quint32 restoreCapacity(RestoreGeneration generation)
{
    return generation == RestoreGeneration::Second ? MaxRestoreFileV2 : MaxRestoreFileV1;
}

quint32 restoreFirmwareStart(RestoreGeneration generation)
{
    return generation == RestoreGeneration::Second ? FirmwareStartV2 : FirmwareStartV1;
}

std::unique_ptr<FlashJob> buildRestoreJob(
    RestoreGeneration generation, const QByteArray &file, const Version &version)
{
    if (quint64(file.size()) > restoreCapacity(generation))
        return nullptr;
    const quint32 fileLength = quint32(file.size());
    const quint32 firmwareStart = restoreFirmwareStart(generation);
    const bool second = generation == RestoreGeneration::Second;

    std::unique_ptr<FlashJob> job = FlashJob::create();
    const QByteArray firmware = restoreFirmwareRegion(file);
    const int firmwareRegion = second ? 4 : 3;
    bool ok = job->setRegion(
                  0, ConfigBlockAddress, defaultConfigBlock(version, firmwareStart, fileLength))
        && job->setRegion(1, SecondBlockAddress, defaultSecondBlock())
        && job->setRegion(2, ThirdBlockAddress, defaultBlankBlock());
    if (second)
        ok = ok && job->setRegion(3, FourthBlockAddress, defaultBlankBlock());
    ok = ok && job->setRegion(firmwareRegion, firmwareStart, firmware);
    if (!ok)
        return nullptr;

    for (quint8 sector : std::initializer_list<quint8> { 1, 2, 4, 5 })
        job->addSector(sector);
    if (second) {
        for (quint8 sector : sectorsForRegion(6, firmwareStart, quint32(firmware.size())))
            job->addSector(sector);
    } else {
        // Sectors 5 and 6 at least; a larger file also needs the sectors after them.
        job->addSector(6);
        const int last = FlashLayout::sectorOf(firmwareStart + quint32(firmware.size()) - 1);
        for (int sector = 7; sector <= last; ++sector)
            job->addSector(quint8(sector));
    }
    job->computeTotal();
    return job;
}

} // namespace UpdateJobs
