// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashreport.h"

#include "adapter.h"
#include "firmwarefile.h"

#include "backupadmission.h"
#include "deviceflash.h"
#include "firmwareversion.h"
#include "flashlayout.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QRegularExpression>

QString shellWord(QString text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@%+,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + text.replace(QLatin1String("'"), QLatin1String("'\\''"))
        + QLatin1Char('\'');
}

namespace {

// The command line this program was started with, or the one for this adapter alone.
QString sameCommand(const CliContext &ctx)
{
    QString text = QStringLiteral("corvane-cli");
    const QStringList args = ctx.commandLine.isEmpty()
        ? QStringList(QCoreApplication::arguments().mid(1))
        : ctx.commandLine;
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
                 .arg(sameCommand(ctx)));
    ctx.warn(image.cached
            ? QStringLiteral("the image is still in the firmware cache: %1").arg(imagePath)
            : QStringLiteral("the image is %1").arg(imagePath));
    if (checkFirmwareFile(image.path).accepted()) {
        // --force: also right once the same command again has written the version.
        const QString update
            = QStringLiteral("corvane-cli update --force %1").arg(shellWord(imagePath));
        if (device.firmwareRecordState() == 0)
            ctx.warn(QStringLiteral("the adapter's firmware record now lacks its signatures "
                                    "(\"Firmware lost\"): an update is the way back: %1")
                         .arg(update));
        else if (device.firmwareRecordState() < 0)
            ctx.warn(QStringLiteral("if the adapter reports \"Firmware lost\" when it is "
                                    "connected again, an update is the way back: %1")
                         .arg(update));
    }
    // Once the same command has run, the adapter's record names expectedVersion (a factory
    // restore's as an update's).
    if (!backupPath.isEmpty()
        && backupAdmission(backupPath, device.serialNumber(), expectedVersion).admitted())
        ctx.warn(
            QStringLiteral("your configuration was saved before the %1; once the adapter "
                           "works again, this puts it back: corvane-cli restore %2")
                .arg(backupReused ? QStringLiteral("first failed write") : QStringLiteral("write"),
                    shellWord(backupPath)));
}

} // namespace

QString deviceErrorText(DeviceError error)
{
    if (const DeviceErrorText *text = DeviceErrorText::of(error))
        return QString::fromLatin1(text->commandLine);
    return QStringLiteral("the adapter reported error %1").arg(int(error));
}

FlashOperation::FlashOperation(DeviceFlash &device, const CliContext &ctx,
    const QString &expectedVersion, const FlashImage &image,
    const std::function<QString(QJsonObject &)> &afterWrite)
    : m_device(device), m_ctx(ctx), m_expectedVersion(expectedVersion), m_image(image),
      m_afterWrite(afterWrite)
{ }

void FlashOperation::start(const std::function<void()> &start, const Progress &progress)
{
    const CliContext &ctx = m_ctx;
    // The device lives on this thread: its worker's signals arrive queued, in the event
    // loop that waitUntilIdle() runs.
    QObject::connect(&m_device, &DeviceFlash::write2FlashProgressChanged, &m_context,
        [this, progress](qlonglong current, qlonglong all) {
            m_written = current;
            m_total = all;
            if (progress)
                progress(FlashPhase::Writing, current, all);
        });
    QObject::connect(&m_device, &DeviceFlash::dataStoreProgressChanged, &m_context,
        [this, progress](qlonglong, qlonglong all) {
            m_total = all;
            if (progress)
                progress(FlashPhase::Erasing, 0, all);
        });
    QObject::connect(&m_device, &DeviceFlash::autoBackupProgressChanged, &m_context,
        [progress](qlonglong current, qlonglong all) {
            if (progress)
                progress(FlashPhase::SavingConfiguration, current, all);
        });
    QObject::connect(&m_device, &DeviceFlash::verifyProgressChanged, &m_context,
        [progress](qlonglong current, qlonglong all) {
            if (progress)
                progress(FlashPhase::Verifying, current, all);
        });
    QObject::connect(
        &m_device, &DeviceFlash::error, &m_context, [this](DeviceError e) { m_errors.append(e); });
    QObject::connect(
        &m_device, &DeviceFlash::autoBackupSaved, &m_context, [this, &ctx](const QString &path) {
            m_backupPath = path;
            if (ctx.showsProgress())
                ctx.err << "configuration saved to " << terminalText(path) << Qt::endl;
        });
    QObject::connect(
        &m_device, &DeviceFlash::autoBackupReused, &m_context, [this, &ctx](const QString &path) {
            m_backupPath = path;
            m_backupReused = true;
            if (ctx.showsProgress())
                ctx.err << "no new configuration backup after a failed write; the "
                           "one saved before it stays: "
                        << terminalText(path) << Qt::endl;
        });
    const QString firmware = m_device.version();
    if (m_device.isAutoBackupEnabled() && !firmware.isEmpty() && !m_device.isSupportDataStore()
        && ctx.showsProgress())
        ctx.err << "firmware " << terminalText(firmware)
                << " keeps no configuration store: there is none to save first" << Qt::endl;
    start();
}

int FlashOperation::conclude()
{
    const CliContext &ctx = m_ctx;
    QObject::disconnect(&m_device, nullptr, &m_context, nullptr);
    ctx.addFields({ { QStringLiteral("bytesWritten"), double(m_written) },
        { QStringLiteral("backup"),
            m_backupPath.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(m_backupPath) } });
    // A refused file or a failed backup comes before the erase; anything else after it.
    const bool refused = !m_errors.isEmpty()
        && (m_errors.first() == DeviceError_FirmwareEmpty
            || m_errors.first() == DeviceError_BackupFailure);
    const bool partWritten = !refused
        && (m_total > 0 || m_errors.contains(DeviceError_WriteFailure)
            || m_errors.contains(DeviceError_EraseFailure));
    QString reason;
    if (m_device.answerTimedOut()) {
        reason = QStringLiteral("%1 (%2 of %3 bytes written and verified)")
                     .arg(stoppedAnsweringText())
                     .arg(m_written)
                     .arg(m_total);
    } else if (!m_errors.isEmpty()) {
        reason = deviceErrorText(m_errors.first());
        if (partWritten)
            reason += QStringLiteral(" (%1 of %2 bytes written and verified)")
                          .arg(m_written)
                          .arg(m_total);
    } else if (m_total <= 0 || m_written != m_total) {
        reason
            = QStringLiteral("the write stopped after %1 of %2 bytes").arg(m_written).arg(m_total);
    }
    if (!reason.isEmpty()) {
        m_failure = reason;
        const int code = ctx.fail(CliExit_Failed, reason);
        if (partWritten && m_written != m_total)
            printRecovery(ctx, m_device, m_image, m_backupPath, m_backupReused, m_expectedVersion);
        return code;
    }
    QJsonObject extra;
    const QString afterWriteFailure = m_afterWrite ? m_afterWrite(extra) : QString();
    if (!afterWriteFailure.isEmpty()) {
        m_failure = afterWriteFailure;
        return ctx.fail(CliExit_Failed, afterWriteFailure);
    }
    const QString version = m_device.version();
    if (version != m_expectedVersion) {
        m_failure = QStringLiteral("every byte was written, but the adapter reads back version "
                                   "'%1' instead of %2")
                        .arg(version, m_expectedVersion);
        return ctx.fail(CliExit_Failed, m_failure);
    }

    m_record.insert(QStringLiteral("version"), version);
    m_record.insert(QStringLiteral("bytesWritten"), double(m_written));
    m_record.insert(QStringLiteral("backup"),
        m_backupPath.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(m_backupPath));
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        m_record.insert(it.key(), it.value());
    // The backup's path was printed when it was saved, unless --quiet kept that line back.
    m_recordOrder
        = QStringList { QStringLiteral("version"), QStringLiteral("bytesWritten") } + extra.keys();
    if (ctx.quiet && !m_backupPath.isEmpty())
        m_recordOrder.append(QStringLiteral("backup"));
    return CliExit_Ok;
}

int runFlashOperation(DeviceFlash &device, const CliContext &ctx,
    const std::function<void()> &start, const QString &expectedVersion, const FlashImage &image,
    const std::function<QString(QJsonObject &)> &afterWrite)
{
    FlashProgressPrinter printer(ctx);
    FlashOperation operation(device, ctx, expectedVersion, image, afterWrite);
    printer.follow(device, [&] {
        operation.start(
            start, [&printer, &ctx](FlashPhase phase, qlonglong current, qlonglong total) {
                if (phase == FlashPhase::Writing)
                    printer.update(current, total);
                else
                    ctx.progressLine(flashPhaseText(phase), current, total);
            });
    });
    const int code = operation.conclude();
    if (code == CliExit_Ok)
        ctx.printRecord(operation.record(), operation.recordOrder());
    return code;
}

void adviseAfterConfigWrite(
    const CliContext &ctx, DeviceFlash &device, const QString &firmwareVersion)
{
    if (!device.isFlashCommitted())
        return; // nothing was erased
    bool readBack = false;
    if (!device.answerTimedOut() && device.loadConfiguration()) {
        waitUntilIdle(device);
        readBack = device.isConfigLoaded();
    }
    const QByteArray block = device.configBuffer();
    if (readBack && !FlashLayout::readFirmwareRecord(block).isValid()) {
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
                     sameCommand(ctx)));
}

FlashOutcome watchFlashWrite(DeviceFlash &device, const CliContext &ctx,
    void (DeviceFlash::*progress)(qlonglong, qlonglong), const std::function<void()> &start)
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
    printer.follow(device, start);
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
