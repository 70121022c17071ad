// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "appidentity.h"
#include "httpserverprocess.h"
#include "syncloud.h"

#include <QDir>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

// Helpers shared by the catalogue and download tests.
namespace CloudTest {

// Transfer time-out of the cases whose server goes silent (the default would take 30 s).
constexpr int SilenceTimeoutMs = 1000;

inline QString dataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

inline QString settingsPath()
{
    return dataDir() + QLatin1String("/corvaneflashtool.ini");
}

// Test-mode data directory, removed so every test starts from a first run. It lies below a
// home of this process's own: test programs running at the same time must not share it.
inline void prepareDataDir()
{
    static const QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QStandardPaths::setTestModeEnabled(true);
    AppIdentity::apply();
    QDir(dataDir()).removeRecursively();
}

inline QJsonObject entry(const QString &version, const QString &info, const QString &download)
{
    return QJsonObject { { QStringLiteral("version"), version }, { QStringLiteral("info"), info },
        { QStringLiteral("download"), download } };
}

inline QByteArray catalogue(const QJsonArray &firmware, const QJsonObject &tool = {})
{
    const QJsonObject download { { QStringLiteral("flashTool"), tool },
        { QStringLiteral("firmware"), firmware } };
    return QJsonDocument(QJsonObject { { QStringLiteral("download"), download } }).toJson();
}

inline bool serveCatalogue(const HttpServerProcess &server, const QByteArray &body)
{
    return server.putFile(QStringLiteral("download/corvane-x9/corvane-x9.json"), body);
}

inline void writeSetting(const QString &key, const QVariant &value)
{
    QDir().mkpath(dataDir());
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(key, value);
}

inline QVariant readSetting(const QString &key)
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(key);
}

inline QJsonArray cachedList()
{
    return QJsonDocument::fromJson(readSetting(QStringLiteral("FirmwareInfo")).toByteArray())
        .array();
}

// Every signal of a SyncCloud, in emission order, as readable lines.
class SignalLog
{
public:
    explicit SignalLog(SyncCloud *cloud)
    {
        QObject::connect(
            cloud, &SyncCloud::syncFinshed, [this] { lines << QStringLiteral("syncFinshed"); });
        QObject::connect(cloud, &SyncCloud::isSyncedChanged,
            [this](bool synced) { lines << QStringLiteral("isSyncedChanged %1").arg(synced); });
        QObject::connect(cloud, &SyncCloud::firmawreInfoChanged, [this](const QJsonArray &info) {
            lines << QStringLiteral("firmawreInfoChanged");
            lists << info;
        });
        QObject::connect(cloud, &SyncCloud::firmwareFileListChanged,
            [this] { lines << QStringLiteral("firmwareFileListChanged"); });
        QObject::connect(cloud, &SyncCloud::syncError, [this](SyncCloud::SyncError e) {
            lines << QString::fromLatin1(QMetaEnum::fromType<SyncCloud::SyncError>().valueToKey(e));
        });
        QObject::connect(cloud, &SyncCloud::downloadFirmwareProgress,
            [this](qlonglong received, qlonglong total) {
                if (lines.isEmpty() || lines.last() != QLatin1String("progress"))
                    lines << QStringLiteral("progress");
                progress << qMakePair(received, total);
            });
    }

    QStringList lines; // consecutive progress signals collapse into one line
    QList<QJsonArray> lists; // arguments of firmawreInfoChanged
    QList<QPair<qlonglong, qlonglong>> progress;
};

// Starts the catalogue fetch and waits for its end.
inline bool fetch(SyncCloud &cloud)
{
    QSignalSpy finished(&cloud, &SyncCloud::syncFinshed);
    cloud.getInformation();
    return finished.wait(15000) && finished.count() == 1;
}

} // namespace CloudTest
