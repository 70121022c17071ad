// SPDX-License-Identifier: GPL-3.0-or-later
#include "versionlabel.h"

#include "safetext.h"

#include <QStringList>

namespace VersionLabel {

namespace {

    bool isDecoration(QChar c)
    {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c == QLatin1Char('(')
            || c == QLatin1Char(')') || c == QLatin1Char('[') || c == QLatin1Char(']')
            || c.isSpace() || c.category() == QChar::Other_Format;
    }

} // namespace

QString normalised(const QString &label)
{
    if (SafeText::containsUnsafe(label))
        return QString();
    QString bare;
    for (const QChar c : label) {
        if (!isDecoration(c))
            bare += c;
    }
    const QStringList parts = bare.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return QString();
    uint numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        const QString &part = parts.at(i);
        // ASCII digits only: no signs, no look-alike digits of other scripts.
        if (part.isEmpty())
            return QString();
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return QString();
            numbers[i] = numbers[i] * 10 + uint(c.unicode() - '0');
            if (numbers[i] > 255)
                return QString();
        }
    }
    return QStringLiteral("%1.%2.%3").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
}

} // namespace VersionLabel
