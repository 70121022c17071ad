// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareimagemaker.h"

#include "qaesencryption.h"

#include <QCryptographicHash>
#include <QFile>

QByteArray FirmwareImageMaker::withDigest(const QByteArray &body)
{
    return body + QCryptographicHash::hash(body, QCryptographicHash::Md5);
}

QByteArray FirmwareImageMaker::make(
    quint8 major, quint8 minor, quint8 patch, const QByteArray &payload, const Options &options)
{
    QByteArray body = options.tag;
    body.append(char(major)).append(char(minor)).append(char(patch)).append(payload);
    QByteArray plain = withDigest(body);
    if (options.corruptDigest)
        plain[plain.size() - 1] = char(plain.at(plain.size() - 1) ^ 0x01);
    return encipher(plain, options.key, options.lineLength);
}

QByteArray FirmwareImageMaker::encipher(
    const QByteArray &plaintext, const QByteArray &key, int lineLength)
{
    QAESEncryption::KeySize size;
    switch (key.size()) {
    case 16:
        size = QAESEncryption::KeySize_128;
        break;
    case 24:
        size = QAESEncryption::KeySize_192;
        break;
    case 32:
        size = QAESEncryption::KeySize_256;
        break;
    default:
        return QByteArray();
    }
    QAESEncryption aes(size, QAESEncryption::CipherMode_ECB, QAESEncryption::PaddingScheme_PKCS7);
    const QByteArray expanded = aes.keyExpansion(key);

    const int block = QAESEncryption::BlockLength;
    const int pad = block - plaintext.size() % block;
    const QByteArray padded = plaintext + QByteArray(pad, char(pad));
    QByteArray cipher;
    cipher.reserve(padded.size());
    for (int offset = 0; offset < padded.size(); offset += block)
        cipher += aes.encryptBlock(
            expanded, QByteArray::fromRawData(padded.constData() + offset, block));

    const QByteArray text = cipher.toBase64();
    if (lineLength <= 0)
        return text;
    QByteArray lines;
    lines.reserve(text.size() + text.size() / lineLength + 1);
    for (int offset = 0; offset < text.size(); offset += lineLength)
        lines.append(text.mid(offset, lineLength)).append('\n');
    return lines;
}

bool FirmwareImageMaker::writeToFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size() && file.flush();
}
