// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarefile.h"

#include "updatejobs.h"

#include <QFile>

#include <utility>

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

namespace {

// Decodes the content that check holds and checks it as an update would; name stands for the
// bytes in the reason.
FirmwareFileCheck checkContent(FirmwareFileCheck check, const QString &name)
{
    check.image = decodeFirmwareImage(check.content);
    switch (check.image.status) {
    case FirmwareImage::Ok:
        break;
    case FirmwareImage::DigestMismatch:
        check.problem = FirmwareFileCheck::NotAnImage;
        check.reason = QStringLiteral("%1 is not a Corvane X9 firmware image (its digest does not "
                                      "match: damaged, truncated or another format)")
                           .arg(name);
        return check;
    case FirmwareImage::TypeMismatch:
    case FirmwareImage::TooShort:
        check.problem = FirmwareFileCheck::NotAnImage;
        check.reason
            = QStringLiteral("%1 is not a Corvane X9 firmware image (wrong type)").arg(name);
        return check;
    }
    if (quint64(check.image.payload.size()) > UpdateJobs::MaxUpdatePayload) {
        check.problem = FirmwareFileCheck::TooLarge;
        check.reason = QStringLiteral("the firmware in %1 has %2 bytes, more than the adapter "
                                      "takes (at most %3 bytes)")
                           .arg(name)
                           .arg(check.image.payload.size())
                           .arg(UpdateJobs::MaxUpdatePayload);
    }
    return check;
}

} // namespace

FirmwareFileCheck checkFirmwareFile(const QString &path)
{
    FirmwareFileCheck check = readFirmwareFile(path);
    if (check.unread())
        return check;
    return checkContent(std::move(check), path);
}

QString catalogueImageProblem(
    const QByteArray &content, const QString &version, const QString &name)
{
    if (content.isEmpty())
        return QStringLiteral("%1 is empty").arg(name);
    if (content.size() > UpdateJobs::MaxFirmwareFileSize)
        return QStringLiteral("%1 is too large to be a firmware file (more than %2 bytes)")
            .arg(name)
            .arg(UpdateJobs::MaxFirmwareFileSize);
    FirmwareFileCheck check;
    check.content = content;
    check = checkContent(std::move(check), name);
    if (check.accepted() && !check.image.isVersion(version))
        return QStringLiteral("the image for %1 holds firmware %2 (%3)")
            .arg(version, check.image.versionText(), name);
    return check.reason;
}
