// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceerror.h"
#include "operationresult.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class DeviceFlash;

// The operation history: one JSON object per line in "history.jsonl" of the data directory,
// shared by the window and corvane-cli.
namespace OperationHistory {

QString filePath(const QString &dataDirectory);
// How long a writer waits for another one's lock on the history before it gives up.
constexpr int LockWaitMs = 10000;
// Appends entry as one line. Writers take turns through a lock on the file, and a line that
// a crashed writer left without its end is closed first, so lines never run together.
// waiting, when given, is called when another writer's lock is not let go within 3 s.
bool append(const QString &file, const QJsonObject &entry, QString *errorString = nullptr,
    const std::function<void()> &waiting = {});
// The lines, oldest first; a line that does not parse (a torn last line) is skipped.
QList<QJsonObject> readLines(const QString &file);
// One entry per operation, oldest first. An operation that reaches the adapter's erase writes
// a "started" line first and its final line (same "id") at its end; the final line stands
// for both. A started line without its final line becomes an entry with the result
// "interrupted": the program ended during the write. Lines without an id stand alone.
QList<QJsonObject> operations(const QList<QJsonObject> &lines);
// operations(readLines(file)).
QList<QJsonObject> read(const QString &file);

// Where an adapter stands by its operations (oldest first).
struct Standing
{
    // Unfinished: its last erasing operation failed after the erase or was interrupted, and
    // no update or factory restore of it has succeeded since (a configuration write that
    // succeeds clears only an earlier configuration write's failure). Its flash may be half
    // written, whatever version it announces.
    bool unfinished = false;
    // The newest of those failed operations (empty when none).
    QJsonObject failedOperation;
    // The backup saved before the first of them ("" when none was): the configuration the
    // user had, which no backup of the half-written adapter may replace.
    QString backupBeforeFailure;
    // The backup its latest operation names.
    QString latestBackup;
};
Standing standing(const QList<QJsonObject> &operations, const QString &serial);
// standing() of the history in dataDirectory ("": none).
Standing standingIn(const QString &dataDirectory, const QString &serial);

// The user's message for an engine error, as the window shows it (English).
QString errorMessage(DeviceError error);

} // namespace OperationHistory

// One flash operation's history and result: created when its task begins, it writes the
// "started" line just before the job's first erase (started()) and, in finish(), the final
// line, then hands the operation's one result to DeviceFlash::finished(). Both lines carry
// the operation's id. No line is written when the device has no data directory; a line that
// cannot be written is logged once, with the reason, and named in the result.
class OperationRecord
{
public:
    OperationRecord(DeviceFlash &device, const QString &operation);
    ~OperationRecord();

    void setImage(const QString &path, const QByteArray &bytes);
    void setBackup(const QString &path) { m_result.backup = path; }
    // The firmware version the operation writes; without one, the adapter keeps its own.
    void setTargetVersion(const QString &version) { m_toVersion = version; }
    QString targetVersion() const { return m_toVersion; }
    // The firmware version read back after the write (empty: the read failed).
    void setVersionRead(const QString &version) { m_result.versionRead = version; }
    // The read-back of every region after the write: whether it matched, and whether it was
    // stopped before its end.
    void setVerified(bool verified, bool stopped)
    {
        m_result.verified = verified;
        m_result.readBackStopped = stopped;
    }
    // Writes the "started" line before the erase. False when it cannot be written: the job
    // must not start then, since an interrupted write could no longer be told from a whole
    // one (error DeviceError_HistoryUnwritable; the result names the reason).
    bool started();
    // A cancel came between the "started" line and the erase: nothing was erased after all.
    void notErased() { m_erasing = false; }
    // reason: the error text when the operation failed without an engine error.
    void finish(bool success, const QString &reason = QString());

private:
    QJsonObject line(const QString &result, const QString &error) const;
    // Appends a line; on failure keeps and logs the first reason.
    bool write(const QJsonObject &line);

    DeviceFlash &m_device;
    QString m_operation;
    QString m_id;
    QDateTime m_started;
    QElapsedTimer m_clock;
    QString m_serial;
    QString m_fromVersion;
    QString m_toVersion;
    bool m_erasing = false; // the "started" line was written and the erase requested
    bool m_startRefused = false; // the "started" line could not be written
    QString m_image;
    QString m_imageMd5;
    OperationResult m_result;
    QObject m_errorWatch; // receives the device's errors on the task's own thread
    std::atomic<int> m_firstError { -1 };
    bool m_finished = false;
};
