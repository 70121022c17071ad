// SPDX-License-Identifier: GPL-3.0-or-later
// Linked with the device library and the emulator only: the device layer works without the
// engine above it.
#include "adapteremulator.h"
#include "adapterlink.h"
#include "deviceflash.h"

#include <QtTest>

class tst_DeviceAlone : public QObject
{
    Q_OBJECT
private slots:
    void readsTheAdapterInATask();
};

void tst_DeviceAlone::readsTheAdapterInATask()
{
    AdapterEmulator::reset();
    AdapterEmulator::seedFirmwareVersion(5, 6, 3);
    QTest::ignoreMessage(QtWarningMsg, "registerDevice fail!");
    QTest::ignoreMessage(QtWarningMsg, "registerDevice fail!");
    DeviceFlash device(nullptr, nullptr);
    QVERIFY(device.open(DeviceFlash::adapterVendorId, DeviceFlash::Corvane_Adapter));
    bool busyInTask = false;
    AdapterLink(device).runTask([&] {
        busyInTask = device.isBusy();
        device.readDeviceConfig();
    });
    QVERIFY(device.loadConfiguration());
    device.waitForIdle();
    QVERIFY(busyInTask);
    QCOMPARE(device.version(), QStringLiteral("5.6.3"));
    QCOMPARE(device.serialNumber(), AdapterEmulator::uniqueId().toHex());
    QVERIFY(device.isConfigLoaded());
    QCOMPARE(device.configBuffer(), AdapterEmulator::memory(0x08004000, 16384));
}

QTEST_GUILESS_MAIN(tst_DeviceAlone)
#include "devicealone.moc"
