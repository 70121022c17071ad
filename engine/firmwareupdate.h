// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firmwarefile.h"
#include "updatejobs.h"

#include <QByteArray>
#include <QString>

#include <functional>

class DeviceFlash;
struct FlashJob;

// Steps of the firmware update, factory restore and read-back, run inside the device's
// tasks.
namespace FirmwareUpdate {

// checkFirmwareFile(); a file that cannot be read (or is too large to be one) is reported
// with error(DeviceError_FirmwareEmpty).
FirmwareFileCheck checkFile(DeviceFlash &device, const QString &path);
// Which bytes of a job's region (its index and length) are the image's own.
using ImageBytes = std::function<UpdateJobs::Span(int region, quint32 regionLength)>;

// Reads back the image's bytes of every region of a job (0x56 reads of up to 52 bytes) and
// compares them, reporting through verifyProgressChanged and regionVerified; a region without
// bytes of the image is not read. imageBytes defaults to an update job's. True when every
// region was read and matched.
bool verifyJob(DeviceFlash &device, const FlashJob &job, const ImageBytes &imageBytes = {});

} // namespace FirmwareUpdate
