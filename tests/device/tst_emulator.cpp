// SPDX-License-Identifier: GPL-3.0-or-later
// The adapter emulator as the program sees it: through hidapi's C functions only, with the
// emulator's own functions used for set-up, fault injection and inspection.
#include "adapteremulator.h"

#include <hidapi.h>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <thread>

using AdapterEmulator::Faults;

namespace {

constexpr quint32 Read = 0x56;
constexpr quint32 Write = 0x57;
constexpr quint32 Erase = 0x55;
constexpr quint32 Answer = 0x58;
constexpr quint32 EraseAnswer = 0x59;
constexpr quint32 Sector3 = 0x0800C000;

struct Reply
{
    int size = -1;
    quint32 code = 0;
    quint32 address = 0;
    quint32 length = 0;
    QByteArray data;
};

quint32 le32(const unsigned char *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

int send(hid_device *dev, quint32 code, quint32 address, quint32 length,
    const QByteArray &data = QByteArray())
{
    unsigned char report[65] = {};
    for (int i = 0; i < 4; ++i) {
        report[1 + i] = quint8(code >> (8 * i));
        report[5 + i] = quint8(address >> (8 * i));
        report[9 + i] = quint8(length >> (8 * i));
    }
    std::memcpy(report + 13, data.constData(), size_t(qMin(int(data.size()), 52)));
    return hid_write(dev, report, sizeof report);
}

// Waits a bounded time so that a missing answer fails the test instead of hanging it.
Reply receive(hid_device *dev, int timeoutMs = 2000)
{
    unsigned char body[65] = {};
    Reply r;
    r.size = hid_read_timeout(dev, body, sizeof body, timeoutMs);
    if (r.size >= 12) {
        r.code = le32(body);
        r.address = le32(body + 4);
        r.length = le32(body + 8);
        r.data = QByteArray(reinterpret_cast<const char *>(body + 12), qMin(r.size - 12, 52));
    }
    return r;
}

Reply exchange(hid_device *dev, quint32 code, quint32 address, quint32 length,
    const QByteArray &data = QByteArray())
{
    if (send(dev, code, address, length, data) != 65)
        return Reply();
    return receive(dev);
}

hid_device *openAdapter()
{
    return hid_open(AdapterEmulator::VendorId, AdapterEmulator::ProductId, nullptr);
}

} // namespace

class tst_Emulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumerateAndOpen();
    void deadHandlesFailSafely();
    void readMemory_data();
    void readMemory();
    void writeFollowsNorRules();
    void sectorLayout();
    void eraseSectors();
    void answerFaults_data();
    void answerFaults();
    void corruptEcho();
    void refusedErase();
    void unplugDuringExchange();
    void blockingReadWokenByDetach();
    void timeoutsAndNonBlocking();
    void latencyPerReport();
    void stateFileRoundTrip();
    void stateFileFromEnvironment();

private:
    hid_device *m_dev = nullptr;
};

void tst_Emulator::init()
{
    AdapterEmulator::reset();
    m_dev = openAdapter();
    QVERIFY(m_dev);
}

void tst_Emulator::cleanup()
{
    hid_close(m_dev);
    m_dev = nullptr;
}

void tst_Emulator::enumerateAndOpen()
{
    hid_device_info *list = hid_enumerate(AdapterEmulator::VendorId, 0);
    QVERIFY(list);
    QCOMPARE(list->vendor_id, AdapterEmulator::VendorId);
    QCOMPARE(list->product_id, AdapterEmulator::ProductId);
    QVERIFY(!list->next);
    QCOMPARE(
        QString::fromWCharArray(list->serial_number), QStringLiteral("00112233445566778899aabb"));
    hid_device *byPath = hid_open_path(list->path);
    hid_free_enumeration(list);
    QVERIFY(byPath);
    hid_close(byPath);

    QVERIFY(!hid_enumerate(0x1234, 0));
    QVERIFY(!hid_open(AdapterEmulator::VendorId, 0xB472, nullptr));
    QVERIFY(!hid_open(0x1234, AdapterEmulator::ProductId, nullptr));

    // The serial number is the unique id in hexadecimal, in either case.
    hid_device *bySerial = hid_open(
        AdapterEmulator::VendorId, AdapterEmulator::ProductId, L"00112233445566778899AABB");
    QVERIFY(bySerial);
    wchar_t text[8];
    QCOMPARE(hid_get_serial_number_string(bySerial, text, 8), 0);
    QCOMPARE(QString::fromWCharArray(text), QStringLiteral("0011223"));
    hid_close(bySerial);
    QVERIFY(!hid_open(
        AdapterEmulator::VendorId, AdapterEmulator::ProductId, L"00112233445566778899aabc"));
    hid_device *anySerial = hid_open(AdapterEmulator::VendorId, AdapterEmulator::ProductId, L"");
    QVERIFY(anySerial);
    hid_close(anySerial);

    AdapterEmulator::setOpenRefused(true);
    QVERIFY(!openAdapter());
    AdapterEmulator::setOpenRefused(false);

    AdapterEmulator::setAttached(false);
    QVERIFY(!hid_enumerate(0, 0));
    QVERIFY(!openAdapter());
}

void tst_Emulator::deadHandlesFailSafely()
{
    unsigned char buffer[65] = {};
    wchar_t text[16];
    QCOMPARE(hid_write(nullptr, buffer, sizeof buffer), -1);
    QCOMPARE(hid_read(nullptr, buffer, sizeof buffer), -1);
    QCOMPARE(hid_read_timeout(nullptr, buffer, sizeof buffer, 10), -1);
    QCOMPARE(hid_set_nonblocking(nullptr, 1), -1);
    QCOMPARE(hid_get_manufacturer_string(nullptr, text, 16), -1);
    QCOMPARE(hid_get_feature_report(nullptr, buffer, sizeof buffer), -1);
    QVERIFY(!hid_get_device_info(nullptr));
    QVERIFY(hid_error(nullptr) != nullptr);
    hid_close(nullptr);

    // Malformed requests are refused without reaching the adapter.
    buffer[0] = 1;
    QCOMPARE(hid_write(m_dev, buffer, sizeof buffer), -1);
    buffer[0] = 0;
    unsigned char tooLong[66] = {};
    QCOMPARE(hid_write(m_dev, tooLong, sizeof tooLong), -1);
    QCOMPARE(AdapterEmulator::exchangeCount(), 0);

    // A request cut short is padded with zeros: 13 bytes carry a whole read header.
    unsigned char header[13] = { 0, Read, 0, 0, 0, 0x10, 0x7A, 0xFF, 0x1F, 4, 0, 0, 0 };
    QCOMPARE(hid_write(m_dev, header, sizeof header), 13);
    const Reply r = receive(m_dev);
    QCOMPARE(r.code, Answer);
    QCOMPARE(r.data.left(4), QByteArray::fromHex("00112233"));

    // Closing twice must not free twice.
    hid_device *second = openAdapter();
    QVERIFY(second);
    hid_close(second);
    hid_close(second);
}

void tst_Emulator::readMemory_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<quint32>("answeredLength");

    QTest::newRow("factory information")
        << 0x08003FC0u << 11u << QByteArray("CORVANE-X9\xff") << 11u;
    QTest::newRow("unique id") << 0x1FFF7A10u << 12u
                               << QByteArray::fromHex("00112233445566778899aabb") << 12u;
    QTest::newRow("seeded firmware record") << 0x08004000u << 9u
                                            << QByteArray::fromHex("55000001080506"
                                                                   "0000")
                                            << 9u;
    QTest::newRow("unmapped reads zero") << 0x20000000u << 4u << QByteArray(4, '\0') << 4u;
    QTest::newRow("past the end of flash")
        << 0x081FFFFEu << 4u << QByteArray::fromHex("ffff0000") << 4u;
    QTest::newRow("end of address space") << 0xFFFFFFFEu << 4u << QByteArray(4, '\0') << 4u;
    QTest::newRow("too long is clamped")
        << 0x08003FC0u << 60u << QByteArray("CORVANE-X9") + QByteArray(42, '\xff') << 52u;
}

void tst_Emulator::readMemory()
{
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(QByteArray, expected);
    QFETCH(quint32, answeredLength);

    const Reply r = exchange(m_dev, Read, address, length);
    QCOMPARE(r.size, 64);
    QCOMPARE(r.code, Answer);
    QCOMPARE(r.address, address);
    QCOMPARE(r.length, answeredLength);
    QCOMPARE(r.data.left(expected.size()), expected);
    QCOMPARE(AdapterEmulator::exchangeCount(), 1);
}

void tst_Emulator::writeFollowsNorRules()
{
    const QByteArray first = QByteArray::fromHex("0f0f0f0f");
    const QByteArray second = QByteArray::fromHex("f0f0f0ff");

    // Into erased flash the echo is the data itself.
    Reply r = exchange(m_dev, Write, Sector3, 4, first);
    QCOMPARE(r.code, Answer);
    QCOMPARE(r.address, Sector3);
    QCOMPARE(r.length, 4u);
    QCOMPARE(r.data.left(4), first);

    // Programming only clears bits: over unerased flash the echo differs from the data.
    r = exchange(m_dev, Write, Sector3, 4, second);
    QCOMPARE(r.data.left(4), QByteArray::fromHex("0000000f"));
    QCOMPARE(AdapterEmulator::memory(Sector3, 4), QByteArray::fromHex("0000000f"));

    // After erasing the sector the same write echoes exactly.
    QCOMPARE(exchange(m_dev, Erase, 0, 1, QByteArray(1, 3)).code, EraseAnswer);
    r = exchange(m_dev, Write, Sector3, 4, second);
    QCOMPARE(r.data.left(4), second);

    // A long write programs at most 52 bytes and says so.
    r = exchange(m_dev, Write, Sector3 + 0x100, 60, QByteArray(52, '\x5a'));
    QCOMPARE(r.length, 52u);
    QCOMPARE(AdapterEmulator::memory(Sector3 + 0x100, 53), QByteArray(52, '\x5a') + '\xff');

    // The unique id is read-only, and a write straddling the flash end keeps the rest.
    r = exchange(m_dev, Write, AdapterEmulator::UniqueIdAddress, 2, QByteArray(2, '\0'));
    QCOMPARE(r.data.left(2), QByteArray::fromHex("0011"));
    r = exchange(m_dev, Write, 0x081FFFFF, 2, QByteArray(2, '\0'));
    QCOMPARE(r.data.left(2), QByteArray(2, '\0'));
    QCOMPARE(AdapterEmulator::memory(0x081FFFFE, 2), QByteArray::fromHex("ff00"));

    QCOMPARE(AdapterEmulator::writeCommandCount(), 6);
    QCOMPARE(AdapterEmulator::exchangeCount(), 7);
}

void tst_Emulator::sectorLayout()
{
    // Sectors tile the flash without gaps: 4 x 16 KiB, 64 KiB, then 128 KiB sectors.
    quint32 next = AdapterEmulator::FlashBase;
    for (int sector = 0; sector < AdapterEmulator::SectorCount; ++sector) {
        QCOMPARE(AdapterEmulator::sectorStart(sector), next);
        const quint32 size = AdapterEmulator::sectorSize(sector);
        QCOMPARE(size, sector < 4 ? 0x4000u : sector == 4 ? 0x10000u : 0x20000u);
        QCOMPARE(AdapterEmulator::sectorOf(next), sector);
        QCOMPARE(AdapterEmulator::sectorOf(next + size - 1), sector);
        next += size;
    }
    QCOMPARE(next, AdapterEmulator::FlashBase + AdapterEmulator::FlashSize);
    QCOMPARE(AdapterEmulator::sectorOf(next), -1);
    QCOMPARE(AdapterEmulator::sectorOf(AdapterEmulator::FlashBase - 1), -1);
    QCOMPARE(AdapterEmulator::sectorOf(AdapterEmulator::FactoryInfoAddress), 0);
    QCOMPARE(AdapterEmulator::sectorSize(AdapterEmulator::SectorCount), 0u);
}

void tst_Emulator::eraseSectors()
{
    for (int sector : { 0, 4, 5, 19 })
        AdapterEmulator::setMemory(AdapterEmulator::sectorStart(sector), QByteArray(4, '\0'));
    const quint32 lastByteOf4 = AdapterEmulator::sectorStart(5) - 1;
    AdapterEmulator::setMemory(lastByteOf4, QByteArray(1, '\0'));

    // 20 is no sector and is ignored; the answer counts every listed number.
    const Reply r = exchange(m_dev, Erase, 0, 3, QByteArray::fromHex("040514"));
    QCOMPARE(r.code, EraseAnswer);
    QCOMPARE(r.address, 0u);
    QCOMPARE(r.length, 3u);
    QCOMPARE(AdapterEmulator::memory(AdapterEmulator::sectorStart(4), 4), QByteArray(4, '\xff'));
    QCOMPARE(AdapterEmulator::memory(lastByteOf4, 1), QByteArray(1, '\xff'));
    QCOMPARE(AdapterEmulator::memory(AdapterEmulator::sectorStart(5), 4), QByteArray(4, '\xff'));
    QCOMPARE(AdapterEmulator::memory(AdapterEmulator::sectorStart(0), 4), QByteArray(4, '\0'));
    QCOMPARE(AdapterEmulator::memory(AdapterEmulator::sectorStart(19), 4), QByteArray(4, '\0'));

    QCOMPARE(exchange(m_dev, Erase, 0, 1, QByteArray(1, 19)).code, EraseAnswer);
    QCOMPARE(
        AdapterEmulator::memory(AdapterEmulator::FlashBase + AdapterEmulator::FlashSize - 4, 4),
        QByteArray(4, '\xff'));
    const QList<QList<quint8>> expected { { 4, 5, 20 }, { 19 } };
    QCOMPARE(AdapterEmulator::eraseLog(), expected);

    AdapterEmulator::resetCounters();
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QCOMPARE(AdapterEmulator::exchangeCount(), 0);
}

void tst_Emulator::answerFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");

    const quint32 a = 0x08003FC0;
    QTest::newRow("wrong code") << 0 << 64 << 0x5Au << a << 8u;
    QTest::newRow("wrong address") << 1 << 64 << Answer << a + 4 << 8u;
    QTest::newRow("wrong length") << 2 << 64 << Answer << a << 7u;
    QTest::newRow("short report") << 3 << 8 << 0u << 0u << 0u;
}

void tst_Emulator::answerFaults()
{
    QFETCH(int, fault);
    QFETCH(int, size);
    QFETCH(quint32, code);
    QFETCH(quint32, address);
    QFETCH(quint32, length);

    Faults f;
    qint64 *at[] = { &f.wrongCodeAtExchange, &f.wrongAddressAtExchange, &f.wrongLengthAtExchange,
        &f.shortReportAtExchange };
    *at[fault] = 2;
    AdapterEmulator::setFaults(f);

    // Only the chosen exchange is altered.
    for (int exchangeNumber = 1; exchangeNumber <= 3; ++exchangeNumber) {
        const Reply r = exchange(m_dev, Read, 0x08003FC0, 8);
        if (exchangeNumber != 2) {
            QCOMPARE(r.size, 64);
            QCOMPARE(r.code, Answer);
            QCOMPARE(r.address, 0x08003FC0u);
            QCOMPARE(r.length, 8u);
            continue;
        }
        QCOMPARE(r.size, size);
        if (size == 64) {
            QCOMPARE(r.code, code);
            QCOMPARE(r.address, address);
            QCOMPARE(r.length, length);
            QCOMPARE(r.data.left(8), QByteArray("CORVANE-"));
        }
    }

    // Unknown commands get code 0, which no request accepts.
    AdapterEmulator::setFaults(Faults());
    QCOMPARE(exchange(m_dev, 0x41, 0x08003FC0, 8).code, 0u);
    QCOMPARE(exchange(m_dev, 0x156, 0x08003FC0, 8).code, 0u);
}

void tst_Emulator::corruptEcho()
{
    Faults f;
    f.corruptEchoAtWrite = 2;
    AdapterEmulator::setFaults(f);
    const QByteArray data = QByteArray::fromHex("0102030405");

    // Reads do not count as write commands.
    QCOMPARE(exchange(m_dev, Read, Sector3, 4).code, Answer);
    QCOMPARE(exchange(m_dev, Write, Sector3, 5, data).data.left(5), data);
    const Reply r = exchange(m_dev, Write, Sector3 + 8, 5, data);
    QCOMPARE(r.code, Answer);
    QCOMPARE(r.data.left(4), data.left(4));
    QVERIFY(r.data.at(4) != data.at(4));
    QCOMPARE(AdapterEmulator::memory(Sector3 + 8, 5), data);
    QCOMPARE(exchange(m_dev, Write, Sector3 + 16, 5, data).data.left(5), data);
}

void tst_Emulator::refusedErase()
{
    Faults f;
    f.refuseErase = true;
    AdapterEmulator::setFaults(f);
    AdapterEmulator::setMemory(Sector3, QByteArray(4, '\0'));

    const Reply r = exchange(m_dev, Erase, 0, 1, QByteArray(1, 3));
    QCOMPARE(r.code, Answer);
    QCOMPARE(AdapterEmulator::memory(Sector3, 4), QByteArray(4, '\0'));
    QCOMPARE(AdapterEmulator::eraseLog().size(), 1);
}

void tst_Emulator::unplugDuringExchange()
{
    Faults f;
    f.unplugAtExchange = 3;
    AdapterEmulator::setFaults(f);

    QCOMPARE(exchange(m_dev, Read, 0x08004000, 4).code, Answer);
    QCOMPARE(send(m_dev, Read, 0x08004000, 4), 65);
    // The request that unplugs fails and takes the unread answer with it.
    QCOMPARE(send(m_dev, Write, Sector3, 4, QByteArray(4, '\0')), -1);
    QVERIFY(!AdapterEmulator::isAttached());
    QCOMPARE(AdapterEmulator::memory(Sector3, 4), QByteArray(4, '\xff'));
    QCOMPARE(receive(m_dev, 10).size, -1);
    QCOMPARE(send(m_dev, Read, 0x08004000, 4), -1);
    QVERIFY(!openAdapter());

    // After re-attaching, the old handle stays dead and a new one works.
    AdapterEmulator::setAttached(true);
    QCOMPARE(send(m_dev, Read, 0x08004000, 4), -1);
    hid_device *fresh = openAdapter();
    QVERIFY(fresh);
    QCOMPARE(exchange(fresh, Read, 0x08004000, 1).data.left(1), QByteArray(1, '\x55'));
    hid_close(fresh);
}

void tst_Emulator::blockingReadWokenByDetach()
{
    Faults f;
    f.stallAtExchange = 1;
    AdapterEmulator::setFaults(f);
    QCOMPARE(send(m_dev, Read, 0x08004000, 4), 65);

    // A stalled exchange leaves a blocking read waiting until the adapter is pulled out.
    std::atomic<int> result { 1000 };
    std::thread reader([&] {
        unsigned char body[64];
        result = hid_read_timeout(m_dev, body, sizeof body, -1);
    });
    QTest::qWait(100);
    QCOMPARE(result.load(), 1000);
    AdapterEmulator::setAttached(false);
    reader.join();
    QCOMPARE(result.load(), -1);

    // A blocking read is also woken by an answer written from another thread.
    AdapterEmulator::setAttached(true);
    hid_device *dev = openAdapter();
    QVERIFY(dev);
    std::atomic<int> got { 1000 };
    std::thread waiter([&] {
        unsigned char body[64];
        got = hid_read(dev, body, sizeof body);
    });
    QTest::qWait(50);
    QCOMPARE(got.load(), 1000);
    QCOMPARE(send(dev, Read, 0x08004000, 4), 65);
    waiter.join();
    QCOMPARE(got.load(), 64);
    hid_close(dev);
}

void tst_Emulator::timeoutsAndNonBlocking()
{
    unsigned char body[64];
    QCOMPARE(hid_read_timeout(m_dev, body, sizeof body, 30), 0);
    QCOMPARE(hid_set_nonblocking(m_dev, 1), 0);
    QCOMPARE(hid_read(m_dev, body, sizeof body), 0);

    // Answers queue in order; a read shorter than the report takes only its part.
    QCOMPARE(send(m_dev, Read, 0x08004000, 1), 65);
    QCOMPARE(send(m_dev, Read, 0x08004001, 1), 65);
    QCOMPARE(hid_read(m_dev, body, 5), 5);
    QCOMPARE(le32(body), Answer);
    QCOMPARE(hid_read(m_dev, body, sizeof body), 64);
    QCOMPARE(le32(body + 4), 0x08004001u);
    QCOMPARE(hid_read(m_dev, body, sizeof body), 0);

    // A stalled exchange times out; the next one is answered again.
    Faults f;
    f.stallAtExchange = 3;
    AdapterEmulator::setFaults(f);
    QCOMPARE(send(m_dev, Read, 0x08004000, 1), 65);
    QCOMPARE(hid_read_timeout(m_dev, body, sizeof body, 30), 0);
    QCOMPARE(exchange(m_dev, Read, 0x08004000, 1).code, Answer);
}

void tst_Emulator::latencyPerReport()
{
    Faults f;
    f.latencyUsPerReport = 5000;
    AdapterEmulator::setFaults(f);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(exchange(m_dev, Read, 0x08004000, 4).code, Answer);
    // Sleeps never end early: one report out and one in take at least 10 ms.
    QVERIFY(timer.nsecsElapsed() >= 10 * 1000 * 1000);
}

void tst_Emulator::stateFileRoundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("adapter.state"));

    QCOMPARE(exchange(m_dev, Write, Sector3, 3, QByteArray::fromHex("123456")).code, Answer);
    AdapterEmulator::setUniqueId(QByteArray::fromHex("a1a2a3a4a5a6a7a8a9aaabac"));
    Faults f;
    f.corruptEchoAtWrite = 7;
    f.refuseErase = true;
    f.latencyUsPerReport = 12;
    AdapterEmulator::setFaults(f);
    AdapterEmulator::setAttached(false);
    const QByteArray flash
        = AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize);
    QVERIFY(AdapterEmulator::saveState(path));

    AdapterEmulator::reset();
    QVERIFY(AdapterEmulator::loadState(path));
    QCOMPARE(
        AdapterEmulator::memory(AdapterEmulator::FlashBase, AdapterEmulator::FlashSize), flash);
    QCOMPARE(AdapterEmulator::uniqueId(), QByteArray::fromHex("a1a2a3a4a5a6a7a8a9aaabac"));
    QVERIFY(!AdapterEmulator::isAttached());
    QCOMPARE(AdapterEmulator::faults().corruptEchoAtWrite, 7);
    QVERIFY(AdapterEmulator::faults().refuseErase);
    QCOMPARE(AdapterEmulator::faults().latencyUsPerReport, 12);
    QCOMPARE(AdapterEmulator::faults().unplugAtExchange, -1);

    // A damaged or missing file is refused and leaves the adapter as it was.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() - 1));
    file.close();
    AdapterEmulator::reset();
    QVERIFY(!AdapterEmulator::loadState(path));
    QVERIFY(!AdapterEmulator::loadState(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(AdapterEmulator::isAttached());
    QCOMPARE(AdapterEmulator::uniqueId(), QByteArray::fromHex("00112233445566778899aabb"));
}

void tst_Emulator::stateFileFromEnvironment()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("env.state"));
    hid_close(m_dev);
    m_dev = nullptr;
    hid_exit();

    // A missing file gives a fresh adapter, and closing the handle writes the file.
    AdapterEmulator::setUniqueId(QByteArray(12, '\x77'));
    qputenv("CORVANE_EMULATOR_STATE", QFile::encodeName(path));
    QCOMPARE(hid_init(), 0);
    QCOMPARE(AdapterEmulator::uniqueId(), QByteArray::fromHex("00112233445566778899aabb"));
    hid_device *dev = openAdapter();
    QVERIFY(dev);
    QCOMPARE(exchange(dev, Write, Sector3, 2, QByteArray::fromHex("4242")).code, Answer);
    hid_close(dev);
    QVERIFY(QFile::exists(path));

    // A later start of the program sees the same adapter.
    hid_exit();
    AdapterEmulator::reset();
    QCOMPARE(hid_init(), 0);
    QCOMPARE(AdapterEmulator::memory(Sector3, 2), QByteArray::fromHex("4242"));
    QCOMPARE(hid_exit(), 0);

    // A damaged file is neither loaded nor overwritten.
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("not a state file");
    file.close();
    const QRegularExpression unreadable(QStringLiteral("unreadable state file"));
    QTest::ignoreMessage(QtWarningMsg, unreadable);
    QCOMPARE(hid_init(), -1);
    QTest::ignoreMessage(QtWarningMsg, unreadable);
    QVERIFY(!openAdapter());
    qunsetenv("CORVANE_EMULATOR_STATE");
    hid_exit();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not a state file"));
    QCOMPARE(hid_init(), 0);
}

QTEST_GUILESS_MAIN(tst_Emulator)
#include "tst_emulator.moc"
