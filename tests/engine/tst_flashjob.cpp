// SPDX-License-Identifier: GPL-3.0-or-later
#include "flashjob.h"
#include "testdata.h"
#include "updatejobs.h"

#include <QCryptographicHash>
#include <QtTest>

#include <algorithm>
#include <cstring>

using namespace UpdateJobs;

namespace {

using TestData::pattern;

QByteArray slotBytes(const FlashJob &job, int index, quint32 length)
{
    return QByteArray(reinterpret_cast<const char *>(job.slot(index)), int(length));
}

QList<quint8> sectorsOf(const FlashJob &job)
{
    QList<quint8> list;
    for (quint32 i = 0; i < job.sectorCount && i < quint32(FlashJob::MaxSectors); ++i)
        list.append(job.sectors[i]);
    return list;
}

} // namespace

class tst_FlashJob : public QObject
{
    Q_OBJECT

private slots:
    void createdJobIsZeroFilled();
    void regionCapacityAndSlotOwnership_data();
    void regionCapacityAndSlotOwnership();
    void sectorListAndTotal();
    void versionText_data();
    void versionText();
    void defaultBlocks();
    void capacityBoundaries_data();
    void capacityBoundaries();
    void erasedSectorsCoverRegions_data();
    void erasedSectorsCoverRegions();
};

void tst_FlashJob::createdJobIsZeroFilled()
{
    // Fill a job, free it, and create another: heap reuse must not leak old bytes.
    {
        std::unique_ptr<FlashJob> dirty = FlashJob::create();
        std::memset(static_cast<void *>(dirty.get()), 0xA5, sizeof(FlashJob));
    }
    std::unique_ptr<FlashJob> job = FlashJob::create();
    const auto *raw = reinterpret_cast<const quint8 *>(job.get());
    QVERIFY(std::all_of(raw, raw + sizeof(FlashJob), [](quint8 b) { return b == 0; }));
    QCOMPARE(sizeof(FlashJob),
        size_t(15 + 4 + 15 * 8 + 15 * FlashJob::SlotSize + 4)); // packed, no gaps
}

void tst_FlashJob::regionCapacityAndSlotOwnership_data()
{
    QTest::addColumn<int>("firstIndex");
    QTest::addColumn<int>("firstLength");
    QTest::addColumn<int>("secondIndex");
    QTest::addColumn<int>("secondLength");
    QTest::addColumn<bool>("secondAccepted");

    const int slot = int(FlashJob::SlotSize);
    QTest::newRow("last slot full") << 0 << 10 << 14 << slot << true;
    QTest::newRow("last slot overrun") << 0 << 10 << 14 << slot + 1 << false;
    QTest::newRow("index past the end") << 0 << 10 << 15 << 1 << false;
    QTest::newRow("into a spanned slot") << 1 << slot + 1 << 2 << 10 << false;
    QTest::newRow("after a spanned slot") << 1 << slot + 1 << 3 << 10 << true;
    QTest::newRow("spanning over a region") << 3 << 10 << 2 << slot + 1 << false;
    QTest::newRow("empty region never conflicts") << 1 << 2 * slot << 2 << 0 << true;
}

void tst_FlashJob::regionCapacityAndSlotOwnership()
{
    QFETCH(int, firstIndex);
    QFETCH(int, firstLength);
    QFETCH(int, secondIndex);
    QFETCH(int, secondLength);
    QFETCH(bool, secondAccepted);

    std::unique_ptr<FlashJob> job = FlashJob::create();
    const QByteArray first = pattern(firstLength, 1);
    QVERIFY(job->setRegion(firstIndex, 0x08010000, first));

    const QByteArray second = pattern(secondLength, 2);
    QCOMPARE(job->setRegion(secondIndex, 0x08040000, second), secondAccepted);

    // The first region's data survives whatever happened to the second.
    QCOMPARE(slotBytes(*job, firstIndex, quint32(firstLength)), first);
    if (secondAccepted) {
        QCOMPARE(job->regions[secondIndex].length, quint32(secondLength));
        QCOMPARE(job->regions[secondIndex].address, 0x08040000u);
        QCOMPARE(slotBytes(*job, secondIndex, quint32(secondLength)), second);
    } else if (secondIndex >= 0 && secondIndex < FlashJob::MaxRegions) {
        QCOMPARE(job->regions[secondIndex].length, 0u);
    }
}

void tst_FlashJob::sectorListAndTotal()
{
    std::unique_ptr<FlashJob> job = FlashJob::create();
    for (int i = 0; i < FlashJob::MaxSectors; ++i)
        QVERIFY(job->addSector(quint8(i + 1)));
    QVERIFY(!job->addSector(99));
    QCOMPARE(job->sectorCount, 15u);
    QCOMPARE(job->sectors[14], quint8(15));

    // The first empty region ends the list: region 3 is not counted.
    QVERIFY(job->setRegion(0, 0x08004000, pattern(256, 0)));
    QVERIFY(job->setRegion(1, 0x08010000, pattern(53, 0)));
    QVERIFY(job->setRegion(3, 0x08020000, pattern(1000, 0)));
    QCOMPARE(job->computeTotal(), 309u);
    QCOMPARE(job->total, 309u);
}

void tst_FlashJob::versionText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("threeParts");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");

    QTest::newRow("low 8 bits") << QStringLiteral("5.300.1") << true << 5 << 44 << 1;
    QTest::newRow("256 and beyond 64 bits")
        << QStringLiteral("256.257.999999999999999999999") << true << 0 << 1 << 255;
    QTest::newRow("not numbers") << QStringLiteral("a.-1.7x") << true << 0 << 0 << 0;
    QTest::newRow("empty parts kept") << QStringLiteral("5..1") << true << 5 << 0 << 1;
    QTest::newRow("two parts") << QStringLiteral("5.5") << false << 0 << 0 << 0;
    QTest::newRow("four parts") << QStringLiteral("5.5.0.1") << false << 0 << 0 << 0;
}

void tst_FlashJob::versionText()
{
    QFETCH(QString, text);
    QFETCH(bool, threeParts);

    Version version;
    QCOMPARE(parseVersionText(text, &version), threeParts);
    if (threeParts) {
        QTEST(int(version.major), "major");
        QTEST(int(version.minor), "minor");
        QTEST(int(version.patch), "patch");
    }
    QCOMPARE(UpdateJobs::versionText(5, 10, 200), QStringLiteral("5.10.200"));
}

void tst_FlashJob::defaultBlocks()
{
    const QByteArray block = defaultConfigBlock(Version { 5, 44, 1 }, FirmwareStartV2, 1000);
    QCOMPARE(block.size(), 16384);
    QByteArray expected(16384, '\0');
    // The firmware record as an update writes it (address, version, length) and its end
    // signature, which the start-up read looks for.
    const QByteArray head = QByteArray::fromHex("5500000408"
                                                "052c01"
                                                "e8030000");
    expected.replace(0, head.size(), head);
    expected[255] = char(0xAA);
    expected.replace(0x40, 2, QByteArray::fromHex("55aa"));
    expected.replace(0x46, 10, QByteArray::fromHex("4512521251124f125012"));
    expected.replace(0x7E, 2, QByteArray::fromHex("1000"));
    expected.replace(0x3F1D, 5, QByteArray::fromHex("5501000000"));
    expected.replace(0x3FFE, 2, QByteArray::fromHex("aaaa"));
    QCOMPARE(block.toHex(), expected.toHex());
    QCOMPARE(defaultConfigBlock(Version {}, FirmwareStartV1, 7).mid(1, 4).toHex(),
        QByteArray("00000208"));

    QByteArray second(66, '\0');
    second.replace(0, 9, QByteArray::fromHex("420000ffffffffffff"));
    second.replace(64, 2, QByteArray::fromHex("aa55"));
    QCOMPARE(defaultSecondBlock().toHex(), second.toHex());

    QByteArray blank(66, '\0');
    blank.replace(0, 2, QByteArray::fromHex("4200"));
    blank.replace(64, 2, QByteArray::fromHex("aa55"));
    QCOMPARE(defaultBlankBlock().toHex(), blank.toHex());
}

void tst_FlashJob::capacityBoundaries_data()
{
    QTest::addColumn<int>("kind"); // 0 update, 1 first-generation restore, 2 second
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QList<quint8>>("sectors");

    const QList<quint8> capped { 4, 5, 6, 7, 8, 9, 10, 11 };
    QTest::newRow("update, largest payload")
        << 0 << int(MaxUpdatePayload) << true << (QList<quint8> { 1 } + capped);
    QTest::newRow("update, one byte more")
        << 0 << int(MaxUpdatePayload) + 1 << false << QList<quint8> {};
    QTest::newRow("v1, largest file")
        << 1 << int(MaxRestoreFileV1) << true
        << (QList<quint8> { 1, 2, 4 } + QList<quint8> { 5, 6, 7, 8, 9, 10, 11 });
    QTest::newRow("v1, one byte more")
        << 1 << int(MaxRestoreFileV1) + 1 << false << QList<quint8> {};
    QTest::newRow("v2, largest file")
        << 2 << int(MaxRestoreFileV2) << true << QList<quint8> { 1, 2, 4, 5, 6, 7, 8, 9, 10, 11 };
    QTest::newRow("v2, one byte more")
        << 2 << int(MaxRestoreFileV2) + 1 << false << QList<quint8> {};
}

void tst_FlashJob::capacityBoundaries()
{
    QFETCH(int, kind);
    QFETCH(int, length);
    QFETCH(bool, accepted);
    QFETCH(QList<quint8>, sectors);

    const QByteArray data = pattern(length, 4);
    std::unique_ptr<FlashJob> job;
    if (kind == 0)
        job = buildUpdateJob(
            Version { 5, 6, 3 }, data, QCryptographicHash::hash(data, QCryptographicHash::Md5));
    else
        job = buildRestoreJob(kind == 2 ? RestoreGeneration::Second : RestoreGeneration::First,
            data, Version { 5, 5, 0 });
    QCOMPARE(bool(job), accepted);
    if (!job)
        return;
    // The last region ends exactly with the last sector the erase reaches, holding all of
    // the data, and every region lies in erased sectors.
    const int last = kind == 0 ? 1 : kind == 1 ? 3 : 4;
    const quint32 regionLength = job->regions[last].length;
    const quint32 regionAddress = job->regions[last].address;
    QCOMPARE(quint64(regionAddress) + regionLength, quint64(FlashLayout::ErasableEnd));
    QVERIFY(FlashLayout::erasesEveryRegion(*job));
    QVERIFY(slotBytes(*job, last, quint32(length)) == data);
    QCOMPARE(sectorsOf(*job), sectors);
}

void tst_FlashJob::erasedSectorsCoverRegions_data()
{
    QTest::addColumn<QList<quint8>>("sectors");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<bool>("covered");

    QTest::newRow("sector 1 exactly") << QList<quint8> { 1 } << 0x08004000u << 16384u << true;
    QTest::newRow("one byte into sector 2")
        << QList<quint8> { 1 } << 0x08004000u << 16385u << false;
    QTest::newRow("sector 3 missing") << QList<quint8> { 2, 4 } << 0x08008000u << 0x8000u << false;
    QTest::newRow("up to the last erasable byte")
        << QList<quint8> { 10, 11 } << 0x080E0000u << 0x20000u << true;
    QTest::newRow("one byte past sector 11, sector 12 listed")
        << QList<quint8> { 10, 11, 12 } << 0x080E0000u << 0x20001u << false;
    QTest::newRow("below the flash") << QList<quint8> { 0 } << 0x07FFFFFFu << 2u << false;
}

void tst_FlashJob::erasedSectorsCoverRegions()
{
    QFETCH(QList<quint8>, sectors);
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(bool, covered);

    std::unique_ptr<FlashJob> job = FlashJob::create();
    for (quint8 sector : sectors)
        QVERIFY(job->addSector(sector));
    // A region checked after an empty one is never written, so it never counts.
    QVERIFY(job->setRegion(0, 0x08004000, QByteArray(4, '\1')));
    job->addSector(1);
    QVERIFY(job->setRegion(1, address, pattern(int(length), 3)));
    QVERIFY(job->setRegion(3, 0x08200000, QByteArray(4, '\1')));
    QString reason;
    QCOMPARE(FlashLayout::erasesEveryRegion(*job, &reason), covered);
    QCOMPARE(reason.isEmpty(), covered);
}

QTEST_GUILESS_MAIN(tst_FlashJob)
#include "tst_flashjob.moc"
