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
// The lines, oldest first; a line that does not parse (a torn last line) is skipped.
QList<QJsonObject> readLines(const QString &file);
// One entry per operation, oldest first. An operation that reaches the adapter's erase writes
// a "started" line first and its final line (same "id") at its end; the final line stands
// for both. A started line without its final line becomes an entry with the result
// "interrupted": the program ended during the write. Lines without an id stand alone.
QList<QJsonObject> operations(const QList<QJsonObject> &lines);
// operations(readLines(file)).
QList<QJsonObject> read(const QString &file);

// The user's message for an engine error, as the window shows it (English).
QString errorMessage(DeviceError error);

} // namespace OperationHistory

// One flash operation's history: created when its task begins, it writes the "started" line
// when the job commits to its first erase (started()) and the final line in finish(). Both
// carry the operation's id. Nothing is written when the device has no data directory.
class OperationRecord
{
public:
    OperationRecord(DeviceFlash &device, const QString &operation);
    ~OperationRecord();

    void setImage(const QString &path, const QByteArray &bytes);
    void setBackup(const QString &path) { m_backup = path; }
    // The firmware version the operation writes; without one, the adapter keeps its own.
    void setTargetVersion(const QString &version) { m_toVersion = version; }
    void started();
    // reason: the error text when the operation failed without an engine error.
    void finish(bool success, const QString &reason = QString());

private:
    QJsonObject line(const QString &result, const QString &error) const;

    DeviceFlash &m_device;
    QString m_operation;
    QString m_id;
    QDateTime m_started;
    QElapsedTimer m_clock;
    QString m_serial;
    QString m_fromVersion;
    QString m_toVersion;
    bool m_erasing = false; // the "started" line was written: the erase was requested
    QString m_image;
    QString m_imageMd5;
    QString m_backup;
    QObject m_errorWatch; // receives the device's errors on the task's own thread
    std::atomic<int> m_firstError { -1 };
    bool m_finished = false;
};
