// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"
#include "deviceerror.h"
#include "operationresult.h"
#include "progressprinter.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class DeviceFlash;

// One clear sentence for each failure the engine reports.
QString deviceErrorText(DeviceError error);

// The image an update or factory restore writes, for the advice after a failed write.
struct FlashImage
{
    QString path;
    bool cached = false; // taken from the firmware cache (update --version)
};

// One flash operation (update, factory restore) of an opened adapter, from its start to its
// outcome, as runFlashOperation() below tells it; several run side by side on several
// adapters.
class FlashOperation
{
public:
    FlashOperation(DeviceFlash &device, const CliContext &ctx, const QString &expectedVersion,
        const FlashImage &image, const std::function<QString(QJsonObject &)> &afterWrite = {});
    FlashOperation(const FlashOperation &) = delete;
    FlashOperation &operator=(const FlashOperation &) = delete;

    using Progress = std::function<void(FlashPhase phase, qlonglong current, qlonglong total)>;
    // Follows the device's signals (progress goes to progress), says what comes first, and
    // calls start().
    void start(const std::function<void()> &start, const Progress &progress);
    // Once the device is idle: CliExit_Ok with record(), or CliExit_Failed after saying why
    // on the context's standard error, with what to do next when the flash may be half
    // written.
    int conclude();

    // {version, bytesWritten, backup} and afterWrite's keys; the keys printed as text.
    const QJsonObject &record() const { return m_record; }
    QStringList recordOrder() const { return m_recordOrder; }
    // Why it failed ("" when it did not).
    QString failure() const { return m_failure; }
    qlonglong written() const { return m_written; }
    QString backupPath() const { return m_backupPath; }
    // The engine's result of the operation (Failed until it came).
    const OperationResult &result() const { return m_result; }

private:
    // The sentence for a failed result.
    QString failureText(QJsonObject &extra) const;

    DeviceFlash &m_device;
    const CliContext &m_ctx;
    const QString m_expectedVersion;
    const FlashImage m_image;
    const std::function<QString(QJsonObject &)> m_afterWrite;
    QObject m_context;
    qlonglong m_written = 0;
    qlonglong m_total = 0;
    QString m_backupPath;
    bool m_backupReused = false;
    QString m_failure;
    QJsonObject m_record;
    QStringList m_recordOrder;
    OperationResult m_result;
};

// Runs one flash operation of an opened adapter to its end: start() begins it, progress is
// shown as it arrives, and the outcome is printed as the record {version, bytesWritten,
// backup}. Success (CliExit_Ok) is the engine's result (every byte written and confirmed,
// and the written version read back); otherwise CliExit_Failed with the reason and, when
// the flash may be half written, what to do next. afterWrite, when given, reads the
// read-back after the write: it adds its keys to the record or says why it failed.
int runFlashOperation(DeviceFlash &device, const CliContext &ctx,
    const std::function<void()> &start, const QString &expectedVersion, const FlashImage &image,
    const std::function<QString(QJsonObject &)> &afterWrite = {});

// What a configuration write reported: its last progress (current -1 when none came, as
// when the configuration could not be read first) and the errors.
struct FlashOutcome
{
    qlonglong current = -1;
    qlonglong total = 0;
    QList<DeviceError> errors;
    bool timedOut = false; // the adapter stopped answering within --timeout
    OperationResult result; // the engine's (Failed when none came)
};

// Says on standard error, while context lives, when the device waits for the history's lock.
void noteHistoryLockWaits(DeviceFlash &device, const CliContext &ctx, QObject *context);
// Says once on standard error that the operation's history line could not be written (unless
// that already stopped the job, whose failure says so).
void noteHistoryFailure(const CliContext &ctx, const OperationResult &result);
// The command that runs args on this adapter ("corvane-cli --adapter SERIAL args" where
// another adapter is attached or --adapter chose it), as a shell line.
QString adviceCommand(const CliContext &ctx, const DeviceFlash &device, const QStringList &args);
// The options an advised update with an image of imageVersion needs past the version guard
// of an adapter that announces installed ("" when unknown): --allow-older for an older image,
// --force for the same version unless the adapter's last write is unfinished.
QStringList versionGuardOptions(
    const QString &installed, const QString &imageVersion, bool unfinished);

// What to do after a configuration write (restore, boot-mode) that failed once the adapter's
// erase had begun: reads the configuration block back to tell which command still works.
void adviseAfterConfigWrite(
    const CliContext &ctx, DeviceFlash &device, const QString &firmwareVersion);

// Runs start(), shows the progress that the given signal reports, and waits until the
// device is idle.
FlashOutcome watchFlashWrite(DeviceFlash &device, const CliContext &ctx,
    void (DeviceFlash::*progress)(qlonglong, qlonglong), const std::function<void()> &start);
// The reason a watched write failed, or "" when every byte was written and verified.
QString flashFailure(const FlashOutcome &outcome);
