// SPDX-License-Identifier: GPL-3.0-or-later
#include "interruptguard.h"

#include "deviceflash.h"
#include "stoprequests.h"

namespace {

int g_cancelledBy = 0;
int g_readBackStoppedBy = 0;

} // namespace

InterruptGuard::InterruptGuard(const CliContext &ctx, DeviceFlash &device)
    : InterruptGuard(ctx, QList<DeviceFlash *> { &device })
{ }

InterruptGuard::InterruptGuard(const CliContext &ctx, const QList<DeviceFlash *> &devices,
    const std::function<void()> &beforeNotice)
    : m_ctx(ctx), m_devices(devices), m_beforeNotice(beforeNotice),
      m_requests(std::make_unique<StopRequests>(StopRequests::endingSignals()))
{
    if (!m_requests->isInstalled()) {
        m_ctx.warn(QStringLiteral("cannot watch for interrupting signals: %1")
                       .arg(m_requests->errorString()));
        return;
    }
    QObject::connect(m_requests.get(), &StopRequests::requested, m_requests.get(),
        [this](int signalNumber) { handle(signalNumber); });
}

InterruptGuard::~InterruptGuard() = default;

int InterruptGuard::cancelledBy()
{
    return g_cancelledBy;
}

int InterruptGuard::readBackStoppedBy()
{
    return g_readBackStoppedBy;
}

void InterruptGuard::handle(int signalNumber)
{
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
    const QString name = StopRequests::name(signalNumber);
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
        return; // no write runs: nothing to hold
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
