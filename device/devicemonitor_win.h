// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "devicemonitor.h"

#include <QList>
#include <QString>

// Registers for the arrival and removal of USB devices, disks and HID interfaces and turns
// the WM_DEVICECHANGE messages into notices. Until a window of the program takes over
// (listenOn), a message-only window of its own receives them, so a program without windows
// (corvane-cli) follows device changes too.
class DeviceMonitorWin : public DeviceMonitor
{
    Q_OBJECT
public:
    explicit DeviceMonitorWin(QObject *parent = nullptr);
    ~DeviceMonitorWin() override;

    bool isActive() const override;
    QString findHidNode(quint16 vendorId, quint16 productId) const override;
    // The adapter's USB device instance id and its HID interface path, lower case and joined
    // by "/" (just the path where the device tree cannot be read): what the removal notices
    // of either name.
    QString sysfsPath(const QByteArray &node) const override;
    void listenOn(quintptr nativeWindow) override;

    // A notice from the message's parts (wParam and the DEV_BROADCAST_HDR record at lParam);
    // false for every other event and for a record shorter than its type needs.
    static bool noticeFromDeviceChange(quintptr event, const void *record, DeviceNotice *notice);

private:
    // Registers the three interface classes on window; the registrations that succeeded.
    static QList<void *> registerWindow(void *window);
    static void unregister(QList<void *> *registrations);

    void *m_ownWindow = nullptr;
    QList<void *> m_registrations;
    bool m_active = false;
};
