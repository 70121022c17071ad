// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareversion.h"

#include <QStringList>

namespace {

// Component `index` of a dotted version as a number; missing or non-numeric parts read 0.
qint64 component(const QStringList &parts, int index)
{
    if (index >= parts.size())
        return 0;
    bool ok = false;
    const uint value = parts.at(index).toUInt(&ok);
    return ok ? qint64(value) : 0;
}

qint64 majorMinorValue(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    return component(parts, 0) * 10 + component(parts, 1);
}

} // namespace

namespace FirmwareVersion {

int compare(const QString &a, const QString &b)
{
    const QStringList partsA = a.split(QLatin1Char('.'));
    const QStringList partsB = b.split(QLatin1Char('.'));
    for (int i = 0; i < 3; ++i) {
        const qint64 va = component(partsA, i);
        const qint64 vb = component(partsB, i);
        if (va != vb)
            return va < vb ? -1 : 1;
    }
    return 0;
}

int compareMajorMinor(const QString &a, const QString &b)
{
    const qint64 va = majorMinorValue(a);
    const qint64 vb = majorMinorValue(b);
    if (va == vb)
        return 0;
    return va > vb ? 1 : -1;
}

bool isCompatible(const QString &a, const QString &b)
{
    return compareMajorMinor(a, b) == 0;
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
