// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "awakewatch.h"
#include "deviceflash.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "flashprogramming.h"
#include "testdata.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

using TestData::pattern;

using TestData::currents;

} // namespace

class tst_FlashProgramming : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void writesRegionsInOrderWithProgressKind_data();
    void writesRegionsInOrderWithProgressKind();
    void eraseSendsSectorList();
    void faultsStopTheWriteAndReportOnce_data();
    void faultsStopTheWriteAndReportOnce();
    void updateVersionReadsWholeBlock();
    void updateVersionKeepsOldBytesAfterFailure();

private:
    std::unique_ptr<DeviceFlash> m_device;
    AwakeWatch m_awake;
    QString m_awakeUnseen; // why the system's being kept awake cannot be seen here
};

void tst_FlashProgramming::initTestCase()
{
    m_awakeUnseen = m_awake.start();
}

void tst_FlashProgramming::cleanupTestCase() { }

void tst_FlashProgramming::init()
{
    AdapterEmulator::reset();
    m_device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    QVERIFY(m_device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId));
    AdapterEmulator::resetCounters();
}

void tst_FlashProgramming::cleanup()
{
    m_device.reset();
}

void tst_FlashProgramming::writesRegionsInOrderWithProgressKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("firmware") << 0;
    QTest::newRow("data store") << 1;
    QTest::newRow("setting") << 2;
    QTest::newRow("silent") << 9;
}

void tst_FlashProgramming::writesRegionsInOrderWithProgressKind()
{
    QFETCH(int, kind);
    QSignalSpy firmware(m_device.get(), &DeviceFlash::write2FlashProgressChanged);
    QSignalSpy dataStore(m_device.get(), &DeviceFlash::dataStoreProgressChanged);
    QSignalSpy setting(m_device.get(), &DeviceFlash::settingProgressChanged);
    const QSignalSpy *spies[3] = { &firmware, &dataStore, &setting };

    // 53 bytes, then 104: chunks of 52, 1, 52, 52. Region 3 sits behind an empty region
    // and must not be written.
    std::unique_ptr<FlashJob> job = FlashJob::create();
    const QByteArray first = pattern(53, 1), second = pattern(104, 2);
    QVERIFY(job->setRegion(0, 0x08100000, first));
    QVERIFY(job->setRegion(1, 0x08110000, second));
    QVERIFY(job->setRegion(3, 0x08120000, pattern(10, 3)));
    QCOMPARE(job->computeTotal(), 157u);

    QVERIFY(m_device->write2Flash(job.get(), FlashProgress(kind)));
    QCOMPARE(AdapterEmulator::memory(0x08100000, 54), first + QByteArray(1, '\xff'));
    QCOMPARE(AdapterEmulator::memory(0x08110000, 104), second);
    QCOMPARE(AdapterEmulator::memory(0x08120000, 10), QByteArray(10, '\xff'));
    QCOMPARE(AdapterEmulator::writeCommandCount(), 4);

    for (int i = 0; i < 3; ++i) {
        const QList<qlonglong> expected
            = i == kind ? QList<qlonglong> { 52, 53, 105, 157 } : QList<qlonglong> {};
        QCOMPARE(currents(*spies[i]), expected);
        for (const QList<QVariant> &args : *spies[i])
            QCOMPARE(args.at(1).toLongLong(), 157);
    }

    // Fifteen regions: the write ends after the last one.
    std::unique_ptr<FlashJob> full = FlashJob::create();
    for (int i = 0; i < FlashJob::MaxRegions; ++i)
        QVERIFY(full->setRegion(i, 0x08130000 + quint32(i) * 0x100, pattern(10, i)));
    full->computeTotal();
    QVERIFY(m_device->write2Flash(full.get(), FlashProgress::Firmware));
    QCOMPARE(AdapterEmulator::memory(0x08130000 + 14 * 0x100, 10), pattern(10, 14));
}

void tst_FlashProgramming::eraseSendsSectorList()
{
    std::unique_ptr<FlashJob> job = FlashJob::create();
    job->addSector(5);
    job->addSector(7);
    AdapterEmulator::setMemory(0x08020000, QByteArray(4, '\0'));
    AdapterEmulator::setMemory(0x08060000, QByteArray(4, '\0'));
    AdapterEmulator::setMemory(0x08040000, QByteArray(4, '\0'));

    QVERIFY(m_device->eraseFlash(job.get()));
    QCOMPARE(AdapterEmulator::eraseLog(), (QList<QList<quint8>> { { 5, 7 } }));
    QCOMPARE(AdapterEmulator::memory(0x08020000, 4), QByteArray(4, '\xff'));
    QCOMPARE(AdapterEmulator::memory(0x08060000, 4), QByteArray(4, '\xff'));
    QCOMPARE(AdapterEmulator::memory(0x08040000, 4), QByteArray(4, '\0'));

    AdapterEmulator::Faults faults;
    faults.refuseErase = true;
    AdapterEmulator::setFaults(faults);
    QTest::ignoreMessage(QtWarningMsg, "erase error !");
    QVERIFY(!m_device->eraseFlash(job.get()));
}

void tst_FlashProgramming::faultsStopTheWriteAndReportOnce_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<qlonglong>>("progress");
    QTest::addColumn<int>("reported"); // -1: no error
    QTest::addColumn<QString>("warning");

    // Over blank flash the write would verify: only the refused erase stops it.
    QTest::newRow("refused erase writes nothing")
        << "refuse" << QList<qlonglong> {} << int(DeviceError_EraseFailure) << "erase error !";
    QTest::newRow("corrupted echo")
        << "echo" << QList<qlonglong> { 52 } << int(DeviceError_WriteFailure)
        << "write2Flash USB_ERR_DATA_VERIFY 1";
    QTest::newRow("unplugged mid-write")
        << "unplug" << QList<qlonglong> { 52 } << int(DeviceError_WriteFailure)
        << "write2Flash write error!";
    QTest::newRow("short echo length")
        << "length" << QList<qlonglong> { 52, 104 } << int(DeviceError_WriteFailure)
        << "write2Flash USB_ERR_DATA_VERIFY 2";
}

void tst_FlashProgramming::faultsStopTheWriteAndReportOnce()
{
    QFETCH(QString, fault);
    QFETCH(QList<qlonglong>, progress);
    QFETCH(int, reported);
    QFETCH(QString, warning);

    const QByteArray data = pattern(130, 5);
    std::unique_ptr<FlashJob> job = FlashJob::create();
    job->addSector(6);
    QVERIFY(job->setRegion(0, 0x08040000, data));
    job->computeTotal();

    AdapterEmulator::Faults faults;
    faults.refuseErase = fault == QLatin1String("refuse");
    if (fault == QLatin1String("echo"))
        faults.corruptEchoAtWrite = 2;
    if (fault == QLatin1String("unplug"))
        faults.unplugAtExchange = 3; // erase, first chunk, then the second chunk's request
    if (fault == QLatin1String("length"))
        faults.wrongLengthAtExchange = 4;
    AdapterEmulator::setFaults(faults);

    // Progress and errors in one ordered record: an error comes after the write stopped.
    QList<qlonglong> events;
    bool heldWhileWriting = true;
    const int callsBefore = m_awake.requests().size();
    connect(m_device.get(), &DeviceFlash::write2FlashProgressChanged, this,
        [&](qlonglong current, qlonglong) {
            events.append(current);
            heldWhileWriting = heldWhileWriting && m_awake.held();
        });
    connect(m_device.get(), &DeviceFlash::error, this,
        [&events](DeviceError e) { events.append(-1000 - int(e)); });

    if (faults.refuseErase)
        QTest::ignoreMessage(QtWarningMsg, "erase error !");
    if (fault == QLatin1String("unplug"))
        QTest::ignoreMessage(QtWarningMsg, "writeCMDData write error !!!");
    if (fault == QLatin1String("echo")) {
        const QByteArray sent = data.mid(52, 52).toHex();
        QByteArray echoed = data.mid(52, 52);
        echoed[51] = char(echoed.at(51) ^ 0x01);
        QTest::ignoreMessage(QtDebugMsg, QByteArray("write_data: " + sent).constData());
        QTest::ignoreMessage(QtDebugMsg, QByteArray("read_data : " + echoed.toHex()).constData());
    }
    if (warning != QLatin1String("erase error !"))
        QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());

    const qint64 writesBefore = AdapterEmulator::writeCommandCount();
    const bool ok = FlashProgramming::runJob(*m_device, job.get(), FlashProgress::Firmware);
    QCOMPARE(ok, reported < 0);
    if (faults.refuseErase)
        QCOMPARE(AdapterEmulator::writeCommandCount(), writesBefore);
    QList<qlonglong> expected = progress;
    if (reported >= 0)
        expected.append(-1000 - reported);
    QCOMPARE(events, expected);
    if (ok)
        QCOMPARE(AdapterEmulator::memory(0x08040000, 130), data);

    // The system was kept awake from before the erase to after the last write, then let go.
    if (!m_awakeUnseen.isEmpty())
        QSKIP(qPrintable(m_awakeUnseen));
#ifdef Q_OS_LINUX
    QCOMPARE(m_awake.requests().mid(callsBefore),
        QStringList(QStringLiteral("sleep:shutdown:idle|Corvane X9 Firmware Tool|"
                                   "Writing firmware into the adapter|block|0")));
#else
    Q_UNUSED(callsBefore)
#endif
    QVERIFY(heldWhileWriting);
    QTRY_VERIFY(!m_awake.held());
}

void tst_FlashProgramming::updateVersionReadsWholeBlock()
{
    QByteArray block = pattern(16384, 7);
    FlashLayout::writeFirmwareRecord(block, 0x08040000, 5, 6, 0, 1000);
    AdapterEmulator::setMemory(0x08004000, block);
    QSignalSpy versions(m_device.get(), &DeviceFlash::versionChanged);
    QSignalSpy settings(m_device.get(), &DeviceFlash::settingChanged);
    QList<int> order;
    connect(m_device.get(), &DeviceFlash::versionChanged, this, [&order] { order << 1; });
    connect(m_device.get(), &DeviceFlash::settingChanged, this, [&order] { order << 2; });

    m_device->updateVersion();
    QCOMPARE(AdapterEmulator::exchangeCount(), 316);
    QCOMPARE(m_device->configBuffer(), block);
    QVERIFY(m_device->isConfigLoaded());
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
    QCOMPARE(order, (QList<int> { 1, 2 }));
    QCOMPARE(versions.first().first().toString(), QStringLiteral("5.6.0"));

    // Same version again: no versionChanged, settingChanged still comes.
    m_device->updateVersion();
    QCOMPARE(versions.count(), 1);
    QCOMPARE(settings.count(), 2);

    // A record without its signatures names no firmware: the version read before is gone.
    AdapterEmulator::setMemory(0x08004000, QByteArray(1, '\0'));
    m_device->updateVersion();
    QCOMPARE(m_device->version(), QString());
    QCOMPARE(versions.last().first().toString(), QString());

    // A closed adapter: nothing at all.
    DeviceFlash closed(nullptr, nullptr);
    QSignalSpy closedSettings(&closed, &DeviceFlash::settingChanged);
    AdapterEmulator::resetCounters();
    closed.updateVersion();
    QCOMPARE(AdapterEmulator::exchangeCount(), 0);
    QCOMPARE(closedSettings.count(), 0);
}

void tst_FlashProgramming::updateVersionKeepsOldBytesAfterFailure()
{
    const QByteArray oldBlock = pattern(16384, 1);
    AdapterEmulator::setMemory(0x08004000, oldBlock);
    m_device->updateVersion();
    QCOMPARE(m_device->configBuffer(), oldBlock);

    const QByteArray newBlock = pattern(16384, 2);
    AdapterEmulator::setMemory(0x08004000, newBlock);
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.wrongAddressAtExchange = 10;
    AdapterEmulator::setFaults(faults);
    QSignalSpy settings(m_device.get(), &DeviceFlash::settingChanged);
    const quint32 address = 0x08004000 + 9 * 52;
    QTest::ignoreMessage(QtWarningMsg,
        QStringLiteral("updateVersion Error %1 %2")
            .arg(address)
            .arg(address + 4)
            .toUtf8()
            .constData());
    m_device->updateVersion();

    const QByteArray buffer = m_device->configBuffer();
    QCOMPARE(buffer.left(9 * 52), newBlock.left(9 * 52));
    QCOMPARE(buffer.mid(9 * 52), oldBlock.mid(9 * 52));
    QVERIFY(!m_device->isConfigLoaded());
    QCOMPARE(settings.count(), 1);
}

QTEST_GUILESS_MAIN(tst_FlashProgramming)
#include "tst_flashprogramming.moc"
