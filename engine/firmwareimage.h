// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A decoded firmware image file (*.rfw, *.bin; one format).
//
// File: Base64 text of an AES-128-ECB ciphertext whose plaintext carries PKCS#7 padding.
// Plaintext of L bytes: type tag "Corvane_X9" (10 bytes), version major, minor, patch
// (1 byte each), payload (L - 29 bytes), MD5 of everything before it (16 bytes).
//
// Decoding does not act on the result: the caller decides when to look at status (the
// update first checks whether the adapter is open) and logs warningText(status).
struct FirmwareImage
{
    enum Status {
        Ok,
        DigestMismatch, // wrong key, corrupt, truncated or empty file
        TypeMismatch, // digest right, but the image of another product
        TooShort, // digest and tag right, but no room for the version and payload
    };

    static constexpr int TagLength = 10;
    static constexpr int HeaderLength = 13; // tag + three version bytes
    static constexpr int DigestLength = 16;
    static constexpr int MinimumLength = HeaderLength + DigestLength;

    // The type tag and the cipher key text (16 ASCII characters, used as its UTF-8 bytes).
    static QByteArray typeTag() { return QByteArrayLiteral("Corvane_X9"); }
    static QByteArray cipherKey() { return QByteArrayLiteral("Hw4@Kp8&Zr1%Ty6!"); }

    Status status = DigestMismatch;
    quint8 major = 0;
    quint8 minor = 0;
    quint8 patch = 0;
    QByteArray payload; // empty unless status is Ok
    QByteArray payloadMd5; // MD5 of the payload alone (16 bytes), empty unless status is Ok

    bool isValid() const { return status == Ok; }
    // "major.minor.patch" in decimal, for example "5.6.3".
    QString versionText() const;
    // True when a version label (of a catalogue entry) names this image's version
    // (VersionLabel::normalised: "V5.6.3", "5.06.3" and "5.6.3 (beta)" name 5.6.3).
    bool isVersion(const QString &label) const;
    // The warning line for a failed check: "file md5 error" or "file type error"
    // (TooShort is reported like a type failure); an empty text for Ok.
    static const char *warningText(Status status);
};

// Standard-alphabet Base64 decoding that skips every character outside the alphabet
// (line breaks, spaces, '='), giving the same bytes as QByteArray::fromBase64's default
// mode, through table lookups.
// The rvalue overload decodes in the text's own buffer.
QByteArray decodeBase64Lenient(const QByteArray &text);
QByteArray decodeBase64Lenient(QByteArray &&text);

// Base64-decodes (characters outside the alphabet are skipped), deciphers, strips the
// padding and checks the digest, then the type tag, then the length. A ciphertext that is
// not a whole number of cipher blocks is corrupt and ends as DigestMismatch.
// The rvalue overload works in the file content's buffer: the payload ends up in it.
FirmwareImage decodeFirmwareImage(const QByteArray &fileContent);
FirmwareImage decodeFirmwareImage(QByteArray &&fileContent);
