// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "flashjob.h"
#include "flashlayout.h"
#include "qhiddevice.h"
#include "sleepinhibitor.h"

#include <QByteArray>
#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

namespace {

constexpr quint32 ConfigBlockAddress = 0x08004000;
constexpr int ChunkSize = CommandReport::DataSize;

QByteArray hexOf(const quint8 *bytes, int length)
{
    return QByteArray(reinterpret_cast<const char *>(bytes), length).toHex();
}

} // namespace

bool DeviceFlash::eraseFlash(const FlashJob *job)
{
    qDebug() << "eraseFlash...";

    const quint32 listed = job->sectorCount; // copied: the job is packed
    const quint32 count = std::min<quint32>(listed, FlashJob::MaxSectors);
    CommandReport request = CommandReport::request(CommandReport::Code_Erase, 0, count);
    std::memcpy(request.data(), job->sectors, count);
    // The send's outcome is not examined: a failed send shows as a missing answer.
    writeCMDData(request);

    // The answer comes once every listed sector is erased: the wait allows for the slowest
    // erase the flash may take, on top of the usual answer time.
    CommandReport response;
    response.setCode(0);
    readCMDData(response, FlashLayout::worstEraseMs(*job));
    if (response.code() != CommandReport::Code_EraseAnswer) {
        qWarning() << "erase error !";
        return false;
    }
    return true;
}

bool DeviceFlash::write2Flash(FlashJob *job, quint8 progressKind)
{
    qDebug() << "write2Flash...";

    const qlonglong total = job->total;
    qlonglong current = 0;
    int region = -1;
    quint32 remaining = 0;
    quint32 address = 0;
    quint32 offset = 0;
    quint32 regionCapacity = 0;
    CommandReport request;
    CommandReport response;

    for (;;) {
        if (remaining == 0) {
            if (++region >= FlashJob::MaxRegions)
                break;
            remaining = job->regions[region].length;
            if (remaining == 0)
                break;
            address = job->regions[region].address;
            offset = 0;
            regionCapacity = FlashJob::capacityFrom(region);
            if (remaining > regionCapacity) {
                qWarning() << "write2Flash region exceeds the job" << region << remaining;
                return false;
            }
        }

        const quint32 n = std::min<quint32>(remaining, ChunkSize);
        request = CommandReport::request(CommandReport::Code_Write, address, n);
        std::memcpy(request.data(), job->slot(region) + offset, n);
        if (!writeCMDData(request)) {
            qWarning() << "write2Flash write error!";
            return false;
        }

        response.clearHeader();
        readCMDData(response);
        if (response.address() != request.address()
            || response.code() != CommandReport::Code_Answer || response.length() != n
            || response.reportId() != request.reportId()) {
            qWarning() << "write2Flash USB_ERR_DATA_VERIFY 2";
            return false;
        }
        if (std::memcmp(response.data(), request.data(), n) != 0) {
            qWarning() << "write2Flash USB_ERR_DATA_VERIFY 1";
            qDebug().noquote() << "write_data:" << hexOf(request.data(), int(n));
            qDebug().noquote() << "read_data :" << hexOf(response.data(), int(n));
            return false;
        }

        remaining -= n;
        current += n;
        address += n;
        offset += n;
        switch (progressKind) {
        case 0:
            emit write2FlashProgressChanged(current, total);
            break;
        case 1:
            emit dataStoreProgressChanged(current, total);
            break;
        case 2:
            emit settingProgressChanged(current, total);
            break;
        default:
            break;
        }
    }
    return current == total;
}

bool DeviceFlash::runFlashJob(FlashJob *job, quint8 progressKind)
{
    // Flash that the erase does not reach would be programmed over old contents and fail
    // its verification half way: such a job is refused before anything is erased.
    QString reason;
    if (!FlashLayout::erasesEveryRegion(*job, &reason)) {
        qWarning().noquote() << "flash job refused, nothing erased:" << reason;
        emit error(DeviceError_FirmwareEmpty);
        return false;
    }
    if (!commitToErase())
        return false;
    // Sleep or shutdown would cut the adapter's power between the erase and the last write:
    // the system is kept awake until the write has ended.
    SleepInhibitor awake;
    const bool erased = eraseFlash(job);
    // A refused erase is still followed by the write: some adapters erase and answer oddly,
    // and the echo check tells whether the data landed.
    const bool written = write2Flash(job, progressKind);
    awake.release();
    if (!written)
        emit error(erased ? DeviceError_WriteFailure : DeviceError_EraseFailure);
    return written;
}

void DeviceFlash::updateVersion()
{
    if (!m_hidDevice || !m_hidDevice->isOpen())
        return;

    quint32 address = ConfigBlockAddress;
    int offset = 0;
    int remaining = ConfigBufferSize;
    bool complete = false;
    CommandReport request;
    CommandReport response;
    while (remaining > 0) {
        request = CommandReport::request(CommandReport::Code_Read, address, ChunkSize);
        if (!writeCMDData(request)) {
            qWarning() << "updateVersion write error !!!";
            break;
        }
        response.clearHeader();
        if (!readCMDData(response)) {
            qWarning() << "updateVersion read error !!!";
            break;
        }
        if (response.code() != CommandReport::Code_Answer || response.address() != address
            || response.length() != quint32(ChunkSize)) {
            qWarning() << "updateVersion Error" << address << response.address();
            break;
        }
        const int copy = std::min(ChunkSize, ConfigBufferSize - offset);
        {
            // The GUI thread reads the buffer (boot mode, copies) while this task fills it.
            QMutexLocker lock(&m_stateMutex);
            std::memcpy(configBufferData + offset, response.data(), size_t(copy));
        }
        address += ChunkSize;
        offset += ChunkSize;
        remaining -= ChunkSize;
        complete = remaining <= 0;
    }
    // A partly read block mixes new and old bytes: it is no copy of the adapter's block.
    m_configLoaded = complete;

    const QByteArray block = configBuffer();
    m_recordState = complete ? (quint8(block[0]) == 0x55 && quint8(block[255]) == 0xAA ? 1 : 0)
                             : -1;
    const QString text = QStringLiteral("%1.%2.%3")
                             .arg(uint(quint8(block[1])))
                             .arg(uint(quint8(block[2])))
                             .arg(uint(quint8(block[3])));
    if (text != version()) {
        setVersion(text);
        emit versionChanged(text);
    }
    emit settingChanged();
    qDebug().noquote() << "updateVersion Finished" << text;
}
