// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile.h"

#include "appidentity.h"
#include "privatefiles.h"
#include "safetext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringView>

#include <algorithm>

#include <fcntl.h>

namespace {

const char *const Programs[] = { "corvane-firmware-tool", "corvane-cli" };

struct Log
{
    QMutex mutex;
    QString program;
    QString path;
    QString serial;
    QtMessageHandler next = nullptr;
    int fd = -1;
    qint64 size = 0;
    bool failed = false;
};

// Never destroyed: lines logged while the program's statics are torn down still find it.
Log &theLog()
{
    static Log *const log = new Log;
    return *log;
}

// Set while this thread writes a line: what the write itself logs is not written again.
thread_local bool writing = false;

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

QString rotated(const QString &path, int generation)
{
    return generation == 0 ? path : QStringLiteral("%1.%2").arg(path).arg(generation);
}

// Opens the log (log.mutex held); false when it cannot be.
bool openLog(Log &log)
{
    if (log.fd >= 0)
        return true;
    if (log.failed || !PrivateFiles::makeDirectory(LogFile::directory()))
        return false;
    log.fd = PrivateFiles::open(log.path, O_WRONLY | O_CREAT | O_APPEND);
    log.size = log.fd < 0 ? -1 : PrivateFiles::size(log.fd);
    if (log.size < 0) {
        log.failed = true;
        return false;
    }
    return true;
}

// Moves the full log aside (log.1, log.2, ...), unless another run of the program did so
// already, and starts a new one.
void rotate(Log &log)
{
    const bool same = PrivateFiles::isFileAt(log.fd, log.path);
    PrivateFiles::close(log.fd);
    log.fd = -1;
    if (same) {
        QFile::remove(rotated(log.path, LogFile::Kept - 1));
        for (int generation = LogFile::Kept - 2; generation >= 0; --generation)
            QFile::rename(rotated(log.path, generation), rotated(log.path, generation + 1));
    }
    openLog(log);
}

void append(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Log &log = theLog();
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QMutexLocker locker(&log.mutex);
    if (!openLog(log))
        return;
    const QByteArray line
        = LogFile::formatLine(time, log.program, log.serial, context.category, type, message)
              .toUtf8()
        + '\n';
    if (log.size > 0 && log.size + line.size() > LogFile::MaxSize) {
        rotate(log);
        if (log.fd < 0)
            return;
    }
    if (PrivateFiles::writeAll(log.fd, line))
        log.size += line.size();
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!writing) {
        writing = true;
        append(type, context, message);
        writing = false;
    }
    theLog().next(type, context, message);
}

} // namespace

namespace LogFile {

QString directory()
{
    return QDir::cleanPath(PrivateFiles::stateDirectory() + QStringLiteral("/corvane-x9"));
}

QString filePath(const QString &program)
{
    return QStringLiteral("%1/%2.log").arg(directory(), program);
}

void install(const QString &program, QtMessageHandler next)
{
    Log &log = theLog();
    {
        QMutexLocker locker(&log.mutex);
        log.program = program;
        log.path = filePath(program);
    }
    const QtMessageHandler previous = qInstallMessageHandler(handler);
    log.next = next ? next : previous;
}

void setAdapterSerial(const QString &serial)
{
    Log &log = theLog();
    QMutexLocker locker(&log.mutex);
    log.serial = serial;
}

QString messageText(const char *category, QtMsgType type, const QString &message)
{
    QString text = message;
    // One line per message: the report sorts lines by their time stamps.
    for (QChar &c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    // Nothing from the network reaches the file as something a terminal would act on.
    text = SafeText::shown(text);
    return QStringLiteral("%1 %2: %3")
        .arg(QLatin1String(category ? category : "default"), QLatin1String(levelName(type)), text);
}

QString formatLine(const QString &time, const QString &program, const QString &serial,
    const char *category, QtMsgType type, const QString &message)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(time, program, AppIdentity::applicationVersion(),
            serial.isEmpty() ? QStringLiteral("-") : serial, messageText(category, type, message));
}

QStringList lastLines(int count)
{
    QStringList lines;
    for (const char *program : Programs) {
        // Older files only as far as needed for count lines of this program.
        QStringList own;
        for (int generation = 0; generation < Kept && own.size() < count; ++generation) {
            QFile file(rotated(filePath(QLatin1String(program)), generation));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            own = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                + own;
        }
        lines += own.mid(qMax(0, int(own.size()) - count));
    }
    // The time stamp (UTC, fixed width) leads every line.
    std::stable_sort(lines.begin(), lines.end(), [](const QString &a, const QString &b) {
        return QStringView(a).left(24).compare(QStringView(b).left(24)) < 0;
    });
    return lines.mid(qMax(0, int(lines.size()) - count));
}

} // namespace LogFile
