// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include "firmwarefile.h"

#include <QJsonObject>

namespace {

int runInspect(CliContext &ctx)
{
    if (ctx.args.size() != 1)
        return ctx.fail(
            CliExit_Usage, QStringLiteral("inspect needs exactly one FILE (see inspect --help)"));
    const QString path = ctx.args.first();

    const FirmwareFileCheck check = checkFirmwareFile(path);
    QJsonObject record;
    if (check.image.isValid()) {
        record.insert(QStringLiteral("version"), check.image.versionText());
        record.insert(QStringLiteral("payloadSize"), check.image.payload.size());
        record.insert(
            QStringLiteral("payloadMd5"), QString::fromLatin1(check.image.payloadMd5.toHex()));
    }
    const QString &error = check.error;
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
        return ctx.fail(CliExit_Failed, check.reason);
    return CliExit_Ok;
}

const CliRegistrar registrar({
    QStringLiteral("inspect"),
    QStringLiteral("decode a firmware image file and check it (no adapter needed)"),
    QStringLiteral(
        "Usage: corvane-cli [--json] inspect FILE\n"
        "Decodes the firmware image FILE (*.rfw or *.bin) as an update would and checks\n"
        "its digest, its type tag and whether its payload fits the flash an update erases.\n"
        "Prints valid, version, payloadSize and payloadMd5, with error for a file that an\n"
        "update would refuse. No adapter is needed.\n"
        "Errors: \"file md5 error\" (wrong key, corrupt or truncated file),\n"
        "\"file type error\" (image of another product), \"getFirmwareData is Empty!\"\n"
        "(empty or unreadable file), \"file too large\" (over 8 MiB, not read whole),\n"
        "\"firmware too large\" (the payload does not fit the flash an update erases).\n"
        "Exit codes: 0 valid image, 1 invalid or unreadable, 2 usage error.\n"),
    &runInspect,
});

} // namespace
