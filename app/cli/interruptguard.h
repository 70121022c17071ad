// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include <QList>

#include <functional>
#include <memory>

class DeviceFlash;
class StopRequests;

// Every signal whose default action ends the process and that a program may catch (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, ...; on Windows Ctrl+C, Ctrl+Break and
// the console's close; see StopRequests), while a command that writes the adapter runs, from
// construction to destruction. Before the
// adapter's first erase a signal cancels the operation: nothing is changed and the program
// exits with 128 + the signal's number. From the first erase request to the end of the
// write the signal is held: one line says so on standard error and the job runs to its end.
// Once the write has ended, a signal stops only the read-back that --verify asked for (the
// program then exits with 128 + the signal's number). A signal that the program was started
// with ignored (nohup) stays ignored. SIGPIPE is ignored by the whole program (see main()):
// a reader that goes away makes a write to it fail, nothing more. With several adapters, the
// rule holds for each: a signal cancels those whose erase has not begun and holds for the
// others; the command counts as interrupted only when it cancelled every one.
class InterruptGuard
{
public:
    InterruptGuard(const CliContext &ctx, DeviceFlash &device);
    // beforeNotice runs before the guard prints its line (a progress display makes room).
    InterruptGuard(const CliContext &ctx, const QList<DeviceFlash *> &devices,
        const std::function<void()> &beforeNotice = {});
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;

    // The signal that cancelled the command before anything was erased, or 0.
    static int cancelledBy();
    // The signal that stopped a read-back after the write had ended, or 0.
    static int readBackStoppedBy();

private:
    void handle(int signalNumber);

    const CliContext &m_ctx;
    const QList<DeviceFlash *> m_devices;
    const std::function<void()> m_beforeNotice;
    int m_cancelled = 0; // adapters a signal cancelled
    int m_readBacksStopped = 0; // adapters whose read-back after the write a signal stopped
    std::unique_ptr<StopRequests> m_requests;
    bool m_heldNoticePrinted = false;
};
