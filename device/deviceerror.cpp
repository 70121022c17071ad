// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceerror.h"

#include <QtGlobal>

namespace {

const DeviceErrorText Texts[] = {
    { QT_TRANSLATE_NOOP("MainWindow", "Firmware data empty!"),
        "the firmware file is missing, empty, damaged, meant for another product or too large "
        "for the adapter; nothing was written" },
    { QT_TRANSLATE_NOOP("MainWindow", "Erase flash failure!"),
        "the adapter refused to erase its flash and the write could not be completed; run the "
        "operation again before unplugging" },
    { QT_TRANSLATE_NOOP("MainWindow", "Hardware failure!"),
        "the adapter reported a hardware failure" },
    { QT_TRANSLATE_NOOP("MainWindow", "Firmware lost! Please update firmware!"),
        "the adapter has no valid firmware information record" },
    { QT_TRANSLATE_NOOP("MainWindow", "Configuration lost! Please restore defaults!"),
        "the adapter's configuration could not be read" },
    { QT_TRANSLATE_NOOP(
          "MainWindow", "Firmware write failed! Reconnect the adapter and try again."),
        "writing the flash failed (the adapter did not confirm every byte, or it was "
        "unplugged); run the operation again before unplugging" },
    { QT_TRANSLATE_NOOP(
          "MainWindow", "The adapter's configuration could not be saved. Nothing was changed."),
        "The adapter's configuration could not be saved. Nothing was changed. (--no-backup "
        "writes without saving it first.)" },
    { QT_TRANSLATE_NOOP("MainWindow", "The history cannot be written. Nothing was changed."),
        "the history cannot be written; nothing was erased" },
    { QT_TRANSLATE_NOOP("MainWindow",
          "The adapter did not answer the version read after the write. Reconnect it to see "
          "the version it runs."),
        "the adapter did not answer the version read after the write" },
    { QT_TRANSLATE_NOOP(
          "MainWindow", "Firmware write failed! Reconnect the adapter and try again."),
        "the adapter did not answer its erase request (unplugged, or it stopped answering); "
        "its flash may be partly erased: run the operation again once it is connected" },
};
static_assert(sizeof(Texts) / sizeof(Texts[0]) == DeviceError_EraseUnanswered + 1,
    "one text for every error");

} // namespace

const DeviceErrorText *DeviceErrorText::of(DeviceError error)
{
    const int index = int(error);
    return index >= 0 && index <= DeviceError_EraseUnanswered ? &Texts[index] : nullptr;
}
