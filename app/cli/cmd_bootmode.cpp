// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "cli.h"
#include "datadirectory.h"
#include "flashreport.h"
#include "interruptguard.h"

#include "deviceflash.h"

#include <QJsonObject>

namespace {

// Labels by mode number, as the settings dialog lists them.
const QStringList &modeLabels()
{
    static const QStringList labels { QStringLiteral("Auto"), QStringLiteral("PS4(PC)"),
        QStringLiteral("XB360(PC)"), QStringLiteral("SWITCH"), QStringLiteral("UNDEFINE") };
    return labels;
}

// A number 0..4 or a label (any case); -1 otherwise.
int parseMode(const QString &text)
{
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber)
        return number >= 0 && number < modeLabels().size() ? number : -1;
    for (int i = 0; i < modeLabels().size(); ++i) {
        if (modeLabels().at(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void printMode(const CliContext &ctx, int mode)
{
    QJsonObject record;
    record.insert(QStringLiteral("mode"), mode);
    record.insert(QStringLiteral("label"), modeLabels().value(mode));
    ctx.printRecord(record, { QStringLiteral("mode"), QStringLiteral("label") });
}

int runBootMode(CliContext &ctx)
{
    if (ctx.args.size() > 1)
        return ctx.fail(CliExit_Usage,
            QStringLiteral("boot-mode takes at most one MODE (see boot-mode --help)"));
    int mode = -1;
    if (!ctx.args.isEmpty()) {
        mode = parseMode(ctx.args.first());
        if (mode < 0)
            return ctx.fail(CliExit_Usage,
                QStringLiteral("MODE must be 0 to 4 or one of %1 (got '%2')")
                    .arg(modeLabels().join(QStringLiteral(", ")), ctx.args.first()));
    }

    DeviceFlash device;
    const InterruptGuard interrupts(ctx, device);
    const int opened = openAdapter(device, ctx);
    if (opened != CliExit_Ok)
        return opened;
    useDataDirectory(device, false); // the history line
    const QString version = device.version();
    if (!device.isSupportBootMode())
        return ctx.fail(CliExit_Failed,
            QStringLiteral("firmware %1 has no boot-mode setting; it needs 5.5.24 "
                           "or later")
                .arg(version.isEmpty() ? QStringLiteral("(unknown)") : version));

    if (mode < 0) {
        device.loadConfiguration();
        waitUntilIdle(device);
        if (!device.isConfigLoaded())
            return ctx.fail(CliExit_Failed,
                device.answerTimedOut()
                    ? stoppedAnsweringText()
                    : QStringLiteral("could not read the adapter's configuration"));
        printMode(ctx, device.bootMode());
        return CliExit_Ok;
    }

    const FlashOutcome outcome = watchFlashWrite(device, ctx, &DeviceFlash::settingProgressChanged,
        [&device, mode] { device.setBootMode(mode); });
    const QString failure = flashFailure(outcome);
    if (!failure.isEmpty()) {
        const int code = ctx.fail(CliExit_Failed, failure);
        adviseAfterConfigWrite(ctx, device, version);
        return code;
    }
    printMode(ctx, mode);
    return CliExit_Ok;
}

const CliRegistrar reg(
    { QStringLiteral("boot-mode"), QStringLiteral("show or set the mode the adapter starts in"),
        QStringLiteral("Usage: corvane-cli [--json] boot-mode [MODE]\n"
                       "Without MODE: reads the adapter's configuration and prints the "
                       "boot mode (the console protocol it starts in when no controller "
                       "is attached) as number and label.\n"
                       "With MODE: rewrites the configuration block with that mode, "
                       "verifying every byte. MODE is a number or a label (any case): "
                       "0 Auto, 1 PS4(PC), 2 XB360(PC), 3 SWITCH, 4 UNDEFINE.\n"
                       "Needs firmware 5.5.24 or later.\n"
                       "With --json: one object with the keys mode and label.\n"),
        &runBootMode, {},
        cliExitCodes({ { CliExit_Ok, QStringLiteral("success") },
                         { CliExit_Failed,
                             QStringLiteral("unsupported firmware, the read or the write "
                                            "failed") } },
            CliExitSet_Adapter | CliExitSet_Interrupt) });

} // namespace
