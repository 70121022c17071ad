// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "qhiddevice.h"

#include <QDebug>
#include <QMutexLocker>
#include <QStringList>

#include <cstring>

namespace {

constexpr quint32 FactoryInfoAddress = 0x08003FC0;
constexpr quint32 UniqueIdAddress = 0x1FFF7A10;
constexpr quint32 FirmwareInfoAddress = 0x08004000;
constexpr int UniqueIdOffset = 1;
constexpr int UniqueIdSize = 12;
constexpr int FirmwareInfoSize = 256;
constexpr int BootModeOffset = 130;
constexpr int MaxBootMode = 4;

// Component `index` of a dotted version as a number; missing or non-numeric parts read 0.
qint64 versionComponent(const QStringList &parts, int index)
{
    if (index >= parts.size())
        return 0;
    bool ok = false;
    const uint value = parts.at(index).toUInt(&ok);
    return ok ? qint64(value) : 0;
}

qint64 majorMinorValue(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    return versionComponent(parts, 0) * 10 + versionComponent(parts, 1);
}

} // namespace

void DeviceFlash::readDeviceConfig()
{
    if (!m_hidDevice->isOpen())
        return;
    qInfo("readDeviceConfig....");
    m_informationRead = false;

    // Read into locals and publish under the state lock: the GUI thread reads factoryInfo.
    char factory[FactoryInfoSize];
    if (!readDeviceMemory(
            CommandReport::Code_Read, FactoryInfoAddress, FactoryInfoSize, factory, false)) {
        qWarning("read factory Info failure!");
        return;
    }
    {
        QMutexLocker lock(&m_stateMutex);
        std::memcpy(factoryInfoBuffer, factory, FactoryInfoSize);
    }
    char uniqueId[UniqueIdSize];
    if (!readDeviceMemory(
            CommandReport::Code_Read, UniqueIdAddress, UniqueIdSize, uniqueId, false)) {
        qWarning("read factory Info failure!");
        return;
    }
    {
        QMutexLocker lock(&m_stateMutex);
        std::memcpy(factoryInfoBuffer + UniqueIdOffset, uniqueId, UniqueIdSize);
    }

    quint8 info[FirmwareInfoSize];
    if (!readDeviceMemory(CommandReport::Code_Read, FirmwareInfoAddress, FirmwareInfoSize,
            reinterpret_cast<char *>(info), false)) {
        qWarning("read firmware Info failure!");
        return;
    }
    m_informationRead = true;
    if (info[0] == 0x55 && info[FirmwareInfoSize - 1] == 0xAA) {
        const QString text = QStringLiteral("%1.%2.%3").arg(info[5]).arg(info[6]).arg(info[7]);
        setVersion(text);
        emit versionChanged(text);
        qWarning() << "m_strVersion:" << text;
        emit settingChanged();
    } else {
        emit error(DeviceError_FirmwareLost);
    }
}

QByteArray DeviceFlash::serialNumber() const
{
    QByteArray text;
    {
        QMutexLocker lock(&m_stateMutex);
        text = QByteArray(factoryInfoBuffer + UniqueIdOffset, UniqueIdSize).toHex();
    }
    qDebug() << "SN:" << text;
    return text;
}

int DeviceFlash::compareVersionNumbers(const QString &a, const QString &b)
{
    const QStringList partsA = a.split(QLatin1Char('.'));
    const QStringList partsB = b.split(QLatin1Char('.'));
    for (int i = 0; i < 3; ++i) {
        const qint64 va = versionComponent(partsA, i);
        const qint64 vb = versionComponent(partsB, i);
        qWarning() << "current_version_split: " << va << vb;
        if (va < vb)
            return -1;
        if (va > vb)
            return 1;
    }
    return 0;
}

bool DeviceFlash::isCompatibleVersion(const QString &a, const QString &b)
{
    return compareMajorMinor(a, b) == 0;
}

int DeviceFlash::compareMajorMinor(const QString &a, const QString &b)
{
    const qint64 va = majorMinorValue(a);
    const qint64 vb = majorMinorValue(b);
    qDebug() << "isCompatibleVersion " << va << vb;
    if (va == vb)
        return 0;
    return va > vb ? 1 : -1;
}

bool DeviceFlash::isSupportBootMode() const
{
    const bool supported = compareVersionNumbers(version(), QStringLiteral("5.5.24")) >= 0;
    qWarning() << "isSupportBootMode" << supported;
    return supported;
}

bool DeviceFlash::isSupportDataStore() const
{
    const bool supported = compareVersionNumbers(version(), QStringLiteral("5.5.0")) >= 0;
    qWarning() << "isSupportDataStore" << supported;
    return supported;
}

int DeviceFlash::bootMode() const
{
    QMutexLocker lock(&m_stateMutex);
    const int mode = quint8(configBufferData[BootModeOffset]);
    return qMin(mode, MaxBootMode);
}

QByteArray DeviceFlash::factoryInfo() const
{
    QMutexLocker lock(&m_stateMutex);
    return QByteArray(factoryInfoBuffer, FactoryInfoSize);
}

QByteArray DeviceFlash::configBuffer() const
{
    QMutexLocker lock(&m_stateMutex);
    return QByteArray(configBufferData, ConfigBufferSize);
}
