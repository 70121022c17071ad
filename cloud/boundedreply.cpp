// SPDX-License-Identifier: GPL-3.0-or-later
#include "boundedreply.h"

#include <QElapsedTimer>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include <utility>

namespace {

// Keeps the network thread from reading far ahead of what has been checked.
constexpr qint64 ReadAheadSize = 1024 * 1024;

QString oversizeText(qint64 maxSize)
{
    return QStringLiteral("reply larger than %1 bytes refused").arg(maxSize);
}

// Samples the bytes received every tenth of a span and refuses the body when the newest span
// that is at least a span old saw less than the minimum rate.
class RateWatch : public QObject
{
public:
    RateWatch(QNetworkReply *reply, BoundedReply *body, int spanMs, qint64 bytesPerSecond)
        : QObject(body), m_reply(reply), m_body(body), m_spanMs(spanMs), m_rate(bytesPerSecond)
    {
        m_clock.start();
        connect(reply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64) { m_received = received; });
        connect(&m_timer, &QTimer::timeout, this, [this] { check(); });
        m_timer.start(qMax(1, spanMs / 10));
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
        if ((m_received - from.received) * 1000 < m_rate * (now - from.ms))
            m_body->refuse(QStringLiteral("less than %1 bytes/s from %2 over %3 s")
                               .arg(m_rate)
                               .arg(m_body->authority())
                               .arg(m_spanMs / 1000.0));
    }

    QNetworkReply *m_reply;
    BoundedReply *m_body;
    const int m_spanMs;
    const qint64 m_rate;
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_received = 0;
    QList<Sample> m_samples;
};

} // namespace

BoundedReply::BoundedReply(QNetworkReply *reply, qint64 maxSize)
    : QObject(reply), m_reply(reply), m_maxSize(maxSize)
{
    reply->setReadBufferSize(ReadAheadSize);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] { checkHeaders(); });
    connect(reply, &QNetworkReply::readyRead, this, [this] { drain(); });
}

QNetworkRequest BoundedReply::plainRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

void BoundedReply::setDeadline(int ms, const QString &what)
{
    QTimer::singleShot(ms, this, [this, ms, what] {
        refuse(QStringLiteral("no complete %1 from %2 within %3 s")
                   .arg(what, authority())
                   .arg(ms / 1000.0));
    });
}

void BoundedReply::setMinimumRate(int spanMs, qint64 bytesPerSecond)
{
    new RateWatch(m_reply, this, spanMs, bytesPerSecond);
}

void BoundedReply::setHeaderDeadline(int ms)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, ms] {
        if (!m_headersSeen && !m_reply->isFinished())
            refuse(QStringLiteral("no complete headers from %1 within %2 s")
                       .arg(authority())
                       .arg(ms / 1000.0));
    });
    // Each hop of a redirect sends headers of its own.
    connect(m_reply, &QNetworkReply::redirected, timer, [this, timer] {
        m_headersSeen = false;
        timer->start();
    });
    timer->start(ms);
}

void BoundedReply::refuse(const QString &reason)
{
    if (!m_refusal.isEmpty())
        return;
    m_refusal = reason;
    m_body = QByteArray();
    if (!m_reply->isFinished())
        m_reply->abort();
}

void BoundedReply::refuseOversized()
{
    if (m_refusal.isEmpty())
        m_oversized = true;
    refuse(oversizeText(m_maxSize));
}

QString BoundedReply::failure(int inactivityMs)
{
    if (!m_refusal.isEmpty())
        return m_refusal;
    // Nothing else here aborts a reply: it was the transfer time-out.
    if (m_reply->error() == QNetworkReply::OperationCanceledError
        || m_reply->error() == QNetworkReply::TimeoutError)
        return QStringLiteral("no data from %1 for %2 s")
            .arg(authority())
            .arg(inactivityMs / 1000.0);
    if (m_reply->error() != QNetworkReply::NoError)
        return m_reply->errorString();
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        if (code < 200 || code > 299)
            return QStringLiteral("HTTP status %1").arg(code);
    }
    return shortfall();
}

QByteArray BoundedReply::take()
{
    drain();
    return std::exchange(m_body, QByteArray());
}

QString BoundedReply::authority() const
{
    return m_reply->url().adjusted(QUrl::RemoveUserInfo).authority();
}

void BoundedReply::checkHeaders()
{
    // A redirect that is followed has headers, but the reply's own are still to come.
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_headersSeen = status < 300 || status > 399
        || !m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid();
    qint64 headerSize = 0;
    for (const auto &header : m_reply->rawHeaderPairs())
        headerSize += header.first.size() + header.second.size() + 4; // ": " and CR LF
    if (headerSize > MaxHeaderSize) {
        refuse(QStringLiteral("reply headers larger than %1 bytes refused").arg(MaxHeaderSize));
        return;
    }
    bool known = false;
    const qint64 announced
        = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed();
    // A body in an encoding that was not asked for is no reply to this request at all.
    if (!encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0)
        refuse(QStringLiteral("reply in unrequested encoding '%1' refused")
                   .arg(QString::fromLatin1(encoding.left(40))));
    else if (known && announced > m_maxSize)
        refuseOversized();
}

void BoundedReply::drain()
{
    if (!m_refusal.isEmpty())
        return;
    if (qint64(m_body.size()) + m_reply->bytesAvailable() > m_maxSize)
        refuseOversized();
    else
        m_body.append(m_reply->readAll());
}

QString BoundedReply::shortfall()
{
    drain();
    bool known = false;
    const qint64 announced
        = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (!known || !m_refusal.isEmpty() || qint64(m_body.size()) >= announced)
        return {};
    return QStringLiteral("the server sent %1 of %2 bytes").arg(m_body.size()).arg(announced);
}
