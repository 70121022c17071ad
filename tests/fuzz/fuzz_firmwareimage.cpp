// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware image files: Base64, AES-128-ECB, PKCS#7, digest and tag checks.
#include "firmwareimage.h"
#include "firmwareimagemaker.h"
#include "fuzzsupport.h"

#include <QCryptographicHash>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialise();
    return 0;
}

namespace {

// Any plaintext, enciphered as the maker's tool does, must come out of the decoder as the
// format says: the digest decides first, then the tag, then the length.
void checkPlaintext(const QByteArray &body, bool withDigest)
{
    using FuzzSupport::check;
    const QByteArray plain
        = withDigest ? body + QCryptographicHash::hash(body, QCryptographicHash::Md5) : body;
    const FirmwareImage image = decodeFirmwareImage(FirmwareImageMaker::encipher(plain));
    const int length = plain.size();
    const bool digestOk = length >= FirmwareImage::DigestLength
        && QCryptographicHash::hash(
               plain.left(length - FirmwareImage::DigestLength), QCryptographicHash::Md5)
            == plain.right(FirmwareImage::DigestLength);
    if (!digestOk) {
        check(image.status == FirmwareImage::DigestMismatch, "a wrong digest was not caught");
        return;
    }
    if (!plain.startsWith(FirmwareImage::typeTag())) {
        check(image.status == FirmwareImage::TypeMismatch, "a wrong tag was not caught");
        return;
    }
    if (length < FirmwareImage::MinimumLength) {
        check(image.status == FirmwareImage::TooShort, "a plaintext without payload room passed");
        return;
    }
    check(image.status == FirmwareImage::Ok, "a well-formed image was refused");
    check(image.major == quint8(plain.at(10)) && image.minor == quint8(plain.at(11))
            && image.patch == quint8(plain.at(12)),
        "version bytes not taken from offsets 10 to 12");
    check(image.payload
            == plain.mid(FirmwareImage::HeaderLength, length - FirmwareImage::MinimumLength),
        "payload is not the bytes between header and digest");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using FuzzSupport::check;
    const QByteArray file(reinterpret_cast<const char *>(data), int(size));

    // Inputs starting with '!' are plaintexts (the tag is likelier behind a second byte).
    if (size >= 2 && data[0] == '!') {
        const QByteArray body = file.mid(2, 1024);
        checkPlaintext(body, data[1] & 1);
        if (data[1] & 2)
            checkPlaintext(FirmwareImage::typeTag() + body, data[1] & 1);
        return 0;
    }

    // The lenient decoder stands in for the toolkit's: same bytes for every text.
    check(decodeBase64Lenient(file) == QByteArray::fromBase64(file),
        "decodeBase64Lenient differs from QByteArray::fromBase64");
    check(decodeBase64Lenient(QByteArray(file)) == QByteArray::fromBase64(file),
        "in-place decodeBase64Lenient differs from QByteArray::fromBase64");

    const FirmwareImage image = decodeFirmwareImage(file);
    const FirmwareImage moved = decodeFirmwareImage(QByteArray(file));
    check(image.status == moved.status && image.payload == moved.payload
            && image.major == moved.major && image.minor == moved.minor
            && image.patch == moved.patch,
        "the copying and the in-place decoder disagree");

    if (image.isValid()) {
        check(image.payloadMd5 == QCryptographicHash::hash(image.payload, QCryptographicHash::Md5),
            "payload digest is not the payload's");
        // The payload and its framing came out of the ciphertext: it cannot be longer.
        check(image.payload.size() + FirmwareImage::MinimumLength
                <= QByteArray::fromBase64(file).size(),
            "payload longer than the image");
        check(!image.versionText().isEmpty(), "empty version text");
    } else {
        check(image.payload.isEmpty() && image.payloadMd5.isEmpty(),
            "a refused image still carries a payload");
        check(qstrlen(FirmwareImage::warningText(image.status)) > 0, "no warning for a refusal");
    }
    return 0;
}
