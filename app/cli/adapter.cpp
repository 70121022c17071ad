// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapter.h"

#include "deviceflash.h"

#include <QCoreApplication>
#include <QObject>

namespace {
constexpr int IdleSliceMs = 10;
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

int openAdapter(DeviceFlash &device, const CliContext &ctx)
{
    QString deniedNode;
    QString lockError;
    qint64 owner = -1;
    QObject context;
    QObject::connect(
        &device, &DeviceFlash::deviceAccessDenied, &context,
        [&deniedNode](const QString &node) { deniedNode = node; }, Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::deviceInUse, &context, [&owner](qint64 pid) { owner = pid; },
        Qt::DirectConnection);
    QObject::connect(
        &device, &DeviceFlash::deviceLockFailed, &context,
        [&lockError](const QString &reason) { lockError = reason; }, Qt::DirectConnection);
    device.setAnswerTimeout(ctx.answerTimeoutMs);
    device.openDevice();
    waitUntilIdle(device);

    if (device.answerTimedOut())
        return ctx.fail(CliExit_Failed, stoppedAnsweringText());
    // An adapter whose serial number and version were not read is no adapter to work on: no
    // backup, history line or version check could be right.
    if (device.isConnected() && !device.isInformationRead())
        return ctx.fail(CliExit_Failed,
                        QStringLiteral("the adapter answered wrongly while its serial number and "
                                       "firmware version were read. Nothing was changed."));
    if (device.isConnected())
        return CliExit_Ok;
    if (owner >= 0)
        return ctx.fail(CliExit_InUse,
                        owner > 0 ? QStringLiteral("the adapter is in use by another program "
                                                   "(PID %1)")
                                        .arg(owner)
                                  : QStringLiteral("the adapter is in use by another program"));
    if (!lockError.isEmpty())
        return ctx.fail(CliExit_Failed,
            QStringLiteral("the adapter cannot be reserved for this program (%1); nothing was "
                           "sent to it")
                .arg(lockError));
    if (!deniedNode.isEmpty())
        return ctx.fail(CliExit_NoAdapter,
            QStringLiteral("the adapter is attached at %1 but cannot be opened; %2")
                .arg(deniedNode, udevRuleHint()));
    return ctx.fail(CliExit_NoAdapter, QStringLiteral("no Corvane X9 adapter found"));
}
