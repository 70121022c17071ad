// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "adapterlink.h"
#include "deviceflash.h"

#include <QtTest>

#include <atomic>

namespace {

// Records the names of the signals in the order they arrive.
QStringList *recordSignals(DeviceFlash *d, QStringList *log)
{
    QObject::connect(
        d, &DeviceFlash::versionChanged, d,
        [log](const QString &v) { log->append(QStringLiteral("version ") + v); },
        Qt::DirectConnection);
    QObject::connect(
        d, &DeviceFlash::settingChanged, d, [log] { log->append(QStringLiteral("setting")); },
        Qt::DirectConnection);
    QObject::connect(
        d, &DeviceFlash::error, d,
        [log](DeviceError e) { log->append(QStringLiteral("error %1").arg(int(e))); },
        Qt::DirectConnection);
    QObject::connect(
        d, &DeviceFlash::isBusyChanged, d,
        [log](bool b) { log->append(QStringLiteral("busy %1").arg(b)); }, Qt::DirectConnection);
    QObject::connect(
        d, &DeviceFlash::deviceConnectStatusChanged, d,
        [log](bool c, DeviceFlash::Corvane dev) {
            log->append(QStringLiteral("connected %1 %2").arg(c).arg(quint32(dev), 0, 16));
        },
        Qt::DirectConnection);
    return log;
}

} // namespace

class tst_DeviceInfo : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void readsGoodInformation();
    void missingSignatureKeepsVersion();
    void eitherRecordLayout_data();
    void eitherRecordLayout();
    void failedReadsKeepVersion_data();
    void failedReadsKeepVersion();
    void versionGates_data();
    void versionGates();
    void compareVersionNumbers_data();
    void compareVersionNumbers();
    void majorMinor_data();
    void majorMinor();
    void bootModeClamps();
    void busyFlagEmitsOnChange();
    void tasksRunOneAfterAnother();
    void shutdownEndsBlockedTask();

private:
    DeviceFlash *m_device = nullptr;
    QStringList m_log;
};

void tst_DeviceInfo::init()
{
    AdapterEmulator::reset();
    m_log.clear();
    QTest::ignoreMessage(QtWarningMsg, "registerDevice fail!");
    QTest::ignoreMessage(QtWarningMsg, "registerDevice fail!");
    m_device = new DeviceFlash(nullptr, nullptr);
    recordSignals(m_device, &m_log);
}

void tst_DeviceInfo::cleanup()
{
    delete m_device;
    m_device = nullptr;
}

void tst_DeviceInfo::readsGoodInformation()
{
    // Closed: nothing is read, nothing changes.
    m_device->readDeviceConfig();
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(0));
    QVERIFY(m_log.isEmpty());

    AdapterEmulator::seedFirmwareVersion(5, 5, 24);
    QVERIFY(m_device->open(0x0E3A, 0xB471));
    m_device->readDeviceConfig();

    QCOMPARE(m_log, (QStringList { QStringLiteral("version 5.5.24"), QStringLiteral("setting") }));
    QCOMPARE(m_device->version(), QStringLiteral("5.5.24"));
    QCOMPARE(m_device->serialNumber(), QByteArray("00112233445566778899aabb"));
    // 2 + 1 + 5 exchanges for the 64-, 12- and 256-byte blocks.
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(8));

    // The unique id overwrites bytes 1 to 12 of the factory block; the rest is kept.
    const QByteArray factory = AdapterEmulator::memory(0x08003FC0, 64);
    const QByteArray info = m_device->factoryInfo();
    QCOMPARE(info.at(0), factory.at(0));
    QCOMPARE(info.mid(1, 12), AdapterEmulator::uniqueId());
    QCOMPARE(info.mid(13), factory.mid(13));
}

void tst_DeviceInfo::missingSignatureKeepsVersion()
{
    QVERIFY(m_device->open(0x0E3A, 0xB471));
    m_device->readDeviceConfig();
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
    m_log.clear();

    AdapterEmulator::seedFirmwareVersion(5, 5, 24);
    AdapterEmulator::setMemory(0x08004000 + 255, QByteArray(1, '\0'));
    m_device->readDeviceConfig();
    QCOMPARE(m_log, QStringList { QStringLiteral("error 3") });
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));

    AdapterEmulator::seedFirmwareVersion(5, 5, 24);
    AdapterEmulator::setMemory(0x08004000, QByteArray(1, '\x54'));
    m_device->readDeviceConfig();
    QCOMPARE(m_log, (QStringList { QStringLiteral("error 3"), QStringLiteral("error 3") }));
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
}

void tst_DeviceInfo::eitherRecordLayout_data()
{
    QTest::addColumn<QByteArray>("record"); // bytes 0-11, 0x40-0x41 and 255 over erased flash
    QTest::addColumn<QString>("version"); // empty: the firmware is lost
    QTest::addColumn<quint32>("sectors"); // that the firmware occupies, one bit each

    // 0x55, address, version, length (64 KiB, a byte more, a file whose marker reaches sector
    // 7); then earlier factory restores: 0x55, version, address, length, mark 0x55 0xAA, 0.
    const auto row = [](const char *name, const char *hex, const char *version, quint32 sectors) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << QString::fromLatin1(version) << sectors;
    };
    row("update", "55000001080506030000010000ffaa", "5.6.3", 0x10);
    row("update into sector 5", "55000001080506030100010000ffaa", "5.6.3", 0x30);
    row("factory restore", "5500000408050618ffff010055aaaa", "5.6.24", 0xC0);
    row("earlier factory restore", "55050518000004080000010055aa00", "5.5.24", 0x40);
    row("earlier layout without its mark", "550505180000040800000100ffaa00", "", 0);
}

// The start-up read takes the version and the firmware's place from either record layout.
void tst_DeviceInfo::eitherRecordLayout()
{
    QFETCH(QByteArray, record);
    QFETCH(QString, version);
    QFETCH(quint32, sectors);

    QByteArray block(256, '\xff');
    block.replace(0, 12, record.left(12));
    block.replace(0x40, 2, record.mid(12, 2));
    block[255] = record.at(14);
    AdapterEmulator::setMemory(0x08004000, block);
    QVERIFY(m_device->open(0x0E3A, 0xB471));
    m_device->readDeviceConfig();
    QCOMPARE(m_device->version(), version);
    QCOMPARE(m_log.contains(QStringLiteral("error 3")), version.isEmpty());
    QCOMPARE(m_device->firmwareRecord().firmwareSectors(), sectors);
}

void tst_DeviceInfo::failedReadsKeepVersion_data()
{
    QTest::addColumn<qint64>("badExchange");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<bool>("factoryUpdated");

    QTest::newRow("factory block")
        << qint64(2) << QStringLiteral("read factory Info failure!") << false;
    QTest::newRow("unique id") << qint64(3) << QStringLiteral("read factory Info failure!") << true;
    QTest::newRow("firmware record")
        << qint64(8) << QStringLiteral("read firmware Info failure!") << true;
}

void tst_DeviceInfo::failedReadsKeepVersion()
{
    QFETCH(qint64, badExchange);
    QFETCH(QString, warning);
    QFETCH(bool, factoryUpdated);

    QVERIFY(m_device->open(0x0E3A, 0xB471));
    m_device->readDeviceConfig();
    m_log.clear();

    AdapterEmulator::setMemory(0x08003FC0, QByteArray(64, 'F'));
    AdapterEmulator::seedFirmwareVersion(7, 0, 1);
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.wrongAddressAtExchange = badExchange;
    AdapterEmulator::setFaults(faults);

    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    m_device->readDeviceConfig();
    QVERIFY(m_log.isEmpty());
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
    QCOMPARE(m_device->factoryInfo().at(20) == 'F', factoryUpdated);
}

void tst_DeviceInfo::versionGates_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<bool>("bootMode");
    QTest::addColumn<bool>("dataStore");

    QTest::newRow("5.5.24") << 5 << 24 << true << true;
    QTest::newRow("5.5.23") << 5 << 23 << false << true;
    QTest::newRow("5.4.99") << 4 << 99 << false << false;
    QTest::newRow("5.10.0") << 10 << 0 << true << true;
}

void tst_DeviceInfo::versionGates()
{
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(bool, bootMode);
    QFETCH(bool, dataStore);

    // Before any read the version is empty: both gates closed, nothing fails.
    QVERIFY(!m_device->isSupportBootMode());
    QVERIFY(!m_device->isSupportDataStore());

    AdapterEmulator::seedFirmwareVersion(5, quint8(minor), quint8(patch));
    QVERIFY(m_device->open(0x0E3A, 0xB471));
    m_device->readDeviceConfig();
    QCOMPARE(m_device->isSupportBootMode(), bootMode);
    QCOMPARE(m_device->isSupportDataStore(), dataStore);
}

void tst_DeviceInfo::compareVersionNumbers_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("result");

    QTest::newRow("numeric not textual") << "5.10.0"
                                         << "5.9.9" << 1;
    QTest::newRow("equal") << "5.5.24"
                           << "5.5.24" << 0;
    QTest::newRow("patch older") << "5.5.23"
                                 << "5.5.24" << -1;
    QTest::newRow("major decides") << "6.0.0"
                                   << "5.99.99" << 1;
    QTest::newRow("fourth part ignored") << "5.5.24.9"
                                         << "5.5.24.1" << 0;
    QTest::newRow("empty text") << ""
                                << "5.5.0" << -1;
    QTest::newRow("both empty") << ""
                                << "" << 0;
    QTest::newRow("one component") << "5"
                                   << "5.0.0" << 0;
    QTest::newRow("dots only") << ".."
                               << "0.0.0" << 0;
    QTest::newRow("not a number") << "5.x.1"
                                  << "5.0.2" << -1;
    QTest::newRow("huge component") << "99999999999.0.0"
                                    << "1.0.0" << -1;
}

void tst_DeviceInfo::compareVersionNumbers()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, result);
    QCOMPARE(DeviceFlash::compareVersionNumbers(a, b), result);
    QCOMPARE(DeviceFlash::compareVersionNumbers(b, a), -result);
}

void tst_DeviceInfo::majorMinor_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("result");

    QTest::newRow("patch ignored") << "5.5.24"
                                   << "5.5.0" << 0;
    QTest::newRow("ten per major") << "1.10.0"
                                   << "2.0.0" << 0;
    QTest::newRow("minor newer") << "5.6"
                                 << "5.5.99" << 1;
    QTest::newRow("empty") << ""
                           << "0.1" << -1;
    QTest::newRow("major only") << "5"
                                << "5.0.9" << 0;
}

void tst_DeviceInfo::majorMinor()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, result);
    QCOMPARE(DeviceFlash::compareMajorMinor(a, b), result);
    QCOMPARE(DeviceFlash::compareMajorMinor(b, a), -result);
    QCOMPARE(DeviceFlash::isCompatibleVersion(a, b), result == 0);
}

void tst_DeviceInfo::bootModeClamps()
{
    QVERIFY(m_device->open(DeviceFlash::adapterVendorId, DeviceFlash::Corvane_Adapter));
    const QList<QPair<quint8, int>> cases
        = { { 2, 2 }, { 0, 0 }, { 4, 4 }, { 7, 4 }, { 0x80, 4 }, { 0xFF, 4 } };
    for (const auto &c : cases) {
        AdapterEmulator::setMemory(0x08004000 + 130, QByteArray(1, char(c.first)));
        m_device->updateVersion();
        QCOMPARE(m_device->bootMode(), c.second);
    }
    QCOMPARE(m_device->configBuffer().at(130), char(0xFF));
}

void tst_DeviceInfo::busyFlagEmitsOnChange()
{
    m_device->setIsBusy(true);
    m_device->setIsBusy(true);
    QVERIFY(m_device->isBusy());
    m_device->setIsBusy(false);
    m_device->setIsBusy(false);
    QVERIFY(!m_device->isBusy());
    QCOMPARE(m_log, (QStringList { QStringLiteral("busy 1"), QStringLiteral("busy 0") }));
}

void tst_DeviceInfo::tasksRunOneAfterAnother()
{
    std::atomic<int> running { 0 };
    std::atomic<int> overlaps { 0 };
    const auto body = [&] {
        if (++running > 1)
            ++overlaps;
        QThread::msleep(30);
        --running;
    };
    AdapterLink(*m_device).runTask(body);
    AdapterLink(*m_device).runTask(body);
    // Two start-up opens back to back: each one connects, in turn.
    m_device->openDevice();
    m_device->openDevice();
    m_device->waitForIdle();

    QCOMPARE(overlaps.load(), 0);
    QStringList busy;
    for (const QString &entry : qAsConst(m_log)) {
        if (entry.startsWith(QLatin1String("busy")))
            busy.append(entry);
    }
    QCOMPARE(busy.size(), 8);
    for (int i = 0; i < busy.size(); ++i)
        QCOMPARE(busy.at(i), i % 2 ? QStringLiteral("busy 0") : QStringLiteral("busy 1"));
    QCOMPARE(m_log.count(QStringLiteral("connected 1 b471")), 2);
    QCOMPARE(m_device->currentDevice(), DeviceFlash::Corvane_Adapter);
    QVERIFY(m_device->isConnected());
}

void tst_DeviceInfo::shutdownEndsBlockedTask()
{
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = 1;
    AdapterEmulator::setFaults(faults);
    m_device->openDevice();
    QTRY_VERIFY(m_device->isBusy());
    QTRY_COMPARE(AdapterEmulator::exchangeCount(), qint64(1));

    // The task is blocked waiting for an answer; destruction must still return.
    QTest::ignoreMessage(QtWarningMsg, "readCMDData read error !!!");
    QTest::ignoreMessage(QtWarningMsg, "read factory Info failure!");
    QElapsedTimer timer;
    timer.start();
    delete m_device;
    m_device = nullptr;
    QVERIFY(timer.elapsed() < 5000);
}

QTEST_GUILESS_MAIN(tst_DeviceInfo)
#include "tst_deviceinfo.moc"
