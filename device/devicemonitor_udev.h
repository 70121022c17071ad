// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "devicemonitor.h"

#include <QString>

struct udev;
struct udev_device;
struct udev_monitor;
class QSocketNotifier;

// Reads udev's netlink events (subsystems usb and block) on the thread that owns it and
// turns them into the notices DeviceFlash handles.
class DeviceMonitorUdev : public DeviceMonitor
{
    Q_OBJECT
public:
    explicit DeviceMonitorUdev(QObject *parent = nullptr);
    ~DeviceMonitorUdev() override;

    bool isActive() const override;
    QString findHidNode(quint16 vendorId, quint16 productId) const override;
    QString sysfsPath(const QByteArray &node) const override;

private:
    void readEvents();
    void handleDevice(udev_device *device);

    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
};
