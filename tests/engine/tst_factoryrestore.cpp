// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"
#include "firmwareimagemaker.h"
#include "testdata.h"
#include "updatejobs.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace UpdateJobs;

namespace {

using TestData::pattern;

using TestData::currents;

// An image of that version padded with line feeds, which decoding skips, to fileLength bytes.
QByteArray image(const QString &version, int fileLength)
{
    Version v;
    parseVersionText(version, &v);
    const QByteArray file = FirmwareImageMaker::make(v.major, v.minor, v.patch, pattern(10, 1));
    return file + QByteArray(qMax(0, fileLength - int(file.size())), '\n');
}

} // namespace

class tst_FactoryRestore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesGenerationLayout_data();
    void writesGenerationLayout();
    void refusedRestoresTouchNothing_data();
    void refusedRestoresTouchNothing();

private:
    QString writeFile(const QByteArray &content);

    std::unique_ptr<DeviceFlash> m_device;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_FactoryRestore::init()
{
    AdapterEmulator::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    QVERIFY(m_device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId));
    // Old contents everywhere a restore may write: a missing erase fails the write.
    AdapterEmulator::setMemory(
        0x08004000, QByteArray(int(FlashLayout::ErasableEnd - 0x08004000), '\x11'));
    AdapterEmulator::resetCounters();
}

void tst_FactoryRestore::cleanup()
{
    m_device.reset();
    m_dir.reset();
}

QString tst_FactoryRestore::writeFile(const QByteArray &content)
{
    const QString path = m_dir->filePath(QStringLiteral("factory.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void tst_FactoryRestore::writesGenerationLayout_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("fileLength");
    QTest::addColumn<bool>("second");
    QTest::addColumn<QString>("announced");
    QTest::addColumn<QList<quint8>>("sectors");

    QTest::newRow("5.5.0, 100 bytes")
        << "5.5.0" << 100 << true << "5.5.0" << QList<quint8> { 1, 2, 4, 5, 6 };
    QTest::newRow("5.10.0 is not below 5.5.0")
        << "5.10.0" << 100 << true << "5.10.0" << QList<quint8> { 1, 2, 4, 5, 6 };
    QTest::newRow("5.4.9, first generation")
        << "5.4.9" << 100 << false << "5.4.9" << QList<quint8> { 1, 2, 4, 5, 6 };
    QTest::newRow("first generation, 200000 bytes")
        << "5.4.0" << 200000 << false << "5.4.0" << QList<quint8> { 1, 2, 4, 5, 6 };
    // A file past the 256 KiB of sectors 5 and 6 also needs the sectors after them.
    QTest::newRow("first generation, 300000 bytes")
        << "5.4.0" << 300000 << false << "5.4.0" << QList<quint8> { 1, 2, 4, 5, 6, 7 };
    // The largest files end with the last sector the erase reaches.
    QTest::newRow("second generation, largest file")
        << "5.6.0" << int(MaxRestoreFileV2) << true << "5.6.0"
        << QList<quint8> { 1, 2, 4, 5, 6, 7, 8, 9, 10, 11 };
    QTest::newRow("first generation, largest file")
        << "5.4.0" << int(MaxRestoreFileV1) << false << "5.4.0"
        << QList<quint8> { 1, 2, 4, 5, 6, 7, 8, 9, 10, 11 };
}

void tst_FactoryRestore::writesGenerationLayout()
{
    QFETCH(QString, version);
    QFETCH(int, fileLength);
    QFETCH(bool, second);
    QFETCH(QString, announced);
    QFETCH(QList<quint8>, sectors);

    const QByteArray file = image(version, fileLength);
    const QString path = writeFile(file);
    QSignalSpy progress(m_device.get(), &DeviceFlash::write2FlashProgressChanged);
    QSignalSpy versions(m_device.get(), &DeviceFlash::versionChanged);
    QSignalSpy settings(m_device.get(), &DeviceFlash::settingChanged);
    QSignalSpy errors(m_device.get(), &DeviceFlash::error);
    QTest::ignoreMessage(
        QtWarningMsg, second ? "restoreFactorySettings_v2" : "restoreFactorySettings_v1");

    m_device->restoreFactorySettings(path, version);
    m_device->waitForIdle();

    QCOMPARE(errors.count(), 0);
    QCOMPARE(AdapterEmulator::eraseLog(), QList<QList<quint8>> { sectors });

    Version parsed;
    QVERIFY(parseVersionText(version, &parsed));
    const quint32 start = second ? 0x08040000 : 0x08020000;
    QCOMPARE(AdapterEmulator::memory(0x08004000, 16384).toHex(),
        defaultConfigBlock(parsed, start, quint32(fileLength)).toHex());
    QCOMPARE(
        AdapterEmulator::memory(0x08008000, 67).toHex(), (defaultSecondBlock() + '\xff').toHex());
    QCOMPARE(
        AdapterEmulator::memory(0x08010000, 67).toHex(), (defaultBlankBlock() + '\xff').toHex());
    if (second)
        QCOMPARE(AdapterEmulator::memory(0x08020000, 67).toHex(),
            (defaultBlankBlock() + '\xff').toHex());
    QVERIFY(AdapterEmulator::memory(start, quint32(fileLength) + 3)
        == file + QByteArray("\x55\xaa\xff"));

    const qlonglong total = 16384 + (second ? 3 : 2) * 66 + fileLength + 2;
    if (second && fileLength == 100)
        QCOMPARE(total, 16684);
    const QList<qlonglong> written = currents(progress);
    QCOMPARE(written.first(), 52);
    QCOMPARE(written.last(), total);
    QCOMPARE(progress.last().at(1).toLongLong(), total);

    // The configuration block is read back and announces the restored version.
    QCOMPARE(versions.count(), 1);
    QCOMPARE(versions.first().first().toString(), announced);
    QCOMPARE(settings.count(), 1);
    QCOMPARE(m_device->configBuffer(), AdapterEmulator::memory(0x08004000, 16384));
    m_device->readDeviceConfig(); // the start-up read finds it too
    QCOMPARE(m_device->version(), announced);
}

void tst_FactoryRestore::refusedRestoresTouchNothing_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("fileLength");
    QTest::addColumn<QString>("image"); // the file's version; "" for random bytes
    QTest::addColumn<int>("errors");
    QTest::addColumn<QString>("warning");

    // Qt 6 writes a list into a log line with its type name in front.
    QTest::newRow("two-part version")
        << "5.5" << 100 << "" << 0
        << "^restoreFactorySettings Error! firmware_data.isEmpty false Device.isOpen true "
           "firmware_version.size is 3 false (QList)?\\(\"5\", \"5\"\\)$";
    QTest::newRow("empty file") << "5.5.0" << 0 << "" << 1
                                << "^restoreFactorySettings Error! firmware_data.isEmpty true";
    QTest::newRow("random bytes") << "5.6.3" << 1000 << "" << 1 << "^file md5 error$";
    QTest::newRow("another version's image")
        << "5.6.3" << 100 << "5.5.24" << 1
        << "^restoreFactorySettings image version \"5.5.24\" is not \"5.6.3\"$";
    QTest::newRow("second generation over capacity")
        << "5.6.0" << int(MaxRestoreFileV2) + 1 << "5.6.0" << 1
        << "^restoreFactorySettings firmware too large: 786431 bytes, at most 786430$";
    QTest::newRow("first generation over capacity")
        << "5.4.0" << int(MaxRestoreFileV1) + 1 << "5.4.0" << 1
        << "^restoreFactorySettings firmware too large: 917503 bytes, at most 917502$";
}

void tst_FactoryRestore::refusedRestoresTouchNothing()
{
    QFETCH(QString, version);
    QFETCH(int, fileLength);
    QFETCH(QString, image);
    QFETCH(int, errors);
    QFETCH(QString, warning);

    const QString path
        = writeFile(image.isEmpty() ? pattern(fileLength, 5) : ::image(image, fileLength));
    const QByteArray flashBefore = AdapterEmulator::memory(0x08000000, 0x200000);
    QSignalSpy errorSpy(m_device.get(), &DeviceFlash::error);
    QSignalSpy settings(m_device.get(), &DeviceFlash::settingChanged);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));

    m_device->restoreFactorySettings(path, version);
    m_device->waitForIdle();

    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
    QVERIFY(AdapterEmulator::memory(0x08000000, 0x200000) == flashBefore);
    QCOMPARE(errorSpy.count(), errors);
    for (const QList<QVariant> &args : errorSpy)
        QCOMPARE(args.first().value<DeviceError>(), DeviceError_FirmwareEmpty);
    // The configuration block is still read back.
    QCOMPARE(settings.count(), 1);
}

QTEST_GUILESS_MAIN(tst_FactoryRestore)
#include "tst_factoryrestore.moc"
