// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashreport.h"

#include "adapter.h"
#include "deviceflash.h"

#include <QJsonObject>
#include <QList>
#include <QObject>

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
    if (m_ctx.json || total <= 0)
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
    }
    return QStringLiteral("the adapter reported error %1").arg(int(error));
}

int runFlashOperation(DeviceFlash &device, const CliContext &ctx,
                      const std::function<void()> &start, const QString &expectedVersion)
{
    FlashProgressPrinter printer(ctx);
    qlonglong written = 0;
    qlonglong total = 0;
    QList<DeviceError> errors;

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

    start();
    waitUntilIdle(device);
    printer.finish();

    if (device.answerTimedOut())
        return ctx.fail(CliExit_Failed,
                        QStringLiteral("%1 (%2 of %3 bytes written and verified)")
                            .arg(stoppedAnsweringText())
                            .arg(written)
                            .arg(total));
    if (!errors.isEmpty()) {
        QString reason = deviceErrorText(errors.first());
        if (total > 0 && errors.first() != DeviceError_FirmwareEmpty)
            reason += QStringLiteral(" (%1 of %2 bytes written and verified)")
                          .arg(written)
                          .arg(total);
        return ctx.fail(CliExit_Failed, reason);
    }
    if (total <= 0 || written != total)
        return ctx.fail(CliExit_Failed,
                        QStringLiteral("the write stopped after %1 of %2 bytes").arg(written).arg(total));
    const QString version = device.version();
    if (version != expectedVersion)
        return ctx.fail(CliExit_Failed,
                        QStringLiteral("every byte was written, but the adapter reads back version "
                                       "'%1' instead of %2")
                            .arg(version, expectedVersion));

    QJsonObject record;
    record.insert(QStringLiteral("version"), version);
    record.insert(QStringLiteral("bytesWritten"), double(written));
    ctx.printRecord(record, {QStringLiteral("version"), QStringLiteral("bytesWritten")});
    return CliExit_Ok;
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

