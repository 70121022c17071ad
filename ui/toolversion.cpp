// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolversion.h"

#include <QRegularExpression>
#include <QStringList>

bool ToolVersion::isOlder(QString v1, QString v2)
{
    static const QRegularExpression ignored(QStringLiteral("[a-zA-Z() ]"));
    v1.remove(ignored);
    v2.remove(ignored);
    const QStringList a = v1.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    const QStringList b = v2.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (a.size() != 3 || b.size() != 3)
        return false;
    // Packed with unsigned arithmetic, so large or negative parts wrap instead of overflowing.
    const auto pack = [](const QStringList &parts) {
        quint32 value = quint32(parts.at(0).toInt(nullptr, 10));
        value = (value << 8) | quint32(parts.at(1).toInt(nullptr, 10));
        value = (value << 8) | quint32(parts.at(2).toInt(nullptr, 10));
        return qint32(value);
    };
    return pack(a) < pack(b);
}
