// SPDX-License-Identifier: GPL-3.0-or-later
#include "backupfile.h"
#include "flashlayout.h"
#include "operationhistory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QByteArray serialA = QByteArrayLiteral("00112233445566778899aabb");
const QByteArray serialB = QByteArrayLiteral("00112233445566778899aabc");

// Configuration data whose firmware record names the given version.
QByteArray backupData(int length, quint8 major, quint8 minor, quint8 patch)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 31 + 7) & 0xFF);
    FlashLayout::writeFirmwareRecord(data, 0x08010000, major, minor, patch, 0);
    return data;
}

} // namespace

class tst_BackupFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void fileFormat_data();
    void fileFormat();
    void verification_data();
    void verification();
    void versionGate_data();
    void versionGate();
    void writeIsAtomicAndLeavesBufferIntact();
    void unreadableFiles();
    void writtenFilesArePrivate();
};

void tst_BackupFile::fileFormat_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("fileSize");
    QTest::newRow("layout 1") << int(BackupFile::Layout1Length) << 114704;
    QTest::newRow("layout 2") << int(BackupFile::Layout2Length) << 245776;
}

// The file must be readable by any copy of the tool: data, MD5 of the data, every byte
// XORed with MD5 of the serial text.
void tst_BackupFile::fileFormat()
{
    QFETCH(int, length);
    QFETCH(int, fileSize);
    const QByteArray plain = backupData(length, 5, 6, 1);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("config.bkp"));
    QVERIFY(BackupFile::write(path, plain.constData(), plain.size(), serialA));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), fileSize);

    const QByteArray k = QCryptographicHash::hash(serialA, QCryptographicHash::Md5);
    QByteArray unscrambled = bytes;
    for (int i = 0; i < unscrambled.size(); ++i)
        unscrambled[i] = char(unscrambled[i] ^ k[i % 16]);
    QCOMPARE(unscrambled.left(length), plain);
    QCOMPARE(unscrambled.mid(length), QCryptographicHash::hash(plain, QCryptographicHash::Md5));
    QVERIFY(bytes.left(length) != plain);

    const BackupFile::ReadResult result = BackupFile::read(path, serialA, QStringLiteral("5.6.1"));
    QCOMPARE(result.status, BackupFile::ReadStatus_Ok);
    QCOMPARE(result.data, unscrambled);
    QCOMPARE(result.version, QStringLiteral("5.6.1"));
}

void tst_BackupFile::verification_data()
{
    QTest::addColumn<QByteArray>("readSerial");
    QTest::addColumn<int>("flipAt"); // -1: no damage
    QTest::addColumn<int>("truncateTo"); // -1: whole file
    QTest::addColumn<int>("status");

    QTest::newRow("same adapter") << serialA << -1 << -1 << int(BackupFile::ReadStatus_Ok);
    QTest::newRow("other adapter") << serialB << -1 << -1 << int(BackupFile::ReadStatus_Corrupted);
    QTest::newRow("damaged data byte")
        << serialA << 5000 << -1 << int(BackupFile::ReadStatus_Corrupted);
    QTest::newRow("damaged digest byte")
        << serialA << 0x1C000 + 15 << -1 << int(BackupFile::ReadStatus_Corrupted);
    QTest::newRow("truncated") << serialA << -1 << 0x1C000 << int(BackupFile::ReadStatus_Corrupted);
    QTest::newRow("too short for a digest")
        << serialA << -1 << 12 << int(BackupFile::ReadStatus_Corrupted);
}

void tst_BackupFile::verification()
{
    QFETCH(QByteArray, readSerial);
    QFETCH(int, flipAt);
    QFETCH(int, truncateTo);
    QFETCH(int, status);

    const QByteArray plain = backupData(int(BackupFile::Layout1Length), 5, 4, 9);
    QByteArray file = BackupFile::encode(plain.constData(), plain.size(), serialA);
    if (flipAt >= 0)
        file[flipAt] = char(file[flipAt] ^ 0x01);
    if (truncateTo >= 0)
        file.truncate(truncateTo);

    if (status == BackupFile::ReadStatus_Corrupted)
        QTest::ignoreMessage(QtWarningMsg, "Corrupted file/Unauthorized !");
    const BackupFile::ReadResult result
        = BackupFile::decode(file, readSerial, QStringLiteral("5.6.0"));
    QCOMPARE(int(result.status), status);
    if (status == BackupFile::ReadStatus_Ok) {
        QCOMPARE(result.data.left(plain.size()), plain);
    } else {
        QVERIFY(result.data.isEmpty());
        QCOMPARE(result.errorString, QStringLiteral("Corrupted file/Unauthorized !"));
    }
}

void tst_BackupFile::versionGate_data()
{
    QTest::addColumn<QByteArray>("backupVersion");
    QTest::addColumn<QString>("adapterVersion");
    QTest::addColumn<bool>("refused");

    QTest::newRow("5.7.0 on 5.6.9") << QByteArray("\x05\x07\x00", 3) << "5.6.9" << true;
    QTest::newRow("5.7.0 on 5.7.2") << QByteArray("\x05\x07\x00", 3) << "5.7.2" << false;
    QTest::newRow("5.6.0 on 5.5.30") << QByteArray("\x05\x06\x00", 3) << "5.5.30" << true;
    QTest::newRow("5.6.0 on 5.6.0") << QByteArray("\x05\x06\x00", 3) << "5.6.0" << false;
    QTest::newRow("newer patch only") << QByteArray("\x05\x05\x63", 3) << "5.5.0" << false;
    QTest::newRow("older backup") << QByteArray("\x05\x04\x09", 3) << "5.6.2" << false;
}

void tst_BackupFile::versionGate()
{
    QFETCH(QByteArray, backupVersion);
    QFETCH(QString, adapterVersion);
    QFETCH(bool, refused);

    const QByteArray plain = backupData(
        4096, quint8(backupVersion[0]), quint8(backupVersion[1]), quint8(backupVersion[2]));
    const QByteArray file = BackupFile::encode(plain.constData(), plain.size(), serialA);
    const BackupFile::ReadResult result = BackupFile::decode(file, serialA, adapterVersion);

    const QString expectedVersion = QStringLiteral("%1.%2.%3")
                                        .arg(quint8(backupVersion[0]))
                                        .arg(quint8(backupVersion[1]))
                                        .arg(quint8(backupVersion[2]));
    QCOMPARE(result.version, expectedVersion);
    if (refused) {
        QCOMPARE(result.status, BackupFile::ReadStatus_UpdateRequired);
        QVERIFY(result.data.isEmpty());
        QCOMPARE(result.errorString,
            QStringLiteral("Firmware Update Required( >= %1) !").arg(expectedVersion));
    } else {
        QCOMPARE(result.status, BackupFile::ReadStatus_Ok);
        QCOMPARE(result.data.size(), plain.size() + 16);
    }
}

void tst_BackupFile::writeIsAtomicAndLeavesBufferIntact()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("config.bkp"));
    const QByteArray previous("an earlier backup");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(previous);
    }

    // A refused write leaves the file at the chosen path as it was.
    QString error;
    QVERIFY(!BackupFile::write(path, nullptr, 0, serialA, &error));
    QVERIFY(!error.isEmpty());
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), previous);
    }
    QVERIFY(!BackupFile::write(
        dir.filePath(QStringLiteral("missing/config.bkp")), "x", 1, serialA, &error));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("missing/config.bkp"))));

    // Saving the same buffer twice gives two good files: the buffer is not scrambled.
    const QByteArray plain = backupData(int(BackupFile::Layout2Length), 5, 6, 0);
    const QByteArray untouched = plain;
    const QString second = dir.filePath(QStringLiteral("again.bkp"));
    QVERIFY(BackupFile::write(path, plain.constData(), plain.size(), serialA));
    QVERIFY(BackupFile::write(second, plain.constData(), plain.size(), serialA));
    QCOMPARE(plain, untouched);
    QCOMPARE(
        BackupFile::read(path, serialA, QStringLiteral("5.6.0")).status, BackupFile::ReadStatus_Ok);
    QCOMPARE(BackupFile::read(second, serialA, QStringLiteral("5.6.0")).status,
        BackupFile::ReadStatus_Ok);

    // No temporary file is left behind next to the backup.
    const QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(entries, (QStringList { QStringLiteral("again.bkp"), QStringLiteral("config.bkp") }));
}

void tst_BackupFile::unreadableFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString empty = dir.filePath(QStringLiteral("empty.bkp"));
    {
        QFile file(empty);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(BackupFile::read(empty, serialA, QStringLiteral("5.6.0")).status,
        BackupFile::ReadStatus_Unreadable);
    QCOMPARE(
        BackupFile::read(dir.filePath(QStringLiteral("none.bkp")), serialA, QStringLiteral("5.6.0"))
            .status,
        BackupFile::ReadStatus_Unreadable);
}

// Under the usual umask 022, new files and folders come out the user's alone, and a backup
// that an earlier version left readable to others is tightened when it is replaced.
void tst_BackupFile::writtenFilesArePrivate()
{
#ifdef Q_OS_WIN
    QSKIP("file modes and the umask are POSIX; on Windows the files are private through the "
          "permissions of the user's profile folders they are in");
#else
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.bkp"));
    const mode_t umask = ::umask(022);
    QVERIFY(QFile(old).open(QIODevice::WriteOnly));
    QVERIFY(QFileInfo(old).permissions() & QFileDevice::ReadOther);
    QVERIFY(BackupFile::write(old, "x", 1, serialA));
    QVERIFY(BackupFile::write(dir.filePath(QStringLiteral("new.bkp")), "x", 1, serialA));
    QVERIFY(
        OperationHistory::append(OperationHistory::filePath(dir.filePath(QStringLiteral("a/b"))),
            QJsonObject { { QStringLiteral("operation"), QStringLiteral("update") } }));
    ::umask(umask);
    for (const char *name : { "old.bkp", "new.bkp", "a", "a/b", "a/b/history.jsonl" }) {
        const QFileInfo entry(dir.filePath(QLatin1String(name)));
        QVERIFY2(entry.exists() && int(entry.permissions() & 0x77) == 0, name);
    }
#endif
}

QTEST_GUILESS_MAIN(tst_BackupFile)
#include "tst_backupfile.moc"
