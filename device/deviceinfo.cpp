// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "deviceflash_p.h"
#include "firmwareversion.h"
#include "flashlayout.h"
#include "logcategories.h"
#include "qhiddevice.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

namespace {

constexpr int UniqueIdOffset = 1;
constexpr int UniqueIdSize = 12;
constexpr int FirmwareInfoSize = int(FlashLayout::RecordSize);
constexpr int BootModeOffset = 130;
constexpr int MaxBootMode = 4;
constexpr int ChunkSize = CommandReport::DataSize;

} // namespace

void DeviceFlash::readDeviceConfig()
{
    if (!d->m_hidDevice->isOpen())
        return;
    qCInfo(lcDevice, "readDeviceConfig....");
    d->m_informationRead = false;

    // Read into locals and publish under the state lock: the GUI thread reads factoryInfo.
    char factory[FactoryInfoSize];
    if (!readDeviceMemory(CommandReport::Code_Read, FlashLayout::FactoryInfoAddress,
            FactoryInfoSize, factory, false)) {
        qCWarning(lcDevice, "read factory Info failure!");
        return;
    }
    {
        QMutexLocker lock(&d->m_stateMutex);
        std::memcpy(d->factoryInfoBuffer, factory, FactoryInfoSize);
    }
    char uniqueId[UniqueIdSize];
    if (!readDeviceMemory(CommandReport::Code_Read, FlashLayout::UniqueIdAddress, UniqueIdSize,
            uniqueId, false)) {
        qCWarning(lcDevice, "read factory Info failure!");
        return;
    }
    {
        QMutexLocker lock(&d->m_stateMutex);
        std::memcpy(d->factoryInfoBuffer + UniqueIdOffset, uniqueId, UniqueIdSize);
    }

    QByteArray info(FirmwareInfoSize, '\0');
    if (!readDeviceMemory(CommandReport::Code_Read, FlashLayout::RecordAddress, FirmwareInfoSize,
            info.data(), false)) {
        qCWarning(lcDevice, "read firmware Info failure!");
        return;
    }
    d->m_informationRead = true;
    const FlashLayout::FirmwareRecord record = FlashLayout::readFirmwareRecord(info);
    storeRecord(record);
    if (record.isValid()) {
        const QString text = record.version();
        storeVersion(text);
        emit versionChanged(text);
        qCWarning(lcDevice) << "m_strVersion:" << text;
        emit settingChanged();
    } else {
        emit error(DeviceError_FirmwareLost);
    }
}

QByteArray DeviceFlash::serialNumber() const
{
    QByteArray text;
    {
        QMutexLocker lock(&d->m_stateMutex);
        text = QByteArray(d->factoryInfoBuffer + UniqueIdOffset, UniqueIdSize).toHex();
    }
    qCDebug(lcDevice) << "SN:" << text;
    return text;
}

int DeviceFlash::compareVersionNumbers(const QString &a, const QString &b)
{
    for (int i = 0; i < 3; ++i) {
        const qint64 va = FirmwareVersion::component(a, i);
        const qint64 vb = FirmwareVersion::component(b, i);
        qCWarning(lcDevice) << "current_version_split: " << va << vb;
        if (va != vb)
            return va < vb ? -1 : 1;
    }
    return 0;
}

bool DeviceFlash::isCompatibleVersion(const QString &a, const QString &b)
{
    return compareMajorMinor(a, b) == 0;
}

int DeviceFlash::compareMajorMinor(const QString &a, const QString &b)
{
    qCDebug(lcDevice) << "isCompatibleVersion " << FirmwareVersion::majorMinor(a)
                      << FirmwareVersion::majorMinor(b);
    return FirmwareVersion::compareMajorMinor(a, b);
}

bool DeviceFlash::isSupportBootMode() const
{
    const bool supported = FirmwareVersion::supportsBootMode(version());
    qCWarning(lcDevice) << "isSupportBootMode" << supported;
    return supported;
}

bool DeviceFlash::isSupportDataStore() const
{
    const bool supported = FirmwareVersion::keepsConfigurationStore(version());
    qCWarning(lcDevice) << "isSupportDataStore" << supported;
    return supported;
}

int DeviceFlash::bootMode() const
{
    QMutexLocker lock(&d->m_stateMutex);
    const int mode = quint8(d->configBufferData[BootModeOffset]);
    return qMin(mode, MaxBootMode);
}

QByteArray DeviceFlash::factoryInfo() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return QByteArray(d->factoryInfoBuffer, FactoryInfoSize);
}

QByteArray DeviceFlash::configBuffer() const
{
    QMutexLocker lock(&d->m_stateMutex);
    return QByteArray(d->configBufferData, ConfigBufferSize);
}

void DeviceFlash::announceVersion(const QString &text)
{
    if (text == version())
        return;
    storeVersion(text);
    emit versionChanged(text);
}

void DeviceFlash::updateVersion()
{
    if (!d->m_hidDevice || !d->m_hidDevice->isOpen())
        return;

    quint32 address = FlashLayout::ConfigBlockAddress;
    int offset = 0;
    int remaining = ConfigBufferSize;
    bool complete = false;
    CommandReport request;
    CommandReport response;
    while (remaining > 0) {
        request = CommandReport::request(CommandReport::Code_Read, address, ChunkSize);
        if (!writeCMDData(request)) {
            qCWarning(lcDevice) << "updateVersion write error !!!";
            break;
        }
        response.clearHeader();
        if (!readCMDData(response)) {
            qCWarning(lcDevice) << "updateVersion read error !!!";
            break;
        }
        if (response.code() != CommandReport::Code_Answer || response.address() != address
            || response.length() != quint32(ChunkSize)) {
            qCWarning(lcDevice) << "updateVersion Error" << address << response.address();
            break;
        }
        const int copy = std::min(ChunkSize, ConfigBufferSize - offset);
        {
            // The GUI thread reads the buffer (boot mode, copies) while this task fills it.
            QMutexLocker lock(&d->m_stateMutex);
            std::memcpy(d->configBufferData + offset, response.data(), size_t(copy));
        }
        address += ChunkSize;
        offset += ChunkSize;
        remaining -= ChunkSize;
        complete = remaining <= 0;
    }
    // A partly read block mixes new and old bytes: it is no copy of the adapter's block.
    d->m_configLoaded = complete;

    // The version comes from the firmware record, read by the one rule for its layout. A
    // block that was not read whole, or whose record is unreadable, names no firmware: the
    // version from before is not announced as what the adapter now holds.
    const FlashLayout::FirmwareRecord record = complete
        ? FlashLayout::readFirmwareRecord(configBuffer())
        : FlashLayout::FirmwareRecord();
    d->m_recordState = complete ? (record.isValid() ? 1 : 0) : -1;
    storeRecord(record);
    const QString text = record.version();
    announceVersion(text);
    emit settingChanged();
    qCDebug(lcDevice).noquote() << "updateVersion Finished" << text;
}

bool DeviceFlash::loadConfiguration()
{
    if (!isDeviceOpen())
        return false;
    startTask([this] { ensureConfigLoaded(); });
    return true;
}

bool DeviceFlash::ensureConfigLoaded()
{
    if (d->m_configLoaded)
        return true;
    if (!isDeviceOpen())
        return false;
    // Read into a scratch block so a failed read leaves configBuffer as it was.
    QByteArray block(ConfigBufferSize, '\0');
    if (!readDeviceMemory(CommandReport::Code_Read, FlashLayout::ConfigBlockAddress,
            ConfigBufferSize, block.data(), false)) {
        qCWarning(lcDevice) << "ensureConfigLoaded read failure";
        return false;
    }
    {
        QMutexLocker lock(&d->m_stateMutex);
        std::memcpy(d->configBufferData, block.constData(), ConfigBufferSize);
    }
    d->m_configLoaded = true;
    return true;
}
