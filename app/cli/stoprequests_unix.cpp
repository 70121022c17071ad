// SPDX-License-Identifier: GPL-3.0-or-later
#include "stoprequests.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Write end of the pipe, for the handler; -1 while no object is installed.
volatile std::sig_atomic_t g_writeFd = -1;

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_writeFd >= 0)
        (void)!::write(g_writeFd, &byte, 1);
    errno = saved;
}

} // namespace

// The handler only writes the signal's number into a pipe; the event loop takes it from
// there.
struct StopRequests::Private
{
    int pipe[2] = { -1, -1 };
    QList<int> installed; // the signals whose handler is ours, with their earlier actions
    QList<struct sigaction> previous;
    std::unique_ptr<QSocketNotifier> notifier;
    QString error;
};

StopRequests::StopRequests(const QList<int> &signalNumbers, QObject *parent)
    : QObject(parent), d(new Private)
{
    if (::pipe2(d->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        d->error = QString::fromLocal8Bit(std::strerror(errno));
        d->pipe[0] = d->pipe[1] = -1;
        return;
    }
    d->notifier = std::make_unique<QSocketNotifier>(d->pipe[0], QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char received[16];
        ssize_t n;
        while ((n = ::read(d->pipe[0], received, sizeof received)) > 0) {
            for (ssize_t i = 0; i < n; ++i)
                emit requested(received[i]);
        }
    });
    g_writeFd = d->pipe[1];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers) {
        struct sigaction previous = {};
        if (::sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(signalNumber, &action, nullptr) == 0) {
            d->installed.append(signalNumber);
            d->previous.append(previous);
        }
    }
}

StopRequests::~StopRequests()
{
    for (int i = 0; i < d->installed.size(); ++i)
        ::sigaction(d->installed.at(i), &d->previous.at(i), nullptr);
    g_writeFd = -1;
    d->notifier.reset();
    for (int fd : d->pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool StopRequests::isInstalled() const
{
    return d->pipe[0] >= 0;
}

QString StopRequests::errorString() const
{
    return d->error;
}

QList<int> StopRequests::endingSignals()
{
    // SIGPIPE is not among them: the program ignores it. The faults a program raises itself
    // (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS) keep their default action.
    QList<int> watched { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU,
        SIGXFSZ, SIGVTALRM, SIGPROF, SIGTRAP, SIGPOLL, SIGPWR, SIGSTKFLT };
    for (int n = SIGRTMIN; n <= SIGRTMAX; ++n)
        watched.append(n);
    return watched;
}

QList<int> StopRequests::interruptSignals()
{
    return { SIGINT, SIGTERM };
}

QString StopRequests::name(int number)
{
    if (number >= SIGRTMIN && number <= SIGRTMAX)
        return number == SIGRTMIN ? QStringLiteral("SIGRTMIN")
                                  : QStringLiteral("SIGRTMIN+%1").arg(number - SIGRTMIN);
    if (const char *abbreviation = ::sigabbrev_np(number))
        return QStringLiteral("SIG") + QLatin1String(abbreviation);
    return QStringLiteral("signal %1").arg(number);
}

QList<int> StopRequests::describedSignals()
{
    return { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
}

QString StopRequests::description(int number)
{
    switch (number) {
    case SIGINT:
        return QStringLiteral("SIGINT (Ctrl+C)");
    case SIGQUIT:
        return QStringLiteral("SIGQUIT (Ctrl+\\)");
    default:
        return name(number);
    }
}

QString StopRequests::othersNote()
{
    return QStringLiteral(" (any other signal that would end the program: 128 + its number)");
}
