// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"
#include "deviceerror.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>

class DeviceFlash;

// A one-line progress display for flash writes: a redrawn bar with percent, bytes, rate and
// time left on a terminal, one plain line per tenth of the total otherwise, nothing at all
// with --json (standard output then carries the one JSON object only).
class FlashProgressPrinter
{
public:
    explicit FlashProgressPrinter(const CliContext &ctx);

    void update(qlonglong current, qlonglong total);
    // Ends the bar's line, if one was drawn.
    void finish();

    // "[#####-----]  50%  917504/1835264 bytes  60.2 KiB/s  0:15 left"
    static QString barLine(qlonglong current, qlonglong total, double bytesPerSecond);

private:
    const CliContext &m_ctx;
    QElapsedTimer m_clock; // runs from the first report: the rate counts writing only
    qlonglong m_firstCurrent = 0;
    qint64 m_lastDrawMs = -1;
    int m_lastTenth = 0;
    bool m_drawn = false;
};

// One clear sentence for each failure the engine reports.
QString deviceErrorText(DeviceError error);

// The image an update or factory restore writes, for the advice after a failed write.
struct FlashImage
{
    QString path;
    bool cached = false; // taken from the firmware cache (update --version)
    // A factory restore: afterwards the adapter has no firmware record until an update.
    bool factoryRestore = false;
};

// Runs one flash operation of an opened adapter to its end: start() begins it, progress is
// shown as it arrives, and the outcome is printed as the record {version, bytesWritten,
// backup}. Success (CliExit_Ok) needs no error signal, every byte written and verified, and
// the adapter reading back expectedVersion; otherwise CliExit_Failed with the reason and,
// when the flash may be half written, what to do next. afterWrite, when given, runs once
// every byte was written and verified: it adds its keys to the record or says why the
// operation failed.
int runFlashOperation(DeviceFlash &device, const CliContext &ctx,
                      const std::function<void()> &start, const QString &expectedVersion,
                      const FlashImage &image,
                      const std::function<QString(QJsonObject &)> &afterWrite = {});

// text as one word for a POSIX shell, so that advice can be copied as it is.
QString shellWord(QString text);

// The data directory shared with the window (history, automatic backups, cache).
QString cliDataDirectory();
// Removes "--no-backup" from args; true when it was there.
bool takeNoBackupOption(QStringList &args);
// Sets the device's data directory, with the automatic backup unless noBackup.
void useDataDirectory(DeviceFlash &device, bool autoBackup);

// What a configuration write reported: its last progress (current -1 when none came, as
// when the configuration could not be read first) and the errors.
struct FlashOutcome
{
    qlonglong current = -1;
    qlonglong total = 0;
    QList<DeviceError> errors;
    bool timedOut = false; // the adapter stopped answering within --timeout
};

// What to do after a configuration write (restore, boot-mode) that failed once the adapter's
// erase had begun: reads the configuration block back to tell which command still works.
void adviseAfterConfigWrite(const CliContext &ctx, DeviceFlash &device,
                            const QString &firmwareVersion);

// Runs start(), shows the progress that the given signal reports, and waits until the
// device is idle.
FlashOutcome watchFlashWrite(DeviceFlash &device, const CliContext &ctx,
                             void (DeviceFlash::*progress)(qlonglong, qlonglong),
                             const std::function<void()> &start);
// The reason a watched write failed, or "" when every byte was written and verified.
QString flashFailure(const FlashOutcome &outcome);
