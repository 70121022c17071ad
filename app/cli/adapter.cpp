// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"
#include "adapteraccess.h"
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

namespace {
constexpr int IdleSliceMs = 10;

} // namespace

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
                .arg(m_deniedNode, AdapterAccess::openHint()));
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
                                << AdapterAccess::nodeText(opening.deniedNode());
        return ctx.fail(code, message);
    }
    AdapterAccess::logNodes();
    ctx.fail(code, message);
    ctx.warn(AdapterAccess::notFoundHint());
    return code;
}
