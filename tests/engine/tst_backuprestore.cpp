// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "backupfile.h"
#include "deviceflash.h"
#include "firmwareimagemaker.h"
#include "flashlayout.h"
#include "operationhistory.h"
#include "testdata.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

constexpr quint32 ConfigAddress = 0x08004000;
constexpr quint32 Sector2Address = 0x08008000;
constexpr quint32 Sector4Address = 0x08010000;
constexpr quint32 MacroAddress = 0x08020000;
constexpr int BootModeOffset = 0x82;

int le16(const QByteArray &bytes, int offset)
{
    return quint8(bytes.at(offset)) | quint8(bytes.at(offset + 1)) << 8;
}

void putLe16(QByteArray &bytes, int offset, int value)
{
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}

QByteArray record(int length, quint8 layout, int seed)
{
    QByteArray r(length, '\0');
    for (int i = 5; i < length; ++i)
        r[i] = char((i * 11 + seed) & 0xFF);
    putLe16(r, 0, length);
    r[4] = char(layout);
    std::memcpy(r.data() + 5, "Macro", 6);
    return r;
}

QByteArray lengthBlock(int length, int seed)
{
    QByteArray b(length, '\0');
    for (int i = 2; i < length - 2; ++i)
        b[i] = char((i * 3 + seed) & 0xFF);
    putLe16(b, 0, length);
    b[length - 2] = char(0xAA);
    b[length - 1] = char(0x55);
    return b;
}

struct Version
{
    quint8 major, minor, patch;
    QString text() const { return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch); }
};

// The adapter's configuration as the given firmware keeps it after a factory restore: the
// configuration block headed by the firmware record (the firmware stored from 0x08040000,
// or 0x08020000 below 5.5.0), the sector-2 and sector-4 blocks, and the macros (layout 1
// inside the configuration block below 5.5.0, the macro block at 0x08020000 from 5.5.0 on).
void seedAdapter(const Version &v, quint8 bootMode, int seed, const QList<QByteArray> &macros)
{
    const bool layout1 = v.major < 5 || (v.major == 5 && v.minor < 5);
    QByteArray block(0x4000, '\0');
    for (int i = 0x42; i <= 0xE3; ++i)
        block[i] = char((i * seed + 1) & 0xFF);
    for (int i = 0x3F1D; i <= 0x3FFE; ++i)
        block[i] = char((i * seed + 2) & 0xFF);
    FlashLayout::writeFirmwareRecord(
        block, layout1 ? 0x08020000 : 0x08040000, v.major, v.minor, v.patch, 1000);
    block[BootModeOffset] = char(bootMode);
    block[0x3FFF] = char(0xAA);

    QByteArray records;
    for (const QByteArray &m : macros)
        records.append(m);
    if (layout1) {
        block[0x124] = char(macros.size());
        putLe16(block, 0x125, records.size());
        block.replace(0x164, records.size(), records);
    } else {
        QByteArray macro(64, '\0');
        putLe16(macro, 0, 64 + records.size() + 2);
        macro[2] = char(macros.size());
        putLe16(macro, 3, records.size());
        macro[10] = char(seed);
        macro += records + QByteArray("\xAA\x55", 2);
        AdapterEmulator::setMemory(MacroAddress, macro);
    }
    AdapterEmulator::setMemory(ConfigAddress, block);
    AdapterEmulator::setMemory(Sector2Address, lengthBlock(200 + seed, seed));
    AdapterEmulator::setMemory(Sector4Address, lengthBlock(400 + seed, seed + 1));
}

std::unique_ptr<DeviceFlash> connectAdapter()
{
    auto device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    device->openDevice();
    device->waitForIdle();
    return device;
}

struct Backup
{
    QByteArray data; // unscrambled, digest included
    QString version;
    qint64 fileSize = 0;
};

// Backs the adapter up into a file the way the window does, and reads the file back.
Backup makeBackup(DeviceFlash &device, const QString &path)
{
    Backup backup;
    qlonglong last = -1;
    qlonglong total = -2;
    QObject::connect(
        &device, &DeviceFlash::dataBackupProgressChanged, &device,
        [&](qlonglong c, qlonglong t, char *) { last = c, total = t; }, Qt::DirectConnection);
    if (!device.dataBackup())
        return backup;
    device.waitForIdle();
    if (last != total)
        return backup;
    if (!BackupFile::write(path, device.backupBuffer(), total, device.serialNumber()))
        return backup;
    backup.fileSize = QFileInfo(path).size();
    const BackupFile::ReadResult read
        = BackupFile::read(path, device.serialNumber(), device.version());
    backup.data = read.data;
    backup.version = read.version;
    return backup;
}

QByteArray flashArea()
{
    return AdapterEmulator::memory(ConfigAddress, 0x3C000);
}

QByteArray macroBlock()
{
    const QByteArray head = AdapterEmulator::memory(MacroAddress, 2);
    return AdapterEmulator::memory(MacroAddress, quint32(le16(head, 0)));
}

} // namespace

Q_DECLARE_METATYPE(Version)

class tst_BackupRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void restoreAcrossVersions_data();
    void restoreAcrossVersions();
    void otherAdapterRefused();
    void malformedBackupWritesNothing_data();
    void malformedBackupWritesNothing();
    void restoreRefusedWhenConfigurationUnreadable();
    void restoreRefusedWithoutDataStore();
    void bufferNotRefilledWhileInUse();
    void bootModeAfterRestoreKeepsRestoredSettings();

private:
    QTemporaryDir m_dir;
};

void tst_BackupRestore::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void tst_BackupRestore::init()
{
    AdapterEmulator::reset();
}

void tst_BackupRestore::roundTrip_data()
{
    QTest::addColumn<Version>("version");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QString>("damage"); // other settings, or the operation that saves first
    QTest::addColumn<Version>("image");
    QTest::newRow("5.5.30") << Version { 5, 5, 30 } << 245776 << "reseed" << Version {};
    QTest::newRow("5.6.0") << Version { 5, 6, 0 } << 245776 << "reseed" << Version {};
    QTest::newRow("saved before an update")
        << Version { 5, 6, 0 } << 245776 << "update" << Version { 5, 6, 4 };
    QTest::newRow("saved before an update that converts the macros")
        << Version { 5, 5, 30 } << 245776 << "update" << Version { 5, 6, 0 };
    QTest::newRow("saved before a factory restore")
        << Version { 5, 6, 0 } << 245776 << "restore-defaults" << Version { 5, 6, 0 };
}

// Backup, damage, restore on the same adapter: the written regions come back unchanged.
void tst_BackupRestore::roundTrip()
{
    QFETCH(Version, version);
    QFETCH(int, fileSize);
    QFETCH(QString, damage);
    QFETCH(Version, image);
    seedAdapter(version, 2, 3, { record(100, 4, 1), record(180, 4, 2) });
    const QByteArray config = AdapterEmulator::memory(ConfigAddress, 0x4000);
    const QByteArray sector2 = AdapterEmulator::memory(Sector2Address, 203);
    const QByteArray sector4 = AdapterEmulator::memory(Sector4Address, 403);
    const QByteArray macro = macroBlock();

    auto device = connectAdapter();
    QCOMPARE(device->version(), version.text());
    Backup backup;
    QTemporaryDir data;
    const QString history = OperationHistory::filePath(data.path());
    if (damage == QLatin1String("reseed")) {
        backup = makeBackup(*device, m_dir.filePath(QStringLiteral("round.bkp")));
        QCOMPARE(backup.fileSize, qint64(fileSize));
        seedAdapter(version, 0, 9, { record(90, 4, 7) });
    } else {
        // The operation saves the configuration, then wipes it.
        device->setDataDirectory(data.path());
        const QString file = m_dir.filePath(QStringLiteral("fw.rfw"));
        const QByteArray bytes = FirmwareImageMaker::make(
            image.major, image.minor, image.patch, TestData::pattern(3000, 7));
        QVERIFY(FirmwareImageMaker::writeToFile(file, bytes));
        QSignalSpy saved(device.get(), &DeviceFlash::autoBackupSaved);
        if (damage == QLatin1String("update"))
            device->updateFirmware(file);
        else
            device->restoreFactorySettings(file, image.text());
        device->waitForIdle();
        QCOMPARE(device->version(), image.text());
        QCOMPARE(saved.size(), 1);
        const QString path = saved.first().first().toString();
        QCOMPARE(QFileInfo(path).absolutePath(),
            data.filePath(
                QStringLiteral("backups/") + QString::fromLatin1(device->serialNumber())));
        QVERIFY2(QFileInfo(path).fileName().contains(QRegularExpression(
                     QStringLiteral("^\\d{8}-\\d{6}-%1\\.bkp$").arg(version.text()))),
            qPrintable(path));
        QCOMPARE(QFileInfo(path).size(), qint64(fileSize));

        const QList<QJsonObject> lines = OperationHistory::read(history);
        QCOMPARE(lines.size(), 1);
        const QJsonObject line = lines.first();
        QCOMPARE(line.value(QStringLiteral("operation")).toString(), damage);
        QCOMPARE(line.value(QStringLiteral("serial")).toString(),
            QString::fromLatin1(device->serialNumber()));
        QCOMPARE(line.value(QStringLiteral("fromVersion")).toString(), version.text());
        QCOMPARE(line.value(QStringLiteral("toVersion")).toString(), image.text());
        QCOMPARE(line.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
        QVERIFY(line.value(QStringLiteral("error")).isNull());
        QCOMPARE(line.value(QStringLiteral("image")).toString(), file);
        QCOMPARE(line.value(QStringLiteral("imageMd5")).toString(),
            QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
        QCOMPARE(line.value(QStringLiteral("backup")).toString(), path);
        QVERIFY(QDateTime::fromString(line.value(QStringLiteral("time")).toString(), Qt::ISODate)
                    .isValid());
        QVERIFY(line.value(QStringLiteral("seconds")).toDouble(-1) >= 0);

        const BackupFile::ReadResult read
            = BackupFile::read(path, device->serialNumber(), device->version());
        QCOMPARE(read.status, BackupFile::ReadStatus_Ok);
        backup.data = read.data;
        backup.version = read.version;
    }
    QCOMPARE(backup.version, version.text());
    QVERIFY(AdapterEmulator::memory(ConfigAddress, 0x4000) != config);
    AdapterEmulator::resetCounters();

    QSignalSpy progress(device.get(), &DeviceFlash::dataStoreProgressChanged);
    QSignalSpy settings(device.get(), &DeviceFlash::settingChanged);
    device->dataRestore(backup.data, backup.version);
    device->waitForIdle();

    QVERIFY(progress.size() > 2);
    QCOMPARE(progress.first().at(0).toLongLong(), qlonglong(0));
    QCOMPARE(progress.last().at(0), progress.last().at(1));
    QCOMPARE(settings.size(), 1);
    // An update's payload fills sector 4 now: that block is left out, the payload stays.
    const bool updated = damage == QLatin1String("update");
    QCOMPARE(AdapterEmulator::eraseLog().value(0),
        (updated ? QList<quint8> { 1, 2, 3, 5 } : QList<quint8> { 1, 2, 3, 4, 5 }));
    // Bytes 1 to 0x41 describe the firmware the adapter runs, not its configuration.
    const int from = damage == QLatin1String("reseed") ? 0 : 0x42;
    QCOMPARE(AdapterEmulator::memory(ConfigAddress, 0x4000).mid(from), config.mid(from));
    QCOMPARE(AdapterEmulator::memory(Sector2Address, 203), sector2);
    QCOMPARE(AdapterEmulator::memory(Sector4Address, 403),
        updated ? TestData::pattern(3000, 7).left(403) : sector4);
    if (DeviceFlash::isCompatibleVersion(version.text(), device->version())) {
        QCOMPARE(macroBlock(), macro);
    } else {
        // Both records in the newer layout, 47 bytes longer each.
        QCOMPARE(int(macroBlock()[2]), 2);
        QCOMPARE(le16(macroBlock(), 3), 64 + 100 + 180 + 2 * 47);
    }
    if (damage != QLatin1String("reseed")) {
        const QList<QJsonObject> lines = OperationHistory::read(history);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(
            lines.last().value(QStringLiteral("operation")).toString(), QStringLiteral("restore"));
        QCOMPARE(
            lines.last().value(QStringLiteral("result")).toString(), QStringLiteral("success"));
    }
}

void tst_BackupRestore::restoreAcrossVersions_data()
{
    QTest::addColumn<Version>("from");
    QTest::addColumn<Version>("to");
    QTest::addColumn<int>("recordLength"); // 0: no macros
    QTest::addColumn<bool>("converted");
    QTest::addColumn<int>("fileSize");

    QTest::newRow("layout 1 onto 5.5.30")
        << Version { 5, 4, 9 } << Version { 5, 5, 30 } << 100 << false << 114704;
    QTest::newRow("layout 1 onto 5.6.2")
        << Version { 5, 4, 9 } << Version { 5, 6, 2 } << 100 << true << 114704;
    QTest::newRow("layout 1 without macros onto 5.6.2")
        << Version { 5, 4, 9 } << Version { 5, 6, 2 } << 0 << true << 114704;
    QTest::newRow("layout 2 from 5.5.10 onto 5.6.0")
        << Version { 5, 5, 10 } << Version { 5, 6, 0 } << 100 << true << 245776;
    QTest::newRow("layout 2 from 5.6.0 onto 5.6.7")
        << Version { 5, 6, 0 } << Version { 5, 6, 7 } << 100 << false << 245776;
}

void tst_BackupRestore::restoreAcrossVersions()
{
    QFETCH(Version, from);
    QFETCH(Version, to);
    QFETCH(int, recordLength);
    QFETCH(bool, converted);
    QFETCH(int, fileSize);

    const QByteArray old = record(qMax(recordLength, 85), 2, 5);
    const QList<QByteArray> macros
        = recordLength ? QList<QByteArray> { old } : QList<QByteArray> {};
    seedAdapter(from, 3, 5, macros);
    const QByteArray backedUp = AdapterEmulator::memory(ConfigAddress, 0x4000);
    Backup backup;
    {
        auto device = connectAdapter();
        backup = makeBackup(*device, m_dir.filePath(QStringLiteral("cross.bkp")));
    }
    QCOMPARE(backup.fileSize, qint64(fileSize));
    QCOMPARE(backup.version, from.text());

    // The same adapter after a firmware change, with other settings.
    AdapterEmulator::reset();
    seedAdapter(to, 1, 8, {});
    const QByteArray current = AdapterEmulator::memory(ConfigAddress, 0x4000);
    auto device = connectAdapter();
    QCOMPARE(device->version(), to.text());
    const BackupFile::ReadResult read = BackupFile::read(
        m_dir.filePath(QStringLiteral("cross.bkp")), device->serialNumber(), device->version());
    QCOMPARE(read.status, BackupFile::ReadStatus_Ok);
    QSignalSpy progress(device.get(), &DeviceFlash::dataStoreProgressChanged);
    device->dataRestore(read.data, read.version);
    device->waitForIdle();
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0), progress.last().at(1));

    // Firmware information from the adapter itself, settings from the backup.
    const QByteArray config = AdapterEmulator::memory(ConfigAddress, 0x4000);
    QCOMPARE(config.mid(1, 0x41), current.mid(1, 0x41));
    QCOMPARE(int(config[BootModeOffset]), 3);
    QCOMPARE(config.mid(0x42, 0xA2), backedUp.mid(0x42, 0xA2));
    QCOMPARE(config.mid(0x3F1D, 0xE2), backedUp.mid(0x3F1D, 0xE2));

    const QByteArray macro = macroBlock();
    QCOMPARE(int(macro[2]), recordLength ? 1 : 0);
    QCOMPARE(macro.right(2), QByteArray("\xAA\x55", 2));
    if (recordLength == 0) {
        QCOMPARE(macro.size(), 66);
        QCOMPARE(le16(macro, 3), 0);
    } else if (converted) {
        const QByteArray r = macro.mid(64, recordLength + 47);
        QCOMPARE(le16(r, 0), 147);
        QCOMPARE(int(r[4]), 4);
        QCOMPARE(int(r[84]), 1);
        QCOMPARE(r.mid(132, 15), old.mid(85, 15));
        // The records-size field counts 64 bytes more: zeros before the end marker.
        QCOMPARE(le16(macro, 3), 64 + 147);
        QCOMPARE(macro.mid(64 + 147, 64), QByteArray(64, '\0'));
        QCOMPARE(macro.size(), 64 + 64 + 147 + 2);
    } else {
        QCOMPARE(macro.mid(64, recordLength), old);
        QCOMPARE(le16(macro, 3), recordLength);
        QCOMPARE(macro.size(), 64 + recordLength + 2);
    }
}

void tst_BackupRestore::otherAdapterRefused()
{
    seedAdapter({ 5, 6, 0 }, 1, 4, { record(100, 4, 1) });
    const QString path = m_dir.filePath(QStringLiteral("other.bkp"));
    {
        auto device = connectAdapter();
        QCOMPARE(makeBackup(*device, path).fileSize, qint64(245776));
    }
    AdapterEmulator::setUniqueId(QByteArray::fromHex("0102030405060708090a0b0c"));
    auto device = connectAdapter();
    QCOMPARE(device->serialNumber(), QByteArray("0102030405060708090a0b0c"));
    QTest::ignoreMessage(QtWarningMsg, "Corrupted file/Unauthorized !");
    const BackupFile::ReadResult read
        = BackupFile::read(path, device->serialNumber(), device->version());
    QCOMPARE(read.status, BackupFile::ReadStatus_Corrupted);
    QVERIFY(read.data.isEmpty());
}

void tst_BackupRestore::malformedBackupWritesNothing_data()
{
    QTest::addColumn<Version>("from");
    QTest::addColumn<int>("patchOffset");
    QTest::addColumn<int>("patchValue");
    QTest::addColumn<int>("keepBytes"); // -1: whole backup

    QTest::newRow("sector-2 length past its sectors")
        << Version { 5, 6, 0 } << 0x4000 << 0xFFFF << -1;
    QTest::newRow("converted block over 65535 bytes")
        << Version { 5, 5, 10 } << 0x1C000 + 64 << 0xFF00 << -1;
    QTest::newRow("layout 2 cut before its macro block")
        << Version { 5, 6, 0 } << -1 << 0 << 0x1C000;
}

// Digest-correct files whose lengths are wrong: refused before anything is erased.
void tst_BackupRestore::malformedBackupWritesNothing()
{
    QFETCH(Version, from);
    QFETCH(int, patchOffset);
    QFETCH(int, patchValue);
    QFETCH(int, keepBytes);

    seedAdapter(from, 2, 6, { record(100, 2, 1), record(120, 2, 2) });
    QByteArray data;
    {
        auto device = connectAdapter();
        data = makeBackup(*device, m_dir.filePath(QStringLiteral("bad.bkp"))).data;
    }
    QVERIFY(!data.isEmpty());
    data.chop(16);
    if (patchOffset >= 0)
        putLe16(data, patchOffset, patchValue);
    if (keepBytes >= 0)
        data.truncate(keepBytes);

    AdapterEmulator::reset();
    seedAdapter({ 5, 6, 0 }, 1, 8, { record(90, 4, 3) });
    const QByteArray before = flashArea();
    auto device = connectAdapter();
    const QByteArray file
        = BackupFile::encode(data.constData(), data.size(), device->serialNumber());
    const BackupFile::ReadResult read
        = BackupFile::decode(file, device->serialNumber(), device->version());
    QCOMPARE(read.status, BackupFile::ReadStatus_Ok);

    AdapterEmulator::resetCounters();
    QSignalSpy progress(device.get(), &DeviceFlash::dataStoreProgressChanged);
    QSignalSpy errors(device.get(), &DeviceFlash::error);
    device->dataRestore(read.data, read.version);
    device->waitForIdle();
    QVERIFY(progress.isEmpty());
    QVERIFY(errors.isEmpty());
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), qint64(0));
    QCOMPARE(flashArea(), before);
}

void tst_BackupRestore::restoreRefusedWhenConfigurationUnreadable()
{
    seedAdapter({ 5, 6, 0 }, 2, 3, {});
    auto device = connectAdapter();
    const Backup backup = makeBackup(*device, m_dir.filePath(QStringLiteral("cfg.bkp")));
    QVERIFY(!backup.data.isEmpty());
    // configBuffer was never filled since connect: the restore must read it first, and
    // that read fails here.
    QVERIFY(!device->isConfigLoaded());
    const QByteArray before = flashArea();
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.wrongAddressAtExchange = 1;
    AdapterEmulator::setFaults(faults);

    QSignalSpy progress(device.get(), &DeviceFlash::dataStoreProgressChanged);
    device->dataRestore(backup.data, backup.version);
    device->waitForIdle();
    QVERIFY(progress.isEmpty());
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(flashArea(), before);
    QVERIFY(!device->isConfigLoaded());
}

// Below 5.5.0 sector 5 holds the factory firmware: a restore would overwrite it.
void tst_BackupRestore::restoreRefusedWithoutDataStore()
{
    seedAdapter({ 5, 4, 9 }, 2, 3, { record(100, 2, 1) });
    auto device = connectAdapter();
    const Backup backup = makeBackup(*device, m_dir.filePath(QStringLiteral("v1.bkp")));
    QCOMPARE(backup.fileSize, qint64(114704));
    AdapterEmulator::resetCounters();
    device->dataRestore(backup.data, backup.version);
    device->waitForIdle();
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), qint64(0));
}

void tst_BackupRestore::bufferNotRefilledWhileInUse()
{
    seedAdapter({ 5, 6, 0 }, 2, 3, {});
    auto device = connectAdapter();
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.stallAtExchange = 3;
    AdapterEmulator::setFaults(faults);

    QVERIFY(device->dataBackup());
    QVERIFY(!device->dataBackup());
    // The task stalls after two chunks: the buffer no longer changes from here on.
    QTRY_VERIFY(AdapterEmulator::exchangeCount() >= 3);
    const QByteArray before = QByteArray(device->backupBuffer(), 64);
    device->dataRestore(QByteArray(0x3C010, char(0x77)), QStringLiteral("5.6.0"));
    QCOMPARE(QByteArray(device->backupBuffer(), 64), before);

    // Ending the object ends the stalled read; the restore was never queued.
    device.reset();
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), qint64(0));
}

// A boot-mode write after a restore must rewrite the restored block, not the copy of the
// configuration that was read before it.
void tst_BackupRestore::bootModeAfterRestoreKeepsRestoredSettings()
{
    seedAdapter({ 5, 6, 0 }, 2, 3, {});
    auto device = connectAdapter();
    const Backup backup = makeBackup(*device, m_dir.filePath(QStringLiteral("boot.bkp")));
    const QByteArray backedUp = AdapterEmulator::memory(ConfigAddress, 0x4000);

    seedAdapter({ 5, 6, 0 }, 0, 11, {});
    device->setBootMode(1);
    device->waitForIdle();
    QCOMPARE(int(AdapterEmulator::memory(ConfigAddress + BootModeOffset, 1)[0]), 1);

    device->dataRestore(backup.data, backup.version);
    device->waitForIdle();
    device->setBootMode(4);
    device->waitForIdle();

    QByteArray expected = backedUp;
    expected[BootModeOffset] = 4;
    QCOMPARE(AdapterEmulator::memory(ConfigAddress, 0x4000), expected);
}

QTEST_GUILESS_MAIN(tst_BackupRestore)
#include "tst_backuprestore.moc"
