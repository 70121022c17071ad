// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Why a process connects to the primary; sent as a signed byte in the handshake.
enum ConnectKind : qint8 {
    ConnectKind_Duplicate = 1, // may not run; tells the primary and exits
    ConnectKind_Secondary = 2, // a secondary announcing itself at start
    ConnectKind_Message = 3, // a secondary about to send bytes
};

// Handshake on the local socket (big-endian data stream, version 17): an 8-byte header
// with the body length, then the body: quint32 N, N key bytes (Latin-1), qint8 kind,
// quint32 instance number, quint16 checksum over the preceding body bytes.
// Raw message bytes follow the body without framing of their own.
namespace InstanceHandshake {

constexpr int HeaderSize = 8;
// Body bytes besides the key: N, kind, instance number, checksum.
constexpr int BodyOverhead = 4 + 1 + 4 + 2;
// Our keys are 44 characters (body of 55 bytes); a peer announcing far more than this is
// not one of ours and is dropped instead of being buffered.
constexpr qint64 MaxBodyLength = 4096;

QByteArray buildBody(const QString &key, qint8 kind, quint32 instanceNumber);
QByteArray buildHeader(qint64 bodyLength);
// Header followed by body.
QByteArray build(const QString &key, qint8 kind, quint32 instanceNumber);

// Reads the body length from exactly HeaderSize bytes; -1 when size is wrong.
qint64 parseHeader(const QByteArray &header);
// True when bodyLength can belong to a handshake worth waiting for.
bool isAcceptableBodyLength(qint64 bodyLength);

struct Body
{
    QString key; // key bytes as Latin-1, up to the first zero byte
    qint8 kind = 0;
    quint32 instanceNumber = 0;
};

// Parses a complete body. Valid when it holds exactly the fields above, the key equals
// expectedKey and the checksum matches. Never reads outside body.
bool parseBody(const QByteArray &body, const QString &expectedKey, Body *out);

} // namespace InstanceHandshake
