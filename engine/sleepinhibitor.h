// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Keeps the system from sleeping, suspending or shutting down while it lives. Linux: a
// "block" inhibitor lock of systemd-logind, which holds as long as its file descriptor is
// open; without a system bus or logind nothing is held and one line is logged; the caller
// goes on. Windows: the calling thread's execution state asks that the system stay awake
// (its shutdown is refused by the window program, which owns a window to refuse it with);
// the object must end on the thread that made it.
class SleepInhibitor
{
public:
    SleepInhibitor();
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    bool isHeld() const { return m_handle != -1; }
    void release();

private:
    qintptr m_handle = -1; // logind's descriptor (Linux); 1 while the state is set (Windows)
};
