// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

constexpr quint32 ConfigAddress = 0x08004000;
constexpr int BootModeOffset = 0x82;

// A configuration block of firmware 5.6.0 with patterned settings and the boot mode.
QByteArray seedConfiguration(quint8 bootMode)
{
    QByteArray block(0x4000, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 7 + 3) & 0xFF);
    block[0] = char(0x55);
    block[5] = 5;
    block[6] = 6;
    block[7] = 0;
    block[255] = char(0xAA);
    block[BootModeOffset] = char(bootMode);
    AdapterEmulator::setMemory(ConfigAddress, block);
    return block;
}

std::unique_ptr<DeviceFlash> connectAdapter()
{
    auto device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    device->openDevice();
    device->waitForIdle();
    return device;
}

} // namespace

class tst_BootMode : public QObject
{
    Q_OBJECT

private slots:
    void init() { AdapterEmulator::reset(); }
    void writesOnlyTheModeByte_data();
    void writesOnlyTheModeByte();
    void readModeIsClamped_data();
    void readModeIsClamped();
    void refusedWhenConfigurationUnreadable();
    void failedWriteIsReported();
    void closedAdapterStartsNothing();
};

void tst_BootMode::writesOnlyTheModeByte_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("stored");
    QTest::newRow("SWITCH") << 3 << 3;
    QTest::newRow("low 8 bits of 258") << 258 << 2;
    QTest::newRow("Auto") << 0 << 0;
}

void tst_BootMode::writesOnlyTheModeByte()
{
    QFETCH(int, mode);
    QFETCH(int, stored);
    const QByteArray original = seedConfiguration(1);
    auto device = connectAdapter();
    QVERIFY(!device->isConfigLoaded());
    AdapterEmulator::resetCounters();

    QSignalSpy progress(device.get(), &DeviceFlash::settingProgressChanged);
    QSignalSpy busy(device.get(), &DeviceFlash::isBusyChanged);
    QSignalSpy settings(device.get(), &DeviceFlash::settingChanged);
    device->setBootMode(mode);
    device->waitForIdle();

    QByteArray expected = original;
    expected[BootModeOffset] = char(stored);
    QCOMPARE(AdapterEmulator::memory(ConfigAddress, 0x4000), expected);
    QCOMPARE(AdapterEmulator::eraseLog(), (QList<QList<quint8>> { { 1 } }));

    QCOMPARE(progress.size(), 316);
    QCOMPARE(progress.at(0).at(0).toLongLong(), qlonglong(52));
    QCOMPARE(progress.last().at(0).toLongLong(), qlonglong(16384));
    QCOMPARE(progress.last().at(1).toLongLong(), qlonglong(16384));
    QCOMPARE(busy.size(), 2);
    QCOMPARE(busy.last().at(0).toBool(), false);
    QVERIFY(settings.isEmpty());
    // The copy is the adapter's block as read, not changed by the write.
    QCOMPARE(device->configBuffer(), original);
    QCOMPARE(device->bootMode(), 1);
}

void tst_BootMode::readModeIsClamped_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("reported");
    QTest::newRow("2") << 2 << 2;
    QTest::newRow("4") << 4 << 4;
    QTest::newRow("9 reads as UNDEFINE") << 9 << 4;
    QTest::newRow("255") << 255 << 4;
}

void tst_BootMode::readModeIsClamped()
{
    QFETCH(int, stored);
    QFETCH(int, reported);
    seedConfiguration(quint8(stored));
    auto device = connectAdapter();
    QVERIFY(device->loadConfiguration());
    device->waitForIdle();
    QVERIFY(device->isConfigLoaded());
    QCOMPARE(device->bootMode(), reported);
}

void tst_BootMode::refusedWhenConfigurationUnreadable()
{
    const QByteArray original = seedConfiguration(1);
    auto device = connectAdapter();
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.wrongLengthAtExchange = 5;
    AdapterEmulator::setFaults(faults);

    QSignalSpy progress(device.get(), &DeviceFlash::settingProgressChanged);
    device->setBootMode(3);
    device->waitForIdle();
    QVERIFY(progress.isEmpty());
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::memory(ConfigAddress, 0x4000), original);
    // configBuffer keeps nothing from the partial read.
    QCOMPARE(device->configBuffer(), QByteArray(0x4000, '\0'));
}

void tst_BootMode::failedWriteIsReported()
{
    seedConfiguration(1);
    auto device = connectAdapter();
    QVERIFY(device->loadConfiguration());
    device->waitForIdle();
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.corruptEchoAtWrite = 100;
    AdapterEmulator::setFaults(faults);

    QSignalSpy progress(device.get(), &DeviceFlash::settingProgressChanged);
    QSignalSpy errors(device.get(), &DeviceFlash::error);
    device->setBootMode(2);
    device->waitForIdle();
    QCOMPARE(progress.size(), 99);
    QVERIFY(progress.last().at(0).toLongLong() < 16384);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().at(0).value<DeviceError>(), DeviceError_WriteFailure);

    // The copy still holds the adapter's block, so a retry rewrites it whole.
    AdapterEmulator::setFaults({});
    device->setBootMode(2);
    device->waitForIdle();
    QByteArray expected = device->configBuffer();
    expected[BootModeOffset] = 2;
    QCOMPARE(AdapterEmulator::memory(ConfigAddress, 0x4000), expected);
}

void tst_BootMode::closedAdapterStartsNothing()
{
    DeviceFlash device(nullptr, nullptr);
    QSignalSpy busy(&device, &DeviceFlash::isBusyChanged);
    QSignalSpy progress(&device, &DeviceFlash::settingProgressChanged);
    QSignalSpy store(&device, &DeviceFlash::dataStoreProgressChanged);
    device.setBootMode(3);
    QVERIFY(!device.dataBackup());
    QVERIFY(!device.loadConfiguration());
    device.dataRestore(QByteArray(0x3C010, '\0'), QStringLiteral("5.6.0"));
    device.waitForIdle();
    QVERIFY(busy.isEmpty());
    QVERIFY(progress.isEmpty());
    QVERIFY(store.isEmpty());
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(0));
}

QTEST_GUILESS_MAIN(tst_BootMode)
#include "tst_bootmode.moc"
