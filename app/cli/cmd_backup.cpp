// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "progressprinter.h"

#include "backupfile.h"
#include "deviceflash.h"
#include "privatefiles.h"

#include <QFileInfo>
#include <QJsonObject>

namespace {

int runBackup(CliContext &ctx)
{
    if (ctx.args.size() != 1)
        return ctx.fail(
            CliExit_Usage, QStringLiteral("backup needs exactly one OUT.bkp (see backup --help)"));
    const QString path = ctx.args.first();
    // A path that cannot be written safely is refused before the adapter is read.
    QString unsafe;
    if (PrivateFiles::resolveForWriting(path, &unsafe).isEmpty())
        return ctx.fail(CliExit_Failed, QStringLiteral("cannot write %1: %2").arg(path, unsafe));

    DeviceFlash device;
    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;
    const QString version = device.version();
    if (version.isEmpty())
        return ctx.fail(CliExit_Failed,
            QStringLiteral("could not read the adapter's firmware "
                           "version, so the backup length is unknown"));

    // On standard error: a bar on a terminal, otherwise one line per tenth.
    FlashProgressPrinter printer(ctx, FlashPhase::Reading);
    qlonglong current = 0;
    qlonglong total = 0;
    // Queued to this thread: the values are taken while waiting, the buffer only at the end.
    QObject::connect(&device, &DeviceFlash::dataBackupProgressChanged, &device,
        [&](qlonglong c, qlonglong t, char *) {
            current = c;
            total = t;
            printer.update(c, t);
        });
    if (!device.dataBackup())
        return ctx.fail(CliExit_Failed, QStringLiteral("the adapter is busy or was closed"));
    waitUntilIdle(device);
    printer.finish();

    if (device.answerTimedOut())
        return ctx.fail(CliExit_Failed,
            QStringLiteral("%1; nothing was written to %2").arg(stoppedAnsweringText(), path));
    if (total <= 0 || current != total)
        return ctx.fail(CliExit_Failed,
            QStringLiteral("reading the configuration stopped after %1 of %2 bytes; "
                           "nothing was written to %3")
                .arg(current)
                .arg(total)
                .arg(path));

    QString error;
    if (!BackupFile::write(path, device.backupBuffer(), total, device.serialNumber(), &error))
        return ctx.fail(CliExit_Failed, QStringLiteral("cannot write %1: %2").arg(path, error));

    QJsonObject record;
    record.insert(QStringLiteral("path"), QFileInfo(path).absoluteFilePath());
    record.insert(QStringLiteral("size"), double(total + BackupFile::DigestLength));
    record.insert(QStringLiteral("version"), version);
    record.insert(QStringLiteral("serial"), QString::fromLatin1(device.serialNumber()));
    ctx.printRecord(record,
        { QStringLiteral("path"), QStringLiteral("size"), QStringLiteral("version"),
            QStringLiteral("serial") });
    return CliExit_Ok;
}

const CliRegistrar reg({ QStringLiteral("backup"),
    QStringLiteral("save the adapter's configuration into a backup file"),
    QStringLiteral("Usage: corvane-cli [--json] backup OUT.bkp\n"
                   "Reads the adapter's stored configuration (settings and macros: "
                   "114,688 bytes below firmware 5.5.0, 245,760 bytes from 5.5.0 on) "
                   "and writes it to OUT.bkp with its digest, scrambled with the "
                   "adapter's serial number: the file restores only onto this adapter. "
                   "OUT.bkp is replaced whole or not at all, readable by you alone; "
                   "a symbolic link on the way that another user made is refused.\n"
                   "Prints the file's path, its size, the firmware version and the "
                   "serial number.\n"
                   "With --json: one object with the keys path, size, version and "
                   "serial.\n"),
    &runBackup, {},
    cliExitCodes({ { CliExit_Ok, QStringLiteral("success") },
                     { CliExit_Failed, QStringLiteral("the read or the file write failed") } },
        CliExitSet_Adapter) });

} // namespace
