// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "adapterlink.h"
#include "deviceflash.h"
#include "devicemonitor.h"
#include "devicenotice.h"

#include <QtTest>

#include <atomic>

namespace {

const QString AdapterName = QStringLiteral(
    "\\\\?\\USB#VID_0E3A&PID_B471#6&2c4f1a0b&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

// Stands in for udev: notices are sent by the test, the HID node is whatever it is told.
class FakeMonitor : public DeviceMonitor
{
public:
    QString node;
    bool isActive() const override { return true; }
    QString findHidNode(quint16 vendorId, quint16 productId) const override
    {
        return vendorId == 0x0E3A && productId == 0xB471 ? node : QString();
    }
    void send(DeviceNotice::Kind kind, const QString &name, quint32 flags = 0)
    {
        DeviceNotice n;
        n.kind = kind;
        n.interfaceName = name;
        n.volumeFlags = flags;
        emit notice(n);
    }
};

void waitIdle(DeviceFlash *device)
{
    while (!device->waitForIdle(10))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
}

} // namespace

class tst_Hotplug : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parsesInterfaceNames_data();
    void parsesInterfaceNames();
    void arrivalRetriesOpenOnce();
    void arrivalGivesUpAndReportsAccess();
    void startupOpenWithoutAdapter();
    void removalDuringTransfer();
    void hotplugNeverPullsTheHandleFromATask();
    void volumesAndNativeEventsChangeNothing();

private:
    DeviceFlash *m_device = nullptr;
    FakeMonitor *m_monitor = nullptr;
    QStringList m_log;
};

void tst_Hotplug::init()
{
    AdapterEmulator::reset();
    m_log.clear();
    m_monitor = new FakeMonitor;
    m_device = new DeviceFlash(m_monitor, nullptr);
    QStringList *log = &m_log;
    connect(
        m_device, &DeviceFlash::isBusyChanged, m_device,
        [log](bool b) { log->append(QStringLiteral("busy %1").arg(b)); }, Qt::DirectConnection);
    connect(
        m_device, &DeviceFlash::versionChanged, m_device,
        [log](const QString &v) { log->append(QStringLiteral("version ") + v); },
        Qt::DirectConnection);
    connect(
        m_device, &DeviceFlash::deviceConnectStatusChanged, m_device,
        [log](bool c, DeviceFlash::Corvane d) {
            log->append(QStringLiteral("connected %1 %2").arg(c).arg(quint32(d), 0, 16));
        },
        Qt::DirectConnection);
    connect(
        m_device, &DeviceFlash::deviceAccessDenied, m_device,
        [log](const QString &node) { log->append(QStringLiteral("denied ") + node); },
        Qt::DirectConnection);
}

void tst_Hotplug::cleanup()
{
    delete m_device;
    m_device = nullptr;
    AdapterEmulator::setOpenRefused(false);
}

void tst_Hotplug::parsesInterfaceNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("disk");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<uint>("product");
    QTest::addColumn<bool>("matches");

    QTest::newRow("adapter") << AdapterName << true << false << 0x0E3A << 0xB471u << true;
    QTest::newRow("other product") << QStringLiteral("\\\\?\\USB#VID_0E3A&PID_B472#1#{g}") << true
                                   << false << 0x0E3A << 0xB472u << false;
    QTest::newRow("other vendor") << QStringLiteral("\\\\?\\USB#VID_1234&PID_B471#1#{g}") << true
                                  << false << 0x1234 << 0xB471u << false;
    QTest::newRow("usb disk") << QStringLiteral("\\\\?\\USBSTOR#Disk&Ven_0E3A&Prod_B471&Rev_1.00#7&"
                                                "1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}")
                              << true << true << 0x0E3A << 0xB471u << true;
    QTest::newRow("udev monitor's name")
        << usbInterfaceName(0x0E3A, 0xB471, QStringLiteral("a#b&c")) << true << false << 0x0E3A
        << 0xB471u << true;
    QTest::newRow("product above 16 bits") << QStringLiteral("\\\\?\\USB#VID_0E3A&PID_1B471#1")
                                           << true << false << 0x0E3A << 0x1B471u << true;
    QTest::newRow("no hex") << QStringLiteral("\\\\?\\USB#VID_ZZZZ&PID_B471#1") << true << false
                            << 0 << 0xB471u << false;
    QTest::newRow("vendor wider than 16 bits") << QStringLiteral("\\\\?\\USB#VID_10E3A&PID_B471#1")
                                               << true << false << 0 << 0xB471u << false;
    QTest::newRow("parts too short")
        << QStringLiteral("\\\\?\\USB#V&P#1") << true << false << 0 << 0u << false;
    QTest::newRow("empty") << QString() << false << false << 0 << 0u << false;
    QTest::newRow("one field") << QStringLiteral("VID_0E3A&PID_B471") << false << false << 0 << 0u
                               << false;
    QTest::newRow("one part") << QStringLiteral("\\\\?\\USB#VID_0E3A#1") << false << false << 0
                              << 0u << false;
    QTest::newRow("disk with two parts")
        << QStringLiteral("\\\\?\\USBSTOR#Disk&Ven_0E3A#1") << false << true << 0 << 0u << false;
}

void tst_Hotplug::parsesInterfaceNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(bool, disk);
    QFETCH(int, vendor);
    QFETCH(uint, product);
    QFETCH(bool, matches);

    const ParsedDeviceName parsed = parseDeviceInterfaceName(name);
    QCOMPARE(parsed.valid, valid);
    if (valid) {
        QCOMPARE(parsed.isDisk, disk);
        QCOMPARE(int(parsed.vendorId), vendor);
        QCOMPARE(parsed.productId, quint32(product));
    }

    // Nothing is open: a matching removal still reports the adapter gone, others do nothing.
    if (matches)
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^nativeEventFilter closed\\.")));
    m_monitor->send(DeviceNotice::InterfaceRemoval, name);
    QCOMPARE(m_log, matches ? QStringList { QStringLiteral("connected 0 b471") } : QStringList {});
    QCOMPARE(m_device->currentDevice(), DeviceFlash::Corvane_NoDevice);
    QVERIFY(!m_device->isConnected());
}

void tst_Hotplug::arrivalRetriesOpenOnce()
{
    // The first open is refused, the second one (a second later) finds the node usable.
    AdapterEmulator::seedFirmwareVersion(5, 5, 24);
    AdapterEmulator::setOpenRefused(true);
    QTimer::singleShot(300, [] { AdapterEmulator::setOpenRefused(false); });
    QElapsedTimer timer;
    timer.start();
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    QVERIFY(timer.elapsed() >= 900);
    waitIdle(m_device);

    QCOMPARE(m_log,
        (QStringList { QStringLiteral("busy 1"), QStringLiteral("version 5.5.24"),
            QStringLiteral("connected 1 b471"), QStringLiteral("busy 0") }));
    QVERIFY(m_device->isConnected());
    QCOMPARE(m_device->currentDevice(), DeviceFlash::Corvane_Adapter);
    QCOMPARE(m_device->serialNumber(), QByteArray("00112233445566778899aabb"));

    // A foreign device's arrival changes nothing.
    m_log.clear();
    m_monitor->send(
        DeviceNotice::InterfaceArrival, QStringLiteral("\\\\?\\USB#VID_046D&PID_C52B#x#{g}"));
    m_device->waitForIdle();
    QVERIFY(m_log.isEmpty());
}

void tst_Hotplug::arrivalGivesUpAndReportsAccess()
{
    AdapterEmulator::setOpenRefused(true);
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    waitIdle(m_device);
    QVERIFY(m_log.isEmpty());
    QVERIFY(!m_device->isConnected());

    // udev shows the node: the user is told why it cannot be opened.
    m_monitor->node = QStringLiteral("/dev/hidraw7");
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("/dev/hidraw7.*70-corvane-x9\\.rules")));
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    waitIdle(m_device);
    QCOMPARE(m_log, QStringList { QStringLiteral("denied /dev/hidraw7") });
    QVERIFY(!m_device->isConnected());
}

void tst_Hotplug::startupOpenWithoutAdapter()
{
    AdapterEmulator::setAttached(false);
    m_device->openDevice();
    waitIdle(m_device);
    QCOMPARE(m_log, (QStringList { QStringLiteral("busy 1"), QStringLiteral("busy 0") }));
    QVERIFY(!m_device->isConnected());
    QCOMPARE(m_device->currentDevice(), DeviceFlash::Corvane_NoDevice);

    // Attached later and found by the next start-up open.
    m_log.clear();
    AdapterEmulator::setAttached(true);
    m_device->openDevice();
    waitIdle(m_device);
    QCOMPARE(m_log,
        (QStringList { QStringLiteral("busy 1"), QStringLiteral("version 5.6.0"),
            QStringLiteral("connected 1 b471"), QStringLiteral("busy 0") }));
}

void tst_Hotplug::removalDuringTransfer()
{
    m_device->openDevice();
    waitIdle(m_device);
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
    m_log.clear();

    // The adapter stops answering: the task sits in its read when the removal comes.
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = 2;
    AdapterEmulator::setFaults(faults);
    std::atomic<int> result { -1 };
    QByteArray buffer(256, '\0');
    DeviceFlash *device = m_device;
    AdapterLink(*m_device).runTask([device, &result, &buffer] {
        result = device->readDeviceMemory(0x56, 0x08004000, 256, buffer.data(), true) ? 1 : 0;
    });
    QTRY_COMPARE(AdapterEmulator::exchangeCount(), qint64(2));
    QVERIFY(m_device->isBusy());

    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^nativeEventFilter closed\\.")));
    QTest::ignoreMessage(QtWarningMsg, "readCMDData read error !!!");
    m_monitor->send(DeviceNotice::InterfaceRemoval, AdapterName);
    // Visible at once, while the worker may still be on its way out.
    QVERIFY(!m_device->isDeviceOpen());
    QVERIFY(!m_device->isBusy());
    QVERIFY(!m_device->isConnected());
    QCOMPARE(m_device->version(), QString());
    QCOMPARE(m_device->currentDevice(), DeviceFlash::Corvane_NoDevice);
    waitIdle(m_device);

    QCOMPARE(result.load(), 0);
    QCOMPARE(m_log,
        (QStringList { QStringLiteral("busy 1"), QStringLiteral("busy 0"),
            QStringLiteral("connected 0 b471") }));

    // The adapter comes back and the next arrival works normally.
    AdapterEmulator::setFaults(AdapterEmulator::Faults());
    m_log.clear();
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    waitIdle(m_device);
    QCOMPARE(m_log,
        (QStringList { QStringLiteral("busy 1"), QStringLiteral("version 5.6.0"),
            QStringLiteral("connected 1 b471"), QStringLiteral("busy 0") }));
}

void tst_Hotplug::hotplugNeverPullsTheHandleFromATask()
{
    m_device->openDevice();
    waitIdle(m_device);
    m_log.clear();

    // An arrival for the adapter already open, in the middle of a transfer, leaves the
    // handle alone: the transfer ends with the adapter's bytes.
    AdapterEmulator::Faults faults;
    faults.latencyUsPerReport = 300;
    AdapterEmulator::setFaults(faults);
    AdapterEmulator::resetCounters();
    std::atomic<int> result { -1 };
    QByteArray buffer(8192, '\0');
    DeviceFlash *device = m_device;
    AdapterLink(*m_device).runTask([device, &result, &buffer] {
        result = device->readDeviceMemory(0x56, 0x08004000, 8192, buffer.data(), false) ? 1 : 0;
    });
    QTRY_VERIFY(AdapterEmulator::exchangeCount() > 10);
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    waitIdle(m_device);
    QCOMPARE(result.load(), 1);
    QVERIFY(buffer == AdapterEmulator::memory(0x08004000, 8192));
    QCOMPARE(m_log, (QStringList { QStringLiteral("busy 1"), QStringLiteral("busy 0") }));

    // Unplugged while the arrival's information read waits for an answer: no connection is
    // announced after the removal. Plugged in again before that task has ended, the arrival
    // waits for it and then connects.
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^nativeEventFilter closed\\.")));
    m_monitor->send(DeviceNotice::InterfaceRemoval, AdapterName);
    m_log.clear();
    faults = AdapterEmulator::Faults();
    faults.stallAtExchange = AdapterEmulator::exchangeCount() + 2;
    AdapterEmulator::setFaults(faults);
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    QTRY_COMPARE(AdapterEmulator::exchangeCount(), faults.stallAtExchange);
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^nativeEventFilter closed\\.")));
    m_monitor->send(DeviceNotice::InterfaceRemoval, AdapterName);
    AdapterEmulator::setFaults(AdapterEmulator::Faults());
    m_monitor->send(DeviceNotice::InterfaceArrival, AdapterName);
    waitIdle(m_device);
    QTRY_VERIFY(m_log.contains(QStringLiteral("connected 1 b471")));
    waitIdle(m_device);
    QCOMPARE(m_log.count(QStringLiteral("connected 1 b471")), 1);
    QVERIFY(m_log.indexOf(QStringLiteral("connected 0 b471"))
        < m_log.indexOf(QStringLiteral("connected 1 b471")));
    QVERIFY(m_device->isConnected());
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
}

void tst_Hotplug::volumesAndNativeEventsChangeNothing()
{
    m_device->openDevice();
    waitIdle(m_device);
    m_log.clear();
    AdapterEmulator::resetCounters();

    m_monitor->send(DeviceNotice::VolumeArrival, QString(), 0);
    m_monitor->send(DeviceNotice::VolumeArrival, QString(), 1);
    m_monitor->send(DeviceNotice::VolumeArrival, QString(), 2);
    m_monitor->send(DeviceNotice::VolumeArrival, AdapterName, 0);
    waitIdle(m_device);
    QVERIFY(m_log.isEmpty());
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(0));
    QVERIFY(m_device->isConnected());
    QVERIFY(m_device->isDeviceOpen());

    DeviceFlash::NativeEventResult result = 1234;
    QByteArray message(64, '\x19');
    QVERIFY(!m_device->nativeEventFilter(
        QByteArrayLiteral("xcb_generic_event_t"), message.data(), &result));
    QVERIFY(!m_device->nativeEventFilter(QByteArray(), nullptr, nullptr));
    QCOMPARE(result, DeviceFlash::NativeEventResult(1234));
}

QTEST_GUILESS_MAIN(tst_Hotplug)
#include "tst_hotplug.moc"
