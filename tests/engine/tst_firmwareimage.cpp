// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwareimage.h"
#include "firmwareimagemaker.h"
#include "hostprogram.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray testPayload(int length)
{
    QRandomGenerator rng(quint32(length) * 2654435761u);
    QByteArray bytes(length, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    return bytes;
}

QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

} // namespace

Q_DECLARE_METATYPE(FirmwareImage::Status)

class tst_FirmwareImage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void opensslImages_data();
    void opensslImages();
    void makerMatchesOpenssl_data();
    void makerMatchesOpenssl();
    void damagedFiles_data();
    void damagedFiles();
    void base64MatchesQt();

private:
    // Runs tools/scripts/make-firmware.sh; the image file's content lands in *image.
    bool makeWithOpenssl(
        const QStringList &arguments, const QByteArray &payload, QByteArray *image);

    QTemporaryDir m_dir;
    QString m_script;
    int m_runs = 0;
};

void tst_FirmwareImage::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString source = qEnvironmentVariable("CORVANE_TEST_SOURCE_DIR");
    QVERIFY2(!source.isEmpty(), "CORVANE_TEST_SOURCE_DIR is not set");
    m_script = source + QStringLiteral("/tools/scripts/make-firmware.sh");
    QVERIFY2(QFile::exists(m_script), qPrintable(m_script));
}

bool tst_FirmwareImage::makeWithOpenssl(
    const QStringList &arguments, const QByteArray &payload, QByteArray *image)
{
    const QString stem = m_dir.filePath(QStringLiteral("run%1").arg(++m_runs));
    const QString payloadPath = stem + QStringLiteral(".payload");
    const QString imagePath = stem + QStringLiteral(".rfw");
    if (!FirmwareImageMaker::writeToFile(payloadPath, payload))
        return false;

    HostProgram script;
    QString error;
    if (!script.start(m_script, arguments + QStringList { payloadPath, imagePath }, &error)
        || script.waitForExit(60000) != 0) {
        qWarning() << "make-firmware.sh failed:" << arguments << error;
        return false;
    }
    QFile file(imagePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *image = file.readAll();
    return true;
}

void tst_FirmwareImage::opensslImages_data()
{
    QTest::addColumn<QStringList>("arguments"); // options, then the version
    QTest::addColumn<int>("payloadLength");
    QTest::addColumn<FirmwareImage::Status>("status");
    QTest::addColumn<QString>("version");

    const QString key = QStringLiteral("--key-hex");
    const QString tag = QStringLiteral("--tag");
    const QString wrap = QStringLiteral("--wrap");
    const QString shortVersion = QStringLiteral("--allow-short-version");

    QTest::newRow("valid") << QStringList { QStringLiteral("5.6.3") } << 1000 << FirmwareImage::Ok
                           << QStringLiteral("5.6.3");
    QTest::newRow("extreme version bytes") << QStringList { QStringLiteral("0.255.10") } << 5
                                           << FirmwareImage::Ok << QStringLiteral("0.255.10");
    QTest::newRow("empty payload (L = 29)") << QStringList { QStringLiteral("1.0.0") } << 0
                                            << FirmwareImage::Ok << QStringLiteral("1.0.0");
    QTest::newRow("plaintext of whole blocks (L = 32)")
        << QStringList { QStringLiteral("2.3.4") } << 3 << FirmwareImage::Ok
        << QStringLiteral("2.3.4");
    QTest::newRow("Base64 in lines of 76")
        << QStringList { wrap, QStringLiteral("76"), QStringLiteral("5.5.1") } << 4000
        << FirmwareImage::Ok << QStringLiteral("5.5.1");
    QTest::newRow("other key") << QStringList { key,
        QStringLiteral("000102030405060708090a0b0c0d0e0f"), QStringLiteral("5.6.3") }
                               << 1000 << FirmwareImage::DigestMismatch << QString();
    QTest::newRow("tag differs in its last character")
        << QStringList { tag, QStringLiteral("Corvane_X8"), QStringLiteral("5.6.3") } << 1000
        << FirmwareImage::TypeMismatch << QString();
    QTest::newRow("shorter tag") << QStringList { tag, QStringLiteral("Corvane"),
        QStringLiteral("5.6.3") } << 100
                                 << FirmwareImage::TypeMismatch << QString();
    QTest::newRow("L = 28") << QStringList { shortVersion, QStringLiteral("1.2") } << 0
                            << FirmwareImage::TooShort << QString();
    QTest::newRow("L = 27") << QStringList { shortVersion, QStringLiteral("1") } << 0
                            << FirmwareImage::TooShort << QString();
    QTest::newRow("L = 26") << QStringList { shortVersion, QString() } << 0
                            << FirmwareImage::TooShort << QString();
}

void tst_FirmwareImage::opensslImages()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, payloadLength);
    QFETCH(FirmwareImage::Status, status);
    QFETCH(QString, version);

    const QByteArray payload = testPayload(payloadLength);
    QByteArray file;
    QVERIFY(makeWithOpenssl(arguments, payload, &file));

    const FirmwareImage image = decodeFirmwareImage(file);
    QCOMPARE(image.status, status);
    if (status == FirmwareImage::Ok) {
        QVERIFY(image.isValid());
        QCOMPARE(image.versionText(), version);
        QCOMPARE(image.payload.size(), payload.size());
        QVERIFY(image.payload == payload);
        QCOMPARE(image.payloadMd5.toHex(), md5(payload).toHex());
        QCOMPARE(QByteArray(FirmwareImage::warningText(image.status)), QByteArray());
    } else {
        QVERIFY(!image.isValid());
        QVERIFY(image.payload.isEmpty());
        const QByteArray expected
            = status == FirmwareImage::DigestMismatch ? "file md5 error" : "file type error";
        QCOMPARE(QByteArray(FirmwareImage::warningText(image.status)), expected);
    }
}

void tst_FirmwareImage::makerMatchesOpenssl_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("lineLength");
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<QByteArray>("key");

    const QByteArray tag = FirmwareImage::typeTag();
    const QByteArray key = FirmwareImage::cipherKey();
    QTest::newRow("defaults") << QStringList() << 0 << tag << key;
    QTest::newRow("lines of 76") << QStringList { QStringLiteral("--wrap"), QStringLiteral("76") }
                                 << 76 << tag << key;
    QTest::newRow("other tag") << QStringList { QStringLiteral("--tag"),
        QStringLiteral("Corvane_X1") }
                               << 0 << QByteArray("Corvane_X1") << key;
    QTest::newRow("other key") << QStringList {
        QStringLiteral("--key-hex"), QStringLiteral("00112233445566778899aabbccddeeff")
    } << 0 << tag << QByteArray::fromHex("00112233445566778899aabbccddeeff");
}

// Other tests build their images with the maker: it must produce what openssl produces.
void tst_FirmwareImage::makerMatchesOpenssl()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, lineLength);
    QFETCH(QByteArray, tag);
    QFETCH(QByteArray, key);

    const QByteArray payload = testPayload(777);
    QByteArray expected;
    QVERIFY(
        makeWithOpenssl(arguments + QStringList { QStringLiteral("7.8.9") }, payload, &expected));

    FirmwareImageMaker::Options options;
    options.tag = tag;
    options.key = key;
    options.lineLength = lineLength;
    QCOMPARE(FirmwareImageMaker::make(7, 8, 9, payload, options), expected);
}

void tst_FirmwareImage::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<FirmwareImage::Status>("status");

    const QByteArray payload = testPayload(300);
    const QByteArray valid = FirmwareImageMaker::make(3, 1, 4, payload);
    const QByteArray cipher = QByteArray::fromBase64(valid);
    QCOMPARE(cipher.size() % 16, 0);

    QTest::newRow("intact") << valid << FirmwareImage::Ok;
    QTest::newRow("other characters around the text") << QByteArray("\r\n ") + valid.left(40)
            + "\n\t" + valid.mid(40) + "\r\n\r\n" << FirmwareImage::Ok;
    QTest::newRow("empty file") << QByteArray() << FirmwareImage::DigestMismatch;
    QTest::newRow("Base64 text cut in half")
        << valid.left(valid.size() / 2) << FirmwareImage::DigestMismatch;
    QTest::newRow("first two blocks only")
        << cipher.left(32).toBase64() << FirmwareImage::DigestMismatch;
    QTest::newRow("last three bytes missing")
        << cipher.left(cipher.size() - 3).toBase64() << FirmwareImage::DigestMismatch;
    // The whole image is still there, but something was appended: not a whole block.
    QTest::newRow("one byte appended")
        << (cipher + 'x').toBase64() << FirmwareImage::DigestMismatch;
    QTest::newRow("one block short of 16 bytes")
        << QByteArray("AAAA") << FirmwareImage::DigestMismatch;
    QTest::newRow("not Base64") << QByteArray("this is not a firmware image!")
                                << FirmwareImage::DigestMismatch;
    QTest::newRow("binary data") << testPayload(4096) << FirmwareImage::DigestMismatch;

    FirmwareImageMaker::Options badDigest;
    badDigest.corruptDigest = true;
    QTest::newRow("digest off by one bit")
        << FirmwareImageMaker::make(3, 1, 4, payload, badDigest) << FirmwareImage::DigestMismatch;
    FirmwareImageMaker::Options zeroInTag;
    zeroInTag.tag = QByteArray("Corvane\0X9", 10);
    QTest::newRow("zero byte in the tag")
        << FirmwareImageMaker::make(3, 1, 4, payload, zeroInTag) << FirmwareImage::TypeMismatch;
    QTest::newRow("tag and digest only (L = 26)")
        << FirmwareImageMaker::encipher(FirmwareImageMaker::withDigest(FirmwareImage::typeTag()))
        << FirmwareImage::TooShort;
    QTest::newRow("digest of nothing (L = 16)")
        << FirmwareImageMaker::encipher(FirmwareImageMaker::withDigest(QByteArray()))
        << FirmwareImage::TypeMismatch;
}

void tst_FirmwareImage::damagedFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(FirmwareImage::Status, status);
    const QByteArray original(file.constData(), file.size());

    // The in-place form works on a buffer shared with `file`: it must copy, not overwrite.
    QByteArray shared = file;
    const FirmwareImage images[]
        = { decodeFirmwareImage(file), decodeFirmwareImage(std::move(shared)) };
    QCOMPARE(file, original);
    for (const FirmwareImage &image : images) {
        QCOMPARE(image.status, status);
        if (status == FirmwareImage::Ok) {
            QCOMPARE(image.versionText(), QStringLiteral("3.1.4"));
            QVERIFY(image.payload == testPayload(300));
        } else {
            QVERIFY(image.payload.isEmpty());
            QVERIFY(image.payloadMd5.isEmpty());
        }
    }
}

// The table-driven Base64 reader must skip and join exactly like Qt's lenient decoder,
// also with padding, line breaks and stray characters in the middle of the text.
void tst_FirmwareImage::base64MatchesQt()
{
    const QByteArray characters
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\n\r -_*\x80\xff";
    QRandomGenerator rng(77);
    QList<QByteArray> texts { "", "A", "QQ", "QUI", "QUJD",
        "QQ==QQ==", "QUJD\nRA==", "====", "\xffQUJD" };
    for (int n = 0; n < 300; ++n) {
        QByteArray text(int(rng.bounded(40)), Qt::Uninitialized);
        // Mostly alphabet characters, like a real file, with occasional others.
        for (char &c : text)
            c = characters.at(int(rng.bounded(rng.bounded(8) == 0 ? characters.size() : 64)));
        texts.append(text);
    }
    for (const QByteArray &text : qAsConst(texts)) {
        const QByteArray expected = QByteArray::fromBase64(text).toHex();
        QCOMPARE(decodeBase64Lenient(text).toHex(), expected);
        QCOMPARE(decodeBase64Lenient(QByteArray(text.constData(), text.size())).toHex(), expected);
    }
}

QTEST_GUILESS_MAIN(tst_FirmwareImage)
#include "tst_firmwareimage.moc"
