// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruptguard.h"

#include "deviceflash.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Write end of the pipe, for the handler; -1 while no guard is installed.
volatile std::sig_atomic_t g_writeFd = -1;
int g_cancelledBy = 0;
int g_readBackStoppedBy = 0;

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (g_writeFd >= 0)
        (void)!::write(g_writeFd, &byte, 1);
    errno = saved;
}

} // namespace

QList<int> InterruptGuard::watchedSignals()
{
    // SIGPIPE is not among them: the program ignores it. The faults a program raises itself
    // (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS) keep their default action.
    QList<int> watched { SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU,
        SIGXFSZ, SIGVTALRM, SIGPROF, SIGTRAP, SIGPOLL, SIGPWR, SIGSTKFLT };
    for (int n = SIGRTMIN; n <= SIGRTMAX; ++n)
        watched.append(n);
    return watched;
}

QString InterruptGuard::signalName(int signalNumber)
{
    if (signalNumber >= SIGRTMIN && signalNumber <= SIGRTMAX)
        return signalNumber == SIGRTMIN
            ? QStringLiteral("SIGRTMIN")
            : QStringLiteral("SIGRTMIN+%1").arg(signalNumber - SIGRTMIN);
    if (const char *name = ::sigabbrev_np(signalNumber))
        return QStringLiteral("SIG") + QLatin1String(name);
    return QStringLiteral("signal %1").arg(signalNumber);
}

InterruptGuard::InterruptGuard(const CliContext &ctx, DeviceFlash &device)
    : InterruptGuard(ctx, QList<DeviceFlash *> { &device })
{ }

InterruptGuard::InterruptGuard(const CliContext &ctx, const QList<DeviceFlash *> &devices,
    const std::function<void()> &beforeNotice)
    : m_ctx(ctx), m_devices(devices), m_beforeNotice(beforeNotice)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_ctx.warn(QStringLiteral("cannot watch for interrupting signals: %1")
                       .arg(QString::fromLocal8Bit(std::strerror(errno))));
        m_pipe[0] = m_pipe[1] = -1;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(
        m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { takeSignals(); });
    g_writeFd = m_pipe[1];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : watchedSignals()) {
        struct sigaction previous = {};
        if (::sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        if (::sigaction(signalNumber, &action, nullptr) == 0) {
            m_installed.append(signalNumber);
            m_previous.append(previous);
        }
    }
}

InterruptGuard::~InterruptGuard()
{
    for (int i = 0; i < m_installed.size(); ++i)
        ::sigaction(m_installed.at(i), &m_previous.at(i), nullptr);
    g_writeFd = -1;
    m_notifier.reset();
    for (int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

int InterruptGuard::cancelledBy()
{
    return g_cancelledBy;
}

int InterruptGuard::readBackStoppedBy()
{
    return g_readBackStoppedBy;
}

void InterruptGuard::takeSignals()
{
    unsigned char received[16];
    ssize_t n;
    while ((n = ::read(m_pipe[0], received, sizeof received)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            const int signalNumber = received[i];
            if (g_cancelledBy != 0)
                return;
            int cancelled = 0;
            int readBacks = 0;
            for (DeviceFlash *device : m_devices) {
                if (device->cancelBeforeErase())
                    ++cancelled;
                else if (device->stopReadBack())
                    ++readBacks;
            }
            const QString name = signalName(signalNumber);
            if (cancelled == m_devices.size()) {
                if (m_beforeNotice)
                    m_beforeNotice();
                m_ctx.fail(128 + signalNumber,
                    QStringLiteral("interrupted by %1 before anything was erased; "
                                   "nothing was changed")
                        .arg(name));
                // The failures the cancel causes further on are not reported.
                g_cancelledBy = signalNumber;
                return;
            }
            if (readBacks > m_readBacksStopped) {
                if (m_beforeNotice)
                    m_beforeNotice();
                // On a terminal the line would otherwise continue the read-back's bar.
                if (m_ctx.interactive() && m_ctx.errorIsTerminal() && !m_beforeNotice)
                    m_ctx.err << Qt::endl;
                m_readBacksStopped = readBacks;
                if (g_readBackStoppedBy == 0)
                    g_readBackStoppedBy = signalNumber;
                m_ctx.warn(QStringLiteral("interrupted by %1: the write had already ended; only "
                                          "the read-back after it stops")
                               .arg(name));
            }
            if (cancelled + m_readBacksStopped == m_devices.size())
                continue; // no write runs: nothing to hold
            if (m_beforeNotice)
                m_beforeNotice();
            if (cancelled > m_cancelled) {
                m_cancelled = cancelled;
                const QString left = cancelled == 1
                    ? QStringLiteral("the adapter whose erase had not begun is left as it was")
                    : QStringLiteral("the %1 adapters whose erase had not begun are left as "
                                     "they were")
                          .arg(cancelled);
                m_ctx.warn(QStringLiteral("interrupted by %1: %2; the others' writes run to "
                                          "their end")
                               .arg(name, left));
            }
            if (!m_heldNoticePrinted) {
                m_heldNoticePrinted = true;
                // On a terminal the line would otherwise continue the progress bar's.
                if (m_ctx.interactive() && m_ctx.errorIsTerminal() && !m_beforeNotice)
                    m_ctx.err << Qt::endl;
                m_ctx.err << "writing firmware: interrupting now would leave the adapter "
                             "without working firmware; the command ends when the write is "
                             "done"
                          << Qt::endl;
            }
        }
    }
}
