// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashreport.h"

#include "adapter.h"
#include "firmwarefile.h"

#include "backupadmission.h"
#include "deviceflash.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

constexpr int BarWidth = 30;
constexpr qint64 RedrawIntervalMs = 100;

QString durationText(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString shellWord(QString text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@%+,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + text.replace(QLatin1String("'"), QLatin1String("'\\''"))
        + QLatin1Char('\'');
}

namespace {

// The command line this program was started with.
QString sameCommand()
{
    QString text = QStringLiteral("corvane-cli");
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (const QString &arg : args)
        text += QLatin1Char(' ') + shellWord(arg);
    return text;
}

// What to do after an update or factory restore stopped part-way. Every command named must
// be one this program takes in that state, in the order given: the same command erases and
// writes everything again, `update` only gets an image it accepts, and `restore` only a
// backup it accepts on the adapter that the advised commands leave behind.
void printRecovery(const CliContext &ctx, const DeviceFlash &device, const FlashImage &image,
                   const QString &backupPath, bool backupReused, const QString &expectedVersion)
{
    const QString imagePath = QFileInfo(image.path).absoluteFilePath();
    ctx.warn(QStringLiteral("the adapter's flash is only partly written. Keep the adapter "
                            "plugged in and run the same command again: %1")
                 .arg(sameCommand()));
    ctx.warn(image.cached ? QStringLiteral("the image is still in the firmware cache: %1").arg(imagePath)
                          : QStringLiteral("the image is %1").arg(imagePath));
    if (checkFirmwareFile(image.path).accepted()) {
        const QString update = QStringLiteral("corvane-cli update %1").arg(shellWord(imagePath));
        if (device.firmwareRecordState() == 0)
            ctx.warn(QStringLiteral("the adapter's firmware record now lacks its signatures "
                                    "(\"Firmware lost\"): an update is the way back: %1")
                         .arg(update));
        else if (device.firmwareRecordState() < 0)
            ctx.warn(QStringLiteral("if the adapter reports \"Firmware lost\" when it is "
                                    "connected again, an update is the way back: %1")
                         .arg(update));
    }
    // After a factory restore the adapter has no firmware record, and restore takes nothing.
    const QString after = image.factoryRestore ? QString() : expectedVersion;
    if (!backupPath.isEmpty()
        && backupAdmission(backupPath, device.serialNumber(), after).admitted())
        ctx.warn(QStringLiteral("your configuration was saved before the %1; once the adapter "
                                "works again, this puts it back: corvane-cli restore %2")
                     .arg(backupReused ? QStringLiteral("first failed write")
                                       : QStringLiteral("write"),
                          shellWord(backupPath)));
}

QString rateText(double bytesPerSecond)
{
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB/s").arg(bytesPerSecond / (1024.0 * 1024.0), 0, 'f', 1);
    return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
}

} // namespace

FlashProgressPrinter::FlashProgressPrinter(const CliContext &ctx)
    : m_ctx(ctx)
{
}

QString FlashProgressPrinter::barLine(qlonglong current, qlonglong total, double bytesPerSecond)
{
    const qlonglong shown = qBound<qlonglong>(0, current, qMax<qlonglong>(total, 0));
    const int percent = total > 0 ? int(shown * 100 / total) : 0;
    const int filled = total > 0 ? int(shown * BarWidth / total) : 0;
    QString line = QLatin1Char('[') + QString(filled, QLatin1Char('#'))
        + QString(BarWidth - filled, QLatin1Char('-')) + QLatin1Char(']');
    line += QStringLiteral(" %1%  %2/%3 bytes").arg(percent, 3).arg(shown).arg(total);
    if (bytesPerSecond > 0) {
        const qint64 left = qint64(double(total - shown) / bytesPerSecond + 0.5);
        line += QStringLiteral("  %1  %2 left").arg(rateText(bytesPerSecond), durationText(left));
    }
    return line;
}

void FlashProgressPrinter::update(qlonglong current, qlonglong total)
{
    if (!m_ctx.showsProgress() || total <= 0)
        return;
    if (!m_clock.isValid()) {
        m_clock.start();
        m_firstCurrent = current;
    }
    const qint64 elapsedMs = m_clock.elapsed();
    if (m_ctx.interactive()) {
        const bool last = current >= total;
        if (!last && m_lastDrawMs >= 0 && elapsedMs - m_lastDrawMs < RedrawIntervalMs)
            return;
        m_lastDrawMs = elapsedMs;
        const double rate = elapsedMs > 0
            ? double(current - m_firstCurrent) * 1000.0 / double(elapsedMs)
            : 0.0;
        // Trailing blanks wipe what a longer previous line left behind.
        m_ctx.out << '\r' << barLine(current, total, rate) << "    ";
        m_ctx.out.flush();
        m_drawn = true;
        return;
    }
    const int tenth = int(qBound<qlonglong>(0, current, total) * 10 / total);
    if (tenth <= m_lastTenth)
        return;
    m_lastTenth = tenth;
    m_ctx.out << "written " << current << " of " << total << " bytes (" << tenth * 10 << "%)"
              << Qt::endl;
}

void FlashProgressPrinter::finish()
{
    if (m_drawn) {
        m_ctx.out << Qt::endl;
        m_drawn = false;
    }
}

QString deviceErrorText(DeviceError error)
{
    switch (error) {
    case DeviceError_FirmwareEmpty:
        return QStringLiteral("the firmware file is missing, empty, damaged, meant for another "
                              "product or too large for the adapter; nothing was written");
    case DeviceError_EraseFailure:
        return QStringLiteral("the adapter refused to erase its flash and the write could not be "
                              "completed; run the operation again before unplugging");
    case DeviceError_HardwareFailure:
        return QStringLiteral("the adapter reported a hardware failure");
    case DeviceError_FirmwareLost:
        return QStringLiteral("the adapter has no valid firmware information record");
    case DeviceError_ConfigurationLost:
        return QStringLiteral("the adapter's configuration could not be read");
    case DeviceError_WriteFailure:
        return QStringLiteral("writing the flash failed (the adapter did not confirm every "
                              "byte, or it was unplugged); run the operation again before "
                              "unplugging");
    case DeviceError_BackupFailure:
        return QStringLiteral("The adapter's configuration could not be saved. Nothing was "
                              "changed. (--no-backup writes without saving it first.)");
    }
    return QStringLiteral("the adapter reported error %1").arg(int(error));
}

QString cliDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool takeNoBackupOption(QStringList &args)
{
    return args.removeAll(QStringLiteral("--no-backup")) > 0;
}

void useDataDirectory(DeviceFlash &device, bool autoBackup)
{
    device.setDataDirectory(cliDataDirectory());
    device.setAutoBackupEnabled(autoBackup);
}

int runFlashOperation(DeviceFlash &device, const CliContext &ctx,
                      const std::function<void()> &start, const QString &expectedVersion,
                      const FlashImage &image,
                      const std::function<QString(QJsonObject &)> &afterWrite)
{
    FlashProgressPrinter printer(ctx);
    qlonglong written = 0;
    qlonglong total = 0;
    QList<DeviceError> errors;
    QString backupPath;

    // The device lives on this thread: its worker's signals arrive queued, in the event
    // loop that waitUntilIdle() runs.
    QObject context;
    QObject::connect(&device, &DeviceFlash::write2FlashProgressChanged, &context,
                     [&](qlonglong current, qlonglong all) {
                         written = current;
                         total = all;
                         printer.update(current, all);
                     });
    QObject::connect(&device, &DeviceFlash::dataStoreProgressChanged, &context,
                     [&](qlonglong, qlonglong all) { total = all; });
    QObject::connect(&device, &DeviceFlash::error, &context,
                     [&errors](DeviceError e) { errors.append(e); });
    QObject::connect(&device, &DeviceFlash::autoBackupSaved, &context,
                     [&](const QString &path) {
                         backupPath = path;
                         if (ctx.showsProgress())
                             ctx.out << "configuration saved to " << terminalText(path) << Qt::endl;
                     });
    bool backupReused = false;
    QObject::connect(&device, &DeviceFlash::autoBackupReused, &context,
                     [&](const QString &path) {
                         backupPath = path;
                         backupReused = true;
                         if (ctx.showsProgress())
                             ctx.out << "no new configuration backup after a failed write; the "
                                        "one saved before it stays: "
                                     << terminalText(path) << Qt::endl;
                     });
    const QString firmware = device.version();
    if (device.isAutoBackupEnabled() && !firmware.isEmpty() && !device.isSupportDataStore()
        && ctx.showsProgress())
        ctx.out << "firmware " << terminalText(firmware)
                << " keeps no configuration store: there is none to save first" << Qt::endl;

    start();
    waitUntilIdle(device);
    printer.finish();
    ctx.addFields({{QStringLiteral("bytesWritten"), double(written)},
                   {QStringLiteral("backup"), backupPath.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                   : QJsonValue(backupPath)}});

    // A refused file or a failed backup comes before the erase; anything else after it.
    const bool refused = !errors.isEmpty()
        && (errors.first() == DeviceError_FirmwareEmpty
            || errors.first() == DeviceError_BackupFailure);
    const bool partWritten = !refused
        && (total > 0 || errors.contains(DeviceError_WriteFailure)
            || errors.contains(DeviceError_EraseFailure));
    QString reason;
    if (device.answerTimedOut()) {
        reason = QStringLiteral("%1 (%2 of %3 bytes written and verified)")
                     .arg(stoppedAnsweringText())
                     .arg(written)
                     .arg(total);
    } else if (!errors.isEmpty()) {
        reason = deviceErrorText(errors.first());
        if (partWritten)
            reason += QStringLiteral(" (%1 of %2 bytes written and verified)")
                          .arg(written)
                          .arg(total);
    } else if (total <= 0 || written != total) {
        reason = QStringLiteral("the write stopped after %1 of %2 bytes").arg(written).arg(total);
    }
    if (!reason.isEmpty()) {
        const int code = ctx.fail(CliExit_Failed, reason);
        if (partWritten && written != total)
            printRecovery(ctx, device, image, backupPath, backupReused, expectedVersion);
        return code;
    }
    QJsonObject extra;
    const QString afterWriteFailure = afterWrite ? afterWrite(extra) : QString();
    if (!afterWriteFailure.isEmpty())
        return ctx.fail(CliExit_Failed, afterWriteFailure);
    const QString version = device.version();
    if (version != expectedVersion)
        return ctx.fail(CliExit_Failed,
                        QStringLiteral("every byte was written, but the adapter reads back version "
                                       "'%1' instead of %2")
                            .arg(version, expectedVersion));

    QJsonObject record;
    record.insert(QStringLiteral("version"), version);
    record.insert(QStringLiteral("bytesWritten"), double(written));
    record.insert(QStringLiteral("backup"),
                  backupPath.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(backupPath));
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        record.insert(it.key(), it.value());
    // The backup's path was printed when it was saved, unless --quiet kept that line back.
    QStringList order = QStringList{QStringLiteral("version"), QStringLiteral("bytesWritten")}
        + extra.keys();
    if (ctx.quiet && !backupPath.isEmpty())
        order.append(QStringLiteral("backup"));
    ctx.printRecord(record, order);
    return CliExit_Ok;
}

void adviseAfterConfigWrite(const CliContext &ctx, DeviceFlash &device,
                            const QString &firmwareVersion)
{
    if (!device.isFlashCommitted())
        return; // nothing was erased
    bool readBack = false;
    if (!device.answerTimedOut() && device.loadConfiguration()) {
        waitUntilIdle(device);
        readBack = device.isConfigLoaded();
    }
    const QByteArray block = device.configBuffer();
    if (readBack && (quint8(block.at(0)) != 0x55 || quint8(block.at(255)) != 0xAA)) {
        // Neither restore nor boot-mode works on an adapter without its version.
        ctx.warn(QStringLiteral("the adapter's firmware record is only partly written (\"Firmware "
                                "lost\"): an update brings it back, for example with the "
                                "catalogue's image of the firmware it ran: corvane-cli update "
                                "--version %1")
                     .arg(firmwareVersion));
        return;
    }
    ctx.warn(QStringLiteral("the adapter's configuration is only partly written. %1 run the same "
                            "command again: %2")
                 .arg(readBack ? QStringLiteral("Keep the adapter plugged in and")
                               : QStringLiteral("When the adapter is connected again,"),
                      sameCommand()));
}

FlashOutcome watchFlashWrite(DeviceFlash &device, const CliContext &ctx,
                             void (DeviceFlash::*progress)(qlonglong, qlonglong),
                             const std::function<void()> &start)
{
    FlashProgressPrinter printer(ctx);
    FlashOutcome outcome;
    QObject context;
    QObject::connect(&device, progress, &context, [&](qlonglong current, qlonglong total) {
        outcome.current = current;
        outcome.total = total;
        printer.update(current, total);
    });
    QObject::connect(&device, &DeviceFlash::error, &context,
                     [&outcome](DeviceError e) { outcome.errors.append(e); });
    start();
    waitUntilIdle(device);
    printer.finish();
    outcome.timedOut = device.answerTimedOut();
    return outcome;
}

QString flashFailure(const FlashOutcome &outcome)
{
    if (outcome.timedOut)
        return QStringLiteral("%1 (%2 of %3 bytes written and verified)")
            .arg(stoppedAnsweringText())
            .arg(qMax<qlonglong>(outcome.current, 0))
            .arg(outcome.total);
    if (!outcome.errors.isEmpty())
        return QStringLiteral("%1 (%2 of %3 bytes written and verified)")
            .arg(deviceErrorText(outcome.errors.first()))
            .arg(qMax<qlonglong>(outcome.current, 0))
            .arg(outcome.total);
    if (outcome.current < 0)
        return QStringLiteral("the adapter's configuration could not be read first; nothing was "
                              "written");
    if (outcome.total <= 0 || outcome.current != outcome.total)
        return QStringLiteral("the write stopped after %1 of %2 bytes")
            .arg(outcome.current)
            .arg(outcome.total);
    return QString();
}

