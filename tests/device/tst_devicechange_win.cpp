// SPDX-License-Identifier: GPL-3.0-or-later
// Windows' device notifications: WM_DEVICECHANGE messages, as the system sends them to the
// window, delivered to the adapter's native event filter.
#include "adapteremulator.h"
#include "deviceflash.h"
#include "devicemonitor.h"
#include "devicenotice.h"

#include <QtTest>

#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <vector>

namespace {

constexpr GUID UsbClass
    = { 0xA5DCBF10, 0x6530, 0x11D2, { 0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED } };
constexpr GUID HidClass
    = { 0x4D1E55B2, 0xF16F, 0x11CF, { 0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30 } };

const QString UsbName
    = QStringLiteral("\\\\?\\USB#VID_0E3A&PID_B471#0011#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
const QString HidName = QStringLiteral(
    "\\\\?\\HID#VID_0E3A&PID_B471#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");

// A DEV_BROADCAST_DEVICEINTERFACE_W record for name, its size as the system sets it, or
// the size given (a record that claims less than it holds).
std::vector<char> interfaceRecord(const GUID &interfaceClass, const QString &name, int size = -1)
{
    const std::wstring text = name.toStdWString();
    const std::size_t full = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)
        + (text.size() + 1) * sizeof(wchar_t);
    std::vector<char> bytes(full + 64, '\x41'); // what follows the record is not a name
    auto *record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(bytes.data());
    record->dbcc_size = DWORD(size < 0 ? full : std::size_t(size));
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_reserved = 0;
    record->dbcc_classguid = interfaceClass;
    std::copy(text.begin(), text.end(), record->dbcc_name);
    record->dbcc_name[text.size()] = 0;
    return bytes;
}

std::vector<char> volumeRecord(WORD flags)
{
    std::vector<char> bytes(sizeof(DEV_BROADCAST_VOLUME), 0);
    auto *record = reinterpret_cast<DEV_BROADCAST_VOLUME *>(bytes.data());
    record->dbcv_size = sizeof(DEV_BROADCAST_VOLUME);
    record->dbcv_devicetype = DBT_DEVTYP_VOLUME;
    record->dbcv_unitmask = 1 << 4;
    record->dbcv_flags = flags;
    return bytes;
}

MSG deviceChange(WPARAM event, std::vector<char> &record)
{
    MSG message = {};
    message.message = WM_DEVICECHANGE;
    message.wParam = event;
    message.lParam = reinterpret_cast<LPARAM>(record.data());
    return message;
}

// The notices the filter hands on, without udev or a window of its own.
class QuietMonitor : public DeviceMonitor
{
public:
    bool isActive() const override { return true; }
    QString findHidNode(quint16, quint16) const override { return QString(); }
};

} // namespace

Q_DECLARE_METATYPE(std::vector<char>)

class tst_DeviceChangeWin : public QObject
{
    Q_OBJECT
private slots:
    void messagesGiveTheThreeNotices_data();
    void messagesGiveTheThreeNotices();
    void filterConnectsAndDisconnects();
};

void tst_DeviceChangeWin::messagesGiveTheThreeNotices_data()
{
    QTest::addColumn<quintptr>("event");
    QTest::addColumn<std::vector<char>>("record");
    QTest::addColumn<int>("kind"); // -1: no notice
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("devicePath");
    QTest::addColumn<quint32>("flags");

    QTest::newRow("USB arrival") << quintptr(DBT_DEVICEARRIVAL)
                                 << interfaceRecord(UsbClass, UsbName)
                                 << int(DeviceNotice::InterfaceArrival) << UsbName
                                 << QStringLiteral("usb\\vid_0e3a&pid_b471\\0011") << 0u;
    QTest::newRow("HID removal") << quintptr(DBT_DEVICEREMOVECOMPLETE)
                                 << interfaceRecord(HidClass, HidName)
                                 << int(DeviceNotice::InterfaceRemoval) << HidName
                                 << HidName.toLower() << 0u;
    QTest::newRow("removable disk")
        << quintptr(DBT_DEVICEARRIVAL) << volumeRecord(0) << int(DeviceNotice::VolumeArrival)
        << QString() << QString() << 0u;
    QTest::newRow("media") << quintptr(DBT_DEVICEARRIVAL) << volumeRecord(DBTF_MEDIA)
                           << int(DeviceNotice::VolumeArrival) << QString() << QString() << 1u;
    // A record whose size ends inside the name: the name stops there, never beyond.
    const int cut = int(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) + 4 * 2;
    QTest::newRow("name cut by the record's size")
        << quintptr(DBT_DEVICEARRIVAL) << interfaceRecord(UsbClass, UsbName, cut)
        << int(DeviceNotice::InterfaceArrival) << UsbName.left(4) << QStringLiteral("") << 0u;
    QTest::newRow("record shorter than a header")
        << quintptr(DBT_DEVICEARRIVAL) << interfaceRecord(UsbClass, UsbName, 4) << -1 << QString()
        << QString() << 0u;
    QTest::newRow("volume removal") << quintptr(DBT_DEVICEREMOVECOMPLETE) << volumeRecord(0) << -1
                                    << QString() << QString() << 0u;
    QTest::newRow("query remove") << quintptr(DBT_DEVICEQUERYREMOVE)
                                  << interfaceRecord(UsbClass, UsbName) << -1 << QString()
                                  << QString() << 0u;
}

void tst_DeviceChangeWin::messagesGiveTheThreeNotices()
{
    QFETCH(quintptr, event);
    QFETCH(std::vector<char>, record);
    QFETCH(int, kind);
    QFETCH(QString, name);
    QFETCH(QString, devicePath);
    QFETCH(quint32, flags);

    const MSG message = deviceChange(WPARAM(event), record);
    DeviceNotice notice;
    const bool given = DeviceMonitor::noticeFromNativeEvent(
        QByteArrayLiteral("windows_generic_MSG"), &message, &notice);
    QCOMPARE(given, kind >= 0);
    if (!given)
        return;
    QCOMPARE(int(notice.kind), kind);
    QCOMPARE(notice.interfaceName, name);
    QCOMPARE(notice.devicePath, devicePath);
    QCOMPARE(notice.volumeFlags, flags);

    // Another message, or another event type name, carries nothing.
    MSG other = message;
    other.message = WM_PAINT;
    QVERIFY(!DeviceMonitor::noticeFromNativeEvent(
        QByteArrayLiteral("windows_generic_MSG"), &other, &notice));
    QVERIFY(!DeviceMonitor::noticeFromNativeEvent(
        QByteArrayLiteral("xcb_generic_event_t"), &message, &notice));
}

// The native event filter turns the window's messages into the adapter's connection; it
// never consumes a message.
void tst_DeviceChangeWin::filterConnectsAndDisconnects()
{
    AdapterEmulator::reset();
    DeviceFlash device(new QuietMonitor, nullptr);
    QList<bool> connections;
    connect(&device, &DeviceFlash::deviceConnectStatusChanged, &device,
        [&connections](bool connected, DeviceFlash::Corvane) { connections.append(connected); });

    std::vector<char> arrival = interfaceRecord(UsbClass, UsbName);
    MSG message = deviceChange(DBT_DEVICEARRIVAL, arrival);
    DeviceFlash::NativeEventResult result = 77;
    QVERIFY(!device.nativeEventFilter(QByteArrayLiteral("windows_generic_MSG"), &message, &result));
    QTRY_COMPARE(connections, QList<bool>({ true }));
    QVERIFY(device.isDeviceOpen());

    std::vector<char> removal = interfaceRecord(HidClass, HidName);
    message = deviceChange(DBT_DEVICEREMOVECOMPLETE, removal);
    QVERIFY(!device.nativeEventFilter(QByteArrayLiteral("windows_generic_MSG"), &message, &result));
    QTRY_COMPARE(connections, QList<bool>({ true, false }));
    QVERIFY(!device.isDeviceOpen());
    QCOMPARE(result, DeviceFlash::NativeEventResult(77));
}

QTEST_GUILESS_MAIN(tst_DeviceChangeWin)
#include "tst_devicechange_win.moc"
