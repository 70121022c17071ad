// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue.h"

#include "versionlabel.h"

#include <QJsonDocument>
#include <QSet>

Catalogue parseCatalogue(const QByteArray &body)
{
    Catalogue catalogue;
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    if (root.isEmpty())
        return catalogue;
    const QJsonObject download = root.value(QLatin1String("download")).toObject();
    const QJsonArray firmware = download.value(QLatin1String("firmware")).toArray();
    if (firmware.size() > Catalogue::MaxEntries)
        return catalogue;
    catalogue.valid = true;
    catalogue.flashTool = download.value(QLatin1String("flashTool")).toObject();
    catalogue.firmware = Catalogue::normalisedList(firmware, &catalogue.duplicates);
    return catalogue;
}

QStringList Catalogue::versionsOf(const QJsonArray &firmware)
{
    QStringList versions;
    versions.reserve(firmware.size());
    for (const QJsonValue &entry : firmware)
        versions.append(entry.toObject().value(QLatin1String("version")).toString());
    return versions;
}

QString Catalogue::infoTextOf(const QJsonArray &firmware, int index)
{
    if (index < 0 || index >= firmware.size())
        return {};
    return firmware.at(index).toObject().value(QLatin1String("info")).toString();
}

QJsonArray Catalogue::normalisedList(const QJsonArray &firmware, QStringList *duplicates)
{
    const QString versionKey = QStringLiteral("version");
    QJsonArray list;
    QSet<QString> seen;
    for (const QJsonValue &value : firmware) {
        QJsonObject entry = value.toObject();
        const QString label = entry.value(versionKey).toString();
        const QString version = VersionLabel::normalised(label);
        if (version.isEmpty()) {
            list.append(value);
            continue;
        }
        if (seen.contains(version)) {
            duplicates->append(label);
            continue;
        }
        seen.insert(version);
        if (version == label) {
            list.append(value);
        } else {
            entry.insert(versionKey, version);
            list.append(entry);
        }
    }
    return list;
}
