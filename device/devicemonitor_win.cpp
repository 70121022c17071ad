// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicemonitor_win.h"

#include "logcategories.h"
#include "qhiddevice.h"

#include <QDebug>
#include <QMetaObject>
#include <QStringList>

#include <windows.h>

#include <cfgmgr32.h>
#include <dbt.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>

namespace {

// The interface classes the monitor registers, in this order: USB devices and disks, whose
// names carry the ids the notices are matched by, and HID interfaces, whose names are the
// paths hidapi opens, so that a removal names exactly the adapter it concerns.
constexpr GUID UsbDeviceClass
    = { 0xA5DCBF10, 0x6530, 0x11D2, { 0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED } };
constexpr GUID DiskClass
    = { 0x53F56307, 0xB6BF, 0x11D0, { 0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B } };
constexpr GUID HidClass
    = { 0x4D1E55B2, 0xF16F, 0x11CF, { 0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30 } };
constexpr const GUID *InterfaceClasses[] = { &UsbDeviceClass, &DiskClass, &HidClass };

const wchar_t *const WindowClassName = L"CorvaneX9DeviceMonitor";

bool sameGuid(const GUID &a, const GUID &b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// "\\?\USB#VID_0E3A&PID_B471#0011#{guid}" -> "usb\vid_0e3a&pid_b471\0011", the device
// instance id the device tree gives the same device.
QString instanceIdOfInterface(const QString &name)
{
    QString id = name;
    if (id.startsWith(QLatin1String("\\\\?\\")))
        id.remove(0, 4);
    const int guid = id.lastIndexOf(QLatin1String("#{"));
    if (guid >= 0)
        id.truncate(guid);
    id.replace(QLatin1Char('#'), QLatin1Char('\\'));
    return id.toLower();
}

// The device instance id behind an interface path, and those of the devices above it, from
// the device itself upwards, lower case.
QStringList instanceChain(const QByteArray &interfacePath)
{
    QStringList chain;
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return chain;
    const std::wstring path = QString::fromUtf8(interfacePath).toStdWString();
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof(interfaceData);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    DWORD needed = 0;
    if (SetupDiOpenDeviceInterfaceW(set, path.c_str(), 0, &interfaceData)) {
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, nullptr);
        QByteArray detail(int(qMax<DWORD>(needed, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))), 0);
        auto *data = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(detail.data());
        data->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(
                set, &interfaceData, data, DWORD(detail.size()), nullptr, &device)) {
            DEVINST node = device.DevInst;
            for (;;) {
                wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
                if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
                    break;
                chain.append(QString::fromWCharArray(id).toLower());
                DEVINST parent = 0;
                if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
                    break;
                node = parent;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return chain;
}

LRESULT CALLBACK monitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE) {
        auto *monitor
            = reinterpret_cast<DeviceMonitorWin *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        DeviceNotice notice;
        if (monitor
            && DeviceMonitorWin::noticeFromDeviceChange(
                quintptr(wParam), reinterpret_cast<const void *>(lParam), &notice)) {
            // The sender waits for this message's answer: the notice is handled afterwards,
            // from the event loop, as the udev monitor's are.
            QMetaObject::invokeMethod(
                monitor, [monitor, notice] { emit monitor->notice(notice); }, Qt::QueuedConnection);
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

DeviceMonitor *DeviceMonitor::create(QObject *parent)
{
    return new DeviceMonitorWin(parent);
}

bool DeviceMonitor::noticeFromNativeEvent(
    const QByteArray &eventType, const void *message, DeviceNotice *notice)
{
    if (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")
        return false;
    const MSG *msg = static_cast<const MSG *>(message);
    if (!msg || msg->message != WM_DEVICECHANGE)
        return false;
    return DeviceMonitorWin::noticeFromDeviceChange(
        quintptr(msg->wParam), reinterpret_cast<const void *>(msg->lParam), notice);
}

bool DeviceMonitorWin::noticeFromDeviceChange(
    quintptr event, const void *record, DeviceNotice *notice)
{
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || !record)
        return false;
    const auto *header = static_cast<const DEV_BROADCAST_HDR *>(record);
    if (header->dbch_size < sizeof(DEV_BROADCAST_HDR))
        return false;
    if (header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
        if (event != DBT_DEVICEARRIVAL || header->dbch_size < sizeof(DEV_BROADCAST_VOLUME))
            return false;
        notice->kind = DeviceNotice::VolumeArrival;
        notice->volumeFlags = static_cast<const DEV_BROADCAST_VOLUME *>(record)->dbcv_flags;
        return true;
    }
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return false;
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size < nameOffset)
        return false;
    const auto *device = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(record);
    // The name runs to its terminating zero, and never past the record's own size.
    const std::size_t room = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < room && device->dbcc_name[length] != 0)
        ++length;
    notice->kind = event == DBT_DEVICEARRIVAL ? DeviceNotice::InterfaceArrival
                                              : DeviceNotice::InterfaceRemoval;
    notice->interfaceName = QString::fromWCharArray(device->dbcc_name, int(length));
    if (sameGuid(device->dbcc_classguid, HidClass))
        notice->devicePath = notice->interfaceName.toLower();
    else if (sameGuid(device->dbcc_classguid, UsbDeviceClass))
        notice->devicePath = instanceIdOfInterface(notice->interfaceName);
    return true;
}

DeviceMonitorWin::DeviceMonitorWin(QObject *parent) : DeviceMonitor(parent)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = monitorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = WindowClassName;
    // A second monitor of the process finds the class registered already.
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        qCWarning(lcDevice) << "registerDevice fail! (window class)" << GetLastError();
        return;
    }
    HWND window = CreateWindowExW(
        0, WindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window) {
        qCWarning(lcDevice) << "registerDevice fail! (window)" << GetLastError();
        return;
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_ownWindow = window;
    m_registrations = registerWindow(window);
    m_active = !m_registrations.isEmpty();
}

DeviceMonitorWin::~DeviceMonitorWin()
{
    unregister(&m_registrations);
    if (m_ownWindow)
        DestroyWindow(static_cast<HWND>(m_ownWindow));
}

QList<void *> DeviceMonitorWin::registerWindow(void *window)
{
    QList<void *> registrations;
    for (const GUID *interfaceClass : InterfaceClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = *interfaceClass;
        HDEVNOTIFY registration = RegisterDeviceNotificationW(
            static_cast<HANDLE>(window), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (registration)
            registrations.append(registration);
        else
            qCWarning(lcDevice) << "registerDevice fail!" << GetLastError();
    }
    return registrations;
}

void DeviceMonitorWin::unregister(QList<void *> *registrations)
{
    for (void *registration : qAsConst(*registrations))
        UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(registration));
    registrations->clear();
}

bool DeviceMonitorWin::isActive() const
{
    return m_active;
}

void DeviceMonitorWin::listenOn(quintptr nativeWindow)
{
    if (!nativeWindow)
        return;
    QList<void *> registrations = registerWindow(reinterpret_cast<void *>(nativeWindow));
    if (registrations.isEmpty())
        return; // the monitor's own window goes on listening
    // One registration each: the program's window now gets every notice.
    unregister(&m_registrations);
    m_registrations = registrations;
    m_active = true;
}

QString DeviceMonitorWin::findHidNode(quint16 vendorId, quint16 productId) const
{
    const QList<QHidDevice::Interface> attached = QHidDevice::enumerate(vendorId, productId);
    return attached.isEmpty() ? QString() : QString::fromUtf8(attached.first().path);
}

QString DeviceMonitorWin::sysfsPath(const QByteArray &node) const
{
    if (node.isEmpty())
        return QString();
    const QString path = QString::fromUtf8(node).toLower();
    // The adapter's own USB device: the topmost of the USB devices above the interface that
    // carry its ids (a composite device's interface sits between them; a hub above does not
    // carry them, and its removal removes the adapter's device too).
    const QStringList upwards = instanceChain(node);
    if (upwards.isEmpty())
        return path;
    const int ids = upwards.first().indexOf(QLatin1String("vid_"));
    const QString usbIds = ids < 0 ? QString() : upwards.first().mid(ids, 17); // vid_xxxx&pid_yyyy
    QString device;
    for (const QString &id : upwards) {
        if (id.startsWith(QLatin1String("usb\\")) && !usbIds.isEmpty() && id.contains(usbIds))
            device = id;
        else if (!device.isEmpty())
            break;
    }
    return device.isEmpty() ? path : device + QLatin1Char('/') + path;
}
