// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firmwareimage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Builds firmware image files for tests, valid or deliberately broken.
//
//   const QByteArray file = FirmwareImageMaker::make(5, 6, 3, payload);
//   FirmwareImageMaker::writeToFile(dir.filePath("Firmware_V5.6.3.rfw"), file);
//
// The output is what the decoder reads: Base64 of the AES-ECB ciphertext (PKCS#7 padded)
// of tag + version bytes + payload + MD5 of those. Enciphering runs block by block through
// the step-wise reference cipher: a 1.8 MB payload takes about a second in a debug build,
// so build large images once per test.

// What make() varies; the defaults give a valid image.
struct FirmwareImageOptions
{
    QByteArray tag = FirmwareImage::typeTag(); // another tag: "file type error"
    QByteArray key = FirmwareImage::cipherKey(); // 16, 24 or 32 bytes; another: "file md5 error"
    int lineLength = 0; // >0: Base64 lines of this many characters, each ending in '\n'
    bool corruptDigest = false; // flip one digest bit: "file md5 error"
};

class FirmwareImageMaker
{
public:
    using Options = FirmwareImageOptions;

    // A complete image file.
    static QByteArray make(quint8 major, quint8 minor, quint8 patch, const QByteArray &payload,
        const Options &options = Options());

    // body followed by its MD5 digest. With body = tag + version bytes + payload this is
    // the deciphered image; other bodies make images of unusual length or layout.
    static QByteArray withDigest(const QByteArray &body);

    // Any plaintext as an image file: PKCS#7 padding, AES-ECB, Base64. An empty result
    // means the key is not 16, 24 or 32 bytes long.
    static QByteArray encipher(const QByteArray &plaintext,
        const QByteArray &key = FirmwareImage::cipherKey(), int lineLength = 0);

    // Writes content to path (creating or replacing the file); false on failure.
    static bool writeToFile(const QString &path, const QByteArray &content);
};
