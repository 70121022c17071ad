// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceerror.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>

class DeviceFlash;

// The operation history: one JSON object per line in "history.jsonl" of the data directory,
// shared by the window and corvane-cli.
namespace OperationHistory {

QString filePath(const QString &dataDirectory);
// Appends entry as one line. Writers take turns through a lock on the file, and a line that
// a crashed writer left without its end is closed first, so lines never run together.
bool append(const QString &file, const QJsonObject &entry, QString *errorString = nullptr);
// The entries, oldest first; a line that does not parse (a torn last line) is skipped.
QList<QJsonObject> read(const QString &file);

// The user's message for an engine error, as the window shows it (English).
QString errorMessage(DeviceError error);

} // namespace OperationHistory

// One flash operation's history line: created when its task begins, appended by finish().
// Nothing is written when the device has no data directory.
class OperationRecord
{
public:
    OperationRecord(DeviceFlash &device, const QString &operation);
    ~OperationRecord();

    void setImage(const QString &path, const QByteArray &bytes);
    void setBackup(const QString &path) { m_backup = path; }
    // reason: the error text when the operation failed without an engine error.
    void finish(bool success, const QString &reason = QString());

private:
    DeviceFlash &m_device;
    QString m_operation;
    QDateTime m_started;
    QElapsedTimer m_clock;
    QString m_serial;
    QString m_fromVersion;
    QString m_image;
    QString m_imageMd5;
    QString m_backup;
    QObject m_errorWatch; // receives the device's errors on the task's own thread
    std::atomic<int> m_firstError{-1};
    bool m_finished = false;
};
