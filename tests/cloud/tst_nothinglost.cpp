// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupfile.h"
#include "settingswriteguard.h"
#include "testdata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>

// A process killed at any moment while it writes the settings file or a backup file leaves
// the previous file or the complete new one, never a torn one.

namespace {

const char ChildModeVariable[] = "CORVANE_NOTHINGLOST_CHILD";
const char ChildPathVariable[] = "CORVANE_NOTHINGLOST_PATH";
constexpr int KillRounds = 12;
constexpr int ProcessMs = 30000;

const QByteArray serialNumber = QByteArrayLiteral("00112233445566778899aabb");

using TestData::filesBelow;
using TestData::pattern;

// Two configuration areas of firmware 5.6.x that differ everywhere.
QByteArray backupData(int which)
{
    QByteArray data = pattern(int(BackupFile::Layout2Length), which);
    data[1] = 5;
    data[2] = 6;
    data[3] = char(which);
    return data;
}

// Two firmware lists, large enough that writing one takes a while.
QJsonArray firmwareList(int which)
{
    QJsonArray list;
    for (int i = 0; i < 600; ++i)
        list.append(QJsonObject {
            { QStringLiteral("version"), QStringLiteral("5.%1.%2").arg(which).arg(i) },
            { QStringLiteral("download"),
                QStringLiteral("http://127.0.0.1/fw/%1/%2.rfw").arg(which).arg(i) },
            { QStringLiteral("info"), QString(200, QChar(u'a' + which)) } });
    return list;
}

// Child processes: write the same file over and over, alternating two contents, until
// killed. "ready" on standard output after the first complete write.
int runChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = qgetenv(ChildModeVariable);
    const QString path = QString::fromLocal8Bit(qgetenv(ChildPathVariable));
    bool announced = false;
    for (int round = 0;; ++round) {
        const int which = 1 + round % 2;
        if (mode == "backup") {
            const QByteArray data = backupData(which);
            if (!BackupFile::write(path, data.constData(), data.size(), serialNumber))
                return 2;
        } else if (mode == "settings") {
            // As the tool's settings store writes, here two keys at once.
            QSettings settings(path, QSettings::IniFormat);
            const SettingsWriteGuard guard(settings);
            settings.setValue(QStringLiteral("FirmwareInfo"),
                QJsonDocument(firmwareList(which)).toJson(QJsonDocument::Indented));
            settings.setValue(QStringLiteral("CurrentLanguage"), which);
            settings.sync();
            if (settings.status() != QSettings::NoError)
                return 2;
        } else {
            return 1;
        }
        if (!announced) {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
            announced = true;
        }
    }
}

} // namespace

class tst_NothingLost : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesAWholeFile_data();
    void killedWriterLeavesAWholeFile();

private:
    // Starts a writer child and SIGKILLs it after a random delay; false when it never ran.
    bool killWriterOnce(const QString &mode, const QString &path, int delayMs);
};

bool tst_NothingLost::killWriterOnce(const QString &mode, const QString &path, int delayMs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(ChildModeVariable), mode);
    env.insert(QLatin1String(ChildPathVariable), path);
    child.setProcessEnvironment(env);
    child.setStandardErrorFile(QProcess::nullDevice());
    // Text mode: the line ends as written, whatever the system's convention.
    child.start(
        QCoreApplication::applicationFilePath(), {}, QIODevice::ReadWrite | QIODevice::Text);
    if (!child.waitForStarted(ProcessMs))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (
        !child.canReadLine() && child.state() == QProcess::Running && timer.elapsed() < ProcessMs)
        child.waitForReadyRead(50);
    if (child.readLine() != "ready\n")
        return false;
    QThread::msleep(quint32(delayMs));
    child.kill();
    return child.waitForFinished(ProcessMs) && child.exitStatus() == QProcess::CrashExit;
}

void tst_NothingLost::killedWriterLeavesAWholeFile_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("backup file") << "backup";
    QTest::newRow("settings file") << "settings";
}

void tst_NothingLost::killedWriterLeavesAWholeFile()
{
    QFETCH(QString, mode);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path
        = dir.filePath(mode == QLatin1String("backup") ? QStringLiteral("adapter.bkp")
                                                       : QStringLiteral("corvaneflashtool.ini"));
    if (mode == QLatin1String("settings")) {
        // As a writer killed between creating QSettings' lock file and filling it in leaves
        // it; dated ahead, so that Qt's own 30 s stale time cannot end the wait in time.
        QFile lock(path + QLatin1String(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QVERIFY(lock.setFileTime(
            QDateTime::currentDateTime().addSecs(20), QFileDevice::FileModificationTime));
    }
    int seen[3] = { 0, 0, 0 };
    for (int round = 0; round < KillRounds; ++round) {
        const int delay = QRandomGenerator::global()->bounded(1, 40);
        QVERIFY2(killWriterOnce(mode, path, delay), "the writer did not run");

        int which = 0;
        if (mode == QLatin1String("backup")) {
            const BackupFile::ReadResult read
                = BackupFile::read(path, serialNumber, QStringLiteral("5.6.9"));
            QVERIFY2(read.status == BackupFile::ReadStatus_Ok,
                qPrintable(QStringLiteral("round %1: %2").arg(round).arg(read.errorString)));
            const QByteArray data = read.data.left(int(BackupFile::Layout2Length));
            which = data == backupData(1) ? 1 : data == backupData(2) ? 2 : 0;
        } else {
            QSettings settings(path, QSettings::IniFormat);
            QCOMPARE(settings.status(), QSettings::NoError);
            const QJsonDocument list = QJsonDocument::fromJson(
                settings.value(QStringLiteral("FirmwareInfo")).toByteArray());
            which = list.array() == firmwareList(1) ? 1 : list.array() == firmwareList(2) ? 2 : 0;
            // Both keys come from the same write.
            QCOMPARE(settings.value(QStringLiteral("CurrentLanguage")).toInt(), which);
        }
        QVERIFY2(which != 0, qPrintable(QStringLiteral("round %1: a torn file").arg(round)));
        ++seen[which];
    }
    // Temporary files of an interrupted atomic write may remain; the file itself is whole.
    const QStringList leftovers = filesBelow(dir.path());
    qInfo("%s: %d/%d rounds ended on each content, %d file(s) in the directory", qPrintable(mode),
        seen[1], seen[2], int(leftovers.size()));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(ChildModeVariable))
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    tst_NothingLost tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_nothinglost.moc"
