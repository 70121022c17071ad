// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one zero-latency request/response exchange with the adapter emulator, as the
// command channel makes it: one 65-byte write and one blocking read.
#include "adapteremulator.h"

#include <hidapi.h>

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

namespace {

double measure(hid_device *dev, unsigned char code, int exchanges)
{
    unsigned char request[65] = {};
    unsigned char answer[65];
    request[1] = code;
    request[5] = 0x00, request[6] = 0x00, request[7] = 0x01, request[8] = 0x08; // 0x08010000
    request[9] = 52;
    std::memset(request + 13, 0xFF, 52);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < exchanges; ++i) {
        if (hid_write(dev, request, sizeof request) != 65
            || hid_read_timeout(dev, answer, sizeof answer, -1) != 64) {
            std::fprintf(stderr, "exchange %d failed\n", i);
            return -1;
        }
    }
    return double(timer.nsecsElapsed()) / exchanges / 1000.0;
}

} // namespace

int main()
{
    AdapterEmulator::reset();
    hid_device *dev = hid_open(AdapterEmulator::VendorId, AdapterEmulator::ProductId, nullptr);
    if (!dev) {
        std::fprintf(stderr, "cannot open the emulated adapter\n");
        return 1;
    }
    const int exchanges = 200000;
    measure(dev, 0x56, 1000); // warm-up
    const double read = measure(dev, 0x56, exchanges);
    const double write = measure(dev, 0x57, exchanges);
    std::printf("read exchange (52 bytes):  %.3f us\n", read);
    std::printf("write exchange (52 bytes): %.3f us\n", write);
    hid_close(dev);
    return read < 0 || write < 0 ? 1 : 0;
}
