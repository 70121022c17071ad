// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"

#include <functional>

// What the device tests reach inside DeviceFlash: its configuration copy and its task runner.
class DeviceFlashTestAccess
{
public:
    static char *configBuffer(DeviceFlash &d) { return d.configBufferData; }
    static void startTask(DeviceFlash &d, std::function<void()> body)
    {
        d.startTask(std::move(body));
    }
};
