// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapterlist.h"

#include "adapter.h"
#include "datadirectory.h"

#include "deviceflash.h"
#include "firmwareversion.h"
#include "operationhistory.h"
#include "qhiddevice.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

QString severalAdaptersText()
{
    return QStringLiteral("several adapters are attached; choose one with --adapter (see "
                          "corvane-cli list)");
}

QString unfinishedText()
{
    return QStringLiteral("last write did not finish: run the update again");
}

QList<AttachedAdapter> attachedAdapters()
{
    QList<AttachedAdapter> adapters;
    const auto interfaces = QHidDevice::enumerate(
        DeviceFlash::adapterVendorId, quint16(DeviceFlash::Corvane_Adapter));
    for (const QHidDevice::Interface &entry : interfaces)
        adapters.append({ entry.path, entry.serial.trimmed() });
    return adapters;
}

QJsonObject AdapterProbe::json() const
{
    const auto textOrNull = [](const QString &text) {
        return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
    };
    QJsonObject object;
    object.insert(QStringLiteral("path"), QFile::decodeName(path));
    object.insert(QStringLiteral("serial"), textOrNull(serial));
    object.insert(QStringLiteral("version"), textOrNull(version));
    object.insert(QStringLiteral("inUseBy"),
        inUseBy > 0 ? QJsonValue(double(inUseBy)) : QJsonValue(QJsonValue::Null));
    object.insert(QStringLiteral("error"), textOrNull(error));
    object.insert(QStringLiteral("unfinished"), unfinished);
    return object;
}

AdapterProbe probeAdapter(const AttachedAdapter &adapter, const CliContext &ctx)
{
    AdapterProbe probe;
    probe.path = adapter.path;
    probe.serial = adapter.usbSerial;
    // No hot-plug to follow: the adapter is let go again at once.
    DeviceFlash device(static_cast<DeviceMonitor *>(nullptr), nullptr);
    device.setAdapterPath(adapter.path);
    bool firmwareLost = false;
    QObject context;
    QObject::connect(
        &device, &DeviceFlash::error, &context,
        [&firmwareLost](
            DeviceError e) { firmwareLost = firmwareLost || e == DeviceError_FirmwareLost; },
        Qt::DirectConnection);
    const AdapterOpening opening(device, ctx);
    waitUntilIdle(device);
    probe.exitCode = opening.result(&probe.error);
    probe.inUseBy = opening.owner();
    if (probe.exitCode == CliExit_Ok) {
        probe.read = true;
        probe.serial = QString::fromLatin1(device.serialNumber());
        probe.version = device.version();
        probe.unfinished
            = OperationHistory::standingIn(cliDataDirectory(), probe.serial).unfinished;
        if (probe.version.isEmpty()) {
            probe.exitCode = CliExit_Failed;
            probe.error = firmwareLost
                ? QStringLiteral("no valid firmware information record (its firmware is lost; "
                                 "run an update)")
                : QStringLiteral("could not read the adapter's information");
        }
    } else if (probe.inUseBy >= 0) {
        probe.error = probe.inUseBy > 0 ? QStringLiteral("in use by PID %1").arg(probe.inUseBy)
                                        : QStringLiteral("in use by another program");
    }
    device.closeDevice();
    return probe;
}

int chooseAdapter(const CliContext &ctx, QByteArray *path)
{
    const QList<AttachedAdapter> adapters = attachedAdapters();
    if (ctx.adapter.isEmpty()) {
        if (adapters.size() > 1)
            return ctx.fail(CliExit_Usage, severalAdaptersText());
        if (adapters.size() == 1)
            *path = adapters.first().path;
        return CliExit_Ok;
    }
    const QByteArray wanted = QFile::encodeName(ctx.adapter);
    for (const AttachedAdapter &adapter : adapters) {
        if (adapter.path == wanted) {
            *path = adapter.path;
            return CliExit_Ok;
        }
    }
    // A serial number that two adapters share names neither: it is refused with their paths,
    // which tell them apart.
    const auto chooseOne = [&ctx, path](const QList<QByteArray> &matches) -> int {
        if (matches.size() == 1) {
            *path = matches.first();
            return CliExit_Ok;
        }
        QStringList paths;
        for (const QByteArray &match : matches)
            paths.append(QFile::decodeName(match));
        return ctx.fail(CliExit_Usage,
            QStringLiteral("%1 adapters have the serial number %2; choose one by its path: "
                           "--adapter %3")
                .arg(matches.size())
                .arg(ctx.adapter, paths.join(QStringLiteral(" or --adapter "))));
    };
    QList<QByteArray> matches;
    for (const AttachedAdapter &adapter : adapters) {
        if (!adapter.usbSerial.isEmpty()
            && adapter.usbSerial.compare(ctx.adapter, Qt::CaseInsensitive) == 0)
            matches.append(adapter.path);
    }
    if (!matches.isEmpty())
        return chooseOne(matches);
    // The serial number the adapter reports need not be its USB serial number string: the
    // adapters that no other program holds are asked.
    static const QRegularExpression serialNumber(QStringLiteral("^[0-9A-Fa-f]{24}$"));
    for (const AttachedAdapter &adapter : adapters) {
        if (!serialNumber.match(ctx.adapter).hasMatch())
            break;
        const AdapterProbe probe = probeAdapter(adapter, ctx);
        if (probe.read && probe.serial.compare(ctx.adapter, Qt::CaseInsensitive) == 0)
            matches.append(adapter.path);
    }
    if (!matches.isEmpty())
        return chooseOne(matches);
    return ctx.fail(CliExit_NoAdapter,
        QStringLiteral("no attached adapter has the serial number or device path "
                       "'%1' (see corvane-cli list)")
            .arg(ctx.adapter));
}

QString installedVersion(const CliContext &ctx)
{
    QString discarded;
    QTextStream sink(&discarded);
    CliContext quiet(sink, sink);
    quiet.adapter = ctx.adapter;
    quiet.answerTimeoutMs = ctx.answerTimeoutMs;
    QByteArray path;
    if (chooseAdapter(quiet, &path) != CliExit_Ok || path.isEmpty())
        return {};
    return probeAdapter({ path, QString() }, quiet).version;
}

int printEveryAdapter(const CliContext &ctx)
{
    int code = CliExit_Ok;
    QJsonArray records;
    bool first = true;
    for (const AttachedAdapter &adapter : attachedAdapters()) {
        const AdapterProbe probe = probeAdapter(adapter, ctx);
        if (code == CliExit_Ok)
            code = probe.exitCode;
        QJsonObject record = probe.json();
        if (!probe.version.isEmpty()) {
            record.insert(QStringLiteral("supportsBootMode"),
                FirmwareVersion::supportsBootMode(probe.version));
            record.insert(QStringLiteral("supportsDataStore"),
                FirmwareVersion::keepsConfigurationStore(probe.version));
        }
        if (ctx.json) {
            records.append(record);
            continue;
        }
        if (!first)
            ctx.out << Qt::endl;
        first = false;
        QStringList order { QStringLiteral("path"), QStringLiteral("serial") };
        order.append(probe.version.isEmpty() ? QStringLiteral("error") : QStringLiteral("version"));
        if (probe.unfinished) {
            record.insert(QStringLiteral("state"), unfinishedText());
            order.append(QStringLiteral("state"));
        }
        ctx.printRecord(record, order);
    }
    if (ctx.json)
        ctx.addFields({ { QStringLiteral("adapters"), records } });
    return code;
}
