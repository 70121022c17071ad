// SPDX-License-Identifier: GPL-3.0-or-later
// The platform layer as users run it: Debian's hidapi (hidraw backend) enumerating and
// opening a /dev/hidraw node and the udev monitor reading kernel events, against a kernel
// faked by umockdev. The adapter behind the node is the emulator's adapter model. CTest
// runs this under umockdev-wrapper.
#ifdef CORVANE_HAVE_UMOCKDEV
// Before Qt: glib's headers use names that Qt defines as macros.
#include <umockdev.h>
#endif

#include "adapteremulator.h"
#include "commandreport.h"
#include "deviceflash.h"
#include "devicemonitor.h"
#include "emulatorcore.h"
#include "firmwareimagemaker.h"
#include "testdata.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <thread>

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#ifdef CORVANE_HAVE_UMOCKDEV
namespace {

constexpr int WaitMs = 60000;

// The node's side of the test; guarded by the adapter model's mutex.
struct FakeNode
{
    int master = -1; // the test's end of the PTY that umockdev puts behind the node
    bool held = false; // answers are kept back: the adapter seems busy
    bool inFlight = false; // an answer waits in the PTY for the client's read
    qint64 holdAtWrite = -1; // answers are kept back from this flash write (0x57) on
};

FakeNode &fakeNode()
{
    static FakeNode node;
    return node;
}

std::atomic<int> nodeOpens { 0 };

// Moves the adapter's next answer into the node, one at a time: the PTY is a byte stream,
// a hidraw node hands out one report per read.
void pumpLocked(AdapterEmulator::Core::State &s)
{
    FakeNode &node = fakeNode();
    AdapterEmulator::Core::Answer answer;
    if (node.master < 0 || node.held || node.inFlight || !popAnswerLocked(s, answer))
        return;
    node.inFlight = write(node.master, answer.bytes, size_t(answer.size)) == answer.size;
}

void pump()
{
    AdapterEmulator::Core::State &s = AdapterEmulator::Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    pumpLocked(s);
}

void setHeld(bool held)
{
    AdapterEmulator::Core::State &s = AdapterEmulator::Core::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    fakeNode().held = held;
    pumpLocked(s);
}

gboolean handleIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    // hidapi's open asks for the report descriptor's size to tell a hidraw node.
    if (umockdev_ioctl_client_get_request(client) != HIDIOCGRDESCSIZE)
        return FALSE;
    UMockdevIoctlData *size = umockdev_ioctl_data_resolve(
        umockdev_ioctl_client_get_arg(client), 0, sizeof(int), nullptr);
    if (!size)
        return FALSE;
    const int descriptorSize = 34;
    std::memcpy(size->data, &descriptorSize, sizeof descriptorSize);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(size);
    return TRUE;
}

gboolean handleWrite(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    using namespace AdapterEmulator::Core;
    UMockdevIoctlData *report = umockdev_ioctl_client_get_arg(client);
    // Report id 0 and at most one request body, as the adapter takes it.
    if (report->data_len <= 0 || report->data_len > RequestSize || report->data[0] != 0) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    quint8 body[ReportSize] = {};
    std::memcpy(body, report->data + 1, size_t(report->data_len - 1));
    bool handled = false;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        handled = handleRequestLocked(s, body);
        if (s.writeCommands == fakeNode().holdAtWrite)
            fakeNode().held = true;
        pumpLocked(s);
    }
    umockdev_ioctl_client_complete(
        client, handled ? glong(report->data_len) : -1, handled ? 0 : EIO);
    return TRUE;
}

// hidapi polls the node before it reads, so the answer must already be in the PTY: the
// read runs there, in the client, and then the next answer goes in.
gboolean handleRead(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    using namespace AdapterEmulator::Core;
    int error = 0;
    const int count = umockdev_ioctl_client_execute(client, &error, nullptr);
    umockdev_ioctl_client_complete(client, count, error);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (count > 0)
        fakeNode().inFlight = false;
    pumpLocked(s);
    return TRUE;
}

void countOpen(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer)
{
    ++nodeOpens;
    pump();
}

} // namespace
#endif

class tst_HidPlatform : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void startupReadsTheAdapter_data();
    void startupReadsTheAdapter();
    void ueventsConnectAndDisconnect();
    void arrivalDuringTaskKeepsTheHandle();
    void unreadableNodeIsDiagnosed();
    void secondProgramMeetsTheNodeLock();
    void removingAnotherAdapterKeepsTheWrite();

#ifdef CORVANE_HAVE_UMOCKDEV
private:
    void plugIn();
    void pullOut();
    void waitIdle(DeviceFlash *device);

    UMockdevTestbed *m_testbed = nullptr;
    GMainLoop *m_loop = nullptr;
    UMockdevIoctlBase *m_handler = nullptr;
    std::thread m_handlerThread;
    int m_plugs = 0; // umockdev cannot make a removed PTY node again: each plug-in has its own
    QByteArray m_node; // the adapter's hidraw node while it is plugged in
    QByteArray m_usb; // sysfs path of the USB device while it is plugged in
    QByteArrayList m_devices; // every device plugged in, children first
    QTemporaryDir m_runtimeDir;
#endif
};

#ifndef CORVANE_HAVE_UMOCKDEV

void tst_HidPlatform::initTestCase()
{
    QSKIP("umockdev's library (libumockdev-dev) was not found when this test was built");
}
void tst_HidPlatform::cleanupTestCase() { }
void tst_HidPlatform::init() { }
void tst_HidPlatform::cleanup() { }
void tst_HidPlatform::startupReadsTheAdapter_data() { }
void tst_HidPlatform::startupReadsTheAdapter() { }
void tst_HidPlatform::ueventsConnectAndDisconnect() { }
void tst_HidPlatform::arrivalDuringTaskKeepsTheHandle() { }
void tst_HidPlatform::unreadableNodeIsDiagnosed() { }
void tst_HidPlatform::secondProgramMeetsTheNodeLock() { }
void tst_HidPlatform::removingAnotherAdapterKeepsTheWrite() { }

#else

void tst_HidPlatform::initTestCase()
{
    if (!qgetenv("LD_PRELOAD").contains("libumockdev-preload"))
        QSKIP("not running under umockdev-wrapper (install umockdev; CTest runs it so)");
    // Adapter locks are named after the node: other runs of this test, or a real adapter
    // in use, must not hold this one's.
    QVERIFY(m_runtimeDir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtimeDir.path()));
    m_testbed = umockdev_testbed_new();
    QVERIFY(m_testbed);

    // umockdev answers a node's calls on the main context that is current where its handler
    // is attached: a thread of its own, as the device layer blocks in them on the GUI
    // thread too.
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(handleIoctl), nullptr);
    g_signal_connect(m_handler, "handle-write", G_CALLBACK(handleWrite), nullptr);
    g_signal_connect(m_handler, "handle-read", G_CALLBACK(handleRead), nullptr);
    g_signal_connect(m_handler, "client-connected", G_CALLBACK(countOpen), nullptr);
    GMainContext *context = g_main_context_new();
    m_loop = g_main_loop_new(context, FALSE);
    m_handlerThread = std::thread([context, loop = m_loop] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        g_main_context_pop_thread_default(context);
    });
    g_main_context_unref(context);
}

void tst_HidPlatform::cleanupTestCase()
{
    if (!m_loop)
        return;
    g_main_loop_quit(m_loop);
    m_handlerThread.join();
    g_main_loop_unref(m_loop);
    g_object_unref(m_handler);
    g_object_unref(m_testbed);
}

void tst_HidPlatform::init()
{
    AdapterEmulator::reset();
    AdapterEmulator::seedFirmwareVersion(5, 5, 24);
    AdapterEmulator::setUniqueId(QByteArray::fromHex("a1b2c3d4e5f60718293a4b5c"));
    {
        AdapterEmulator::Core::State &s = AdapterEmulator::Core::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        fakeNode().holdAtWrite = -1;
    }
    setHeld(false);
    nodeOpens = 0;
}

void tst_HidPlatform::cleanup()
{
    if (!m_usb.isEmpty())
        pullOut();
}

// The adapter as the kernel shows it: USB device, interface, HID device and its hidraw
// node. umockdev announces each with an "add" uevent.
void tst_HidPlatform::plugIn()
{
    const QByteArray serial = AdapterEmulator::uniqueId().toHex();
    gchar *usb = umockdev_testbed_add_device(m_testbed, "usb", "1-1", nullptr, "idVendor", "0e3a",
        "idProduct", "b471", "serial", serial.constData(), "manufacturer", "Corvane", nullptr,
        "DEVTYPE", "usb_device", "PRODUCT", "e3a/b471/100", "ID_VENDOR_ID", "0e3a", "ID_MODEL_ID",
        "b471", "ID_SERIAL_SHORT", serial.constData(), nullptr);
    gchar *usbInterface = umockdev_testbed_add_device(m_testbed, "usb", "1-1:1.0", usb,
        "bInterfaceNumber", "00", nullptr, "DEVTYPE", "usb_interface", nullptr);
    gchar *hid = umockdev_testbed_add_device(m_testbed, "hid", "0003:0E3A:B471.0001", usbInterface,
        nullptr, "HID_ID", "0003:00000E3A:0000B471", "HID_NAME", "Corvane X9 Adapter", "HID_UNIQ",
        serial.constData(), nullptr);
    m_usb = usb;
    const QByteArray name = "hidraw" + QByteArray::number(m_plugs);
    m_node = "/dev/" + name;
    m_devices = QByteArrayList { QByteArray(hid) + "/hidraw/" + name, hid, usbInterface, usb };
    const QByteArray record = "P: " + m_devices.first().mid(int(std::strlen("/sys")))
        + "\nN: " + name + "\nE: DEVNAME=" + m_node
        + "\nE: SUBSYSTEM=hidraw\nA: dev=245:" + QByteArray::number(m_plugs) + "\n";
    ++m_plugs;
    QVERIFY(umockdev_testbed_add_from_string(m_testbed, record.constData(), nullptr));
    // The kernel links a class device to its parent; umockdev does not, and hidapi's
    // enumeration by ids reads the parent's uevent through that link.
    gchar *sys = umockdev_testbed_get_sys_dir(m_testbed);
    const QByteArray link
        = QByteArray(sys).chopped(int(std::strlen("/sys"))) + m_devices.first() + "/device";
    g_free(sys);
    QCOMPARE(symlink("../..", link.constData()), 0);

    struct Attach
    {
        UMockdevTestbed *testbed;
        UMockdevIoctlBase *handler;
        QByteArray node;
        std::promise<bool> done;
    } attach { m_testbed, m_handler, m_node, {} };
    std::future<bool> attached = attach.done.get_future();
    g_main_context_invoke(
        g_main_loop_get_context(m_loop),
        [](gpointer data) -> gboolean {
            auto *a = static_cast<Attach *>(data);
            a->done.set_value(umockdev_testbed_attach_ioctl(
                a->testbed, a->node.constData(), a->handler, nullptr));
            return G_SOURCE_REMOVE;
        },
        &attach);
    QVERIFY(attached.get());

    const int master = umockdev_testbed_get_dev_fd(m_testbed, m_node.constData());
    QVERIFY(master >= 0);
    termios raw {};
    QCOMPARE(tcgetattr(master, &raw), 0);
    cfmakeraw(&raw);
    QCOMPARE(tcsetattr(master, TCSANOW, &raw), 0);
    {
        AdapterEmulator::Core::State &s = AdapterEmulator::Core::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        fakeNode().master = master;
        fakeNode().inFlight = false;
    }
    g_free(hid);
    g_free(usbInterface);
    g_free(usb);
}

void tst_HidPlatform::pullOut()
{
    {
        AdapterEmulator::Core::State &s = AdapterEmulator::Core::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        fakeNode().master = -1;
    }
    umockdev_testbed_uevent(m_testbed, m_usb.constData(), "remove");
    // umockdev removes the links and node of the device it is given only.
    for (const QByteArray &device : qAsConst(m_devices))
        umockdev_testbed_remove_device(m_testbed, device.constData());
    m_devices.clear();
    m_usb.clear();
}

void tst_HidPlatform::waitIdle(DeviceFlash *device)
{
    while (!device->waitForIdle(10))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
}

void tst_HidPlatform::startupReadsTheAdapter_data()
{
    QTest::addColumn<bool>("staleReport");
    QTest::newRow("adapter present") << false;
    // An input report nobody read, shaped as the answer to the first request: drained
    // before that request, never taken for its answer.
    QTest::newRow("stale report waiting") << true;
}

void tst_HidPlatform::startupReadsTheAdapter()
{
    QFETCH(bool, staleReport);
    plugIn();
    if (staleReport) {
        CommandReport stale = CommandReport::request(CommandReport::Code_Answer, 0x08003FC0, 52);
        std::memset(stale.data(), 0xEE, CommandReport::DataSize);
        AdapterEmulator::injectInputReport(
            QByteArray(reinterpret_cast<const char *>(stale.bytes + 1), CommandReport::Size - 1));
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^writeCMDData dropped a stale input report")));
    }
    DeviceFlash device;
    QSignalSpy connected(&device, &DeviceFlash::deviceConnectStatusChanged);
    device.openDevice();
    waitIdle(&device);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(connected.at(0).at(0).toBool(), true);
    QCOMPARE(device.serialNumber(), AdapterEmulator::uniqueId().toHex());
    QCOMPARE(device.version(), QStringLiteral("5.5.24"));
}

void tst_HidPlatform::ueventsConnectAndDisconnect()
{
    DeviceFlash device;
    QVERIFY(device.isMonitoring());
    QStringList log;
    connect(
        &device, &DeviceFlash::deviceConnectStatusChanged, this, [&log, &device](bool connected) {
            log << QStringLiteral("connected %1 open %2 version '%3'")
                       .arg(int(connected))
                       .arg(int(device.isDeviceOpen()))
                       .arg(device.version());
        });

    plugIn();
    QTRY_COMPARE_WITH_TIMEOUT(log.size(), 1, WaitMs);
    waitIdle(&device);
    QCOMPARE(log.at(0), QStringLiteral("connected 1 open 1 version '5.5.24'"));
    QCOMPARE(device.serialNumber(), AdapterEmulator::uniqueId().toHex());

    // Removal closes the handle and clears the version before it is announced.
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^nativeEventFilter closed\\.")));
    pullOut();
    QTRY_COMPARE_WITH_TIMEOUT(log.size(), 2, WaitMs);
    QCOMPARE(log.at(1), QStringLiteral("connected 0 open 0 version ''"));
    QVERIFY(!device.isConnected());
}

void tst_HidPlatform::arrivalDuringTaskKeepsTheHandle()
{
    plugIn();
    DeviceMonitor *monitor = DeviceMonitor::create(nullptr);
    DeviceFlash device(monitor, nullptr);
    int notices = 0;
    connect(monitor, &DeviceMonitor::notice, this, [&notices] { ++notices; });
    QSignalSpy connected(&device, &DeviceFlash::deviceConnectStatusChanged);

    // The start-up read waits for its first answer while udev reports the adapter again.
    setHeld(true);
    device.openDevice();
    QTRY_VERIFY_WITH_TIMEOUT(AdapterEmulator::exchangeCount() > 0, WaitMs);
    // The lock opens the node too: what counts is that the arrival opens nothing more.
    const int opens = nodeOpens;
    umockdev_testbed_uevent(m_testbed, m_usb.constData(), "add");
    QTRY_COMPARE_WITH_TIMEOUT(notices, 1, WaitMs);
    setHeld(false);
    waitIdle(&device);

    QCOMPARE(nodeOpens.load(), opens);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(device.serialNumber(), AdapterEmulator::uniqueId().toHex());
    QCOMPARE(device.version(), QStringLiteral("5.5.24"));
}

void tst_HidPlatform::unreadableNodeIsDiagnosed()
{
#ifndef CORVANE_CLI
    QSKIP("corvane-cli is not built on Debian's hidapi (CORVANE_HID_BACKEND is not system)");
#else
    plugIn();
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const QString testbed = QString::fromLocal8Bit(root);
    g_free(root);
    QVERIFY(
        QFile::setPermissions(testbed + QString::fromLatin1(m_node), QFileDevice::Permissions()));

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME" })
        env.insert(QLatin1String(name), home.path());
    QStringList command { QStringLiteral(CORVANE_CLI), QStringLiteral("--timeout"),
        QStringLiteral("10"), QStringLiteral("info"), QStringLiteral("--verbose") };
    // Root opens any node whatever its mode: the command then runs as nobody, which needs
    // to reach the testbed and its home.
    if (geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv to run corvane-cli as another user");
        // umockdev's library in the command connects to the node's socket as it opens it.
        const QByteArray root = QFile::encodeName(testbed);
        for (const QByteArray &path : { root, root + "/ioctl", root + "/ioctl/dev" })
            QVERIFY(chmod(path.constData(), 0755) == 0);
        QVERIFY(chmod((root + "/ioctl" + m_node).constData(), 0666) == 0);
        QVERIFY(chmod(QFile::encodeName(home.path()).constData(), 0777) == 0);
        command = QStringList { setpriv, QStringLiteral("--reuid=65534"),
            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
            QStringLiteral("--") }
            + command;
    }
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(command.takeFirst(), command);
    QVERIFY(cli.waitForFinished(WaitMs));
    const QString errors = QString::fromLocal8Bit(cli.readAllStandardError());
    QVERIFY2(cli.exitCode() == 3, qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("the adapter is attached at %1 but cannot be opened")
                                 .arg(QString::fromLatin1(m_node)))
            && errors.contains(QStringLiteral("70-corvane-x9.rules")),
        qPrintable(errors));
    // --verbose names the node with what keeps this user out.
    QVERIFY2(errors.contains(QStringLiteral("adapter node %1 ").arg(QString::fromLatin1(m_node)))
            && errors.contains(QStringLiteral("not readable and writable by this user")),
        qPrintable(errors));
#endif
}

// Another program under the same kernel, without the runtime directory this one uses, meets
// the lock on the node itself: it exits 4 and sends nothing.
void tst_HidPlatform::secondProgramMeetsTheNodeLock()
{
#ifndef CORVANE_CLI
    QSKIP("corvane-cli is not built on Debian's hidapi (CORVANE_HID_BACKEND is not system)");
#else
    plugIn();
    DeviceFlash device;
    device.openDevice();
    waitIdle(&device);
    QVERIFY(device.isConnected());
    const qint64 exchanges = AdapterEmulator::exchangeCount();

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME" })
        env.insert(QLatin1String(name), home.path());
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(CORVANE_CLI), { QStringLiteral("info") });
    QVERIFY(cli.waitForFinished(WaitMs));
    QCOMPARE(cli.readAllStandardError(),
        QByteArray("corvane-cli: the adapter is in use by another program\n"));
    QCOMPARE(cli.exitCode(), 4);
    QCOMPARE(AdapterEmulator::exchangeCount(), exchanges);
#endif
}

// With two adapters attached, pulling out the idle one leaves the other's update running to
// its end.
void tst_HidPlatform::removingAnotherAdapterKeepsTheWrite()
{
    plugIn();
    DeviceMonitor *monitor = DeviceMonitor::create(nullptr);
    DeviceFlash device(monitor, nullptr);
    int removals = 0;
    connect(monitor, &DeviceMonitor::notice, this, [&removals](const DeviceNotice &notice) {
        removals += notice.kind == DeviceNotice::InterfaceRemoval;
    });
    device.openDevice();
    waitIdle(&device);
    QVERIFY(device.isConnected());
    gchar *other = umockdev_testbed_add_device(m_testbed, "usb", "1-2", nullptr, "idVendor", "0e3a",
        "idProduct", "b471", nullptr, "DEVTYPE", "usb_device", "PRODUCT", "e3a/b471/100", nullptr);

    QTemporaryDir files;
    const QString image = files.filePath(QStringLiteral("fw.rfw"));
    const QByteArray payload = TestData::pattern(4000, 7);
    QVERIFY(FirmwareImageMaker::writeToFile(image, FirmwareImageMaker::make(5, 7, 3, payload)));
    {
        AdapterEmulator::Core::State &s = AdapterEmulator::Core::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        fakeNode().holdAtWrite = 10;
    }
    device.updateFirmware(image);
    QTRY_COMPARE_WITH_TIMEOUT(AdapterEmulator::writeCommandCount(), qint64(10), WaitMs);
    umockdev_testbed_uevent(m_testbed, other, "remove");
    umockdev_testbed_remove_device(m_testbed, other);
    g_free(other);
    QTRY_COMPARE_WITH_TIMEOUT(removals, 1, WaitMs);
    setHeld(false);
    waitIdle(&device);

    QVERIFY(device.isConnected());
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    QCOMPARE(device.version(), QStringLiteral("5.7.3"));
}

#endif

QTEST_GUILESS_MAIN(tst_HidPlatform)
#include "tst_hidplatform.moc"
