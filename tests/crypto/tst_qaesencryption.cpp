// SPDX-License-Identifier: GPL-3.0-or-later
#include "qaesencryption.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray randomBytes(QRandomGenerator &rng, int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    return bytes;
}

// NIST SP 800-38A, appendix F: four plaintext blocks, the keys of F.1.1/F.1.3/F.1.5.
const char *const sp80038aPlain = "6bc1bee22e409f96e93d7e117393172a"
                                  "ae2d8a571e03ac9c9eb76fac45af8e51"
                                  "30c81c46a35ce411e5fbc1191a0a52ef"
                                  "f69f2445df4f9b17ad2b417be66c3710";
const char *const sp80038aKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char *const sp80038aKey192 = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
const char *const sp80038aKey256
    = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char *const sp80038aIv = "000102030405060708090a0b0c0d0e0f";

} // namespace

class tst_QAESEncryption : public QObject
{
    Q_OBJECT

private slots:
    void fips197_data();
    void fips197();
    void sp80038a_data();
    void sp80038a();
    void refusals_data();
    void refusals();
    void ecbIgnoresIvAndPartialBlock();
    void stripPadding_data();
    void stripPadding();
    void tableRoundsMatchStepRounds_data();
    void tableRoundsMatchStepRounds();
    void blockFunctionsRejectBadSizes();
};

void tst_QAESEncryption::fips197_data()
{
    QTest::addColumn<int>("keySize");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipher");

    // FIPS-197 appendix C; the plaintext is 00112233445566778899aabbccddeeff for all three.
    QTest::newRow("AES-128") << int(QAESEncryption::KeySize_128)
                             << hex("000102030405060708090a0b0c0d0e0f")
                             << hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("AES-192") << int(QAESEncryption::KeySize_192)
                             << hex("000102030405060708090a0b0c0d0e0f1011121314151617")
                             << hex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("AES-256")
        << int(QAESEncryption::KeySize_256)
        << hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
        << hex("8ea2b7ca516745bfeafc49904b496089");
}

void tst_QAESEncryption::fips197()
{
    QFETCH(int, keySize);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipher);
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");

    QAESEncryption aes(QAESEncryption::KeySize(keySize), QAESEncryption::CipherMode_ECB,
        QAESEncryption::PaddingScheme_PKCS7);
    const QByteArray expanded = aes.keyExpansion(key);
    QCOMPARE(expanded.size(), 16 * (aes.rounds() + 1));
    QCOMPARE(expanded.left(key.size()), key);

    QCOMPARE(aes.encryptBlock(expanded, plain).toHex(), cipher.toHex());
    QCOMPARE(aes.decryptBlock(expanded, cipher).toHex(), plain.toHex());
    QCOMPARE(aes.decrypt(cipher, key).toHex(), plain.toHex());
}

void tst_QAESEncryption::sp80038a_data()
{
    QTest::addColumn<int>("keySize");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipher");

    const int k128 = QAESEncryption::KeySize_128;
    const int k192 = QAESEncryption::KeySize_192;
    const int k256 = QAESEncryption::KeySize_256;
    const int ecb = QAESEncryption::CipherMode_ECB;
    const int cbc = QAESEncryption::CipherMode_CBC;
    const int cfb = QAESEncryption::CipherMode_CFB;
    const int ofb = QAESEncryption::CipherMode_OFB;

    QTest::newRow("ECB-AES128")
        << k128 << ecb << hex(sp80038aKey128)
        << hex("3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
               "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4");
    QTest::newRow("ECB-AES192")
        << k192 << ecb << hex(sp80038aKey192)
        << hex("bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eef"
               "ef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e");
    QTest::newRow("ECB-AES256")
        << k256 << ecb << hex(sp80038aKey256)
        << hex("f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
               "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7");
    QTest::newRow("CBC-AES128")
        << k128 << cbc << hex(sp80038aKey128)
        << hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
               "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    QTest::newRow("CBC-AES192")
        << k192 << cbc << hex(sp80038aKey192)
        << hex("4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
               "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd");
    QTest::newRow("CBC-AES256")
        << k256 << cbc << hex(sp80038aKey256)
        << hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
               "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
    QTest::newRow("CFB128-AES128")
        << k128 << cfb << hex(sp80038aKey128)
        << hex("3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
               "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6");
    QTest::newRow("CFB128-AES192")
        << k192 << cfb << hex(sp80038aKey192)
        << hex("cdc80d6fddf18cab34c25909c99a417467ce7f7f81173621961a2b70171d3d7a"
               "2e1e8a1dd59b88b1c8e60fed1efac4c9c05f9f9ca9834fa042ae8fba584b09ff");
    QTest::newRow("CFB128-AES256")
        << k256 << cfb << hex(sp80038aKey256)
        << hex("dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
               "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471");
    QTest::newRow("OFB-AES128")
        << k128 << ofb << hex(sp80038aKey128)
        << hex("3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
               "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e");
    QTest::newRow("OFB-AES192")
        << k192 << ofb << hex(sp80038aKey192)
        << hex("cdc80d6fddf18cab34c25909c99a4174fcc28b8d4c63837c09e81700c1100401"
               "8d9a9aeac0f6596f559c6d4daf59a5f26d9f200857ca6c3e9cac524bd9acc92a");
    QTest::newRow("OFB-AES256")
        << k256 << ofb << hex(sp80038aKey256)
        << hex("dc7e84bfda79164b7ecd8486985d38604febdc6740d20b3ac88f6ad82a4fb08d"
               "71ab47a086e86eedf39d1c5bba97c4080126141d67f37be8538f5a8be740e484");
}

void tst_QAESEncryption::sp80038a()
{
    QFETCH(int, keySize);
    QFETCH(int, mode);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipher);
    const QByteArray plain = hex(sp80038aPlain);
    const QByteArray iv = hex(sp80038aIv);

    QAESEncryption aes(QAESEncryption::KeySize(keySize), QAESEncryption::CipherMode(mode),
        QAESEncryption::PaddingScheme_PKCS7);
    QCOMPARE(aes.decrypt(cipher, key, iv).toHex(), plain.toHex());

    // The stream modes give exactly as many bytes as they get, also for a partial block;
    // the block modes leave the partial block out.
    const bool stream
        = mode == QAESEncryption::CipherMode_CFB || mode == QAESEncryption::CipherMode_OFB;
    for (int length : { 1, 15, 20, 47 }) {
        const QByteArray result = aes.decrypt(cipher.left(length), key, iv);
        const int expected = stream ? length : length / 16 * 16;
        QCOMPARE(result.toHex(), plain.left(expected).toHex());
    }
}

void tst_QAESEncryption::refusals_data()
{
    QTest::addColumn<int>("keySize");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");

    const QByteArray key128 = hex(sp80038aKey128);
    const QByteArray iv = hex(sp80038aIv);
    const int k128 = QAESEncryption::KeySize_128;
    for (int mode : { 1, 2, 3 }) {
        const QByteArray name = QByteArray::number(mode);
        QTest::newRow("mode " + name + " without IV") << k128 << mode << key128 << QByteArray();
        QTest::newRow("mode " + name + " with 15-byte IV") << k128 << mode << key128 << iv.left(15);
        QTest::newRow("mode " + name + " with 17-byte IV") << k128 << mode << key128 << iv + 'x';
    }
    QTest::newRow("mode 4") << k128 << 4 << key128 << iv;
    QTest::newRow("mode -1") << k128 << -1 << key128 << iv;
    QTest::newRow("15-byte key") << k128 << 0 << key128.left(15) << iv;
    QTest::newRow("24-byte key for AES-128") << k128 << 0 << hex(sp80038aKey192) << iv;
    QTest::newRow("16-byte key for AES-256")
        << int(QAESEncryption::KeySize_256) << 1 << key128 << iv;
    QTest::newRow("unknown key size, 32-byte key") << 7 << 0 << hex(sp80038aKey256) << iv;
}

void tst_QAESEncryption::refusals()
{
    QFETCH(int, keySize);
    QFETCH(int, mode);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);

    QAESEncryption aes(QAESEncryption::KeySize(keySize), QAESEncryption::CipherMode(mode),
        QAESEncryption::PaddingScheme_PKCS7);
    QVERIFY(aes.decrypt(hex(sp80038aPlain), key, iv).isEmpty());
    QVERIFY(aes.decrypt(QByteArray(hex(sp80038aPlain)), key, iv).isEmpty());
}

void tst_QAESEncryption::ecbIgnoresIvAndPartialBlock()
{
    const QByteArray key = hex(sp80038aKey128);
    const QByteArray cipher
        = hex("3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf");
    const QByteArray plain = hex(sp80038aPlain).left(32);

    // An unknown key size works as AES-128.
    QAESEncryption aes(QAESEncryption::KeySize(42), QAESEncryption::CipherMode_ECB,
        QAESEncryption::PaddingScheme_PKCS7);
    QCOMPARE(aes.keyLength(), 16);
    QCOMPARE(aes.decrypt(cipher, key).toHex(), plain.toHex());
    QCOMPARE(aes.decrypt(cipher, key, "any IV at all").toHex(), plain.toHex());
    QVERIFY(aes.decrypt(QByteArray(), key).isEmpty());
    QVERIFY(aes.decrypt(cipher.left(15), key).isEmpty());
    QCOMPARE(aes.decrypt(cipher + "tail", key).toHex(), plain.toHex());
}

void tst_QAESEncryption::stripPadding_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray body(16, 'A');
    const int zero = QAESEncryption::PaddingScheme_Zero;
    const int pkcs = QAESEncryption::PaddingScheme_PKCS7;
    const int iso = QAESEncryption::PaddingScheme_ISO;

    QTest::newRow("PKCS7 full block") << pkcs << body + QByteArray(16, 0x10) << body;
    QTest::newRow("PKCS7 one byte") << pkcs << body + '\x01' << body;
    QTest::newRow("PKCS7 whole array") << pkcs << QByteArray(3, 0x03) << QByteArray();
    // Values of the removed bytes are not checked.
    QTest::newRow("PKCS7 unchecked bytes") << pkcs << body + "xy\x03" << body;
    QTest::newRow("PKCS7 ends 0x00")
        << pkcs << body + QByteArray(16, 0x00) << body + QByteArray(16, 0x00);
    QTest::newRow("PKCS7 ends 0x90")
        << pkcs << body + QByteArray(16, '\x90') << body + QByteArray(16, '\x90');
    QTest::newRow("PKCS7 ends 0xff") << pkcs << body + '\xff' << body + '\xff';
    // Read as a signed byte, 0x90 is negative: nothing goes even where 144 bytes could.
    QTest::newRow("PKCS7 ends 0x90, 200 bytes")
        << pkcs << QByteArray(200, '\x90') << QByteArray(200, '\x90');
    QTest::newRow("PKCS7 ends 0x21 (beyond length)")
        << pkcs << body + QByteArray(16, 0x21) << body + QByteArray(16, 0x21);
    QTest::newRow("PKCS7 empty") << pkcs << QByteArray() << QByteArray();
    QTest::newRow("ISO 0x80 then zeros")
        << iso << QByteArray("\x10\x41\x80\x00\x00", 5) << QByteArray("\x10\x41");
    QTest::newRow("ISO 0x80 last") << iso << QByteArray("\x41\x80") << QByteArray("\x41");
    QTest::newRow("ISO no marker")
        << iso << QByteArray("\x10\x41\x00", 3) << QByteArray("\x10\x41\x00", 3);
    QTest::newRow("ISO all zero") << iso << QByteArray(8, 0) << QByteArray(8, 0);
    QTest::newRow("ISO marker only") << iso << QByteArray("\x80\x00", 2) << QByteArray();
    QTest::newRow("zero scheme") << zero << QByteArray("ab\x00\x00", 4) << QByteArray("ab");
    QTest::newRow("zero scheme all zero") << zero << QByteArray(16, 0) << QByteArray();
    QTest::newRow("zero scheme keeps inner zeros") << zero
                                                   << QByteArray("a\x00"
                                                                 "b",
                                                          3)
                                                   << QByteArray("a\x00"
                                                                 "b",
                                                          3);
    QTest::newRow("unknown scheme") << 3 << body + '\x01' << body + '\x01';
}

void tst_QAESEncryption::stripPadding()
{
    QFETCH(int, scheme);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);

    const QByteArray original = data;
    const auto padding = QAESEncryption::PaddingScheme(scheme);
    QCOMPARE(QAESEncryption::stripPadding(data, padding).toHex(), expected.toHex());
    QCOMPARE(data, original); // the lvalue form leaves its argument alone
    QCOMPARE(QAESEncryption::stripPadding(QByteArray(data), padding).toHex(), expected.toHex());
}

void tst_QAESEncryption::tableRoundsMatchStepRounds_data()
{
    QTest::addColumn<int>("keySize");
    QTest::newRow("AES-128") << int(QAESEncryption::KeySize_128);
    QTest::newRow("AES-192") << int(QAESEncryption::KeySize_192);
    QTest::newRow("AES-256") << int(QAESEncryption::KeySize_256);
}

// decrypt() runs on the round tables, encryptBlock()/decryptBlock() on the single steps;
// both must agree on many random blocks in every mode.
void tst_QAESEncryption::tableRoundsMatchStepRounds()
{
    QFETCH(int, keySize);
    QRandomGenerator rng(0x5eed + quint32(keySize));
    const auto size = QAESEncryption::KeySize(keySize);
    QAESEncryption reference(
        size, QAESEncryption::CipherMode_ECB, QAESEncryption::PaddingScheme_PKCS7);
    const QByteArray key = randomBytes(rng, reference.keyLength());
    const QByteArray iv = randomBytes(rng, 16);
    const QByteArray data = randomBytes(rng, 64 * 16 + 5);
    const QByteArray original(data.constData(), data.size());
    const QByteArray expanded = reference.keyExpansion(key);
    const int blocks = data.size() / 16;

    QByteArray ecb, cbc, cfb, ofb;
    QByteArray previous = iv;
    QByteArray stream = iv;
    for (int i = 0; i <= blocks; ++i) {
        const QByteArray block = data.mid(16 * i, 16);
        if (block.size() == 16) {
            const QByteArray plain = reference.decryptBlock(expanded, block);
            ecb += plain;
            cbc += QAESEncryption::byteXor(plain, previous);
        }
        cfb += QAESEncryption::byteXor(block, reference.encryptBlock(expanded, previous));
        stream = reference.encryptBlock(expanded, stream);
        ofb += QAESEncryption::byteXor(block, stream);
        previous = block;
    }
    QCOMPARE(ofb.size(), data.size());

    const struct
    {
        QAESEncryption::CipherMode mode;
        QByteArray expected;
    } cases[] = { { QAESEncryption::CipherMode_ECB, ecb }, { QAESEncryption::CipherMode_CBC, cbc },
        { QAESEncryption::CipherMode_CFB, cfb }, { QAESEncryption::CipherMode_OFB, ofb } };
    for (const auto &c : cases) {
        QAESEncryption aes(size, c.mode, QAESEncryption::PaddingScheme_PKCS7);
        QCOMPARE(aes.decrypt(data, key, iv).toHex(), c.expected.toHex());
        // In place: a buffer shared with another array is copied first, never overwritten.
        QByteArray shared = data;
        QCOMPARE(aes.decrypt(std::move(shared), key, iv).toHex(), c.expected.toHex());
        QCOMPARE(data, original);
    }

    // And the step-wise cipher and inverse cipher undo each other.
    for (int i = 0; i < blocks; ++i) {
        const QByteArray block = data.mid(16 * i, 16);
        QCOMPARE(reference.decryptBlock(expanded, reference.encryptBlock(expanded, block)), block);
    }
}

void tst_QAESEncryption::blockFunctionsRejectBadSizes()
{
    QAESEncryption aes(QAESEncryption::KeySize_192, QAESEncryption::CipherMode_ECB,
        QAESEncryption::PaddingScheme_PKCS7);
    const QByteArray expanded = aes.keyExpansion(hex(sp80038aKey192));
    QCOMPARE(expanded.size(), 208);
    QVERIFY(aes.keyExpansion(hex(sp80038aKey128)).isEmpty());
    QVERIFY(aes.encryptBlock(expanded, QByteArray(15, 'a')).isEmpty());
    QVERIFY(aes.decryptBlock(expanded, QByteArray(17, 'a')).isEmpty());
    QVERIFY(aes.decryptBlock(expanded.left(176), QByteArray(16, 'a')).isEmpty());

    // Steps on a short or missing state block, or with a round key past the schedule,
    // change nothing.
    QByteArray shortState(8, 'x');
    aes.bindState(&shortState);
    aes.subBytes();
    aes.mixColumns();
    aes.invShiftRows();
    QCOMPARE(shortState, QByteArray(8, 'x'));
    QByteArray state(16, 'x');
    aes.bindState(&state);
    aes.addRoundKey(13, expanded);
    QCOMPARE(state, QByteArray(16, 'x'));
    aes.addRoundKey(12, expanded);
    QCOMPARE(state, QAESEncryption::byteXor(QByteArray(16, 'x'), expanded.mid(192)));
    aes.bindState(nullptr);
    aes.shiftRows();
}

QTEST_GUILESS_MAIN(tst_QAESEncryption)
#include "tst_qaesencryption.moc"
