// SPDX-License-Identifier: GPL-3.0-or-later
#include "awakewatch.h"

#include "adapteremulator.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// logind as far as inhibitor locks go. A lock is the write end of a pipe, held while the
// pipe's read end sees no hang-up.
class FakeLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    mutable QMutex mutex;
    QStringList calls;
    int readEnd = -1; // of the last lock

public slots:
    QDBusUnixFileDescriptor Inhibit(
        const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        int ends[2] = { -1, -1 };
        QMutexLocker lock(&mutex);
        if (pipe2(ends, O_CLOEXEC) == 0)
            readEnd = ends[0];
        calls.append(QStringList {
            what, who, why, mode, QString::number(AdapterEmulator::eraseLog().size()) }
                         .join(QLatin1Char('|')));
        const QDBusUnixFileDescriptor handed(ends[1]);
        close(ends[1]);
        return handed;
    }
};

} // namespace

struct AwakeWatch::Private
{
    QTemporaryDir busDir;
    QProcess bus;
    QThread loginThread; // the job calls logind from the test's own thread
    FakeLogin login;
};

AwakeWatch::AwakeWatch() : d(new Private) { }

AwakeWatch::~AwakeWatch()
{
    d->loginThread.quit();
    d->loginThread.wait();
    d->bus.terminate();
    d->bus.waitForFinished();
}

// A private dbus-daemon stands in for the system bus, with the fake logind on it.
QString AwakeWatch::start()
{
    d->bus.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"),
            QStringLiteral("--print-address"),
            QStringLiteral("--address=unix:path=") + d->busDir.filePath(QStringLiteral("bus")) });
    if (!d->bus.waitForReadyRead(10000))
        return QStringLiteral("dbus-daemon did not start");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", d->bus.readLine().trimmed());
    QDBusConnection bus
        = QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("login"));
    d->login.moveToThread(&d->loginThread);
    d->loginThread.start();
    if (!bus.registerObject(
            QStringLiteral("/org/freedesktop/login1"), &d->login, QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return QStringLiteral("the fake logind cannot be registered");
    return QString();
}

QStringList AwakeWatch::requests() const
{
    QMutexLocker lock(&d->login.mutex);
    return d->login.calls;
}

bool AwakeWatch::held() const
{
    QMutexLocker lock(&d->login.mutex);
    pollfd end { d->login.readEnd, POLLIN, 0 };
    return d->login.readEnd >= 0 && poll(&end, 1, 0) == 0;
}

#include "awakewatch_unix.moc"
