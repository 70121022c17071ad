// SPDX-License-Identifier: GPL-3.0-or-later
#include "syncloud.h"
#include "logcategories.h"

#include "boundedreply.h"
#include "catalogue.h"
#include "privatefiles.h"
#include "settingswriteguard.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMetaType>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

const char CataloguePath[] = "/download/corvane-x9/corvane-x9.json";

QString settingsKeyFirmwareInfo()
{
    return QStringLiteral("FirmwareInfo");
}
QString settingsKeyLanguage()
{
    return QStringLiteral("CurrentLanguage");
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// The platform's proxy configuration (http_proxy, https_proxy, no_proxy on Linux), except
// that loopback addresses are always reached directly.
class SystemProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        if (isLoopbackHost(query.peerHostName()))
            return { QNetworkProxy(QNetworkProxy::NoProxy) };
        return systemProxyForQuery(query);
    }
};

// The base of the time limits: the transfer time-out, or its default when it is off.
int timeLimit(const SyncCloud *cloud)
{
    return cloud->transferTimeout() > 0 ? cloud->transferTimeout()
                                        : SyncCloud::DefaultTransferTimeoutMs;
}

} // namespace

SyncCloud::SyncCloud(QObject *parent)
    : QNetworkAccessManager(parent), m_catalogueHost(defaultCatalogueHost())
{
    qRegisterMetaType<SyncCloud::SyncError>("SyncError");
    qRegisterMetaType<SyncCloud::SyncError>("SyncCloud::SyncError");

    setProxyFactory(new SystemProxyFactory);
    // Follow redirects unless they downgrade https to http (the Qt 6 default).
    setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    // A server that stops sending ends the transfer instead of holding it open for ever.
    setTransferTimeout(defaultTransferTimeout());

    m_storagePath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir dir(m_storagePath);
    if (!dir.exists()) {
        if (PrivateFiles::makeDirectory(m_storagePath))
            qCInfo(lcCloud).noquote().nospace() << "Created directory. " << m_storagePath;
        else
            qCWarning(lcCloud).noquote().nospace()
                << "Failed to create directory. " << m_storagePath;
    } else {
        PrivateFiles::makeDirectory(m_storagePath); // tightens one that an earlier version made
    }

    const QString settingsPath
        = QStringLiteral("%1/%2").arg(m_storagePath, QStringLiteral("corvaneflashtool.ini"));
    qCInfo(lcCloud).noquote() << "SyncCloud settings_path" << settingsPath;
    m_settings = new QSettings(settingsPath, QSettings::IniFormat, this);
}

SyncCloud::~SyncCloud() = default;

void SyncCloud::loadCachedInformation()
{
    const QByteArray cached
        = m_settings->value(settingsKeyFirmwareInfo(), QJsonDocument(QJsonArray()).toJson())
              .toByteArray();
    m_firmwareInfo = QJsonDocument::fromJson(cached).array();
}

void SyncCloud::getInformation()
{
    loadCachedInformation();
    qCDebug(lcCloud) << "SyncCloud::getInformation" << m_firmwareInfo;

    QNetworkReply *reply = get(BoundedReply::plainRequest(catalogueUrl()));
    auto *body = new BoundedReply(reply, MaxReplySize);
    // However slowly the server keeps sending, the fetch ends (and the cached list is used).
    body->setDeadline(catalogueDeadline(), QStringLiteral("catalogue"));
    connect(reply, &QNetworkReply::finished, this, [this, reply, body] {
        const QString failure = body->failure(transferTimeout());
        onCatalogueReplyFinished(reply, failure, failure.isEmpty() ? body->take() : QByteArray());
    });
}

void SyncCloud::onCatalogueReplyFinished(
    QNetworkReply *reply, const QString &failure, const QByteArray &data)
{
    if (!failure.isEmpty()) {
        m_lastError = failure;
        if (m_firmwareInfo.isEmpty()) {
            emit syncError(SyncError_FirstRunError);
        } else {
            emit syncError(SyncError_LocalCacheUsed);
            emit firmawreInfoChanged(m_firmwareInfo);
        }
        qCWarning(lcCloud).noquote() << "CloudService get information finished error" << failure;
    } else {
        m_lastError.clear();
        m_synced = true;
        emit isSyncedChanged(true);

        const Catalogue catalogue = parseCatalogue(data);
        if (!catalogue.valid) {
            m_lastError = QStringLiteral("the catalogue is not a non-empty JSON object");
            emit syncError(SyncError_InformationError);
        } else {
            m_flashTool = catalogue.flashTool;
            qCInfo(lcCloud) << "firmawreInfoChanged------------------------" << catalogue.firmware
                            << m_firmwareInfo;
            m_firmwareInfo = catalogue.firmware;
            m_listOverHttps
                = reply->url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
            storeSetting(settingsKeyFirmwareInfo(),
                QJsonDocument(m_firmwareInfo).toJson(QJsonDocument::Indented));
            emit firmawreInfoChanged(m_firmwareInfo);
        }
    }
    reply->deleteLater();
    emit syncFinshed();
}

bool SyncCloud::isSynced() const
{
    return m_synced;
}

QStringList SyncCloud::firmwareVersions() const
{
    return Catalogue::versionsOf(m_firmwareInfo);
}

QString SyncCloud::firmwareInfoText(int index) const
{
    return Catalogue::infoTextOf(m_firmwareInfo, index);
}

QJsonObject SyncCloud::flashToolInfo() const
{
    return m_flashTool;
}

int SyncCloud::currentLanguage() const
{
    return m_settings->value(settingsKeyLanguage(), 0).toInt();
}

void SyncCloud::setCurrentLanguage(int index)
{
    storeSetting(settingsKeyLanguage(), index);
}

void SyncCloud::storeSetting(const QString &key, const QVariant &value)
{
    const SettingsWriteGuard guard(*m_settings);
    m_settings->setValue(key, value);
    m_settings->sync();
    PrivateFiles::restrict(m_settings->fileName());
}

QString SyncCloud::getFirmware(int index, bool refresh)
{
    QString result;
    if (index >= m_firmwareInfo.size())
        return result;
    // A negative index selects no entry and reads as an empty object.
    const QJsonObject entry = index >= 0 ? m_firmwareInfo.at(index).toObject() : QJsonObject();
    const QString version = entry.value(QLatin1String("version")).toString();

    // The catalogue is at fault here, not the network.
    if (!isSafeFirmwareVersion(version)) {
        m_lastError = QStringLiteral("version name unusable as a file name");
        qCWarning(lcCloud) << "getFirmware refused firmware version" << version;
        emit syncError(SyncError_InformationError);
        return result;
    }

    const QString path = firmwareFilePath(version);
    if (!refresh && isCachedFile(path))
        return path;

    emit syncError(SyncError_ChecksumError);
    // A refresh keeps the cached image until the new one replaces it.
    if (!refresh)
        QFile::remove(path);
    qCDebug(lcCloud) << "getFirmware firmware downloading...";

    const QUrl url(entry.value(QLatin1String("download")).toString(), QUrl::TolerantMode);
    if (!isWebAddress(url)) {
        m_lastError = QStringLiteral("unusable download address '%1'").arg(url.toString());
        qCWarning(lcCloud) << "getFirmware refused download address" << url;
        emit syncError(SyncError_NetworkError);
        return result;
    }
    // A list that came over https does not hand the image to anyone on the way.
    if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        && isCatalogueSecure()) {
        m_lastError = QStringLiteral("plain http address '%1' of a catalogue fetched over https "
                                     "refused")
                          .arg(url.toString());
        qCWarning(lcCloud) << "getFirmware refused download address" << url;
        emit syncError(SyncError_NetworkError);
        return result;
    }

    QEventLoop loop;
    QNetworkReply *reply = get(BoundedReply::plainRequest(url));
    auto *body = new BoundedReply(reply, MaxReplySize);
    body->setMinimumRate(timeLimit(this), MinimumDownloadRate);
    connect(
        reply, &QNetworkReply::downloadProgress, this, [this, body](qint64 received, qint64 total) {
            if (body->refusal().isEmpty())
                emit downloadFirmwareProgress(received, total);
        });
    // The local loop is the context: should the loop end early (the application quitting
    // ends every event loop), the handler can no longer reach this call's locals.
    connect(reply, &QNetworkReply::finished, &loop,
        [this, &loop, &result, reply, body, path, version, refresh] {
            const QString failure = body->failure(transferTimeout());
            if (!failure.isEmpty()) {
                m_lastError = failure;
                qCWarning(lcCloud).noquote()
                    << "getFirmware download failed" << reply->url().toString() << failure;
                emit syncError(SyncError_NetworkError);
            } else {
                const QByteArray data = body->take();
                qCDebug(lcCloud) << "download firmware file data size:" << data.size();
                // An empty body is never an image; caching it would stand for this version for
                // good.
                QString refusal;
                if (data.isEmpty()) {
                    m_lastError = QStringLiteral("the server sent an empty firmware image");
                    qCWarning(lcCloud) << "getFirmware empty firmware image" << reply->url();
                    emit syncError(SyncError_NetworkError);
                } else if (!(refusal = admitImage(version, data, refresh)).isEmpty()) {
                    m_lastError = refusal;
                    qCWarning(lcCloud).noquote() << "getFirmware image refused:" << refusal;
                    emit syncError(SyncError_DownloadFail);
                } else {
                    // Written under a temporary name and renamed, so no partial file is ever
                    // cached.
                    QSaveFile file(path);
                    if (file.open(QIODevice::WriteOnly) && PrivateFiles::restrict(file)
                        && file.write(data) == data.size() && file.commit()) {
                        m_lastError.clear();
                        result = path;
                        emit firmwareFileListChanged();
                    } else {
                        m_lastError
                            = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
                        qCWarning(lcCloud).noquote() << "getFirmware cannot write firmware file"
                                                     << path << file.errorString();
                        emit syncError(SyncError_DownloadFail);
                    }
                }
            }
            reply->deleteLater();
            loop.quit();
        });
    // Never left waiting if the reply goes away without finishing (manager destroyed).
    connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);

    const QPointer<QNetworkReply> pending(reply);
    qCDebug(lcCloud) << "firmware download...";
    loop.exec();
    qCDebug(lcCloud) << "firmware finshed.";
    if (pending && !pending->isFinished()) {
        // Left before the reply finished: drop the download, keep the cache untouched.
        pending->disconnect(this);
        pending->disconnect(&loop);
        pending->abort();
        pending->deleteLater();
    }
    return result;
}

QJsonArray SyncCloud::firmwareInfo() const
{
    return m_firmwareInfo;
}

QString SyncCloud::storagePath() const
{
    return m_storagePath;
}

QString SyncCloud::firmwareFilePath(const QString &version) const
{
    if (!isSafeFirmwareVersion(version))
        return {};
    return QStringLiteral("%1/Firmware_V%2.rfw").arg(m_storagePath, version);
}

QString SyncCloud::firmwareDigestPath(const QString &version) const
{
    if (!isSafeFirmwareVersion(version))
        return {};
    return QStringLiteral("%1/Firmware_V%2.sha256").arg(m_storagePath, version);
}

// The record is one line: the SHA-256 in hexadecimal, a space and the download time
// (ISO 8601, UTC). It is written before the image is cached, so a cached image always has one.
QString SyncCloud::admitImage(const QString &version, const QByteArray &data, bool refresh)
{
    const QString recordPath = firmwareDigestPath(version);
    const QByteArray digest = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    QFile known(recordPath);
    if (known.exists()) {
        if (!known.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1: %2").arg(recordPath, known.errorString());
        const QList<QByteArray> fields = known.read(256).trimmed().split(' ');
        if (fields.first() == digest)
            return {};
        if (!refresh) {
            const QDateTime when
                = QDateTime::fromString(QString::fromLatin1(fields.value(1)), Qt::ISODate);
            return QStringLiteral("the image for %1 differs from the one downloaded on %2")
                .arg(version,
                    when.isValid() ? when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"))
                                   : QStringLiteral("an unknown date"));
        }
    }
    const QByteArray line
        = digest + ' ' + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() + '\n';
    QSaveFile file(recordPath);
    if (!file.open(QIODevice::WriteOnly) || !PrivateFiles::restrict(file)
        || file.write(line) != line.size() || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(recordPath, file.errorString());
    return {};
}

bool SyncCloud::isCatalogueSecure() const
{
    return m_listOverHttps
        || m_catalogueHost.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool SyncCloud::isCachedFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

bool SyncCloud::isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

bool SyncCloud::isSafeFirmwareVersion(const QString &version)
{
    if (version.contains(QLatin1Char('/')) || version.contains(QLatin1Char('\\'))
        || version.contains(QLatin1String("..")))
        return false;
    for (const QChar c : version) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// Set by setDefaultCatalogueHost(); empty means the build default.
static QUrl &defaultCatalogueHostOverride()
{
    static QUrl host;
    return host;
}

QUrl SyncCloud::defaultCatalogueHost()
{
    if (!defaultCatalogueHostOverride().isEmpty())
        return defaultCatalogueHostOverride();
    return QUrl(QString::fromUtf8(CORVANE_CATALOGUE_HOST));
}

void SyncCloud::setDefaultCatalogueHost(const QUrl &host)
{
    defaultCatalogueHostOverride() = host;
}

// Set by setDefaultTransferTimeout().
static int &defaultTransferTimeoutMs()
{
    static int ms = SyncCloud::DefaultTransferTimeoutMs;
    return ms;
}

int SyncCloud::defaultTransferTimeout()
{
    return defaultTransferTimeoutMs();
}

void SyncCloud::setDefaultTransferTimeout(int ms)
{
    defaultTransferTimeoutMs() = ms > 0 ? ms : DefaultTransferTimeoutMs;
}

int SyncCloud::catalogueDeadline() const
{
    return 2 * timeLimit(this);
}

QUrl SyncCloud::catalogueHost() const
{
    return m_catalogueHost;
}

void SyncCloud::setCatalogueHost(const QUrl &host)
{
    m_catalogueHost = host;
}

QUrl SyncCloud::catalogueUrl() const
{
    QUrl url = m_catalogueHost;
    QString prefix = url.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + QLatin1String(CataloguePath));
    return url;
}

QString SyncCloud::lastErrorString() const
{
    return m_lastError;
}
