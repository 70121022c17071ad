// SPDX-License-Identifier: GPL-3.0-or-later
#include "configrestore.h"
#include "flashjob.h"

#include <QtTest>

#include <cstring>

namespace {

constexpr int Layout1Size = 0x1C000;
constexpr int Layout2Size = 0x3C000;

int le16(const QByteArray &bytes, int offset)
{
    return quint8(bytes.at(offset)) | quint8(bytes.at(offset + 1)) << 8;
}

void putLe16(QByteArray &bytes, int offset, int value)
{
    bytes[offset] = char(value & 0xFF);
    bytes[offset + 1] = char(value >> 8);
}

// A macro record: length field, layout version at byte 4, a name, distinct bytes after.
QByteArray record(int length, quint8 layout, const char *name, int seed)
{
    QByteArray r(length, '\0');
    for (int i = 5; i < length; ++i)
        r[i] = char((i * 13 + seed) & 0xFF);
    putLe16(r, 0, length);
    r[2] = char(0x11);
    r[3] = char(0x22);
    r[4] = char(layout);
    const int n = int(std::strlen(name));
    std::memcpy(r.data() + 5, name, size_t(n) + 1);
    return r;
}

QByteArray sectorBlock(int length, int seed)
{
    QByteArray b(length, '\0');
    for (int i = 2; i < length; ++i)
        b[i] = char((i * 3 + seed) & 0xFF);
    putLe16(b, 0, length);
    return b;
}

// A backup buffer with a patterned configuration block and the sector blocks.
QByteArray backupBase(int size)
{
    QByteArray buffer(size, char(0x5A));
    for (int i = 0; i < 0x4000; ++i)
        buffer[i] = char((i * 7 + 1) & 0xFF);
    buffer[1] = 5;
    buffer[2] = 4;
    buffer[3] = 9;
    buffer.replace(0x4000, 300, sectorBlock(300, 1));
    buffer.replace(0xC000, 500, sectorBlock(500, 2));
    return buffer;
}

QByteArray layout1Backup(const QList<QByteArray> &records)
{
    QByteArray buffer = backupBase(Layout1Size);
    buffer[0x124] = char(records.size());
    putLe16(buffer, 0x125, 0x7777); // stale total, rewritten by the restore
    int offset = 0x164;
    for (const QByteArray &r : records) {
        buffer.replace(offset, r.size(), r);
        offset += r.size();
    }
    return buffer;
}

QByteArray layout2Backup(const QList<QByteArray> &records)
{
    QByteArray buffer = backupBase(Layout2Size);
    buffer[1] = 5;
    buffer[2] = 5;
    buffer[3] = 12;
    QByteArray header(64, '\0');
    for (int i = 5; i < 64; ++i)
        header[i] = char(0xC0 + i);
    int total = 0;
    QByteArray body;
    for (const QByteArray &r : records) {
        body.append(r);
        total += r.size();
    }
    putLe16(header, 0, 64 + total + 2);
    header[2] = char(records.size());
    putLe16(header, 3, total);
    const QByteArray block = header + body + QByteArray("\xAA\x55", 2);
    buffer.replace(0x1C000, block.size(), block);
    return buffer;
}

// The adapter's current configuration: distinct from the backup in bytes 1..0x41.
QByteArray adapterConfig()
{
    QByteArray config(0x4000, '\0');
    for (int i = 0; i < config.size(); ++i)
        config[i] = char((i * 5 + 3) & 0xFF);
    config[1] = 5;
    config[2] = 6;
    config[3] = 2;
    return config;
}

QByteArray regionData(const FlashJob &job, int index)
{
    return QByteArray(
        reinterpret_cast<const char *>(job.slot(index)), int(job.regions[index].length));
}

void verifyJobShape(const FlashJob &job)
{
    QCOMPARE(job.sectorCount, 5u);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(int(job.sectors[i]), i + 1);
    QCOMPARE(job.regions[0].address, 0x08004000u);
    QCOMPARE(job.regions[0].length, 0x4000u);
    QCOMPARE(job.regions[1].address, 0x08008000u);
    QCOMPARE(job.regions[2].address, 0x08010000u);
    QCOMPARE(job.regions[3].address, 0x08020000u);
    QCOMPARE(job.regions[4].length, 0u);
    QCOMPARE(job.total,
        job.regions[0].length + job.regions[1].length + job.regions[2].length
            + job.regions[3].length);
}

} // namespace

class tst_ConfigRestore : public QObject
{
    Q_OBJECT

private slots:
    void recordConversion_data();
    void recordConversion();
    void layout1Blocks();
    void layout2Macros_data();
    void layout2Macros();
    void malformedBackupsAreRefused_data();
    void malformedBackupsAreRefused();
};

void tst_ConfigRestore::recordConversion_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("byte84");

    QTest::newRow("100 bytes, layout 2") << 100 << 2 << 1;
    QTest::newRow("layout 0") << 120 << 0 << 2;
    QTest::newRow("layout 1") << 85 << 1 << 2;
    QTest::newRow("layout 3") << 200 << 3 << 0;
    QTest::newRow("already layout 4") << 147 << 4 << 0;
    QTest::newRow("layout 255") << 90 << 255 << 0;
}

void tst_ConfigRestore::recordConversion()
{
    QFETCH(int, length);
    QFETCH(int, layout);
    QFETCH(int, byte84);

    const QByteArray old = record(length, quint8(layout), "Combo", length);
    const QByteArray converted = ConfigRestore::convertRecord(old.constData(), old.size());
    QCOMPARE(converted.size(), length + 47);
    QCOMPARE(le16(converted, 0), length + 47);
    QCOMPARE(int(converted[2]), 0);
    QCOMPARE(int(converted[3]), 0);
    QCOMPARE(int(converted[4]), 4);
    QCOMPARE(converted.mid(5, 79), old.mid(5, 79));
    QCOMPARE(int(quint8(converted[84])), byte84);
    QCOMPARE(converted.mid(85, 47), QByteArray(47, '\0'));
    QCOMPARE(converted.mid(132), old.mid(85));

    QVERIFY(ConfigRestore::convertRecord(old.constData(), 84).isEmpty());
}

void tst_ConfigRestore::layout1Blocks()
{
    QByteArray buffer = layout1Backup({});
    const QByteArray config = adapterConfig();
    auto job = FlashJob::create();
    QString reason;
    QVERIFY2(
        ConfigRestore::buildLayout1(buffer.data(), buffer.size(), config, true, 0, *job, &reason),
        qPrintable(reason));
    verifyJobShape(*job);

    // Configuration: adapter info and its record's end signature, the two settings ranges
    // from the backup, zero elsewhere.
    const QByteArray block = regionData(*job, 0);
    QCOMPARE(quint8(block[0]), quint8(0x55));
    QCOMPARE(block.mid(1, 0x41), config.mid(1, 0x41));
    QCOMPARE(block.mid(0x42, 0xA2), buffer.mid(0x42, 0xA2));
    QByteArray zeros(0x3F1D - 0xE4, '\0');
    zeros[255 - 0xE4] = config.at(255);
    QCOMPARE(block.mid(0xE4, 0x3F1D - 0xE4), zeros);
    QCOMPARE(block.mid(0x3F1D, 0xE2), buffer.mid(0x3F1D, 0xE2));
    QCOMPARE(quint8(block[0x3FFF]), quint8(0xAA));

    // Sector blocks: as long as their length fields, end markers rewritten.
    const QByteArray s2 = regionData(*job, 1);
    QCOMPARE(s2.size(), 300);
    QCOMPARE(s2.left(298), buffer.mid(0x4000, 298));
    QCOMPARE(s2.right(2), QByteArray("\xAA\x55", 2));
    const QByteArray s4 = regionData(*job, 2);
    QCOMPARE(s4.size(), 500);
    QCOMPARE(s4.left(498), buffer.mid(0xC000, 498));
    QCOMPARE(s4.right(2), QByteArray("\xAA\x55", 2));

    // No records: a 66-byte block, length 66, count 0, records-size 0, marker at 64.
    const QByteArray macro = regionData(*job, 3);
    QCOMPARE(macro.size(), 66);
    QCOMPARE(le16(macro, 0), 66);
    QCOMPARE(int(macro[2]), 0);
    QCOMPARE(le16(macro, 3), 0);
    QCOMPARE(macro.mid(5, 59), QByteArray(59, '\0'));
    QCOMPARE(macro.mid(64), QByteArray("\xAA\x55", 2));
}

void tst_ConfigRestore::layout2Macros_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("same major.minor") << true;
    QTest::newRow("5.5 backup on 5.6") << false;
}

void tst_ConfigRestore::layout2Macros()
{
    QFETCH(bool, keep);
    const QList<QByteArray> records { record(100, 2, "Jump", 1), record(90, 3, "Fire", 2),
        record(150, 1, "Dash", 3) };
    const QByteArray buffer = layout2Backup(records);
    const QByteArray config = adapterConfig();
    auto job = FlashJob::create();
    QString reason;
    QVERIFY2(ConfigRestore::buildLayout2(
                 buffer.constData(), buffer.size(), config, keep, 0, *job, &reason),
        qPrintable(reason));
    verifyJobShape(*job);

    QByteArray expectedConfig = buffer.left(0x4000);
    expectedConfig.replace(1, 0x41, config.mid(1, 0x41));
    expectedConfig[255] = config.at(255);
    expectedConfig[0] = char(0x55);
    expectedConfig[0x3FFF] = char(0xAA);
    QCOMPARE(regionData(*job, 0), expectedConfig);
    // Sector blocks copied as stored, markers included.
    QCOMPARE(regionData(*job, 1), buffer.mid(0x4000, 300));
    QCOMPARE(regionData(*job, 2), buffer.mid(0xC000, 500));

    const QByteArray macro = regionData(*job, 3);
    const QByteArray stored = buffer.mid(0x1C000, le16(buffer, 0x1C000));
    if (keep) {
        QCOMPARE(macro, stored);
        return;
    }
    int offset = 64;
    int sum = 0;
    for (const QByteArray &old : records) {
        const QByteArray converted = macro.mid(offset, old.size() + 47);
        QCOMPARE(le16(converted, 0), old.size() + 47);
        QCOMPARE(int(converted[4]), 4);
        QCOMPARE(converted.mid(132), old.mid(85));
        offset += converted.size();
        sum += converted.size();
    }
    QCOMPARE(le16(macro, 3), sum + 64);
    QCOMPARE(macro.mid(5, 59), stored.mid(5, 59));
    QCOMPARE(int(macro[2]), 3);
    QCOMPARE(macro.size(), 64 + sum + 64 + 2);
    QCOMPARE(le16(macro, 0), macro.size());
    QCOMPARE(macro.right(2), QByteArray("\xAA\x55", 2));
}

void tst_ConfigRestore::malformedBackupsAreRefused_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<int>("patchOffset");
    QTest::addColumn<int>("patchValue"); // 16-bit value written at patchOffset
    QTest::addColumn<bool>("readConfig");
    QTest::addColumn<QString>("why");

    QTest::newRow("sector-2 length 0")
        << 1 << true << Layout1Size << 0x4000 << 0 << true << "sector-2 block length 0";
    QTest::newRow("sector-2 length 3")
        << 2 << true << Layout2Size << 0x4000 << 3 << true << "sector-2 block length 3";
    QTest::newRow("sector-2 past its sectors")
        << 2 << true << Layout2Size << 0x4000 << 0x8001 << true << "exceeds its 32768";
    QTest::newRow("sector-4 past a short backup") << 1 << true << 0xC000 + 400 << 0xC000 << 500
                                                  << true << "sector-4 block length 500 runs past";
    QTest::newRow("layout-1 record past the backup") << 1 << true << 0xC000 + 500 << 0x164 << 0xFFFF
                                                     << true << "record 0 (65535 bytes) runs past";
    QTest::newRow("layout-1 records over 65535 bytes")
        << 1 << true << Layout1Size << 0x164 << 0xFFF0 << true << "more than the macro block";
    QTest::newRow("layout-1 record too short to convert")
        << 1 << false << Layout1Size << 0x164 << 60 << true << "record 0 is only 60";
    QTest::newRow("layout-1 zero-length record")
        << 1 << true << Layout1Size << 0x164 << 0 << true << "record 0 is only 0";
    QTest::newRow("macro block past the backup") << 2 << true << 0x1C000 + 200 << 0x1C000 << 300
                                                 << true << "macro block length 300 runs past";
    QTest::newRow("layout-2 record past the backup")
        << 2 << false << 0x1C000 + 400 << 0x1C000 + 64 << 1000 << true << "record 0 (1000 bytes)";
    QTest::newRow("converted block over 65535 bytes")
        << 2 << false << Layout2Size << 0x1C000 + 64 << 0xFFF0 << true << "exceeds 65535";
    QTest::newRow("backup without a macro header")
        << 2 << true << 0x1C000 + 10 << -1 << 0 << true << "too short";
    QTest::newRow("adapter configuration not read")
        << 2 << true << Layout2Size << -1 << 0 << false << "has not been read";
}

void tst_ConfigRestore::malformedBackupsAreRefused()
{
    QFETCH(int, layout);
    QFETCH(bool, keep);
    QFETCH(int, bufferSize);
    QFETCH(int, patchOffset);
    QFETCH(int, patchValue);
    QFETCH(bool, readConfig);
    QFETCH(QString, why);

    const QList<QByteArray> records { record(100, 2, "Jump", 1), record(120, 2, "Fire", 2) };
    QByteArray buffer = layout == 1 ? layout1Backup(records) : layout2Backup(records);
    if (patchOffset >= 0)
        putLe16(buffer, patchOffset, patchValue);
    // The backup ends at bufferSize: hand over exactly that many bytes in their own block.
    QByteArray exact = buffer.left(qMin(bufferSize, buffer.size()));
    const QByteArray config = readConfig ? adapterConfig() : QByteArray();

    auto job = FlashJob::create();
    QString reason;
    const bool built = layout == 1
        ? ConfigRestore::buildLayout1(exact.data(), exact.size(), config, keep, 0, *job, &reason)
        : ConfigRestore::buildLayout2(
            exact.constData(), exact.size(), config, keep, 0, *job, &reason);
    QVERIFY(!built);
    QVERIFY2(reason.contains(why), qPrintable(reason));
    QCOMPARE(job->sectorCount, 0u);
    QCOMPARE(job->regions[0].length, 0u);
    QCOMPARE(job->total, 0u);
}

QTEST_GUILESS_MAIN(tst_ConfigRestore)
#include "tst_configrestore.moc"
