// SPDX-License-Identifier: GPL-3.0-or-later
// Backup files: unscrambling and digest check of any file, and encode/decode round trips.
#include "backupfile.h"
#include "fuzzsupport.h"

#include <QCryptographicHash>

namespace {
const QByteArray serialNumber = QByteArrayLiteral("00112233445566778899aabb");
const QByteArray otherSerial = QByteArrayLiteral("00112233445566778899aabc");
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using FuzzSupport::check;
    FuzzSupport::Input in(data, size);
    // The adapter's firmware version the backup is checked against.
    const QString adapterVersion
        = QStringLiteral("%1.%2.%3").arg(in.byte() % 8).arg(in.byte() % 12).arg(in.byte());
    const QByteArray rest = in.rest();

    // Any bytes as a file: never read outside them, never accepted without a digest.
    const BackupFile::ReadResult raw = BackupFile::decode(rest, serialNumber, adapterVersion);
    if (raw.status == BackupFile::ReadStatus_Ok) {
        check(raw.data.size() == rest.size(), "decoded data of another length");
        check(QCryptographicHash::hash(raw.data.left(raw.data.size() - BackupFile::DigestLength),
                  QCryptographicHash::Md5)
                == raw.data.right(BackupFile::DigestLength),
            "accepted a file whose digest does not match");
    }

    // The same bytes as configuration data: a file made of them reads back exactly, and only
    // on the adapter that made it.
    if (rest.size() < 4) // no room for the version bytes: never a backup
        return 0;
    const QByteArray file = BackupFile::encode(rest.constData(), rest.size(), serialNumber);
    check(file.size() == rest.size() + BackupFile::DigestLength, "file of the wrong length");
    const BackupFile::ReadResult back = BackupFile::decode(file, serialNumber, adapterVersion);
    check(back.status == BackupFile::ReadStatus_Ok
            || back.status == BackupFile::ReadStatus_UpdateRequired,
        "a file made here does not verify");
    check(back.version == BackupFile::versionOf(rest), "version differs after the round trip");
    if (back.status == BackupFile::ReadStatus_Ok)
        check(back.data.left(rest.size()) == rest, "data differs after the round trip");
    const BackupFile::ReadResult foreign = BackupFile::decode(file, otherSerial, adapterVersion);
    check(foreign.status == BackupFile::ReadStatus_Corrupted,
        "a file of another adapter was accepted");
    return 0;
}
