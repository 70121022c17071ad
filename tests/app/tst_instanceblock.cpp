// SPDX-License-Identifier: GPL-3.0-or-later
#include "instanceblock.h"
#include "instancehandshake.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

#include <cstring>

class tst_InstanceBlock : public QObject
{
    Q_OBJECT

private slots:
    void checksum();
    void blockLifecycleInSharedBytes();
    void userNameIsCutWithoutSplittingCharacters();
    void instanceKey_data();
    void instanceKey();
    void handshakeWireFormat();
    void handshakeRejectsDamagedBodies();
    void handshakeParseSurvivesGarbage();
};

void tst_InstanceBlock::checksum()
{
    QCOMPARE(instanceChecksum("123456789", 9), quint16(0x906E));
    // A freshly created (all-zero) block must never pass as consistent.
    const QByteArray zeros(InstanceBlock::Size, '\0');
    const InstanceBlock fresh = InstanceBlock::load(zeros.constData());
    QCOMPARE(fresh.computeChecksum(), quint16(0x242E));
    QVERIFY(!fresh.isConsistent());
}

void tst_InstanceBlock::blockLifecycleInSharedBytes()
{
    // Shared bytes with a recognisable filler, to see what is (not) written.
    QByteArray shared(InstanceBlock::Size, char(0xEE));
    char *raw = shared.data();
    auto u32At = [&](int offset) {
        return qFromLittleEndian<quint32>(raw + offset);
    };
    auto i64At = [&](int offset) {
        return qFromLittleEndian<qint64>(raw + offset);
    };
    auto checksumOk = [&] {
        return qFromLittleEndian<quint16>(raw + 144) == instanceChecksum(raw, 144);
    };

    InstanceBlock block = InstanceBlock::load(raw);
    QVERIFY(!block.isConsistent());
    block.reset();
    block.store(raw);
    QCOMPARE(raw[0], '\0');
    QCOMPARE(u32At(4), 0u);
    QCOMPARE(i64At(8), qint64(-1));
    QCOMPARE(raw[16], '\0');
    QVERIFY(checksumOk());
    QCOMPARE(shared.mid(146), QByteArray(6, char(0xEE)));

    block = InstanceBlock::load(raw);
    QVERIFY(block.isConsistent());
    block.registerPrimary(0x123456789AB, QByteArrayLiteral("alice"));
    block.store(raw);
    QCOMPARE(raw[0], '\1');
    QCOMPARE(i64At(8), qint64(0x123456789AB));
    QCOMPARE(QByteArray(raw + 16), QByteArrayLiteral("alice"));
    QVERIFY(checksumOk());

    block = InstanceBlock::load(raw);
    QCOMPARE(block.registerSecondary(), 1u);
    QCOMPARE(block.registerSecondary(), 2u);
    block.store(raw);
    QCOMPARE(u32At(4), 2u);
    QVERIFY(checksumOk());

    // The primary leaves; the count of secondaries stays.
    block = InstanceBlock::load(raw);
    block.clearPrimary();
    block.store(raw);
    QCOMPARE(raw[0], '\0');
    QCOMPARE(i64At(8), qint64(-1));
    QCOMPARE(raw[16], '\0');
    QCOMPARE(u32At(4), 2u);
    QVERIFY(checksumOk());

    // A writer that died between the fields and the checksum leaves an inconsistent block.
    raw[4] = 7;
    QVERIFY(!InstanceBlock::load(raw).isConsistent());
}

void tst_InstanceBlock::userNameIsCutWithoutSplittingCharacters()
{
    QByteArray shared(InstanceBlock::Size, char(0x55));
    InstanceBlock block = InstanceBlock::load(shared.constData());
    block.reset();

    const QByteArray ascii(300, 'u');
    block.registerPrimary(1, ascii);
    block.store(shared.data());
    QCOMPARE(block.userName(), ascii.left(127));
    QCOMPARE(shared.at(16 + 127), '\0');

    // 126 ASCII bytes and a 2-byte character would end one byte past the limit.
    const QByteArray accented = QByteArray(126, 'a') + QStringLiteral("\u00e9z").toUtf8();
    block.registerPrimary(1, accented);
    QCOMPARE(block.userName(), QByteArray(126, 'a'));
    QVERIFY(block.isConsistent());
}

void tst_InstanceBlock::instanceKey_data()
{
    QTest::addColumn<QString>("applicationName");
    QTest::addColumn<QString>("organizationName");
    QTest::addColumn<QString>("organizationDomain");
    QTest::addColumn<QStringList>("userData");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("includeVersion");
    QTest::addColumn<bool>("includePath");
    QTest::addColumn<bool>("includeUser");
    QTest::addColumn<QString>("expected");

    // Expected values are SHA-256 digests computed independently of this code.
    QTest::newRow("everything") << QStringLiteral("Corvane X9 Firmware Tool")
                                << QStringLiteral("Corvane") << QStringLiteral("www.corvane.com")
                                << QStringList { QStringLiteral("ex"), QStringLiteral("tra") }
                                << QStringLiteral("1.9.0")
                                << QStringLiteral("/opt/corvane/bin/corvane-firmware-tool")
                                << QStringLiteral("alice") << true << true << true
                                << QStringLiteral("8Ncuare3iPdTGc0G4P6qH_peDKHZ_HyCwtSIDgCU2XY=");
    QTest::newRow("path lower-cased, version ignored")
        << QStringLiteral("corvane-firmware-tool") << QString() << QString() << QStringList()
        << QStringLiteral("2.0") << QStringLiteral("/usr/bin/Corvane-Firmware-Tool")
        << QStringLiteral("bob") << false << true << true
        << QStringLiteral("jGwaNBLfI01plUutng0QiwNzjRxgWpiSloJ6K0qxVxI=");
    QTest::newRow("path and user left out")
        << QStringLiteral("corvane-firmware-tool") << QString() << QString() << QStringList()
        << QString() << QStringLiteral("/somewhere/else") << QStringLiteral("bob") << true << false
        << false << QString();
}

void tst_InstanceBlock::instanceKey()
{
    QFETCH(QString, applicationName);
    QFETCH(QString, organizationName);
    QFETCH(QString, organizationDomain);
    QFETCH(QStringList, userData);
    QFETCH(QString, version);
    QFETCH(QString, path);
    QFETCH(QString, user);
    QFETCH(bool, includeVersion);
    QFETCH(bool, includePath);
    QFETCH(bool, includeUser);
    QFETCH(QString, expected);

    InstanceKeyInputs inputs;
    inputs.applicationName = applicationName;
    inputs.organizationName = organizationName;
    inputs.organizationDomain = organizationDomain;
    inputs.userData = userData;
    inputs.applicationVersion = version;
    inputs.applicationFilePath = path;
    inputs.userName = user;
    inputs.includeVersion = includeVersion;
    inputs.includePath = includePath;
    inputs.includeUser = includeUser;
    const QString key = deriveInstanceKey(inputs);

    QCOMPARE(key.size(), 44);
    QVERIFY(!key.contains(QLatin1Char('/')));
    if (!expected.isEmpty())
        QCOMPARE(key, expected);

    // Inputs that are left out must not change the key; the others must.
    InstanceKeyInputs changed = inputs;
    changed.applicationVersion += QStringLiteral(".1");
    QCOMPARE(deriveInstanceKey(changed) == key, !includeVersion);
    changed = inputs;
    changed.applicationFilePath += QStringLiteral("2");
    QCOMPARE(deriveInstanceKey(changed) == key, !includePath);
    changed = inputs;
    changed.userName = QStringLiteral("mallory");
    QCOMPARE(deriveInstanceKey(changed) == key, !includeUser);
    changed = inputs;
    changed.applicationName += QLatin1Char('!');
    QVERIFY(deriveInstanceKey(changed) != key);
}

void tst_InstanceBlock::handshakeWireFormat()
{
    using namespace InstanceHandshake;
    // Body: N=3, "abc", kind 3, number 0x01020304, X.25 checksum 0x2416; header: length 14.
    const QByteArray expected = QByteArray::fromHex("000000000000000e"
                                                    "00000003"
                                                    "616263"
                                                    "03"
                                                    "01020304"
                                                    "2416");
    QCOMPARE(build(QStringLiteral("abc"), ConnectKind_Message, 0x01020304), expected);

    Body body;
    QVERIFY(parseBody(expected.mid(HeaderSize), QStringLiteral("abc"), &body));
    QCOMPARE(body.kind, qint8(ConnectKind_Message));
    QCOMPARE(body.instanceNumber, 0x01020304u);
    QCOMPARE(parseHeader(expected.left(HeaderSize)), qint64(14));
    QCOMPARE(parseHeader(expected.left(HeaderSize - 1)), qint64(-1));

    // A real key of 44 characters gives the 63-byte handshake that peers expect.
    const QString key(44, QLatin1Char('K'));
    const QByteArray full = build(key, ConnectKind_Duplicate, 2);
    QCOMPARE(full.size(), 63);
    QCOMPARE(parseHeader(full.left(HeaderSize)), qint64(55));
    QVERIFY(parseBody(full.mid(HeaderSize), key, &body));
    QCOMPARE(body.kind, qint8(ConnectKind_Duplicate));
    QCOMPARE(body.instanceNumber, 2u);

    // Key bytes count up to their first zero byte.
    QByteArray zeroPadded = QByteArray::fromHex("00000005") + QByteArrayLiteral("abc")
        + QByteArray(2, '\0') + QByteArray::fromHex("0100000001");
    const quint16 sum = instanceChecksum(zeroPadded.constData(), zeroPadded.size());
    zeroPadded += char(sum >> 8);
    zeroPadded += char(sum & 0xFF);
    QVERIFY(parseBody(zeroPadded, QStringLiteral("abc"), &body));
    QVERIFY(!parseBody(zeroPadded, QStringLiteral("abc\0\0"), nullptr));
}

void tst_InstanceBlock::handshakeRejectsDamagedBodies()
{
    using namespace InstanceHandshake;
    const QString key = QStringLiteral("Zm9vYmFyYmF6cXV4MTIzNDU2Nzg5MGFiY2RlZmdoaWo=");
    const QByteArray body = buildBody(key, ConnectKind_Message, 42);
    QVERIFY(parseBody(body, key, nullptr));
    QVERIFY(!parseBody(body, key.left(43), nullptr));

    // Every single-bit change anywhere is caught (key compare, length check or checksum).
    for (int i = 0; i < body.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            QByteArray damaged = body;
            damaged[i] = char(damaged.at(i) ^ (1 << bit));
            QVERIFY2(!parseBody(damaged, key, nullptr),
                qPrintable(QStringLiteral("byte %1 bit %2").arg(i).arg(bit)));
        }
    }
    // Truncated or extended bodies never parse.
    for (int size = 0; size < body.size(); ++size)
        QVERIFY(!parseBody(body.left(size), key, nullptr));
    QVERIFY(!parseBody(body + '\0', key, nullptr));

    // Hostile key lengths against a short body.
    for (quint32 n : { 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 45u }) {
        QByteArray hostile = body;
        qToBigEndian(n, hostile.data());
        QVERIFY(!parseBody(hostile, key, nullptr));
    }
}

void tst_InstanceBlock::handshakeParseSurvivesGarbage()
{
    // Random bodies, some starting with a plausible key length: must fail cleanly
    // (the sanitiser builds catch any read outside the buffer).
    QRandomGenerator random(20240611);
    const QString key = QStringLiteral("abc");
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray garbage(int(random.bounded(40)), Qt::Uninitialized);
        for (char &c : garbage)
            c = char(random.bounded(256));
        if (garbage.size() >= 4 && round % 2 == 0)
            qToBigEndian(quint32(random.bounded(8)), garbage.data());
        InstanceHandshake::Body body;
        if (InstanceHandshake::parseBody(garbage, key, &body))
            ++accepted;
    }
    QCOMPARE(accepted, 0);
}

QTEST_GUILESS_MAIN(tst_InstanceBlock)
#include "tst_instanceblock.moc"
