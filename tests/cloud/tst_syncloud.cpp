// SPDX-License-Identifier: GPL-3.0-or-later
#include "cloudtesthelpers.h"
#include "testdata.h"

#include <QSslConfiguration>
#include <QtTest>

using namespace CloudTest;

// Sets an environment variable for one scope and restores the old value.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

class tst_SyncCloud : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void catalogueFetched_data();
    void catalogueFetched();
    void firstStartWithoutNetwork_data();
    void firstStartWithoutNetwork();
    void settingsSurviveRestart();
    void unusableReply_data();
    void unusableReply();
    void rootWithoutFirmware_data();
    void rootWithoutFirmware();
    void httpsCertificates_data();
    void httpsCertificates();

private:
    QJsonArray seedCache();
    HttpServerProcess m_server;
};

void tst_SyncCloud::initTestCase()
{
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
    // The test certificate authority is given to the process; certificate errors stay fatal.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    QVERIFY(tls.addCaCertificates(HttpServerProcess::testCertificateAuthority()));
    QSslConfiguration::setDefaultConfiguration(tls);
}

void tst_SyncCloud::init()
{
    prepareDataDir();
    m_server.clearRequestLog();
}

QJsonArray tst_SyncCloud::seedCache()
{
    const QJsonArray list { entry(QStringLiteral("0.9.0"), QStringLiteral("old"),
        m_server.url(QStringLiteral("/fw/old.rfw")).toString()) };
    writeSetting(QStringLiteral("FirmwareInfo"), QJsonDocument(list).toJson());
    return list;
}

void tst_SyncCloud::catalogueFetched_data()
{
    QTest::addColumn<QString>("hostPath");
    QTest::addColumn<bool>("throughProxy");
    QTest::newRow("direct") << QString() << false;
    QTest::newRow("redirected") << QStringLiteral("/_control/redirect") << false;
    QTest::newRow("via http_proxy") << QString() << true;
}

void tst_SyncCloud::catalogueFetched()
{
    QFETCH(QString, hostPath);
    QFETCH(bool, throughProxy);
#ifdef Q_OS_WIN
    if (throughProxy)
        QSKIP("Windows takes the proxy from the system's Internet settings, not from http_proxy");
#endif
    QJsonObject noVersion = entry(QString(), QStringLiteral("no version"), QString());
    noVersion.remove(QStringLiteral("version"));
    const QJsonArray firmware { entry(QStringLiteral("1.0.0"), QStringLiteral("first;second"),
                                    QStringLiteral("http://x/a")),
        noVersion,
        entry(QStringLiteral("1.2.0"), QStringLiteral("newest"), QStringLiteral("http://x/b")) };
    const QJsonObject tool { { QStringLiteral("version"), QStringLiteral("2.0.0") },
        { QStringLiteral("info"), QStringLiteral("tool") } };
    QVERIFY(serveCatalogue(m_server, catalogue(firmware, tool)));

    // A proxy that does not exist must not be used for loopback; a reachable one must be
    // used for other hosts (here the test server itself acts as the proxy).
    const quint16 proxyPort = throughProxy ? m_server.port() : HttpServerProcess::closedPort();
    ScopedEnv proxy("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxyPort).toLatin1());
    ScopedEnv noProxy("no_proxy", QByteArray());

    SyncCloud cloud;
    SignalLog log(&cloud);
    QCOMPARE(cloud.currentLanguage(), 0);
    cloud.setCatalogueHost(
        throughProxy ? QUrl(QStringLiteral("http://catalogue.invalid")) : m_server.url(hostPath));
    QVERIFY(fetch(cloud));

    QCOMPARE(log.lines,
        QStringList({ QStringLiteral("isSyncedChanged 1"), QStringLiteral("firmawreInfoChanged"),
            QStringLiteral("syncFinshed") }));
    QCOMPARE(log.lists.first(), firmware);
    QVERIFY(cloud.isSynced());
    QCOMPARE(cloud.firmwareVersions(),
        QStringList({ QStringLiteral("1.0.0"), QString(), QStringLiteral("1.2.0") }));
    QCOMPARE(cloud.firmwareInfoText(0), QStringLiteral("first;second"));
    QCOMPARE(cloud.firmwareInfoText(2), QStringLiteral("newest"));
    QCOMPARE(cloud.firmwareInfoText(3), QString());
    QCOMPARE(cloud.firmwareInfoText(-1), QString());
    QCOMPARE(cloud.flashToolInfo(), tool);
    QCOMPARE(cachedList(), firmware);
    QVERIFY(m_server.requestLog().contains(QStringLiteral("/download/corvane-x9/corvane-x9.json")));
}

void tst_SyncCloud::firstStartWithoutNetwork_data()
{
    QTest::addColumn<QVariant>("cached");
    QTest::newRow("no settings file") << QVariant();
    QTest::newRow("corrupt cache") << QVariant(QByteArrayLiteral("[{\"version\":"));
    QTest::newRow("cache not an array") << QVariant(QByteArrayLiteral("{\"version\":\"1.0.0\"}"));
}

void tst_SyncCloud::firstStartWithoutNetwork()
{
    QFETCH(QVariant, cached);
    if (cached.isValid())
        writeSetting(QStringLiteral("FirmwareInfo"), cached);

    SyncCloud cloud;
    SignalLog log(&cloud);
    cloud.setCatalogueHost(
        QUrl(QStringLiteral("http://127.0.0.1:%1").arg(HttpServerProcess::closedPort())));
    QVERIFY(fetch(cloud));

    QCOMPARE(log.lines,
        QStringList({ QStringLiteral("SyncError_FirstRunError"), QStringLiteral("syncFinshed") }));
    QVERIFY(cloud.firmwareVersions().isEmpty());
    QVERIFY(!cloud.isSynced());
    QVERIFY(!cloud.lastErrorString().isEmpty());
}

void tst_SyncCloud::settingsSurviveRestart()
{
    const QJsonArray firmware { entry(QStringLiteral("1.1.0"), QStringLiteral("a"),
                                    QStringLiteral("http://x/a")),
        entry(QStringLiteral("1.3.0"), QString::fromUtf8("b \u00e9 \u4fee\u590d\tz\\"),
            QStringLiteral("http://x/b")) };
    QVERIFY(serveCatalogue(m_server, catalogue(firmware)));
    {
        SyncCloud cloud;
        cloud.setCatalogueHost(m_server.baseUrl());
        QVERIFY(fetch(cloud));
        cloud.setCurrentLanguage(3);
    }
    QCOMPARE(readSetting(QStringLiteral("CurrentLanguage")).toInt(), 3);
    // Byte for byte what every build of the tool writes, whichever toolkit it runs on: text
    // beyond ASCII and backslashes are escaped, never written raw.
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray language("CurrentLanguage=3");
    const QByteArray list(
        R"ini(FirmwareInfo="@ByteArray([\n    {\n        \"download\": \"http://x/a\",)ini"
        R"ini(\n        \"info\": \"a\",\n        \"version\": \"1.1.0\"\n    },\n    {)ini"
        R"ini(\n        \"download\": \"http://x/b\",)ini"
        R"ini(\n        \"info\": \"b \xc3\xa9 \xe4\xbf\xae\xe5\xa4\x8d\\tz\\\\\",)ini"
        R"ini(\n        \"version\": \"1.3.0\"\n    }\n]\n)")ini");
#ifdef Q_OS_WIN
    // Windows' own convention: its line ends, and the keys in the order they were first written.
    const QByteArray expected = "[General]\r\n" + list + "\r\n" + language + "\r\n";
#else
    const QByteArray expected = "[General]\n" + language + '\n' + list + '\n';
#endif
    QCOMPARE(file.readAll(), expected);

    // Later start without network: the cached list is announced, but nothing is synced.
    SyncCloud cloud;
    SignalLog log(&cloud);
    QCOMPARE(cloud.currentLanguage(), 3);
    cloud.setCatalogueHost(
        QUrl(QStringLiteral("http://127.0.0.1:%1").arg(HttpServerProcess::closedPort())));
    QVERIFY(fetch(cloud));
    QCOMPARE(log.lines,
        QStringList({ QStringLiteral("SyncError_LocalCacheUsed"),
            QStringLiteral("firmawreInfoChanged"), QStringLiteral("syncFinshed") }));
    QCOMPARE(log.lists.first(), firmware);
    QCOMPARE(cloud.firmwareVersions(),
        QStringList({ QStringLiteral("1.1.0"), QStringLiteral("1.3.0") }));
    QVERIFY(!cloud.isSynced());
    QVERIFY(cloud.flashToolInfo().isEmpty());

    writeSetting(QStringLiteral("CurrentLanguage"), QStringLiteral("french"));
    QCOMPARE(SyncCloud().currentLanguage(), 0);
}

void tst_SyncCloud::unusableReply_data()
{
    QTest::addColumn<QString>("hostPath");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("expected");
    const QStringList informationError { QStringLiteral("isSyncedChanged 1"),
        QStringLiteral("SyncError_InformationError"), QStringLiteral("syncFinshed") };
    const QStringList cacheUsed { QStringLiteral("SyncError_LocalCacheUsed"),
        QStringLiteral("firmawreInfoChanged"), QStringLiteral("syncFinshed") };
    const QString oversize = QString::number(SyncCloud::MaxCatalogueSize + 1);
    // Valid catalogues past the limits, refused like malformed ones.
    const QByteArray longInfo = catalogue({ entry(QStringLiteral("1.0.0"),
        QString(int(SyncCloud::MaxCatalogueSize), QLatin1Char('x')),
        QStringLiteral("http://x/a")) });
    QJsonArray manyEntries;
    for (int i = 0; i <= 1000; ++i)
        manyEntries.append(entry(QString::number(i), QString(), QStringLiteral("http://x/a")));
    QTest::newRow("html page") << QString()
                               << QByteArrayLiteral("<html><body>Maintenance</body></html>")
                               << informationError;
    QTest::newRow("empty body") << QString() << QByteArray() << informationError;
    QTest::newRow("json array") << QString() << QByteArrayLiteral("[{\"download\":{}}]")
                                << informationError;
    QTest::newRow("empty object") << QString() << QByteArrayLiteral("{}") << informationError;
    QTest::newRow("status 404") << QStringLiteral("/_control/status/404") << QByteArray()
                                << cacheUsed;
    QTest::newRow("status 500") << QStringLiteral("/_control/status/500") << QByteArray()
                                << cacheUsed;
    QTest::newRow("status 300") << QStringLiteral("/_control/status/300") << QByteArray()
                                << cacheUsed;
    QTest::newRow("oversized, announced")
        << QStringLiteral("/_control/big/") + oversize << QByteArray() << informationError;
    QTest::newRow("oversized, chunked")
        << QStringLiteral("/_control/bigchunked/") + oversize << QByteArray() << informationError;
    QTest::newRow("more than 1 MiB") << QString() << longInfo << informationError;
    QTest::newRow("1,001 versions") << QString() << catalogue(manyEntries) << informationError;
    QTest::newRow("gzip sent unasked, 1 GiB unpacked")
        << QStringLiteral("/_control/gzip/1073741824") << QByteArray() << cacheUsed;
    QTest::newRow("silent server")
        << QStringLiteral("/_control/silent") << QByteArray() << cacheUsed;
    QTest::newRow("silent server but for a byte every 0.2 s")
        << QStringLiteral("/_control/trickle/0.2") << QByteArray() << cacheUsed;
    QTest::newRow("malformed control path")
        << QStringLiteral("/_control/status/none") << QByteArray() << cacheUsed;
}

void tst_SyncCloud::unusableReply()
{
    QFETCH(QString, hostPath);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, expected);
    const QJsonArray cached = seedCache();
    QVERIFY(serveCatalogue(m_server, body));

    SyncCloud cloud;
    SignalLog log(&cloud);
    cloud.setCatalogueHost(m_server.url(hostPath));
    if (QByteArray(QTest::currentDataTag()).startsWith("silent"))
        cloud.setTransferTimeout(SilenceTimeoutMs);
    QVERIFY(fetch(cloud));
    QCOMPARE(log.lines, expected);
    QCOMPARE(cachedList(), cached);
    QCOMPARE(cloud.isSynced(), expected.first().startsWith(QLatin1String("isSyncedChanged")));
}

void tst_SyncCloud::rootWithoutFirmware_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("download without firmware")
        << QByteArrayLiteral("{\"download\":{\"flashTool\":{\"version\":\"3.0.0\"}}}");
    QTest::newRow("no download") << QByteArrayLiteral("{\"news\":\"none\"}");
    QTest::newRow("firmware not an array")
        << QByteArrayLiteral("{\"download\":{\"firmware\":{\"version\":\"1.0.0\"}}}");
}

void tst_SyncCloud::rootWithoutFirmware()
{
    QFETCH(QByteArray, body);
    seedCache();
    QVERIFY(serveCatalogue(m_server, body));

    SyncCloud cloud;
    SignalLog log(&cloud);
    cloud.setCatalogueHost(m_server.baseUrl());
    QVERIFY(fetch(cloud));
    QCOMPARE(log.lines,
        QStringList({ QStringLiteral("isSyncedChanged 1"), QStringLiteral("firmawreInfoChanged"),
            QStringLiteral("syncFinshed") }));
    QCOMPARE(log.lists.first(), QJsonArray());
    QVERIFY(cloud.firmwareVersions().isEmpty());
    QVERIFY(readSetting(QStringLiteral("FirmwareInfo")).isValid());
    QCOMPARE(cachedList(), QJsonArray());
}

void tst_SyncCloud::httpsCertificates_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("image"); // a plain http image address, fetched when given
    QTest::newRow("signed by the trusted test authority")
        << QStringLiteral("server") << true << QString();
    QTest::newRow("self-signed") << QStringLiteral("selfsigned") << false << QString();
    QTest::newRow("trusted, image over plain http") << QStringLiteral(
        "server") << true << m_server.url(QStringLiteral("/fw/plain.rfw")).toString();
}

void tst_SyncCloud::httpsCertificates()
{
    QFETCH(QString, certificate);
    QFETCH(bool, accepted);
    QFETCH(QString, image);
    if (accepted && TestData::underWine())
        QSKIP("Wine cannot import a PKCS #12 store without a private key, which Qt's Schannel "
              "backend makes of the trusted certificates: none is trusted but the system's");
    HttpServerProcess server;
    server.useTls(certificate);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const QJsonArray firmware { entry(QStringLiteral("1.0.0"), QStringLiteral("a"),
        image.isEmpty() ? QStringLiteral("https://x/a") : image) };
    QVERIFY(serveCatalogue(server, catalogue(firmware)));

    SyncCloud cloud;
    cloud.setCatalogueHost(server.baseUrl());
    QVERIFY(fetch(cloud));
    QCOMPARE(cloud.isSynced(), accepted);
    QCOMPARE(cloud.firmwareInfo(), accepted ? firmware : QJsonArray());
    QVERIFY2(accepted || cloud.lastErrorString().contains(QLatin1String("SSL")),
        qPrintable(cloud.lastErrorString()));
    if (!image.isEmpty()) {
        QVERIFY(m_server.putFile(QStringLiteral("fw/plain.rfw"), "image"));
        QCOMPARE(cloud.getFirmware(0), QString());
        QVERIFY(m_server.requestLog().isEmpty());
        // Nor the desktop to a plain http tool-upgrade page.
        QVERIFY(!cloud.isUsableAddress(QUrl(QStringLiteral("http://x.example/tool"))));
    }
}

QTEST_GUILESS_MAIN(tst_SyncCloud)
#include "tst_syncloud.moc"
