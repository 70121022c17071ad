// SPDX-License-Identifier: GPL-3.0-or-later
#include "progressprinter.h"

#include "adapter.h"

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

FlashProgressPrinter::FlashProgressPrinter(const CliContext &ctx, FlashPhase phase)
    : m_ctx(ctx), m_phase(phase)
{ }

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
    if (m_ctx.progressJson) {
        m_ctx.progressLine(flashPhaseText(m_phase), current, total);
        return;
    }
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
        const double rate
            = elapsedMs > 0 ? double(current - m_firstCurrent) * 1000.0 / double(elapsedMs) : 0.0;
        // Trailing blanks wipe what a longer previous line left behind.
        m_ctx.err << '\r' << barLine(current, total, rate) << "    ";
        m_ctx.err.flush();
        m_drawn = true;
        return;
    }
    const int tenth = int(qBound<qlonglong>(0, current, total) * 10 / total);
    if (tenth <= m_lastTenth)
        return;
    m_lastTenth = tenth;
    m_ctx.err << (m_phase == FlashPhase::Reading ? "read " : "written ") << current << " of "
              << total << " bytes (" << tenth * 10 << "%)" << Qt::endl;
}

void FlashProgressPrinter::finish()
{
    if (m_drawn) {
        m_ctx.err << Qt::endl;
        m_drawn = false;
    }
}

void FlashProgressPrinter::follow(DeviceFlash &device, const std::function<void()> &start)
{
    start();
    waitUntilIdle(device);
    finish();
}

QString flashPhaseText(FlashPhase phase)
{
    switch (phase) {
    case FlashPhase::Opening:
        return QStringLiteral("opening");
    case FlashPhase::SavingConfiguration:
        return QStringLiteral("saving configuration");
    case FlashPhase::Erasing:
        return QStringLiteral("erasing");
    case FlashPhase::Writing:
        return QStringLiteral("writing");
    case FlashPhase::Verifying:
        return QStringLiteral("verifying");
    case FlashPhase::Reading:
        return QStringLiteral("reading");
    case FlashPhase::Downloading:
        return QStringLiteral("downloading");
    }
    return QString();
}
