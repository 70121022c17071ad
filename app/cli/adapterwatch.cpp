// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterwatch.h"

#include "adapter.h"
#include "adapteraccess.h"
#include "adapterlist.h"

#include "deviceflash.h"
#include "devicemonitor.h"
#include "devicenotice.h"

#include <QFile>
#include <QJsonDocument>

#include <algorithm>

namespace {

constexpr int RetryMs = 250;
constexpr int Retries = 12;

QString deviceText()
{
    return QStringLiteral("0x%1").arg(
        quint32(DeviceFlash::Corvane_Adapter), 4, 16, QLatin1Char('0'));
}

QJsonObject eventObject(const QString &kind, const QString &serial, const QByteArray &path)
{
    QJsonObject object;
    object.insert(QStringLiteral("event"), kind);
    object.insert(QStringLiteral("device"), deviceText());
    object.insert(QStringLiteral("serial"),
        serial.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(serial));
    object.insert(QStringLiteral("path"), QFile::decodeName(path));
    return object;
}

QString named(const QString &serial, const QByteArray &path)
{
    return QStringLiteral("%1 %2 at %3")
        .arg(
            deviceText(), serial.isEmpty() ? QStringLiteral("-") : serial, QFile::decodeName(path));
}

} // namespace

AdapterWatch::AdapterWatch(const CliContext &ctx) : m_ctx(ctx)
{
    m_monitor = DeviceMonitor::create(this);
    if (m_monitor)
        connect(m_monitor, &DeviceMonitor::notice, this, &AdapterWatch::handleNotice);
    m_retry.setInterval(RetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (rescan() || --m_retriesLeft <= 0)
            m_retry.stop();
    });
}

bool AdapterWatch::isMonitoring() const
{
    return m_monitor && m_monitor->isActive();
}

void AdapterWatch::start()
{
    rescan();
}

void AdapterWatch::handleNotice(const DeviceNotice &notice)
{
    if (notice.kind == DeviceNotice::VolumeArrival)
        return;
    const ParsedDeviceName parsed = parseDeviceInterfaceName(notice.interfaceName);
    if (!parsed.valid || parsed.vendorId != DeviceFlash::adapterVendorId
        || quint16(parsed.productId) != quint16(DeviceFlash::Corvane_Adapter))
        return;
    if (rescan() || notice.kind != DeviceNotice::InterfaceArrival)
        return;
    m_retriesLeft = Retries;
    m_retry.start();
}

bool AdapterWatch::rescan()
{
    const QList<AttachedAdapter> attached = attachedAdapters();
    bool changed = false;
    for (auto it = m_known.begin(); it != m_known.end();) {
        const QByteArray path = it.key();
        const bool present = std::any_of(attached.begin(), attached.end(),
            [&path](const AttachedAdapter &a) { return a.path == path; });
        if (present) {
            ++it;
            continue;
        }
        report(eventObject(QStringLiteral("disconnected"), it.value(), path),
            QStringLiteral("disconnected %1").arg(named(it.value(), path)));
        it = m_known.erase(it);
        changed = true;
    }
    for (const AttachedAdapter &adapter : attached) {
        if (m_known.contains(adapter.path))
            continue;
        changed = true;
        const AdapterProbe probe = probeAdapter(adapter, m_ctx);
        m_known.insert(adapter.path, probe.serial);
        QJsonObject object = eventObject(QStringLiteral("connected"), probe.serial, adapter.path);
        if (probe.read) {
            object.insert(QStringLiteral("version"),
                probe.version.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(probe.version));
            report(object, QStringLiteral("connected %1").arg(named(probe.serial, adapter.path)));
        } else if (probe.inUseBy >= 0) {
            object.insert(QStringLiteral("inUseBy"), double(probe.inUseBy));
            report(object,
                QStringLiteral("connected %1 (in use by another program, PID %2; "
                               "not read)")
                    .arg(named(probe.serial, adapter.path))
                    .arg(probe.inUseBy));
        } else if (probe.exitCode == CliExit_NoAdapter) {
            QJsonObject denied
                = eventObject(QStringLiteral("accessDenied"), probe.serial, adapter.path);
            denied.insert(QStringLiteral("node"), QFile::decodeName(adapter.path));
            report(denied,
                QStringLiteral("access denied %1: %2")
                    .arg(QFile::decodeName(adapter.path), AdapterAccess::openHint()));
        } else {
            object.insert(QStringLiteral("error"), probe.error);
            report(object,
                QStringLiteral("connected %1 (%2)")
                    .arg(named(probe.serial, adapter.path), probe.error));
        }
    }
    return changed;
}

void AdapterWatch::report(const QJsonObject &object, const QString &line)
{
    if (m_ctx.json)
        m_ctx.out << jsonLine(QJsonDocument(object)) << Qt::endl;
    else
        m_ctx.out << terminalText(line) << Qt::endl;
}
