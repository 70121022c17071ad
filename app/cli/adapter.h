// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

class DeviceFlash;

// Runs the start-up open on the adapter and waits for it; CliExit_Ok when connected, else
// CliExit_NoAdapter after one clear line on standard error (with the udev hint when the
// adapter is attached but its node cannot be opened).
int openAdapter(DeviceFlash &device, const CliContext &ctx);

// Waits until every task of the device has ended while running the event loop (the open's
// delayed retry and queued signals need it), then delivers what is still queued.
void waitUntilIdle(DeviceFlash &device);

// The hint printed when the adapter is present but cannot be opened.
QString udevRuleHint();
