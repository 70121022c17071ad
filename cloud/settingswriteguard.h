// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QSettings;

// Held around a settings write and its sync(). Writers of one settings file take turns
// through a lock that the system drops when its holder dies (Linux: on the file's directory,
// Windows: on a lock file beside it), and under it a QSettings lock file that no process
// holds is removed: one left behind by a writer killed before it filled it in would
// otherwise stall every write for 30 s.
class SettingsWriteGuard
{
public:
    explicit SettingsWriteGuard(const QSettings &settings);
    ~SettingsWriteGuard();
    SettingsWriteGuard(const SettingsWriteGuard &) = delete;
    SettingsWriteGuard &operator=(const SettingsWriteGuard &) = delete;

    // How long a writer waits for the one before it; a writer that hangs longer is not
    // waited for (QSettings' own lock then decides).
    static constexpr int MaxWaitMs = 10000;

private:
    int m_lock = -1; // the locked descriptor
};
