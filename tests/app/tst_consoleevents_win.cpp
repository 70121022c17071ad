// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-cli (linked with the adapter emulator) as a child on this test's console, sent the
// console's control events: before the adapter's erase they cancel the update with nothing
// changed; from the erase on they are held and the write ends byte-exact.
#include "adapteremulator.h"
#include "firmwareimagemaker.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

namespace {

const QByteArray HeldNotice = "writing firmware: interrupting now would leave the adapter "
                              "without working firmware; the command ends when the write is "
                              "done\n";

// The events go to every process on the console: this one stays.
BOOL WINAPI keepRunning(DWORD)
{
    return TRUE;
}

bool runsOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace

class tst_ConsoleEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eventDuringAnUpdate_data();
    void eventDuringAnUpdate();
};

void tst_ConsoleEvents::initTestCase()
{
    if (GetConsoleCP() == 0)
        QSKIP("no console: Wine delivers console control events only to programs on a terminal "
              "(wine-run.sh runs this test under script)");
    QVERIFY(SetConsoleCtrlHandler(keepRunning, TRUE));
}

void tst_ConsoleEvents::eventDuringAnUpdate_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<bool>("duringWrite"); // else while the adapter is read, before the erase
    QTest::addColumn<int>("exitCode");
    QTest::newRow("Ctrl+C before the erase") << int(CTRL_C_EVENT) << false << 130;
    QTest::newRow("Ctrl+Break before the erase") << int(CTRL_BREAK_EVENT) << false << 149;
    QTest::newRow("Ctrl+C during the write") << int(CTRL_C_EVENT) << true << 0;
    QTest::newRow("Ctrl+Break during the write") << int(CTRL_BREAK_EVENT) << true << 0;
}

void tst_ConsoleEvents::eventDuringAnUpdate()
{
    QFETCH(int, event);
    QFETCH(bool, duringWrite);
    QFETCH(int, exitCode);
    if (event == CTRL_BREAK_EVENT && runsOnWine())
        QSKIP("Wine's console sends Ctrl+C alone to its programs, not Ctrl+Break");
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString state = home.filePath(QStringLiteral("adapter.state"));
    const QString hold = home.filePath(QStringLiteral("hold"));
    QByteArray payload(20000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7 + 8);
    const QString image = home.filePath(QStringLiteral("fw.rfw"));
    QVERIFY(FirmwareImageMaker::writeToFile(image, FirmwareImageMaker::make(5, 7, 2, payload)));
    AdapterEmulator::reset();
    AdapterEmulator::seedFirmwareVersion(5, 6, 0);
    AdapterEmulator::seedDefaultConfiguration(2);
    const QByteArray before = AdapterEmulator::memory(0x08004000, 0x10000);
    AdapterEmulator::Faults faults;
    faults.latencyUsPerReport = duringWrite ? 2000 : 0; // a write of some seconds
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(state));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CORVANE_EMULATOR_STATE"), state);
    env.insert(QStringLiteral("CORVANE_TEST_WINDOWS_HOME"), QDir::toNativeSeparators(home.path()));
    if (!duringWrite) {
        // No answer comes while the hold file exists: the command is reading the adapter.
        env.insert(QStringLiteral("CORVANE_EMULATOR_HOLD"), hold);
        QVERIFY(QFile(hold).open(QIODevice::WriteOnly));
    }
    QProcess writer;
    writer.setProcessEnvironment(env);
    // On this console, where the events go (Qt gives a child of a process without a console
    // window a hidden console of its own).
    writer.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags &= ~DWORD(CREATE_NO_WINDOW | CREATE_NEW_CONSOLE | DETACHED_PROCESS);
    });
    writer.start(QStringLiteral(CORVANE_CLI),
        { QStringLiteral("update"), QStringLiteral("--no-backup"), image });
    QVERIFY(writer.waitForStarted());
    QByteArray err;
    const auto reached = [&] {
        if (duringWrite)
            return (err += writer.readAllStandardError()).contains("written ");
        QFile traffic(state + QLatin1String(".traffic"));
        return traffic.open(QIODevice::ReadOnly)
            && traffic.readAll().contains(QByteArray::number(writer.processId()));
    };
    QTRY_VERIFY_WITH_TIMEOUT(reached(), 60000);
    for (int sent = 0; sent < (duringWrite ? 2 : 1); ++sent) // a second one is held as well
        QVERIFY2(GenerateConsoleCtrlEvent(DWORD(event), 0),
            qPrintable(qt_error_string(int(GetLastError()))));
    QVERIFY(writer.waitForFinished(60000));
    QFile::remove(hold);
    err += writer.readAllStandardError();

    QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
    QVERIFY2(writer.exitCode() == exitCode, err.constData());
    QCOMPARE(err.count(HeldNotice), duringWrite ? 1 : 0);
    QVERIFY(AdapterEmulator::loadState(state));
    if (duringWrite)
        QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload);
    else
        QVERIFY(AdapterEmulator::memory(0x08004000, 0x10000) == before);
    QProcess history;
    history.setProcessEnvironment(env);
    history.start(
        QStringLiteral(CORVANE_CLI), { QStringLiteral("--json"), QStringLiteral("history") });
    QVERIFY(history.waitForFinished(60000));
    const QJsonArray operations = QJsonDocument::fromJson(history.readAllStandardOutput()).array();
    QCOMPARE(
        operations.isEmpty() ? QString() : operations.first()[QStringLiteral("result")].toString(),
        duringWrite ? QStringLiteral("success") : QString());
}

QTEST_GUILESS_MAIN(tst_ConsoleEvents)
#include "tst_consoleevents_win.moc"
