// SPDX-License-Identifier: GPL-3.0-or-later
#include "readbackreport.h"

#include "adapter.h"
#include "deviceflash.h"
#include "progressprinter.h"

#include <QJsonObject>

namespace {

constexpr qint64 RedrawIntervalMs = 100;

QString addressText(qint64 address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
}

} // namespace

ReadBackReport::ReadBackReport(DeviceFlash &device, const CliContext &ctx, bool afterWrite)
    : m_ctx(ctx), m_afterWrite(afterWrite)
{
    // The device's task emits from its worker thread: the signals arrive queued, in the
    // event loop that waitUntilIdle() runs.
    QObject::connect(&device, &DeviceFlash::verifyProgressChanged, &m_context,
        [this](qlonglong current, qlonglong total) { progress(current, total); });
    QObject::connect(&device, &DeviceFlash::regionVerified, &m_context,
        [this](quint32 address, quint32 length, quint32 differing, qint64 first) {
            m_regions.append({ address, length, differing, first });
        });
}

void ReadBackReport::progress(qlonglong current, qlonglong total)
{
    m_read = current;
    m_total = total;
    m_ctx.progressLine(flashPhaseText(FlashPhase::Verifying), current, total);
    if (!m_ctx.showsProgress() || m_ctx.progressJson || !m_ctx.interactive() || total <= 0)
        return;
    if (!m_clock.isValid()) {
        m_clock.start();
        if (m_afterWrite)
            m_ctx.err << Qt::endl;
    }
    const qint64 elapsedMs = m_clock.elapsed();
    if (current < total && m_lastDrawMs >= 0 && elapsedMs - m_lastDrawMs < RedrawIntervalMs)
        return;
    m_lastDrawMs = elapsedMs;
    const double rate = elapsedMs > 0 ? double(current) * 1000.0 / double(elapsedMs) : 0.0;
    m_ctx.err << "\rread back " << FlashProgressPrinter::barLine(current, total, rate) << "    ";
    m_ctx.err.flush();
    m_drawn = true;
}

void ReadBackReport::finishLine()
{
    if (m_drawn && !m_afterWrite)
        m_ctx.err << Qt::endl;
    m_drawn = false;
}

bool ReadBackReport::complete() const
{
    return m_total > 0 && m_read == m_total;
}

bool ReadBackReport::matches() const
{
    return complete() && firstDifference() < 0;
}

qint64 ReadBackReport::firstDifference() const
{
    for (const Region &region : m_regions) {
        if (region.differing > 0)
            return region.firstDifference;
    }
    return -1;
}

QString ReadBackReport::differenceText() const
{
    qint64 bytes = 0;
    int regions = 0;
    for (const Region &region : m_regions) {
        bytes += region.differing;
        regions += region.differing > 0 ? 1 : 0;
    }
    return QStringLiteral("%1 (%2 %3 in %4 %5)")
        .arg(addressText(firstDifference()))
        .arg(bytes)
        .arg(bytes == 1 ? QStringLiteral("byte differs") : QStringLiteral("bytes differ"))
        .arg(regions)
        .arg(regions == 1 ? QStringLiteral("region") : QStringLiteral("regions"));
}

QString ReadBackReport::failureText() const
{
    return QStringLiteral("%1 (%2 of %3 bytes read back)")
        .arg(stoppedAnsweringText())
        .arg(m_read)
        .arg(m_total);
}

QJsonArray ReadBackReport::regionsJson() const
{
    QJsonArray regions;
    for (const Region &region : m_regions) {
        QJsonObject entry;
        entry.insert(QStringLiteral("address"), double(region.address));
        entry.insert(QStringLiteral("length"), double(region.length));
        entry.insert(QStringLiteral("differing"), double(region.differing));
        entry.insert(QStringLiteral("firstDifference"),
            region.firstDifference < 0 ? QJsonValue(QJsonValue::Null)
                                       : QJsonValue(double(region.firstDifference)));
        regions.append(entry);
    }
    return regions;
}

QString ReadBackReport::checkAfterWrite(QJsonObject &record) const
{
    if (!complete())
        return QStringLiteral("every byte was written and confirmed, but reading it back "
                              "failed: %1")
            .arg(failureText());
    if (!matches())
        return QStringLiteral("every byte was written and confirmed, but the flash read back "
                              "differs at %1; keep the adapter plugged in and run the same "
                              "command again")
            .arg(differenceText());
    record.insert(QStringLiteral("verified"), true);
    return QString();
}
