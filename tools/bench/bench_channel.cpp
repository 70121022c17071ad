// SPDX-License-Identifier: GPL-3.0-or-later
// Host-side cost of the command channel against the zero-latency adapter emulator: one
// request/response exchange, and the read of a 245,760-byte configuration area.
#include "adapteremulator.h"
#include "deviceflash.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Exchanges = 200000;
constexpr int BlockRuns = 20;
constexpr quint32 BlockLength = 245760;

double exchangeMicros(DeviceFlash &device, int count)
{
    const CommandReport request = CommandReport::request(0x56, 0x08004000, 52);
    CommandReport response;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        if (!device.writeCMDData(request) || !device.readCMDData(response)) {
            std::fprintf(stderr, "exchange %d failed\n", i);
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1000.0 / count;
}

double blockMillis(DeviceFlash &device)
{
    std::vector<char> block(BlockLength);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < BlockRuns; ++i) {
        if (!device.readDeviceMemory(0x56, 0x08004000, BlockLength, block.data(), false)) {
            std::fprintf(stderr, "block read %d failed\n", i);
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / 1e6 / BlockRuns;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AdapterEmulator::reset();
    auto device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    if (!device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId)) {
        std::fprintf(stderr, "cannot open the emulated adapter\n");
        return 1;
    }

    // Warm-up, so first-touch costs stay out of the numbers.
    exchangeMicros(*device, 1000);
    const double perExchange = exchangeMicros(*device, Exchanges);
    const double perBlock = blockMillis(*device);
    if (perExchange < 0 || perBlock < 0)
        return 1;

    const int blockExchanges = int((BlockLength + 51) / 52);
    std::printf("exchange (52-byte read, request + response): %.2f us (target < 10 us, %d runs)\n",
        perExchange, Exchanges);
    std::printf("read of %u bytes (%d exchanges): %.2f ms (%.2f us per exchange, %d runs)\n",
        BlockLength, blockExchanges, perBlock, perBlock * 1000.0 / blockExchanges, BlockRuns);
    return 0;
}
