// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLibrary>
#include <QList>
#include <QSignalSpy>
#include <QStringList>

namespace TestData {

// Deterministic bytes that differ from seed to seed and do not repeat every 256 bytes, so
// a block written to the wrong place or a chunk written twice shows.
inline QByteArray pattern(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 31 + seed + i / 251) & 0xFF);
    return bytes;
}

// The first argument of every emission a spy recorded (the current value of progress).
inline QList<qlonglong> currents(const QSignalSpy &spy)
{
    QList<qlonglong> values;
    for (const QList<QVariant> &args : spy)
        values.append(args.at(0).toLongLong());
    return values;
}

// Files whose names start with prefix below dir (the target and any temporary sibling).
inline QStringList filesBelow(const QString &dir, const QString &prefix = QString())
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (prefix.isEmpty() || QFileInfo(file).fileName().startsWith(prefix))
            found.append(file);
    }
    return found;
}

// Whether this Windows program runs under Wine, which lacks a few of the services of Windows.
inline bool underWine()
{
    return QLibrary::resolve(QStringLiteral("ntdll"), "wine_get_version") != nullptr;
}

} // namespace TestData
