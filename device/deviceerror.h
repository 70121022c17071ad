// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>

// Failures of device operations reported to the user through DeviceFlash::error().
enum DeviceError {
    DeviceError_FirmwareEmpty = 0,
    DeviceError_EraseFailure = 1,
    DeviceError_HardwareFailure = 2,
    DeviceError_FirmwareLost = 3,
    DeviceError_ConfigurationLost = 4,
    // A flash write stopped before its total (echo mismatch, unplugged adapter, ...).
    DeviceError_WriteFailure = 5,
    // The configuration could not be saved before an update or factory restore; nothing
    // was erased.
    DeviceError_BackupFailure = 6,
    // The operation's "started" line could not be written to the history before the erase,
    // so the job did not start; nothing was erased.
    DeviceError_HistoryUnwritable = 7,
    // Every byte was written and confirmed, but the adapter did not answer the read of the
    // firmware record after the write: the version it runs is not known.
    DeviceError_VersionNotReadBack = 8,
    // The adapter did not answer the erase request at all (unplugged, or it stopped
    // answering): its flash may be partly erased.
    DeviceError_EraseUnanswered = 9,
};

Q_DECLARE_METATYPE(DeviceError)

// What the user is told of an error, null for a value outside the enumeration.
struct DeviceErrorText
{
    // The window's message as written in the source (translated in the context
    // "MainWindow"); the history keeps it in English.
    const char *message;
    // The sentence corvane-cli prints.
    const char *commandLine;

    static const DeviceErrorText *of(DeviceError error);
};
