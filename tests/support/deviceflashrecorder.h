// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

// The signals of one DeviceFlash in the order they are emitted, recorded from whatever thread
// emits them. Names: "write", "store" and "setting" for the three progress signals (value the
// current count, total its total), "error", "version", "busy" and "finished" (value the
// result's outcome).
class DeviceFlashRecorder
{
public:
    struct Event
    {
        QByteArray name;
        qlonglong value = 0;
        qlonglong total = 0;
    };

    void attach(DeviceFlash *device, QObject *context)
    {
        const auto progress = [this](const char *name) {
            return [this, name](qlonglong current, qlonglong total) {
                add(name, current, total);
            };
        };
        QObject::connect(device, &DeviceFlash::write2FlashProgressChanged, context,
            progress("write"), Qt::DirectConnection);
        QObject::connect(device, &DeviceFlash::dataStoreProgressChanged, context, progress("store"),
            Qt::DirectConnection);
        QObject::connect(device, &DeviceFlash::settingProgressChanged, context, progress("setting"),
            Qt::DirectConnection);
        QObject::connect(
            device, &DeviceFlash::error, context, [this](DeviceError e) { add("error", e); },
            Qt::DirectConnection);
        QObject::connect(
            device, &DeviceFlash::versionChanged, context,
            [this](const QString &) { add("version", 0); }, Qt::DirectConnection);
        QObject::connect(
            device, &DeviceFlash::isBusyChanged, context, [this](bool b) { add("busy", b); },
            Qt::DirectConnection);
        QObject::connect(
            device, &DeviceFlash::finished, context,
            [this](const OperationResult &r) { add("finished", r.outcome); }, Qt::DirectConnection);
    }

    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_events.clear();
    }

    QList<Event> events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }

    // The values of the named events, in order.
    QList<qlonglong> values(const QByteArray &name) const
    {
        QList<qlonglong> list;
        for (const Event &e : events())
            if (e.name == name)
                list.append(e.value);
        return list;
    }

    // The totals of the named progress events, in order.
    QList<qlonglong> totals(const QByteArray &name) const
    {
        QList<qlonglong> list;
        for (const Event &e : events())
            if (e.name == name)
                list.append(e.total);
        return list;
    }

    // The value of the last named event, or -1 when there is none.
    qlonglong last(const QByteArray &name) const
    {
        const QList<qlonglong> list = values(name);
        return list.isEmpty() ? -1 : list.last();
    }

    // Event names in order, repeats folded.
    QList<QByteArray> names() const
    {
        QList<QByteArray> list;
        for (const Event &e : events())
            if (list.isEmpty() || list.last() != e.name)
                list.append(e.name);
        return list;
    }

private:
    void add(const char *name, qlonglong value, qlonglong total = 0)
    {
        QMutexLocker lock(&m_mutex);
        m_events.append({ QByteArray(name), value, total });
    }

    mutable QMutex m_mutex;
    QList<Event> m_events;
};
