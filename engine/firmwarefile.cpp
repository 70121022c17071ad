// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarefile.h"

#include "updatejobs.h"

#include <QFile>

namespace {

FirmwareFileCheck unreadable(const char *error, const QString &reason)
{
    FirmwareFileCheck check;
    check.problem = FirmwareFileCheck::Unreadable;
    check.image = decodeFirmwareImage(QByteArray());
    check.error = QString::fromLatin1(error);
    check.reason = reason;
    return check;
}

} // namespace

FirmwareFileCheck readFirmwareFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable("getFirmwareData is Empty!",
                          QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    // One byte past the limit tells a too-large file (or a device such as /dev/zero)
    // without reading it whole.
    QByteArray content = file.read(UpdateJobs::MaxFirmwareFileSize + 1);
    if (content.size() > UpdateJobs::MaxFirmwareFileSize)
        return unreadable("file too large",
                          QStringLiteral("%1 is too large to be a firmware file (more than %2 bytes)")
                              .arg(path)
                              .arg(UpdateJobs::MaxFirmwareFileSize));
    if (content.isEmpty())
        return unreadable("getFirmwareData is Empty!", QStringLiteral("%1 is empty").arg(path));

    FirmwareFileCheck check;
    check.content = content;
    return check;
}

FirmwareFileCheck checkFirmwareFile(const QString &path)
{
    FirmwareFileCheck check = readFirmwareFile(path);
    if (check.problem == FirmwareFileCheck::Unreadable)
        return check;
    check.image = decodeFirmwareImage(check.content);
    switch (check.image.status) {
    case FirmwareImage::Ok:
        break;
    case FirmwareImage::DigestMismatch:
        check.problem = FirmwareFileCheck::NotAnImage;
        check.error = QString::fromLatin1(FirmwareImage::warningText(check.image.status));
        check.reason = QStringLiteral("%1 is not a Corvane X9 firmware image (its digest does not "
                                      "match: damaged, truncated or another format)")
                           .arg(path);
        return check;
    case FirmwareImage::TypeMismatch:
    case FirmwareImage::TooShort:
        check.problem = FirmwareFileCheck::NotAnImage;
        check.error = QString::fromLatin1(FirmwareImage::warningText(check.image.status));
        check.reason
            = QStringLiteral("%1 is not a Corvane X9 firmware image (wrong type)").arg(path);
        return check;
    }
    if (quint64(check.image.payload.size()) > UpdateJobs::MaxUpdatePayload) {
        check.problem = FirmwareFileCheck::TooLarge;
        check.error = QStringLiteral("firmware too large");
        check.reason = QStringLiteral("the firmware in %1 has %2 bytes, more than the adapter "
                                      "takes (at most %3 bytes)")
                           .arg(path)
                           .arg(check.image.payload.size())
                           .arg(UpdateJobs::MaxUpdatePayload);
    }
    return check;
}

FirmwareFileCheck checkCatalogueImage(const QString &path, const QString &version)
{
    FirmwareFileCheck check = checkFirmwareFile(path);
    if (check.accepted() && !check.image.isVersion(version)) {
        check.problem = FirmwareFileCheck::OtherVersion;
        check.error = QStringLiteral("version differs from the catalogue");
        check.reason = QStringLiteral("the image for %1 holds firmware %2 (%3); "
                                      "corvane-cli download --refresh %1 fetches it again")
                           .arg(version, check.image.versionText(), path);
    }
    return check;
}
