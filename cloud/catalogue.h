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
    // A catalogue with more entries is refused like a malformed one.
    static constexpr int MaxEntries = 1000;

    // False when the body is not a non-empty JSON object, or lists more than MaxEntries
    // versions; the rest is then empty.
    bool valid = false;
    QJsonObject flashTool;
    // The list normalised (normalisedList).
    QJsonArray firmware;
    // The labels of the entries that normalisedList left out.
    QStringList duplicates;

    // The "version" of every entry of a firmware list, in order ("" for an entry without one).
    static QStringList versionsOf(const QJsonArray &firmware);
    // The "info" of entry index; "" when there is no such entry.
    static QString infoTextOf(const QJsonArray &firmware, int index);
    // firmware with every label that names a version in its normalised form ("V5.06.3 "
    // becomes "5.6.3"), so that each version is listed, cached and pinned under one name. An
    // entry whose version an earlier entry already names is left out (its label is added to
    // duplicates); an entry whose label names no version stays as it is, to be refused when
    // it is chosen.
    static QJsonArray normalisedList(const QJsonArray &firmware, QStringList *duplicates);
};

// Reads a catalogue body. Pure: no network, no files, no event loop.
Catalogue parseCatalogue(const QByteArray &body);
