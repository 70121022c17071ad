// SPDX-License-Identifier: GPL-3.0-or-later
#include "syncloud.h"

#include "privatefiles.h"
#include "settingswriteguard.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
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
#include <QTimer>

#include <utility>

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

// A request for the catalogue or an image. The body is asked for as it is stored: Qt would
// otherwise ask for gzip and unpack it before the size limit sees a byte.
QNetworkRequest plainRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

// Collects a reply's body as it arrives and aborts the reply as soon as the announced or
// received size passes the limit, so an oversized body is never held in memory. A body in an
// encoding that was not asked for is refused too.
class ReplyBody : public QObject
{
public:
    explicit ReplyBody(QNetworkReply *reply) : QObject(reply), m_reply(reply)
    {
        // Keeps the network thread from reading far ahead of what has been checked.
        reply->setReadBufferSize(ReadAheadSize);
        connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
            bool known = false;
            const qint64 announced
                = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
            const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed();
            if (known && announced > SyncCloud::MaxReplySize)
                refuse(oversizeText());
            else if (!encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0)
                refuse(QStringLiteral("reply in unrequested encoding '%1' refused")
                           .arg(QString::fromLatin1(encoding.left(40))));
        });
        connect(reply, &QNetworkReply::readyRead, this, [this] { drain(); });
    }

    // Why the body was refused; "" when it was not.
    QString refusal() const { return m_refusal; }

    // Drops the body and aborts the reply, which then fails for reason.
    void refuse(const QString &reason)
    {
        if (!m_refusal.isEmpty())
            return;
        m_refusal = reason;
        m_body = QByteArray();
        if (!m_reply->isFinished())
            m_reply->abort();
    }

    // Once the reply has finished: why the body falls short of its announced length (under
    // load Qt can take a connection closed early for the end of the body); "" when it does
    // not. Only a shortfall counts: after a redirect the length can be the redirect's own.
    QString shortfall()
    {
        drain();
        bool known = false;
        const qint64 announced
            = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (!known || !m_refusal.isEmpty() || qint64(m_body.size()) >= announced)
            return {};
        return QStringLiteral("the server sent %1 of %2 bytes").arg(m_body.size()).arg(announced);
    }

    // The whole body; call once the reply has finished.
    QByteArray take()
    {
        drain();
        return std::exchange(m_body, QByteArray());
    }

private:
    static constexpr qint64 ReadAheadSize = 1024 * 1024;

    static QString oversizeText()
    {
        return QStringLiteral("reply larger than %1 bytes refused").arg(SyncCloud::MaxReplySize);
    }

    void drain()
    {
        if (!m_refusal.isEmpty())
            return;
        if (qint64(m_body.size()) + m_reply->bytesAvailable() > SyncCloud::MaxReplySize)
            refuse(oversizeText());
        else
            m_body.append(m_reply->readAll());
    }

    QNetworkReply *m_reply;
    QByteArray m_body;
    QString m_refusal;
};

// Ends an image download that, once its first span has passed, receives less than
// SyncCloud::MinimumDownloadRate bytes per second on average over any later span: a server
// that sends a byte now and then never lets the inactivity time-out fire.
class RateWatch : public QObject
{
public:
    RateWatch(QNetworkReply *reply, ReplyBody *body, int spanMs)
        : QObject(reply), m_reply(reply), m_body(body), m_spanMs(spanMs)
    {
        m_clock.start();
        connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64) { m_received = received; });
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { check(); });
        timer->start(qMax(1, spanMs / 10));
    }

private:
    struct Sample
    {
        qint64 ms;
        qint64 received;
    };

    void check()
    {
        if (m_reply->isFinished())
            return;
        const qint64 now = m_clock.elapsed();
        m_samples.append({ now, m_received });
        // The span judged starts at the newest sample that is at least a span old.
        int start = -1;
        while (start + 1 < m_samples.size() && now - m_samples.at(start + 1).ms >= m_spanMs)
            ++start;
        if (start < 0)
            return;
        m_samples.erase(m_samples.begin(), m_samples.begin() + start);
        const Sample from = m_samples.first();
        if (from.ms < m_spanMs)
            return;
        if ((m_received - from.received) * 1000 < SyncCloud::MinimumDownloadRate * (now - from.ms))
            m_body->refuse(QStringLiteral("less than %1 bytes/s from %2 over %3 s")
                               .arg(SyncCloud::MinimumDownloadRate)
                               .arg(m_reply->url().adjusted(QUrl::RemoveUserInfo).authority())
                               .arg(m_spanMs / 1000.0));
    }

    QNetworkReply *m_reply;
    ReplyBody *m_body;
    const int m_spanMs;
    QElapsedTimer m_clock;
    qint64 m_received = 0;
    QList<Sample> m_samples;
};

// The base of the time limits: the transfer time-out, or its default when it is off.
int timeLimit(const SyncCloud *cloud)
{
    return cloud->transferTimeout() > 0 ? cloud->transferTimeout()
                                        : SyncCloud::DefaultTransferTimeoutMs;
}

// Why a finished reply carries no usable body; "" when it does.
QString replyFailure(const SyncCloud *cloud, const QNetworkReply *reply, ReplyBody *body)
{
    if (!body->refusal().isEmpty())
        return body->refusal();
    // Nothing else here aborts a reply: it was the transfer time-out.
    if (reply->error() == QNetworkReply::OperationCanceledError
        || reply->error() == QNetworkReply::TimeoutError)
        return QStringLiteral("no data from %1 for %2 s")
            .arg(reply->url().adjusted(QUrl::RemoveUserInfo).authority())
            .arg(cloud->transferTimeout() / 1000.0);
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299)
            return QStringLiteral("HTTP status %1").arg(code);
    }
    return body->shortfall();
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
            qInfo().noquote().nospace() << "Created directory. " << m_storagePath;
        else
            qWarning().noquote().nospace() << "Failed to create directory. " << m_storagePath;
    } else {
        PrivateFiles::makeDirectory(m_storagePath); // tightens one that an earlier version made
    }

    const QString settingsPath
        = QStringLiteral("%1/%2").arg(m_storagePath, QStringLiteral("corvaneflashtool.ini"));
    qInfo().noquote() << "SyncCloud settings_path" << settingsPath;
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
    qDebug() << "SyncCloud::getInformation" << m_firmwareInfo;

    QNetworkReply *reply = get(plainRequest(catalogueUrl()));
    auto *body = new ReplyBody(reply);
    // However slowly the server keeps sending, the fetch ends (and the cached list is used).
    const int deadline = catalogueDeadline();
    QTimer::singleShot(deadline, body, [reply, body, deadline] {
        body->refuse(QStringLiteral("no complete catalogue from %1 within %2 s")
                         .arg(reply->url().adjusted(QUrl::RemoveUserInfo).authority())
                         .arg(deadline / 1000.0));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body] {
        const QString failure = replyFailure(this, reply, body);
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
        qWarning().noquote() << "CloudService get information finished error" << failure;
    } else {
        m_lastError.clear();
        m_synced = true;
        emit isSyncedChanged(true);

        const QJsonObject root = QJsonDocument::fromJson(data).object();
        if (root.isEmpty()) {
            m_lastError = QStringLiteral("the catalogue is not a non-empty JSON object");
            emit syncError(SyncError_InformationError);
        } else {
            const QJsonObject download = root.value(QLatin1String("download")).toObject();
            m_flashTool = download.value(QLatin1String("flashTool")).toObject();
            const QJsonArray firmware = download.value(QLatin1String("firmware")).toArray();
            qInfo() << "firmawreInfoChanged------------------------" << firmware << m_firmwareInfo;
            m_firmwareInfo = firmware;
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
    QStringList versions;
    versions.reserve(m_firmwareInfo.size());
    for (const QJsonValue &entry : m_firmwareInfo)
        versions.append(entry.toObject().value(QLatin1String("version")).toString());
    return versions;
}

QString SyncCloud::firmwareInfoText(int index) const
{
    if (index < 0 || index >= m_firmwareInfo.size())
        return {};
    return m_firmwareInfo.at(index).toObject().value(QLatin1String("info")).toString();
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
        qWarning() << "getFirmware refused firmware version" << version;
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
    qDebug() << "getFirmware firmware downloading...";

    const QUrl url(entry.value(QLatin1String("download")).toString(), QUrl::TolerantMode);
    if (!isWebAddress(url)) {
        m_lastError = QStringLiteral("unusable download address '%1'").arg(url.toString());
        qWarning() << "getFirmware refused download address" << url;
        emit syncError(SyncError_NetworkError);
        return result;
    }
    // A list that came over https does not hand the image to anyone on the way.
    if (url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        && isCatalogueSecure()) {
        m_lastError = QStringLiteral("plain http address '%1' of a catalogue fetched over https "
                                     "refused")
                          .arg(url.toString());
        qWarning() << "getFirmware refused download address" << url;
        emit syncError(SyncError_NetworkError);
        return result;
    }

    QEventLoop loop;
    QNetworkReply *reply = get(plainRequest(url));
    auto *body = new ReplyBody(reply);
    new RateWatch(reply, body, timeLimit(this));
    connect(
        reply, &QNetworkReply::downloadProgress, this, [this, body](qint64 received, qint64 total) {
            if (body->refusal().isEmpty())
                emit downloadFirmwareProgress(received, total);
        });
    // The local loop is the context: should the loop end early (the application quitting
    // ends every event loop), the handler can no longer reach this call's locals.
    connect(reply, &QNetworkReply::finished, &loop,
        [this, &loop, &result, reply, body, path, version, refresh] {
        const QString failure = replyFailure(this, reply, body);
        if (!failure.isEmpty()) {
            m_lastError = failure;
            qWarning().noquote() << "getFirmware download failed" << reply->url().toString()
                                 << failure;
            emit syncError(SyncError_NetworkError);
        } else {
            const QByteArray data = body->take();
            qDebug() << "download firmware file data size:" << data.size();
            // An empty body is never an image; caching it would stand for this version for good.
            QString refusal;
            if (data.isEmpty()) {
                m_lastError = QStringLiteral("the server sent an empty firmware image");
                qWarning() << "getFirmware empty firmware image" << reply->url();
                emit syncError(SyncError_NetworkError);
            } else if (!(refusal = admitImage(version, data, refresh)).isEmpty()) {
                m_lastError = refusal;
                qWarning().noquote() << "getFirmware image refused:" << refusal;
                emit syncError(SyncError_DownloadFail);
            } else {
                // Written under a temporary name and renamed, so no partial file is ever cached.
                QSaveFile file(path);
                if (file.open(QIODevice::WriteOnly) && PrivateFiles::restrict(file)
                    && file.write(data) == data.size()
                    && file.commit()) {
                    m_lastError.clear();
                    result = path;
                    emit firmwareFileListChanged();
                } else {
                    m_lastError
                        = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
                    qWarning().noquote()
                        << "getFirmware cannot write firmware file" << path << file.errorString();
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
    qDebug() << "firmware download...";
    loop.exec();
    qDebug() << "firmware finshed.";
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
    const QByteArray line = digest + ' '
        + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toLatin1() + '\n';
    QSaveFile file(recordPath);
    if (!file.open(QIODevice::WriteOnly)
        || !PrivateFiles::restrict(file)
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
