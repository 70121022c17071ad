// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareimage.h"

#include "qaesencryption.h"
#include "versionlabel.h"

#include <QCryptographicHash>

#include <array>
#include <cstring>

namespace {

// Value of each Base64 character, -1 for characters that are skipped.
const std::array<qint8, 256> &base64Values()
{
    static const std::array<qint8, 256> table = [] {
        std::array<qint8, 256> t;
        t.fill(-1);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[quint8(alphabet[i])] = qint8(i);
        return t;
    }();
    return table;
}

// Decodes length characters from in into out and returns the number of bytes written.
// out may be in itself: at most 3 bytes are written for every 4 characters read, and each
// group of characters is read before its bytes are written.
int decodeBase64Into(const quint8 *in, int length, quint8 *out)
{
    const std::array<qint8, 256> &value = base64Values();
    int written = 0;
    quint32 bits = 0;
    int bitCount = 0;
    int i = 0;
    while (i < length) {
        // Whole groups of four alphabet characters, the common case, in one step.
        if (bitCount == 0 && length - i >= 4) {
            const int a = value[in[i]], b = value[in[i + 1]], c = value[in[i + 2]],
                      d = value[in[i + 3]];
            if ((a | b | c | d) >= 0) {
                const quint32 group
                    = (quint32(a) << 18) | (quint32(b) << 12) | (quint32(c) << 6) | quint32(d);
                out[written] = quint8(group >> 16);
                out[written + 1] = quint8(group >> 8);
                out[written + 2] = quint8(group);
                written += 3;
                i += 4;
                continue;
            }
        }
        const int v = value[in[i++]];
        if (v < 0)
            continue;
        bits = (bits << 6) | quint32(v);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out[written++] = quint8(bits >> bitCount);
            bits &= (1u << bitCount) - 1;
        }
    }
    return written;
}

// Deciphers, strips and checks in the ciphertext's own buffer.
FirmwareImage decodeCipherText(QByteArray &&cipherText)
{
    FirmwareImage image;
    // A partial last block cannot come from the encoder: the file is damaged.
    if (cipherText.size() % QAESEncryption::BlockLength != 0)
        return image;

    QAESEncryption aes(QAESEncryption::KeySize_128, QAESEncryption::CipherMode_ECB,
        QAESEncryption::PaddingScheme_PKCS7);
    QByteArray plain = QAESEncryption::stripPadding(
        aes.decrypt(std::move(cipherText), FirmwareImage::cipherKey(), QByteArray()),
        QAESEncryption::PaddingScheme_PKCS7);

    const int length = plain.size();
    if (length < FirmwareImage::DigestLength)
        return image;
    const int signedLength = length - FirmwareImage::DigestLength;
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(plain.constData(), signedLength), QCryptographicHash::Md5);
    if (std::memcmp(
            digest.constData(), plain.constData() + signedLength, FirmwareImage::DigestLength)
        != 0)
        return image;

    const QByteArray tag = FirmwareImage::typeTag();
    if (std::memcmp(plain.constData(), tag.constData(), FirmwareImage::TagLength) != 0) {
        image.status = FirmwareImage::TypeMismatch;
        return image;
    }
    // Digest and tag may overlap in a plaintext of 26 to 28 bytes; there is no payload then.
    if (length < FirmwareImage::MinimumLength) {
        image.status = FirmwareImage::TooShort;
        return image;
    }

    image.status = FirmwareImage::Ok;
    image.major = quint8(plain.at(10));
    image.minor = quint8(plain.at(11));
    image.patch = quint8(plain.at(12));
    // Cut the digest and header off in place: the plaintext buffer becomes the payload.
    plain.truncate(signedLength);
    plain.remove(0, FirmwareImage::HeaderLength);
    image.payload = std::move(plain);
    image.payloadMd5 = QCryptographicHash::hash(image.payload, QCryptographicHash::Md5);
    return image;
}

} // namespace

QString FirmwareImage::versionText() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

bool FirmwareImage::isVersion(const QString &label) const
{
    return VersionLabel::normalised(label) == versionText();
}

const char *FirmwareImage::warningText(Status status)
{
    switch (status) {
    case Ok:
        return "";
    case DigestMismatch:
        return "file md5 error";
    case TypeMismatch:
    case TooShort:
        return "file type error";
    }
    return "file md5 error";
}

QByteArray decodeBase64Lenient(const QByteArray &text)
{
    QByteArray result(text.size() / 4 * 3 + 3, Qt::Uninitialized);
    const int written = decodeBase64Into(reinterpret_cast<const quint8 *>(text.constData()),
        text.size(), reinterpret_cast<quint8 *>(result.data()));
    result.truncate(written);
    return result;
}

QByteArray decodeBase64Lenient(QByteArray &&text)
{
    quint8 *buffer = reinterpret_cast<quint8 *>(text.data()); // detaches when shared
    text.truncate(decodeBase64Into(buffer, text.size(), buffer));
    return std::move(text);
}

FirmwareImage decodeFirmwareImage(const QByteArray &fileContent)
{
    return decodeCipherText(decodeBase64Lenient(fileContent));
}

FirmwareImage decodeFirmwareImage(QByteArray &&fileContent)
{
    return decodeCipherText(decodeBase64Lenient(std::move(fileContent)));
}
