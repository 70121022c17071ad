// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcategories.h"
#include "sleepinhibitor.h"

#include <QDebug>

#include <windows.h>

SleepInhibitor::SleepInhibitor()
{
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
        qCWarning(lcEngine) << "sleep inhibitor not taken, the system may sleep during the write:"
                            << GetLastError();
        return;
    }
    m_handle = 1;
    qCDebug(lcEngine) << "sleep inhibitor taken";
}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::release()
{
    if (!isHeld())
        return;
    SetThreadExecutionState(ES_CONTINUOUS);
    m_handle = -1;
    qCDebug(lcEngine) << "sleep inhibitor released";
}
