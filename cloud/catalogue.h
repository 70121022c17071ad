// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The firmware catalogue as the server sends it: {"download": {"flashTool": {...},
// "firmware": [{"version", "download", "info"}, ...]}}. A key that is missing or of another
// type reads as empty.
struct Catalogue
{
    // False when the body is not a non-empty JSON object; the rest is then empty.
    bool valid = false;
    QJsonObject flashTool;
    QJsonArray firmware;

    // The "version" of every entry of a firmware list, in order ("" for an entry without one).
    static QStringList versionsOf(const QJsonArray &firmware);
    // The "info" of entry index; "" when there is no such entry.
    static QString infoTextOf(const QJsonArray &firmware, int index);
};

// Reads a catalogue body. Pure: no network, no files, no event loop.
Catalogue parseCatalogue(const QByteArray &body);
