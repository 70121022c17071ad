// SPDX-License-Identifier: GPL-3.0-or-later
#include "operationhistory.h"
#include "logcategories.h"

#include "adapterlink.h"
#include "deviceflash.h"
#include "filelock.h"
#include "privatefiles.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>

namespace OperationHistory {

QString filePath(const QString &dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("history.jsonl"));
}

bool append(const QString &file, const QJsonObject &entry, QString *errorString,
    const std::function<void()> &waiting)
{
    const auto fail = [errorString, &file](const char *what) {
        const QString text
            = QStringLiteral("%1 %2: %3")
                  .arg(QLatin1String(what), file, QString::fromLocal8Bit(std::strerror(errno)));
        if (errorString)
            *errorString = text;
        return false;
    };
    PrivateFiles::makeDirectory(QFileInfo(file).absolutePath());
    const int fd = PrivateFiles::open(file, O_RDWR | O_APPEND | O_CREAT);
    if (fd < 0)
        return fail("cannot open");
    // The lock ends with its holder, so a killed writer never holds up the next one; a
    // writer that stopped while holding it costs this line after a bounded wait.
    // Other writers hold it for a moment; a longer wait is said.
    constexpr int QuietWaitMs = 3000;
    int error = FileLock::lockExclusive(fd, QuietWaitMs);
    if (error == EWOULDBLOCK) {
        if (waiting)
            waiting();
        error = FileLock::lockExclusive(fd, LockWaitMs - QuietWaitMs);
    }
    if (error) {
        PrivateFiles::close(fd);
        if (error != EWOULDBLOCK) {
            errno = error;
            return fail("cannot lock");
        }
        if (errorString)
            *errorString = QStringLiteral("another program held the lock of %1 for %2 s")
                               .arg(file)
                               .arg(LockWaitMs / 1000);
        return false;
    }
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    line.append('\n');
    const qint64 size = PrivateFiles::size(fd);
    char last = '\n';
    if (size > 0 && PrivateFiles::readAt(fd, size - 1, &last, 1) && last != '\n')
        line.prepend('\n'); // a torn line stays on its own and is skipped when read
    bool ok = PrivateFiles::writeAll(fd, line);
    if (!ok)
        fail("cannot write");
    else if (!PrivateFiles::sync(fd))
        ok = fail("cannot sync");
    PrivateFiles::close(fd);
    return ok;
}

QList<QJsonObject> readLines(const QString &file)
{
    QList<QJsonObject> entries;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return entries;
    const QList<QByteArray> lines = in.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error {};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            qCWarning(lcEngine) << "history: skipped a damaged line of" << line.size() << "bytes";
            continue;
        }
        entries.append(document.object());
    }
    return entries;
}

QList<QJsonObject> operations(const QList<QJsonObject> &lines)
{
    const QString result = QStringLiteral("result");
    QList<QJsonObject> entries;
    QHash<QString, int> open; // id of a started line -> its entry
    for (const QJsonObject &line : lines) {
        // An id of another type (a hand-edited or foreign line) pairs by its JSON text.
        const QJsonValue idValue = line.value(QStringLiteral("id"));
        const QString id = idValue.isString() ? idValue.toString()
            : idValue.isUndefined() || idValue.isNull()
            ? QString()
            : QString::fromUtf8(
                QJsonDocument(QJsonArray { idValue }).toJson(QJsonDocument::Compact));
        if (line.value(result).toString() == QLatin1String("started")) {
            // A started line without its final line: the program ended during the write.
            QJsonObject entry = line;
            entry.insert(result, QStringLiteral("interrupted"));
            if (!id.isEmpty())
                open.insert(id, entries.size());
            entries.append(entry);
        } else if (id.isEmpty()) {
            entries.append(line);
        } else if (open.contains(id)) {
            entries[open.take(id)] = line;
        } else {
            entries.append(line);
        }
    }
    return entries;
}

QList<QJsonObject> read(const QString &file)
{
    return operations(readLines(file));
}

Standing standing(const QList<QJsonObject> &operations, const QString &serial)
{
    Standing result;
    bool latest = true;
    bool configWritten = false; // a configuration write succeeded since
    for (auto it = operations.crbegin(); it != operations.crend(); ++it) {
        if (serial.isEmpty() || it->value(QStringLiteral("serial")).toString() != serial)
            continue;
        const QString backup = it->value(QStringLiteral("backup")).toString();
        if (latest)
            result.latestBackup = backup;
        latest = false;
        const QString operation = it->value(QStringLiteral("operation")).toString();
        const bool firmware = operation == QLatin1String("update")
            || operation == QLatin1String("restore-defaults");
        const QString outcome = it->value(QStringLiteral("result")).toString();
        if (outcome == QLatin1String("success")) {
            if (firmware)
                break;
            configWritten = true;
            continue;
        }
        // A failure or cancel before the erase changed nothing on the adapter.
        if (outcome != QLatin1String("interrupted")
            && !it->value(QStringLiteral("erased")).toBool())
            continue;
        if (!firmware && configWritten)
            continue;
        result.unfinished = true;
        if (result.failedOperation.isEmpty())
            result.failedOperation = *it;
        if (!backup.isEmpty())
            result.backupBeforeFailure = backup;
    }
    return result;
}

Standing standingIn(const QString &dataDirectory, const QString &serial)
{
    if (dataDirectory.isEmpty() || serial.isEmpty())
        return {};
    return standing(read(filePath(dataDirectory)), serial);
}

QString errorMessage(DeviceError error)
{
    if (const DeviceErrorText *text = DeviceErrorText::of(error))
        return QString::fromLatin1(text->message);
    return QStringLiteral("Error %1").arg(int(error));
}

} // namespace OperationHistory

OperationRecord::OperationRecord(DeviceFlash &device, const QString &operation)
    : m_device(device), m_operation(operation),
      m_id(QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_started(QDateTime::currentDateTimeUtc()), m_fromVersion(device.version())
{
    m_clock.start();
    if (device.isDeviceOpen())
        m_serial = QString::fromLatin1(device.serialNumber());
    AdapterLink(device).setActiveRecord(this);
    // Direct: the error is noted on the task's thread before the task goes on.
    QObject::connect(
        &device, &DeviceFlash::error, &m_errorWatch,
        [this](DeviceError e) {
            int none = -1;
            m_firstError.compare_exchange_strong(none, int(e));
        },
        Qt::DirectConnection);
}

OperationRecord::~OperationRecord()
{
    if (!m_finished)
        finish(false);
    AdapterLink(m_device).setActiveRecord(nullptr);
}

void OperationRecord::setImage(const QString &path, const QByteArray &bytes)
{
    m_image = QFileInfo(path).absoluteFilePath();
    m_imageMd5 = bytes.isEmpty()
        ? QString()
        : QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QJsonObject OperationRecord::line(const QString &result, const QString &error) const
{
    const auto textOrNull = [](const QString &text) {
        return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
    };
    QJsonObject entry;
    entry.insert(QStringLiteral("id"), m_id);
    entry.insert(QStringLiteral("time"), m_started.toString(Qt::ISODate));
    entry.insert(QStringLiteral("serial"), textOrNull(m_serial));
    entry.insert(QStringLiteral("operation"), m_operation);
    entry.insert(QStringLiteral("fromVersion"), textOrNull(m_fromVersion));
    entry.insert(QStringLiteral("toVersion"),
        textOrNull(m_toVersion.isEmpty() ? m_fromVersion : m_toVersion));
    entry.insert(QStringLiteral("result"), result);
    entry.insert(QStringLiteral("error"), textOrNull(error));
    entry.insert(QStringLiteral("image"), textOrNull(m_image));
    entry.insert(QStringLiteral("imageMd5"), textOrNull(m_imageMd5));
    entry.insert(QStringLiteral("backup"), textOrNull(m_result.backup));
    entry.insert(QStringLiteral("erased"), m_erasing);
    entry.insert(QStringLiteral("seconds"), double(m_clock.elapsed() / 100) / 10.0);
    return entry;
}

bool OperationRecord::write(const QJsonObject &entry)
{
    const QString directory = m_device.dataDirectory();
    if (directory.isEmpty())
        return true;
    QString reason;
    const auto waiting = [this] {
        qCWarning(lcEngine, "history: another program holds its lock; waiting for it, %d s at most",
            OperationHistory::LockWaitMs / 1000);
        emit m_device.historyLockBusy(OperationHistory::LockWaitMs);
    };
    if (OperationHistory::append(OperationHistory::filePath(directory), entry, &reason, waiting))
        return true;
    if (m_result.historyError.isEmpty()) {
        m_result.historyError = reason;
        qCWarning(lcEngine).noquote() << "the history cannot be written:" << reason;
    }
    return false;
}

bool OperationRecord::started()
{
    if (m_erasing || m_finished)
        return !m_startRefused;
    m_erasing = true;
    if (write(line(QStringLiteral("started"), QString())))
        return true;
    m_erasing = false;
    m_startRefused = true;
    qCWarning(lcEngine, "flash job refused, nothing erased: the history cannot be written");
    emit m_device.error(DeviceError_HistoryUnwritable);
    return false;
}

void OperationRecord::finish(bool success, const QString &reason)
{
    if (m_finished)
        return;
    m_finished = true;
    QObject::disconnect(&m_device, nullptr, &m_errorWatch, nullptr);
    const int first = m_firstError.load();
    const bool cancelled = !success && !m_erasing && m_device.isFlashCancelled();
    QString error;
    if (cancelled)
        error = QStringLiteral("Cancelled before anything was erased.");
    else if (!success)
        error = first >= 0 ? OperationHistory::errorMessage(DeviceError(first)) : reason;
    if (!success && error.isEmpty())
        error = QStringLiteral("The operation did not complete.");
    const QString result = success ? QStringLiteral("success")
        : cancelled                ? QStringLiteral("cancelled")
                                   : QStringLiteral("failed");
    // After a refused "started" line the final one would only wait for the same lock again.
    if (!m_startRefused)
        write(line(result, error));

    m_result.operation = m_operation;
    m_result.outcome = success ? OperationResult::Succeeded
        : cancelled            ? OperationResult::Cancelled
                               : OperationResult::Failed;
    m_result.error = first;
    m_result.reason = error;
    m_result.erased = m_erasing;
    emit m_device.finished(m_result);
}
