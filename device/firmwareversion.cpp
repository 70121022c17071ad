// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareversion.h"

#include <QStringList>

namespace FirmwareVersion {

QString text(quint8 major, quint8 minor, quint8 patch)
{
    return QStringLiteral("%1.%2.%3").arg(uint(major)).arg(uint(minor)).arg(uint(patch));
}

qint64 component(const QString &version, int index)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    if (index < 0 || index >= parts.size())
        return 0;
    bool ok = false;
    const uint value = parts.at(index).toUInt(&ok);
    return ok ? qint64(value) : 0;
}

qint64 majorMinor(const QString &version)
{
    return component(version, 0) * 10 + component(version, 1);
}

int compare(const QString &a, const QString &b)
{
    for (int i = 0; i < 3; ++i) {
        const qint64 va = component(a, i);
        const qint64 vb = component(b, i);
        if (va != vb)
            return va < vb ? -1 : 1;
    }
    return 0;
}

int compareMajorMinor(const QString &a, const QString &b)
{
    const qint64 va = majorMinor(a);
    const qint64 vb = majorMinor(b);
    if (va == vb)
        return 0;
    return va > vb ? 1 : -1;
}

bool isCompatible(const QString &a, const QString &b)
{
    return compareMajorMinor(a, b) == 0;
}

int newest(const QStringList &versions)
{
    int found = -1;
    for (int i = 0; i < versions.size(); ++i) {
        if (!versions.at(i).isEmpty()
            && (found < 0 || compare(versions.at(i), versions.at(found)) > 0))
            found = i;
    }
    return found;
}

bool keepsConfigurationStore(const QString &version)
{
    return compare(version, QStringLiteral("5.5.0")) >= 0;
}

bool supportsBootMode(const QString &version)
{
    return compare(version, QStringLiteral("5.5.24")) >= 0;
}

bool writesMacroLayout4(const QString &version)
{
    return compare(version, QStringLiteral("5.6.0")) >= 0;
}

} // namespace FirmwareVersion
