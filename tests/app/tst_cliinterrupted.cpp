// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-cli as a separate process, ended by a signal or killed in the middle of its work.
#include "adapteremulator.h"
#include "firmwareimagemaker.h"
#include "testdata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

// Generous against a loaded machine, tight against a process that does not end.
constexpr int ProcessEndMs = 10000;
constexpr int ProcessMs = 30000;

using TestData::filesBelow;
using TestData::pattern;

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

class tst_CliInterrupted : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLineUpdateEnds_data();
    void commandLineUpdateEnds();
    void downloadKilledHalfWay();

private:
    QTemporaryDir m_dir;
    QString m_imagePath;
};

void tst_CliInterrupted::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_imagePath = m_dir.filePath(QStringLiteral("Firmware_V5.7.2.rfw"));
    QVERIFY(FirmwareImageMaker::writeToFile(
        m_imagePath, FirmwareImageMaker::make(5, 7, 2, pattern(2000, 1))));
}

void tst_CliInterrupted::commandLineUpdateEnds_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
#ifndef Q_OS_WIN
    QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
#endif
}

void tst_CliInterrupted::commandLineUpdateEnds()
{
    QFETCH(int, signalNumber);
#if defined(Q_OS_WIN)
    Q_UNUSED(signalNumber)
    QSKIP("POSIX signals; the console's events are tested by tst_consoleevents_win");
#elif !defined(CORVANE_CLI_USES_EMULATOR)
    Q_UNUSED(signalNumber)
    QSKIP("corvane-cli talks to real hardware in this build (CORVANE_HID_BACKEND is not emulator)");
#else
    // An adapter that stops answering at the update's 12th request (the information read
    // at start takes 8).
    const QString state = m_dir.filePath(QStringLiteral("stalled.state"));
    AdapterEmulator::reset();
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = 20;
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(state));
    AdapterEmulator::reset();

    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CORVANE_EMULATOR_STATE"), state);
    cli.setProcessEnvironment(env);
    cli.setStandardErrorFile(QProcess::nullDevice());
    cli.start(QStringLiteral(CORVANE_CLI), { QStringLiteral("update"), m_imagePath });
    QVERIFY(cli.waitForStarted(ProcessEndMs));
    // An unblocked update of this image ends in well under a second.
    QVERIFY(!cli.waitForFinished(1500));
    QCOMPARE(cli.state(), QProcess::Running);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(::kill(pid_t(cli.processId()), signalNumber), 0);
    QVERIFY2(cli.waitForFinished(ProcessEndMs), "corvane-cli outlived the signal");
    QVERIFY(timer.elapsed() < ProcessEndMs);
#endif
}

void tst_CliInterrupted::downloadKilledHalfWay()
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
    env.insert(QStringLiteral("CORVANE_TEST_WINDOWS_HOME"), QDir::toNativeSeparators(home.path()));
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

QTEST_GUILESS_MAIN(tst_CliInterrupted)
#include "tst_cliinterrupted.moc"
