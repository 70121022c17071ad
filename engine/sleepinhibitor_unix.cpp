// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcategories.h"
#include "sleepinhibitor.h"

#include <QAtomicInt>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDebug>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The job waits for logind's answer no longer than this.
constexpr int CallTimeoutMs = 2000;

} // namespace

SleepInhibitor::SleepInhibitor()
{
    // A connection of its own for each lock, made and dropped on the calling (worker)
    // thread: no state is kept between jobs, so a restarted system bus is simply found again.
    static QAtomicInt serial;
    const QString name
        = QStringLiteral("corvane-sleep-inhibitor-%1").arg(serial.fetchAndAddRelaxed(1));
    QString failure;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
        if (!bus.isConnected()) {
            failure = bus.lastError().message();
        } else {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
            call << QStringLiteral("sleep:shutdown:idle")
                 << QStringLiteral("Corvane X9 Firmware Tool")
                 << QStringLiteral("Writing firmware into the adapter") << QStringLiteral("block");
            const QDBusMessage reply = bus.call(call, QDBus::Block, CallTimeoutMs);
            const QVariantList arguments = reply.arguments();
            const QDBusUnixFileDescriptor lock
                = reply.type() == QDBusMessage::ReplyMessage && arguments.size() == 1
                ? qvariant_cast<QDBusUnixFileDescriptor>(arguments.first())
                : QDBusUnixFileDescriptor();
            const int fd = lock.isValid() ? ::fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
            if (fd >= 0)
                m_handle = fd;
            else
                failure = reply.type() == QDBusMessage::ErrorMessage
                    ? reply.errorMessage()
                    : QStringLiteral("logind gave no lock");
        }
    }
    QDBusConnection::disconnectFromBus(name);
    if (!isHeld())
        qCWarning(lcEngine).noquote()
            << "sleep inhibitor not taken, the system may sleep during the write:" << failure;
    else
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
    ::close(int(m_handle));
    m_handle = -1;
    qCDebug(lcEngine) << "sleep inhibitor released";
}
