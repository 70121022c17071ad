// SPDX-License-Identifier: GPL-3.0-or-later
#include "cloudtesthelpers.h"
#include "firmwareimagemaker.h"
#include "testdata.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

using namespace CloudTest;

class tst_FirmwareDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void downloadSucceeds_data();
    void downloadSucceeds();
    void cachedOrOutOfRange_data();
    void cachedOrOutOfRange();
    void downloadFails_data();
    void downloadFails();
    void unsafeVersionRefused_data();
    void unsafeVersionRefused();
    void cacheWriteFails_data();
    void cacheWriteFails();
    void changedImageRefused();
    void lookAlikeLabelMeetsThePin();
    void refusedCacheFetchedAgain();
    void quitDuringDownload();

private:
    // Loads a catalogue of the given entries from the server into cloud.
    void load(SyncCloud &cloud, const QJsonArray &firmware);
    QStringList dataDirEntries() const;

    HttpServerProcess m_server;
    QByteArray m_image;
};

void tst_FirmwareDownload::initTestCase()
{
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
    // Large enough to arrive in many pieces and to be cut off half-way.
    QRandomGenerator random(0x5eed);
    m_image.resize(2 * 1024 * 1024);
    for (char &c : m_image)
        c = char(random.bounded(256));
    QVERIFY(m_server.putFile(QStringLiteral("fw/image.rfw"), m_image));
    QVERIFY(m_server.putFile(QStringLiteral("fw/empty.rfw"), QByteArray()));
}

void tst_FirmwareDownload::init()
{
    prepareDataDir();
}

void tst_FirmwareDownload::load(SyncCloud &cloud, const QJsonArray &firmware)
{
    QVERIFY(serveCatalogue(m_server, catalogue(firmware)));
    cloud.setCatalogueHost(m_server.baseUrl());
    QVERIFY(fetch(cloud));
    QVERIFY(!cloud.firmwareInfo().isEmpty() || firmware.isEmpty());
    m_server.clearRequestLog();
}

QStringList tst_FirmwareDownload::dataDirEntries() const
{
    QStringList entries = QDir(dataDir()).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
#ifdef Q_OS_WIN
    // On Windows the settings store's writers meet at a lock file beside the settings file.
    entries.removeOne(QStringLiteral("corvaneflashtool.ini.writers"));
#endif
    return entries;
}

void tst_FirmwareDownload::downloadSucceeds_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("route");
    QTest::addColumn<int>("minProgress");
    QTest::newRow("plain") << QStringLiteral("1.2.0") << QString() << 1;
    QTest::newRow("slow, many progress steps")
        << QStringLiteral("1.2.0") << QStringLiteral("/_control/slow") << 10;
    QTest::newRow("chunked, size unknown")
        << QStringLiteral("1.2.0") << QStringLiteral("/_control/chunked") << 1;
    QTest::newRow("redirected") << QStringLiteral("1.2.0") << QStringLiteral("/_control/redirect")
                                << 1;
    QTest::newRow("version with spaces") << QStringLiteral("1.2.0 beta") << QString() << 1;
}

void tst_FirmwareDownload::downloadSucceeds()
{
    QFETCH(QString, version);
    QFETCH(QString, route);
    QFETCH(int, minProgress);

    SyncCloud cloud;
    load(cloud,
        { entry(QStringLiteral("1.0.0"), QString(),
              m_server.url(QStringLiteral("/fw/other.rfw")).toString()),
            entry(version, QString(),
                m_server.url(route + QLatin1String("/fw/image.rfw")).toString()) });
    SignalLog log(&cloud);
    const QString path = cloud.getFirmware(1);

    const QString expectedPath = dataDir() + QLatin1String("/Firmware_V1.2.0.rfw");
    QCOMPARE(path, expectedPath);
    QCOMPARE(log.lines,
        QStringList({ QStringLiteral("SyncError_ChecksumError"), QStringLiteral("progress"),
            QStringLiteral("firmwareFileListChanged") }));
    QVERIFY2(log.progress.size() >= minProgress, QByteArray::number(log.progress.size()));
    QCOMPARE(log.progress.last().first, qlonglong(m_image.size()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == m_image);
    QCOMPARE(dataDirEntries().size(), 3); // the settings file, the image and its digest
    QVERIFY(!m_server.requestLog().contains(QStringLiteral("/fw/other.rfw")));

    // The second request finds the cached file: no traffic, no signal.
    m_server.clearRequestLog();
    log.lines.clear();
    QCOMPARE(cloud.getFirmware(1), expectedPath);
    QVERIFY(log.lines.isEmpty());
    QVERIFY(m_server.requestLog().isEmpty());
}

void tst_FirmwareDownload::cachedOrOutOfRange_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("cachedFile"); // created before the call, "" for none
    QTest::addColumn<QString>("result"); // file name in the data directory, "" for none
    QTest::addColumn<QStringList>("signalLines");
    const QStringList refused { QStringLiteral("SyncError_InformationError") };
    QTest::newRow("cached, truncated") << 0 << QStringLiteral("Firmware_V1.0.0.rfw")
                                       << QStringLiteral("Firmware_V1.0.0.rfw") << QStringList();
    QTest::newRow("index equal to count") << 1 << QString() << QString() << QStringList();
    QTest::newRow("index far beyond") << 7 << QString() << QString() << QStringList();
    QTest::newRow("index -1, nothing cached") << -1 << QString() << QString() << refused;
    QTest::newRow("index -1, unnamed file cached")
        << -1 << QStringLiteral("Firmware_V.rfw") << QString() << refused;
}

void tst_FirmwareDownload::cachedOrOutOfRange()
{
    QFETCH(int, index);
    QFETCH(QString, cachedFile);
    QFETCH(QString, result);
    QFETCH(QStringList, signalLines);

    SyncCloud cloud;
    load(cloud,
        { entry(QStringLiteral("1.0.0"), QString(),
            m_server.url(QStringLiteral("/fw/image.rfw")).toString()) });
    if (!cachedFile.isEmpty()) {
        QFile file(dataDir() + QLatin1Char('/') + cachedFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("trunc");
    }
    SignalLog log(&cloud);
    const QString path = cloud.getFirmware(index);
    QCOMPARE(path, result.isEmpty() ? QString() : dataDir() + QLatin1Char('/') + result);
    QCOMPARE(log.lines, signalLines);
    QVERIFY(m_server.requestLog().isEmpty());
    if (!cachedFile.isEmpty()) {
        QFile file(dataDir() + QLatin1Char('/') + cachedFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArrayLiteral("trunc"));
    }
}

void tst_FirmwareDownload::downloadFails_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<qint64>("maxSent"); // body bytes the server may get out before the abort
    // Far beyond the limit, so that reading it all before refusing it would show. An announced
    // size is refused at the headers, so only what the socket buffers hold goes out.
    const qint64 big = 4 * SyncCloud::MaxReplySize;
    const QString oversize = QString::number(big);
    QTest::newRow("404") << m_server.url(QStringLiteral("/_control/status/404/fw.rfw")).toString()
                         << 0LL;
    QTest::newRow("300 without redirect")
        << m_server.url(QStringLiteral("/_control/status/300/fw.rfw")).toString() << 0LL;
    QTest::newRow("missing file") << m_server.url(QStringLiteral("/fw/missing.rfw")).toString()
                                  << 0LL;
    QTest::newRow("dropped half-way")
        << m_server.url(QStringLiteral("/_control/drop/fw/image.rfw")).toString() << 0LL;
    QTest::newRow("oversized, announced")
        << m_server.url(QStringLiteral("/_control/big/") + oversize).toString()
        << SyncCloud::MaxReplySize;
    // Without a length the limit is only seen while reading; a body far beyond it keeps the
    // bound clear of how far the network thread reads ahead on a loaded machine.
    const qint64 huge = 64 * SyncCloud::MaxReplySize;
    QTest::newRow("oversized, chunked")
        << m_server.url(QStringLiteral("/_control/bigchunked/") + QString::number(huge)).toString()
        << huge / 2;
    QTest::newRow("gzip sent unasked, 1 GiB unpacked")
        << m_server.url(QStringLiteral("/_control/gzip/1073741824/fw.rfw")).toString() << 0LL;
    QTest::newRow("silent server")
        << m_server.url(QStringLiteral("/_control/silent/fw.rfw")).toString() << 0LL;
    // 80 lines of 1 KiB: Qt 6 itself drops all headers of a reply that has more than 100.
    QTest::newRow("headers past 64 KiB")
        << m_server.url(QStringLiteral("/_control/headers/81920/fw.rfw")).toString() << 0LL;
    QTest::newRow("header lines without end")
        << m_server.url(QStringLiteral("/_control/headers/0/fw.rfw")).toString() << 0LL;
    QTest::newRow("silent but for a byte every 0.2 s")
        << m_server.url(QStringLiteral("/_control/trickle/0.2/fw.rfw")).toString() << 0LL;
    QTest::newRow("silent after half of the body")
        << m_server.url(QStringLiteral("/_control/stall/fw/image.rfw")).toString() << 0LL;
    QTest::newRow("empty body") << m_server.url(QStringLiteral("/fw/empty.rfw")).toString() << 0LL;
    QTest::newRow("server gone")
        << QStringLiteral("http://127.0.0.1:%1/fw.rfw").arg(HttpServerProcess::closedPort()) << 0LL;
    QTest::newRow("empty address") << QString() << 0LL;
    QTest::newRow("local file address") << QStringLiteral("file:///etc/hostname") << 0LL;
}

void tst_FirmwareDownload::downloadFails()
{
    QFETCH(QString, address);
    QFETCH(qint64, maxSent);
    SyncCloud cloud;
    load(cloud, { entry(QStringLiteral("1.0.0"), QString(), address) });
    SignalLog log(&cloud);
    const QByteArray tag = QTest::currentDataTag();
    if (tag.startsWith("silent"))
        cloud.setTransferTimeout(SilenceTimeoutMs);
    else if (tag.startsWith("header")) // headers get a third of it, 2 s
        cloud.setTransferTimeout(6000);

    QCOMPARE(cloud.getFirmware(0), QString());
    QVERIFY2(
        !tag.startsWith("header") || cloud.lastErrorString().contains(QLatin1String("headers")),
        qPrintable(cloud.lastErrorString()));
    QVERIFY(log.lines.size() >= 2);
    QCOMPARE(log.lines.first(), QStringLiteral("SyncError_ChecksumError"));
    QCOMPARE(log.lines.last(), QStringLiteral("SyncError_NetworkError"));
    QVERIFY(!log.lines.contains(QStringLiteral("firmwareFileListChanged")));
    QVERIFY(!cloud.lastErrorString().isEmpty());
    // Nothing but the settings file: no image, no partial or temporary file.
    QCOMPARE(dataDirEntries(), QStringList { QStringLiteral("corvaneflashtool.ini") });
    if (maxSent > 0) {
        if (tag == "oversized, chunked" && TestData::underWine())
            QSKIP("how much a chunked body's server sent is not bounded under Wine: on a loaded "
                  "machine Qt's network thread there takes the abort only after the whole body");
        const qint64 sent = m_server.bytesSent(QUrl(address).path());
        QVERIFY2(sent >= 0 && sent < maxSent, QByteArray::number(sent));
    }
}

void tst_FirmwareDownload::unsafeVersionRefused_data()
{
    QTest::addColumn<QString>("version");
    QTest::newRow("parent escape") << QStringLiteral("../../../escaped");
    QTest::newRow("slash") << QStringLiteral("1.0/escaped");
    QTest::newRow("backslash") << QStringLiteral("..\\..\\escaped");
    QTest::newRow("dot dot") << QStringLiteral("..");
    QTest::newRow("line feed") << QStringLiteral("1.0\n2");
    QTest::newRow("nul") << QString::fromLatin1("1.0\0x", 5);
    QTest::newRow("right-to-left override") << QStringLiteral("\u202e42.5.5");
    QTest::newRow("line separator") << QStringLiteral("5.6.0\u2028(urgent security fix)");
}

void tst_FirmwareDownload::unsafeVersionRefused()
{
    QFETCH(QString, version);
    SyncCloud cloud;
    load(cloud,
        { entry(version, QString(), m_server.url(QStringLiteral("/fw/image.rfw")).toString()) });
    // With this directory present, "../" in a version would climb out of the data directory.
    QVERIFY(QDir(dataDir()).mkdir(QStringLiteral("Firmware_V..")));
    // (Windows drops the trailing dots of a name: there it is "Firmware_V".)
    const QStringList entries = dataDirEntries();
    const QString outside = dataDir() + QLatin1String("/../escaped.rfw");
    QFile::remove(outside);
    SignalLog log(&cloud);

    QCOMPARE(cloud.getFirmware(0), QString());
    QCOMPARE(log.lines, QStringList { QStringLiteral("SyncError_InformationError") });
    QVERIFY(m_server.requestLog().isEmpty());
    QVERIFY(!QFileInfo::exists(outside));
    QCOMPARE(dataDirEntries(), entries);
    QCOMPARE(cloud.firmwareFilePath(version), QString());
}

void tst_FirmwareDownload::cacheWriteFails_data()
{
    QTest::addColumn<bool>("diskFull"); // else a directory stands at the cache path
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("left"); // beside the settings
    QTest::newRow("a directory at the cache path")
        << false << QString() << QStringLiteral("Firmware_V1.0.0.rfw ");
    QTest::newRow("the disk full") << true << QStringLiteral(": File too large") << QString();
}

// A download that cannot be stored is reported as such, with the system's reason, and leaves
// no digest record behind: a directory standing at the cache path is no cached image.
void tst_FirmwareDownload::cacheWriteFails()
{
    QFETCH(bool, diskFull);
    QFETCH(QString, reason);
    QFETCH(QString, left);
    SyncCloud cloud;
    load(cloud,
        { entry(QStringLiteral("1.0.0"), QString(),
            m_server.url(QStringLiteral("/fw/image.rfw")).toString()) });
    if (!diskFull)
        QVERIFY(QDir(dataDir()).mkdir(QStringLiteral("Firmware_V1.0.0.rfw")));
    SignalLog log(&cloud);

    // A file size limit below the image's: its write fails as on a full disk, the record's not.
#ifdef Q_OS_WIN
    if (diskFull)
        QSKIP("Windows has no file size limit of a process to stand for a full disk");
    const QString path = cloud.getFirmware(0);
#else
    rlimit limit {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    limit.rlim_cur = diskFull ? rlim_t(m_image.size() / 2) : limit.rlim_cur;
    const auto inherited = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const QString path = cloud.getFirmware(0);
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, inherited);
#endif
    QCOMPARE(path, QString());
    QCOMPARE(log.lines,
        QStringList({ QStringLiteral("SyncError_ChecksumError"), QStringLiteral("progress"),
            QStringLiteral("SyncError_DownloadFail") }));
    QVERIFY2(cloud.lastErrorString().startsWith(QLatin1String("cannot write"))
            && cloud.lastErrorString().endsWith(reason),
        qPrintable(cloud.lastErrorString()));
    QCOMPARE(
        dataDirEntries().join(QLatin1Char(' ')), left + QStringLiteral("corvaneflashtool.ini"));
}

// Other bytes for a version downloaded before are refused, until a refresh takes them.
void tst_FirmwareDownload::changedImageRefused()
{
    QVERIFY(m_server.putFile(QStringLiteral("fw/changing.rfw"), "first"));
    SyncCloud cloud;
    load(cloud,
        { entry(QStringLiteral("3.0.0"), QString(),
            m_server.url(QStringLiteral("/fw/changing.rfw")).toString()) });
    const QString path = cloud.getFirmware(0);
    QVERIFY(QFile::remove(path));
#ifndef Q_OS_WIN // on Windows the user's profile keeps it private, not its mode
    QCOMPARE(QFileInfo(cloud.firmwareDigestPath(QStringLiteral("3.0.0"))).permissions(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
            | QFileDevice::WriteUser);
#endif
    QVERIFY(m_server.putFile(QStringLiteral("fw/changing.rfw"), "second"));
    SignalLog log(&cloud);

    QCOMPARE(cloud.getFirmware(0), QString());
    QCOMPARE(log.lines.last(), QStringLiteral("SyncError_DownloadFail"));
    QVERIFY(cloud.lastErrorString().startsWith(
        QLatin1String("the image for 3.0.0 differs from the one downloaded on ")));
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(cloud.getFirmware(0, true), path);
    QVERIFY(QFile::remove(path));
    QCOMPARE(cloud.getFirmware(0), path);
}

// A label spelling a version otherwise (a leading V, a leading zero, a trailing space) meets
// the record of the image first downloaded for it; a version listed twice keeps its first entry.
void tst_FirmwareDownload::lookAlikeLabelMeetsThePin()
{
    QVERIFY(m_server.putFile(QStringLiteral("fw/other.rfw"), "other"));
    const QString real = m_server.url(QStringLiteral("/fw/image.rfw")).toString();
    SyncCloud cloud;
    load(cloud, { entry(QStringLiteral("5.6.3"), QString(), real) });
    QVERIFY(QFile::remove(cloud.getFirmware(0)));

    load(cloud,
        { entry(QStringLiteral("V5.06.3 "), QString(),
              m_server.url(QStringLiteral("/fw/other.rfw")).toString()),
            entry(QStringLiteral("5.6.3"), QString(), real) });
    QCOMPARE(cloud.firmwareVersions(), QStringList { QStringLiteral("5.6.3") });
    QCOMPARE(cloud.getFirmware(0), QString());
    QVERIFY(cloud.lastErrorString().startsWith(QLatin1String("the image for 5.6.3 differs")));
}

// Bytes that an earlier version cached and remembered although they fail the image check (a
// captive portal's page) are dropped when next used, and the image is fetched once more.
void tst_FirmwareDownload::refusedCacheFetchedAgain()
{
    QVERIFY(m_server.putFile(QStringLiteral("fw/5.6.0.rfw"), "FW 5.6.0"));
    SyncCloud cloud;
    cloud.setImageCheck([](const QByteArray &content, const QString &version, const QString &) {
        return content == "FW " + version.toLatin1() ? QString() : QStringLiteral("no image");
    });
    load(cloud,
        { entry(QStringLiteral("5.6.0"), QString(),
            m_server.url(QStringLiteral("/fw/5.6.0.rfw")).toString()) });
    const QString path = dataDir() + QLatin1String("/Firmware_V5.6.0.rfw");
    const QByteArray page = "<html>Log in to the network</html>";
    QVERIFY(FirmwareImageMaker::writeToFile(path, page));
    QVERIFY(FirmwareImageMaker::writeToFile(dataDir() + QLatin1String("/Firmware_V5.6.0.sha256"),
        QCryptographicHash::hash(page, QCryptographicHash::Sha256).toHex() + " 2024-01-01T00:00Z"));

    QCOMPARE(cloud.getFirmware(0), path);
    QCOMPARE(QFileInfo(path).size(), qint64(8)); // "FW 5.6.0"
}

// The application quitting ends every event loop, the download's included: the call returns
// empty, the late reply is dropped, and nothing is cached.
void tst_FirmwareDownload::quitDuringDownload()
{
    SyncCloud cloud;
    load(cloud,
        { entry(QStringLiteral("2.0.0"), QString(),
            m_server.url(QStringLiteral("/_control/slow/fw/image.rfw")).toString()) });
    SignalLog log(&cloud);
    QTimer::singleShot(100, [] { QCoreApplication::exit(0); });

    QCOMPARE(cloud.getFirmware(0), QString());
    // Events of the abandoned reply must not reach the finished call.
    QTest::qWait(300);
    QVERIFY(!log.lines.contains(QStringLiteral("firmwareFileListChanged")));
    QCOMPARE(dataDirEntries().size(), 1); // the settings file only
}

QTEST_GUILESS_MAIN(tst_FirmwareDownload)
#include "tst_firmwaredownload.moc"
