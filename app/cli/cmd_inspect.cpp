// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include "firmwareimage.h"

#include <QFile>
#include <QJsonObject>

namespace {

int runInspect(CliContext &ctx)
{
    if (ctx.args.size() != 1)
        return ctx.fail(
            CliExit_Usage, QStringLiteral("inspect needs exactly one FILE (see inspect --help)"));
    const QString path = ctx.args.first();

    QByteArray content;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        content = file.readAll();

    QJsonObject record;
    QString error;
    if (content.isEmpty()) {
        error = QStringLiteral("getFirmwareData is Empty!");
    } else {
        const FirmwareImage image = decodeFirmwareImage(std::move(content));
        if (image.isValid()) {
            record.insert(QStringLiteral("version"), image.versionText());
            record.insert(QStringLiteral("payloadSize"), image.payload.size());
            record.insert(
                QStringLiteral("payloadMd5"), QString::fromLatin1(image.payloadMd5.toHex()));
        } else {
            error = QString::fromLatin1(FirmwareImage::warningText(image.status));
        }
    }
    record.insert(QStringLiteral("valid"), error.isEmpty());
    if (!error.isEmpty())
        record.insert(QStringLiteral("error"), error);

    static const QStringList order { QStringLiteral("valid"), QStringLiteral("version"),
        QStringLiteral("payloadSize"), QStringLiteral("payloadMd5"), QStringLiteral("error") };
    QStringList present;
    for (const QString &key : order) {
        if (record.contains(key))
            present.append(key);
    }
    ctx.printRecord(record, present);
    if (!error.isEmpty())
        return ctx.fail(CliExit_Failed, QStringLiteral("%1: %2").arg(path, error));
    return CliExit_Ok;
}

const CliRegistrar registrar({
    QStringLiteral("inspect"),
    QStringLiteral("decode a firmware image file and check it (no adapter needed)"),
    QStringLiteral(
        "Usage: corvane-cli [--json] inspect FILE\n"
        "Decodes the firmware image FILE (*.rfw or *.bin) as an update would and checks\n"
        "its digest and type tag. Prints valid, version, payloadSize and payloadMd5, or\n"
        "valid and error for a file that an update would refuse. No adapter is needed.\n"
        "Errors: \"file md5 error\" (wrong key, corrupt or truncated file),\n"
        "\"file type error\" (image of another product), \"getFirmwareData is Empty!\"\n"
        "(empty or unreadable file).\n"
        "Exit codes: 0 valid image, 1 invalid or unreadable, 2 usage error.\n"),
    &runInspect,
});

} // namespace
