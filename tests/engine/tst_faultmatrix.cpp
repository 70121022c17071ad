// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "deviceflash.h"
#include "deviceflashrecorder.h"
#include "firmwareimagemaker.h"
#include "flashlayout.h"
#include "testdata.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Every flash-writing operation against every adapter fault at every phase of its exchange
// sequence. Each cell checks that the operation ends, clears the busy flag and tells the user
// exactly one thing, with one result: success when every byte was verified and the version
// read back, otherwise one error (a refused or unanswered erase, an unread version after a
// whole write, else a write failure), never a success progress after a stopped write.

Q_LOGGING_CATEGORY(lcMatrix, "corvane.faultmatrix")

namespace {

constexpr quint32 ChunkSize = 52;
constexpr int TaskTimeoutMs = 20000;
constexpr int ConfigBlockSize = 16384;
constexpr int PayloadLength = 200;
constexpr int RestoreFileLength = 100;

enum class Op { Update, RestoreV1, RestoreV2, ConfigRestore, BootMode };
enum class Fault { Unplug, Echo, RefusedErase, WrongCode, WrongAddress, WrongLength, ShortReport };
enum class Outcome { Success, EraseFailure, EraseUnanswered, WriteFailure, VersionUnread, Refused };

const QList<Op> allOps
    = { Op::Update, Op::RestoreV1, Op::RestoreV2, Op::ConfigRestore, Op::BootMode };
const QList<Fault> allFaults = { Fault::Unplug, Fault::Echo, Fault::RefusedErase, Fault::WrongCode,
    Fault::WrongAddress, Fault::WrongLength, Fault::ShortReport };

QString opName(Op op)
{
    switch (op) {
    case Op::Update:
        return QStringLiteral("update");
    case Op::RestoreV1:
        return QStringLiteral("restore-v1");
    case Op::RestoreV2:
        return QStringLiteral("restore-v2");
    case Op::ConfigRestore:
        return QStringLiteral("config-restore");
    case Op::BootMode:
        return QStringLiteral("boot-mode");
    }
    return {};
}

QString faultName(Fault fault)
{
    switch (fault) {
    case Fault::Unplug:
        return QStringLiteral("unplug");
    case Fault::Echo:
        return QStringLiteral("echo");
    case Fault::RefusedErase:
        return QStringLiteral("no-erase");
    case Fault::WrongCode:
        return QStringLiteral("code");
    case Fault::WrongAddress:
        return QStringLiteral("address");
    case Fault::WrongLength:
        return QStringLiteral("length");
    case Fault::ShortReport:
        return QStringLiteral("short");
    }
    return {};
}

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Success:
        return QStringLiteral("ok");
    case Outcome::EraseFailure:
        return QStringLiteral("E-erase");
    case Outcome::EraseUnanswered:
        return QStringLiteral("E-noans");
    case Outcome::VersionUnread:
        return QStringLiteral("E-vers");
    case Outcome::WriteFailure:
        return QStringLiteral("E-write");
    case Outcome::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

// The flash regions each operation writes, in order, and the reads around them.
struct OpShape
{
    QList<quint32> regions;
    int readBack = 0; // read exchanges after the write
    int readBefore = 0; // configuration read before the erase when no copy is loaded
};

OpShape shapeOf(Op op)
{
    switch (op) {
    case Op::Update:
        return { { 256, PayloadLength }, 5, 0 };
    case Op::RestoreV1:
        return { { ConfigBlockSize, 66, 66, RestoreFileLength + 2 }, 316, 0 };
    case Op::RestoreV2:
        return { { ConfigBlockSize, 66, 66, 66, RestoreFileLength + 2 }, 316, 0 };
    case Op::ConfigRestore:
        return { { ConfigBlockSize, 66, 66, 66 }, 0, 316 };
    case Op::BootMode:
        return { { ConfigBlockSize }, 0, 316 };
    }
    return {};
}

quint32 chunksOf(quint32 length)
{
    return (length + ChunkSize - 1) / ChunkSize;
}

// A phase names one exchange of the operation: the erase is exchange 1 and write chunk k
// (counted over all regions from 1) is exchange 1 + k. A configuration read before the
// erase shifts nothing: those cells run without a loaded copy and count from its start.
struct Phase
{
    QString name;
    qint64 exchange = -1; // -1: the operation has no such phase
    qint64 writeNumber = -1; // for the corrupted echo: which write command
    bool readBefore = false;
    bool readBack = false;
};

QList<Phase> phasesOf(Op op)
{
    const OpShape shape = shapeOf(op);
    QList<Phase> phases;
    if (shape.readBefore > 0)
        phases.append({ QStringLiteral("read-before"), shape.readBefore / 2, -1, true, false });
    phases.append({ QStringLiteral("erase"), 1, -1, false, false });
    phases.append({ QStringLiteral("first-chunk"), 2, 1, false, false });
    quint32 firstChunk = 1;
    for (int r = 0; r < shape.regions.size(); ++r) {
        const quint32 chunks = chunksOf(shape.regions.at(r));
        const quint32 chunk = firstChunk + chunks / 2;
        phases.append(
            { QStringLiteral("region-%1").arg(r), 1 + qint64(chunk), qint64(chunk), false, false });
        firstChunk += chunks;
    }
    const quint32 lastChunk = firstChunk - 1;
    phases.append(
        { QStringLiteral("last-chunk"), 1 + qint64(lastChunk), qint64(lastChunk), false, false });
    if (shape.readBack > 0)
        phases.append({ QStringLiteral("read-back"), 2 + qint64(lastChunk) + shape.readBack / 2, -1,
            false, true });
    else
        phases.append({ QStringLiteral("read-back"), -1, -1, false, true });
    return phases;
}

// What a sound engine reports for a fault at a phase; false when the cell does not exist
// (no such phase, or a fault that cannot happen there).
bool expectedOutcome(Fault fault, const Phase &phase, Outcome *outcome)
{
    if (phase.exchange < 0)
        return false;
    if (phase.readBefore) {
        // Without the adapter's own configuration nothing may be written.
        if (fault == Fault::Echo || fault == Fault::RefusedErase)
            return false;
        *outcome = Outcome::Refused;
        return true;
    }
    if (phase.name == QLatin1String("erase")) {
        if (fault == Fault::Echo)
            return false;
        // An erase without its 0x59 answer ends the job before a byte is written: a refused
        // one or another code is an erase failure, a lost one an unanswered erase. One with
        // odd address or length fields was confirmed.
        *outcome = fault == Fault::Unplug                               ? Outcome::EraseUnanswered
            : fault == Fault::RefusedErase || fault == Fault::WrongCode ? Outcome::EraseFailure
                                                                        : Outcome::Success;
        return true;
    }
    if (phase.readBack) {
        if (fault == Fault::Echo || fault == Fault::RefusedErase)
            return false;
        // Every byte was written and verified before the read-back failed: the operation
        // does not know the version it left (a block not read whole names none).
        *outcome = Outcome::VersionUnread;
        return true;
    }
    if (fault == Fault::RefusedErase)
        return false;
    *outcome = Outcome::WriteFailure;
    return true;
}

using TestData::pattern;

void putLe16(QByteArray &bytes, int offset, int value)
{
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char((value >> 8) & 0xFF);
}

// A factory image of that version, padded to length with line feeds, which decoding skips.
QByteArray factoryImage(quint8 major, quint8 minor, quint8 patch, int length = RestoreFileLength)
{
    QByteArray file = FirmwareImageMaker::make(major, minor, patch, pattern(10, patch));
    file.append(QByteArray(qMax(0, length - int(file.size())), '\n'));
    return file;
}

QByteArray lengthBlock(int length, int seed)
{
    QByteArray block = pattern(length, seed);
    putLe16(block, 0, length);
    block[length - 2] = char(0xAA);
    block[length - 1] = char(0x55);
    return block;
}

// A layout-2 backup of firmware 5.6.3 as the restore receives it (digest included).
QByteArray layout2Backup()
{
    QByteArray data(0x3C000 + 16, '\0');
    FlashLayout::writeFirmwareRecord(data, 0x08040000, 5, 6, 3, 1000);
    for (int i = 0x42; i <= 0xE3; ++i)
        data[i] = char(i * 7);
    data[0x82] = 3;
    data[0x3FFF] = char(0xAA);
    data.replace(0x4000, 66, lengthBlock(66, 1));
    data.replace(0xC000, 66, lengthBlock(66, 2));
    QByteArray macro(66, '\0');
    putLe16(macro, 0, 66);
    macro[64] = char(0xAA);
    macro[65] = char(0x55);
    data.replace(0x1C000, 66, macro);
    return data;
}

// Passes only this test's own lines on: the engine logs every step of every cell.
QtMessageHandler previousHandler = nullptr;
void matrixMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg || type == QtCriticalMsg
        || qstrcmp(context.category, lcMatrix().categoryName()) == 0)
        previousHandler(type, context, text);
}

} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Outcome)

// What one operation told the user: its progress (of a configuration restore only the
// written bytes count), errors and busy flag, read from the signals recorded on the worker thread.
struct Report
{
    DeviceFlashRecorder recorder;
    QByteArray kind; // the operation's progress signal
    QList<qlonglong> progress; // current values of the operation's write progress
    qlonglong total = -1;
    QList<int> errors;
    QList<bool> busy;
    QList<int> results; // outcomes of the finished signal
    bool errorAfterProgress = true;

    void attach(DeviceFlash *device, Op op, QObject *context)
    {
        kind = op == Op::ConfigRestore ? "store" : op == Op::BootMode ? "setting" : "write";
        recorder.attach(device, context);
    }

    // Reads what the operation has reported.
    void read()
    {
        for (const DeviceFlashRecorder::Event &e : recorder.events()) {
            // The restore announces (0, total) before it erases.
            if (e.name == kind && (kind != "store" || e.value > 0)) {
                if (!errors.isEmpty())
                    errorAfterProgress = false;
                progress.append(e.value);
                total = e.total;
            } else if (e.name == "error") {
                errors.append(int(e.value));
            } else if (e.name == "busy") {
                busy.append(e.value != 0);
            } else if (e.name == "finished") {
                results.append(int(e.value));
            }
        }
    }

    bool reachedTotal() const
    {
        return total > 0 && !progress.isEmpty() && progress.last() == total;
    }
};

class tst_FaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cell_data();
    void cell();
    void refusedInputErasesNothing_data();
    void refusedInputErasesNothing();

private:
    // A fresh adapter at 5.6.0 with a default configuration, opened and read; with
    // loadConfig the configuration copy is read too. Then every byte that any operation
    // writes is set to 0x00, so a write that is not preceded by an erase fails to verify.
    std::unique_ptr<DeviceFlash> freshDevice(bool loadConfig);
    void start(DeviceFlash *device, Op op);
    QByteArray goldenFlash(Op op);

    QTemporaryDir m_dir;
    QString m_imagePath;
    QString m_restoreV1Path; // images of 5.4.9 and 5.7.1, RestoreFileLength bytes each
    QString m_restoreV2Path;
    QMap<Op, QByteArray> m_golden;
    // Table cells: "op|phase" row, fault column.
    QMap<QString, QMap<Fault, QString>> m_table;
};

void tst_FaultMatrix::initTestCase()
{
    previousHandler = qInstallMessageHandler(matrixMessageHandler);
    QVERIFY(m_dir.isValid());
    m_imagePath = m_dir.filePath(QStringLiteral("Firmware_V5.7.2.rfw"));
    QVERIFY(FirmwareImageMaker::writeToFile(
        m_imagePath, FirmwareImageMaker::make(5, 7, 2, pattern(PayloadLength, 3))));
    m_restoreV1Path = m_dir.filePath(QStringLiteral("Firmware_V5.4.9.rfw"));
    m_restoreV2Path = m_dir.filePath(QStringLiteral("Firmware_V5.7.1.rfw"));
    QVERIFY(FirmwareImageMaker::writeToFile(m_restoreV1Path, factoryImage(5, 4, 9)));
    QVERIFY(FirmwareImageMaker::writeToFile(m_restoreV2Path, factoryImage(5, 7, 1)));

    for (Op op : allOps) {
        m_golden.insert(op, goldenFlash(op));
        QVERIFY2(!m_golden.value(op).isEmpty(), qPrintable(opName(op)));
    }
}

void tst_FaultMatrix::cleanupTestCase()
{
    // One line per operation and phase, one column per fault.
    QString header = QStringLiteral("%1 %2")
                         .arg(QStringLiteral("operation"), -15)
                         .arg(QStringLiteral("phase"), -12);
    for (Fault f : allFaults)
        header += QStringLiteral(" %1").arg(faultName(f), -9);
    qCInfo(lcMatrix).noquote() << header;
    for (Op op : allOps) {
        for (const Phase &phase : phasesOf(op)) {
            QString line = QStringLiteral("%1 %2").arg(opName(op), -15).arg(phase.name, -12);
            const QMap<Fault, QString> row
                = m_table.value(opName(op) + QLatin1Char('|') + phase.name);
            for (Fault f : allFaults)
                line += QStringLiteral(" %1").arg(row.value(f, QStringLiteral("-")), -9);
            qCInfo(lcMatrix).noquote() << line;
        }
    }
    qInstallMessageHandler(previousHandler);
}

std::unique_ptr<DeviceFlash> tst_FaultMatrix::freshDevice(bool loadConfig)
{
    AdapterEmulator::reset();
    AdapterEmulator::seedFirmwareVersion(5, 6, 0);
    AdapterEmulator::seedDefaultConfiguration(2);
    auto device = std::make_unique<DeviceFlash>(nullptr, nullptr);
    if (!device->open(AdapterEmulator::VendorId, AdapterEmulator::ProductId))
        return nullptr;
    device->readDeviceConfig();
    if (loadConfig && (!device->loadConfiguration() || !device->waitForIdle(TaskTimeoutMs)))
        return nullptr;
    // Sectors 1 to 6: everything from the configuration block to the factory firmware.
    AdapterEmulator::setMemory(0x08004000, QByteArray(0x08060000 - 0x08004000, '\0'));
    AdapterEmulator::resetCounters();
    return device;
}

void tst_FaultMatrix::start(DeviceFlash *device, Op op)
{
    switch (op) {
    case Op::Update:
        device->updateFirmware(m_imagePath);
        break;
    case Op::RestoreV1:
        device->restoreFactorySettings(m_restoreV1Path, QStringLiteral("5.4.9"));
        break;
    case Op::RestoreV2:
        device->restoreFactorySettings(m_restoreV2Path, QStringLiteral("5.7.1"));
        break;
    case Op::ConfigRestore:
        device->dataRestore(layout2Backup(), QStringLiteral("5.6.3"));
        break;
    case Op::BootMode:
        device->setBootMode(3);
        break;
    }
}

// The flash after the operation ran without a fault; empty when it did not succeed.
QByteArray tst_FaultMatrix::goldenFlash(Op op)
{
    std::unique_ptr<DeviceFlash> device = freshDevice(true);
    if (!device)
        return {};
    Report report;
    report.attach(device.get(), op, this);
    start(device.get(), op);
    if (!device->waitForIdle(TaskTimeoutMs))
        return {};
    report.read();
    if (!report.reachedTotal() || !report.errors.isEmpty())
        return {};
    quint32 expectedTotal = 0;
    for (quint32 length : shapeOf(op).regions)
        expectedTotal += length;
    if (report.total != qlonglong(expectedTotal))
        return {};
    return AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize);
}

void tst_FaultMatrix::cell_data()
{
    QTest::addColumn<Op>("op");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("phaseName");
    QTest::addColumn<qint64>("exchange");
    QTest::addColumn<qint64>("writeNumber");
    QTest::addColumn<bool>("readBefore");
    QTest::addColumn<Outcome>("outcome");

    for (Op op : allOps) {
        for (const Phase &phase : phasesOf(op)) {
            for (Fault fault : allFaults) {
                Outcome outcome;
                if (!expectedOutcome(fault, phase, &outcome))
                    continue;
                const QByteArray name = QStringLiteral("%1 %2 %3")
                                            .arg(opName(op), phase.name, faultName(fault))
                                            .toUtf8();
                QTest::newRow(name.constData()) << op << fault << phase.name << phase.exchange
                                                << phase.writeNumber << phase.readBefore << outcome;
            }
        }
    }
}

void tst_FaultMatrix::cell()
{
    QFETCH(Op, op);
    QFETCH(Fault, fault);
    QFETCH(QString, phaseName);
    QFETCH(qint64, exchange);
    QFETCH(qint64, writeNumber);
    QFETCH(bool, readBefore);
    QFETCH(Outcome, outcome);

    QString &cellText = m_table[opName(op) + QLatin1Char('|') + phaseName][fault];
    cellText = QStringLiteral("FAILED");

    std::unique_ptr<DeviceFlash> device = freshDevice(!readBefore);
    QVERIFY(device);
    const QByteArray flashBefore
        = AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize);
    Report report;
    report.attach(device.get(), op, this);

    AdapterEmulator::Faults faults;
    switch (fault) {
    case Fault::Unplug:
        faults.unplugAtExchange = exchange;
        break;
    case Fault::Echo:
        faults.corruptEchoAtWrite = writeNumber;
        break;
    case Fault::RefusedErase:
        faults.refuseErase = true;
        break;
    case Fault::WrongCode:
        faults.wrongCodeAtExchange = exchange;
        break;
    case Fault::WrongAddress:
        faults.wrongAddressAtExchange = exchange;
        break;
    case Fault::WrongLength:
        faults.wrongLengthAtExchange = exchange;
        break;
    case Fault::ShortReport:
        faults.shortReportAtExchange = exchange;
        break;
    }
    AdapterEmulator::setFaults(faults);

    start(device.get(), op);
    QVERIFY2(device->waitForIdle(TaskTimeoutMs), "the operation did not end");
    // The fault must have been reached, or the cell tests nothing.
    QVERIFY2(AdapterEmulator::exchangeCount() >= exchange,
        qPrintable(QStringLiteral("only %1 exchanges").arg(AdapterEmulator::exchangeCount())));

    report.read();
    QVERIFY(!device->isBusy());
    QCOMPARE(report.busy, (QList<bool> { true, false }));
    // One result, success only where every byte was verified and the version read back.
    QCOMPARE(report.results,
        QList<int> {
            outcome == Outcome::Success ? OperationResult::Succeeded : OperationResult::Failed });

    switch (outcome) {
    case Outcome::Success:
    case Outcome::VersionUnread:
        QCOMPARE(report.errors,
            outcome == Outcome::Success ? QList<int>()
                                        : QList<int> { int(DeviceError_VersionNotReadBack) });
        QVERIFY(!report.progress.isEmpty());
        QCOMPARE(report.progress.last(), report.total);
        if (fault != Fault::Unplug) {
            QVERIFY(AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize)
                == m_golden.value(op));
        } else {
            // Unplugged during the read-back: the flash holds the complete write all the same.
            AdapterEmulator::setAttached(true);
            QVERIFY(AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize)
                == m_golden.value(op));
        }
        break;
    case Outcome::EraseFailure:
    case Outcome::EraseUnanswered:
    case Outcome::WriteFailure: {
        const DeviceError expected = outcome == Outcome::EraseFailure ? DeviceError_EraseFailure
            : outcome == Outcome::EraseUnanswered                     ? DeviceError_EraseUnanswered
                                                                      : DeviceError_WriteFailure;
        QCOMPARE(report.errors, QList<int> { int(expected) });
        QVERIFY2(report.errorAfterProgress, "progress reported after the error");
        QVERIFY(report.progress.isEmpty() || report.progress.last() < report.total);
        // Every chunk before the failing one was reported, the failing one was not.
        if (writeNumber > 0)
            QCOMPARE(report.progress.size(), int(writeNumber - 1));
        // Nothing is written over flash that the adapter did not confirm as erased.
        if (outcome == Outcome::EraseFailure || outcome == Outcome::EraseUnanswered)
            QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
        break;
    }
    case Outcome::Refused:
        QVERIFY(report.progress.isEmpty());
        QVERIFY(AdapterEmulator::eraseLog().isEmpty());
        QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
        AdapterEmulator::setAttached(true);
        QVERIFY(AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize)
            == flashBefore);
        break;
    }
    device.reset();
    cellText = outcomeName(outcome);
}

void tst_FaultMatrix::refusedInputErasesNothing_data()
{
    QTest::addColumn<Op>("op");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("errors");

    FirmwareImageMaker::Options damaged;
    damaged.corruptDigest = true;
    QTest::newRow("update: damaged digest")
        << Op::Update << FirmwareImageMaker::make(5, 7, 2, pattern(PayloadLength, 3), damaged)
        << QString() << 1;
    QTest::newRow("update: truncated image")
        << Op::Update << FirmwareImageMaker::make(5, 7, 2, pattern(PayloadLength, 3)).left(100)
        << QString() << 1;
    QTest::newRow("restore-v1: larger than the job")
        << Op::RestoreV1 << factoryImage(5, 4, 9, 12 * 131072 - 1) << QStringLiteral("5.4.9") << 1;
    QTest::newRow("restore-v2: larger than the job")
        << Op::RestoreV2 << factoryImage(5, 7, 1, 11 * 131072 - 1) << QStringLiteral("5.7.1") << 1;
    QTest::newRow("restore-v2: two-part version")
        << Op::RestoreV2 << factoryImage(5, 7, 1) << QStringLiteral("5.7") << 0;

    QByteArray longBlock = layout2Backup();
    putLe16(longBlock, 0x4000, 0x9000); // past sectors 2 and 3
    QTest::newRow("config-restore: sector-2 block too long")
        << Op::ConfigRestore << longBlock << QStringLiteral("5.6.3") << 0;
    QByteArray shortBackup = layout2Backup().left(0x1C000 + 10);
    QTest::newRow("config-restore: cut before the macro block")
        << Op::ConfigRestore << shortBackup << QStringLiteral("5.6.3") << 0;
}

void tst_FaultMatrix::refusedInputErasesNothing()
{
    QFETCH(Op, op);
    QFETCH(QByteArray, input);
    QFETCH(QString, version);
    QFETCH(int, errors);

    std::unique_ptr<DeviceFlash> device = freshDevice(true);
    QVERIFY(device);
    const QByteArray flashBefore
        = AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize);
    Report report;
    report.attach(device.get(), op, this);

    const QString path = m_dir.filePath(QStringLiteral("refused.bin"));
    if (op == Op::ConfigRestore) {
        device->dataRestore(input, version);
    } else {
        QVERIFY(FirmwareImageMaker::writeToFile(path, input));
        if (op == Op::Update)
            device->updateFirmware(path);
        else
            device->restoreFactorySettings(path, version);
    }
    QVERIFY(device->waitForIdle(TaskTimeoutMs));

    report.read();
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
    QVERIFY(AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize)
        == flashBefore);
    QVERIFY(report.progress.isEmpty());
    QCOMPARE(report.errors.size(), errors);
    for (int e : qAsConst(report.errors))
        QCOMPARE(e, int(DeviceError_FirmwareEmpty));
    QCOMPARE(report.busy, (QList<bool> { true, false }));
}

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
