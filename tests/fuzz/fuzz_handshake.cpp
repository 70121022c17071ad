// SPDX-License-Identifier: GPL-3.0-or-later
// The single-instance handshake as the primary reads it from a peer's socket, and the
// round trip of what a secondary builds.
#include "fuzzsupport.h"
#include "instancehandshake.h"

namespace {

// A key of the form the instances derive (44 Base64 characters).
const QString ownKey = QStringLiteral("kYBu86bQRLfbkl6SffilStlL5aW5AOfFElYdlh3b2lc=");

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using FuzzSupport::check;
    const QByteArray stream(reinterpret_cast<const char *>(data), int(size));

    // The peer's bytes as they arrive: header, then as much body as it announced.
    const qint64 length
        = InstanceHandshake::parseHeader(stream.left(InstanceHandshake::HeaderSize));
    if (stream.size() < InstanceHandshake::HeaderSize)
        check(length == -1, "a short header accepted");
    if (length >= 0 && InstanceHandshake::isAcceptableBodyLength(length)) {
        // The primary waits until the whole announced body is there.
        const QByteArray body = stream.mid(InstanceHandshake::HeaderSize, int(length));
        InstanceHandshake::Body parsed;
        if (body.size() == length && InstanceHandshake::parseBody(body, ownKey, &parsed)) {
            check(parsed.key == ownKey, "accepted another key");
            // Without bytes after a zero in the key field, the body is exactly what a peer
            // with these values builds.
            if (!body.mid(4, body.size() - InstanceHandshake::BodyOverhead).contains('\0'))
                check(InstanceHandshake::buildBody(parsed.key, parsed.kind, parsed.instanceNumber)
                        == body,
                    "accepted body differs from the one its values build");
        }
    }
    // Any body, whatever its length, parses without reading outside it.
    InstanceHandshake::parseBody(stream, ownKey, nullptr);

    // What a secondary with a Latin-1 key and any kind and number sends is accepted whole.
    if (stream.size() >= 5) {
        const qint8 kind = qint8(stream.at(0));
        const quint32 number = quint32(quint8(stream.at(1))) << 24
            | quint32(quint8(stream.at(2))) << 16 | quint32(quint8(stream.at(3))) << 8
            | quint32(quint8(stream.at(4)));
        QByteArray keyBytes = stream.mid(5, 300);
        keyBytes.replace('\0', 'x');
        const QString key = QString::fromLatin1(keyBytes);
        const QByteArray built = InstanceHandshake::build(key, kind, number);
        check(InstanceHandshake::parseHeader(built.left(InstanceHandshake::HeaderSize))
                == built.size() - InstanceHandshake::HeaderSize,
            "header does not announce the body");
        InstanceHandshake::Body parsed;
        check(InstanceHandshake::parseBody(built.mid(InstanceHandshake::HeaderSize), key, &parsed),
            "a built handshake is refused");
        check(parsed.key == key && parsed.kind == kind && parsed.instanceNumber == number,
            "a built handshake parses to other values");
    }
    return 0;
}
