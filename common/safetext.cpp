// SPDX-License-Identifier: GPL-3.0-or-later
#include "safetext.h"

#include <QJsonDocument>

namespace SafeText {

bool isUnsafe(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) // controls
        || c == 0x061c || c == 0x200e || c == 0x200f // bidirectional marks
        || (c >= 0x202a && c <= 0x202e) // embeddings and overrides
        || (c >= 0x2066 && c <= 0x2069) // isolates
        || c == 0x2028 || c == 0x2029; // line and paragraph separators
}

bool containsUnsafe(const QString &text)
{
    for (const QChar c : text) {
        if (isUnsafe(c.unicode()))
            return true;
    }
    return false;
}

QString shown(QString text)
{
    for (QChar &c : text) {
        if (isUnsafe(c.unicode()))
            c = QLatin1Char('?');
    }
    return text;
}

QByteArray json(const QJsonDocument &document)
{
    // Qt escapes the C0 controls itself; the rest leave it as raw UTF-8, which can only stand
    // inside a string, where an escape means the same character.
    const QString text = QString::fromUtf8(document.toJson(QJsonDocument::Compact));
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (isUnsafe(c.unicode()))
            escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped.toUtf8();
}

} // namespace SafeText
