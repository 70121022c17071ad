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
    record.insert(QStringLiteral("valid"), check.accepted());

    static const QStringList order { QStringLiteral("valid"), QStringLiteral("version"),
        QStringLiteral("payloadSize"), QStringLiteral("payloadMd5") };
    QStringList present;
    for (const QString &key : order) {
        if (record.contains(key))
            present.append(key);
    }
    ctx.printRecord(record, present);
    if (!check.accepted())
        return ctx.fail(CliExit_Failed, check.reason);
    return CliExit_Ok;
}

const CliRegistrar registrar({
    QStringLiteral("inspect"),
    QStringLiteral("decode a firmware image file and check it (no adapter needed)"),
    QStringLiteral(
        "Usage: corvane-cli [--json] inspect FILE\n"
        "Decodes the firmware image FILE (*.rfw or *.bin) as an update would and checks its "
        "digest, its type tag and whether its payload fits the flash an update erases. "
        "Prints valid, version, payloadSize and payloadMd5. No adapter is needed.\n"
        "A file that an update would refuse is valid: false, and standard error (with --json "
        "the key error) says why: it cannot be read, it is empty, it is larger than 8 MiB "
        "(it is not read whole), it is no Corvane X9 firmware image (damaged, truncated, "
        "another format or another product), or its payload does not fit the flash an update "
        "erases.\n"),
    &runInspect,
    {},
    cliExitCodes({ { CliExit_Ok, QStringLiteral("valid image") },
        { CliExit_Failed, QStringLiteral("invalid or unreadable") } }),
});

} // namespace
