// SPDX-License-Identifier: GPL-3.0-or-later
#include "autobackup.h"
#include "logcategories.h"

#include "backupfile.h"
#include "commandreport.h"
#include "deviceflash.h"
#include "flashlayout.h"
#include "operationhistory.h"
#include "privatefiles.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
        return a.fileName().size() != b.fileName().size()
            ? a.fileName().size() < b.fileName().size()
            : a.fileName() < b.fileName();
    });
    QStringList paths;
    for (const QFileInfo &entry : qAsConst(entries))
        paths.append(entry.absoluteFilePath());
    return paths;
}

void prune(const QString &directory, const QStringList &keepAlways, int keep)
{
    QStringList kept;
    for (const QString &path : keepAlways) {
        if (!path.isEmpty())
            kept.append(QFileInfo(path).absoluteFilePath());
    }
    const QStringList all = files(directory);
    int excess = all.size() - keep;
    for (const QString &path : all) {
        if (excess <= 0)
            break;
        if (kept.contains(path))
            continue;
        if (!QFile::remove(path))
            qCWarning(lcEngine) << "autoBackup cannot remove" << path;
        --excess;
    }
}

void removeStaleTemporaries(const QString &backupsRoot, const QDateTime &now)
{
    static const QRegularExpression temporary(
        QStringLiteral("^\\d{8}-\\d{6}-.+\\.bkp\\.[A-Za-z0-9]{6}$"));
    constexpr qint64 StaleMs = 3600 * 1000;
    const QFileInfoList folders
        = QDir(backupsRoot).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo &folder : folders) {
        const QFileInfoList entries
            = QDir(folder.filePath()).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
        for (const QFileInfo &entry : entries) {
            if (temporary.match(entry.fileName()).hasMatch()
                && entry.lastModified().msecsTo(now) > StaleMs && !QFile::remove(entry.filePath()))
                qCWarning(lcEngine) << "autoBackup cannot remove" << entry.filePath();
        }
    }
}

} // namespace AutoBackup

namespace {

// Read in slices so the window can show the backup's progress.
constexpr quint32 SliceLength = 0x2000;

// Whether the backup file at path holds exactly what encoding data would write.
bool holdsSameBackup(const QString &path, const QByteArray &encoded)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.size() == encoded.size()
        && file.readAll() == encoded;
}

} // namespace

bool AutoBackup::saveBeforeErase(DeviceFlash &device, QString *savedPath)
{
    const QString dataDir = device.dataDirectory();
    if (!device.isAutoBackupEnabled() || dataDir.isEmpty())
        return true;

    const auto fail = [&device](const QString &reason) {
        qCWarning(lcEngine).noquote() << "autoBackup failed, nothing erased:" << reason;
        emit device.error(DeviceError_BackupFailure);
        return false;
    };
    // Without the adapter's version nothing tells whether it keeps a configuration.
    if (!device.isInformationRead())
        return fail(QStringLiteral("the adapter's information could not be read"));
    // Only firmware below 5.5.0 keeps no configuration store. A lost firmware record says
    // nothing about the configuration, which is saved all the same.
    const QString firmware = device.version();
    if (!firmware.isEmpty() && !device.isSupportDataStore()) {
        qCInfo(lcEngine).noquote()
            << "autoBackup skipped: firmware" << firmware << "keeps no configuration store";
        return true;
    }

    const QString serial = QString::fromLatin1(device.serialNumber());
    AutoBackup::removeStaleTemporaries(
        QDir(dataDir).filePath(QStringLiteral("backups")), QDateTime::currentDateTimeUtc());
    const OperationHistory::Standing history = OperationHistory::standingIn(dataDir, serial);
    if (history.unfinished) {
        const QString kept = QFileInfo::exists(history.backupBeforeFailure)
            ? history.backupBeforeFailure
            : QString();
        qCInfo(lcEngine).noquote()
            << "autoBackup: no new backup after a failed write; kept:" << kept;
        if (savedPath)
            *savedPath = kept;
        if (!kept.isEmpty())
            emit device.autoBackupReused(kept);
        return true;
    }

    // Exactly what a backup reads: the whole configuration area of firmware 5.5.0 and later.
    const quint32 length = quint32(BackupFile::Layout2Length);
    QByteArray area(int(length), '\0');
    emit device.autoBackupProgressChanged(0, length);
    for (quint32 done = 0; done < length;) {
        const quint32 n = qMin(SliceLength, length - done);
        const quint32 address = FlashLayout::ConfigBlockAddress + done;
        if (!device.readDeviceMemory(
                CommandReport::Code_Read, address, n, area.data() + done, false))
            return fail(QStringLiteral("read failure at %1").arg(address, 0, 16));
        done += n;
        emit device.autoBackupProgressChanged(done, length);
    }

    const QString folder = AutoBackup::directory(dataDir, serial);
    if (!PrivateFiles::makeDirectory(QFileInfo(folder).absolutePath())
        || !PrivateFiles::makeDirectory(folder))
        return fail(QStringLiteral("cannot create ") + folder);
    const QStringList existing = AutoBackup::files(folder);
    QString path;
    if (!existing.isEmpty()
        && holdsSameBackup(
            existing.last(), BackupFile::encode(area.constData(), length, serial.toLatin1()))) {
        // Not written twice: the newest backup already holds these bytes.
        path = existing.last();
        qCInfo(lcEngine).noquote() << "autoBackup unchanged since" << path;
    } else {
        // Never over another file: an adapter with the same serial number saving in the same
        // second takes the next name, so each backup keeps a name of its own.
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QString version = firmware.isEmpty() ? QStringLiteral("unknown") : firmware;
        QString reason;
        bool written = false;
        for (int attempt = 0; !written && attempt < 100; ++attempt) {
            path = AutoBackup::newFilePath(folder, now, version);
            written = BackupFile::write(
                path, area.constData(), length, serial.toLatin1(), &reason, false);
            if (!written && !QFileInfo::exists(path))
                break; // not taken by another: a failure of its own
        }
        if (!written)
            return fail(path + QStringLiteral(": ") + reason);
        // Whatever the clocks of earlier runs said, the file just written stays.
        AutoBackup::prune(folder, { path, history.latestBackup });
        qCInfo(lcEngine).noquote() << "autoBackup saved" << path;
    }
    if (savedPath)
        *savedPath = path;
    emit device.autoBackupSaved(path);
    return true;
}
