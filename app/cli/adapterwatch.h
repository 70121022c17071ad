// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

class DeviceMonitor;
struct DeviceNotice;

// Follows adapters coming and going and prints one event for each, naming the adapter by
// serial number and path: every adapter attached at the start, then each arrival and
// removal. An adapter is read and let go again at once, so watching keeps no other program
// from it; one that another program holds is named without being read.
class AdapterWatch : public QObject
{
public:
    explicit AdapterWatch(const CliContext &ctx);

    // False when device changes cannot be followed (no udev monitor).
    bool isMonitoring() const;
    // Reports the adapters attached now; then the event loop brings the changes.
    void start();

private:
    void handleNotice(const DeviceNotice &notice);
    // Reports what was attached or removed since the last look; true when anything was.
    bool rescan();
    void report(const QJsonObject &event, const QString &line);

    const CliContext &m_ctx;
    DeviceMonitor *m_monitor = nullptr;
    QMap<QByteArray, QString> m_known; // path -> serial number ("" when unknown)
    // An arrival's node can come a moment after its event: looked for a few times.
    QTimer m_retry;
    int m_retriesLeft = 0;
};
