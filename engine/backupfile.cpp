// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupfile.h"
#include "logcategories.h"

#include "deviceflash.h"
#include "flashlayout.h"
#include "privatefiles.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QStringList>

QByteArray BackupFile::key(const QByteArray &serialNumber)
{
    return QCryptographicHash::hash(serialNumber, QCryptographicHash::Md5);
}

QByteArray BackupFile::digest(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

void BackupFile::scramble(QByteArray &data, const QByteArray &key)
{
    const int keyLength = key.size();
    if (keyLength == 0)
        return;
    char *bytes = data.data();
    const char *k = key.constData();
    for (int i = 0, n = data.size(); i < n; ++i)
        bytes[i] = char(bytes[i] ^ k[i % keyLength]);
}

QString BackupFile::versionOf(const QByteArray &data)
{
    return FlashLayout::readFirmwareRecord(data).version();
}

QString BackupFile::requiredVersionText(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    const auto part = [&parts](int i) {
        return i < parts.size() ? parts.at(i) : QStringLiteral("0");
    };
    return QStringLiteral("( >= %1.%2.%3) !").arg(part(0), part(1), part(2));
}

QByteArray BackupFile::encode(const char *data, qint64 length, const QByteArray &serialNumber)
{
    if (!data || length <= 0 || length > Layout2Length * 2)
        return QByteArray();
    // A copy: the engine's buffer keeps the plain bytes, so a second save works too.
    QByteArray bytes(data, int(length));
    const QByteArray k = key(serialNumber);
    const QByteArray d = digest(bytes);
    bytes.append(d);
    scramble(bytes, k);
    qCDebug(lcEngine).noquote() << "sn_md5" << k.toHex() << d.toHex() << bytes.left(4).toHex()
                                << bytes.right(DigestLength).toHex();
    return bytes;
}

BackupFile::ReadResult BackupFile::decode(
    const QByteArray &fileBytes, const QByteArray &serialNumber, const QString &adapterVersion)
{
    ReadResult result;
    if (fileBytes.isEmpty()) {
        result.status = ReadStatus_Unreadable;
        result.errorString = QStringLiteral("the file is empty");
        return result;
    }

    QByteArray bytes = fileBytes;
    const QByteArray k = key(serialNumber);
    scramble(bytes, k);

    // Too short to carry the version bytes and a digest: nothing to verify against.
    if (bytes.size() < DigestLength + 4) {
        qCWarning(lcEngine) << "Corrupted file/Unauthorized !";
        result.status = ReadStatus_Corrupted;
        result.errorString = QStringLiteral("Corrupted file/Unauthorized !");
        return result;
    }

    const QByteArray body = bytes.left(bytes.size() - DigestLength);
    const QByteArray stored = bytes.right(DigestLength);
    const QByteArray computed = digest(body);
    qCDebug(lcEngine).noquote() << "file_md5" << k.toHex() << computed.toHex()
                                << bytes.left(4).toHex() << stored.toHex();
    if (computed != stored) {
        qCWarning(lcEngine) << "Corrupted file/Unauthorized !";
        result.status = ReadStatus_Corrupted;
        result.errorString = QStringLiteral("Corrupted file/Unauthorized !");
        return result;
    }

    result.version = versionOf(body);
    qCWarning(lcEngine).noquote() << "dataRestore" << result.version;
    if (DeviceFlash::compareMajorMinor(result.version, adapterVersion) > 0) {
        result.status = ReadStatus_UpdateRequired;
        result.errorString
            = QStringLiteral("Firmware Update Required") + requiredVersionText(result.version);
        return result;
    }

    result.status = ReadStatus_Ok;
    result.data = bytes;
    return result;
}

bool BackupFile::write(const QString &path, const char *data, qint64 length,
    const QByteArray &serialNumber, QString *errorString, bool replace)
{
    const auto fail = [errorString](const QString &text) {
        if (errorString)
            *errorString = text;
        return false;
    };

    const QByteArray bytes = encode(data, length, serialNumber);
    if (bytes.isEmpty())
        return fail(QStringLiteral("no backup data to write"));

    // Never through a link another user planted; the file holds the adapter's configuration.
    QString reason;
    if (!PrivateFiles::writeAtomically(path, bytes, &reason, replace))
        return fail(reason);
    return true;
}

BackupFile::ReadResult BackupFile::read(
    const QString &path, const QByteArray &serialNumber, const QString &adapterVersion)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ReadResult result;
        result.status = ReadStatus_Unreadable;
        result.errorString = file.errorString();
        return result;
    }
    // Files larger than any backup are not loaded whole.
    if (file.size() > Layout2Length * 2) {
        qCWarning(lcEngine) << "Corrupted file/Unauthorized !";
        ReadResult result;
        result.status = ReadStatus_Corrupted;
        result.errorString = QStringLiteral("Corrupted file/Unauthorized !");
        return result;
    }
    return decode(file.readAll(), serialNumber, adapterVersion);
}
