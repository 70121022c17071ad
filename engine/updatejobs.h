// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "flashjob.h"
#include "flashlayout.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

// Flash layouts written by the firmware update and the factory restores, built as flash
// jobs without touching a device.
namespace UpdateJobs {

// Adapter flash map.
using FlashLayout::ConfigBlockAddress;
using FlashLayout::ConfigBlockSize;
using FlashLayout::FirmwareStartV1;
using FlashLayout::FirmwareStartV2;
using FlashLayout::FourthBlockAddress;
using FlashLayout::PayloadAddress;
using FlashLayout::RecordAddress;
using FlashLayout::RecordSize;
using FlashLayout::SecondBlockAddress;
using FlashLayout::ThirdBlockAddress;
constexpr quint32 DefaultBlockSize = 66;

// The update's payload sits in slot 1 on; a restore's firmware region (file + 2 marker
// bytes) in slot 4 on (second generation) or slot 3 on (first generation). Each ends at the
// last sector the erase reaches.
constexpr quint32 MaxUpdatePayload = FlashLayout::regionCapacity(1, PayloadAddress);
constexpr quint32 MaxRestoreFileV2 = FlashLayout::regionCapacity(4, FirmwareStartV2) - 2;
constexpr quint32 MaxRestoreFileV1 = FlashLayout::regionCapacity(3, FirmwareStartV1) - 2;
static_assert(
    MaxUpdatePayload == 983040 && MaxRestoreFileV2 == 786430 && MaxRestoreFileV1 == 917502,
    "capacities follow from the sector table");
// No valid firmware file, Base64 text with line breaks included, comes near this size;
// larger files are not read whole.
constexpr qint64 MaxFirmwareFileSize = 8 * 1024 * 1024;

struct Version
{
    quint8 major = 0;
    quint8 minor = 0;
    quint8 patch = 0;
};

enum class RestoreGeneration {
    First, // firmware below 5.5.0, stored from 0x08020000
    Second, // 5.5.0 and later, stored from 0x08040000
};

// "%1.%2.%3" of the three bytes.
QString versionText(quint8 major, quint8 minor, quint8 patch);

// Splits a version text at every "." (empty parts kept). True when it has exactly three
// parts; each part is read as an unsigned decimal number and kept as its low 8 bits (a part
// that is not a number gives 0).
bool parseVersionText(const QString &text, Version *version);

// `count` sectors from `first` on, none above FlashLayout::LastErasedSector, with
// count = length / 131072 + 1.
QList<quint8> sectorRun(quint8 first, quint32 length);

// The sectors to erase for a region that starts at the start of sector `first`: the run
// above, widened to every sector the region's bytes touch (sector 4 is only 64 KiB, so the
// run alone would leave the region's tail unerased), none above the last erasable sector.
QList<quint8> sectorsForRegion(quint8 first, quint32 address, quint32 length);

// The 256-byte firmware information record that precedes an update's payload.
QByteArray firmwareInfoRecord(
    const Version &version, quint32 payloadLength, const QByteArray &payloadMd5);

// The bytes of an update job's region that are the image's own, as {offset, length} within
// the region: all of the payload, and of the firmware information record only the payload
// address, version, length and digest (offsets 1 to 27). The record's signatures and the
// configuration that shares its sector belong to the adapter, so a read-back leaves them out.
struct Span
{
    quint32 offset = 0;
    quint32 length = 0;
};
constexpr Span RecordImageBytes { 1, 27 };
Span imageBytesOfUpdateRegion(int region, quint32 regionLength);

// The bytes of a factory restore job's region that are the file's own: of the configuration
// block only the record's address, version and length (offsets 1 to 11), all of the firmware
// region (the file and its marker), none of the default blocks.
constexpr Span RecordRestoreBytes { 1, 11 };
Span imageBytesOfRestoreRegion(RestoreGeneration generation, int region, quint32 regionLength);

// Record in region 0 (sector 1), payload in region 1 from slot 1 (sectors 4...).
// Null when the payload is larger than MaxUpdatePayload or the digest is not 16 bytes.
std::unique_ptr<FlashJob> buildUpdateJob(
    const Version &version, const QByteArray &payload, const QByteArray &payloadMd5);

// The 16 KiB default configuration block of a factory restore, headed by the firmware
// record of the stored file (FlashLayout::writeFirmwareRecord).
QByteArray defaultConfigBlock(
    const Version &version, quint32 firmwareStart, quint32 firmwareLength);
// The 66-byte default block at 0x08008000 (bytes 3 to 8 set to 0xFF).
QByteArray defaultSecondBlock();
// The 66-byte default block at 0x08010000 and 0x08020000.
QByteArray defaultBlankBlock();
// The firmware file followed by the bytes 0x55, 0xAA.
QByteArray restoreFirmwareRegion(const QByteArray &file);

// The generation a factory restore of that firmware version writes.
RestoreGeneration restoreGeneration(const QString &firmwareVersion);
quint32 restoreCapacity(RestoreGeneration generation);
quint32 restoreFirmwareStart(RestoreGeneration generation);

// The factory restore job of a generation. Null when the file is larger than
// restoreCapacity(generation).
std::unique_ptr<FlashJob> buildRestoreJob(
    RestoreGeneration generation, const QByteArray &file, const Version &version);

} // namespace UpdateJobs
