// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashreport.h"

#include "adapter.h"
#include "adapterlist.h"
#include "console.h"
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

namespace {

// What --adapter takes for this adapter in advice, or "" where none is needed.
QString adapterChoice(const CliContext &ctx, const DeviceFlash &device)
{
    if (!ctx.adapter.isEmpty())
        return ctx.adapter;
    const QList<AttachedAdapter> adapters = attachedAdapters();
    if (ctx.standardStreams && adapters.size() <= 1)
        return QString(); // the only adapter: the command finds it by itself
    // By serial number, unless another adapter has the same one: then by its path.
    const QString serial = QString::fromLatin1(device.serialNumber());
    int sharing = 0;
    for (const AttachedAdapter &adapter : adapters)
        sharing += adapter.usbSerial.compare(serial, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return sharing > 1 || serial.isEmpty() ? QFile::decodeName(device.openedPath()) : serial;
}

} // namespace

QString adviceCommand(const CliContext &ctx, const DeviceFlash &device, const QStringList &args)
{
    QString text = QStringLiteral("corvane-cli");
    const QString chosen = adapterChoice(ctx, device);
    if (!chosen.isEmpty())
        text += QStringLiteral(" --adapter ") + Console::shellWord(chosen);
    for (const QString &arg : args)
        text += QLatin1Char(' ') + Console::shellWord(arg);
    return text;
}

QStringList versionGuardOptions(
    const QString &installed, const QString &imageVersion, bool unfinished)
{
    if (installed.isEmpty() || imageVersion.isEmpty())
        return {};
    const int order = FirmwareVersion::compare(imageVersion, installed);
    if (order < 0)
        return { QStringLiteral("--allow-older") };
    if (order == 0 && !unfinished)
        return { QStringLiteral("--force") };
    return {};
}

void noteHistoryLockWaits(DeviceFlash &device, const CliContext &ctx, QObject *context)
{
    QObject::connect(&device, &DeviceFlash::historyLockBusy, context, [&ctx](int waitMs) {
        ctx.note(QStringLiteral("another program holds the history's lock; waiting for it, %1 s "
                                "at most")
                     .arg(waitMs / 1000));
    });
}

void noteHistoryFailure(const CliContext &ctx, const OperationResult &result)
{
    if (!result.historyError.isEmpty() && result.error != DeviceError_HistoryUnwritable)
        ctx.warn(QStringLiteral("the history cannot be written: %1; this operation is not "
                                "recorded there")
                     .arg(result.historyError));
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
        text += QLatin1Char(' ') + Console::shellWord(arg);
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
        const QString update = adviceCommand(
            ctx, device, { QStringLiteral("update"), QStringLiteral("--force"), imagePath });
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
                           "works again, this puts it back: %2")
                .arg(backupReused ? QStringLiteral("first failed write") : QStringLiteral("write"),
                    adviceCommand(ctx, device, { QStringLiteral("restore"), backupPath })));
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
    QObject::connect(&m_device, &DeviceFlash::finished, &m_context,
        [this](const OperationResult &result) { m_result = result; });
    noteHistoryLockWaits(m_device, ctx, &m_context);
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

QString FlashOperation::failureText(QJsonObject &extra) const
{
    const OperationResult &r = m_result;
    const QString counted
        = QStringLiteral(" (%1 of %2 bytes written and verified)").arg(m_written).arg(m_total);
    if (r.outcome == OperationResult::Cancelled)
        return QStringLiteral("cancelled before anything was erased; nothing was changed");
    // Every byte was written and confirmed; only the version is not known.
    if (r.error == DeviceError_VersionNotReadBack)
        return QStringLiteral("%1; run %2")
            .arg(deviceErrorText(DeviceError_VersionNotReadBack),
                adviceCommand(m_ctx, m_device,
                    { QStringLiteral("verify"), QFileInfo(m_image.path).absoluteFilePath() }));
    if (m_device.answerTimedOut())
        return r.erased ? stoppedAnsweringText() + counted
                        : QStringLiteral("%1 before anything was erased; nothing was changed")
                              .arg(stoppedAnsweringText());
    if (r.error == DeviceError_HistoryUnwritable)
        return QStringLiteral("the history cannot be written: %1; nothing was erased")
            .arg(r.historyError);
    if (r.error >= 0)
        return deviceErrorText(DeviceError(r.error)) + (r.erased ? counted : QString());
    if (m_afterWrite && !r.verified && !r.readBackStopped) {
        const QString readBack = m_afterWrite(extra);
        if (!readBack.isEmpty())
            return readBack;
    }
    if (!r.versionRead.isEmpty() && r.versionRead != m_expectedVersion)
        return QStringLiteral("every byte was written, but the adapter reads back version '%1' "
                              "instead of %2")
            .arg(r.versionRead, m_expectedVersion);
    if (m_total <= 0 || m_written != m_total)
        return QStringLiteral("the write stopped after %1 of %2 bytes").arg(m_written).arg(m_total);
    return r.reason;
}

int FlashOperation::conclude()
{
    const CliContext &ctx = m_ctx;
    QObject::disconnect(&m_device, nullptr, &m_context, nullptr);
    ctx.addFields({ { QStringLiteral("bytesWritten"), double(m_written) },
        { QStringLiteral("backup"),
            m_backupPath.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(m_backupPath) } });
    noteHistoryFailure(ctx, m_result);
    // The engine decided the outcome; what is left here is to say it.
    QJsonObject extra;
    if (!m_result.succeeded()) {
        m_failure = failureText(extra);
        const int code = ctx.fail(CliExit_Failed, m_failure);
        // Past the erase and short of the last byte: the flash is half written.
        if (m_result.erased && m_written != m_total)
            printRecovery(ctx, m_device, m_image, m_backupPath, m_backupReused, m_expectedVersion);
        return code;
    }
    if (m_afterWrite && m_result.verified)
        m_afterWrite(extra);
    const QString version = m_result.versionRead;
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
        ctx.warn(
            QStringLiteral("the adapter's firmware record is only partly written (\"Firmware "
                           "lost\"): an update brings it back, for example with the "
                           "catalogue's image of the firmware it ran: %1")
                .arg(adviceCommand(ctx, device,
                    { QStringLiteral("update"), QStringLiteral("--version"), firmwareVersion })));
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
    QObject::connect(&device, &DeviceFlash::finished, &context,
        [&outcome](const OperationResult &result) { outcome.result = result; });
    noteHistoryLockWaits(device, ctx, &context);
    printer.follow(device, start);
    outcome.timedOut = device.answerTimedOut();
    noteHistoryFailure(ctx, outcome.result);
    return outcome;
}

QString flashFailure(const FlashOutcome &outcome)
{
    // The engine decided; the rest only says why it failed.
    if (outcome.result.succeeded())
        return QString();
    if (outcome.timedOut && !outcome.result.erased)
        return QStringLiteral("%1 before anything was erased; nothing was changed")
            .arg(stoppedAnsweringText());
    if (outcome.timedOut)
        return QStringLiteral("%1 (%2 of %3 bytes written and verified)")
            .arg(stoppedAnsweringText())
            .arg(qMax<qlonglong>(outcome.current, 0))
            .arg(outcome.total);
    if (outcome.result.error == DeviceError_HistoryUnwritable)
        return QStringLiteral("the history cannot be written: %1; nothing was erased")
            .arg(outcome.result.historyError);
    if (outcome.result.outcome == OperationResult::Cancelled)
        return QStringLiteral("cancelled before anything was erased; nothing was changed");
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
    return outcome.result.reason.isEmpty() ? QStringLiteral("the operation did not complete")
                                           : outcome.result.reason;
}
