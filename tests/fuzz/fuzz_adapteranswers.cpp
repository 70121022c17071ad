// SPDX-License-Identifier: GPL-3.0-or-later
// The adapter's answers as the command channel, the flash writer and the configuration
// read see them: a scripted adapter alters, cuts short, delays or drops any answer.
//
// Input: a plan byte, the read and job parameters, then the script (one byte per exchange,
// see scriptedadapter.cpp).
#include "deviceflash.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "flashprogramming.h"
#include "fuzzsupport.h"
#include "scriptedadapter.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

// One job for the whole run, zeroed for each input as a fresh one is: a new 1.9 MB job per
// input would make the allocator the bottleneck.
FlashJob *freshJob()
{
    static FlashJob *const job = FlashJob::create().release();
    std::memset(static_cast<void *>(job), 0, sizeof(FlashJob));
    return job;
}

using FuzzSupport::check;

// Progress of one call: rising, against one total, ending at the total only on success.
struct Progress
{
    qlonglong last = 0;
    qlonglong total = -1;
    int count = 0;

    void add(qlonglong current, qlonglong all)
    {
        check(current > last, "progress does not rise");
        check(total < 0 || all == total, "progress total changed");
        check(current <= all, "progress beyond its total");
        check(current - last <= 52, "progress step larger than a chunk");
        last = current;
        total = all;
        ++count;
    }
};

const quint32 readAddresses[]
    = { 0x08003FC0, 0x1FFF7A10, 0x08004000, 0x0800FFE0, 0x7FFFFFF0, 0xFFFFFFF0 };
const quint32 regionBases[] = { 0x08004000, 0x08008000, 0x08010000, 0x08020000 };

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Input in(data, size);
    const quint8 plan = in.byte();
    const quint32 readAddress = readAddresses[in.byte() % 6] + (in.byte() % 64);
    const quint32 readLength = in.u16() % 700;
    const int regionCount = 1 + in.byte() % 4;
    quint32 regionLengths[4] = {};
    quint32 regionOffsets[4] = {};
    for (int r = 0; r < regionCount; ++r) {
        regionOffsets[r] = in.byte();
        regionLengths[r] = 1 + in.u16() % 400;
    }
    const quint8 seed = in.byte();
    const quint8 progressKind = in.byte() % 4;
    const size_t scriptOffset = size - in.remaining();
    ScriptedAdapter::reset(data + scriptOffset, in.remaining());

    DeviceFlash device(nullptr, nullptr);
    check(device.open(0x0E3A, 0xB471), "the scripted adapter did not open");

    // The information read at connection.
    if (plan & 1) {
        device.readDeviceConfig();
        const QString version = device.version();
        if (!version.isEmpty() && !ScriptedAdapter::silentlyCorrupted())
            check(version == QLatin1String("5.6.0"), "information read gave another version");
    }

    // A memory read of any length into a buffer of exactly that length.
    {
        std::vector<char> destination(readLength);
        Progress progress;
        const bool reportProgress = plan & 2;
        QObject context; // its connections end with the block
        QObject::connect(
            &device, &DeviceFlash::dataBackupProgressChanged, &context,
            [&](qlonglong current, qlonglong all, char *buffer) {
                check(buffer == destination.data(), "progress names another buffer");
                check(all == qlonglong(readLength), "read progress total");
                progress.add(current, all);
            },
            Qt::DirectConnection);
        const bool read = device.readDeviceMemory(
            0x56, readAddress, readLength, destination.data(), reportProgress);
        if (reportProgress && readLength > 0)
            check(read == (progress.last == qlonglong(readLength)),
                "read result and progress disagree");
        if (read && !ScriptedAdapter::silentlyCorrupted())
            check(ScriptedAdapter::memory(readAddress, readLength)
                    == QByteArray(destination.data(), int(readLength)),
                "a successful read returned other bytes");
    }

    // Erase and write a job of up to four regions.
    {
        FlashJob *job = freshJob();
        QList<QByteArray> contents;
        for (int r = 0; r < regionCount; ++r) {
            QByteArray bytes(int(regionLengths[r]), '\0');
            for (int i = 0; i < bytes.size(); ++i)
                bytes[i] = char((i * 13 + seed + r) & 0xFF);
            contents.append(bytes);
            check(job->setRegion(r, regionBases[r] + regionOffsets[r], bytes), "region refused");
            job->addSector(quint8(1 + (seed + r) % 6));
        }
        job->computeTotal();
        Progress progress;
        QList<int> errors;
        QObject context;
        const auto onProgress = [&progress](qlonglong current, qlonglong all) {
            progress.add(current, all);
        };
        QObject::connect(&device, &DeviceFlash::write2FlashProgressChanged, &context, onProgress,
            Qt::DirectConnection);
        QObject::connect(&device, &DeviceFlash::dataStoreProgressChanged, &context, onProgress,
            Qt::DirectConnection);
        QObject::connect(&device, &DeviceFlash::settingProgressChanged, &context, onProgress,
            Qt::DirectConnection);
        QObject::connect(
            &device, &DeviceFlash::error, &context,
            [&errors](DeviceError e) { errors.append(int(e)); }, Qt::DirectConnection);
        const bool written = FlashProgramming::runJob(device, job, FlashProgress(progressKind));

        check(errors.size() == (written ? 0 : 1), "not exactly one report of a failed write");
        if (progressKind < 3) {
            check(written == (progress.last == qlonglong(job->total)),
                "write result and progress disagree");
        } else {
            check(progress.count == 0, "progress of an unknown kind");
        }
        if (written)
            for (int r = 0; r < regionCount; ++r)
                check(ScriptedAdapter::memory(regionBases[r] + regionOffsets[r], regionLengths[r])
                        == contents.at(r),
                    "a verified write left other bytes in flash");
    }

    // The configuration read-back.
    if (plan & 4) {
        device.updateVersion();
        const QByteArray config = device.configBuffer();
        check(config.size() == DeviceFlash::ConfigBufferSize, "configuration copy size");
        // Only a block read whole names firmware, by its record.
        check(device.version()
                == (device.isConfigLoaded() ? FlashLayout::readFirmwareRecord(config).version()
                                            : QString()),
            "version is not the configuration's");
        if (device.isConfigLoaded() && !ScriptedAdapter::silentlyCorrupted())
            check(config == ScriptedAdapter::memory(0x08004000, DeviceFlash::ConfigBufferSize),
                "a complete configuration read returned other bytes");
    }
    return 0;
}
