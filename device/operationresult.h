// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>
#include <QString>

// How a flash operation (update, factory restore, configuration restore, boot mode) ended,
// decided once by the engine as the operation ends and carried by DeviceFlash::finished():
// the window, corvane-cli and the history all take this result and none rebuilds it from the
// progress reports.
struct OperationResult
{
    enum Outcome {
        Succeeded = 0, // every byte written and confirmed, and the written version read back
        Failed = 1,
        Cancelled = 2, // cancelled before anything was erased; nothing was changed
    };

    QString operation; // "update", "restore-defaults", "restore" or "boot-mode"
    Outcome outcome = Failed;
    // The first DeviceError the operation reported, -1 for none.
    int error = -1;
    // Why it failed, in English, as the history keeps it; empty on success.
    QString reason;
    // The job reached its erase: the adapter's flash may have changed.
    bool erased = false;
    // The firmware version read back after the write; empty when it could not be read.
    QString versionRead;
    // Every region was read back after the write and matched (update with verify on).
    bool verified = false;
    // A read-back after the write was stopped before its end (the write itself had ended).
    bool readBackStopped = false;
    // The automatic backup saved or kept for this operation, empty when none.
    QString backup;
    // Why the operation's history line could not be written, empty when it was.
    QString historyError;

    bool succeeded() const { return outcome == Succeeded; }
};

Q_DECLARE_METATYPE(OperationResult)
