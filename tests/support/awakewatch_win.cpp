// SPDX-License-Identifier: GPL-3.0-or-later
#include "awakewatch.h"

#include <windows.h>

#include <powrprof.h>

namespace {

bool systemRequired()
{
    ULONG state = 0;
    return CallNtPowerInformation(SystemExecutionState, nullptr, 0, &state, sizeof state) == 0
        && (state & ES_SYSTEM_REQUIRED) != 0;
}

} // namespace

struct AwakeWatch::Private
{
};

AwakeWatch::AwakeWatch() : d(new Private) { }

AwakeWatch::~AwakeWatch() = default;

QString AwakeWatch::start()
{
    // The system must show a request of this thread's before it can show the job's.
    const bool before = systemRequired();
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    const bool during = systemRequired();
    SetThreadExecutionState(ES_CONTINUOUS);
    if (before || !during)
        return QStringLiteral("the system does not report its execution state (Wine reports a "
                              "fixed one): whether a write keeps it awake cannot be seen");
    return QString();
}

QStringList AwakeWatch::requests() const
{
    return QStringList();
}

bool AwakeWatch::held() const
{
    return systemRequired();
}
