// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"

#include <QtTest>

#include <cstring>

class tst_CommandChannel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void readsInChunks_data();
    void readsInChunks();
    void rejectsMismatchedAnswers_data();
    void rejectsMismatchedAnswers();
    void responseCarriesReportIdAndCode();
    void failedTransfersLogAndStop();
    void staleAnswersAndSilence();

private:
    DeviceFlash *m_device = nullptr;
};

void tst_CommandChannel::init()
{
    AdapterEmulator::reset();
    QTest::ignoreMessage(QtWarningMsg, "registerDevice fail!");
    QTest::ignoreMessage(QtWarningMsg, "registerDevice fail!");
    m_device = new DeviceFlash(nullptr, nullptr);
    QVERIFY(m_device->open(0x0E3A, 0xB471));
    AdapterEmulator::resetCounters();
}

void tst_CommandChannel::cleanup()
{
    delete m_device;
    m_device = nullptr;
}

void tst_CommandChannel::readsInChunks_data()
{
    QTest::addColumn<quint32>("length");
    QTest::addColumn<bool>("reportProgress");
    QTest::addColumn<qint64>("exchanges");
    QTest::addColumn<QList<qlonglong>>("progress");

    QTest::newRow("52 bytes, one exchange") << 52u << true << qint64(1) << QList<qlonglong> { 52 };
    QTest::newRow("53 bytes, 52 + 1") << 53u << true << qint64(2) << QList<qlonglong> { 52, 53 };
    QTest::newRow("64 bytes with progress")
        << 64u << true << qint64(2) << QList<qlonglong> { 52, 64 };
    QTest::newRow("64 bytes silent") << 64u << false << qint64(2) << QList<qlonglong> {};
    QTest::newRow("256-byte block") << 256u << false << qint64(5) << QList<qlonglong> {};
    QTest::newRow("empty range") << 0u << true << qint64(0) << QList<qlonglong> {};
}

void tst_CommandChannel::readsInChunks()
{
    QFETCH(quint32, length);
    QFETCH(bool, reportProgress);
    QFETCH(qint64, exchanges);
    QFETCH(QList<qlonglong>, progress);

    // Distinct bytes, so a chunk copied to the wrong offset shows.
    const quint32 address = 0x08004000;
    QByteArray pattern(int(length), '\0');
    for (int i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i * 7 + 3);
    AdapterEmulator::setMemory(address, pattern);

    QSignalSpy spy(m_device, &DeviceFlash::dataBackupProgressChanged);
    QByteArray destination(int(length) + 8, '\xEE');
    QVERIFY(m_device->readDeviceMemory(0x56, address, length, destination.data(), reportProgress));

    QCOMPARE(destination.left(int(length)), pattern);
    QCOMPARE(destination.mid(int(length)), QByteArray(8, '\xEE'));
    QCOMPARE(AdapterEmulator::exchangeCount(), exchanges);
    QCOMPARE(spy.count(), progress.size());
    for (int i = 0; i < spy.count(); ++i) {
        QCOMPARE(spy.at(i).at(0).toLongLong(), progress.at(i));
        QCOMPARE(spy.at(i).at(1).toLongLong(), qlonglong(length));
        QCOMPARE(*static_cast<char *const *>(spy.at(i).at(2).constData()), destination.data());
    }
}

void tst_CommandChannel::rejectsMismatchedAnswers_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<qint64>("atExchange");

    // 0: code, 1: address, 2: length, 3: short report
    QTest::newRow("wrong code, first chunk") << 0 << qint64(1);
    QTest::newRow("wrong address, second chunk") << 1 << qint64(2);
    QTest::newRow("wrong length") << 2 << qint64(1);
    QTest::newRow("short report") << 3 << qint64(2);
}

void tst_CommandChannel::rejectsMismatchedAnswers()
{
    QFETCH(int, fault);
    QFETCH(qint64, atExchange);

    AdapterEmulator::Faults faults;
    qint64 *faultFields[] = { &faults.wrongCodeAtExchange, &faults.wrongAddressAtExchange,
        &faults.wrongLengthAtExchange, &faults.shortReportAtExchange };
    *faultFields[fault] = atExchange;
    AdapterEmulator::setFaults(faults);

    QByteArray destination(104, '\0');
    QVERIFY(!m_device->readDeviceMemory(0x56, 0x08004000, 104, destination.data(), false));
    // The first bad answer ends the read: nothing more is sent.
    QCOMPARE(AdapterEmulator::exchangeCount(), atExchange);
}

void tst_CommandChannel::responseCarriesReportIdAndCode()
{
    const QByteArray expected = AdapterEmulator::memory(0x1FFF7A10, 12);
    QVERIFY(m_device->writeCMDData(CommandReport::request(0x56, 0x1FFF7A10, 12)));

    CommandReport response;
    std::memset(response.bytes, 0xEE, sizeof(response.bytes));
    QVERIFY(m_device->readCMDData(response));
    const quint8 header[] = { 0x00, 0x58, 0x00, 0x00, 0x00, 0x10, 0x7A, 0xFF, 0x1F, 12, 0, 0, 0 };
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(response.bytes), 13),
        QByteArray(reinterpret_cast<const char *>(header), 13));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(response.data()), 12), expected);

    // A body cut short leaves the rest of the response zero, not stale.
    AdapterEmulator::Faults faults;
    faults.shortReportAtExchange = 2;
    AdapterEmulator::setFaults(faults);
    QVERIFY(m_device->writeCMDData(CommandReport::request(0x56, 0x1FFF7A10, 12)));
    std::memset(response.bytes, 0xEE, sizeof(response.bytes));
    QVERIFY(m_device->readCMDData(response));
    QCOMPARE(response.code(), quint32(0x58));
    QCOMPARE(
        QByteArray(reinterpret_cast<const char *>(response.bytes) + 9, 56), QByteArray(56, '\0'));
}

void tst_CommandChannel::failedTransfersLogAndStop()
{
    // Unplugged before the second request: its write fails.
    AdapterEmulator::Faults faults;
    faults.unplugAtExchange = 2;
    AdapterEmulator::setFaults(faults);
    QByteArray destination(104, '\0');
    QTest::ignoreMessage(QtWarningMsg, "writeCMDData write error !!!");
    QVERIFY(!m_device->readDeviceMemory(0x56, 0x08004000, 104, destination.data(), true));

    // A closed device: the read of an answer fails and leaves the buffer alone.
    m_device->waitForIdle();
    CommandReport response;
    std::memset(response.bytes, 0xEE, sizeof(response.bytes));
    AdapterEmulator::reset();
    QVERIFY(m_device->open(0x0E3A, 0xB471));
    QVERIFY(m_device->writeCMDData(CommandReport::request(0x56, 0x08004000, 4)));
    AdapterEmulator::setAttached(false);
    QTest::ignoreMessage(QtWarningMsg, "readCMDData read error !!!");
    QVERIFY(!m_device->readCMDData(response));
    QCOMPARE(response.bytes[0], quint8(0xEE));
    QCOMPARE(response.bytes[64], quint8(0xEE));
}

// An answer left waiting on the handle (another program's, or one nobody read) is never
// taken for the next request's; an adapter that stops answering ends the transfer once the
// answer time-out passes, and nothing more is sent.
void tst_CommandChannel::staleAnswersAndSilence()
{
    CommandReport stale = CommandReport::request(0x58, 0x1FFF7A10, 12);
    std::memset(stale.data(), 0xEE, 12);
    AdapterEmulator::injectInputReport(
        QByteArray(reinterpret_cast<const char *>(stale.bytes) + 1, 64));
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(QStringLiteral("^writeCMDData dropped a stale input report 58000000")));
    QByteArray id(12, '\0');
    QVERIFY(m_device->readDeviceMemory(0x56, 0x1FFF7A10, 12, id.data(), false));
    QCOMPARE(id, AdapterEmulator::memory(0x1FFF7A10, 12));

    m_device->setAnswerTimeout(300);
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = AdapterEmulator::exchangeCount() + 2;
    AdapterEmulator::setFaults(faults);
    QTest::ignoreMessage(QtWarningMsg, "readCMDData no answer from the adapter within 300 ms");
    QTest::ignoreMessage(QtWarningMsg, "readCMDData read error !!!");
    QByteArray block(104, '\0');
    QVERIFY(!m_device->readDeviceMemory(0x56, 0x08004000, 104, block.data(), false));
    QVERIFY(m_device->answerTimedOut());
    const qint64 sent = AdapterEmulator::exchangeCount();
    QTest::ignoreMessage(QtWarningMsg, "writeCMDData write error !!!");
    QVERIFY(!m_device->writeCMDData(CommandReport::request(0x56, 0x08004000, 4)));
    QCOMPARE(AdapterEmulator::exchangeCount(), sent);
}

QTEST_GUILESS_MAIN(tst_CommandChannel)
#include "tst_commandchannel.moc"
