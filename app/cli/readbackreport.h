// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>

class DeviceFlash;

// What a read-back of the adapter's flash against an image reports (verify, update
// --verify), gathered from the device's signals for the object's life, with a progress bar
// on a terminal.
class ReadBackReport
{
public:
    // afterWrite: the bar starts on a line of its own below the write's bar, whose printer
    // ends the line; otherwise finishLine() does.
    ReadBackReport(DeviceFlash &device, const CliContext &ctx, bool afterWrite);

    // Every byte the read-back set out to read came back.
    bool complete() const;
    // Complete, and not one byte differs.
    bool matches() const;
    // Address of the first byte that differs, -1 when none.
    qint64 firstDifference() const;
    // "0x08010005 (1 byte differs in 1 region)"
    QString differenceText() const;
    // "the adapter stopped answering (n of m bytes read back)"
    QString failureText() const;
    // [{address, length, differing, firstDifference}] of every region read.
    QJsonArray regionsJson() const;
    void finishLine();

    // update --verify: adds "verified": true to the result, or says why the update failed.
    QString checkAfterWrite(QJsonObject &record) const;

private:
    struct Region
    {
        quint32 address = 0;
        quint32 length = 0;
        quint32 differing = 0;
        qint64 firstDifference = -1;
    };

    void progress(qlonglong current, qlonglong total);

    const CliContext &m_ctx;
    const bool m_afterWrite;
    QObject m_context;
    QList<Region> m_regions;
    qlonglong m_read = 0;
    qlonglong m_total = 0;
    QElapsedTimer m_clock;
    qint64 m_lastDrawMs = -1;
    bool m_drawn = false;
};
