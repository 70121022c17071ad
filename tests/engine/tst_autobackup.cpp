// SPDX-License-Identifier: GPL-3.0-or-later
#include "autobackup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class tst_AutoBackup : public QObject
{
    Q_OBJECT

private slots:
    void automaticBackupsKeepTheNewestTen();
};

// Twelve backups, the last two in the same second: the two oldest go, no file is replaced
// and files that are no automatic backup stay.
void tst_AutoBackup::automaticBackupsKeepTheNewestTen()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime start(QDate(2026, 12, 31), QTime(23, 59, 50), Qt::UTC);
    QStringList written;
    for (int i = 0; i < 12; ++i) {
        const QString path = AutoBackup::newFilePath(
            dir.path(), start.addSecs(qMin(i, 10)), QStringLiteral("5.6.%1").arg(i));
        QVERIFY(!QFileInfo::exists(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        written.append(QFileInfo(path).absoluteFilePath());
    }
    QVERIFY(written.at(10).endsWith(QLatin1String("/20270101-000000-5.6.10.bkp")));
    for (const char *other : { "notes.txt", "mine.bkp" }) {
        QFile file(dir.filePath(QLatin1String(other)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    AutoBackup::prune(dir.path());
    QCOMPARE(AutoBackup::files(dir.path()), written.mid(2));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("notes.txt"))));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("mine.bkp"))));
}

QTEST_GUILESS_MAIN(tst_AutoBackup)
#include "tst_autobackup.moc"
