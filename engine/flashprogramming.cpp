// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashprogramming.h"
#include "logcategories.h"

#include "adapterlink.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "operationhistory.h"
#include "sleepinhibitor.h"

#include <QDebug>

namespace FlashProgramming {

bool runJob(DeviceFlash &device, FlashJob *job, FlashProgress progressKind)
{
    // Flash that the erase does not reach would be programmed over old contents and fail
    // its verification half way: such a job is refused before anything is erased.
    QString reason;
    if (!FlashLayout::erasesEveryRegion(*job, &reason)) {
        qCWarning(lcEngine).noquote() << "flash job refused, nothing erased:" << reason;
        emit device.error(DeviceError_FirmwareEmpty);
        return false;
    }
    const AdapterLink link(device);
    // The history's "started" line comes first: an interrupted write must always be told
    // from a whole one, so a job whose line cannot be written does not start.
    OperationRecord *record = link.activeRecord();
    if (record && !record->started())
        return false;
    if (!link.commitToErase()) {
        if (record)
            record->notErased();
        return false;
    }
    // Sleep or shutdown would cut the adapter's power between the erase and the last write:
    // the system is kept awake until the write has ended.
    SleepInhibitor awake;
    // Programming can only clear bits: flash written without a confirmed erase holds the AND
    // of old and new bytes. An erase the adapter did not confirm ends the job, nothing written;
    // one that got no answer at all (unplugged, stalled) may have left the flash partly erased.
    if (!device.eraseFlash(job)) {
        awake.release();
        emit device.error(
            link.eraseAnswered() ? DeviceError_EraseFailure : DeviceError_EraseUnanswered);
        return false;
    }
    const bool written = device.write2Flash(job, progressKind);
    awake.release();
    if (!written)
        emit device.error(DeviceError_WriteFailure);
    return written;
}

} // namespace FlashProgramming
