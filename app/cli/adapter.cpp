// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "logcategories.h"

#include "adapterlist.h"
#include "deviceflash.h"
#include "logfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QObject>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int IdleSliceMs = 10;

// "crw-rw---- root:plugdev, readable and writable by this user (uid 1000)"
QString nodeAccessText(const QString &node)
{
    const QByteArray path = QFile::encodeName(node);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QString mode = QStringLiteral("----------");
    if (S_ISCHR(info.st_mode))
        mode[0] = QLatin1Char('c');
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        if (info.st_mode & (0400 >> bit))
            mode[bit + 1] = QLatin1Char(letters[bit]);
    }
    const passwd *ownerEntry = ::getpwuid(info.st_uid);
    const group *groupEntry = ::getgrgid(info.st_gid);
    return QStringLiteral("%1 %2:%3, %4 by this user (uid %5)")
        .arg(mode,
            ownerEntry ? QString::fromLocal8Bit(ownerEntry->pw_name) : QString::number(info.st_uid),
            groupEntry ? QString::fromLocal8Bit(groupEntry->gr_name) : QString::number(info.st_gid),
            ::access(path.constData(), R_OK | W_OK) == 0
                ? QStringLiteral("readable and writable")
                : QStringLiteral("not readable and writable"))
        .arg(::getuid());
}

// Logs (for --verbose) the hidraw nodes that the kernel lists for the adapter's USB ids with
// their permissions, or that it lists none: tells a missing adapter from a missing udev rule
// when the device layer could not name the node itself.
void logAdapterNodes()
{
    const QString ids = QStringLiteral(":%1:%2")
                            .arg(DeviceFlash::adapterVendorId, 8, 16, QLatin1Char('0'))
                            .arg(quint32(DeviceFlash::Corvane_Adapter), 8, 16, QLatin1Char('0'));
    const QDir hidraw(QStringLiteral("/sys/class/hidraw"));
    bool found = false;
    const QStringList entries
        = hidraw.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile uevent(hidraw.filePath(entry + QStringLiteral("/device/uevent")));
        if (!uevent.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(uevent.read(4096));
        const auto at = text.indexOf(QLatin1String("HID_ID="));
        if (at < 0
            || !text.mid(at).section(QLatin1Char('\n'), 0, 0).endsWith(ids, Qt::CaseInsensitive))
            continue;
        found = true;
        const QString node = QStringLiteral("/dev/") + entry;
        qCInfo(lcCli).noquote() << "adapter node" << node << nodeAccessText(node);
    }
    if (!found)
        qCInfo(lcCli).noquote() << "no hidraw node of a USB device"
                                << QStringLiteral("%1:%2")
                                       .arg(DeviceFlash::adapterVendorId, 4, 16, QLatin1Char('0'))
                                       .arg(quint32(DeviceFlash::Corvane_Adapter), 4, 16,
                                           QLatin1Char('0'))
                                << "is attached";
}

} // namespace

QString udevRuleHint()
{
    return QStringLiteral(
        "install the udev rule: sudo cp resources/udev/70-corvane-x9.rules /etc/udev/rules.d/ "
        "&& sudo udevadm control --reload && sudo udevadm trigger");
}

void waitUntilIdle(DeviceFlash &device)
{
    while (!device.waitForIdle(IdleSliceMs))
        QCoreApplication::processEvents(QEventLoop::AllEvents, IdleSliceMs);
    QCoreApplication::processEvents();
}

QString stoppedAnsweringText()
{
    return QStringLiteral("the adapter stopped answering");
}

void waitUntilIdle(const QList<DeviceFlash *> &devices)
{
    // The event loop runs while any of them is waited for: all of their signals come in.
    for (DeviceFlash *device : devices)
        waitUntilIdle(*device);
}

AdapterOpening::AdapterOpening(DeviceFlash &device, const CliContext &ctx) : m_device(device)
{
    QObject::connect(
        &device, &DeviceFlash::deviceAccessDenied, &m_context,
        [this](const QString &node) { m_deniedNode = node; }, Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::deviceInUse, &m_context, [this](qint64 pid) { m_owner = pid; },
        Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::deviceLockFailed, &m_context,
        [this](const QString &reason) { m_lockError = reason; }, Qt::DirectConnection);
    device.setAnswerTimeout(ctx.answerTimeoutMs);
    device.openDevice();
}

int AdapterOpening::result(QString *message) const
{
    const auto fail = [message](int code, const QString &text) {
        *message = text;
        return code;
    };
    if (m_device.answerTimedOut())
        return fail(CliExit_Failed, stoppedAnsweringText());
    // An adapter whose serial number and version were not read is no adapter to work on: no
    // backup, history line or version check could be right.
    if (m_device.isConnected() && !m_device.isInformationRead())
        return fail(CliExit_Failed,
            QStringLiteral("the adapter answered wrongly while its serial number and "
                           "firmware version were read. Nothing was changed."));
    if (m_device.isConnected())
        return CliExit_Ok;
    if (m_owner >= 0)
        return fail(CliExit_InUse,
            m_owner > 0 ? QStringLiteral("the adapter is in use by another program "
                                         "(PID %1)")
                              .arg(m_owner)
                        : QStringLiteral("the adapter is in use by another program"));
    if (!m_lockError.isEmpty())
        return fail(CliExit_Failed,
            QStringLiteral("the adapter cannot be reserved for this program (%1); nothing was "
                           "sent to it")
                .arg(m_lockError));
    if (!m_deniedNode.isEmpty())
        return fail(CliExit_NoAdapter,
            QStringLiteral("the adapter is attached at %1 but cannot be opened; %2")
                .arg(m_deniedNode, udevRuleHint()));
    return fail(CliExit_NoAdapter, QStringLiteral("no Corvane X9 adapter found"));
}

int openAdapter(DeviceFlash &device, const CliContext &ctx)
{
    QByteArray path;
    const int chosen = chooseAdapter(ctx, &path);
    if (chosen != CliExit_Ok)
        return chosen;
    device.setAdapterPath(path);
    // The log's lines name the adapter from the moment its information is read.
    QObject tagger;
    QObject::connect(
        &device, &DeviceFlash::versionChanged, &tagger,
        [&device] { LogFile::setAdapterSerial(QString::fromLatin1(device.serialNumber())); },
        Qt::DirectConnection);
    const AdapterOpening opening(device, ctx);
    waitUntilIdle(device);
    QString message;
    const int code = opening.result(&message);
    if (code == CliExit_Ok)
        LogFile::setAdapterSerial(QString::fromLatin1(device.serialNumber()));
    if (code != CliExit_NoAdapter)
        return code == CliExit_Ok ? code : ctx.fail(code, message);
    if (!opening.deniedNode().isEmpty()) {
        qCInfo(lcCli).noquote() << "adapter node" << opening.deniedNode()
                                << nodeAccessText(opening.deniedNode());
        return ctx.fail(code, message);
    }
    logAdapterNodes();
    ctx.fail(code, message);
    ctx.warn(QStringLiteral("plug the adapter in; if it is plugged in, check its udev rule "
                            "(70-corvane-x9.rules): corvane-cli info --verbose names the "
                            "adapter's node and its permissions"));
    return code;
}
