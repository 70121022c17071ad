// SPDX-License-Identifier: GPL-3.0-or-later
#include "instanceblock.h"
#include "instancehandshake.h"
#include "orphanedblocks.h"
#include "singleapplication.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString helperPath = QStringLiteral(CORVANE_INSTANCE_HELPER);

// A running instancehelper with line-wise access to what it prints.
class Helper
{
public:
    explicit Helper(const QStringList &args,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
        const QString &program = helperPath)
    {
        m_process.setProcessEnvironment(env);
        // Text mode: the line ends as written, whatever the system's convention.
        m_process.start(program, args, QIODevice::ReadWrite | QIODevice::Text);
    }

    ~Helper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Next printed line that starts with prefix (lines before it are skipped).
    QByteArray line(const QByteArray &prefix, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (m_lines.isEmpty() && fetch()) { }
            while (!m_lines.isEmpty()) {
                const QByteArray next = m_lines.takeFirst();
                if (next.startsWith(prefix))
                    return next;
            }
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0 || m_process.state() == QProcess::NotRunning)
                return QByteArray();
            m_process.waitForReadyRead(int(qMin<qint64>(left, 200)));
        }
    }

    // "role ..." line split into its words: role, number, key, construction time.
    QList<QByteArray> role() { return line("role ").split(' ').mid(1); }

    void command(const QByteArray &text)
    {
        m_process.write(text + '\n');
        m_process.waitForBytesWritten();
    }

    // Asks a serving helper to quit and returns its exit code (-1 when it did not end).
    int quit()
    {
        command("quit");
        return finish();
    }

    int finish(int timeoutMs = 20000)
    {
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }

    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QByteArray standardError() { return m_process.readAllStandardError(); }

private:
    bool fetch()
    {
        m_buffer += m_process.readAllStandardOutput();
        const int newline = m_buffer.indexOf('\n');
        if (newline < 0)
            return false;
        m_lines.append(m_buffer.left(newline));
        m_buffer.remove(0, newline + 1);
        return true;
    }

    QProcess m_process;
    QByteArray m_buffer;
    QList<QByteArray> m_lines;
};

QStringList helperArgs(const QString &name, const QStringList &extra = {})
{
    return QStringList { QStringLiteral("--name"), name } + extra;
}

// A fresh application name per scenario, so that scenarios and test runs never meet.
QString freshName(const char *scenario)
{
    static int counter = 0;
    return QStringLiteral("corvane-instance-test-%1-%2-%3")
        .arg(QCoreApplication::applicationPid())
        .arg(QLatin1String(scenario))
        .arg(++counter);
}

SingleApplication *application()
{
    return static_cast<SingleApplication *>(QCoreApplication::instance());
}

#ifndef Q_OS_WIN
// A file of the guard in the private runtime directory that main() gives every process.
QString guardFile(const QByteArray &key, const char *suffix)
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/corvane-x9/")
        + QString::fromLatin1(key.left(16)) + QLatin1String(suffix);
}
#endif

// Where another process would find the guard's block of key, and makes it (size bytes): on
// Linux a System V segment named by a key file, on Windows a named object in the session,
// which lives as long as a process holds it.
QString blockKey(const QByteArray &key)
{
#ifdef Q_OS_WIN
    return QLatin1String("Local\\corvane-x9-") + QString::fromLatin1(key.left(16));
#else
    return guardFile(key, ".block");
#endif
}

bool createBlock(QSharedMemory &block, int size)
{
#ifdef Q_OS_WIN
    return block.create(size);
#else
    return OrphanedBlocks::create(block, size);
#endif
}

#ifndef Q_OS_WIN
// The key that the helper derives for name, from a start that ends by itself.
QByteArray probeKey(const QString &name)
{
    Helper probe(helperArgs(name));
    const QByteArray key = probe.role().value(2);
    return probe.finish() == 0 ? key : QByteArray();
}
#endif

} // namespace

class tst_SingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void primaryDoesNotSendToItself();
    void peerHandshake_data();
    void peerHandshake();
    void handshakeArrivingInPieces();
    void peerClosingBeforeHandshake();

    void simultaneousStartsElectOnePrimary();
    void laterStartsHandOverTheirMessage();
    void announcedStartsReachPrimary();
    void primaryRoleIsFreedOnExit();
    void deadPrimary();
    void inconsistentBlockIsRecovered();
    void unusableSharedMemoryStartsUnguarded_data();
    void unusableSharedMemoryStartsUnguarded();
    void twoUsersGetTwoPrimaries();
    void guardObjectsArePrivate_data();
    void guardObjectsArePrivate();
    void foreignBlockDoesNotStopTheWindow_data();
    void foreignBlockDoesNotStopTheWindow();
};

void tst_SingleApplication::primaryDoesNotSendToItself()
{
    SingleApplication *app = application();
    QVERIFY(!app->isSecondaryInstance());
    QCOMPARE(app->instanceNumber(), 0u);
    QSignalSpy messages(app, &SingleApplication::receivedMessage);
    QVERIFY(!app->sendToPrimary(QByteArrayLiteral("to myself"), 100));
    QTest::qWait(100);
    QCOMPARE(messages.count(), 0);
}

void tst_SingleApplication::peerHandshake_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("closedByPrimary");
    QTest::addColumn<int>("started");
    QTest::addColumn<uint>("messageId");
    QTest::addColumn<QByteArray>("message");

    using namespace InstanceHandshake;
    const QString key = application()->instanceKey();
    const QByteArray tail = QByteArrayLiteral("tail bytes");

    QTest::newRow("message right after the handshake")
        << build(key, ConnectKind_Message, 7) + QByteArrayLiteral("hello") << false << 0 << 7u
        << QByteArrayLiteral("hello");
    QTest::newRow("duplicate start")
        << build(key, ConnectKind_Duplicate, 3) << false << 1 << 0u << QByteArray();
    QTest::newRow("secondary not announced without the option")
        << build(key, ConnectKind_Secondary, 4) << false << 0 << 0u << QByteArray();

    QString otherKey = key;
    otherKey[0] = otherKey.at(0) == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
    QTest::newRow("other program's key")
        << build(otherKey, ConnectKind_Duplicate, 5) + tail << true << 0 << 0u << tail;

    QByteArray badChecksum = build(key, ConnectKind_Duplicate, 5);
    badChecksum[badChecksum.size() - 1] = char(badChecksum.at(badChecksum.size() - 1) ^ 0x01);
    QTest::newRow("wrong checksum") << badChecksum + tail << true << 0 << 0u << tail;

    // The peer announces a terabyte: dropped at once instead of waited for.
    QTest::newRow("hostile length")
        << buildHeader(qint64(1) << 40) + buildBody(key, ConnectKind_Duplicate, 1) << true << 0
        << 0u << buildBody(key, ConnectKind_Duplicate, 1);
    QTest::newRow("negative length") << buildHeader(-55) + tail << true << 0 << 0u << tail;
}

// The peers below write to the primary of this process, which reads in this thread's event
// loop: their bytes are out once it has run (a blocking wait for them cannot end on Windows).
void tst_SingleApplication::peerHandshake()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, closedByPrimary);
    QFETCH(int, started);
    QFETCH(uint, messageId);
    QFETCH(QByteArray, message);

    SingleApplication *app = application();
    QSignalSpy startedSpy(app, &SingleApplication::instanceStarted);
    QSignalSpy messageSpy(app, &SingleApplication::receivedMessage);

    QLocalSocket peer;
    peer.connectToServer(app->serverName());
    QVERIFY(peer.waitForConnected(2000));
    peer.write(payload);
    QTRY_COMPARE_WITH_TIMEOUT(peer.bytesToWrite(), qint64(0), 2000);

    if (closedByPrimary) {
        QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QLocalSocket::UnconnectedState, 5000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(
            startedSpy.count() + messageSpy.count(), started + (message.isEmpty() ? 0 : 1), 5000);
        // The primary keeps a valid peer: later bytes still arrive with its number.
        peer.write(QByteArrayLiteral("later"));
        QTRY_COMPARE_WITH_TIMEOUT(peer.bytesToWrite(), qint64(0), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !messageSpy.isEmpty() && messageSpy.last().at(1).toByteArray().endsWith("later"), 5000);
        QVERIFY(peer.state() == QLocalSocket::ConnectedState);
        messageSpy.removeLast();
    }
    QTest::qWait(50);

    QCOMPARE(startedSpy.count(), started);
    if (message.isEmpty()) {
        QCOMPARE(messageSpy.count(), 0);
    } else {
        QCOMPARE(messageSpy.count(), 1);
        QCOMPARE(messageSpy.at(0).at(0).toUInt(), messageId);
        QCOMPARE(messageSpy.at(0).at(1).toByteArray(), message);
    }
}

void tst_SingleApplication::handshakeArrivingInPieces()
{
    SingleApplication *app = application();
    QSignalSpy startedSpy(app, &SingleApplication::instanceStarted);
    QSignalSpy messageSpy(app, &SingleApplication::receivedMessage);

    QLocalSocket peer;
    peer.connectToServer(app->serverName());
    QVERIFY(peer.waitForConnected(2000));

    const QByteArray handshake
        = InstanceHandshake::build(app->instanceKey(), ConnectKind_Duplicate, 9);
    // Cut inside the header, at the header's end and inside the body.
    for (const auto &piece :
        { handshake.left(3), handshake.mid(3, 5), handshake.mid(8, 20), handshake.mid(28) }) {
        peer.write(piece);
        QTRY_COMPARE_WITH_TIMEOUT(peer.bytesToWrite(), qint64(0), 2000);
        QTest::qWait(30);
    }
    QTRY_COMPARE_WITH_TIMEOUT(startedSpy.count(), 1, 5000);
    QCOMPARE(messageSpy.count(), 0);

    peer.write(QByteArrayLiteral("first"));
    QTRY_COMPARE_WITH_TIMEOUT(peer.bytesToWrite(), qint64(0), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 1, 5000);
    QCOMPARE(messageSpy.at(0).at(0).toUInt(), 9u);
    QCOMPARE(messageSpy.at(0).at(1).toByteArray(), QByteArrayLiteral("first"));
}

void tst_SingleApplication::peerClosingBeforeHandshake()
{
    SingleApplication *app = application();
    QSignalSpy messageSpy(app, &SingleApplication::receivedMessage);
    {
        QLocalSocket peer;
        peer.connectToServer(app->serverName());
        QVERIFY(peer.waitForConnected(2000));
        peer.write(QByteArrayLiteral("half"));
        QTRY_COMPARE_WITH_TIMEOUT(peer.bytesToWrite(), qint64(0), 2000);
        peer.disconnectFromServer();
    }
    QTRY_COMPARE_WITH_TIMEOUT(messageSpy.count(), 1, 5000);
    QCOMPARE(messageSpy.at(0).at(0).toUInt(), 0u);
    QCOMPARE(messageSpy.at(0).at(1).toByteArray(), QByteArrayLiteral("half"));
}

void tst_SingleApplication::simultaneousStartsElectOnePrimary()
{
    for (int round = 0; round < 3; ++round) {
        const QString name = freshName("together");
        std::vector<std::unique_ptr<Helper>> helpers;
        for (int i = 0; i < 3; ++i)
            helpers.push_back(
                std::make_unique<Helper>(helperArgs(name, { QStringLiteral("--serve") })));

        QList<quint32> secondaries;
        int primaries = 0;
        for (auto &helper : helpers) {
            const QList<QByteArray> role = helper->role();
            QCOMPARE(role.size(), 4);
            if (role.at(0) == "primary") {
                ++primaries;
                QCOMPARE(role.at(1), QByteArrayLiteral("0"));
            } else {
                secondaries.append(role.at(1).toUInt());
            }
        }
        QCOMPARE(primaries, 1);
        std::sort(secondaries.begin(), secondaries.end());
        QCOMPARE(secondaries, (QList<quint32> { 1, 2 }));
        for (auto &helper : helpers)
            QCOMPARE(helper->quit(), 0);
    }
}

void tst_SingleApplication::laterStartsHandOverTheirMessage()
{
    const QString name = freshName("handover");
    Helper primary(helperArgs(name, { QStringLiteral("--serve") }));
    QCOMPARE(primary.role().value(0), QByteArrayLiteral("primary"));

    Helper second(helperArgs(name, { QStringLiteral("--serve") }));
    QCOMPARE(second.role().mid(0, 2), (QList<QByteArray> { "secondary", "1" }));

    // The third start, while primary and secondary run, is number 2 and its text arrives intact.
    const QByteArray text = QStringLiteral("d\u00e9j\u00e0 en cours \u2713").toUtf8();
    Helper third(helperArgs(name, { QStringLiteral("--send"), QString::fromUtf8(text) }));
    QCOMPARE(third.role().mid(0, 2), (QList<QByteArray> { "secondary", "2" }));
    QCOMPARE(third.line("sent"), QByteArrayLiteral("sent 1"));
    QCOMPARE(third.finish(), 0);
    QCOMPARE(primary.line("message"), "message 2 " + text.toHex());

    // A running secondary can send as well, and only the primary hears it.
    second.command("send from the second");
    QCOMPARE(second.line("sent"), QByteArrayLiteral("sent 1"));
    QCOMPARE(primary.line("message"), "message 1 " + QByteArrayLiteral("from the second").toHex());

    QCOMPARE(second.quit(), 0);
    QCOMPARE(primary.quit(), 0);
}

void tst_SingleApplication::announcedStartsReachPrimary()
{
    // With Option_NotifySecondary a secondary announces itself while it starts.
    const QString notifying = freshName("notify");
    const QStringList notifyArgs = helperArgs(
        notifying, { QStringLiteral("--options"), QStringLiteral("5"), QStringLiteral("--serve") });
    Helper first(notifyArgs);
    QCOMPARE(first.role().value(0), QByteArrayLiteral("primary"));
    Helper announced(notifyArgs);
    QCOMPARE(announced.role().mid(0, 2), (QList<QByteArray> { "secondary", "1" }));
    QCOMPARE(first.line("started"), QByteArrayLiteral("started"));
    QCOMPARE(announced.quit(), 0);
    QCOMPARE(first.quit(), 0);

    // Without secondaries, a later start tells the primary and ends before it gets a role.
    const QString name = freshName("duplicate");
    const QStringList args
        = helperArgs(name, { QStringLiteral("--no-secondary"), QStringLiteral("--serve") });
    Helper primary(args);
    QCOMPARE(primary.role().value(0), QByteArrayLiteral("primary"));

    Helper duplicate(args);
    QCOMPARE(duplicate.finish(), 0);
    QVERIFY(duplicate.line("role", 0).isEmpty());
    QCOMPARE(primary.line("started"), QByteArrayLiteral("started"));
    QCOMPARE(primary.quit(), 0);
}

void tst_SingleApplication::primaryRoleIsFreedOnExit()
{
    const QString name = freshName("freed");
    const QStringList serve = helperArgs(name, { QStringLiteral("--serve") });
    Helper first(serve);
    QCOMPARE(first.role().value(0), QByteArrayLiteral("primary"));
    Helper second(serve);
    QCOMPARE(second.role().value(0), QByteArrayLiteral("secondary"));
    QCOMPARE(first.quit(), 0);

    // The old secondary still holds the block; the next start takes over as primary.
    Helper third(serve);
    QCOMPARE(third.role().mid(0, 2), (QList<QByteArray> { "primary", "0" }));
    second.command("send hi");
    QCOMPARE(second.line("sent"), QByteArrayLiteral("sent 1"));
    QCOMPARE(third.line("message"), "message 1 " + QByteArrayLiteral("hi").toHex());
    QCOMPARE(second.quit(), 0);
    QCOMPARE(third.quit(), 0);
}

void tst_SingleApplication::deadPrimary()
{
    // A primary that died alone must not keep later starts out.
    const QString lonely = freshName("crashed");
    Helper crashed(helperArgs(lonely, { QStringLiteral("--abandon") }));
    QCOMPARE(crashed.role().value(0), QByteArrayLiteral("primary"));
    QCOMPARE(crashed.finish(), 0);
    Helper next(helperArgs(lonely));
    QCOMPARE(next.role().mid(0, 2), (QList<QByteArray> { "primary", "0" }));
    QCOMPARE(next.finish(), 0);

    // A primary that died while a secondary holds the block: later starts are secondaries
    // whose messages cannot be delivered, and they still end normally.
    const QString name = freshName("killed");
    Helper primary(helperArgs(name, { QStringLiteral("--serve") }));
    QCOMPARE(primary.role().value(0), QByteArrayLiteral("primary"));
    Helper secondary(helperArgs(name, { QStringLiteral("--serve") }));
    QCOMPARE(secondary.role().value(0), QByteArrayLiteral("secondary"));
    primary.kill();

    Helper late(helperArgs(name, { QStringLiteral("--send"), QStringLiteral("anyone?") }));
    QCOMPARE(late.role().mid(0, 2), (QList<QByteArray> { "secondary", "2" }));
    QCOMPARE(late.line("sent"), QByteArrayLiteral("sent 0"));
    QCOMPARE(late.finish(), 0);
    QCOMPARE(secondary.quit(), 0);
}

void tst_SingleApplication::inconsistentBlockIsRecovered()
{
    const QString name = freshName("inconsistent");
    QString key;
    {
        Helper probe(helperArgs(name));
        const QList<QByteArray> role = probe.role();
        QCOMPARE(role.value(0), QByteArrayLiteral("primary"));
        QCOMPARE(probe.finish(), 0);
        key = QString::fromLatin1(role.value(2));
    }

    // Leave a block behind whose writer "died" half-way: garbage that fails the checksum.
    QSharedMemory block;
    block.setNativeKey(blockKey(key.toLatin1()));
    QVERIFY2(createBlock(block, InstanceBlock::Size), qPrintable(block.errorString()));
    char *data = static_cast<char *>(block.data());
    for (int i = 0; i < InstanceBlock::Size; ++i)
        data[i] = char(0xA5 ^ i);
    data[0] = 1; // claims a primary
    QVERIFY(!InstanceBlock::load(data).isConsistent());

    Helper late(helperArgs(name, { QStringLiteral("--serve") }));
    const QList<QByteArray> role = late.role();
    QCOMPARE(role.mid(0, 2), (QList<QByteArray> { "primary", "0" }));
    const qint64 waited = role.value(3).toLongLong();
    QVERIFY2(waited > 5000 && waited < 15000, qPrintable(QString::number(waited)));
    QVERIFY(late.standardError().contains("SingleApplication: Shared memory block has been in an "
                                          "inconsistent state from more than 5s. "
                                          "Assuming primary instance failure."));

    const InstanceBlock seen = InstanceBlock::load(block.constData());
    QVERIFY(seen.isConsistent());
    QCOMPARE(int(seen.hasPrimary), 1);
    QCOMPARE(seen.secondaryCount, 0u);
    QCOMPARE(late.quit(), 0);
}

// A block that cannot be created (another user can fill the system's table) starts the window
// without the guard. The kernel's limits are set in an IPC namespace of the helper's own.
void tst_SingleApplication::unusableSharedMemoryStartsUnguarded_data()
{
    QTest::addColumn<QString>("limit"); // "SETTING=VALUE" under /proc/sys/kernel, "" for none
    QTest::newRow("a directory at the key file") << QString();
    QTest::newRow("the system's table full") << QStringLiteral("shmmni=0");
    QTest::newRow("blocks limited below its size") << QStringLiteral("shmmax=100");
}

void tst_SingleApplication::unusableSharedMemoryStartsUnguarded()
{
    QFETCH(QString, limit);
#ifdef Q_OS_WIN
    Q_UNUSED(limit)
    QSKIP("the block's key file and the kernel's limits are Linux's");
#else
    const QString name = freshName("nomemory");
    const QString keyFile = guardFile(probeKey(name), ".block");
    QString program = helperPath;
    QStringList args = helperArgs(name);
    if (limit.isEmpty()) {
        QVERIFY(QDir().mkpath(keyFile));
    } else {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("needs root and unshare for an IPC namespace of the helper's own");
        program = QStringLiteral("unshare");
        args = QStringList { QStringLiteral("--ipc"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("echo %2 > /proc/sys/kernel/%1 && exec \"$0\" \"$@\"")
                .arg(limit.section(QLatin1Char('='), 0, 0), limit.section(QLatin1Char('='), 1)),
            helperPath }
            + args;
    }
    Helper helper(args, QProcessEnvironment::systemEnvironment(), program);
    const QList<QByteArray> role = helper.role();
    const int code = helper.finish();
    QDir().rmdir(keyFile);
    const QByteArray log = helper.standardError();
    if (role.isEmpty() && log.contains("unshare:"))
        QSKIP("no IPC namespace can be made here");
    QCOMPARE(code, 0);
    QCOMPARE(role.mid(0, 2), (QList<QByteArray> { "primary", "0" }));
    QCOMPARE(log.count("starting without the single-instance guard"), 1);
#endif
}

// The key holds the user name: another user's start becomes a primary of its own and does
// not reach this user's instance. Needs root to start the helper as the user "nobody".
void tst_SingleApplication::twoUsersGetTwoPrimaries()
{
#ifdef Q_OS_WIN
    QSKIP("a second user needs a second account, which Wine does not have");
#else
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs root and setpriv to start a process as a second user");
    const QString name = freshName("users");
    Helper mine(helperArgs(name, { QStringLiteral("--serve") }));
    const QList<QByteArray> myRole = mine.role();
    QCOMPARE(myRole.value(0), QByteArrayLiteral("primary"));

    // A home of their own, where their guard's cache directory goes.
    QTemporaryDir home;
    QVERIFY(::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("USER"), QStringLiteral("nobody"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    Helper theirs(QStringList { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                      QStringLiteral("--clear-groups"), helperPath }
            + helperArgs(name, { QStringLiteral("--send"), QStringLiteral("hello") }),
        env, QStringLiteral("setpriv"));
    const QList<QByteArray> theirRole = theirs.role();
    if (theirRole.isEmpty())
        QSKIP("the helper cannot run as the user nobody here (build tree not readable?)");
    QCOMPARE(theirRole.mid(0, 2), (QList<QByteArray> { "primary", "0" }));
    QVERIFY(theirRole.value(2) != myRole.value(2));
    // A primary does not send to anybody, and nothing reached this user's instance.
    QCOMPARE(theirs.line("sent"), QByteArrayLiteral("sent 0"));
    QCOMPARE(theirs.finish(), 0);
    QCOMPARE(mine.line("message", 500), QByteArray());
    QCOMPARE(mine.quit(), 0);
#endif
}

// The guard's objects never reach the shared temporary directory, nor a runtime directory
// that other users can enter (the cache directory then takes over), and are private.
void tst_SingleApplication::guardObjectsArePrivate_data()
{
    QTest::addColumn<int>("runtimeMode");
    QTest::addColumn<QString>("guardDirectory");
    QTest::newRow("private runtime directory") << 0700 << QStringLiteral("runtime/corvane-x9");
    QTest::newRow("runtime directory others can enter")
        << 0755 << QStringLiteral("cache/corvane-x9");
}

void tst_SingleApplication::guardObjectsArePrivate()
{
    QFETCH(int, runtimeMode);
    QFETCH(QString, guardDirectory);
#ifdef Q_OS_WIN
    Q_UNUSED(runtimeMode)
    Q_UNUSED(guardDirectory)
    QSKIP("modes and XDG_RUNTIME_DIR are Linux's; on Windows the user's profile keeps the guard's "
          "files");
#else
    QTemporaryDir root;
    const QDir dir(root.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const std::pair<const char *, const char *> places[]
        = { { "TMPDIR", "tmp" }, { "XDG_RUNTIME_DIR", "runtime" }, { "XDG_CACHE_HOME", "cache" } };
    for (const auto &place : places) {
        const QString path = dir.filePath(QLatin1String(place.second));
        QVERIFY(::mkdir(QFile::encodeName(path).constData(), mode_t(runtimeMode)) == 0);
        env.insert(QLatin1String(place.first), path);
    }

    const QString name = freshName("private");
    Helper primary(helperArgs(name, { QStringLiteral("--serve") }), env);
    const QByteArray key = primary.role().value(2);
    Helper second(helperArgs(name, { QStringLiteral("--send"), QStringLiteral("hi") }), env);
    QCOMPARE(second.line("sent"), QByteArrayLiteral("sent 1"));

    // Only Qt's own stand-in for a runtime directory it cannot use may appear there.
    QCOMPARE(QDir(dir.filePath(QStringLiteral("tmp")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .filter(QRegularExpression(QStringLiteral("^(?!runtime-)"))),
        QStringList());
    const QString guard = dir.filePath(guardDirectory);
    for (const QString &path :
        { guard, guard + QLatin1Char('/') + QString::fromLatin1(key.left(16) + ".lock") })
        QVERIFY2(QFileInfo::exists(path) && int(QFileInfo(path).permissions() & 0x77) == 0,
            qPrintable(path));
    QCOMPARE(primary.quit(), 0);
#endif
}

// A block where the guard looks that another user made, left unattachable or posing as a
// running primary, does not keep the window from starting; one in the shared temporary
// directory is not even looked at.
void tst_SingleApplication::foreignBlockDoesNotStopTheWindow_data()
{
    QTest::addColumn<bool>("atGuardKeyFile");
    QTest::newRow("in the shared temporary directory") << false;
    QTest::newRow("at the guard's own key file") << true;
}

void tst_SingleApplication::foreignBlockDoesNotStopTheWindow()
{
    QFETCH(bool, atGuardKeyFile);
#ifdef Q_OS_WIN
    Q_UNUSED(atGuardKeyFile)
    QSKIP("another user's block needs a second account, which Wine does not have");
#else
    const QString name = freshName("foreign");
    const QByteArray key = probeKey(name);
    QSharedMemory planted(QString::fromLatin1(key));
    if (atGuardKeyFile)
        planted.setNativeKey(guardFile(key, ".block"));
    QVERIFY2(
        OrphanedBlocks::create(planted, InstanceBlock::Size), qPrintable(planted.errorString()));
    InstanceBlock block = InstanceBlock::load(planted.constData());
    block.registerPrimary(1, QByteArrayLiteral("mallory"));
    block.store(planted.data());
    // Root hands the block to another user and lets everybody attach it; others lock it.
    const int id = ::shmget(::ftok(QFile::encodeName(planted.nativeKey()).constData(), 'Q'), 0, 0);
    struct shmid_ds own = {}, foreign = {};
    QVERIFY(::shmctl(id, IPC_STAT, &own) == 0 && ::shmctl(id, IPC_STAT, &foreign) == 0);
    foreign.shm_perm.uid = ::geteuid() == 0 ? 65534 : own.shm_perm.uid;
    foreign.shm_perm.mode = ::geteuid() == 0 ? 0666 : 0;
    QVERIFY(::shmctl(id, IPC_SET, &foreign) == 0);

    Helper window(helperArgs(name, { QStringLiteral("--serve") }));
    const QByteArray role = window.role().value(0);
    QCOMPARE(window.quit(), 0);
    QVERIFY(::shmctl(id, IPC_SET, &own) == 0);
    QCOMPARE(role, QByteArrayLiteral("primary"));
    QCOMPARE(window.standardError().count("starting without the single-instance guard"),
        atGuardKeyFile ? 1 : 0);
#endif
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every process of the test meets in a private runtime directory of its own.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
#ifndef Q_OS_WIN
    ::umask(022);
#endif
    QCoreApplication::setApplicationName(
        QStringLiteral("tst_singleapplication-%1").arg(QCoreApplication::applicationPid()));
    SingleApplication app(argc, argv, true, SingleApplication::Option_PerUser, 1000, QString());
    tst_SingleApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleapplication.moc"
