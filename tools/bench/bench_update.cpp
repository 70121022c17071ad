// SPDX-License-Identifier: GPL-3.0-or-later
// A full-size firmware update (983,040-byte payload, the largest an update takes) against
// the adapter emulator: host-side cost per exchange and of the whole update at zero
// latency, the same update with 1 ms of emulated latency per report against the floor that
// latency sets, the peak memory that the update adds to the process, and a verify of the
// written image at 1 ms per report against the update's write phase.
//
//   bench_update [--slice BYTES] [--full-latency] [--no-latency]
//
// With 1 ms per report the full update needs over a minute; by default the latency run
// updates a payload of --slice bytes (default 104,000) and extrapolates per exchange.
#include "adapteremulator.h"
#include "deviceflash.h"
#include "firmwareimage.h"
#include "qaesencryption.h"
#include "updatejobs.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr quint32 FullPayload = UpdateJobs::MaxUpdatePayload;
constexpr int LatencyUs = 1000;

// A firmware image file as the maker's tools produce it: tag, version, payload and digest,
// PKCS#7 padded, AES-128-ECB, Base64.
QByteArray makeImage(const QByteArray &payload)
{
    QByteArray plain = FirmwareImage::typeTag();
    plain.append(char(5)).append(char(9)).append(char(1)).append(payload);
    plain.append(QCryptographicHash::hash(plain, QCryptographicHash::Md5));
    const int pad = QAESEncryption::BlockLength - plain.size() % QAESEncryption::BlockLength;
    plain.append(QByteArray(pad, char(pad)));

    QAESEncryption aes(QAESEncryption::KeySize_128, QAESEncryption::CipherMode_ECB);
    const QByteArray key = aes.keyExpansion(FirmwareImage::cipherKey());
    QByteArray cipher;
    cipher.reserve(plain.size());
    for (int at = 0; at < plain.size(); at += QAESEncryption::BlockLength)
        cipher.append(aes.encryptBlock(key, plain.mid(at, QAESEncryption::BlockLength)));
    return cipher.toBase64();
}

QByteArray payloadOf(quint32 length)
{
    QByteArray payload(int(length), '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 131 + i / 4099) & 0xFF);
    return payload;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A field of /proc/self/status in KiB, -1 when missing.
qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Restarts the peak (VmHWM) from the current resident size.
bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

struct Run
{
    bool complete = false;
    double seconds = 0;
    qint64 exchanges = 0;
    double writeSeconds = 0; // update: from the erase to the last written chunk
};

Run runUpdate(DeviceFlash &device, const QString &path, qlonglong expectedTotal)
{
    Run run;
    qlonglong written = 0;
    bool failed = false;
    QElapsedTimer writeClock;
    QObject::connect(
        &device, &DeviceFlash::dataStoreProgressChanged, &device,
        [&writeClock] { writeClock.start(); }, Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::write2FlashProgressChanged, &device,
        [&](qlonglong current, qlonglong) {
            written = current;
            run.writeSeconds = double(writeClock.nsecsElapsed()) / 1e9;
        },
        Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::error, &device, [&failed] { failed = true; }, Qt::DirectConnection);
    AdapterEmulator::resetCounters();
    QElapsedTimer timer;
    timer.start();
    device.updateFirmware(path);
    device.waitForIdle();
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.exchanges = AdapterEmulator::exchangeCount();
    run.complete = !failed && written == expectedTotal;
    QObject::disconnect(&device, nullptr, &device, nullptr);
    return run;
}

// Reads the image back as corvane-cli verify does; complete when every byte came back equal.
Run runVerify(DeviceFlash &device, const QString &path, qlonglong expectedRead)
{
    Run run;
    qlonglong read = 0;
    qint64 differing = 0;
    QObject::connect(
        &device, &DeviceFlash::verifyProgressChanged, &device,
        [&read](qlonglong current, qlonglong) { read = current; }, Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::regionVerified, &device,
        [&differing](quint32, quint32, quint32 n, qint64) { differing += n; },
        Qt::DirectConnection);
    AdapterEmulator::resetCounters();
    QElapsedTimer timer;
    timer.start();
    device.verifyFirmware(path);
    device.waitForIdle();
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.exchanges = AdapterEmulator::exchangeCount();
    run.complete = read == expectedRead && differing == 0
        && AdapterEmulator::writeCommandCount() == 0 && AdapterEmulator::eraseLog().isEmpty();
    QObject::disconnect(&device, nullptr, &device, nullptr);
    return run;
}

// What one requested 1 ms sleep really takes here (timer slack, scheduling).
double measuredSleepMs()
{
    constexpr int Sleeps = 300;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Sleeps; ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(LatencyUs));
    return double(timer.nsecsElapsed()) / 1e6 / Sleeps;
}

qint64 exchangesFor(quint32 payload)
{
    // erase + record (5 chunks) + payload chunks + record read-back (5 chunks)
    return 1 + 5 + (qint64(payload) + 51) / 52 + 5;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(
        QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    quint32 slice = 2000 * 52;
    bool fullLatency = false;
    bool latency = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--slice") && i + 1 < args.size())
            slice = qBound<quint32>(52, args.at(++i).toUInt(), FullPayload);
        else if (args.at(i) == QLatin1String("--full-latency"))
            fullLatency = true;
        else if (args.at(i) == QLatin1String("--no-latency"))
            latency = false;
        else {
            std::fprintf(
                stderr, "usage: bench_update [--slice BYTES] [--full-latency] [--no-latency]\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString fullPath = dir.filePath(QStringLiteral("full.rfw"));
    const QString slicePath = dir.filePath(QStringLiteral("slice.rfw"));
    double decodeMs = 0;
    {
        const QByteArray full = makeImage(payloadOf(FullPayload));
        QElapsedTimer decodeTimer;
        decodeTimer.start();
        const FirmwareImage decoded = decodeFirmwareImage(full);
        decodeMs = double(decodeTimer.nsecsElapsed()) / 1e6;
        if (!decoded.isValid() || !writeFile(fullPath, full)
            || !writeFile(slicePath, makeImage(payloadOf(slice)))) {
            std::fprintf(stderr, "cannot prepare the firmware images\n");
            return 1;
        }
        std::printf("image: %d bytes of Base64, payload %u bytes, decode %.1f ms\n",
            int(full.size()), FullPayload, decodeMs);
    }

    AdapterEmulator::reset();
    DeviceFlash device(nullptr, nullptr);
    if (!device.open(AdapterEmulator::VendorId, AdapterEmulator::ProductId)) {
        std::fprintf(stderr, "cannot open the emulated adapter\n");
        return 1;
    }

    // Zero latency: what the host spends, with the peak memory the update adds.
    const bool peakReset = resetPeak();
    const qint64 idleKiB = statusKiB("VmHWM");
    const Run zero = runUpdate(device, fullPath, 256 + FullPayload);
    const qint64 peakKiB = statusKiB("VmHWM");
    if (!zero.complete) {
        std::fprintf(stderr, "the zero-latency update did not complete\n");
        return 1;
    }
    std::printf("zero latency: update %.3f s, %lld exchanges (expected %lld); %.2f us per "
                "exchange without the decode, %.2f us with it\n",
        zero.seconds, qlonglong(zero.exchanges), qlonglong(exchangesFor(FullPayload)),
        (zero.seconds * 1e3 - decodeMs) * 1e3 / double(zero.exchanges),
        zero.seconds * 1e6 / double(zero.exchanges));
    std::printf("memory: idle %lld KiB, peak during update %lld KiB, added %.2f MiB "
                "(target under 32 MiB)%s\n",
        qlonglong(idleKiB), qlonglong(peakKiB), double(peakKiB - idleKiB) / 1024.0,
        peakReset ? "" : " [peak not reset: includes image preparation]");

    if (!latency)
        return 0;

    AdapterEmulator::Faults faults;
    faults.latencyUsPerReport = LatencyUs;
    AdapterEmulator::setFaults(faults);
    const quint32 payload = fullLatency ? FullPayload : slice;
    const Run slow = runUpdate(device, fullLatency ? fullPath : slicePath, 256 + payload);
    if (!slow.complete) {
        std::fprintf(stderr, "the 1 ms update did not complete\n");
        return 1;
    }
    const double perExchangeMs = slow.seconds * 1e3 / double(slow.exchanges);
    const qint64 fullExchanges = exchangesFor(FullPayload);
    const double extrapolated = perExchangeMs * double(fullExchanges) / 1e3;
    const double payloadFloor = 35289.0 * 2 * LatencyUs / 1e6;
    const double fullFloor = double(fullExchanges) * 2 * LatencyUs / 1e6;
    std::printf("1 ms per report: %s of %u bytes took %.3f s over %lld exchanges, %.3f ms per "
                "exchange (floor 2.000)\n",
        fullLatency ? "full update" : "slice", payload, slow.seconds, qlonglong(slow.exchanges),
        perExchangeMs);
    std::printf("1 ms per report: full update %s %.2f s; floor %.2f s for the payload's 35,289 "
                "round trips x 2 reports (%.2f s for all %lld exchanges); %.1f%% above the floor\n",
        fullLatency ? "measured" : "extrapolated", fullLatency ? slow.seconds : extrapolated,
        payloadFloor, fullFloor, qlonglong(fullExchanges),
        ((fullLatency ? slow.seconds : extrapolated) / fullFloor - 1.0) * 100.0);

    // The image just written, read back: the record's 27 bytes of the image, then the
    // payload. Both take one request and one answer per chunk, so they are timed in turns
    // and the fastest of each counts, which keeps other load on the machine out.
    const QString image = fullLatency ? fullPath : slicePath;
    const int rounds = fullLatency ? 1 : 3;
    double writeSeconds = slow.writeSeconds;
    double verifySeconds = 0;
    qint64 verifyExchanges = 0;
    for (int round = 0; round < rounds; ++round) {
        if (round > 0) {
            const Run again = runUpdate(device, image, 256 + payload);
            if (!again.complete) {
                std::fprintf(stderr, "the 1 ms update did not complete\n");
                return 1;
            }
            writeSeconds = std::min(writeSeconds, again.writeSeconds);
        }
        const Run verify = runVerify(device, image, UpdateJobs::RecordImageBytes.length + payload);
        if (!verify.complete) {
            std::fprintf(stderr, "the 1 ms verify did not complete or found differences\n");
            return 1;
        }
        verifySeconds = round == 0 ? verify.seconds : std::min(verifySeconds, verify.seconds);
        verifyExchanges = verify.exchanges;
    }
    // The write phase is the erase and every write, without the record's read-back.
    const double verifyFull
        = verifySeconds / double(verifyExchanges) * double(1 + (qint64(FullPayload) + 51) / 52);
    const double writeFull = writeSeconds / double(slow.exchanges - 5)
        * double(1 + 5 + (qint64(FullPayload) + 51) / 52);
    const double verifyShown = fullLatency ? verifySeconds : verifyFull;
    const double writeShown = fullLatency ? writeSeconds : writeFull;
    std::printf("1 ms per report: verify of the %s %.3f s over %lld exchanges (image decode "
                "included), the update's write phase %.3f s (fastest of %d); full size %s: "
                "verify %.2f s, write phase %.2f s, verify/write %.3f (%s)\n",
        fullLatency ? "full image" : "slice", verifySeconds, qlonglong(verifyExchanges),
        writeSeconds, rounds, fullLatency ? "measured" : "extrapolated", verifyShown, writeShown,
        verifyShown / writeShown, verifyShown <= writeShown ? "no longer" : "LONGER");

    const double sleepMs = measuredSleepMs();
    std::printf("1 ms per report: a 1 ms sleep takes %.3f ms here, so the emulator's own floor "
                "is %.3f ms per exchange; the host adds %.3f ms per exchange\n",
        sleepMs, 2 * sleepMs, perExchangeMs - 2 * sleepMs);
    return 0;
}
