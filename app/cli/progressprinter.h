// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

class DeviceFlash;

// What a flash operation is doing, for its progress.
enum class FlashPhase {
    Opening,
    SavingConfiguration,
    Erasing,
    Writing,
    Verifying,
    Reading,
    Downloading,
};
QString flashPhaseText(FlashPhase phase);

// A one-line progress display for flash writes on standard error, so that standard output
// carries the result alone: a redrawn bar with percent, bytes, rate and time left on a
// terminal, one plain line per tenth of the total otherwise, JSON lines with --progress json,
// nothing at all with --quiet or (without --progress json) --json.
class FlashProgressPrinter
{
public:
    // phase names what the bytes are for: "written" in the plain lines, "writing" in JSON.
    explicit FlashProgressPrinter(const CliContext &ctx, FlashPhase phase = FlashPhase::Writing);

    void update(qlonglong current, qlonglong total);
    // Ends the bar's line, if one was drawn.
    void finish();
    // Runs start(), waits until the device is idle (its reports reach update() meanwhile,
    // through whatever start connected) and ends the line.
    void follow(DeviceFlash &device, const std::function<void()> &start);

    // "[#####-----]  50%  917504/1835264 bytes  60.2 KiB/s  0:15 left"
    static QString barLine(qlonglong current, qlonglong total, double bytesPerSecond);

private:
    const CliContext &m_ctx;
    const FlashPhase m_phase;
    QElapsedTimer m_clock; // runs from the first report: the rate counts writing only
    qlonglong m_firstCurrent = 0;
    qint64 m_lastDrawMs = -1;
    int m_lastTenth = 0;
    bool m_drawn = false;
};
