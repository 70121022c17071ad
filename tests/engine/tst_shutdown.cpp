// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"
#include "devicenotice.h"
#include "firmwareimagemaker.h"
#include "testdata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <thread>

// An adapter that stops answering must not keep the tool alive: closing (destroying the
// device object, as the window's end does) or removing the adapter ends the blocked task
// within a read slice or two, and a whole process blocked that way still ends when it is
// closed or sent SIGTERM.

namespace {

// Generous against a loaded machine, tight against a read that waits for ever.
constexpr int PromptMs = 2000;
constexpr int ProcessEndMs = 10000;
constexpr int StallReachedMs = 10000;
const char ChildModeVariable[] = "CORVANE_SHUTDOWN_CHILD";
const char ChildImageVariable[] = "CORVANE_SHUTDOWN_IMAGE";

const QString adapterName = QStringLiteral("\\\\?\\HID#VID_0E3A&PID_B471#7&1a2b3c4d&0&0000#"
                                           "{4d1e55b2-f16f-11cf-88cb-001111000030}");

using TestData::pattern;

// Waits until the emulator has taken the stalled request, then lets the task settle into
// its read.
bool waitForStall(qint64 exchange)
{
    QElapsedTimer timer;
    timer.start();
    while (AdapterEmulator::exchangeCount() < exchange) {
        if (timer.elapsed() > StallReachedMs)
            return false;
        QThread::msleep(2);
    }
    QThread::msleep(150);
    return true;
}

// Child process: an update blocked on a stalled adapter; "close" on standard input ends
// the event loop, after which the window-like owner and the device go away.
int runChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AdapterEmulator::reset();
    int code = 0;
    {
        QObject window;
        auto *device = new DeviceFlash(nullptr, &window);
        if (!device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId))
            return 3;
        AdapterEmulator::resetCounters();
        AdapterEmulator::Faults faults;
        faults.stallAtExchange = 4;
        AdapterEmulator::setFaults(faults);
        device->updateFirmware(QString::fromLocal8Bit(qgetenv(ChildImageVariable)));
        if (!waitForStall(4))
            return 4;
        std::fputs("stalled\n", stdout);
        std::fflush(stdout);

        // Standard input is read on a thread of its own: a socket notifier does not watch a
        // Windows pipe. Its end, or "close", ends the event loop.
        std::thread([&app] {
            char line[16] = {};
            while (std::fgets(line, sizeof line, stdin) && qstrncmp(line, "close", 5) != 0) { }
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        }).detach();
        code = app.exec();
        // The window's end: its children, the device among them, are destroyed here.
    }
    std::fputs("ended\n", stdout);
    std::fflush(stdout);
    return code;
}

} // namespace

class tst_Shutdown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void blockedTaskEnds_data();
    void blockedTaskEnds();
    void processEnds_data();
    void processEnds();

private:
    QTemporaryDir m_dir;
    QString m_imagePath;
};

void tst_Shutdown::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_imagePath = m_dir.filePath(QStringLiteral("Firmware_V5.7.2.rfw"));
    QVERIFY(FirmwareImageMaker::writeToFile(
        m_imagePath, FirmwareImageMaker::make(5, 7, 2, pattern(2000, 1))));
}

void tst_Shutdown::blockedTaskEnds_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<qint64>("stallAt");
    QTest::addColumn<bool>("byRemoval");

    // Exchange numbers count from the first request of the operation.
    for (bool removal : { false, true }) {
        const QString how = removal ? QStringLiteral("removed") : QStringLiteral("destroyed");
        QTest::newRow(qPrintable(how + QStringLiteral(": update, erase answer")))
            << "update" << qint64(1) << removal;
        QTest::newRow(qPrintable(how + QStringLiteral(": update, write echo")))
            << "update" << qint64(20) << removal;
        QTest::newRow(qPrintable(how + QStringLiteral(": update, read-back")))
            << "update" << qint64(1 + 5 + 39 + 2) << removal;
        QTest::newRow(qPrintable(how + QStringLiteral(": restore, configuration read-back")))
            << "restore" << qint64(1 + 316 + 2 + 2 + 2 + 2 + 100) << removal;
        QTest::newRow(qPrintable(how + QStringLiteral(": backup read")))
            << "backup" << qint64(30) << removal;
        QTest::newRow(qPrintable(how + QStringLiteral(": boot mode, configuration read")))
            << "bootmode" << qint64(3) << removal;
        QTest::newRow(qPrintable(how + QStringLiteral(": information read at arrival")))
            << "arrival" << qint64(2) << removal;
    }
}

void tst_Shutdown::blockedTaskEnds()
{
    QFETCH(QString, operation);
    QFETCH(qint64, stallAt);
    QFETCH(bool, byRemoval);

    QList<bool> busy; // outlives the device, whose last task reports into it
    AdapterEmulator::reset();
    auto device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    QVERIFY(device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId));
    device->readDeviceConfig();
    QCOMPARE(device->version(), QStringLiteral("5.6.0"));
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = stallAt;
    AdapterEmulator::setFaults(faults);

    connect(
        device.get(), &DeviceFlash::isBusyChanged, this, [&busy](bool b) { busy.append(b); },
        Qt::DirectConnection);

    if (operation == QLatin1String("update")) {
        device->updateFirmware(m_imagePath);
    } else if (operation == QLatin1String("restore")) {
        const QString factory = m_dir.filePath(QStringLiteral("factory.bin"));
        // An image of 64 bytes: with its marker, two chunks as before.
        QVERIFY(FirmwareImageMaker::writeToFile(
            factory, FirmwareImageMaker::make(5, 7, 1, pattern(10, 2))));
        device->restoreFactorySettings(factory, QStringLiteral("5.7.1"));
    } else if (operation == QLatin1String("backup")) {
        QVERIFY(device->dataBackup());
    } else if (operation == QLatin1String("bootmode")) {
        device->setBootMode(1);
    } else {
        // Unplugged and plugged in again: an arrival for an open adapter changes nothing.
        DeviceNotice notice;
        notice.kind = DeviceNotice::InterfaceRemoval;
        notice.interfaceName = adapterName;
        device->handleNotice(notice);
        notice.kind = DeviceNotice::InterfaceArrival;
        device->handleNotice(notice);
    }
    QVERIFY2(waitForStall(stallAt), "the operation never reached the stalled exchange");
    QVERIFY2(!device->waitForIdle(0), "the operation ended although the adapter stalled");
    // A second operation queued behind the blocked one.
    device->updateFirmware(m_imagePath);
    const int erasesBefore = AdapterEmulator::eraseLog().size();

    QElapsedTimer timer;
    timer.start();
    if (byRemoval) {
        DeviceNotice removal;
        removal.kind = DeviceNotice::InterfaceRemoval;
        removal.interfaceName = adapterName;
        device->handleNotice(removal);
        QVERIFY2(device->waitForIdle(PromptMs), "the blocked task outlived the removal");
        QVERIFY(!device->isBusy());
        QCOMPARE(busy.last(), false);
    } else {
        device.reset();
    }
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < PromptMs, qPrintable(QStringLiteral("took %1 ms").arg(elapsed)));
    // Neither the blocked task nor the queued one sent anything after the stall.
    QCOMPARE(AdapterEmulator::eraseLog().size(), erasesBefore);
    QCOMPARE(AdapterEmulator::exchangeCount(), stallAt);
}

void tst_Shutdown::processEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("window closed") << "close";
    QTest::newRow("SIGTERM") << "term";
}

void tst_Shutdown::processEnds()
{
    QFETCH(QString, how);
#ifdef Q_OS_WIN
    if (how == QLatin1String("term"))
        QSKIP("SIGTERM is POSIX: Windows asks a program without a window to end by no message "
              "(QProcess::terminate() posts WM_CLOSE)");
#endif

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(ChildModeVariable), QStringLiteral("1"));
    env.insert(QLatin1String(ChildImageVariable), m_imagePath);
    env.remove(QStringLiteral("CORVANE_EMULATOR_STATE"));
    child.setProcessEnvironment(env);
    child.setStandardErrorFile(QProcess::nullDevice());
    // Text mode: the line ends as written, whatever the system's convention.
    child.start(
        QCoreApplication::applicationFilePath(), {}, QIODevice::ReadWrite | QIODevice::Text);
    QVERIFY(child.waitForStarted());

    QElapsedTimer timer;
    timer.start();
    while (!child.canReadLine() && timer.elapsed() < ProcessEndMs * 3)
        child.waitForReadyRead(100);
    QCOMPARE(child.readLine(), QByteArray("stalled\n"));
    QCOMPARE(child.state(), QProcess::Running);

    timer.restart();
    if (how == QLatin1String("close")) {
        child.write("close\n");
        QVERIFY(child.waitForFinished(ProcessEndMs));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAll(), QByteArray("ended\n"));
    } else {
        child.terminate();
        QVERIFY(child.waitForFinished(ProcessEndMs));
    }
    QVERIFY2(timer.elapsed() < ProcessEndMs,
        qPrintable(QStringLiteral("took %1 ms").arg(timer.elapsed())));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(ChildModeVariable))
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Shutdown tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_shutdown.moc"
