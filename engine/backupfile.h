// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The configuration backup file (*.bkp): the adapter's configuration area followed by its
// MD5 digest, every byte XORed with the MD5 digest of the adapter's serial-number text, so
// a file only verifies on the adapter that made it.
class BackupFile
{
public:
    // Configuration area lengths read from firmware below 5.5.0 and from 5.5.0 on.
    static constexpr qint64 Layout1Length = 0x1C000;
    static constexpr qint64 Layout2Length = 0x3C000;
    static constexpr int DigestLength = 16;

    enum ReadStatus {
        ReadStatus_Ok,
        ReadStatus_Unreadable, // cannot be opened, or empty
        ReadStatus_Corrupted, // digest mismatch: damaged or made on another adapter
        ReadStatus_UpdateRequired, // backup newer (major.minor) than the adapter's firmware
    };

    struct ReadResult
    {
        ReadStatus status = ReadStatus_Unreadable;
        QByteArray data; // unscrambled bytes including the trailing digest (status Ok only)
        // The firmware version the data's firmware record names, when the digest verified;
        // empty when the record is unreadable.
        QString version;
        QString errorString;
    };

    BackupFile() = delete;

    // The scrambling key: MD5 of the serial-number text (24 lowercase hex characters).
    static QByteArray key(const QByteArray &serialNumber);
    static QByteArray digest(const QByteArray &data);
    // XORs every byte with key[i mod key length]; applying it twice restores the input.
    static void scramble(QByteArray &data, const QByteArray &key);
    // The version that the firmware record at the head of the data names (either layout);
    // empty when the record is unreadable.
    static QString versionOf(const QByteArray &data);
    // The suffix of the "Firmware Update Required" message: "( >= X.Y.Z) !".
    static QString requiredVersionText(const QString &version);

    // File bytes for length bytes of configuration data: data, digest, then scrambled.
    static QByteArray encode(const char *data, qint64 length, const QByteArray &serialNumber);
    // Unscrambles and verifies file bytes, then checks the backup's version against the
    // adapter's firmware version.
    static ReadResult decode(
        const QByteArray &fileBytes, const QByteArray &serialNumber, const QString &adapterVersion);

    // Writes the file atomically: the chosen path holds either its previous content or
    // the complete new file, never a partial one. With replace false, a file already at
    // path stays and the write fails.
    static bool write(const QString &path, const char *data, qint64 length,
        const QByteArray &serialNumber, QString *errorString = nullptr, bool replace = true);
    static ReadResult read(
        const QString &path, const QByteArray &serialNumber, const QString &adapterVersion);
};
