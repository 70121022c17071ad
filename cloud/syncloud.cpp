// SPDX-License-Identifier: GPL-3.0-or-later
#include "syncloud.h"
#include "logcategories.h"

#include "boundedreply.h"
#include "catalogue.h"
#include "privatefiles.h"
#include "settingswriteguard.h"
#include "versionlabel.h"

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

#include <cerrno>
#include <cstring>

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

// A reply's headers must arrive within a third of the transfer time-out. Below 2 s that
// would fail slow but honest servers; the transfer time-out is short enough then.
void limitHeaders(BoundedReply *body, const SyncCloud *cloud)
{
    const int deadline = timeLimit(cloud) / 3;
    if (deadline >= 2000)
        body->setHeaderDeadline(deadline);
}

void logLeftOut(const QStringList &labels)
{
    for (const QString &label : labels)
        qCWarning(lcCloud) << "firmware list: a second entry for version" << label << "left out";
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
    // An earlier version cached the labels as the catalogue spelled them.
    takeFirmwareList(QJsonDocument::fromJson(cached).array());
}

void SyncCloud::takeFirmwareList(const QJsonArray &list)
{
    QStringList duplicates;
    m_firmwareInfo = list.size() > Catalogue::MaxEntries
        ? QJsonArray()
        : Catalogue::normalisedList(list, &duplicates);
    logLeftOut(duplicates);
}

void SyncCloud::getInformation()
{
    loadCachedInformation();
    qCDebug(lcCloud) << "SyncCloud::getInformation" << m_firmwareInfo;

    QNetworkReply *reply = get(BoundedReply::plainRequest(catalogueUrl()));
    auto *body = new BoundedReply(reply, MaxCatalogueSize);
    // However slowly the server keeps sending, the fetch ends (and the cached list is used).
    body->setDeadline(catalogueDeadline(), QStringLiteral("catalogue"));
    limitHeaders(body, this);
    connect(reply, &QNetworkReply::finished, this, [this, reply, body] {
        const QString failure = body->failure(transferTimeout());
        onCatalogueReplyFinished(
            reply, failure, failure.isEmpty() ? body->take() : QByteArray(), body->isOversized());
    });
}

void SyncCloud::onCatalogueReplyFinished(
    QNetworkReply *reply, const QString &failure, const QByteArray &data, bool oversized)
{
    if (!failure.isEmpty() && !oversized) {
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

        // An oversized catalogue reached the server as much as a malformed one does.
        const Catalogue catalogue = oversized ? Catalogue() : parseCatalogue(data);
        if (!catalogue.valid) {
            m_lastError = oversized ? failure
                                    : QStringLiteral("the catalogue is not a non-empty JSON object "
                                                     "of at most %1 firmware versions")
                                          .arg(Catalogue::MaxEntries);
            qCWarning(lcCloud).noquote() << "CloudService catalogue refused:" << m_lastError;
            emit syncError(SyncError_InformationError);
        } else {
            logLeftOut(catalogue.duplicates);
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
    const QString label = entry.value(QLatin1String("version")).toString();

    // The catalogue is at fault here, not the network.
    const QString version = VersionLabel::normalised(label);
    if (version.isEmpty()) {
        m_lastError = QStringLiteral("'%1' is not a firmware version").arg(label);
        qCWarning(lcCloud) << "getFirmware refused firmware version" << label;
        emit syncError(SyncError_InformationError);
        return result;
    }

    const QString path = firmwareFilePath(version);
    if (!refresh) {
        const QString cached = cachedFirmware(version);
        if (!cached.isEmpty())
            return cached;
    }

    emit syncError(SyncError_ChecksumError);
    // A refresh keeps the cached image until the new one replaces it.
    if (!refresh)
        QFile::remove(path);
    qCDebug(lcCloud) << "getFirmware firmware downloading...";

    const QUrl url(entry.value(QLatin1String("download")).toString(), QUrl::TolerantMode);
    if (!isUsableAddress(url)) {
        // A list that came over https does not hand the image to anyone on the way.
        m_lastError = isWebAddress(url)
            ? QStringLiteral("plain http address '%1' of a catalogue fetched over https refused")
                  .arg(url.toString())
            : QStringLiteral("unusable download address '%1'").arg(url.toString());
        qCWarning(lcCloud) << "getFirmware refused download address" << url;
        emit syncError(SyncError_NetworkError);
        return result;
    }

    QEventLoop loop;
    QNetworkReply *reply = get(BoundedReply::plainRequest(url));
    auto *body = new BoundedReply(reply, MaxReplySize);
    body->setMinimumRate(timeLimit(this), MinimumDownloadRate);
    limitHeaders(body, this);
    connect(
        reply, &QNetworkReply::downloadProgress, this, [this, body](qint64 received, qint64 total) {
            if (body->refusal().isEmpty())
                emit downloadFirmwareProgress(received, total);
        });
    // The local loop is the context: should the loop end early (the application quitting
    // ends every event loop), the handler can no longer reach this call's locals.
    connect(reply, &QNetworkReply::finished, &loop,
        [this, &loop, &result, reply, body, path, version, refresh, url] {
            const QString failure = body->failure(transferTimeout());
            if (!failure.isEmpty()) {
                m_lastError = failure;
                qCWarning(lcCloud).noquote()
                    << "getFirmware download failed" << reply->url().toString() << failure;
                emit syncError(SyncError_NetworkError);
            } else {
                const QByteArray data = body->take();
                qCDebug(lcCloud) << "download firmware file data size:" << data.size();
                // An empty body is never an image: the server failed to send one.
                QString refusal;
                if (data.isEmpty()) {
                    m_lastError = QStringLiteral("the server sent an empty firmware image");
                    qCWarning(lcCloud) << "getFirmware empty firmware image" << reply->url();
                    emit syncError(SyncError_NetworkError);
                } else if (!(refusal = admitImage(version, data, refresh, url.toString()))
                                .isEmpty()) {
                    m_lastError = refusal;
                    qCWarning(lcCloud).noquote() << "getFirmware image refused:" << refusal;
                    emit syncError(SyncError_DownloadFail);
                } else {
                    m_lastError.clear();
                    result = path;
                    emit firmwareFileListChanged();
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

QString SyncCloud::cachedFirmware(const QString &version)
{
    const QString path = firmwareFilePath(version);
    if (path.isEmpty() || !isCachedFile(path))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // No download is larger; a larger file is not read whole.
    const QByteArray content = file.read(MaxReplySize + 1);
    file.close();
    QString problem;
    if (content.size() > MaxReplySize)
        problem = QStringLiteral("%1 is larger than any firmware download").arg(path);
    else if (m_imageCheck)
        problem = m_imageCheck(content, version, path);
    QByteArray remembered;
    QString when;
    QString recordError;
    const bool hasRecord = rememberedDigest(version, &remembered, &when, &recordError);
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    if (problem.isEmpty() && hasRecord && remembered != digest)
        problem = QStringLiteral("%1 differs from the image downloaded for %2 on %3")
                      .arg(path, version, when);
    if (problem.isEmpty())
        return path;

    qCWarning(lcCloud).noquote() << "cached firmware refused, to be downloaded again:" << problem;
    QFile::remove(path);
    // A record of bytes that fail the image check vouches for nothing (an earlier version
    // remembered whatever it downloaded first).
    if (hasRecord && remembered == digest)
        QFile::remove(firmwareDigestPath(version));
    return {};
}

void SyncCloud::setImageCheck(const ImageCheck &check)
{
    m_imageCheck = check;
}

QJsonArray SyncCloud::firmwareInfo() const
{
    return m_firmwareInfo;
}

QString SyncCloud::storagePath() const
{
    return m_storagePath;
}

QString SyncCloud::firmwareFilePath(const QString &label) const
{
    const QString version = VersionLabel::normalised(label);
    if (version.isEmpty())
        return {};
    return QStringLiteral("%1/Firmware_V%2.rfw").arg(m_storagePath, version);
}

QString SyncCloud::firmwareDigestPath(const QString &label) const
{
    const QString version = VersionLabel::normalised(label);
    if (version.isEmpty())
        return {};
    return QStringLiteral("%1/Firmware_V%2.sha256").arg(m_storagePath, version);
}

// The record is one line: the SHA-256 in hexadecimal, a space and the download time
// (ISO 8601, UTC).
bool SyncCloud::rememberedDigest(
    const QString &version, QByteArray *digest, QString *when, QString *error) const
{
    QFile known(firmwareDigestPath(version));
    if (!known.exists())
        return false;
    if (!known.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(known.fileName(), known.errorString());
        return false;
    }
    const QList<QByteArray> fields = known.read(256).trimmed().split(' ');
    *digest = fields.first();
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields.value(1)), Qt::ISODate);
    *when = time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"))
                           : QStringLiteral("an unknown date");
    return true;
}

namespace {

// Writes bytes into a file that is not renamed into place yet; "" or why not.
QString writeUncommitted(QSaveFile &file, const QByteArray &bytes)
{
    errno = 0;
    if (file.open(QIODevice::WriteOnly) && PrivateFiles::restrict(file)
        && file.write(bytes) == bytes.size() && file.flush())
        return {};
    // Qt does not always name the system's reason (a full disk read "Unknown error").
    const int error = errno;
    const QString reason = file.errorString();
    file.cancelWriting();
    return QStringLiteral("cannot write %1: %2")
        .arg(file.fileName(), error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : reason);
}

// Renames a written file into place; "" or why not.
QString commitWritten(QSaveFile &file)
{
    errno = 0;
    if (file.commit())
        return {};
    const int error = errno;
    return QStringLiteral("cannot write %1: %2")
        .arg(file.fileName(),
            error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : file.errorString());
}

} // namespace

// Both files are cached only once the bytes have passed every check, each under a temporary
// name and renamed: the record only once the image's bytes are written, the image only once
// the record is in place, so a cached image always has its record and no record written here
// names bytes that are not cached.
QString SyncCloud::admitImage(
    const QString &version, const QByteArray &data, bool refresh, const QString &name)
{
    if (m_imageCheck) {
        const QString problem = m_imageCheck(data, version, name);
        if (!problem.isEmpty())
            return problem;
    }
    const QByteArray digest = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    QByteArray remembered;
    QString when;
    QString error;
    const bool hasRecord = rememberedDigest(version, &remembered, &when, &error);
    if (!error.isEmpty())
        return error;
    if (hasRecord && remembered != digest && !refresh)
        return QStringLiteral("the image for %1 differs from the one downloaded on %2")
            .arg(version, when);

    const QString path = firmwareFilePath(version);
    QSaveFile image(path);
    QString failure = writeUncommitted(image, data);
    if (!failure.isEmpty())
        return failure;

    const bool newRecord = !hasRecord || remembered != digest;
    const QString recordPath = firmwareDigestPath(version);
    QByteArray previous;
    if (newRecord) {
        if (hasRecord) {
            QFile known(recordPath);
            if (known.open(QIODevice::ReadOnly))
                previous = known.read(256);
        }
        const QByteArray line = digest + ' '
            + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() + '\n';
        QSaveFile record(recordPath);
        failure = writeUncommitted(record, line);
        if (failure.isEmpty())
            failure = commitWritten(record);
        if (!failure.isEmpty()) {
            image.cancelWriting();
            return failure;
        }
    }
    failure = commitWritten(image);
    if (failure.isEmpty() || !newRecord)
        return failure;
    // The record goes back to what it was: it must not name bytes that are not cached.
    if (previous.isEmpty()) {
        QFile::remove(recordPath);
    } else {
        QSaveFile restored(recordPath);
        if (!writeUncommitted(restored, previous).isEmpty() || !commitWritten(restored).isEmpty())
            qCWarning(lcCloud).noquote() << "getFirmware cannot put back" << recordPath;
    }
    return failure;
}

bool SyncCloud::isCatalogueSecure() const
{
    return m_listOverHttps
        || m_catalogueHost.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool SyncCloud::isUsableAddress(const QUrl &url) const
{
    return isWebAddress(url)
        && (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
            || !isCatalogueSecure());
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
