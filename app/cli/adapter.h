// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include <QObject>

class DeviceFlash;

// Runs the start-up open on the adapter that --adapter names, or the only one attached
// (see chooseAdapter()), with the answer time-out of --timeout, and waits for it;
// CliExit_Ok when connected and its information read. Otherwise one clear line on
// standard error and CliExit_NoAdapter (with the udev hint when the adapter is attached but
// its node cannot be opened, with a line of advice when none is found), CliExit_InUse when
// another program holds it, CliExit_Usage when several are attached and none is chosen, or
// CliExit_Failed when it stopped answering or its information could not be read.
int openAdapter(DeviceFlash &device, const CliContext &ctx);

// A device's start-up open, from openDevice() until the device is idle: what it came to.
class AdapterOpening
{
public:
    // Starts the open, with the answer time-out of --timeout.
    AdapterOpening(DeviceFlash &device, const CliContext &ctx);
    // Once the device is idle: CliExit_Ok as openAdapter() says, or its exit code and line.
    int result(QString *message) const;
    // The process id of the program that holds the adapter (0 unknown), or -1.
    qint64 owner() const { return m_owner; }
    // The node the system lists for the adapter when it cannot be opened, or "".
    QString deniedNode() const { return m_deniedNode; }

private:
    DeviceFlash &m_device;
    QObject m_context;
    QString m_deniedNode;
    QString m_lockError;
    qint64 m_owner = -1;
};

// What the command says when the adapter stopped answering within the --timeout.
QString stoppedAnsweringText();

// Waits until every task of the device has ended while running the event loop (the open's
// delayed retry and queued signals need it), then delivers what is still queued.
void waitUntilIdle(DeviceFlash &device);
void waitUntilIdle(const QList<DeviceFlash *> &devices);

// The hint printed when the adapter is present but cannot be opened.
QString udevRuleHint();
