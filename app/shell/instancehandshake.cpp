// SPDX-License-Identifier: GPL-3.0-or-later
#include "instancehandshake.h"

#include "instanceblock.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

namespace InstanceHandshake {

namespace {

    QDataStream &configure(QDataStream &stream)
    {
        stream.setVersion(QDataStream::Qt_5_6);
        stream.setByteOrder(QDataStream::BigEndian);
        return stream;
    }

} // namespace

QByteArray buildBody(const QString &key, qint8 kind, quint32 instanceNumber)
{
    const QByteArray keyBytes = key.toLatin1();
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    configure(stream);
    stream << quint32(keyBytes.size());
    stream.writeRawData(keyBytes.constData(), keyBytes.size());
    stream << kind << instanceNumber;
    stream << instanceChecksum(body.constData(), body.size());
    return body;
}

QByteArray buildHeader(qint64 bodyLength)
{
    QByteArray header;
    QDataStream stream(&header, QIODevice::WriteOnly);
    configure(stream);
    stream << bodyLength;
    return header;
}

QByteArray build(const QString &key, qint8 kind, quint32 instanceNumber)
{
    const QByteArray body = buildBody(key, kind, instanceNumber);
    return buildHeader(body.size()) + body;
}

qint64 parseHeader(const QByteArray &header)
{
    if (header.size() != HeaderSize)
        return -1;
    return qFromBigEndian<qint64>(header.constData());
}

bool isAcceptableBodyLength(qint64 bodyLength)
{
    return bodyLength >= BodyOverhead && bodyLength <= MaxBodyLength;
}

bool parseBody(const QByteArray &body, const QString &expectedKey, Body *out)
{
    const qsizetype size = body.size();
    if (size < BodyOverhead)
        return false;
    const char *data = body.constData();
    const quint32 keyLength = qFromBigEndian<quint32>(data);
    // The fields must fill the body exactly.
    if (qint64(keyLength) != qint64(size) - BodyOverhead)
        return false;

    const char *keyBytes = data + 4;
    const qsizetype keyEnd = qstrnlen(keyBytes, keyLength);
    const QString key = QString::fromLatin1(keyBytes, int(keyEnd));
    const char *tail = keyBytes + keyLength;
    const qint8 kind = qint8(*tail);
    const quint32 instanceNumber = qFromBigEndian<quint32>(tail + 1);
    const quint16 checksum = qFromBigEndian<quint16>(tail + 5);

    if (key != expectedKey)
        return false;
    if (checksum != instanceChecksum(data, size - 2))
        return false;
    if (out) {
        out->key = key;
        out->kind = kind;
        out->instanceNumber = instanceNumber;
    }
    return true;
}

} // namespace InstanceHandshake
