// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

// What the platform layer tells DeviceFlash about device changes.
struct DeviceNotice
{
    enum Kind {
        InterfaceArrival,
        InterfaceRemoval,
        VolumeArrival,
    };

    Kind kind = InterfaceArrival;
    QString interfaceName; // interface notices: "...#VID_0E3A&PID_B471#..." form
    quint32 volumeFlags = 0; // volume notices: 0 a removable disk, 1 media (DBTF_MEDIA)
    // Interface notices: the sysfs path of the device, where the platform tells it; a
    // removal closes the adapter only when this names the adapter that is open.
    QString devicePath;
};

// Vendor and product id parsed from an interface name.
struct ParsedDeviceName
{
    bool valid = false; // false when the name lacks the fields the rule reads
    bool isDisk = false; // the name contains "USBSTOR"
    quint16 vendorId = 0;
    quint32 productId = 0; // as parsed; callers compare its low 16 bits
};

ParsedDeviceName parseDeviceInterfaceName(const QString &name);

// The interface name of a USB device in the form the notices carry,
// "\\?\USB#VID_xxxx&PID_xxxx#serial#{guid}" (a '#' in the serial becomes '_').
QString usbInterfaceName(quint16 vendorId, quint16 productId, const QString &serial);
