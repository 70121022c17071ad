// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarefile.h"

#include "updatejobs.h"

#include <QFile>

namespace {

FirmwareFileCheck refused(FirmwareFileCheck::Problem problem, const QString &reason)
{
    FirmwareFileCheck check;
    check.problem = problem;
    check.image = decodeFirmwareImage(QByteArray());
    check.reason = reason;
    return check;
}

} // namespace

FirmwareFileCheck readFirmwareFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(FirmwareFileCheck::Unreadable,
            QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    // One byte past the limit tells a too-large file (or a device such as /dev/zero)
    // without reading it whole.
    QByteArray content = file.read(UpdateJobs::MaxFirmwareFileSize + 1);
    if (content.size() > UpdateJobs::MaxFirmwareFileSize)
        return refused(FirmwareFileCheck::FileTooLarge,
            QStringLiteral("%1 is too large to be a firmware file (more than %2 bytes)")
                .arg(path)
                .arg(UpdateJobs::MaxFirmwareFileSize));
    if (content.isEmpty())
        return refused(FirmwareFileCheck::Unreadable, QStringLiteral("%1 is empty").arg(path));

    FirmwareFileCheck check;
    check.content = content;
    return check;
}

FirmwareFileCheck checkFirmwareFile(const QString &path)
{
    FirmwareFileCheck check = readFirmwareFile(path);
    if (check.unread())
        return check;
    check.image = decodeFirmwareImage(check.content);
    switch (check.image.status) {
    case FirmwareImage::Ok:
        break;
    case FirmwareImage::DigestMismatch:
        check.problem = FirmwareFileCheck::NotAnImage;
        check.reason = QStringLiteral("%1 is not a Corvane X9 firmware image (its digest does not "
                                      "match: damaged, truncated or another format)")
                           .arg(path);
        return check;
    case FirmwareImage::TypeMismatch:
    case FirmwareImage::TooShort:
        check.problem = FirmwareFileCheck::NotAnImage;
        check.reason
            = QStringLiteral("%1 is not a Corvane X9 firmware image (wrong type)").arg(path);
        return check;
    }
    if (quint64(check.image.payload.size()) > UpdateJobs::MaxUpdatePayload) {
        check.problem = FirmwareFileCheck::TooLarge;
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
        check.reason = QStringLiteral("the image for %1 holds firmware %2 (%3); "
                                      "corvane-cli download --refresh %1 fetches it again")
                           .arg(version, check.image.versionText(), path);
    }
    return check;
}
