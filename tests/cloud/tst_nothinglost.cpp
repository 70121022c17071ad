// SPDX-License-Identifier: GPL-3.0-or-later
#include "testdata.h"
#include "firmwareimagemaker.h"
#include "backupfile.h"
#include "settingswriteguard.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>

// A process killed at any moment while it writes the settings file, a firmware cache file or
// a backup file leaves the previous file or the complete new one, never a torn one.

namespace {

const char ChildModeVariable[] = "CORVANE_NOTHINGLOST_CHILD";
const char ChildPathVariable[] = "CORVANE_NOTHINGLOST_PATH";
constexpr int KillRounds = 12;
constexpr int ProcessMs = 30000;

const QByteArray serialNumber = QByteArrayLiteral("00112233445566778899aabb");

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

// Files whose names start with prefix below dir (the target and any temporary sibling).
QStringList filesBelow(const QString &dir, const QString &prefix = QString())
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (prefix.isEmpty() || QFileInfo(file).fileName().startsWith(prefix))
            found.append(file);
    }
    return found;
}

// Serves a catalogue with one firmware version and that version's image. With stall set,
// the image's length is announced but only half of it is sent, and the connection stays open.
class ImageServer : public QObject
{
public:
    bool start() { return m_server.listen(QHostAddress::LocalHost); }
    QString base() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }

    QByteArray image;
    bool stall = true;
    bool halfSent = false;

    ImageServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        request.clear();
        const QByteArray path = line.value(1);
        if (path == "/download/corvane-x9/corvane-x9.json") {
            const QJsonObject entry { { QStringLiteral("version"), QStringLiteral("5.7.2") },
                { QStringLiteral("download"), base() + QStringLiteral("/fw/image.rfw") },
                { QStringLiteral("info"), QStringLiteral("fixes") } };
            const QJsonObject root { { QStringLiteral("download"),
                QJsonObject { { QStringLiteral("flashTool"), QJsonObject() },
                    { QStringLiteral("firmware"), QJsonArray { entry } } } } };
            reply(socket, QJsonDocument(root).toJson());
        } else if (path == "/fw/image.rfw") {
            if (!stall) {
                reply(socket, image);
                return;
            }
            reply(socket, image.left(image.size() / 2), image.size());
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
                if (socket->bytesToWrite() == 0)
                    halfSent = true;
            });
        } else {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }
    }

    static void reply(QTcpSocket *socket, const QByteArray &body, qint64 announced = -1)
    {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: "
            + QByteArray::number(announced < 0 ? body.size() : announced) + "\r\n\r\n");
        socket->write(body);
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_requests;
};

} // namespace

class tst_NothingLost : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesAWholeFile_data();
    void killedWriterLeavesAWholeFile();
    void downloadKilledHalfWay();

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
    child.start(QCoreApplication::applicationFilePath(), {});
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

void tst_NothingLost::downloadKilledHalfWay()
{
#ifndef CORVANE_CLI
    QFAIL("built without the command-line front's path");
#else
    ImageServer server;
    server.image = FirmwareImageMaker::make(5, 7, 2, pattern(300000, 5));
    QVERIFY(server.start());
    QTemporaryDir home;
    QVERIFY(home.isValid());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    const QStringList args = { QStringLiteral("download"), QStringLiteral("5.7.2"),
        QStringLiteral("--catalogue"), server.base() };

    QProcess child;
    child.setProcessEnvironment(env);
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(QStringLiteral(CORVANE_CLI), args);
    QVERIFY(child.waitForStarted(ProcessMs));
    QTRY_VERIFY_WITH_TIMEOUT(server.halfSent, ProcessMs);
    QTest::qWait(300); // the client takes in what was sent
    QCOMPARE(child.state(), QProcess::Running);
    child.kill();
    QVERIFY(child.waitForFinished(ProcessMs));

    // The catalogue had been stored; no image file, whole or torn, is in the cache.
    QVERIFY(!filesBelow(home.path(), QStringLiteral("corvaneflashtool.ini")).isEmpty());
    QCOMPARE(filesBelow(home.path(), QStringLiteral("Firmware_V")), QStringList());

    // The next download is not misled by anything the killed one left.
    server.stall = false;
    QProcess again;
    again.setProcessEnvironment(env);
    again.setStandardErrorFile(QProcess::nullDevice());
    again.start(QStringLiteral(CORVANE_CLI), args);
    QVERIFY(again.waitForStarted(ProcessMs));
    QTRY_VERIFY_WITH_TIMEOUT(again.state() == QProcess::NotRunning, ProcessMs);
    QCOMPARE(again.exitCode(), 0);
    const QStringList cached = filesBelow(home.path(), QStringLiteral("Firmware_V5.7.2.rfw"));
    QCOMPARE(cached.size(), 1);
    QCOMPARE(QString::fromLocal8Bit(again.readAllStandardOutput()).trimmed(), cached.first());
    QFile file(cached.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == server.image);
#endif
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
