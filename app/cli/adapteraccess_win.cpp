// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteraccess.h"

#include "deviceflash.h"
#include "logcategories.h"
#include "qhiddevice.h"

namespace AdapterAccess {

QString nodeText(const QString &)
{
    // Windows says no more of an interface it refused to open than the refusal itself.
    return QStringLiteral("(Windows refused to open it)");
}

void logNodes()
{
    const QList<QHidDevice::Interface> attached
        = QHidDevice::enumerate(DeviceFlash::adapterVendorId, DeviceFlash::Corvane_Adapter);
    for (const QHidDevice::Interface &adapter : attached)
        qCInfo(lcCli).noquote() << "adapter interface" << QString::fromUtf8(adapter.path)
                                << "serial" << adapter.serial;
    if (attached.isEmpty())
        qCInfo(lcCli).noquote() << "Windows lists no HID interface of a USB device"
                                << QStringLiteral("%1:%2")
                                       .arg(DeviceFlash::adapterVendorId, 4, 16, QLatin1Char('0'))
                                       .arg(quint32(DeviceFlash::Corvane_Adapter), 4, 16,
                                           QLatin1Char('0'));
}

QString openHint()
{
    return QStringLiteral("close other programs that may hold it (the maker's own tools), or "
                          "unplug the adapter and plug it in again");
}

QString notFoundHint()
{
    return QStringLiteral("plug the adapter in; if it is plugged in, look for it under "
                          "\"Human Interface Devices\" in the Device Manager (corvane-cli info "
                          "--verbose lists what Windows reports)");
}

} // namespace AdapterAccess
