// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QNetworkReply;
class QNetworkRequest;
class QUrl;

// The body of a network reply, collected as it arrives under a size limit: the reply is
// aborted as soon as its announced or received size passes the limit, so an oversized body
// is never held in memory. A body in an encoding that was not asked for is refused too. A
// deadline and a minimum transfer rate can end the reply as well. Child of the reply.
class BoundedReply : public QObject
{
public:
    // Headers beyond this many bytes refuse the reply.
    static constexpr qint64 MaxHeaderSize = 64 * 1024;

    BoundedReply(QNetworkReply *reply, qint64 maxSize);

    // A GET request whose body is asked for as it is stored: Qt would otherwise ask for gzip
    // and unpack it before the size limit sees a byte.
    static QNetworkRequest plainRequest(const QUrl &url);

    // Refuses the body when the reply has not finished after ms, however slowly the server
    // keeps sending: "no complete <what> from <host> within <s> s".
    void setDeadline(int ms, const QString &what);
    // Once the first spanMs have passed, refuses the body when less than bytesPerSecond arrive
    // on average over any span of that length: a server that sends a byte now and then never
    // lets the inactivity time-out fire.
    void setMinimumRate(int spanMs, qint64 bytesPerSecond);
    // Refuses the reply when its headers have not all arrived ms after the request (or after
    // its last redirect). Qt holds header lines as they come and shows none of them before
    // the last, and they do not count as received data for the transfer time-out: a server
    // sending header lines without end is bounded by this time alone.
    void setHeaderDeadline(int ms);

    // Drops the body and aborts the reply, which then fails for reason.
    void refuse(const QString &reason);
    // Why the body was refused; "" when it was not.
    QString refusal() const { return m_refusal; }
    // True when the reply was refused for its size: the server answered, but too much.
    bool isOversized() const { return m_oversized; }

    // Once the reply has finished: why it carries no usable body, "" when it does.
    // inactivityMs is the transfer time-out, named when Qt ended the reply for it.
    QString failure(int inactivityMs);
    // The whole body; call once the reply has finished.
    QByteArray take();

    // "host:port" of the reply's address, for messages.
    QString authority() const;

private:
    void checkHeaders();
    void refuseOversized();
    void drain();
    // Why the body falls short of its announced length (under load Qt can take a connection
    // closed early for the end of the body); "" when it does not. Only a shortfall counts:
    // after a redirect the length can be the redirect's own.
    QString shortfall();

    QNetworkReply *m_reply;
    const qint64 m_maxSize;
    QByteArray m_body;
    QString m_refusal;
    bool m_oversized = false;
    bool m_headersSeen = false;
};
