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

int openAdapter(DeviceFlash &device, const CliContext &ctx)
{
    QString deniedNode;
    const QMetaObject::Connection denied = QObject::connect(
        &device, &DeviceFlash::deviceAccessDenied, &device,
        [&deniedNode](const QString &node) { deniedNode = node; }, Qt::DirectConnection);
    device.openDevice();
    waitUntilIdle(device);
    QObject::disconnect(denied);

    if (device.isConnected())
        return CliExit_Ok;
    if (!deniedNode.isEmpty())
        return ctx.fail(CliExit_NoAdapter,
            QStringLiteral("the adapter is attached at %1 but cannot be opened; %2")
                .arg(deniedNode, udevRuleHint()));
    return ctx.fail(CliExit_NoAdapter, QStringLiteral("no Corvane X9 adapter found"));
}
