// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end runs of corvane-cli (linked with the adapter emulator) as a separate process,
// with the emulated adapter kept in a state file between runs.
#include "adapteremulator.h"
#include "adapterlock.h"
#include "corvaneversion.h"
#include "filelock.h"
#include "firmwareimagemaker.h"
#include "httpserverprocess.h"
#include "orphanedblocks.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVersionNumber>
#include <QtTest>

#include <csignal>
#include <memory>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Where the programs keep their files below the test's home: the XDG folders the runs get,
// or on Windows the user's folders, which the test launcher names after the home.
#ifdef Q_OS_WIN
const QString DataFolder = QStringLiteral("Roaming/Corvane/Corvane X9 Firmware Tool/");
const QString LogFolder = QStringLiteral("Local/corvane-x9");
const QString RuntimeFolder = QStringLiteral("Local/cache/corvane-x9");
// The window program's C streams keep the runtime's line ends (corvane-cli sets its own).
const QByteArray WindowLineEnd = "\r\n";
// Files are private by the user's profile they lie in, not by modes.
const int OthersAccess = 0;
// Of the console's events: closing the window, Ctrl+C, the session's end, Ctrl+Break.
const char *const InterruptCodes = " 129 130 143 149";
#else
const QString DataFolder = QStringLiteral("data/Corvane/Corvane X9 Firmware Tool/");
const QString LogFolder = QStringLiteral("state/corvane-x9");
const QString RuntimeFolder = QStringLiteral("runtime/corvane-x9");
const QByteArray WindowLineEnd = "\n";
// Group and other access.
const int OthersAccess = 0x0077;
// SIGHUP, SIGINT, SIGQUIT, SIGTERM.
const char *const InterruptCodes = " 129 130 131 143";
#endif

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

// Every distinct match of pattern's first group in text, sorted.
QStringList matchesOf(const QString &pattern, const QString &text)
{
    QStringList found;
    QRegularExpressionMatchIterator it
        = QRegularExpression(pattern, QRegularExpression::MultilineOption).globalMatch(text);
    while (it.hasNext())
        found.append(it.next().captured(1));
    found.removeDuplicates();
    found.sort();
    return found;
}

QString manualSection(const QString &manual, const QString &heading)
{
    const int start = manual.indexOf(QStringLiteral("\n# %1\n").arg(heading));
    return start < 0 ? QString() : manual.mid(start).section(QStringLiteral("\n# "), 1, 1);
}

// The command lines that the recovery advice on standard error names, in order.
QStringList advisedCommands(const QByteArray &err)
{
    QStringList commands;
    QRegularExpressionMatchIterator it = QRegularExpression(
        QStringLiteral("^corvane-cli: .*?: (corvane-cli .+)$"), QRegularExpression::MultilineOption)
                                             .globalMatch(QString::fromUtf8(err));
    while (it.hasNext())
        commands.append(it.next().captured(1));
    return commands;
}

QByteArray payloadOf(int length, int seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void usageAndHelp();
    void versionAndManual();
    void completion_data();
    void completion();
    void infoReportsTheSeededAdapter();
    void missingAdapterExitsThree();
    void inspectTellsValidFromBroken();
    void updateWritesAndAnnouncesTheVersion();
    void updateFromTheCatalogue();
    void versionGuards_data();
    void versionGuards();
    void whereTheAdapterStands();
    void logsForABugReport();
    void verifyComparesWithTheImage();
    void hostileServer_data();
    void hostileServer();
    void backupRestoreAndBootMode();
    void firmwareRecordTable_data();
    void firmwareRecordTable();
    void backupRefusesAPlantedLink();
    void oneProgramPerAdapter_data();
    void oneProgramPerAdapter();
    void silentAdapterEndsTheCommand_data();
    void silentAdapterEndsTheCommand();
    void slowEraseIsNoSilentAdapter();
    void signalsDuringAnUpdate_data();
    void signalsDuringAnUpdate();
    void adviceThatWorks_data();
    void adviceThatWorks();
    void backupsThatMatter_data();
    void backupsThatMatter();
    void listTheAdapters_data();
    void listTheAdapters();
    void chooseAnAdapter_data();
    void chooseAnAdapter();
    void updateEveryAdapter();
    void twoAdaptersWithOneSerial();
    void historyThatCannotBeWritten_data();
    void historyThatCannotBeWritten();

private:
    // Sets the emulated adapter's faults for the next runs (none: no faults).
    void setFaults(const AdapterEmulator::Faults &faults = {})
    {
        QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
        AdapterEmulator::setFaults(faults);
        QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    }
    QJsonArray history()
    {
        return QJsonDocument::fromJson(
            cli({ QStringLiteral("--json"), QStringLiteral("history") }).out)
            .array();
    }
    QProcessEnvironment environment() const;
    Run cli(const QStringList &args);
    Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env);
    QStringList completions(const QStringList &words);
    void seedAdapter(quint8 major, quint8 minor, quint8 patch);
    // count adapters in the state directory "adapters" (as corvane-emulator init --count
    // makes them), which the next runs use; their serial numbers are serials[i].
    void seedAdapters(int count);
    QString adapterState(int i) const
    {
        return m_dir->filePath(QStringLiteral("adapters/adapter-%1.state").arg(i + 1));
    }
    QString serial(int i) const
    {
        return QString::number(i, 16).rightJustified(2, QLatin1Char('0'))
            + QStringLiteral("112233445566778899aabb");
    }
    QString writeImage(const QString &name, const QByteArray &content);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_state; // CORVANE_EMULATOR_STATE of the runs
};

void tst_Cli::init()
{
#ifndef Q_OS_WIN
    ::umask(022);
#endif
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_state = m_dir->filePath(QStringLiteral("adapter.state"));
    seedAdapter(5, 6, 0);
}

void tst_Cli::cleanup()
{
    m_dir.reset();
}

void tst_Cli::seedAdapter(quint8 major, quint8 minor, quint8 patch)
{
    AdapterEmulator::reset();
    AdapterEmulator::seedFirmwareVersion(major, minor, patch);
    AdapterEmulator::seedDefaultConfiguration(2);
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
}

void tst_Cli::seedAdapters(int count)
{
    m_state = m_dir->filePath(QStringLiteral("adapters"));
    QVERIFY(QDir().mkpath(m_state));
    for (int i = 0; i < count; ++i) {
        AdapterEmulator::reset();
        AdapterEmulator::setUniqueId(QByteArray::fromHex(serial(i).toLatin1()));
        AdapterEmulator::seedDefaultConfiguration(2);
        QVERIFY(AdapterEmulator::saveState(adapterState(i)));
    }
}

// Every program of a test shares the adapter's state file, data and runtime directories.
QProcessEnvironment tst_Cli::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CORVANE_EMULATOR_STATE"), m_state);
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir->filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir->filePath(QStringLiteral("state")));
    // A runtime directory as the session manager makes it: the user's own, mode 0700.
    const QString runtime = m_dir->filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(
        runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // Windows' user folders under Wine (the test launcher names them after this variable).
    env.insert(
        QStringLiteral("CORVANE_TEST_WINDOWS_HOME"), QDir::toNativeSeparators(m_dir->path()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

Run tst_Cli::cli(const QStringList &args)
{
    return run(QStringLiteral(CORVANE_CLI), args, environment());
}

Run tst_Cli::run(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString tst_Cli::writeImage(const QString &name, const QByteArray &content)
{
    const QString path = m_dir->filePath(name);
    return FirmwareImageMaker::writeToFile(path, content) ? path : QString();
}

void tst_Cli::usageAndHelp()
{
    QCOMPARE(cli({}).exitCode, 2);
    QCOMPARE(cli({ QStringLiteral("frobnicate") }).exitCode, 2);
    const Run help = cli({ QStringLiteral("--help") });
    QCOMPARE(help.exitCode, 0);
    for (const char *command : { "info", "inspect", "update", "restore-defaults", "backup",
             "restore", "boot-mode", "catalogue", "download", "watch", "history", "verify" })
        QVERIFY2(help.out.contains(command), command);
    const Run updateHelp = cli({ QStringLiteral("update"), QStringLiteral("--help") });
    QCOMPARE(updateHelp.exitCode, 0);
    QVERIFY(updateHelp.out.contains("--version"));
    QCOMPARE(cli({ QStringLiteral("update") }).exitCode, 2);
    // An unknown option is named as such, and a script that asked for JSON gets it.
    const Run bogus
        = cli({ QStringLiteral("--json"), QStringLiteral("--bogus"), QStringLiteral("info") });
    QCOMPARE(bogus.err, QByteArray("corvane-cli: unknown option --bogus (see --help)\n"));
    QCOMPARE(bogus.json().value(QStringLiteral("exitCode")).toInt(), 2);
    QCOMPARE(cli({ QStringLiteral("update"), QStringLiteral("a.rfw"), QStringLiteral("--version"),
                     QStringLiteral("5.6.3") })
                 .exitCode,
        2);
}

// What bash completion offers for the words (the last one is being typed), with the
// settings of cli().
QStringList tst_Cli::completions(const QStringList &words)
{
    const QString script = QStringLiteral(
        "source /usr/share/bash-completion/bash_completion && source \"$1\" && shift\n"
        "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMP_LINE=${1-}; shift\n"
        // bash breaks "--a=b" and "host:port" into words of their own, with no blank between.
        "for w; do [[ $w == [=:]* || $COMP_LINE == *[=:] ]] || COMP_LINE+=' '; COMP_LINE+=$w; "
        "done\n"
        "COMP_POINT=${#COMP_LINE}\n"
        "_corvane_cli; printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    const QString completion = qEnvironmentVariable("CORVANE_TEST_SOURCE_DIR")
        + QStringLiteral("/resources/linux/corvane-cli.bash-completion");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath(QStringLiteral("data")));
    const Run r = run(QStringLiteral("bash"),
        QStringList { QStringLiteral("-c"), script, QStringLiteral("bash"), completion,
            QStringLiteral(CORVANE_CLI) }
            + words,
        env);
    return r.exitCode == 0
        ? QString::fromUtf8(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
        : QStringList { QStringLiteral("bash failed: ") + QString::fromUtf8(r.err) };
}

void tst_Cli::versionAndManual()
{
    QCOMPARE(
        cli({ QStringLiteral("--version") }).out, QByteArray("corvane-cli " CORVANE_VERSION "\n"));
    QCOMPARE(cli({ QStringLiteral("-V") }).out, QByteArray("corvane-cli " CORVANE_VERSION "\n"));
    // After the command name, --version is the command's own and needs its value.
    QCOMPARE(cli({ QStringLiteral("update"), QStringLiteral("--version") }).exitCode, 2);
    // The window program answers before it needs a display.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        noDisplay.remove(QLatin1String(name));
    const Run window
        = run(QStringLiteral(CORVANE_FIRMWARE_TOOL), { QStringLiteral("--version") }, noDisplay);
    QCOMPARE(window.exitCode, 0);
    QCOMPARE(window.out, "corvane-firmware-tool " CORVANE_VERSION + WindowLineEnd);

    // The manual names exactly the commands, options and exit codes that --help names.
    QFile source(qEnvironmentVariable("CORVANE_TEST_SOURCE_DIR")
        + QStringLiteral("/docs/man/corvane-cli.1.scd"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QString manual = QString::fromUtf8(source.readAll());
    const QString help = QString::fromUtf8(cli({ QStringLiteral("--help") }).out);
    const QStringList commands = matchesOf(QStringLiteral("^  ([a-z-]+)  "),
        help.section(QStringLiteral("Commands:\n"), 1).section(QStringLiteral("\n\n"), 0, 0));
    QVERIFY(commands.size() >= 10);
    QCOMPARE(matchesOf(QStringLiteral("^\\*([a-z-]+)"),
                 manualSection(manual, QStringLiteral("COMMANDS"))),
        commands);
    // Every help fits 80 columns, and completion offers each option it names.
    const QString option = QStringLiteral("(?<![\\w-])(--[a-z][a-z-]*)");
    QString allHelp = help;
    for (const QString &command : QStringList { QString() } + commands) {
        const QString text = command.isEmpty()
            ? help
            : QString::fromUtf8(cli({ command, QStringLiteral("--help") }).out);
        allHelp += command.isEmpty() ? QString() : text;
#ifndef Q_OS_WIN // bash completion comes with the Linux package
        QStringList unoffered = matchesOf(option, text);
        for (const QString &offered : completions(
                 QStringList { command, QStringLiteral("--") }.mid(command.isEmpty() ? 1 : 0)))
            unoffered.removeAll(offered);
        QVERIFY2(unoffered.isEmpty(),
            qPrintable(command + QStringLiteral(": ") + unoffered.join(QLatin1Char(' '))));
#endif
        for (const QString &line : text.split(QLatin1Char('\n')))
            QVERIFY2(line.size() <= 80, qPrintable(line));
    }
    QCOMPARE(matchesOf(option, manual), matchesOf(option, allHelp));
#ifndef Q_OS_WIN // the manual page's exit codes are Linux's signals
    QCOMPARE(matchesOf(QStringLiteral("^\\*(\\d+)\\*$"),
                 manualSection(manual, QStringLiteral("EXIT STATUS"))),
        matchesOf(QStringLiteral("^  (\\d+) "), help.section(QStringLiteral("Exit codes:"), 1)));
#endif
}

void tst_Cli::completion_data()
{
    QTest::addColumn<QStringList>("words"); // as bash splits the line; the last one is typed
    QTest::addColumn<QString>("offered");
    QTest::newRow("a value given with =") << QStringList { QStringLiteral("--network-timeout"),
        QStringLiteral("="), QStringLiteral("5"), QStringLiteral("up") }
                                          << QStringLiteral("update");
    QTest::newRow("an address with a port") << QStringList { QStringLiteral("--catalogue"),
        QStringLiteral("http"), QStringLiteral(":"), QStringLiteral("//127.0.0.1"),
        QStringLiteral(":"), QStringLiteral("8080"), QStringLiteral("up") }
                                            << QStringLiteral("update");
}

// The options before the command, their values included, are no command name.
void tst_Cli::completion()
{
#ifdef Q_OS_WIN
    QSKIP("bash completion comes with the Linux package");
#endif
    QFETCH(QStringList, words);
    QFETCH(QString, offered);
    QCOMPARE(completions(words), QStringList { offered });
}

void tst_Cli::infoReportsTheSeededAdapter()
{
    AdapterEmulator::reset();
    AdapterEmulator::setUniqueId(QByteArray::fromHex("0a1b2c3d4e5f60718293a4b5"));
    AdapterEmulator::seedFirmwareVersion(5, 5, 24);
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));

    const Run text = cli({ QStringLiteral("info") });
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.out, QByteArray("serial: 0a1b2c3d4e5f60718293a4b5\nversion: 5.5.24\n"));
    // The library's log lines stay off standard error unless asked for.
    QVERIFY2(text.err.isEmpty(), text.err.constData());

    const QJsonObject json = cli({ QStringLiteral("--json"), QStringLiteral("info") }).json();
    QCOMPARE(json.value(QStringLiteral("serial")).toString(),
        QStringLiteral("0a1b2c3d4e5f60718293a4b5"));
    QCOMPARE(json.value(QStringLiteral("version")).toString(), QStringLiteral("5.5.24"));
    QCOMPARE(json.value(QStringLiteral("supportsBootMode")).toBool(), true);
    QCOMPARE(json.value(QStringLiteral("supportsDataStore")).toBool(), true);
}

void tst_Cli::missingAdapterExitsThree()
{
    AdapterEmulator::reset();
    AdapterEmulator::setAttached(false);
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));

    const Run run = cli({ QStringLiteral("info") });
    QCOMPARE(run.exitCode, 3);
    QVERIFY(run.out.isEmpty());
    // What happened, and one line of what to do, whose command names the adapter's node.
    QCOMPARE(run.err.count('\n'), 2);
    QVERIFY2(
        run.err.contains("plug the adapter in") && run.err.contains("corvane-cli info --verbose"),
        run.err.constData());
    const QByteArray verbose = cli({ QStringLiteral("info"), QStringLiteral("--verbose") }).err;
    QVERIFY2(verbose.contains(" 0e3a:b471") || verbose.contains("adapter node /dev/hidraw"),
        verbose.constData());
    QCOMPARE(cli({ QStringLiteral("--json"), QStringLiteral("info") }).json(),
        (QJsonObject { { QStringLiteral("error"), QStringLiteral("no Corvane X9 adapter found") },
            { QStringLiteral("exitCode"), 3 } }));

    // Each command that opens the adapter lists 3 and 4 in its help, and those that write
    // the signals' codes.
    const QString image = writeImage(
        QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 1, payloadOf(100, 1)));
    const QList<QPair<QStringList, bool>> adapterCommands { { { QStringLiteral("info") }, false },
        { { QStringLiteral("backup"), m_dir->filePath(QStringLiteral("out.bkp")) }, false },
        { { QStringLiteral("verify"), image }, false }, { { QStringLiteral("boot-mode") }, true },
        { { QStringLiteral("restore"), m_dir->filePath(QStringLiteral("in.bkp")) }, true },
        { { QStringLiteral("restore-defaults"), image, QStringLiteral("5.7.1") }, true },
        { { QStringLiteral("update"), image }, true } };
    for (const auto &command : adapterCommands) {
        QCOMPARE(cli(command.first).exitCode, 3);
        const QString help
            = QString::fromUtf8(cli({ command.first.first(), QStringLiteral("--help") }).out);
        QStringList codes = QStringLiteral("0 1 2 3 4%1")
                                .arg(QLatin1String(command.second ? InterruptCodes : ""))
                                .split(QLatin1Char(' '));
        codes.sort();
        QCOMPARE(
            matchesOf(QStringLiteral("^  (\\d+) "), help.section(QStringLiteral("Exit codes:"), 1)),
            codes);
    }
}

void tst_Cli::inspectTellsValidFromBroken()
{
    const QByteArray payload = payloadOf(1000, 3);
    const QString good
        = writeImage(QStringLiteral("good.rfw"), FirmwareImageMaker::make(5, 7, 1, payload));
    const QJsonObject valid
        = cli({ QStringLiteral("--json"), QStringLiteral("inspect"), good }).json();
    QCOMPARE(valid.value(QStringLiteral("valid")).toBool(), true);
    QCOMPARE(valid.value(QStringLiteral("version")).toString(), QStringLiteral("5.7.1"));
    QCOMPARE(valid.value(QStringLiteral("payloadSize")).toInt(), 1000);
    QCOMPARE(valid.value(QStringLiteral("payloadMd5")).toString(),
        QString::fromLatin1(QCryptographicHash::hash(payload, QCryptographicHash::Md5).toHex()));

    FirmwareImageMaker::Options otherTag;
    otherTag.tag = QByteArrayLiteral("Corvane_X8");
    const QString foreign = writeImage(
        QStringLiteral("foreign.bin"), FirmwareImageMaker::make(5, 7, 1, payload, otherTag));
    const Run wrongType = cli({ QStringLiteral("--json"), QStringLiteral("inspect"), foreign });
    QCOMPARE(wrongType.exitCode, 1);
    QCOMPARE(wrongType.json().value(QStringLiteral("error")).toString(),
        foreign + QStringLiteral(" is not a Corvane X9 firmware image (wrong type)"));

    const QString empty = writeImage(QStringLiteral("empty.rfw"), QByteArray());
    const Run nothing = cli({ QStringLiteral("--json"), QStringLiteral("inspect"), empty });
    QCOMPARE(nothing.exitCode, 1);
    QCOMPARE(nothing.json().value(QStringLiteral("error")).toString(),
        empty + QStringLiteral(" is empty"));
    // A script reads why, and the code it also gets as the exit status.
    const QString missing = m_dir->filePath(QStringLiteral("missing.rfw"));
    const Run unread = cli({ QStringLiteral("--json"), QStringLiteral("inspect"), missing });
#ifdef Q_OS_WIN
    // The system's own words, which differ between Windows and Wine.
    QFile absent(missing);
    QVERIFY(!absent.open(QIODevice::ReadOnly));
    const QString reason = absent.errorString();
#else
    const QString reason = QStringLiteral("No such file or directory");
#endif
    QCOMPARE(unread.json(),
        (QJsonObject { { QStringLiteral("valid"), false }, { QStringLiteral("exitCode"), 1 },
            { QStringLiteral("error"),
                QStringLiteral("cannot read %1: %2").arg(missing, reason) } }));

    // One byte more than the flash an update erases: inspect and update refuse it alike.
    const QString oversize = writeImage(
        QStringLiteral("oversize.rfw"), FirmwareImageMaker::make(5, 7, 1, payloadOf(983041, 5)));
    const Run tooLarge = cli({ QStringLiteral("--json"), QStringLiteral("inspect"), oversize });
    QCOMPARE(tooLarge.exitCode, 1);
    QCOMPARE(tooLarge.json().value(QStringLiteral("valid")).toBool(true), false);
    QVERIFY(tooLarge.json()
                .value(QStringLiteral("error"))
                .toString()
                .endsWith(QLatin1String("more than the adapter takes (at most 983040 bytes)")));
    const Run refused = cli({ QStringLiteral("update"), oversize });
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("at most 983040 bytes"), refused.err.constData());
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QCOMPARE(AdapterEmulator::memory(0x08004005, 3), QByteArray("\x05\x06\x00", 3));
    QCOMPARE(AdapterEmulator::memory(0x08010000, 66).at(0), '\x42');

    // A factory restore takes only an image of the version given, before the adapter is opened.
    QCOMPARE(cli({ QStringLiteral("restore-defaults"), good, QStringLiteral("261.7.1") }).err,
        "corvane-cli: " + good.toUtf8()
            + " holds firmware 5.7.1, not 261.7.1; nothing was changed\n");

#ifndef Q_OS_WIN
    // A file that never ends is not read whole.
    const Run endless
        = cli({ QStringLiteral("--json"), QStringLiteral("inspect"), QStringLiteral("/dev/zero") });
    QCOMPARE(endless.exitCode, 1);
    QCOMPARE(endless.json().value(QStringLiteral("error")).toString(),
        QStringLiteral("/dev/zero is too large to be a firmware file (more than 8388608 bytes)"));
#endif
}

void tst_Cli::updateWritesAndAnnouncesTheVersion()
{
    const QByteArray payload = payloadOf(70000, 9);
    const QString image
        = writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payload));
    const Run run = cli({ QStringLiteral("--json"), QStringLiteral("update"), image });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.json().value(QStringLiteral("version")).toString(), QStringLiteral("5.7.2"));
    QCOMPARE(run.json().value(QStringLiteral("bytesWritten")).toInt(), 256 + 70000);
    // The configuration was saved first, as a backup that restore accepts.
    const QString backup = run.json().value(QStringLiteral("backup")).toString();
    QVERIFY2(backup.startsWith(
                 m_dir->filePath(DataFolder + QStringLiteral("backups/00112233445566778899aabb/"))),
        qPrintable(backup));
    QCOMPARE(QFileInfo(backup).size(), qint64(245776));

    // The next run sees the adapter the update left behind.
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QVERIFY(AdapterEmulator::memory(0x08010000, 70000) == payload);
    QCOMPARE(cli({ QStringLiteral("info") }).out,
        QByteArray("serial: 00112233445566778899aabb\nversion: 5.7.2\n"));

    // A refused file leaves the adapter as it was and fails with exit code 1.
    const QString broken = writeImage(QStringLiteral("broken.rfw"), QByteArray("not an image"));
    QCOMPARE(cli({ QStringLiteral("update"), broken }).exitCode, 1);
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QVERIFY(AdapterEmulator::memory(0x08010000, 70000) == payload);

    // A write that stops in the record says how to get back, and that advice works.
    AdapterEmulator::Faults faults;
    faults.corruptEchoAtWrite = 2;
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    const Run failed = cli({ QStringLiteral("update"), QStringLiteral("--force"), image });
    QCOMPARE(failed.exitCode, 1);
    const QString advice = QString::fromUtf8(failed.err);
    // The configuration saved before this write is what the first update left, which restore
    // takes, leaving out the flash the firmware fills: it is advised.
    QVERIFY2(advice.contains(
                 QStringLiteral("run the same command again: corvane-cli update --force ") + image)
            && advice.contains(QStringLiteral("(\"Firmware lost\"): an update is the way back"))
            && advice.contains(QStringLiteral("corvane-cli restore ")),
        failed.err.constData());
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    AdapterEmulator::setFaults(AdapterEmulator::Faults());
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    const Run again = cli({ QStringLiteral("--json"), QStringLiteral("update"),
        QStringLiteral("--no-backup"), image });
    QCOMPARE(again.exitCode, 0);
    QVERIFY(again.json().value(QStringLiteral("backup")).isNull());

    // Newest first, one line per operation that reached the adapter.
    const QJsonArray history
        = QJsonDocument::fromJson(cli({ QStringLiteral("history"), QStringLiteral("--json") }).out)
              .array();
    QStringList results;
    for (const QJsonValue &entry : history)
        results.append(entry.toObject().value(QStringLiteral("result")).toString());
    QCOMPARE(results,
        (QStringList {
            QStringLiteral("success"), QStringLiteral("failed"), QStringLiteral("success") }));
    QCOMPARE(history.last().toObject().value(QStringLiteral("backup")).toString(), backup);
    QVERIFY(QJsonDocument::fromJson(
        cli({ QStringLiteral("history"), QStringLiteral("--json"), QStringLiteral("--serial"),
                QStringLiteral("ffeeddccbbaa998877665544") })
            .out)
                .array()
                .isEmpty());
    const QList<QByteArray> table = cli({ QStringLiteral("history") }).out.split('\n');
    QVERIFY(table.first().startsWith("TIME") && table.at(2).contains("failed"));

    // --quiet prints the result alone, with the backup's path that a note would have given.
    const Run quiet
        = cli({ QStringLiteral("-q"), QStringLiteral("update"), QStringLiteral("--force"), image });
    QVERIFY2(quiet.out.startsWith("version: 5.7.2\nbytesWritten: 70256\nbackup: ")
            && quiet.out.count('\n') == 3,
        quiet.out.constData());
    QVERIFY2(quiet.err.isEmpty(), quiet.err.constData());
}

void tst_Cli::updateFromTheCatalogue()
{
    const QByteArray payload = payloadOf(5000, 1);
    HttpServerProcess server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QVERIFY(
        server.putFile(QStringLiteral("fw-5.8.0.rfw"), FirmwareImageMaker::make(5, 8, 0, payload)));
    const QString catalogue = QStringLiteral(R"({"download": {"flashTool": {"version": "1.9.0"},
        "firmware": [{"version": "5.8.0", "download": "%1", "info": "a;b"}]}})")
                                  .arg(server.url(QStringLiteral("fw-5.8.0.rfw")).toString());
    QVERIFY(
        server.putFile(QStringLiteral("download/corvane-x9/corvane-x9.json"), catalogue.toUtf8()));
    const QString host = server.baseUrl().toString();

    const Run list = cli({ QStringLiteral("catalogue"), QStringLiteral("--catalogue"), host });
    QCOMPARE(list.exitCode, 0);
    QVERIFY(list.out.contains("5.8.0"));

    // A captive portal's page in place of the image is neither cached nor remembered: once
    // the server is honest again, the update takes the image.
    const QByteArray image = FirmwareImageMaker::make(5, 8, 0, payload);
    QVERIFY(server.putFile(QStringLiteral("fw-5.8.0.rfw"), "<html>Log in first</html>"));
    const Run portal = cli({ QStringLiteral("download"), QStringLiteral("5.8.0"),
        QStringLiteral("--catalogue"), host });
    QCOMPARE(portal.exitCode, 1);
    QVERIFY2(portal.err.contains("is not a Corvane X9 firmware image"), portal.err.constData());
    QVERIFY(server.putFile(QStringLiteral("fw-5.8.0.rfw"), image));

    const Run run = cli({ QStringLiteral("update"), QStringLiteral("--version"),
        QStringLiteral("5.8.0"), QStringLiteral("--catalogue"), host });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains("version: 5.8.0"));
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QVERIFY(AdapterEmulator::memory(0x08010000, 5000) == payload);

    // Settings, cached image, automatic backup and history are the user's alone.
    QStringList entries;
    for (QDirIterator it(m_dir->filePath(DataFolder.section(QLatin1Char('/'), 0, 0)),
             QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
        entries << it.next()
                + QLatin1String(
                    int(it.fileInfo().permissions() & OthersAccess) ? " is not private" : "");
    QVERIFY2(entries.size() >= 7 && entries.filter(QStringLiteral(" is not private")).isEmpty(),
        qPrintable(entries.join(QLatin1Char('\n'))));

    const Run unknown = cli({ QStringLiteral("download"), QStringLiteral("9.9.9"),
        QStringLiteral("--catalogue"), host });
    QCOMPARE(unknown.exitCode, 1);

    // Other bytes for 5.8.0, under any spelling of it, are refused until a refresh takes them;
    // an image holding another version than its entry's is never cached, and refused before
    // the adapter is touched.
    const QStringList download { QStringLiteral("download"), QStringLiteral("V5.08.0 "),
        QStringLiteral("--catalogue"), host };
    QVERIFY(QFile::remove(m_dir->filePath(DataFolder + QStringLiteral("Firmware_V5.8.0.rfw"))));
    QVERIFY(server.putFile(
        QStringLiteral("fw-5.8.0.rfw"), FirmwareImageMaker::make(5, 8, 0, payloadOf(5000, 2))));
    const Run changed = cli(download);
    QCOMPARE(changed.exitCode, 1);
    QVERIFY2(changed.err.contains("the image for 5.8.0 differs from the one downloaded on "),
        changed.err.constData());
    QVERIFY(
        server.putFile(QStringLiteral("fw-5.8.0.rfw"), FirmwareImageMaker::make(5, 7, 9, payload)));
    const Run mislabelled = cli(download + QStringList { QStringLiteral("--refresh") });
    QCOMPARE(mislabelled.exitCode, 1);
    QVERIFY2(mislabelled.err.contains("the image for 5.8.0 holds firmware 5.7.9"),
        mislabelled.err.constData());
    QCOMPARE(cli({ QStringLiteral("update"), QStringLiteral("--version"), QStringLiteral("5.8.0") })
                 .exitCode,
        1);
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QCOMPARE(AdapterEmulator::memory(0x08004005, 3), QByteArray("\x05\x08\x00", 3));
    QVERIFY(server.putFile(
        QStringLiteral("fw-5.8.0.rfw"), FirmwareImageMaker::make(5, 8, 0, payloadOf(5000, 2))));
    QCOMPARE(cli(download + QStringList { QStringLiteral("--refresh") }).exitCode, 0);

    // The cached list, as completion offers it, never asks the server for the newer one.
    QVERIFY(server.putFile(QStringLiteral("download/corvane-x9/corvane-x9.json"),
        QString(catalogue).replace(QLatin1String("5.8.0"), QLatin1String("5.9.0")).toUtf8()));
    QCOMPARE(cli({ QStringLiteral("catalogue"), QStringLiteral("--cached"),
                     QStringLiteral("--catalogue"), host })
                 .out,
        QByteArray("Firmware 5.8.0 (newest)\n    a\n    b\n"));
#ifndef Q_OS_WIN // bash completion comes with the Linux package
    QCOMPARE(completions({ QStringLiteral("download"), QString() }),
        QStringList { QStringLiteral("5.8.0") });
    QCOMPARE(
        completions({ QStringLiteral("update"), QStringLiteral("--version"), QStringLiteral("5") }),
        QStringList { QStringLiteral("5.8.0") });
#endif
}

// verify reads back what an update of the image writes and names the first byte that differs.
void tst_Cli::versionGuards_data()
{
    QTest::addColumn<QString>("image"); // the adapter runs 5.6.0
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("named"); // the option the refusal names
    const QString older = QStringLiteral("5.5.24");
    const QString same = QStringLiteral("5.6.0");
    const QString allowOlder = QStringLiteral("--allow-older");
    const QString force = QStringLiteral("--force");
    QTest::newRow("older") << older << QStringList() << 2 << allowOlder;
    QTest::newRow("older, allowed") << older << QStringList { allowOlder } << 0 << QString();
    QTest::newRow("the same") << same << QStringList() << 2 << force;
    QTest::newRow("the same, forced") << same << QStringList { force } << 0 << QString();
    QTest::newRow("progress as JSON lines")
        << same
        << QStringList { force, QStringLiteral("--json"), QStringLiteral("--progress"),
               QStringLiteral("json") }
        << 0 << QString();
}

// An older or the same version needs its option, and nothing is written without it; the
// progress goes to standard error, the result alone to standard output.
void tst_Cli::versionGuards()
{
    QFETCH(QString, image);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, named);
    const QStringList parts = image.split(QLatin1Char('.'));
    const QByteArray payload = payloadOf(6000, 8);
    const QString file = writeImage(QStringLiteral("fw.rfw"),
        FirmwareImageMaker::make(quint8(parts.at(0).toUInt()), quint8(parts.at(1).toUInt()),
            quint8(parts.at(2).toUInt()), payload));
    const Run r = cli(QStringList { QStringLiteral("update") } + options + QStringList { file });
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QCOMPARE(
        AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload, exitCode == 0);
    if (!named.isEmpty()) {
        QVERIFY2(r.err.contains(named.toUtf8()) && r.out.isEmpty(), r.err.constData());
        return;
    }
    if (!options.contains(QStringLiteral("--json"))) {
        QCOMPARE(r.out, "version: " + image.toUtf8() + "\nbytesWritten: 6256\n");
        QVERIFY2(r.err.contains("written 6256 of 6256 bytes (100%)\n"), r.err.constData());
        return;
    }
    QCOMPARE(r.json().value(QStringLiteral("version")).toString(), image);
    QStringList phases;
    int percent = -1;
    for (const QByteArray &line : r.err.split('\n')) {
        const QJsonObject progress = QJsonDocument::fromJson(line).object();
        QVERIFY2(line.isEmpty() || progress.contains(QStringLiteral("progress")), line.constData());
        const QString phase = progress.value(QStringLiteral("progress")).toString();
        if (!phase.isEmpty() && !phases.contains(phase))
            phases << phase;
        if (phase == QLatin1String("writing"))
            percent = progress.value(QStringLiteral("percent")).toInt();
    }
    QCOMPARE(phases,
        (QStringList { QStringLiteral("saving configuration"), QStringLiteral("erasing"),
            QStringLiteral("writing") }));
    QCOMPARE(percent, 100);
}

// The catalogue marks the newest version and the adapter's, and info says whether an update
// is published; without an answer it says nothing of it.
void tst_Cli::whereTheAdapterStands()
{
    HttpServerProcess server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QVERIFY(server.putFile(QStringLiteral("download/corvane-x9/corvane-x9.json"),
        QByteArray(R"({"download": {"firmware": [{"version": "5.5.24"}, {"version": "5.8.0"},
            {"version": "5.6.0"}]}})")));
    const QStringList catalogue { QStringLiteral("--catalogue"), server.baseUrl().toString() };

    const Run list = cli(QStringList { QStringLiteral("catalogue") } + catalogue);
    QCOMPARE(list.out,
        QByteArray("Firmware 5.5.24\nFirmware 5.8.0 (newest)\nFirmware 5.6.0 (installed)\n"));
    const QJsonArray firmware
        = cli(QStringList { QStringLiteral("--json"), QStringLiteral("catalogue") } + catalogue)
              .json()
              .value(QStringLiteral("firmware"))
              .toArray();
    QCOMPARE(firmware.size(), 3);
    QVERIFY(firmware.at(1)[QStringLiteral("newest")].toBool()
        && firmware.at(2)[QStringLiteral("installed")].toBool()
        && !firmware.at(0)[QStringLiteral("newest")].toBool());

    const QByteArray adapter("serial: 00112233445566778899aabb\nversion: ");
    QCOMPARE(cli(QStringList { QStringLiteral("info") } + catalogue).out,
        adapter + "5.6.0\nupdate: update available: 5.8.0\n");
    const QStringList unreachable { QStringLiteral("--catalogue"),
        QStringLiteral("http://127.0.0.1:%1").arg(HttpServerProcess::closedPort()) };
    QCOMPARE(cli(QStringList { QStringLiteral("info") } + unreachable).out, adapter + "5.6.0\n");
    seedAdapter(5, 8, 0);
    QCOMPARE(cli(QStringList { QStringLiteral("info") } + catalogue).out,
        adapter + "5.8.0\nupdate: up to date\n");
}

// Each program keeps a log in the state directory, rotated at 1 MiB with three files kept;
// -v shows its lines with their times, -vv its debug lines too; report gathers what a bug
// report needs with the serial numbers shortened.
void tst_Cli::logsForABugReport()
{
    const QString directory = m_dir->filePath(LogFolder);
    const QString log = directory + QStringLiteral("/corvane-cli.log");
    QVERIFY(QDir().mkpath(directory));
    // One line short of the limit, and the two older files already there.
    QFile full(log);
    QVERIFY(full.open(QIODevice::WriteOnly));
    const QByteArray line = "2000-01-01T00:00:00.000Z corvane-cli 0 - corvane.cli info: old\n";
    for (qint64 size = 0; size + line.size() <= 1024 * 1024 - 10; size += line.size())
        full.write(line);
    full.close();
    for (const QString &older : { log + QStringLiteral(".1"), log + QStringLiteral(".2") }) {
        QFile file(older);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(older.toUtf8()) > 0);
    }

    const Run quiet = cli({ QStringLiteral("info") });
    QVERIFY2(quiet.err.isEmpty(), quiet.err.constData());
    QFile rotated(log + QStringLiteral(".1"));
    QVERIFY(rotated.open(QIODevice::ReadOnly));
    QVERIFY(rotated.readAll().endsWith(line));
    QFile oldest(log + QStringLiteral(".2"));
    QVERIFY(oldest.open(QIODevice::ReadOnly));
    QCOMPARE(oldest.readAll(), (log + QStringLiteral(".1")).toUtf8());
    QVERIFY(!QFileInfo::exists(log + QStringLiteral(".3")));
    QFile current(log);
    QVERIFY(current.open(QIODevice::ReadOnly));
    QCOMPARE(int(current.permissions() & OthersAccess), 0);
    const QString written = QString::fromUtf8(current.readAll());
    QVERIFY2(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "
                                          "corvane-cli \\S+ 00112233445566778899aabb "
                                          "corvane\\.device warning: m_strVersion"),
            QRegularExpression::MultilineOption)
            .match(written)
            .hasMatch(),
        qPrintable(written));

    const QByteArray verbose = cli({ QStringLiteral("-v"), QStringLiteral("info") }).err;
    QVERIFY2(
        verbose.contains("Z corvane.device warning: m_strVersion") && !verbose.contains(" debug: "),
        verbose.constData());
    const QByteArray debug = cli({ QStringLiteral("-vv"), QStringLiteral("info") }).err;
    QVERIFY2(debug.contains(" debug: "), debug.constData());

    const Run report = cli({ QStringLiteral("report") });
    QCOMPARE(report.exitCode, 0);
    QVERIFY2(report.out.startsWith("```\n") && report.out.endsWith("\n```\n")
            && report.out.contains("  0011\xe2\x80\xa6"
                                   "aabb  5.6.0\n")
            && report.out.contains("corvane.device warning: m_strVersion")
            && !report.out.contains("00112233445566778899aabb"),
        report.out.constData());
}

void tst_Cli::verifyComparesWithTheImage()
{
    const QByteArray payload = payloadOf(70000, 6);
    const QString image
        = writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payload));
    const QString other
        = writeImage(QStringLiteral("other.rfw"), FirmwareImageMaker::make(5, 7, 3, payload));
    const QString state = m_dir->filePath(QStringLiteral("adapter.state"));
    const Run update = cli(
        { QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--verify"), image });
    QCOMPARE(update.exitCode, 0);
    QCOMPARE(update.json().value(QStringLiteral("verified")).toBool(), true);
    const Run same = cli({ QStringLiteral("verify"), image });
    QCOMPARE(same.exitCode, 0);
    QCOMPARE(same.out, "matches " + image.toUtf8() + " (version 5.7.2)\n");

    QVERIFY(AdapterEmulator::loadState(state));
    AdapterEmulator::setMemory(0x08010000 + 1234, QByteArray(1, char(payload.at(1234) ^ 0x01)));
    QVERIFY(AdapterEmulator::saveState(state));
    const Run flipped = cli({ QStringLiteral("verify"), image });
    QCOMPARE(flipped.exitCode, 1);
    QCOMPARE(flipped.out,
        "differs from " + image.toUtf8() + " at 0x080104d2 (1 byte differs in 1 region)\n");
    QVERIFY(flipped.err.contains("corvane-cli update --force " + image.toUtf8()));

    const QJsonArray regions = cli({ QStringLiteral("--json"), QStringLiteral("verify"), other })
                                   .json()
                                   .value(QStringLiteral("regions"))
                                   .toArray();
    QCOMPARE(regions.size(), 2);
    QCOMPARE(regions.at(0).toObject().value(QStringLiteral("firstDifference")).toInt(), 0x08004007);
    QCOMPARE(regions.at(0).toObject().value(QStringLiteral("differing")).toInt(), 1);

    // The adapter opens with 8 requests; the 20th of the verify fails.
    AdapterEmulator::Faults faults;
    faults.unplugAtExchange = 8 + 20;
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(state));
    const Run unplugged = cli({ QStringLiteral("verify"), image });
    QCOMPARE(unplugged.exitCode, 1);
    QVERIFY2(unplugged.err.startsWith("corvane-cli: the adapter stopped answering ("),
        unplugged.err.constData());
    QVERIFY(unplugged.out.isEmpty());
}

void tst_Cli::hostileServer_data()
{
    QTest::addColumn<QStringList>("args"); // HOST stands for the server's address
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // on standard error
    const QString catalogue = QStringLiteral("catalogue");
    const QString host = QStringLiteral("--catalogue=HOST");
    QTest::newRow("escape sequences in the catalogue")
        << QStringList { catalogue, host } << 0 << QString();
    QTest::newRow("escape sequences in the catalogue, as JSON")
        << QStringList { QStringLiteral("--json"), catalogue, host } << 0 << QString();
    QTest::newRow("download of a label that reorders its text")
        << QStringList { QStringLiteral("download"), QString::fromUtf8("\u202e42.5.5"), host } << 1
        << QStringLiteral("is not a firmware version");
    QTest::newRow("global options before the command")
        << QStringList { QStringLiteral("--catalogue"), QStringLiteral("HOST"),
               QStringLiteral("--verbose"), catalogue }
        << 0 << QString();
    QTest::newRow("escape sequences in the reason phrase") << QStringList { catalogue,
        QStringLiteral("--catalogue=HOST/_control/reason/%1B]0;x%07%1B[2J") }
                                                           << 1 << QStringLiteral("?]0;x??[2J");
    QTest::newRow("gzip catalogue, 1 GiB unpacked")
        << QStringList { catalogue, QStringLiteral("--catalogue=HOST/_control/gzip/1073741824") }
        << 1 << QStringLiteral("unrequested encoding");
    QTest::newRow("gzip image, 1 GiB unpacked") << QStringList { QStringLiteral("download"),
        QStringLiteral("5.9.1"), host } << 1 << QStringLiteral("unrequested encoding");
    QTest::newRow("silent server") << QStringList { QStringLiteral("--network-timeout"),
        QStringLiteral("1"), catalogue, QStringLiteral("--catalogue=HOST/_control/silent") }
                                   << 1 << QStringLiteral("no data from");
    QTest::newRow("catalogue trickles") << QStringList { QStringLiteral("--network-timeout=0.5"),
        catalogue, QStringLiteral("--catalogue=HOST/_control/trickle/0.1") }
                                        << 1 << QStringLiteral("no complete catalogue");
    QTest::newRow("image trickles") << QStringList { QStringLiteral("download"),
        QStringLiteral("5.9.3"), host, QStringLiteral("--network-timeout=0.5") }
                                    << 1 << QStringLiteral("bytes/s");
    QTest::newRow("image stops half-way") << QStringList { QStringLiteral("download"),
        QStringLiteral("5.9.2"), host, QStringLiteral("--network-timeout=0.5") }
                                          << 1 << QStringLiteral("no data from");
    QTest::newRow("time-out of zero") << QStringList { QStringLiteral("--network-timeout=0"),
        catalogue } << 2 << QStringLiteral("--network-timeout needs");
}

// Nothing from the network reaches the terminal raw, holds the command for ever or takes
// more than a little memory.
void tst_Cli::hostileServer()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    HttpServerProcess server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QVERIFY(server.putFile(QStringLiteral("fw.rfw"), payloadOf(3000000, 2)));
    const QString catalogue
        = QStringLiteral(R"({"download": {"flashTool": {"version": "9.9[5m"},
        "firmware": [{"version": "5.9.031m", "info": "fix[2J;]0;owned"},
                     {"version": "5.9.1", "download": "%1"}, {"version": "5.9.2", "download": "%2"},
                     {"version": "5.9.3", "download": "%3"}, %4]}})")
              .arg(server.url(QStringLiteral("/_control/gzip/1073741824/fw.rfw")).toString(),
                  server.url(QStringLiteral("/_control/stall/fw.rfw")).toString(),
                  server.url(QStringLiteral("/_control/trickle/0.1/fw.rfw")).toString(),
                  // A label that reorders its text, and a change log that breaks its line.
                  QStringLiteral("{\"version\": \"\\u202e42.5.5\", "
                                 "\"info\": \"5.6.0\\u2028(urgent security fix)\\u007f\"}"));
    QVERIFY(
        server.putFile(QStringLiteral("download/corvane-x9/corvane-x9.json"), catalogue.toUtf8()));
    args.replaceInStrings(QStringLiteral("HOST"), server.baseUrl().toString());

    const Run run = cli(args);
#ifndef Q_OS_WIN
    // Peak resident size of the largest child so far, in KiB.
    rusage usage {};
    QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(usage.ru_maxrss > 0 && usage.ru_maxrss < 512 * 1024,
        QByteArray::number(qint64(usage.ru_maxrss)));
#endif
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(
        message.isEmpty() || QString::fromUtf8(run.err).contains(message), run.err.constData());
    if (exitCode == 0 && !args.contains(QStringLiteral("--json")))
        QVERIFY2(run.out.contains("Firmware 5.9.0?31m\n    fix?[2J\n    ?]0\n    owned?\n")
                && run.out.contains("Firmware ?42.5.5\n    5.6.0?(urgent security fix)?\n"),
            run.out.constData());
    for (const char control : { '\x07', '\x1b', '\x7f' })
        QVERIFY(!run.out.contains(control) && !run.err.contains(control));
    // Nor C1 controls (U+009B is a terminal's escape), bidirectional overrides or separators.
    for (const char *character : { "\xc2\x9b", "\xe2\x80\xae", "\xe2\x80\xa8" })
        QVERIFY(!run.out.contains(character) && !run.err.contains(character));
}

void tst_Cli::backupRestoreAndBootMode()
{
    const QString backup = m_dir->filePath(QStringLiteral("config.bkp"));
    QCOMPARE(cli({ QStringLiteral("backup"), backup }).exitCode, 0);
    QCOMPARE(QFileInfo(backup).size(), qint64(245776));

    const QJsonObject mode = cli({ QStringLiteral("--json"), QStringLiteral("boot-mode") }).json();
    QCOMPARE(mode.value(QStringLiteral("mode")).toInt(), 2);
    QCOMPARE(mode.value(QStringLiteral("label")).toString(), QStringLiteral("XB360(PC)"));
    QCOMPARE(cli({ QStringLiteral("boot-mode"), QStringLiteral("SWITCH") }).exitCode, 0);
    QCOMPARE(cli({ QStringLiteral("--json"), QStringLiteral("boot-mode") })
                 .json()
                 .value(QStringLiteral("mode"))
                 .toInt(),
        3);

    // The backup restores the old boot mode on the adapter it came from ...
    QCOMPARE(cli({ QStringLiteral("restore"), backup }).exitCode, 0);
    QCOMPARE(cli({ QStringLiteral("--json"), QStringLiteral("boot-mode") })
                 .json()
                 .value(QStringLiteral("mode"))
                 .toInt(),
        2);

    // ... and is refused by any other adapter.
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    AdapterEmulator::setUniqueId(QByteArray::fromHex("ffeeddccbbaa998877665544"));
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    const Run foreign = cli({ QStringLiteral("restore"), backup });
    QCOMPARE(foreign.exitCode, 1);
    QVERIFY(foreign.err.contains("Corrupted file/Unauthorized !"));

    // Firmware before 5.5.24 has no boot modes.
    seedAdapter(5, 5, 0);
    QCOMPARE(cli({ QStringLiteral("boot-mode"), QStringLiteral("1") }).exitCode, 1);

    // Only the two writes reached the adapter.
    QStringList operations;
    for (const QJsonValue &entry :
        QJsonDocument::fromJson(cli({ QStringLiteral("--json"), QStringLiteral("history") }).out)
            .array())
        operations.append(entry.toObject().value(QStringLiteral("operation")).toString());
    QCOMPARE(operations, (QStringList { QStringLiteral("restore"), QStringLiteral("boot-mode") }));
}

void tst_Cli::firmwareRecordTable_data()
{
    QTest::addColumn<QString>("state"); // how the adapter came to hold its firmware
    QTest::addColumn<QString>("action");
    for (const char *state : { "fresh emulator", "after update", "after factory restore" })
        for (const char *action :
            { "backup then restore", "automatic backup then restore", "info", "verify" })
            QTest::addRow("%s, %s", state, action) << state << action;
}

// Whichever way the firmware record was written (the emulator's init, an update, a factory
// restore), a backup taken then, by hand or by an update, restores the configuration, and
// every cell ends with the version read back (info) and the firmware verified byte for byte.
void tst_Cli::firmwareRecordTable()
{
    QFETCH(QString, state);
    QFETCH(QString, action);
    const auto fails = [this](const QStringList &args) {
        const Run r = cli(args);
        return r.exitCode == 0 ? QByteArray() : args.first().toUtf8() + ": " + r.err;
    };
    AdapterEmulator::reset(); // then as corvane-emulator init --version 5.5.24 makes it
    AdapterEmulator::seedUpdatedAdapter(5, 5, 24, 2);
    QVERIFY(AdapterEmulator::saveState(m_state));
    QString version = QStringLiteral("5.5.24");
    QString image = writeImage(QStringLiteral("fw.rfw"),
        FirmwareImageMaker::make(5, 5, 24, AdapterEmulator::samplePayload(5, 5, 24)));
    if (state != QLatin1String("fresh emulator")) {
        // As a payload it reaches into sector 5, where a factory restore keeps the macros.
        version = QStringLiteral("5.6.3");
        image = writeImage(
            QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 6, 3, payloadOf(70000, 5)));
        QCOMPARE(fails(state == QLatin1String("after update")
                         ? QStringList { QStringLiteral("update"), image }
                         : QStringList { QStringLiteral("restore-defaults"), image, version }),
            QByteArray());
    }
    if (action.contains(QLatin1String("restore"))) {
        QString backup = m_dir->filePath(QStringLiteral("config.bkp"));
        QCOMPARE(fails({ QStringLiteral("boot-mode"), QStringLiteral("3") }), QByteArray());
        if (action.startsWith(QLatin1String("automatic"))) {
            version = QStringLiteral("5.6.4");
            image = writeImage(
                QStringLiteral("next.rfw"), FirmwareImageMaker::make(5, 6, 4, payloadOf(20000, 7)));
            const Run update = cli({ QStringLiteral("--json"), QStringLiteral("update"), image });
            QCOMPARE(update.exitCode, 0);
            backup = update.json().value(QStringLiteral("backup")).toString();
        } else {
            QCOMPARE(fails({ QStringLiteral("backup"), backup }), QByteArray());
            QCOMPARE(fails({ QStringLiteral("boot-mode"), QStringLiteral("1") }), QByteArray());
        }
        QCOMPARE(fails({ QStringLiteral("restore"), backup }), QByteArray());
        const Run mode = cli({ QStringLiteral("--json"), QStringLiteral("boot-mode") });
        QCOMPARE(mode.json().value(QStringLiteral("mode")).toInt(), 3);
    }
    const Run info = cli({ QStringLiteral("info") });
    QVERIFY2(info.out.endsWith("version: " + version.toLatin1() + '\n'), info.err.constData());
    QCOMPARE(fails({ QStringLiteral("verify"), image }), QByteArray());
}

// A link that another user planted is not written through: in a shared sticky directory, in
// their own open directory, or at the end of the user's own link.
void tst_Cli::backupRefusesAPlantedLink()
{
#ifdef Q_OS_WIN
    QSKIP("another user's symbolic link needs a second account and the right to make links");
#else
    if (::geteuid() != 0)
        QSKIP("needs root to plant a link as another user");
    const QString victim = m_dir->filePath(QStringLiteral("victim"));
    QVERIFY(QFile(victim).open(QIODevice::WriteOnly));
    for (const bool sticky : { true, false }) {
        const QByteArray folder = QFile::encodeName(
            m_dir->filePath(sticky ? QStringLiteral("shared") : QStringLiteral("theirs")));
        QVERIFY(::mkdir(folder.constData(), 0700) == 0
            && ::chmod(folder.constData(), sticky ? 01777 : 0777) == 0
            && (sticky || ::chown(folder.constData(), 65534, 65534) == 0));
        const QByteArray link = folder + "/config.bkp";
        QVERIFY(QFile::link(victim, QFile::decodeName(link))
            && ::lchown(link.constData(), 65534, 65534) == 0);

        const Run run = cli({ QStringLiteral("backup"), QFile::decodeName(link) });
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("the symbolic link " + link + ": another user made it"
                     + (sticky ? " in a directory that every user can write to" : "")),
            run.err.constData());
    }
    const QString mine = m_dir->filePath(QStringLiteral("mine.bkp"));
    QVERIFY(QFile::link(QStringLiteral("theirs/config.bkp"), mine));
    QCOMPARE(cli({ QStringLiteral("backup"), mine }).exitCode, 1);
    QCOMPARE(QFileInfo(victim).size(), qint64(0));
#endif
}

void tst_Cli::oneProgramPerAdapter_data()
{
    QTest::addColumn<bool>("withoutRuntimeDir"); // the command runs without XDG_RUNTIME_DIR
    QTest::addColumn<QString>("pidFileSwapped"); // the writer's PID file becomes this
    QTest::newRow("same environment") << false << QString();
    QTest::newRow("command without XDG_RUNTIME_DIR") << true << QString();
    QTest::newRow("directory in place of the PID file") << false << QStringLiteral("directory");
    QTest::newRow("symlink in place of the PID file") << false << QStringLiteral("symlink");
}

// While one program writes the adapter, no other one sends it a single report, whatever its
// environment or the files beside the lock: a command exits 4 (naming the writer when it
// can), a window start waits, and connects by itself once the writer is done, and a second
// window start leaves the adapter alone. The emulator lists every process that sent a
// report in "<state>.traffic".
void tst_Cli::oneProgramPerAdapter()
{
    QFETCH(bool, withoutRuntimeDir);
    QFETCH(QString, pidFileSwapped);
#ifdef Q_OS_WIN
    // Windows keeps the holder's process id with the lock itself, whatever the environment.
    if (withoutRuntimeDir || !pidFileSwapped.isEmpty())
        QSKIP("the process id file and XDG_RUNTIME_DIR are Linux's");
#endif
    const QByteArray payload = payloadOf(20000, 4);
    const QString image
        = writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 3, payload));
    const QString state = m_dir->filePath(QStringLiteral("adapter.state"));
    const QString traffic = state + QLatin1String(".traffic");
    const QString hold = m_dir->filePath(QStringLiteral("hold"));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("CORVANE_EMULATOR_HOLD"), hold);
    const auto trafficPids = [&traffic] {
        QFile file(traffic);
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    };

    // The writer waits for its first answer while the hold file exists.
    QVERIFY(QFile(hold).open(QIODevice::WriteOnly));
    QProcess writer;
    writer.setProcessEnvironment(env);
    writer.start(QStringLiteral(CORVANE_CLI),
        { QStringLiteral("--timeout"), QStringLiteral("0"), QStringLiteral("update"), image });
    QVERIFY(writer.waitForStarted());
    const QByteArray writerPid = QByteArray::number(writer.processId());
    QTRY_VERIFY_WITH_TIMEOUT(trafficPids().contains(writerPid), 60000);

    const QString victim = m_dir->filePath(QStringLiteral("victim"));
    QVERIFY(FirmwareImageMaker::writeToFile(victim, "keep"));
    const QDir locks(m_dir->filePath(RuntimeFolder));
    const QStringList pidFiles = locks.entryList({ QStringLiteral("adapter-*") }, QDir::Files);
#ifndef Q_OS_WIN
    QCOMPARE(pidFiles.size(), 1);
#endif
    if (!pidFileSwapped.isEmpty()) {
        const QString pidFile = locks.filePath(pidFiles.first());
        QVERIFY(QFile::remove(pidFile));
        QVERIFY(pidFileSwapped == QLatin1String("directory") ? locks.mkdir(pidFiles.first())
                                                             : QFile::link(victim, pidFile));
    }
    QProcessEnvironment infoEnv = environment();
    if (withoutRuntimeDir)
        infoEnv.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    const Run info = run(QStringLiteral(CORVANE_CLI), { QStringLiteral("info") }, infoEnv);
    QCOMPARE(info.exitCode, 4);
    QCOMPARE(info.err,
        withoutRuntimeDir || !pidFileSwapped.isEmpty()
            ? QByteArray("corvane-cli: the adapter is in use by another program\n")
            : "corvane-cli: the adapter is in use by another program (PID " + writerPid + ")\n");
    QFile kept(victim);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("keep"));

    QProcess window;
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::MergedChannels);
    window.start(QStringLiteral(CORVANE_WINDOW), {});
    QVERIFY(window.waitForStarted());
    QByteArray windowLog;
    QTRY_VERIFY_WITH_TIMEOUT((windowLog += window.readAll())
                                 .contains("DeviceFlash adapter in use by another program, PID "),
        60000);
    // Qt 5's offscreen screen (800 x 600) is lower than the window, which is scaled down to
    // fit it; Qt 6's (800 x 800) holds it as it is.
    QCOMPARE(windowLog.contains("window scaled to fit the screen: 0."),
        QT_VERSION < QT_VERSION_CHECK(6, 0, 0));

    QVERIFY(QFile::remove(hold));
    QVERIFY(writer.waitForFinished(60000));
    QCOMPARE(writer.exitCode(), 0);
    QVERIFY(AdapterEmulator::loadState(state));
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload);
    const QByteArray windowPid = QByteArray::number(window.processId());
    QTRY_VERIFY_WITH_TIMEOUT(trafficPids().contains(windowPid), 60000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(CORVANE_WINDOW), {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
    window.kill();
    window.waitForFinished();
    // The killed window leaves its single-instance block behind.
    const QDir guard(m_dir->filePath(RuntimeFolder));
    for (const QString &key : guard.entryList({ QStringLiteral("*.block") }, QDir::Files))
        OrphanedBlocks::discard(guard.filePath(key));

    QCOMPARE(trafficPids(), (QList<QByteArray> { writerPid, windowPid, QByteArray() }));
    QVERIFY(AdapterEmulator::loadState(state));
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload);
}

void tst_Cli::silentAdapterEndsTheCommand_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("info") << QStringList { QStringLiteral("info") } << 3
                          << QByteArray("corvane-cli: the adapter stopped answering\n");
    // The information takes 8 exchanges; then the configuration's saving, or the erase (1),
    // the writes (5 + 58) and the record's read.
    QTest::newRow("update, while the configuration is saved")
        << QStringList { QStringLiteral("-q"), QStringLiteral("update"), QStringLiteral("IMAGE") }
        << 20
        << QByteArray("corvane-cli: the adapter stopped answering before anything was erased; "
                      "nothing was changed\n");
    QTest::newRow("update, at the version read after the write")
        << QStringList { QStringLiteral("-q"), QStringLiteral("update"),
               QStringLiteral("--no-backup"), QStringLiteral("IMAGE") }
        << 8 + 1 + 5 + 58 + 1
        << QByteArray("corvane-cli: the adapter did not answer the version read after the write; "
                      "run corvane-cli verify IMAGE\n");
}

// An adapter that stops answering ends a command after --timeout with exit code 1, and the
// command says how far it got.
void tst_Cli::silentAdapterEndsTheCommand()
{
    QFETCH(QStringList, args);
    QFETCH(int, exchange);
    QFETCH(QByteArray, err);
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = exchange;
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    const QString image = writeImage(
        QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payloadOf(3000, 1)));
    args.replaceInStrings(QStringLiteral("IMAGE"), image);
    const Run run = cli(args + QStringList { QStringLiteral("--timeout"), QStringLiteral("0.5") });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, err.replace("IMAGE", QFile::encodeName(image)));
}

// An erase answers only when its sectors are erased (here 2.6 s for sectors 1 and 4-6): the
// wait for it allows their worst case on top of --timeout, which bounds the other answers.
void tst_Cli::slowEraseIsNoSilentAdapter()
{
    AdapterEmulator::Faults faults;
    faults.eraseMsPer128KiB = 1000;
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    const QByteArray payload = payloadOf(300000, 6);
    const Run run
        = cli({ QStringLiteral("--timeout"), QStringLiteral("2"), QStringLiteral("update"),
            writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 5, payload)) });
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload);
}

void tst_Cli::signalsDuringAnUpdate_data()
{
    QTest::addColumn<int>("signalNumber"); // SIGPIPE: the reader of the output goes away
    QTest::addColumn<QString>("phase"); // read, backup (before the erase), write, read-back
    QTest::addColumn<int>("exitCode"); // -1: killed
    QTest::addColumn<QString>("result"); // of the history's newest operation
    const QString read = QStringLiteral("read");
    const QString write = QStringLiteral("write");
    const QString success = QStringLiteral("success");
#ifndef Q_OS_WIN
    QTest::newRow("SIGINT before the erase") << SIGINT << read << 130 << QString();
    QTest::newRow("SIGUSR1 while the configuration is saved")
        << SIGUSR1 << QStringLiteral("backup") << 138 << QStringLiteral("cancelled");
    QTest::newRow("SIGTERM during the write") << SIGTERM << write << 0 << success;
    QTest::newRow("SIGQUIT during the write") << SIGQUIT << write << 0 << success;
    QTest::newRow("standard output and error closed during the write")
        << SIGPIPE << write << 0 << success;
    QTest::newRow("SIGALRM during the read-back after the write")
        << SIGALRM << QStringLiteral("read-back") << 142 << success;
    QTest::newRow("killed during the write")
        << SIGKILL << write << -1 << QStringLiteral("interrupted");
#endif
}

// Real signals to a running update: before the erase they cancel it with nothing changed;
// from the erase on they are held and the write ends byte-exact, also when the reader of its
// output goes; after the write they stop only the read-back; a killed process leaves its
// "started" line, shown as interrupted, and the flash as far as it got.
void tst_Cli::signalsDuringAnUpdate()
{
#ifdef Q_OS_WIN
    QSKIP("POSIX signals; the console's events are tested by tst_consoleevents_win");
#else
    QFETCH(int, signalNumber);
    QFETCH(QString, phase);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    const bool duringWrite = phase != QLatin1String("read") && phase != QLatin1String("backup");
    const QByteArray payload = payloadOf(20000, 8);
    const QString image
        = writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payload));
    const QString state = m_dir->filePath(QStringLiteral("adapter.state"));
    const QString hold = m_dir->filePath(QStringLiteral("hold"));
    QProcessEnvironment env = environment();
    const QByteArray before = AdapterEmulator::memory(0x08004000, 0x10000);
    if (phase != QLatin1String("read")) {
        AdapterEmulator::Faults faults;
        faults.latencyUsPerReport = 2000;
        setFaults(faults);
    } else {
        // No answer comes while the hold file exists: the command is reading the adapter.
        env.insert(QStringLiteral("CORVANE_EMULATOR_HOLD"), hold);
        QVERIFY(QFile(hold).open(QIODevice::WriteOnly));
    }

    // The command starts with the signal's default action, whatever this test inherited.
    const auto inherited = signalNumber == SIGKILL ? SIG_DFL : std::signal(signalNumber, SIG_DFL);
    QProcess writer;
    writer.setProcessEnvironment(env);
    // As with `2>&1 | sed '/written /q'`: the reader of both streams ends at the write's first
    // line, and the next line, the notice and the result meet a pipe without a reader.
    const bool pipesClosed = signalNumber == SIGPIPE;
    QProcess reader;
    if (pipesClosed) {
        writer.setProcessChannelMode(QProcess::MergedChannels);
        writer.setStandardOutputProcess(&reader);
    }
    QStringList args { QStringLiteral("update"), QStringLiteral("--no-backup"), image };
    if (phase == QLatin1String("read-back"))
        args.insert(1, QStringLiteral("--verify"));
    if (phase == QLatin1String("backup"))
        args.removeAll(QStringLiteral("--no-backup")); // the saving takes some 19 s
    writer.start(QStringLiteral(CORVANE_CLI), args);
    if (pipesClosed)
        reader.start(
            QStringLiteral("sed"), { QStringLiteral("-n"), QStringLiteral("/written /{p;q}") });
    const bool started = writer.waitForStarted() && (!pipesClosed || reader.waitForStarted());
    if (signalNumber != SIGKILL)
        std::signal(signalNumber, inherited);
    QVERIFY(started);
    const auto reading = [&state, &writer] {
        QFile traffic(state + QLatin1String(".traffic"));
        return traffic.open(QIODevice::ReadOnly)
            && traffic.readAll().contains(QByteArray::number(writer.processId()));
    };
    QByteArray err; // progress goes to standard error
    const QByteArray awaited = phase == QLatin1String("read-back") ? "(100%)" : "written ";
    QTRY_VERIFY_WITH_TIMEOUT(duringWrite
            ? (err += pipesClosed ? reader.readAllStandardOutput() : writer.readAllStandardError())
                  .contains(awaited)
            : reading(),
        60000);
    if (phase == QLatin1String("backup"))
        QTest::qWait(500); // the information read at open takes 8 exchanges
    if (pipesClosed)
        QTRY_COMPARE_WITH_TIMEOUT(reader.state(), QProcess::NotRunning, 60000);
    else
        ::kill(pid_t(writer.processId()), signalNumber);
    if (exitCode == 0)
        ::kill(pid_t(writer.processId()), SIGINT);
    QVERIFY(writer.waitForFinished(60000));
    QFile::remove(hold);

    QCOMPARE(writer.exitStatus() == QProcess::NormalExit ? writer.exitCode() : -1, exitCode);
    if (!pipesClosed)
        err += writer.readAllStandardError();
    QCOMPARE(err.count("writing firmware: interrupting now would leave the adapter "
                       "without working firmware; the command ends when the write "
                       "is done\n"),
        exitCode == 0 && !pipesClosed ? 1 : 0);
    if (phase == QLatin1String("read-back"))
        QVERIFY2(err.contains("interrupted by SIGALRM: the write had already ended; only the "
                              "read-back after it stops\n"),
            err.constData());
    QVERIFY(AdapterEmulator::loadState(state));
    if (result == QLatin1String("success") || result == QLatin1String("interrupted"))
        QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload,
            result == QLatin1String("success"));
    else
        QVERIFY(AdapterEmulator::memory(0x08004000, 0x10000) == before);
    const QJsonArray operations = history();
    QCOMPARE(
        operations.isEmpty() ? QString() : operations.first()[QStringLiteral("result")].toString(),
        result);
    if (signalNumber != SIGKILL)
        return;
    // The killed write left what a real adapter keeps: the new record (written first) over a
    // payload that stops part-way. The next commands see it and call the adapter unfinished.
    const QJsonObject info = cli({ QStringLiteral("--json"), QStringLiteral("info") }).json();
    QCOMPARE(info[QStringLiteral("version")].toString(), QStringLiteral("5.7.2"));
    QVERIFY(info[QStringLiteral("unfinished")].toBool());
    QVERIFY(cli({ QStringLiteral("list") })
                .out.contains("5.7.2 (last write did not finish: run the update again)"));
#endif
}

void tst_Cli::adviceThatWorks_data()
{
    QTest::addColumn<QStringList>("args"); // IMAGE, RAW (an image of toVersion), BACKUP: files
    QTest::addColumn<int>("corruptEchoAtWrite");
    QTest::addColumn<bool>("macrosErased");
    QTest::addColumn<QString>("toVersion");
    QTest::addColumn<bool>("restoreAdvised");
    const QString update = QStringLiteral("update");
    const QString defaults = QStringLiteral("restore-defaults");
    QTest::newRow("update") << QStringList { update, QStringLiteral("IMAGE") } << 2 << false
                            << "5.7.2" << true;
    QTest::newRow("update, macro block erased")
        << QStringList { update, QStringLiteral("IMAGE") } << 2 << true << "5.7.2" << false;
    QTest::newRow("factory restore")
        << QStringList { defaults, QStringLiteral("RAW"), QStringLiteral("5.6.3") } << 2 << false
        << "5.6.3" << true;
    QTest::newRow("factory restore of the first generation")
        << QStringList { defaults, QStringLiteral("RAW"), QStringLiteral("5.4.9") } << 2 << false
        << "5.4.9" << false;
    QTest::newRow("configuration restore")
        << QStringList { QStringLiteral("restore"), QStringLiteral("BACKUP") } << 10 << false
        << "5.6.0" << true;
    QTest::newRow("boot mode") << QStringList { QStringLiteral("boot-mode"),
        QStringLiteral("SWITCH") }
                               << 10 << false << "5.6.0" << false;
}

// A write that fails part-way is recorded with the version it was writing, and every
// command its advice names, run in order, is taken and succeeds.
void tst_Cli::adviceThatWorks()
{
    QFETCH(QStringList, args);
    QFETCH(int, corruptEchoAtWrite);
    QFETCH(bool, macrosErased);
    QFETCH(QString, toVersion);
    QFETCH(bool, restoreAdvised);
    if (macrosErased) {
        AdapterEmulator::setMemory(0x08020000, QByteArray(66, '\xff'));
        QVERIFY(AdapterEmulator::saveState(m_dir->filePath(QStringLiteral("adapter.state"))));
    }
    const QByteArray image = FirmwareImageMaker::make(5, 7, 2, payloadOf(3000, 1));
    const QString imagePath = writeImage(QStringLiteral("fw.rfw"), image);
    args.replaceInStrings(QStringLiteral("IMAGE"), imagePath);
    const QVersionNumber to = QVersionNumber::fromString(toVersion);
    args.replaceInStrings(QStringLiteral("RAW"),
        writeImage(QStringLiteral("factory.rfw"),
            FirmwareImageMaker::make(quint8(to.majorVersion()), quint8(to.minorVersion()),
                quint8(to.microVersion()), payloadOf(3000, 2))));
    const QString backup = m_dir->filePath(QStringLiteral("config.bkp"));
    if (args.contains(QStringLiteral("BACKUP")))
        QCOMPARE(cli({ QStringLiteral("backup"), backup }).exitCode, 0);
    args.replaceInStrings(QStringLiteral("BACKUP"), backup);
    AdapterEmulator::Faults faults;
    faults.corruptEchoAtWrite = corruptEchoAtWrite;
    setFaults(faults);

    const Run failed = cli(args);
    QCOMPARE(failed.exitCode, 1);
    const QJsonObject last = history().first().toObject();
    QCOMPARE(last.value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    QCOMPARE(last.value(QStringLiteral("toVersion")).toString(), toVersion);
    const QStringList commands = advisedCommands(failed.err);
    QVERIFY2(!commands.isEmpty(), failed.err.constData());
    QCOMPARE(
        !commands.filter(QRegularExpression(QStringLiteral("^corvane-cli restore "))).isEmpty(),
        restoreAdvised);

    setFaults();
    for (const QString &command : commands) {
#ifdef Q_OS_WIN // no POSIX shell: the words as a shell splits these plain ones
        const Run r = run(
            QStringLiteral(CORVANE_CLI), QProcess::splitCommand(command).mid(1), environment());
#else
        const QString line
            = QStringLiteral("exec \"$0\" ") + command.mid(int(qstrlen("corvane-cli ")));
        const Run r = run(QStringLiteral("sh"),
            { QStringLiteral("-c"), line, QStringLiteral(CORVANE_CLI) }, environment());
#endif
        QVERIFY2(
            r.exitCode == 0, qPrintable(command + QStringLiteral(": ") + QString::fromUtf8(r.err)));
    }
    // The restore it advised left the firmware the write was for byte for byte.
    if (args.first() == QLatin1String("update"))
        QCOMPARE(cli({ QStringLiteral("verify"), imagePath }).exitCode, 0);
}

void tst_Cli::backupsThatMatter_data()
{
    QTest::addColumn<QString>("fault"); // of the first runs: "version" or "echo"
    QTest::addColumn<int>("faultRuns");
    QTest::addColumn<int>("cleanRuns"); // then, without the fault
    QTest::addColumn<int>("futureFiles"); // backups of earlier runs whose clock was a year ahead
    QTest::addColumn<int>("files"); // backup files at the end
    QTest::addColumn<int>("named"); // distinct backups the history names
    QTest::newRow("version unreadable") << "version" << 1 << 0 << 0 << 0 << 0;
    QTest::newRow("eleven failing retries") << "echo" << 12 << 1 << 0 << 1 << 1;
    QTest::newRow("a clock a year ahead") << "echo" << 0 << 1 << 10 << 10 << 1;
    QTest::newRow("same bytes three times") << "echo" << 0 << 3 << 0 << 2 << 2;
}

// The backup an update promised is taken, named and kept: never written twice, never
// replaced by one of a half-written adapter, never removed by the clock of another run.
void tst_Cli::backupsThatMatter()
{
    QFETCH(QString, fault);
    QFETCH(int, faultRuns);
    QFETCH(int, cleanRuns);
    QFETCH(int, futureFiles);
    QFETCH(int, files);
    QFETCH(int, named);
    const QString image = writeImage(
        QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payloadOf(3000, 4)));
    const QDir folder(
        m_dir->filePath(DataFolder + QStringLiteral("backups/00112233445566778899aabb")));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    const QString ahead
        = QDateTime::currentDateTimeUtc().addYears(1).toString(QStringLiteral("yyyyMMdd-HHmm"));
    for (int i = 0; i < futureFiles; ++i) {
        QFile file(folder.filePath(QStringLiteral("%1%2-5.6.0.bkp").arg(ahead).arg(i + 10)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // What killed runs left of their atomic writes: an hour and a day ago.
    const QString fresh = folder.filePath(QStringLiteral("20260101-000000-5.6.0.bkp.aB3dE6"));
    const QString stale = folder.filePath(QStringLiteral("20250101-000000-5.6.0.bkp.Zz9yX8"));
    for (const QString &path : { fresh, stale }) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly)
            && file.setFileTime(QDateTime::currentDateTime().addSecs(path == stale ? -86400 : -600),
                QFileDevice::FileModificationTime));
    }
    const QByteArray before = AdapterEmulator::memory(0x08004000, 0x10000);
    AdapterEmulator::Faults faults;
    faults.wrongCodeAtExchange = fault == QLatin1String("version") ? 4 : -1; // the version's answer
    faults.corruptEchoAtWrite = fault == QLatin1String("echo") ? 40 : -1; // in the payload
    setFaults(faults);
    for (int run = 0; run < faultRuns + cleanRuns; ++run) {
        if (run == faultRuns)
            setFaults();
        const Run r = cli({ QStringLiteral("update"), QStringLiteral("--force"), image });
        QVERIFY2(r.exitCode == (run < faultRuns ? 1 : 0), r.err.constData());
    }
    QVERIFY(AdapterEmulator::loadState(m_dir->filePath(QStringLiteral("adapter.state"))));
    QVERIFY(fault != QLatin1String("version")
        || AdapterEmulator::memory(0x08004000, 0x10000) == before);
    QSet<QString> backups;
    for (const QJsonValue &operation : history()) {
        const QString path = operation[QStringLiteral("backup")].toString();
        QVERIFY2(path.isEmpty() || QFileInfo::exists(path), qPrintable(path));
        if (!path.isEmpty())
            backups.insert(path);
    }
    QCOMPARE(backups.size(), named);
    QCOMPARE(folder.entryList({ QStringLiteral("*.bkp") }, QDir::Files).size(), files);
    QVERIFY(QFileInfo::exists(fresh));
    QCOMPARE(QFileInfo::exists(stale), fault == QLatin1String("version"));
}

void tst_Cli::listTheAdapters_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("held"); // the adapter another program holds, -1 none
    QTest::newRow("none") << 0 << -1;
    QTest::newRow("one") << 1 << -1;
    QTest::newRow("three") << 3 << -1;
    QTest::newRow("three, the second held by another program") << 3 << 1;
}

// list reads every free adapter and names a held one by its holder, sending it nothing.
void tst_Cli::listTheAdapters()
{
    QFETCH(int, count);
    QFETCH(int, held);
    seedAdapters(count);
    const QByteArray runtime
        = QFile::encodeName(environment().value(QStringLiteral("XDG_RUNTIME_DIR")));
    const QByteArray inherited = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime); // where the holder leaves its process id
    AdapterLock holder;
    QFile node(adapterState(held) + QStringLiteral(".node")); // as the emulator makes it
    if (held >= 0)
        QCOMPARE(node.open(QIODevice::WriteOnly)
                ? holder.acquire(QFile::encodeName(node.fileName()))
                : AdapterLock::Failed,
            AdapterLock::Acquired);
    qputenv("XDG_RUNTIME_DIR", inherited);

    const Run text = cli({ QStringLiteral("list") });
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.out.count('\n'), qMax(count, 1));
    const QJsonArray list
        = QJsonDocument::fromJson(cli({ QStringLiteral("--json"), QStringLiteral("list") }).out)
              .array();
    QCOMPARE(list.size(), count);
    for (int i = 0; i < count; ++i) {
        const QJsonObject entry = list.at(i).toObject();
        QCOMPARE(
            entry[QStringLiteral("path")].toString(), adapterState(i) + QStringLiteral(".node"));
        QCOMPARE(entry[QStringLiteral("serial")].toString(), serial(i));
        QCOMPARE(entry[QStringLiteral("version")].toString(),
            i == held ? QString() : QStringLiteral("5.6.0"));
        QCOMPARE(entry[QStringLiteral("inUseBy")].toInt(),
            i == held ? int(QCoreApplication::applicationPid()) : 0);
        QCOMPARE(QFileInfo::exists(adapterState(i) + QStringLiteral(".traffic")), i != held);
    }
    if (held >= 0)
        QVERIFY2(text.out.contains(
                     "in use by PID " + QByteArray::number(QCoreApplication::applicationPid())),
            text.out.constData());
}

void tst_Cli::chooseAnAdapter_data()
{
    QTest::addColumn<QStringList>("args"); // PATH stands for the third adapter's path
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("chosen"); // the adapter that was read and written, -1 none
    QTest::newRow("by serial") << QStringList { QStringLiteral("-a"),
        QStringLiteral("01112233445566778899AABB"), QStringLiteral("update"),
        QStringLiteral("IMAGE") }
                               << 0 << 1;
    QTest::newRow("by path") << QStringList { QStringLiteral("update"), QStringLiteral("IMAGE"),
        QStringLiteral("--adapter"), QStringLiteral("PATH") }
                             << 0 << 2;
    QTest::newRow("a serial no adapter has")
        << QStringList { QStringLiteral("--adapter=ff1122334455667788990011"),
               QStringLiteral("update"), QStringLiteral("IMAGE") }
        << 3 << -1;
    QTest::newRow("several, none chosen")
        << QStringList { QStringLiteral("update"), QStringLiteral("IMAGE") } << 2 << -1;
}

// With several adapters a write goes to the one chosen, and to none without a choice.
void tst_Cli::chooseAnAdapter()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(int, chosen);
    seedAdapters(3);
    const QByteArray payload = payloadOf(3000, 5);
    args.replaceInStrings(QStringLiteral("IMAGE"),
        writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payload)));
    args.replaceInStrings(QStringLiteral("PATH"), adapterState(2) + QStringLiteral(".node"));
    const Run r = cli(args);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    if (exitCode == 2)
        QCOMPARE(r.err,
            QByteArray("corvane-cli: several adapters are attached; choose one with "
                       "--adapter (see corvane-cli list)\n"));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(AdapterEmulator::loadState(adapterState(i)));
        QCOMPARE(
            AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload, i == chosen);
        // A refusal sends nothing to any adapter.
        QVERIFY(exitCode != 2 || !QFileInfo::exists(adapterState(i) + QStringLiteral(".traffic")));
    }
}

// Four adapters at once, the third failing part-way: the others end byte-exact, the third
// gets its own advice, which works, and each adapter its own history line.
void tst_Cli::updateEveryAdapter()
{
    seedAdapters(4);
    QVERIFY(AdapterEmulator::loadState(adapterState(2)));
    AdapterEmulator::Faults faults;
    faults.corruptEchoAtWrite = 40;
    AdapterEmulator::setFaults(faults);
    QVERIFY(AdapterEmulator::saveState(adapterState(2)));
    const QByteArray payload = payloadOf(20000, 3);
    const QString image
        = writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payload));

    const Run r = cli({ QStringLiteral("update"), QStringLiteral("--all"), image });
    QCOMPARE(r.exitCode, 1);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(AdapterEmulator::loadState(adapterState(i)));
        QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload, i != 2);
        QVERIFY2(r.out.contains(serial(i).toUtf8() + "  5.6.0")
                && r.err.contains(serial(i).toUtf8() + ": corvane-cli: ") == (i == 2),
            r.out.constData());
    }
    const QStringList advice = QString::fromUtf8(r.err)
                                   .split(QLatin1Char('\n'))
                                   .filter(QStringLiteral("run the same command again: "));
    QCOMPARE(advice.size(), 1);
    const QString command
        = QStringLiteral("corvane-cli update --adapter %1 %2").arg(serial(2), image);
    QVERIFY2(advice.first().startsWith(serial(2) + QStringLiteral(": corvane-cli: "))
            && advice.first().endsWith(command),
        qPrintable(advice.first()));
    QMap<QString, QString> results;
    for (const QJsonValue &operation : history())
        results.insert(operation[QStringLiteral("serial")].toString(),
            operation[QStringLiteral("result")].toString());
    QCOMPARE(history().size(), 4);
    QCOMPARE(results.values(),
        (QStringList { QStringLiteral("success"), QStringLiteral("success"),
            QStringLiteral("failed"), QStringLiteral("success") }));

    // Failing again with --json: one object, each adapter's result in it and the failure's.
    const QJsonObject failed = cli(
        { QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--all"), image })
                                   .json();
    QStringList retried;
    for (const QJsonValue &adapter : failed[QStringLiteral("adapters")].toArray())
        retried.append(adapter[QStringLiteral("result")].toString());
    QCOMPARE(retried,
        (QStringList { QStringLiteral("skipped"), QStringLiteral("skipped"),
            QStringLiteral("failed"), QStringLiteral("skipped") }));
    QCOMPARE(failed[QStringLiteral("exitCode")].toInt(), 1);

    // Again: the half-written adapter reads back 5.7.2 too, but only the others are left alone.
    QVERIFY(AdapterEmulator::loadState(adapterState(2)));
    AdapterEmulator::setFaults(AdapterEmulator::Faults());
    QVERIFY(AdapterEmulator::saveState(adapterState(2)));
    const Run again = cli(
        { QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--all"), image });
    QCOMPARE(again.exitCode, 0);
    QStringList outcomes;
    for (const QJsonValue &adapter : again.json()[QStringLiteral("adapters")].toArray())
        outcomes.append(adapter[QStringLiteral("result")].toString());
    QCOMPARE(outcomes,
        (QStringList { QStringLiteral("skipped"), QStringLiteral("skipped"),
            QStringLiteral("success"), QStringLiteral("skipped") }));
    // Now that it succeeded, the advice is a reinstall, which needs --force.
    const Run reinstall = cli(command.split(QLatin1Char(' ')).mid(1));
    QVERIFY2(
        reinstall.exitCode == 2 && reinstall.err.contains("--force"), reinstall.err.constData());
    QVERIFY(AdapterEmulator::loadState(adapterState(2)));
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload);

    // One that announces 5.7.2 over a payload that differs is read back and written again.
    QVERIFY(AdapterEmulator::loadState(adapterState(0)));
    AdapterEmulator::setMemory(0x08011000, QByteArray(1, char(~payload.at(0x1000))));
    QVERIFY(AdapterEmulator::saveState(adapterState(0)));
    const Run checked = cli({ QStringLiteral("update"), QStringLiteral("--all"), image });
    QVERIFY2(checked.exitCode == 0 && checked.out.count(" skipped ") == 3, checked.out.constData());
    QVERIFY(AdapterEmulator::loadState(adapterState(0)));
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payload.size())) == payload);
}

// Two adapters with one serial number: --adapter by that number is refused with both paths,
// an update of both keeps each one's backup under a name of its own, and advice names the
// adapter by its path and works as printed.
void tst_Cli::twoAdaptersWithOneSerial()
{
    seedAdapters(2);
    for (int i = 0; i < 2; ++i) {
        QVERIFY(AdapterEmulator::loadState(adapterState(i)));
        AdapterEmulator::setUniqueId(QByteArray::fromHex(serial(0).toLatin1()));
        AdapterEmulator::seedDefaultConfiguration(quint8(i)); // configurations that differ
        QVERIFY(AdapterEmulator::saveState(adapterState(i)));
    }
    const QString path = adapterState(1) + QStringLiteral(".node");
    const Run chosen = cli({ QStringLiteral("-a"), serial(0), QStringLiteral("info") });
    QVERIFY(chosen.exitCode == 2 && chosen.err.contains(QFile::encodeName(path)));

    const QByteArray payload = payloadOf(3000, 7);
    const QString image
        = writeImage(QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payload));
    QCOMPARE(cli({ QStringLiteral("update"), QStringLiteral("--all"), image }).exitCode, 0);
    const QJsonArray both = history();
    QCOMPARE(both.size(), 2);
    QVERIFY(both[0][QStringLiteral("backup")] != both[1][QStringLiteral("backup")]);

    // A payload byte changed on the second: verify's update also needs --force (5.7.2 runs).
    QVERIFY(AdapterEmulator::loadState(adapterState(1)));
    AdapterEmulator::setMemory(0x08010000, QByteArray(1, char(~payload.at(0))));
    QVERIFY(AdapterEmulator::saveState(adapterState(1)));
    const QStringList advised = advisedCommands(
        cli({ QStringLiteral("--adapter"), path, QStringLiteral("verify"), image }).err);
    QCOMPARE(advised,
        QStringList {
            QStringLiteral("corvane-cli --adapter %1 update --force %2").arg(path, image) });
    QCOMPARE(cli(advised.first().split(QLatin1Char(' ')).mid(1)).exitCode, 0);
}

void tst_Cli::historyThatCannotBeWritten_data()
{
    QTest::addColumn<bool>("locked"); // else a directory stands in its place
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("a directory in its place") << false << QByteArray("cannot open ");
    QTest::newRow("its lock held by another program")
        << true << QByteArray("another program held the lock of ");
}

// A history that cannot take the "started" line stops the job before the erase, once said; a
// wait for its lock is said and ends.
void tst_Cli::historyThatCannotBeWritten()
{
    QFETCH(bool, locked);
    QFETCH(QByteArray, reason);
    const QString file = m_dir->filePath(DataFolder + QStringLiteral("history.jsonl"));
    QVERIFY(QDir().mkpath(locked ? QFileInfo(file).path() : file));
    QFile held(file);
    QVERIFY(!locked
        || (held.open(QIODevice::WriteOnly) && FileLock::lockExclusive(held.handle(), 0) == 0));
    const QByteArray before = AdapterEmulator::memory(0x08004000, 0x10000);
    const Run run = cli({ QStringLiteral("update"),
        writeImage(
            QStringLiteral("fw.rfw"), FirmwareImageMaker::make(5, 7, 2, payloadOf(300, 1))) });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.count("the history cannot be written: " + reason), 1);
    QCOMPARE(
        run.err.count("another program holds the history's lock; waiting for it, 10 s at most"),
        locked ? 1 : 0);
    QVERIFY2(run.err.contains("; nothing was erased\n"), run.err.constData());
    QVERIFY(AdapterEmulator::loadState(m_state));
    QVERIFY(AdapterEmulator::memory(0x08004000, 0x10000) == before);
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
