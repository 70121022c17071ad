// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>

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
    // A larger catalogue is refused like a malformed one.
    static constexpr qint64 MaxCatalogueSize = 1024 * 1024;
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
    // A download is cached, and its bytes remembered, only once it has passed every check.
    QString getFirmware(int index, bool refresh = false);
    // The cached image of a version when it passes every check: the image check, and the
    // bytes remembered for the version. A cached file that fails them is removed (and with it
    // a record that vouches for those bytes), so that the next getFirmware fetches it again.
    // "" when there is none.
    QString cachedFirmware(const QString &version);

    // Why content is no firmware image of version ("" when it is); name stands for the bytes
    // in the reason. The programs set the engine's check, so that nothing failing it is
    // cached or remembered; without one, any bytes but none pass.
    using ImageCheck = std::function<QString(
        const QByteArray &content, const QString &version, const QString &name)>;
    void setImageCheck(const ImageCheck &check);

    // The firmware list in force (cached or fetched), one object per version.
    QJsonArray firmwareInfo() const;
    QString storagePath() const;
    // Cache file of the version a label names (VersionLabel::normalised), so that every
    // spelling of a version meets one file; "" when the label names no version.
    QString firmwareFilePath(const QString &label) const;
    // True for a readable regular file: what counts as a cached image.
    static bool isCachedFile(const QString &path);
    // True for an http or https address with a host: the only ones fetched or opened.
    static bool isWebAddress(const QUrl &url);
    // A web address that this catalogue may send the tool to: a catalogue that came over
    // https names https addresses only (images and the tool's upgrade page alike).
    bool isUsableAddress(const QUrl &url) const;
    // The file that remembers the SHA-256 of the image first downloaded for the version a
    // label names; "" when the label names no version.
    QString firmwareDigestPath(const QString &label) const;

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
        QNetworkReply *reply, const QString &failure, const QByteArray &data, bool oversized);
    // Writes and syncs one key at once, under the settings file's write guard.
    void storeSetting(const QString &key, const QVariant &value);
    // Checks the downloaded bytes of version (name: their address) and, when they pass, caches
    // them with their digest remembered (when the version has none yet, or refresh replaces
    // it). Why they were not cached (the system's reason for a failed write); "" when they
    // were. A digest it writes is kept only when the image is cached too.
    QString admitImage(
        const QString &version, const QByteArray &data, bool refresh, const QString &name);
    // The digest remembered for version, and when it was first downloaded; false when there
    // is none or it cannot be read (reason in *error, empty for none).
    bool rememberedDigest(
        const QString &version, QByteArray *digest, QString *when, QString *error) const;
    // True when the list in force came over https, or the catalogue server is an https one.
    bool isCatalogueSecure() const;
    // Takes the list of a catalogue or of the cache, naming the entries it leaves out.
    void takeFirmwareList(const QJsonArray &list);

    QSettings *m_settings = nullptr;
    bool m_synced = false;
    QJsonArray m_firmwareInfo;
    QJsonObject m_flashTool;
    QString m_storagePath;
    QUrl m_catalogueHost;
    QString m_lastError;
    bool m_listOverHttps = false;
    ImageCheck m_imageCheck;
};
