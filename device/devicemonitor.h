// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "devicenotice.h"

#include <QObject>

// Platform layer that turns the system's device-change events into DeviceNotice values.
// On Linux it reads udev's kernel events through a socket notifier on the GUI thread; on
// Windows it registers for device notifications and reads WM_DEVICECHANGE messages.
class DeviceMonitor : public QObject
{
    Q_OBJECT
public:
    // The platform's monitor; null when the platform has none.
    static DeviceMonitor *create(QObject *parent);

    // True once the monitor is listening.
    virtual bool isActive() const = 0;
    // Device node of an attached HID interface with these ids, or empty when none is
    // attached (tells "cannot open" apart from "not attached").
    virtual QString findHidNode(quint16 vendorId, quint16 productId) const = 0;
    // The sysfs path of the device behind a HID node (a /dev/hidraw path), or empty when
    // the platform cannot tell: what removal notices are matched against.
    virtual QString sysfsPath(const QByteArray &node) const;
    // Receives the notifications through this native window of the program (Windows: its
    // HWND), whose messages reach the application's native event filter, instead of a
    // window of the monitor's own. Nothing where the platform has no such notifications.
    virtual void listenOn(quintptr nativeWindow);

    // The notice a native event of the application carries (Windows: a WM_DEVICECHANGE
    // message for an interface or volume), or false when it carries none.
    static bool noticeFromNativeEvent(
        const QByteArray &eventType, const void *message, DeviceNotice *notice);

signals:
    void notice(const DeviceNotice &notice);

protected:
    using QObject::QObject;
};
