// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firmwarefile.h"

#include <QByteArray>
#include <QString>

class DeviceFlash;
struct FlashJob;

// Steps of the firmware update, factory restore and read-back, run inside the device's
// tasks.
namespace FirmwareUpdate {

// checkFirmwareFile(); a file that cannot be read (or is too large to be one) is reported
// with error(DeviceError_FirmwareEmpty).
FirmwareFileCheck checkFile(DeviceFlash &device, const QString &path);
// Reads back the image's bytes of every region of an update job (0x56 reads of up to 52
// bytes) and compares them, reporting through verifyProgressChanged and regionVerified.
// True when every region was read and matched.
bool verifyJob(DeviceFlash &device, const FlashJob &job);

} // namespace FirmwareUpdate
