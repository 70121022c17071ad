// SPDX-License-Identifier: GPL-3.0-or-later
// Catalogue replies: the body as the catalogue server would send it, read by parseCatalogue()
// as SyncCloud reads it, then the lists the window reads, the cache file names of the listed
// versions and the cached form of the list.
#include "catalogue.h"
#include "fuzzsupport.h"
#include "syncloud.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

// Only its data directory is used: the file names of the cache.
SyncCloud *cloud = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    FuzzSupport::initialise();
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane X9 Firmware Tool"));
    cloud = new SyncCloud;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using FuzzSupport::check;
    const Catalogue catalogue
        = parseCatalogue(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    if (!catalogue.valid) {
        check(catalogue.firmware.isEmpty() && catalogue.flashTool.isEmpty(),
            "a refused catalogue carries a list");
        return 0;
    }

    const QJsonArray &list = catalogue.firmware;
    const QStringList versions = Catalogue::versionsOf(list);
    check(versions.size() == list.size(), "one version per entry");
    const QString storage = QDir(cloud->storagePath()).absolutePath();
    for (int i = 0; i < versions.size(); ++i) {
        (void)Catalogue::infoTextOf(list, i);
        // A cache file of a listed version never lands outside the data directory.
        const QString path = cloud->firmwareFilePath(versions.at(i));
        if (!path.isEmpty()) {
            const QFileInfo info(path);
            check(info.absolutePath() == storage, "cache file outside the data directory");
            check(info.fileName()
                    == QStringLiteral("Firmware_V") + versions.at(i) + QStringLiteral(".rfw"),
                "cache file name is not Firmware_V<version>.rfw");
        }
    }
    check(Catalogue::infoTextOf(list, -1).isEmpty()
            && Catalogue::infoTextOf(list, list.size()).isEmpty(),
        "change log for an entry that does not exist");

    // The list as the settings file caches it gives the window the same versions, change logs
    // and download addresses next run, and caching it again changes nothing. Numbers are not
    // compared: no entry field the tool reads is one, and integers beyond 2^53 keep their exact
    // value in memory but not in the JSON text.
    const QByteArray cachedText = QJsonDocument(list).toJson(QJsonDocument::Indented);
    const QJsonArray cached = QJsonDocument::fromJson(cachedText).array();
    check(cached.size() == list.size() && Catalogue::versionsOf(cached) == versions,
        "the cached list differs from the list in force");
    for (int i = 0; i < list.size(); ++i) {
        check(Catalogue::infoTextOf(cached, i) == Catalogue::infoTextOf(list, i)
                && cached.at(i).toObject().value(QLatin1String("download"))
                    == list.at(i).toObject().value(QLatin1String("download")),
            "the cached list differs from the list in force");
    }
    check(QJsonDocument(cached).toJson(QJsonDocument::Indented) == cachedText,
        "caching the cached list changes it");
    return 0;
}
