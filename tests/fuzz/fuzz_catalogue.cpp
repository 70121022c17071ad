// SPDX-License-Identifier: GPL-3.0-or-later
// Catalogue replies: the body as the catalogue server would send it, through SyncCloud's
// own fetch (a file: address stands in for the server), then the lists the window reads
// and the settings file that caches the list.
#include "fuzzsupport.h"
#include "syncloud.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

namespace {

QTemporaryDir *serverRoot = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Settings and cache in a temporary place (tmpfs when there is one: the settings file is
    // written on every input).
    const QString base
        = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir home(base + QStringLiteral("/corvane-fuzz-XXXXXX"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    FuzzSupport::initialise();
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Corvane X9 Firmware Tool"));
    serverRoot = new QTemporaryDir(base + QStringLiteral("/corvane-fuzz-server-XXXXXX"));
    QDir(serverRoot->path()).mkpath(QStringLiteral("download/corvane-x9"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using FuzzSupport::check;
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    {
        QFile catalogue(
            serverRoot->filePath(QStringLiteral("download/corvane-x9/corvane-x9.json")));
        check(catalogue.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the body");
        catalogue.write(body);
    }

    // Every input starts without a cached list.
    const QString settingsPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/corvaneflashtool.ini");
    QFile::remove(settingsPath);
    SyncCloud cloud;
    check(cloud.storagePath() + QStringLiteral("/corvaneflashtool.ini") == settingsPath,
        "settings file elsewhere than expected");
    cloud.setCatalogueHost(QUrl::fromLocalFile(serverRoot->path()));

    QEventLoop loop;
    bool finished = false;
    QObject::connect(&cloud, &SyncCloud::syncFinshed, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    cloud.getInformation();
    if (!finished)
        loop.exec();
    check(finished, "the catalogue reply never finished");
    check(cloud.isSynced(), "a delivered body did not count as synced");

    const QJsonArray list = cloud.firmwareInfo();
    const QStringList versions = cloud.firmwareVersions();
    check(versions.size() == list.size(), "one version per entry");
    const QString storage = QDir(cloud.storagePath()).absolutePath();
    for (int i = 0; i < versions.size(); ++i) {
        (void)cloud.firmwareInfoText(i);
        // A cache file of a listed version never lands outside the data directory.
        const QString path = cloud.firmwareFilePath(versions.at(i));
        if (!path.isEmpty()) {
            const QFileInfo info(path);
            check(info.absolutePath() == storage, "cache file outside the data directory");
            check(info.fileName()
                    == QStringLiteral("Firmware_V") + versions.at(i) + QStringLiteral(".rfw"),
                "cache file name is not Firmware_V<version>.rfw");
        }
    }
    check(cloud.firmwareInfoText(-1).isEmpty() && cloud.firmwareInfoText(list.size()).isEmpty(),
        "change log for an entry that does not exist");
    (void)cloud.flashToolInfo();

    // What was cached reads back as the list in force.
    QSettings settings(settingsPath, QSettings::IniFormat);
    const QVariant cached = settings.value(QStringLiteral("FirmwareInfo"));
    if (cached.isValid())
        check(QJsonDocument::fromJson(cached.toByteArray()).array() == list,
            "the cached list differs from the list in force");
    return 0;
}
