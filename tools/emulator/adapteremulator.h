// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// An in-memory Corvane X9 behind hidapi's C functions (hidapi_emulator.cpp).
//
// Memory map: factory information at 0x08003FC0 (64 bytes), the 12-byte unique id at
// 0x1FFF7A10, and NOR flash from 0x08000000 to 0x08200000 in erase sectors: 0-3 of 16 KiB
// (0x08000000, 0x08004000, 0x08008000, 0x0800C000), 4 of 64 KiB (0x08010000), then
// 128 KiB sectors from 5 (0x08020000) up to 19. Erase sets a sector to 0xFF; programming
// can only clear bits, and a write's echo carries what the flash holds afterwards.
//
// All functions are thread-safe: hidapi calls arrive from worker threads.
// Several adapters can be attached at once (setAdapterCount()), each with its own flash,
// unique id, faults and latency; the functions below address the selected one.
// When the environment variable CORVANE_EMULATOR_STATE names a file, the adapter is loaded
// from it at hid_init() (created fresh when missing), every program and erase reaches its
// flash image as it happens (so a process killed half-way leaves the flash a real adapter
// would keep), and the rest is saved back at hid_close(), hid_exit() and process exit when a
// request changed it, so separate runs of a program see the same adapter (its device path names
// "<file>.node", a file beside it that programs lock as they lock a real adapter's node, and that a
// save never replaces); a program that has no handle open loads the file again at its next open
// when another one saved it meanwhile. When it names a directory, every "*.state" file in it is one
// adapter, in the order of their names, kept in the same way. Every process that sends an adapter a
// report appends its process id to "<file>.traffic". While the file named by
// CORVANE_EMULATOR_HOLD exists, no answer arrives (the adapters seem busy).
namespace AdapterEmulator {

constexpr quint16 VendorId = 0x0E3A;
constexpr quint16 ProductId = 0xB471;
constexpr quint32 FlashBase = 0x08000000;
constexpr quint32 FlashSize = 0x200000;
constexpr quint32 FactoryInfoAddress = 0x08003FC0;
constexpr quint32 UniqueIdAddress = 0x1FFF7A10;
constexpr int SectorCount = 20;
constexpr int MaxAdapters = 32;

// Faults to inject. Exchange numbers count request reports (1-based) since the last
// reset() or resetCounters(); -1 disables a fault.
struct Faults
{
    qint64 unplugAtExchange = -1; // this request and every later transfer fail
    qint64 corruptEchoAtWrite = -1; // Nth 0x57 write: flash is written, echo differs
    bool refuseErase = false; // erase answered with 0x58 and nothing erased
    qint64 wrongCodeAtExchange = -1; // answer code 0x5A instead of the right one
    qint64 wrongAddressAtExchange = -1; // answer address + 4
    qint64 wrongLengthAtExchange = -1; // answer length - 1
    qint64 shortReportAtExchange = -1; // answer report of 8 bytes only
    qint64 stallAtExchange = -1; // no answer at all: reads time out for ever
    int latencyUsPerReport = 0; // sleep per report written and per report read
    // The erase answer comes this long after the request per 128 KiB sector erased, smaller
    // sectors in proportion (as real flash takes 1-4 s per 128 KiB sector).
    int eraseMsPer128KiB = 0;
};

// One fresh adapter, selected: flash erased (0xFF), unique id 00 11 22 ... bb, factory
// block "CORVANE-X9" padded with 0xFF, firmware 5.6.0 seeded, attached, no faults.
void reset();

// Attaches count adapters (1 to MaxAdapters, or 0 for none): those already there keep their
// state, new ones are fresh with the unique id of the first but their index (0-based) in its
// first byte; those beyond count go away as if unplugged.
void setAdapterCount(int count);
int adapterCount();
// The adapter that the other functions address (0-based, below MaxAdapters).
void selectAdapter(int index);
int selectedAdapter();

void setAttached(bool attached);
bool isAttached();
// Makes hid_open() fail although attached (like a node without access rights).
void setOpenRefused(bool refused);

void setUniqueId(const QByteArray &id12);
QByteArray uniqueId();

// Writes firmware as an update leaves it (raw writes): the payload from 0x08010000 and the
// firmware information record at 0x08004000 naming it: byte 0 0x55, bytes 1-4 0x08010000,
// bytes 5-7 the version, 8-11 the payload's length, 12-27 its MD5 digest, byte 255 0xAA.
// The configuration bytes between them stay as they are.
void seedFirmware(quint8 major, quint8 minor, quint8 patch, const QByteArray &payload);
// The same with an empty payload: the record alone.
void seedFirmwareVersion(quint8 major, quint8 minor, quint8 patch);
// The payload that corvane-emulator init installs: SamplePayloadSize bytes that differ
// from version to version, within sector 4.
constexpr int SamplePayloadSize = 40000;
QByteArray samplePayload(quint8 major, quint8 minor, quint8 patch);
// What corvane-emulator init makes of a reset adapter: a factory-fresh configuration with
// the boot mode, and firmware of the version installed as an update by the tool leaves it
// (samplePayload()).
void seedUpdatedAdapter(quint8 major, quint8 minor, quint8 patch, quint8 bootMode);
// Writes a factory-fresh configuration (raw write): byte 0x82 of the block at 0x08004000
// (the boot mode) and the default 66-byte blocks at 0x08008000, 0x08010000, 0x08020000.
void seedDefaultConfiguration(quint8 bootMode);

// Raw access that bypasses the NOR rules (test set-up and inspection).
QByteArray memory(quint32 address, quint32 length);
void setMemory(quint32 address, const QByteArray &bytes);
// Sector number of an address, or -1 outside the flash.
int sectorOf(quint32 address);
quint32 sectorStart(int sector);
quint32 sectorSize(int sector);

// Queues an input report (up to 64 bytes, zero-filled) as if the adapter had sent it
// unasked, like the answer to another program's request: it waits before any answer.
void injectInputReport(const QByteArray &body);

void setFaults(const Faults &faults);
Faults faults();

// Traffic counters and the sector lists of every erase command received.
qint64 exchangeCount();
qint64 writeCommandCount();
QList<QList<quint8>> eraseLog();
void resetCounters();

// The selected adapter from or to a state file.
bool loadState(const QString &path);
bool saveState(const QString &path);
// The state files of a state directory, in adapter order.
QStringList stateFiles(const QString &directory);

} // namespace AdapterEmulator
