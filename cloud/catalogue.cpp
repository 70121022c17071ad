// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue.h"

#include <QJsonDocument>

Catalogue parseCatalogue(const QByteArray &body)
{
    Catalogue catalogue;
    const QJsonObject root = QJsonDocument::fromJson(body).object();
    if (root.isEmpty())
        return catalogue;
    const QJsonObject download = root.value(QLatin1String("download")).toObject();
    catalogue.valid = true;
    catalogue.flashTool = download.value(QLatin1String("flashTool")).toObject();
    catalogue.firmware = download.value(QLatin1String("firmware")).toArray();
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
