// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"
#include "deviceflashrecorder.h"
#include "devicenotice.h"
#include "firmwareimagemaker.h"
#include "testdata.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// An update cut off by an unplug at any exchange must leave an adapter that the tool
// recognises on reconnection (a lost firmware record is reported as such) and that a second
// run of the same update brings to exactly the state of an update that was never cut off.

namespace {

constexpr int TaskTimeoutMs = 20000;
constexpr int PayloadLength = 3000;
// Erase, 5 record chunks, 58 payload chunks, 5 read-back requests.
constexpr int RecordChunks = 5;
constexpr int PayloadChunks = (PayloadLength + 51) / 52;
constexpr int RecordLastExchange = 1 + RecordChunks;
constexpr int UpdateExchanges = 1 + RecordChunks + PayloadChunks + 5;

const QString adapterName = QStringLiteral("\\\\?\\HID#VID_0E3A&PID_B471#7&1a2b3c4d&0&0000#"
                                           "{4d1e55b2-f16f-11cf-88cb-001111000030}");

using TestData::pattern;

QByteArray wholeFlash()
{
    return AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize);
}

void notify(DeviceFlash *device, DeviceNotice::Kind kind)
{
    DeviceNotice notice;
    notice.kind = kind;
    notice.interfaceName = adapterName;
    device->handleNotice(notice);
}

} // namespace

class tst_Recovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void updateAgainAfterUnplug_data();
    void updateAgainAfterUnplug();

private:
    // A fresh adapter at 5.6.0, connected through the arrival path and read.
    std::unique_ptr<DeviceFlash> connectedDevice(DeviceFlashRecorder *recorder);

    QTemporaryDir m_dir;
    QString m_imagePath;
    QByteArray m_golden;
};

std::unique_ptr<DeviceFlash> tst_Recovery::connectedDevice(DeviceFlashRecorder *recorder)
{
    AdapterEmulator::reset();
    AdapterEmulator::seedFirmwareVersion(5, 6, 0);
    AdapterEmulator::seedDefaultConfiguration(1);
    auto device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    recorder->attach(device.get(), this);
    notify(device.get(), DeviceNotice::InterfaceArrival);
    if (!device->waitForIdle(TaskTimeoutMs) || device->version() != QLatin1String("5.6.0"))
        return nullptr;
    AdapterEmulator::resetCounters();
    return device;
}

void tst_Recovery::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_imagePath = m_dir.filePath(QStringLiteral("Firmware_V5.7.2.rfw"));
    QVERIFY(FirmwareImageMaker::writeToFile(
        m_imagePath, FirmwareImageMaker::make(5, 7, 2, pattern(PayloadLength, 5))));

    // The flash after an update that nothing interrupted.
    DeviceFlashRecorder recorder;
    std::unique_ptr<DeviceFlash> device = connectedDevice(&recorder);
    QVERIFY(device);
    device->updateFirmware(m_imagePath);
    QVERIFY(device->waitForIdle(TaskTimeoutMs));
    QVERIFY(recorder.values("error").isEmpty());
    QCOMPARE(recorder.last("write"), qlonglong(256 + PayloadLength));
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(UpdateExchanges));
    QCOMPARE(device->version(), QStringLiteral("5.7.2"));
    m_golden = wholeFlash();
}

void tst_Recovery::updateAgainAfterUnplug_data()
{
    QTest::addColumn<int>("exchange");
    // Every exchange of the update: the erase, each chunk of the record and the payload,
    // and each read of the read-back.
    for (int n = 1; n <= UpdateExchanges; ++n)
        QTest::newRow(qPrintable(QStringLiteral("unplug at %1").arg(n))) << n;
}

void tst_Recovery::updateAgainAfterUnplug()
{
    QFETCH(int, exchange);

    DeviceFlashRecorder recorder;
    std::unique_ptr<DeviceFlash> device = connectedDevice(&recorder);
    QVERIFY(device);
    AdapterEmulator::Faults faults;
    faults.unplugAtExchange = exchange;
    AdapterEmulator::setFaults(faults);

    device->updateFirmware(m_imagePath);
    QVERIFY2(device->waitForIdle(TaskTimeoutMs), "the interrupted update did not end");
    QVERIFY(!AdapterEmulator::isAttached());
    QVERIFY(!device->isBusy());
    // Cut off before the last chunk: the write failed and said so. During the read-back
    // every byte had already been verified, but the version is not known: no success either.
    const bool writeComplete = exchange > UpdateExchanges - 5;
    QCOMPARE(recorder.values("error").size(), 1);
    QCOMPARE(recorder.last("write") == qlonglong(256 + PayloadLength), writeComplete);

    // The system reports the removal; the adapter comes back and is read as at arrival.
    notify(device.get(), DeviceNotice::InterfaceRemoval);
    AdapterEmulator::setFaults(AdapterEmulator::Faults());
    AdapterEmulator::setAttached(true);
    recorder.clear();
    notify(device.get(), DeviceNotice::InterfaceArrival);
    QVERIFY(device->waitForIdle(TaskTimeoutMs));
    QVERIFY(device->isConnected());

    // The erase (exchange 1) clears the record; its signature bytes come back with its first
    // chunk (0x55) and its last chunk (0xAA).
    const bool recordLost = exchange > 1 && exchange <= RecordLastExchange;
    if (recordLost) {
        QCOMPARE(recorder.values("error"), QList<qlonglong> { DeviceError_FirmwareLost });
        QCOMPARE(device->version(), QString());
    } else {
        QVERIFY(recorder.values("error").isEmpty());
        QCOMPARE(
            device->version(), exchange == 1 ? QStringLiteral("5.6.0") : QStringLiteral("5.7.2"));
    }

    recorder.clear();
    AdapterEmulator::resetCounters();
    device->updateFirmware(m_imagePath);
    QVERIFY(device->waitForIdle(TaskTimeoutMs));
    QVERIFY(recorder.values("error").isEmpty());
    QCOMPARE(recorder.last("write"), qlonglong(256 + PayloadLength));
    QCOMPARE(device->version(), QStringLiteral("5.7.2"));
    QCOMPARE(AdapterEmulator::eraseLog(), (QList<QList<quint8>> { { 1, 4 } }));
    QVERIFY2(wholeFlash() == m_golden, "the flash differs from an uninterrupted update");
}

QTEST_GUILESS_MAIN(tst_Recovery)
#include "tst_recovery.moc"
