// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"
#include "deviceflashrecorder.h"
#include "firmwareimagemaker.h"
#include "operationhistory.h"
#include "testdata.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using TestData::pattern;

QByteArray le32(quint32 v)
{
    const char bytes[4] = { char(v), char(v >> 8), char(v >> 16), char(v >> 24) };
    return QByteArray(bytes, 4);
}

// What the adapter's flash must hold at 0x08004000 after an update.
QByteArray expectedRecord(quint8 major, quint8 minor, quint8 patch, const QByteArray &payload)
{
    const char version[3] = { char(major), char(minor), char(patch) };
    QByteArray record = QByteArray(1, '\x55') + le32(0x08010000) + QByteArray(version, 3)
        + le32(quint32(payload.size()))
        + QCryptographicHash::hash(payload, QCryptographicHash::Md5);
    record += QByteArray(255 - record.size(), '\0');
    return record + QByteArray(1, '\xaa');
}

} // namespace

class tst_FirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesRecordAndPayload_data();
    void writesRecordAndPayload();
    void refusedFilesTouchNothing_data();
    void refusedFilesTouchNothing();
    void faultsDuringTheWrite_data();
    void faultsDuringTheWrite();
    void closedAdapterEndsQuietly();
    void updateOverOtherFirmware_data();
    void updateOverOtherFirmware();
    void verifyOnlyReads_data();
    void verifyOnlyReads();

private:
    QString writeImage(const QByteArray &content);

    std::unique_ptr<DeviceFlash> m_device;
    std::unique_ptr<QTemporaryDir> m_dir;
    DeviceFlashRecorder m_recorder;
};

void tst_FirmwareUpdate::init()
{
    AdapterEmulator::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    QVERIFY(m_device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId));
    AdapterEmulator::resetCounters();
    m_recorder.clear();
    m_recorder.attach(m_device.get(), this);
}

void tst_FirmwareUpdate::cleanup()
{
    m_device.reset();
    m_dir.reset();
}

QString tst_FirmwareUpdate::writeImage(const QByteArray &content)
{
    const QString path = m_dir->filePath(QStringLiteral("Firmware_V5.7.2.rfw"));
    if (!FirmwareImageMaker::writeToFile(path, content))
        return QString();
    return path;
}

void tst_FirmwareUpdate::writesRecordAndPayload_data()
{
    QTest::addColumn<int>("payloadLength");
    QTest::addColumn<QList<quint8>>("sectors");
    // The payload's tail runs past the 64 KiB sector 4, so sector 5 is erased too.
    QTest::newRow("131071") << 131071 << QList<quint8> { 1, 4, 5 };
    QTest::newRow("65536") << 65536 << QList<quint8> { 1, 4 };
    QTest::newRow("65537") << 65537 << QList<quint8> { 1, 4, 5 };
    QTest::newRow("131072") << 131072 << QList<quint8> { 1, 4, 5 };
    QTest::newRow("largest, up to the end of sector 11")
        << 983040 << QList<quint8> { 1, 4, 5, 6, 7, 8, 9, 10, 11 };
}

void tst_FirmwareUpdate::writesRecordAndPayload()
{
    QFETCH(int, payloadLength);
    QFETCH(QList<quint8>, sectors);

    const QByteArray payload = pattern(payloadLength, payloadLength);
    const QString path = writeImage(FirmwareImageMaker::make(5, 7, 2, payload, [] {
        FirmwareImageMaker::Options o;
        o.lineLength = 76;
        return o;
    }()));
    m_device->updateVersion(); // a configuration copy that the update makes stale
    QVERIFY(m_device->isConfigLoaded());
    m_recorder.clear();
    QSignalSpy versions(m_device.get(), &DeviceFlash::versionChanged);

    m_device->updateFirmware(path);
    m_device->waitForIdle();

    QCOMPARE(AdapterEmulator::eraseLog(), QList<QList<quint8>> { sectors });
    QCOMPARE(
        AdapterEmulator::memory(0x08004000, 256).toHex(), expectedRecord(5, 7, 2, payload).toHex());
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payloadLength)) == payload);
    QCOMPARE(AdapterEmulator::memory(0x08010000 + quint32(payloadLength), 1), QByteArray("\xff"));

    const qlonglong total = 256 + payloadLength;
    QCOMPARE(m_recorder.names(),
        (QList<QByteArray> { "busy", "store", "write", "version", "finished", "busy" }));
    QCOMPARE(m_recorder.values("store"), QList<qlonglong> { 0 });
    QCOMPARE(m_recorder.totals("store"), QList<qlonglong> { total });
    const QList<qlonglong> written = m_recorder.values("write");
    QCOMPARE(written.first(), 52);
    QCOMPARE(written.last(), total);
    QCOMPARE(written.size(), 5 + (payloadLength + 51) / 52);
    QCOMPARE(versions.first().first().toString(), QStringLiteral("5.7.2"));
    QCOMPARE(m_device->version(), QStringLiteral("5.7.2"));
    QVERIFY(!m_device->isConfigLoaded());
}

void tst_FirmwareUpdate::refusedFilesTouchNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("errors");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("catalogueVersion");

    const QByteArray payload = pattern(300, 1);
    FirmwareImageMaker::Options otherKey;
    otherKey.key = QByteArrayLiteral("0123456789abcdef");
    FirmwareImageMaker::Options otherTag;
    otherTag.tag = QByteArrayLiteral("Corvane_X8");

    QTest::newRow("empty file") << QByteArray() << 2 << "file md5 error" << QString();
    QTest::newRow("not an image") << QByteArray("hello, world") << 1 << "file md5 error"
                                  << QString();
    QTest::newRow("other key") << FirmwareImageMaker::make(5, 7, 2, payload, otherKey) << 1
                               << "file md5 error" << QString();
    QTest::newRow("other product") << FirmwareImageMaker::make(5, 7, 2, payload, otherTag) << 1
                                   << "file type error" << QString();
    QTest::newRow("too short for a version") << FirmwareImageMaker::encipher(
        FirmwareImageMaker::withDigest(QByteArrayLiteral("Corvane_X9\x05\x06")))
                                             << 1 << "file type error" << QString();
    QTest::newRow("payload over capacity")
        << FirmwareImageMaker::make(5, 7, 2, pattern(983040 + 1, 2)) << 1
        << "updateFirmware firmware too large: 983041 bytes, at most 983040" << QString();
    QTest::newRow("version other than its catalogue entry's")
        << FirmwareImageMaker::make(5, 7, 2, payload) << 1
        << R"(updateFirmware image version "5.7.2" is not the catalogue's "5.7.3")"
        << QStringLiteral("5.7.3");
}

void tst_FirmwareUpdate::refusedFilesTouchNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(int, errors);
    QFETCH(QString, warning);
    QFETCH(QString, catalogueVersion);

    const QString path = writeImage(content);
    const QByteArray flashBefore = AdapterEmulator::memory(0x08000000, 0x200000);
    if (content.isEmpty())
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^getFirmwareData is Empty! \".*\" \".*\"$")));
    QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());

    m_device->updateFirmware(path, catalogueVersion);
    m_device->waitForIdle();

    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
    QVERIFY(AdapterEmulator::memory(0x08000000, 0x200000) == flashBefore);
    QList<qlonglong> expectedErrors;
    for (int i = 0; i < errors; ++i)
        expectedErrors.append(DeviceError_FirmwareEmpty);
    QCOMPARE(m_recorder.values("error"), expectedErrors);
    QCOMPARE(m_recorder.values("busy"), (QList<qlonglong> { 1, 0 }));
    QCOMPARE(m_device->version(), QString());
}

void tst_FirmwareUpdate::faultsDuringTheWrite_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("announced");

    // The record takes write commands 1-5; the erase follows the configuration's backup.
    QTest::newRow("unplugged in the payload") << "unplug" << int(DeviceError_WriteFailure) << false;
    QTest::newRow("unplugged while the configuration is saved")
        << "backup" << int(DeviceError_BackupFailure) << false;
    QTest::newRow("version unreadable") << "version" << int(DeviceError_BackupFailure) << false;
    QTest::newRow("corrupted payload echo") << "echo" << int(DeviceError_WriteFailure) << true;
    QTest::newRow("refused erase over the old record")
        << "erase" << int(DeviceError_EraseFailure) << false;
}

void tst_FirmwareUpdate::faultsDuringTheWrite()
{
    QFETCH(QString, fault);
    QFETCH(int, error);
    QFETCH(bool, announced);

    AdapterEmulator::seedFirmwareVersion(5, 6, 0);
    m_device->readDeviceConfig();
    QCOMPARE(m_device->version(), QStringLiteral("5.6.0"));
    if (fault == QLatin1String("version")) {
        // A later read fails at the firmware information: the version read before stays.
        AdapterEmulator::resetCounters();
        AdapterEmulator::Faults wrong;
        wrong.wrongCodeAtExchange = 4;
        AdapterEmulator::setFaults(wrong);
        m_device->readDeviceConfig();
    }
    AdapterEmulator::resetCounters();
    m_recorder.clear();
    const QString path = writeImage(FirmwareImageMaker::make(5, 7, 2, pattern(5000, 3)));
    m_device->setDataDirectory(m_dir->filePath(QStringLiteral("data")));
    // Reads of the backup before the erase: 30 slices of 8192 bytes, 158 reports each.
    constexpr int BackupExchanges = 30 * 158;
    AdapterEmulator::Faults faults;
    if (fault == QLatin1String("unplug"))
        faults.unplugAtExchange = BackupExchanges + 40;
    if (fault == QLatin1String("backup"))
        faults.unplugAtExchange = 100;
    if (fault == QLatin1String("echo"))
        faults.corruptEchoAtWrite = 20;
    faults.refuseErase = fault == QLatin1String("erase");
    AdapterEmulator::setFaults(faults);

    m_device->updateFirmware(path);
    m_device->waitForIdle();

    QCOMPARE(m_recorder.values("error"), QList<qlonglong> { error });
    const QList<QJsonObject> history = OperationHistory::read(
        OperationHistory::filePath(m_dir->filePath(QStringLiteral("data"))));
    QCOMPARE(history.size(), 1);
    QCOMPARE(history.first().value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    QCOMPARE(history.first().value(QStringLiteral("error")).toString(),
        OperationHistory::errorMessage(DeviceError(error)));
    const bool saved = error != DeviceError_BackupFailure;
    QCOMPARE(QFileInfo::exists(history.first().value(QStringLiteral("backup")).toString()), saved);
    if (!saved) {
        // Nothing erased, nothing written.
        QVERIFY(AdapterEmulator::eraseLog().isEmpty());
        QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
    }
    const QList<qlonglong> written = m_recorder.values("write");
    QVERIFY(written.isEmpty() || written.last() < 256 + 5000);
    QCOMPARE(!m_recorder.values("version").isEmpty(), announced);
    QCOMPARE(m_device->version(), announced ? QStringLiteral("5.7.2") : QStringLiteral("5.6.0"));
    // One error, after the last progress of the stopped write; the busy flag falls last.
    const QList<QByteArray> names = m_recorder.names();
    QVERIFY(names.lastIndexOf("write") < names.indexOf("error"));
    QCOMPARE(names.last(), QByteArray("busy"));
}

void tst_FirmwareUpdate::closedAdapterEndsQuietly()
{
    const QString path = writeImage(FirmwareImageMaker::make(5, 7, 2, pattern(100, 4)));
    DeviceFlash closed(nullptr, nullptr);
    DeviceFlashRecorder recorder;
    recorder.attach(&closed, this);
    QTest::ignoreMessage(QtWarningMsg, "updateFirmware Device.isOpen false");

    closed.updateFirmware(path);
    closed.waitForIdle();

    // No error, only the operation's one result.
    QCOMPARE(recorder.names(), (QList<QByteArray> { "busy", "finished", "busy" }));
    QCOMPARE(AdapterEmulator::exchangeCount(), 0);
}

void tst_FirmwareUpdate::updateOverOtherFirmware_data()
{
    QTest::addColumn<int>("payloadLength");
    QTest::newRow("tail in sector 5") << 100000;
    QTest::newRow("tail in sector 6") << 200000;
    QTest::newRow("up to sector 11") << 983040;
}

// Flash is NOR: bytes left by the previous firmware only accept the new ones after an
// erase, so every sector the new payload touches must be erased.
void tst_FirmwareUpdate::updateOverOtherFirmware()
{
    QFETCH(int, payloadLength);
    const QString first = writeImage(FirmwareImageMaker::make(5, 7, 1, pattern(payloadLength, 1)));
    m_device->updateFirmware(first);
    m_device->waitForIdle();
    QCOMPARE(m_device->version(), QStringLiteral("5.7.1"));

    const QByteArray payload = pattern(payloadLength, 0x5A);
    QSignalSpy errors(m_device.get(), &DeviceFlash::error);
    QSignalSpy progress(m_device.get(), &DeviceFlash::write2FlashProgressChanged);
    m_device->updateFirmware(writeImage(FirmwareImageMaker::make(5, 7, 2, payload)));
    m_device->waitForIdle();

    QCOMPARE(errors.count(), 0);
    QCOMPARE(progress.last().at(0).toLongLong(), qlonglong(256 + payloadLength));
    QVERIFY(AdapterEmulator::memory(0x08010000, quint32(payloadLength)) == payload);
    QCOMPARE(m_device->version(), QStringLiteral("5.7.2"));
}

void tst_FirmwareUpdate::verifyOnlyReads_data()
{
    QTest::addColumn<int>("flipAt"); // payload offset changed after the update, -1 for none
    QTest::addColumn<int>("unplugAt"); // request of the verify that unplugs, -1 for none
    // The boot mode the adapter keeps behind the record is changed in every row.
    QTest::newRow("adapter's own bytes changed") << -1 << -1;
    QTest::newRow("one payload byte flipped") << 4321 << -1;
    QTest::newRow("unplugged mid-read") << -1 << 20;
}

// A verify reads the image's bytes back, never erases or writes, and finds the exact byte.
void tst_FirmwareUpdate::verifyOnlyReads()
{
    QFETCH(int, flipAt);
    QFETCH(int, unplugAt);
    const QByteArray payload = pattern(5000, 7);
    const QString path = writeImage(FirmwareImageMaker::make(5, 7, 2, payload));
    m_device->updateFirmware(path);
    m_device->waitForIdle();
    AdapterEmulator::setMemory(0x08004082, QByteArray(1, '\x02'));
    if (flipAt >= 0)
        AdapterEmulator::setMemory(
            0x08010000 + quint32(flipAt), QByteArray(1, char(payload.at(flipAt) ^ 0x10)));
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.unplugAtExchange = unplugAt;
    AdapterEmulator::setFaults(faults);
    QSignalSpy progress(m_device.get(), &DeviceFlash::verifyProgressChanged);
    QSignalSpy regions(m_device.get(), &DeviceFlash::regionVerified);

    m_device->verifyFirmware(path);
    m_device->waitForIdle();

    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
    // The record's 27 bytes of the image in one read, then the payload.
    QCOMPARE(progress.last().at(0).toLongLong() == 27 + 5000, unplugAt < 0);
    QCOMPARE(regions.count(), unplugAt < 0 ? 2 : 1);
    QCOMPARE(regions.first().at(2).toUInt(), 0u);
    if (unplugAt >= 0)
        return;
    QCOMPARE(AdapterEmulator::exchangeCount(), 1 + (5000 + 51) / 52);
    QCOMPARE(regions.last().at(2).toUInt(), flipAt < 0 ? 0u : 1u);
    QCOMPARE(regions.last().at(3).toLongLong(), flipAt < 0 ? -1 : 0x08010000 + flipAt);
}

QTEST_GUILESS_MAIN(tst_FirmwareUpdate)
#include "tst_firmwareupdate.moc"
