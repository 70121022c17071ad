// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

class DeviceFlash;

// Runs the start-up open on the adapter (with the answer time-out of --timeout) and waits
// for it; CliExit_Ok when connected and its information read. Otherwise one clear line on
// standard error and CliExit_NoAdapter (with the udev hint when the adapter is attached but
// its node cannot be opened, with a line of advice when none is found), CliExit_InUse when
// another program holds it, or CliExit_Failed when it stopped answering or its information
// could not be read.
int openAdapter(DeviceFlash &device, const CliContext &ctx);

// What the command says when the adapter stopped answering within the --timeout.
QString stoppedAnsweringText();

// Waits until every task of the device has ended while running the event loop (the open's
// delayed retry and queued signals need it), then delivers what is still queued.
void waitUntilIdle(DeviceFlash &device);

// The hint printed when the adapter is present but cannot be opened.
QString udevRuleHint();
