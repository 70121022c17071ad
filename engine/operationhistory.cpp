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
#include <QJsonDocument>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OperationHistory {

QString filePath(const QString &dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("history.jsonl"));
}

namespace {

    constexpr int LockWaitMs = 10000;

} // namespace

bool append(const QString &file, const QJsonObject &entry, QString *errorString)
{
    const auto fail = [errorString, &file](const char *what) {
        const QString text
            = QStringLiteral("%1 %2: %3")
                  .arg(QLatin1String(what), file, QString::fromLocal8Bit(std::strerror(errno)));
        if (errorString)
            *errorString = text;
        qCWarning(lcEngine).noquote() << "history" << text;
        return false;
    };
    PrivateFiles::makeDirectory(QFileInfo(file).absolutePath());
    const int fd = PrivateFiles::open(file, O_RDWR | O_APPEND | O_CREAT);
    if (fd < 0)
        return fail("cannot open");
    // The lock ends with its holder, so a killed writer never holds up the next one; a
    // writer that stopped while holding it costs this line, never the operation.
    if (const int error = FileLock::lockExclusive(fd, LockWaitMs)) {
        errno = error;
        const bool result = fail("cannot lock");
        ::close(fd);
        return result;
    }
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    line.append('\n');
    struct stat info
    {
    };
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1
        && last != '\n')
        line.prepend('\n'); // a torn line stays on its own and is skipped when read
    bool ok = PrivateFiles::writeAll(fd, line);
    if (!ok)
        fail("cannot write");
    else if (::fdatasync(fd) != 0)
        ok = fail("cannot sync");
    ::close(fd);
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
        const QString id = line.value(QStringLiteral("id")).toString();
        if (id.isEmpty()) {
            entries.append(line);
        } else if (line.value(result).toString() == QLatin1String("started")) {
            open.insert(id, entries.size());
            QJsonObject entry = line;
            entry.insert(result, QStringLiteral("interrupted"));
            entries.append(entry);
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
    entry.insert(QStringLiteral("backup"), textOrNull(m_backup));
    entry.insert(QStringLiteral("erased"), m_erasing);
    entry.insert(QStringLiteral("seconds"), double(m_clock.elapsed() / 100) / 10.0);
    return entry;
}

void OperationRecord::started()
{
    if (m_erasing || m_finished)
        return;
    m_erasing = true;
    const QString directory = m_device.dataDirectory();
    if (!directory.isEmpty())
        OperationHistory::append(
            OperationHistory::filePath(directory), line(QStringLiteral("started"), QString()));
}

void OperationRecord::finish(bool success, const QString &reason)
{
    m_finished = true;
    QObject::disconnect(&m_device, nullptr, &m_errorWatch, nullptr);
    const QString directory = m_device.dataDirectory();
    if (directory.isEmpty())
        return;
    QString error;
    if (!success) {
        const int first = m_firstError.load();
        if (!m_erasing && m_device.isFlashCancelled())
            error = QStringLiteral("Cancelled before anything was erased.");
        else
            error = first >= 0 ? OperationHistory::errorMessage(DeviceError(first)) : reason;
        if (error.isEmpty())
            error = QStringLiteral("The operation did not complete.");
    }
    OperationHistory::append(OperationHistory::filePath(directory),
        line(success ? QStringLiteral("success") : QStringLiteral("failed"), error));
}
