// SPDX-License-Identifier: GPL-3.0-or-later
// An update into one emulated adapter and the same update into eight at once, each adapter
// with its own DeviceFlash (as corvane-cli update --all runs them), at 1 ms per report: both
// wall times and their ratio. The image writes 393,472 bytes (a 393,216-byte payload and
// its 256-byte record). Target: eight adapters in at most 1.25 times the time of one.
//
//   bench_parallel [--adapters N] [--latency MICROSECONDS] [--backup]
//
// --backup also saves each adapter's configuration first, as an update does by default
// (245,760 bytes more to read from each adapter).
#include "adapteremulator.h"
#include "deviceflash.h"
#include "firmwareimagemaker.h"
#include "qhiddevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int PayloadSize = 393216;
constexpr qlonglong JobTotal = 256 + PayloadSize;

QByteArray payload()
{
    QByteArray bytes(PayloadSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + i / 4099) & 0xFF);
    return bytes;
}

struct Adapter
{
    std::unique_ptr<DeviceFlash> device;
    std::atomic<qlonglong> written { 0 };
    std::atomic<bool> failed { false };
};

// Updates the first count adapters at once; the seconds from the first request to the
// last adapter's end, or -1 when one of them did not complete.
double updateAll(int count, const QString &image, const QString &dataDirectory, bool backup)
{
    const QList<QHidDevice::Interface> attached
        = QHidDevice::enumerate(AdapterEmulator::VendorId, AdapterEmulator::ProductId);
    if (attached.size() < count)
        return -1;
    std::vector<std::unique_ptr<Adapter>> adapters;
    for (int i = 0; i < count; ++i) {
        auto adapter = std::make_unique<Adapter>();
        adapter->device
            = std::make_unique<DeviceFlash>(static_cast<DeviceMonitor *>(nullptr), nullptr);
        DeviceFlash &device = *adapter->device;
        device.setAdapterPath(attached.at(i).path);
        device.setDataDirectory(dataDirectory);
        device.setAutoBackupEnabled(backup);
        Adapter *a = adapter.get();
        QObject::connect(
            &device, &DeviceFlash::write2FlashProgressChanged, &device,
            [a](qlonglong current, qlonglong) { a->written = current; }, Qt::DirectConnection);
        QObject::connect(
            &device, &DeviceFlash::error, &device, [a] { a->failed = true; }, Qt::DirectConnection);
        device.openDevice();
        adapters.push_back(std::move(adapter));
    }
    for (const auto &adapter : adapters) {
        adapter->device->waitForIdle();
        if (!adapter->device->isConnected())
            return -1;
    }

    QElapsedTimer timer;
    timer.start();
    for (const auto &adapter : adapters)
        adapter->device->updateFirmware(image);
    for (const auto &adapter : adapters)
        adapter->device->waitForIdle();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    for (const auto &adapter : adapters) {
        if (adapter->failed || adapter->written != JobTotal)
            return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    // Locks, history and backups stay in the throw-away folder.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qunsetenv("CORVANE_EMULATOR_STATE");
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });

    int count = 8;
    int latencyUs = 1000;
    bool backup = false;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        bool ok = true;
        if (args.at(i) == QLatin1String("--adapters") && i + 1 < args.size())
            count = args.at(++i).toInt(&ok);
        else if (args.at(i) == QLatin1String("--latency") && i + 1 < args.size())
            latencyUs = args.at(++i).toInt(&ok);
        else if (args.at(i) == QLatin1String("--backup"))
            backup = true;
        else
            ok = false;
        if (!ok || count < 1 || count > AdapterEmulator::MaxAdapters || latencyUs < 0) {
            std::fprintf(stderr,
                "usage: bench_parallel [--adapters N] [--latency MICROSECONDS] "
                "[--backup]\n");
            return 2;
        }
    }

    const QString image = home.filePath(QStringLiteral("fw.rfw"));
    if (!FirmwareImageMaker::writeToFile(image, FirmwareImageMaker::make(5, 9, 1, payload())))
        return 1;
    AdapterEmulator::reset();
    AdapterEmulator::setAdapterCount(count);
    for (int i = 0; i < count; ++i) {
        AdapterEmulator::selectAdapter(i);
        AdapterEmulator::seedDefaultConfiguration(0);
        AdapterEmulator::Faults faults;
        faults.latencyUsPerReport = latencyUs;
        AdapterEmulator::setFaults(faults);
    }
    const QString data = home.filePath(QStringLiteral("data"));
    QDir().mkpath(data);

    std::printf("%d bytes into each adapter, %d us per report%s\n", int(JobTotal), latencyUs,
        backup ? ", configuration saved first" : "");
    const double one = updateAll(1, image, data, backup);
    if (one < 0) {
        std::fprintf(stderr, "the update of one adapter did not complete\n");
        return 1;
    }
    std::printf("1 adapter:  %.2f s\n", one);
    const double all = updateAll(count, image, data, backup);
    if (all < 0) {
        std::fprintf(stderr, "the update of %d adapters did not complete\n", count);
        return 1;
    }
    std::printf("%d adapters: %.2f s\n", count, all);
    std::printf("ratio: %.2f (target at most 1.25)\n", all / one);
    return 0;
}
