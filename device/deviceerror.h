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
};

Q_DECLARE_METATYPE(DeviceError)
