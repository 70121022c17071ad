// SPDX-License-Identifier: GPL-3.0-or-later
#include "closeguard.h"
#include "logcategories.h"

#include "deviceflash.h"
#include "shutdownreason.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QSessionManager>
#include <QTimer>

namespace {

// How often a deferred close looks whether the engine has become idle.
constexpr int CloseRetryMs = 100;

} // namespace

CloseGuard::CloseGuard(
    QWidget *window, DeviceFlash *device, QAbstractButton *closeButton, QLabel *notice)
    : QObject(window), m_window(window), m_device(device), m_closeButton(closeButton),
      m_notice(notice)
{
    connect(closeButton, &QAbstractButton::clicked, this, [this] {
        m_closeButton->setEnabled(false);
        closeWhenIdle();
    });
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (m_device->isIdle())
            return;
        if (manager.allowsInteraction()) {
            manager.cancel();
            ShutdownReason::show(m_window, QStringLiteral("Writing firmware into the adapter"));
            qCWarning(lcUi) << "logout cancelled: the adapter is being written";
        } else {
            qCWarning(lcUi) << "logout goes on although the adapter is being written: the session "
                               "manager allows no cancel";
        }
    });
    connect(device, &DeviceFlash::isBusyChanged, this, [this](bool busy) {
        if (!busy)
            ShutdownReason::clear(m_window);
    });
}

void CloseGuard::closeWhenIdle()
{
    if (m_device->isIdle() || m_device->isStalled())
        m_window->close();
    else
        deferClose();
}

bool CloseGuard::admit(QCloseEvent *event)
{
    if (m_device->isIdle())
        return true;
    if (!m_device->isStalled()) {
        event->ignore();
        m_closeButton->setEnabled(false);
        deferClose();
        return false;
    }
    qCWarning(lcUi) << "closing although a device task runs: the adapter stopped answering";
    return true;
}

// The engine reports no signal once its last task has ended, so a deferred close looks again
// at each busy change and on a short timer. An adapter that stops answering for longer than
// its request allows gives the close button back.
void CloseGuard::deferClose()
{
    if (m_notice->isHidden()) {
        m_notice->show();
        QAccessibleEvent shown(m_notice, QAccessible::Alert);
        QAccessible::updateAccessibility(&shown);
    }
    if (m_timer)
        return;
    m_timer = new QTimer(this);
    m_timer->setInterval(CloseRetryMs);
    const auto retry = [this] {
        if (!m_timer)
            return;
        if (!m_device->isIdle()) {
            m_closeButton->setEnabled(m_device->isStalled());
            return;
        }
        m_timer->deleteLater();
        m_timer = nullptr;
        qCInfo(lcUi) << "safe close...";
        m_window->close();
    };
    connect(m_timer, &QTimer::timeout, this, retry);
    connect(m_device, &DeviceFlash::isBusyChanged, m_timer, retry, Qt::QueuedConnection);
    m_timer->start();
}
