// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"

struct FlashJob;

namespace FlashProgramming {

// Erases the job's sectors, then writes its regions (inside a task). An erase the adapter
// does not confirm (no answer, or one other than 0x59) ends the job with nothing written and
// one error(DeviceError_EraseFailure); a write that stops short of the job's total emits one
// error(DeviceError_WriteFailure). A job with a region outside the sectors it erases,
// or one cancelled before its erase, is refused before anything is erased (the former with
// DeviceError_FirmwareEmpty). The system is kept awake from the erase to the last write.
bool runJob(DeviceFlash &device, FlashJob *job, FlashProgress progressKind);

} // namespace FlashProgramming
