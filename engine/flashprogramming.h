// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"

struct FlashJob;

namespace FlashProgramming {

// Erases the job's sectors, then writes its regions (inside a task). An erase the adapter
// does not confirm ends the job with nothing written and one error(): DeviceError_EraseFailure
// after an answer other than 0x59, DeviceError_EraseUnanswered when none came at all; a write
// that stops short of the job's total emits one error(DeviceError_WriteFailure). A job with a
// region outside the sectors it erases, one whose history line cannot be written
// (DeviceError_HistoryUnwritable) and one cancelled before its erase are refused before
// anything is erased (the first with
// DeviceError_FirmwareEmpty). The system is kept awake from the erase to the last write.
bool runJob(DeviceFlash &device, FlashJob *job, FlashProgress progressKind);

} // namespace FlashProgramming
