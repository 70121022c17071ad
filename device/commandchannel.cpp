// SPDX-License-Identifier: GPL-3.0-or-later
#include "deviceflash.h"
#include "deviceflash_p.h"
#include "logcategories.h"
#include "qhiddevice.h"

#include <QDebug>
#include <QElapsedTimer>

#include <chrono>
#include <cstring>
#include <limits>

namespace {
// A blocked read gives up its slot this often, so removal and shutdown can end it.
constexpr int ReadSliceMs = 50;
constexpr qint64 NoAnswerDue = std::numeric_limits<qint64>::max();

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
// Reports dropped before one request at most: an adapter that keeps sending cannot hold
// the channel here.
constexpr int MaxStaleReports = 64;
} // namespace

void DeviceFlash::setAnswerTimeout(int milliseconds)
{
    d->m_answerTimeoutMs = qMax(milliseconds, 0);
}

void DeviceFlash::setStallTime(int milliseconds)
{
    d->m_stallTimeMs = qMax(milliseconds, 0);
}

bool DeviceFlash::isStalled() const
{
    return steadyMs() > d->m_answerDueMs;
}

void DeviceFlash::dropStaleReports()
{
    quint8 stale[CommandReport::Size];
    for (int i = 0; i < MaxStaleReports; ++i) {
        const int count = d->m_hidDevice->read(stale, CommandReport::Size, 0);
        if (count <= 0)
            return;
        qCWarning(lcDevice).noquote()
            << "writeCMDData dropped a stale input report"
            << QByteArray(reinterpret_cast<const char *>(stale), qMin(count, 12)).toHex();
    }
}

bool DeviceFlash::writeCMDData(const CommandReport &request)
{
    // After a removal, a time-out or at shutdown nothing more is sent to the adapter.
    if (!d->m_cancelTransfers)
        dropStaleReports();
    if (d->m_cancelTransfers || d->m_hidDevice->write(request.bytes, CommandReport::Size) < 0) {
        qCWarning(lcDevice, "writeCMDData write error !!!");
        return false;
    }
    return true;
}

bool DeviceFlash::readCMDData(CommandReport &response, int extraAllowanceMs)
{
    // Byte 0 stays the report id; the report body lands behind it.
    quint8 received[CommandReport::Size + 1] = {};
    int count = 0;
    const int timeout = d->m_answerTimeoutMs;
    const int extra = qMax(extraAllowanceMs, 0);
    const int limit = timeout > 0 ? timeout + extra : 0;
    d->m_answerDueMs = steadyMs() + (timeout > 0 ? timeout : d->m_stallTimeMs.load()) + extra;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (d->m_cancelTransfers) {
            count = -1;
            break;
        }
        count = d->m_hidDevice->read(received + 1, CommandReport::Size, ReadSliceMs);
        if (count != 0)
            break;
        if (limit > 0 && waited.elapsed() >= limit) {
            qCWarning(lcDevice) << "readCMDData no answer from the adapter within" << limit << "ms";
            d->m_answerTimedOut = true;
            d->m_cancelTransfers = true;
            count = -1;
            break;
        }
    }
    d->m_answerDueMs = NoAnswerDue;
    if (count < 0) {
        qCWarning(lcDevice, "readCMDData read error !!!");
        return false;
    }
    std::memcpy(response.bytes, received, CommandReport::Size);
    return true;
}

bool DeviceFlash::readDeviceMemory(
    quint32 code, quint32 address, quint32 length, char *destination, bool reportProgress)
{
    if (length == 0)
        return true;
    if (!destination)
        return false;

    quint32 offset = 0;
    quint32 current = address;
    quint32 remaining = length;
    CommandReport response;
    while (remaining > 0) {
        const quint32 chunk = qMin<quint32>(remaining, CommandReport::DataSize);
        const CommandReport request = CommandReport::request(code, current, chunk);
        if (!writeCMDData(request))
            return false;

        response.clearHeader();
        if (!readCMDData(response))
            return false;
        if (response.address() != current || response.code() != CommandReport::Code_Answer
            || response.length() != chunk || response.reportId() != request.reportId())
            return false;

        std::memcpy(destination + offset, response.data(), chunk);
        offset += chunk;
        current += chunk;
        remaining -= chunk;
        if (reportProgress)
            emit dataBackupProgressChanged(
                qlonglong(length - remaining), qlonglong(length), destination);
    }
    return true;
}
