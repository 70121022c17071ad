// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicemonitor_udev.h"

#include <QSocketNotifier>
#include <QStringList>

#include <libudev.h>

#include <functional>

namespace {

QString text(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// A udev id such as "0e3a"; 0 when absent or not hexadecimal.
quint16 hexId(const QString &value)
{
    bool ok = false;
    const uint id = value.toUInt(&ok, 16);
    return ok && id <= 0xFFFF ? quint16(id) : 0;
}

QString udevProperty(udev_device *device, const char *key)
{
    return text(udev_device_get_property_value(device, key));
}

QString sysattr(udev_device *device, const char *key)
{
    return text(udev_device_get_sysattr_value(device, key)).trimmed();
}

// Vendor and product of a USB device event. Removal events carry no sysfs attributes, so
// the properties (udev database, then the kernel's PRODUCT=vid/pid/bcd) come first.
void usbIds(udev_device *device, quint16 *vendorId, quint16 *productId)
{
    *vendorId = hexId(udevProperty(device, "ID_VENDOR_ID"));
    *productId = hexId(udevProperty(device, "ID_MODEL_ID"));
    if (*vendorId == 0 || *productId == 0) {
        const QStringList product = udevProperty(device, "PRODUCT").split(QLatin1Char('/'));
        if (product.size() >= 2) {
            *vendorId = hexId(product.at(0));
            *productId = hexId(product.at(1));
        }
    }
    if (*vendorId == 0 || *productId == 0) {
        *vendorId = hexId(sysattr(device, "idVendor"));
        *productId = hexId(sysattr(device, "idProduct"));
    }
}

bool isRemovableDisk(udev_device *device)
{
    if (udevProperty(device, "ID_BUS") == QLatin1String("usb"))
        return true;
    udev_device *disk = device;
    if (text(udev_device_get_devtype(device)) == QLatin1String("partition"))
        disk = udev_device_get_parent_with_subsystem_devtype(device, "block", "disk");
    return disk && sysattr(disk, "removable") == QLatin1String("1");
}

// The first non-empty answer of pick over the hidraw devices, in a udev context of its own:
// this runs on worker threads too, and udev contexts are not thread-safe.
QString firstHidraw(const std::function<QString(udev_device *)> &pick)
{
    udev *context = udev_new();
    if (!context)
        return QString();
    QString found;
    udev_enumerate *enumerate = udev_enumerate_new(context);
    if (enumerate && udev_enumerate_add_match_subsystem(enumerate, "hidraw") >= 0
        && udev_enumerate_scan_devices(enumerate) >= 0) {
        udev_list_entry *entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
        {
            udev_device *hid
                = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (!hid)
                continue;
            found = pick(hid);
            udev_device_unref(hid);
            if (!found.isEmpty())
                break;
        }
    }
    if (enumerate)
        udev_enumerate_unref(enumerate);
    udev_unref(context);
    return found;
}

} // namespace

DeviceMonitor *DeviceMonitor::create(QObject *parent)
{
    return new DeviceMonitorUdev(parent);
}

bool DeviceMonitor::noticeFromNativeEvent(const QByteArray &, const void *, DeviceNotice *)
{
    // udev's events come through the monitor's socket, never through the native stream.
    return false;
}

DeviceMonitorUdev::DeviceMonitorUdev(QObject *parent) : DeviceMonitor(parent)
{
    m_udev = udev_new();
    if (!m_udev)
        return;
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "usb", "usb_device") < 0
        || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr) < 0
        || udev_monitor_enable_receiving(m_monitor) < 0) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
        return;
    }
    const int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0) {
        udev_monitor_unref(m_monitor);
        m_monitor = nullptr;
        return;
    }
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceMonitorUdev::readEvents);
}

DeviceMonitorUdev::~DeviceMonitorUdev()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

bool DeviceMonitorUdev::isActive() const
{
    return m_notifier != nullptr;
}

void DeviceMonitorUdev::readEvents()
{
    // The socket is non-blocking: drain what is queued.
    while (udev_device *device = udev_monitor_receive_device(m_monitor)) {
        handleDevice(device);
        udev_device_unref(device);
    }
}

void DeviceMonitorUdev::handleDevice(udev_device *device)
{
    const QString action = text(udev_device_get_action(device));
    const QString subsystem = text(udev_device_get_subsystem(device));
    const QString devtype = text(udev_device_get_devtype(device));

    if (subsystem == QLatin1String("usb") && devtype == QLatin1String("usb_device")) {
        DeviceNotice notice;
        if (action == QLatin1String("add"))
            notice.kind = DeviceNotice::InterfaceArrival;
        else if (action == QLatin1String("remove"))
            notice.kind = DeviceNotice::InterfaceRemoval;
        else
            return;
        quint16 vendorId = 0;
        quint16 productId = 0;
        usbIds(device, &vendorId, &productId);
        QString serial = udevProperty(device, "ID_SERIAL_SHORT");
        if (serial.isEmpty())
            serial = text(udev_device_get_devpath(device));
        notice.interfaceName = usbInterfaceName(vendorId, productId, serial);
        notice.devicePath = text(udev_device_get_syspath(device));
        emit this->notice(notice);
        return;
    }

    if (subsystem == QLatin1String("block") && action == QLatin1String("add")
        && isRemovableDisk(device)) {
        DeviceNotice notice;
        notice.kind = DeviceNotice::VolumeArrival;
        notice.volumeFlags = 0;
        emit this->notice(notice);
    }
}

QString DeviceMonitorUdev::findHidNode(quint16 vendorId, quint16 productId) const
{
    return firstHidraw([vendorId, productId](udev_device *hid) {
        udev_device *usb = udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device");
        if (usb && hexId(sysattr(usb, "idVendor")) == vendorId
            && hexId(sysattr(usb, "idProduct")) == productId)
            return text(udev_device_get_devnode(hid));
        return QString();
    });
}

QString DeviceMonitorUdev::sysfsPath(const QByteArray &node) const
{
    if (!node.startsWith("/dev/"))
        return QString();
    return firstHidraw([&node](udev_device *hid) {
        const char *devnode = udev_device_get_devnode(hid);
        return devnode && node == devnode ? text(udev_device_get_syspath(hid)) : QString();
    });
}
