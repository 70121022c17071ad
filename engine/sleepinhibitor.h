// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Keeps the system from sleeping, suspending or shutting down while it lives: a "block"
// inhibitor lock of systemd-logind, which holds as long as its file descriptor is open.
// Without a system bus or logind nothing is held and one line is logged; the caller goes on.
class SleepInhibitor
{
public:
    SleepInhibitor();
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    bool isHeld() const { return m_fd >= 0; }
    void release();

private:
    int m_fd = -1;
};
