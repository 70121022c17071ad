// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "adapterlock.h"
#include "commandreport.h"
#include "qhiddevice.h"

#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QByteArray readRequest(quint32 address, quint32 length)
{
    const CommandReport r = CommandReport::request(CommandReport::Code_Read, address, length);
    return QByteArray(reinterpret_cast<const char *>(r.bytes), CommandReport::Size);
}

} // namespace

class tst_QHidDevice : public QObject
{
    Q_OBJECT
private slots:
    void init() { AdapterEmulator::reset(); }

    void openMatchesIdsAndSerial_data();
    void openMatchesIdsAndSerial();
    void readSizesBufferToReport();
    void readTimeoutAndFailureLeaveBufferEmpty();
    void closedWrapperRefusesTransfers();
    void lockFileInTheWayKeepsTheAdapterClosed();
    void openTakesTheFirstFreeAdapter();
};

void tst_QHidDevice::openMatchesIdsAndSerial_data()
{
    QTest::addColumn<quint16>("vendor");
    QTest::addColumn<quint16>("product");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("opens");

    QTest::newRow("ids, no serial") << quint16(0x0E3A) << quint16(0xB471) << QString() << true;
    QTest::newRow("empty serial like none")
        << quint16(0x0E3A) << quint16(0xB471) << QString(QLatin1String("")) << true;
    QTest::newRow("matching serial")
        << quint16(0x0E3A) << quint16(0xB471) << QStringLiteral("00112233445566778899aabb") << true;
    QTest::newRow("foreign serial") << quint16(0x0E3A) << quint16(0xB471)
                                    << QStringLiteral("ffffffffffffffffffffffff") << false;
    QTest::newRow("other product") << quint16(0x0E3A) << quint16(0xB472) << QString() << false;
    QTest::newRow("other vendor") << quint16(0x1234) << quint16(0xB471) << QString() << false;
}

void tst_QHidDevice::openMatchesIdsAndSerial()
{
    QFETCH(quint16, vendor);
    QFETCH(quint16, product);
    QFETCH(QString, serial);
    QFETCH(bool, opens);

    QHidDevice device;
    QCOMPARE(device.open(vendor, product, serial), opens);
    QCOMPARE(device.isOpen(), opens);

    // One handle holds the adapter: a second one is refused, naming the holder, until the
    // first is closed.
    QHidDevice second;
    QCOMPARE(second.open(0x0E3A, 0xB471), !opens);
    if (opens) {
        QCOMPARE(second.lastOpenError(), QHidDevice::InUse);
        QCOMPARE(second.lockOwner(), QCoreApplication::applicationPid());
        device.close();
        QVERIFY(second.open(0x0E3A, 0xB471));
    }
    // A failed open after a good one leaves the wrapper closed, not on the old handle.
    QVERIFY(!second.open(0x0E3A, 0xB472));
    QVERIFY(!second.isOpen());
}

void tst_QHidDevice::readSizesBufferToReport()
{
    QHidDevice device;
    QVERIFY(device.open(0x0E3A, 0xB471));

    // Length -1 takes the buffer's size; the body comes back without its report id.
    QCOMPARE(device.write(readRequest(0x1FFF7A10, 12)), CommandReport::Size);
    QByteArray buffer(65, 'x');
    QCOMPARE(device.read(buffer, -1, 1000), 64);
    QCOMPARE(buffer.size(), 64);
    QCOMPARE(quint8(buffer.at(0)), quint8(0x58));
    QCOMPARE(buffer.mid(12, 12), AdapterEmulator::uniqueId());

    // A smaller request length truncates the report to that length.
    QCOMPARE(device.write(readRequest(0x1FFF7A10, 12)), CommandReport::Size);
    QByteArray small(65, 'x');
    QCOMPARE(device.read(small, 8, 1000), 8);
    QCOMPARE(small.size(), 8);

    // A write length beyond the buffer is refused instead of reading past it.
    QCOMPARE(device.write(QByteArray(10, '\0'), 65), -1);
}

void tst_QHidDevice::readTimeoutAndFailureLeaveBufferEmpty()
{
    QHidDevice device;
    QVERIFY(device.open(0x0E3A, 0xB471));

    QByteArray buffer(65, 'x');
    QCOMPARE(device.read(buffer, 65, 20), 0);
    QVERIFY(buffer.isEmpty());

    AdapterEmulator::setAttached(false);
    buffer = QByteArray(65, 'x');
    QCOMPARE(device.read(buffer, 65, 20), -1);
    QVERIFY(buffer.isEmpty());
    QCOMPARE(device.write(readRequest(0x08004000, 4)), -1);
}

void tst_QHidDevice::closedWrapperRefusesTransfers()
{
    QHidDevice device;
    device.close();
    QVERIFY(!device.isOpen());

    QVERIFY(device.open(0x0E3A, 0xB471));
    device.close();
    device.close();
    QVERIFY(!device.isOpen());

    QByteArray buffer(65, 'x');
    QCOMPARE(device.read(buffer, -1, 20), -1);
    QVERIFY(buffer.isEmpty());
    QCOMPARE(device.write(readRequest(0x08004000, 4)), -1);
    quint8 raw[65] = {};
    QCOMPARE(device.read(raw, 65, 20), -1);
    QCOMPARE(device.write(raw, 65), -1);
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(0));
}

// A path that names no file is locked through a file in the private directory: anything
// else in its place keeps the adapter closed, never opened unlocked. On Windows the lock is
// a named object in the session: an object of another kind under its name does the same.
void tst_QHidDevice::lockFileInTheWayKeepsTheAdapterClosed()
{
    QHidDevice device;
    QVERIFY(device.open(0x0E3A, 0xB471));
    device.close();
#ifdef Q_OS_WIN
    const std::wstring name = (QLatin1String("Local\\corvane-x9-")
        + AdapterLock::baseName(device.devicePath().toLower()))
                                  .toStdWString();
    const HANDLE squatter = CreateMutexW(nullptr, FALSE, name.c_str());
    QVERIFY(squatter);
    QVERIFY(!device.open(0x0E3A, 0xB471));
    QCOMPARE(device.lastOpenError(), QHidDevice::LockFailed);
    CloseHandle(squatter);
    QVERIFY(device.open(0x0E3A, 0xB471));
#else
    const QString lockFile = AdapterLock::directory() + QLatin1Char('/')
        + AdapterLock::pidFileName(device.devicePath())
              .replace(QLatin1String(".pid"), QLatin1String(".lock"));
    QVERIFY(QFile::remove(lockFile));
    QVERIFY(QDir().mkdir(lockFile));
    QVERIFY(!device.open(0x0E3A, 0xB471));
    QCOMPARE(device.lastOpenError(), QHidDevice::LockFailed);
    QVERIFY(QDir().rmdir(lockFile));
#endif
}

// With two adapters, a second program opens the one the first leaves free; a third is
// told about the first one, which it did not open.
void tst_QHidDevice::openTakesTheFirstFreeAdapter()
{
    AdapterEmulator::setAdapterCount(2);
    const QList<QHidDevice::Interface> attached = QHidDevice::enumerate(0x0E3A, 0xB471);
    QCOMPARE(attached.size(), 2);
    QHidDevice first;
    QHidDevice second;
    QHidDevice third;
    QVERIFY(first.openPath(attached.at(0).path) && second.open(0x0E3A, 0xB471));
    QCOMPARE(second.devicePath(), attached.at(1).path);
    QVERIFY(!third.open(0x0E3A, 0xB471));
    QCOMPARE(third.lastOpenError(), QHidDevice::InUse);
    QCOMPARE(third.devicePath(), attached.at(0).path);
}

QTEST_GUILESS_MAIN(tst_QHidDevice)
#include "tst_qhiddevice.moc"
