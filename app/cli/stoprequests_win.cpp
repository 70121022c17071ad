// SPDX-License-Identifier: GPL-3.0-or-later
#include "stoprequests.h"

#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include <windows.h>

namespace {

constexpr int HangUp = 1; // SIGHUP's number on Linux; Windows has none
constexpr int Break = 21; // SIGBREAK

// The object the console's events go to, and an event that is set once the program ends.
std::atomic<StopRequests *> g_receiver { nullptr };
HANDLE g_ended = nullptr;

int numberOf(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return Break;
    case CTRL_CLOSE_EVENT:
        return HangUp;
    default: // CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT
        return SIGTERM;
    }
}

// Runs on a thread the system starts for each event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    StopRequests *receiver = g_receiver.load();
    if (!receiver)
        return FALSE; // the system's own handling: the process ends
    const int number = numberOf(event);
    QMetaObject::invokeMethod(
        receiver,
        [receiver, number] {
            if (g_receiver.load() == receiver)
                emit receiver->requested(number);
        },
        Qt::QueuedConnection);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Windows ends the process once this returns: it is held until the command has ended
    // (the program's exit sets the event), or as long as Windows waits.
    if (g_ended)
        WaitForSingleObject(g_ended, INFINITE);
    return TRUE;
}

void markEnded()
{
    if (g_ended)
        SetEvent(g_ended);
}

} // namespace

struct StopRequests::Private
{
    bool installed = false;
    QString error;
};

StopRequests::StopRequests(const QList<int> &, QObject *parent) : QObject(parent), d(new Private)
{
    if (!g_ended) {
        g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atexit(markEnded);
    }
    g_receiver.store(this);
    d->installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (!d->installed) {
        d->error = qt_error_string(int(GetLastError()));
        g_receiver.store(nullptr);
    }
}

StopRequests::~StopRequests()
{
    if (!d->installed)
        return;
    g_receiver.store(nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool StopRequests::isInstalled() const
{
    return d->installed;
}

QString StopRequests::errorString() const
{
    return d->error;
}

QList<int> StopRequests::endingSignals()
{
    return { SIGINT, Break, HangUp, SIGTERM };
}

QList<int> StopRequests::interruptSignals()
{
    return endingSignals();
}

QString StopRequests::name(int number)
{
    switch (number) {
    case SIGINT:
        return QStringLiteral("Ctrl+C");
    case Break:
        return QStringLiteral("Ctrl+Break");
    case HangUp:
        return QStringLiteral("closing the console");
    case SIGTERM:
        return QStringLiteral("the end of the session");
    default:
        return QStringLiteral("console event %1").arg(number);
    }
}

QList<int> StopRequests::describedSignals()
{
    return endingSignals();
}

QString StopRequests::description(int number)
{
    switch (number) {
    case HangUp:
        return QStringLiteral("closing the console window");
    case SIGTERM:
        return QStringLiteral("logging off or shutting down");
    default:
        return name(number);
    }
}

QString StopRequests::othersNote()
{
    return QString();
}
