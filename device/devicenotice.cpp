// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicenotice.h"
#include "logcategories.h"

#include <QDebug>
#include <QStringList>

namespace {

// Hexadecimal text from `skip` characters on; anything that is not hexadecimal reads 0.
quint32 hexFrom(const QString &part, int skip)
{
    bool ok = false;
    const uint value = part.mid(skip).toUInt(&ok, 16);
    return ok ? quint32(value) : 0;
}

} // namespace

ParsedDeviceName parseDeviceInterfaceName(const QString &name)
{
    ParsedDeviceName parsed;
    const QStringList fields = name.split(QLatin1Char('#'));
    if (fields.size() < 2)
        return parsed;
    const QStringList parts = fields.at(1).split(QLatin1Char('&'));
    parsed.isDisk = name.contains(QLatin1String("USBSTOR"));

    quint32 vendor = 0;
    if (parsed.isDisk) {
        // Disk&Ven_xxxx&Prod_xxxx&Rev_x.xx
        if (parts.size() < 3)
            return parsed;
        vendor = hexFrom(parts.at(1), 4);
        parsed.productId = hexFrom(parts.at(2), 5);
        qCDebug(lcDevice) << parts.at(1).mid(4);
        qCDebug(lcDevice) << parts.at(2).mid(5);
        if (parts.size() > 3)
            qCDebug(lcDevice) << parts.at(3).mid(4);
    } else {
        // VID_xxxx&PID_xxxx
        if (parts.size() < 2)
            return parsed;
        vendor = hexFrom(parts.at(0), 4);
        parsed.productId = hexFrom(parts.at(1), 4);
        qCDebug(lcDevice) << parts.at(0).right(4);
        qCDebug(lcDevice) << parts.at(1).right(4);
        if (fields.size() > 2)
            qCDebug(lcDevice) << fields.at(2);
    }
    // A vendor id wider than 16 bits is no vendor id at all (it must not alias 0x0E3A).
    parsed.vendorId = vendor > 0xFFFF ? 0 : quint16(vendor);
    parsed.valid = true;
    return parsed;
}

QString usbInterfaceName(quint16 vendorId, quint16 productId, const QString &serial)
{
    QString id = serial;
    id.replace(QLatin1Char('#'), QLatin1Char('_'));
    return QStringLiteral("\\\\?\\USB#VID_%1&PID_%2#%3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}")
        .arg(QStringLiteral("%1").arg(vendorId, 4, 16, QLatin1Char('0')).toUpper(),
            QStringLiteral("%1").arg(productId, 4, 16, QLatin1Char('0')).toUpper(), id);
}
