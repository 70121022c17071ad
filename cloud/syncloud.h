// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

class QNetworkReply;
class QSettings;

// The firmware catalogue, the local cache of firmware images and the settings file.
// The catalogue is fetched once per run; the last firmware list received is kept in
// the settings file and used when the network fails.
class SyncCloud : public QNetworkAccessManager
{
    Q_OBJECT
public:
    enum SyncError {
        SyncError_FirstRunError = 0,
        SyncError_LocalCacheUsed = 1,
        SyncError_InformationError = 2,
        SyncError_DownloadFail = 3,
        SyncError_ChecksumError = 4,
        SyncError_NetworkError = 5,
    };
    Q_ENUM(SyncError)

    // Replies (catalogue or image) larger than this are aborted instead of being held in memory.
    static constexpr qint64 MaxReplySize = 16 * 1024 * 1024;
    // A transfer that receives nothing for this long fails.
    static constexpr int DefaultTransferTimeoutMs = 30000;
    // An image download fails when, after its first transfer time-out's length, it receives
    // less than this per second on average over any span of that length.
    static constexpr qint64 MinimumDownloadRate = 1024;

    explicit SyncCloud(QObject *parent = nullptr);
    ~SyncCloud() override;

    void getInformation();
    // Takes the firmware list that an earlier sync cached, without touching the network.
    void loadCachedInformation();
    bool isSynced() const;
    QStringList firmwareVersions() const;
    QString firmwareInfoText(int index) const;
    QJsonObject flashToolInfo() const;
    int currentLanguage() const;
    void setCurrentLanguage(int index);
    // The local image of entry index, downloaded when it is not cached. With refresh it is
    // downloaded even when cached, and its bytes replace those remembered for the version.
    QString getFirmware(int index, bool refresh = false);

    // The firmware list in force (cached or fetched), one object per version.
    QJsonArray firmwareInfo() const;
    QString storagePath() const;
    // Cache file of a version; "" when the version cannot be used as part of a file name.
    QString firmwareFilePath(const QString &version) const;
    // False for a version that could lead the cache path out of the data directory.
    static bool isSafeFirmwareVersion(const QString &version);
    // True for a readable regular file: what counts as a cached image.
    static bool isCachedFile(const QString &path);
    // True for an http or https address with a host: the only ones fetched or opened.
    static bool isWebAddress(const QUrl &url);
    // The file that remembers the SHA-256 of the image first downloaded for a version; ""
    // when the version cannot be used as part of a file name.
    QString firmwareDigestPath(const QString &version) const;

    // The catalogue fetch ends after twice the transfer time-out (60 s by default), however
    // slowly the server keeps sending.
    int catalogueDeadline() const;

    // Inactivity time-out of the objects created afterwards, in ms (the command line's
    // option, tests); 0 or less restores the default.
    static int defaultTransferTimeout();
    static void setDefaultTransferTimeout(int ms);

    // Scheme, host and optional port of the catalogue server (build default otherwise).
    static QUrl defaultCatalogueHost();
    // Replaces the build default for objects created afterwards (tests); an empty URL restores it.
    static void setDefaultCatalogueHost(const QUrl &host);
    QUrl catalogueHost() const;
    void setCatalogueHost(const QUrl &host);
    QUrl catalogueUrl() const;
    // Why the last catalogue fetch or download failed; "" when it did not.
    QString lastErrorString() const;

signals:
    void syncFinshed();
    void isSyncedChanged(bool synced);
    void firmawreInfoChanged(QJsonArray info);
    void firmwareFileListChanged();
    void syncError(SyncError error);
    void downloadFirmwareProgress(qlonglong bytesReceived, qlonglong bytesTotal);

private:
    void onCatalogueReplyFinished(
        QNetworkReply *reply, const QString &failure, const QByteArray &data);
    // Writes and syncs one key at once, under the settings file's write guard.
    void storeSetting(const QString &key, const QVariant &value);
    // Why the downloaded bytes of version may not be cached; "" when they may, with *record
    // set to the digest line to keep for them when the version has none yet (or refresh
    // replaces it), else empty.
    QString admitImage(
        const QString &version, const QByteArray &data, bool refresh, QByteArray *record);
    // Caches the image of version at path with its digest record (when record is given):
    // the record is written only once the image's bytes are, and the image renamed into place
    // only once the record is, so no record names bytes that are not cached and a cached
    // image always has its record. "" on success, else why not (nothing is left changed).
    QString cacheImage(const QString &path, const QString &version, const QByteArray &data,
        const QByteArray &record);
    // True when the list in force came over https, or the catalogue server is an https one.
    bool isCatalogueSecure() const;

    QSettings *m_settings = nullptr;
    bool m_synced = false;
    QJsonArray m_firmwareInfo;
    QJsonObject m_flashTool;
    QString m_storagePath;
    QUrl m_catalogueHost;
    QString m_lastError;
    bool m_listOverHttps = false;
};
