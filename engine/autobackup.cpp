// SPDX-License-Identifier: GPL-3.0-or-later
#include "autobackup.h"

#include "backupfile.h"
#include "commandreport.h"
#include "deviceflash.h"
#include "operationhistory.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>

namespace AutoBackup {

QString directory(const QString &dataDirectory, const QString &serial)
{
    return QDir(dataDirectory).filePath(QStringLiteral("backups/") + serial);
}

QString newFilePath(const QString &directory, const QDateTime &utc, const QString &version)
{
    const QString stem = QDir(directory).filePath(
        utc.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QLatin1Char('-') + version);
    QString path = stem + QStringLiteral(".bkp");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("-%1.bkp").arg(n);
    return path;
}

QStringList files(const QString &directory)
{
    static const QRegularExpression name(QStringLiteral("^\\d{8}-\\d{6}-.+\\.bkp$"));
    QFileInfoList entries;
    const QFileInfoList all = QDir(directory).entryInfoList(QDir::Files);
    for (const QFileInfo &entry : all) {
        if (name.match(entry.fileName()).hasMatch())
            entries.append(entry);
    }
    // By the time in the name, then by the order they were written in.
    std::sort(entries.begin(), entries.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const QString sa = a.fileName().left(15);
        const QString sb = b.fileName().left(15);
        if (sa != sb)
            return sa < sb;
        const QDateTime ma = a.lastModified();
        const QDateTime mb = b.lastModified();
        if (ma != mb)
            return ma < mb;
        return a.fileName().size() != b.fileName().size() ? a.fileName().size() < b.fileName().size()
                                                          : a.fileName() < b.fileName();
    });
    QStringList paths;
    for (const QFileInfo &entry : qAsConst(entries))
        paths.append(entry.absoluteFilePath());
    return paths;
}

void prune(const QString &directory, int keep)
{
    const QStringList all = files(directory);
    for (int i = 0; i < all.size() - keep; ++i) {
        if (!QFile::remove(all.at(i)))
            qWarning() << "autoBackup cannot remove" << all.at(i);
    }
}

} // namespace AutoBackup

namespace {

constexpr quint32 ConfigAreaAddress = 0x08004000;
// Read in slices so the window can show the backup's progress.
constexpr quint32 SliceLength = 0x2000;

} // namespace

void DeviceFlash::setDataDirectory(const QString &directory)
{
    QMutexLocker lock(&m_stateMutex);
    m_dataDirectory = directory;
}

QString DeviceFlash::dataDirectory() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_dataDirectory;
}

bool DeviceFlash::saveAutomaticBackup(QString *savedPath)
{
    const QString dataDir = dataDirectory();
    if (!m_autoBackup || dataDir.isEmpty() || !isSupportDataStore())
        return true;

    const auto fail = [this](const QString &reason) {
        qWarning().noquote() << "autoBackup failed, nothing erased:" << reason;
        emit error(DeviceError_BackupFailure);
        return false;
    };
    // Exactly what a backup reads: the whole configuration area of firmware 5.5.0 and later.
    const quint32 length = quint32(BackupFile::Layout2Length);
    QByteArray area(int(length), '\0');
    emit autoBackupProgressChanged(0, length);
    for (quint32 done = 0; done < length;) {
        const quint32 n = qMin(SliceLength, length - done);
        if (!readDeviceMemory(CommandReport::Code_Read, ConfigAreaAddress + done, n,
                              area.data() + done, false))
            return fail(QStringLiteral("read failure at %1").arg(ConfigAreaAddress + done, 0, 16));
        done += n;
        emit autoBackupProgressChanged(done, length);
    }

    const QByteArray serial = serialNumber();
    const QString folder = AutoBackup::directory(dataDir, QString::fromLatin1(serial));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create ") + folder);
    const QString path = AutoBackup::newFilePath(folder, QDateTime::currentDateTimeUtc(), version());
    QString reason;
    if (!BackupFile::write(path, area.constData(), length, serial, &reason))
        return fail(path + QStringLiteral(": ") + reason);
    AutoBackup::prune(folder);
    qInfo().noquote() << "autoBackup saved" << path;
    if (savedPath)
        *savedPath = path;
    emit autoBackupSaved(path);
    return true;
}
