// SPDX-License-Identifier: GPL-3.0-or-later
#include "adapteremulator.h"
#include "appidentity.h"
#include "backupfile.h"
#include "deviceflash.h"
#include "devicenotice.h"
#include "firmwareimagemaker.h"
#include "httpserverprocess.h"
#include "mainwindow.h"
#include "messagedialog.h"
#include "qhiddevice.h"
#include "settingsdialog.h"
#include "syncloud.h"
#include "testdata.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLoggingCategory>
#include <QMimeData>
#include <QMovie>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <memory>

namespace {

const int Slow = 60000; // ms; an upper bound, generous for sanitizer builds on a shared machine

const QString AdapterInterface = QStringLiteral(
    "\\\\?\\USB#VID_0E3A&PID_B471#6&2c4f1a0b&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

using TestData::pattern;

template<class T> T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// A widget of the window, also while the window holds it out of itself (a page or dialog not
// shown yet is a top-level widget of its own until then).
template<class T> T *ofWindow(const MainWindow *window, const char *name = nullptr)
{
    const QString objectName = name ? QString::fromLatin1(name) : QString();
    if (T *found = window->findChild<T *>(objectName))
        return found;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top->parent())
            continue;
        if (auto *held = qobject_cast<T *>(top);
            held && (!name || held->objectName() == objectName))
            return held;
        if (T *found = top->findChild<T *>(objectName))
            return found;
    }
    qFatal("no child %s", name ? name : T::staticMetaObject.className());
}

// The window's own message dialog, noted as the window is made; later ones are local blocking
// prompts.
QPointer<MessageDialog> theSharedDialog;

MessageDialog *sharedDialog()
{
    return theSharedDialog;
}

MessageDialog *visiblePrompt(const MainWindow *window)
{
    for (MessageDialog *dialog :
        window->findChildren<MessageDialog *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (dialog != theSharedDialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

QString titleOf(const QDialog *dialog)
{
    return child<QLabel>(dialog, "label_Title")->text();
}

QString textOf(const QDialog *dialog)
{
    return child<QTextBrowser>(dialog, "textBrowser")->toPlainText();
}

QJsonObject entry(const QString &version, const QString &info, const QUrl &download)
{
    return { { QStringLiteral("version"), version }, { QStringLiteral("info"), info },
        { QStringLiteral("download"), download.toString() } };
}

QJsonObject toolRelease(const QString &version, const QString &info, const QString &url)
{
    return { { QStringLiteral("version"), version }, { QStringLiteral("info"), info },
        { QStringLiteral("windowsURL"), url } };
}

QString dataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString settingsPath()
{
    return dataDir() + QLatin1String("/corvaneflashtool.ini");
}

void writeSetting(const QString &key, const QVariant &value)
{
    QDir().mkpath(dataDir());
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(key, value);
}

void setLatency(int microseconds)
{
    AdapterEmulator::Faults faults = AdapterEmulator::faults();
    faults.latencyUsPerReport = microseconds;
    AdapterEmulator::setFaults(faults);
}

} // namespace

// Receives the addresses that the window hands to the desktop instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void startWithoutNetwork_data();
    void startWithoutNetwork();
    void newerToolReleasePromptsThenClosesWhenIdle();
    void updateFromCatalogue();
    void failedDownloadStartsNothing_data();
    void failedDownloadStartsNothing();
    void toolUpdateOpensOnlyWebAddresses();
    void updateFromLocalFile();
    void dropFirmwareFile_data();
    void dropFirmwareFile();
    void factoryRestoreFromHiddenButton();
    void olderVersionAsksFirst_data();
    void olderVersionAsksFirst();
    void deviceErrorGivesControlsBack_data();
    void deviceErrorGivesControlsBack();
    void unplugClosesDialogs();
    void adapterHeldByAnotherProgram();
    void backupAndRestoreThroughSettingsDialog();
    void closeDeferredWhileBusy_data();
    void closeDeferredWhileBusy();
    void secondCloseWhileStalled();
    void languageChangeDuringUpdate();
    void storedLanguageAtStart_data();
    void storedLanguageAtStart();
    void compareVersion_data();
    void compareVersion();
    void changeLogShownAsPlainText();
    void keyboardOnly_data();
    void keyboardOnly();

private:
    MainWindow *createWindow();
    void waitReady(int versions);
    void serveCatalogue(const QJsonArray &firmware, const QJsonObject &tool = QJsonObject());
    QString writeImage(quint8 major, quint8 minor, quint8 patch, const QByteArray &payload,
        const FirmwareImageOptions &options = FirmwareImageOptions());
    DeviceFlash *device() const { return m_window->findChild<DeviceFlash *>(); }
    void sendNotice(DeviceNotice::Kind kind)
    {
        DeviceNotice notice;
        notice.kind = kind;
        notice.interfaceName = AdapterInterface;
        device()->handleNotice(notice);
    }
    static void chooseFile(const QString &path)
    {
        MainWindow::setFileDialogHook(
            [path](const QString &, const QString &, bool) { return path; });
    }
    QString page() const
    {
        return child<QStackedWidget>(m_window.get(), "stackedWidget")
            ->currentWidget()
            ->objectName();
    }
    template<class T> T *widget(const char *name) const
    {
        return ofWindow<T>(m_window.get(), name);
    }

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_files;
    HttpServerProcess m_server;
    UrlCatcher m_urlCatcher;
    std::unique_ptr<MainWindow> m_window;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(m_home.isValid());
    // The test-mode data directory lives under HOME, on Windows in the user's application data
    // folder, which the Wine test launcher names after CORVANE_TEST_WINDOWS_HOME: keep it apart
    // from other test runs.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("CORVANE_TEST_WINDOWS_HOME", QDir::toNativeSeparators(m_home.path()).toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    AppIdentity::apply();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urlCatcher, "open");
}

void tst_MainWindow::init()
{
    AdapterEmulator::reset();
    QVERIFY2(dataDir().startsWith(m_home.path()),
        qPrintable(dataDir() + QLatin1String(" is outside ") + m_home.path()));
    QDir(dataDir()).removeRecursively();
    m_files = std::make_unique<QTemporaryDir>();
    QVERIFY(m_files->isValid());
    SyncCloud::setDefaultCatalogueHost(m_server.baseUrl());
    MainWindow::setFileDialogHook(nullptr);
    m_urlCatcher.urls.clear();
    serveCatalogue(QJsonArray());
}

void tst_MainWindow::cleanup()
{
    m_window.reset();
    MainWindow::setFileDialogHook(nullptr);
    m_files.reset();
    SyncCloud::setDefaultTransferTimeout(0);
    MainWindow::setCatalogueRetryInterval(60000);
}

void tst_MainWindow::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    SyncCloud::setDefaultCatalogueHost(QUrl());
}

MainWindow *tst_MainWindow::createWindow()
{
    m_window = std::make_unique<MainWindow>();
    theSharedDialog = ofWindow<MessageDialog>(m_window.get());
    m_window->show();
    return m_window.get();
}

// Adapter connected, catalogue synced (device errors are shown from then on), list filled.
void tst_MainWindow::waitReady(int versions)
{
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("page_Connected"), Slow);
    QTRY_VERIFY_WITH_TIMEOUT(widget<QToolButton>("toolButton_Network")->isEnabled(), Slow);
    QTRY_COMPARE_WITH_TIMEOUT(widget<QComboBox>("comboBox_Version")->count(), versions, Slow);
    QTRY_VERIFY_WITH_TIMEOUT(!device()->isBusy(), Slow);
}

void tst_MainWindow::serveCatalogue(const QJsonArray &firmware, const QJsonObject &tool)
{
    const QJsonObject download { { QStringLiteral("flashTool"), tool },
        { QStringLiteral("firmware"), firmware } };
    const QByteArray body
        = QJsonDocument(QJsonObject { { QStringLiteral("download"), download } }).toJson();
    QVERIFY(m_server.putFile(QStringLiteral("download/corvane-x9/corvane-x9.json"), body));
}

QString tst_MainWindow::writeImage(quint8 major, quint8 minor, quint8 patch,
    const QByteArray &payload, const FirmwareImageOptions &options)
{
    const QString path = m_files->filePath(
        QStringLiteral("Firmware_V%1.%2.%3.rfw").arg(major).arg(minor).arg(patch));
    if (!FirmwareImageMaker::writeToFile(
            path, FirmwareImageMaker::make(major, minor, patch, payload, options)))
        return QString();
    return path;
}

void tst_MainWindow::startWithoutNetwork_data()
{
    QTest::addColumn<bool>("cached");
    QTest::addColumn<QString>("host"); // "closed", "silent" (never answers) or "404"
    QTest::addColumn<bool>("comesBack"); // the catalogue is served after the warning
    QTest::newRow("first run: the window stays") << false << QStringLiteral("closed") << false;
    QTest::newRow("first run: the catalogue comes back") << false << QStringLiteral("404") << true;
    QTest::newRow("cached list") << true << QStringLiteral("closed") << false;
    QTest::newRow("silent server, cached list") << true << QStringLiteral("silent") << false;
}

// A first start too is only warned; the window asks again by itself, silently, until the
// catalogue answers, and its network picture says offline meanwhile.
void tst_MainWindow::startWithoutNetwork()
{
    QFETCH(bool, cached);
    QFETCH(QString, host);
    QFETCH(bool, comesBack);
    const QJsonArray list { entry(QStringLiteral("5.6.3"), QStringLiteral("a"), QUrl()),
        entry(QStringLiteral("5.5.24"), QStringLiteral("b"), QUrl()) };
    if (cached)
        writeSetting(QStringLiteral("FirmwareInfo"), QJsonDocument(list).toJson());
    if (host == QLatin1String("404"))
        QVERIFY(QFile::remove(
            m_server.rootPath() + QLatin1String("/download/corvane-x9/corvane-x9.json")));
    SyncCloud::setDefaultCatalogueHost(host == QLatin1String("silent")
            ? m_server.url(QStringLiteral("/_control/silent"))
            : host == QLatin1String("404")
            ? m_server.baseUrl()
            : QUrl(QStringLiteral("http://127.0.0.1:%1").arg(HttpServerProcess::closedPort())));
    SyncCloud::setDefaultTransferTimeout(1000);
    MainWindow::setCatalogueRetryInterval(300);
    AdapterEmulator::setAttached(false);
    MainWindow *window = createWindow();
    QCOMPARE(page(), QStringLiteral("page_Start"));
    QMovie *busy = widget<QLabel>("label_Busying")->movie();
    QCOMPARE(busy->state(), QMovie::Running);

    // The dialog joins the window as it shows.
    QTRY_VERIFY_WITH_TIMEOUT(sharedDialog()->isVisible(), Slow);
    MessageDialog *dialog = sharedDialog();
    QCOMPARE(titleOf(dialog), QStringLiteral("Warning"));
    QCOMPARE(textOf(dialog), QStringLiteral("fail to connect to cloud servers"));
    QTRY_COMPARE(page(), QStringLiteral("page_Unconnected"));
    auto *network = widget<QToolButton>("toolButton_Network");
    QVERIFY(!network->isEnabled());
    QCOMPARE(QAccessible::queryAccessibleInterface(network)->text(QAccessible::Name),
        QStringLiteral("Offline"));
    // A hidden animation would wake the processor for as long as the window is open.
    QCOMPARE(busy->state(), QMovie::NotRunning);
    auto *versions = widget<QComboBox>("comboBox_Version");
    QTRY_COMPARE(versions->count(), cached ? 2 : 0);
    if (cached)
        QCOMPARE(versions->itemText(1), QStringLiteral("5.5.24"));

    // OK ends nothing, and the retries that fail say nothing.
    child<QPushButton>(dialog, "pushButton_MsgOK")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!device()->isBusy(), Slow);
    QTest::qWait(1000);
    QVERIFY(window->isVisible());
    QVERIFY(!dialog->isVisible());
    QCOMPARE(versions->count(), cached ? 2 : 0);
    if (!comesBack)
        return;
    serveCatalogue({ entry(QStringLiteral("5.6.3"), QStringLiteral("a"), QUrl()) });
    QTRY_VERIFY_WITH_TIMEOUT(network->isEnabled(), Slow);
    QTRY_COMPARE(versions->count(), 1);
    QCOMPARE(QAccessible::queryAccessibleInterface(network)->text(QAccessible::Name),
        QStringLiteral("Online"));
    QVERIFY(!dialog->isVisible());
}

void tst_MainWindow::newerToolReleasePromptsThenClosesWhenIdle()
{
    const QByteArray payload = pattern(10400, 11);
    const QString file = writeImage(5, 7, 0, payload);
    QVERIFY(!file.isEmpty());
    chooseFile(file);
    const QString toolUrl = QStringLiteral("https://downloads.example/corvane/tool-1.9.1");
    serveCatalogue({ entry(QStringLiteral("5.6.3"), QStringLiteral("x"),
                       m_server.url(QStringLiteral("/a.rfw"))) },
        toolRelease(QStringLiteral("1.9.1"), QStringLiteral("Faster downloads"), toolUrl));
    MainWindow *window = createWindow();

    // The prompt blocks in its own event loop, so it is driven from a timer that runs there:
    // once the adapter is open, start a write from a local file; while it runs, press OK.
    QString promptTitle;
    QString promptText;
    bool writeStarted = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, &driver, [&] {
        MessageDialog *prompt = visiblePrompt(window);
        if (!prompt || !device()->isConnected())
            return;
        if (!writeStarted) {
            if (device()->isBusy())
                return;
            setLatency(1500);
            widget<QToolButton>("toolButton_OpenFile")->click();
            writeStarted = true;
            return;
        }
        if (!device()->isBusy())
            return;
        driver.stop();
        promptTitle = titleOf(prompt);
        promptText = textOf(prompt);
        child<QPushButton>(prompt, "pushButton_MsgOK")->click();
    });
    driver.start(10);
    QTest::ignoreMessage(QtInfoMsg, "safe close...");

    QTRY_COMPARE_WITH_TIMEOUT(m_urlCatcher.urls.size(), 1, Slow);
    QCOMPARE(m_urlCatcher.urls.at(0), QUrl(toolUrl));
    QCOMPARE(promptTitle, QStringLiteral("Upgrade V1.9.1"));
    QCOMPARE(promptText, QStringLiteral("The latest version update!\nFaster downloads"));
    // The write still runs: the window waits for it.
    QVERIFY(device()->isBusy());
    QVERIFY(window->isVisible());
    QVERIFY(!visiblePrompt(window));

    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), Slow);
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    QCOMPARE(AdapterEmulator::memory(0x08004005, 3), QByteArray("\x05\x07\x00", 3));
}

void tst_MainWindow::updateFromCatalogue()
{
    // Large enough to download in many pieces: progress is reported at most every 100 ms.
    const QByteArray payload = pattern(200000, 5);
    QVERIFY(m_server.putFile(
        QStringLiteral("fw/x9-5.6.3.rfw"), FirmwareImageMaker::make(5, 6, 3, payload)));
    // Served slowly, so the download reports progress before it completes.
    const QString imagePath = QStringLiteral("/_control/slow/fw/x9-5.6.3.rfw");
    serveCatalogue({ entry(QStringLiteral("5.6.3"), QStringLiteral("new"), m_server.url(imagePath)),
                       entry(QStringLiteral("5.6.0"), QStringLiteral("old"),
                           m_server.url(QStringLiteral("/none.rfw"))) },
        toolRelease(
            QStringLiteral("1.9.0"), QStringLiteral("same"), QStringLiteral("https://x.example/")));
    MainWindow *window = createWindow();
    waitReady(2);
    QVERIFY(visiblePrompt(window) == nullptr);
    auto *label = widget<QLabel>("label_CurrentVersion");
    auto *update = widget<QPushButton>("pushButton_Update");
    auto *versions = widget<QComboBox>("comboBox_Version");
    auto *bar = widget<QProgressBar>("progressBar");
    QCOMPARE(label->text(), QStringLiteral("Current Firmware Version | 5.6.0"));
    // The open list marks the newest version and the adapter's.
    QCOMPARE(versions->currentText(), QStringLiteral("5.6.3"));
    QCOMPARE(
        versions->itemData(0, Qt::AccessibleTextRole).toString(), QStringLiteral("5.6.3 (newest)"));
    QCOMPARE(versions->itemData(1, Qt::AccessibleTextRole).toString(),
        QStringLiteral("5.6.0 (installed)"));

    // Queued after the window's own handlers, so each sees the state the window just set.
    QStringList downloadLabels;
    bool controlsEnabledDuringDownload = false;
    QStringList writeLabels;
    bool barShownDuringWrite = true;
    SyncCloud *cloud = window->findChild<SyncCloud *>();
    // Receives the observers' calls; declared after what they capture, so it goes first and
    // takes any call still queued with it.
    QObject observer;
    connect(
        cloud, &SyncCloud::downloadFirmwareProgress, &observer,
        [&](qlonglong current, qlonglong total) {
            if (current == total)
                return;
            downloadLabels << label->text();
            controlsEnabledDuringDownload |= update->isEnabled() || versions->isEnabled()
                || widget<QToolButton>("toolButton_OpenFile")->isEnabled();
        },
        Qt::QueuedConnection);
    connect(
        device(), &DeviceFlash::write2FlashProgressChanged, &observer,
        [&](qlonglong current, qlonglong total) {
            if (current >= total)
                return;
            writeLabels << label->text();
            barShownDuringWrite &= bar->isVisible() && bar->value() == current
                && bar->maximum() == total
                && !widget<QToolButton>("toolButton_OpenFile")->isEnabled();
        },
        Qt::QueuedConnection);

    m_server.clearRequestLog();
    // A second click while the image downloads must not fetch or flash it twice.
    update->click();
    update->click();
    MessageDialog *dialog = sharedDialog();
    QTRY_COMPARE_WITH_TIMEOUT(textOf(dialog), QStringLiteral("Update successfully!"), Slow);
    QCOMPARE(titleOf(dialog), QStringLiteral("Corvane Firmware Tool"));
    QVERIFY(dialog->isVisible());

    QVERIFY(!downloadLabels.isEmpty());
    QCOMPARE(downloadLabels.count(QStringLiteral("Download firmware")), downloadLabels.size());
    QVERIFY(!controlsEnabledDuringDownload);
    QVERIFY(!writeLabels.isEmpty());
    QVERIFY(writeLabels.contains(QStringLiteral("Update Firmware...")));
    QVERIFY(barShownDuringWrite);

    QTRY_VERIFY_WITH_TIMEOUT(!device()->isBusy(), Slow);
    QVERIFY(update->isEnabled());
    QVERIFY(versions->isEnabled());
    QVERIFY(!bar->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Current Firmware Version | 5.6.3"));
    QCOMPARE(versions->itemData(0, Qt::AccessibleTextRole).toString(),
        QStringLiteral("5.6.3 (newest, installed)"));
    QCOMPARE(versions->itemData(1, Qt::AccessibleTextRole).toString(), QStringLiteral("5.6.0"));
    QCOMPARE(m_server.requestLog(), QStringList { imagePath });
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    QVERIFY(QFileInfo::exists(dataDir() + QLatin1String("/Firmware_V5.6.3.rfw")));
}

void tst_MainWindow::failedDownloadStartsNothing_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("imagePath");
    QTest::addColumn<bool>("blockCache"); // a directory stands where the image would be cached
    QTest::addColumn<QString>("text");
    const QString network = QStringLiteral("fail to connect to cloud servers");
    const QString image = QStringLiteral("/fw/big.rfw");
    QTest::newRow("404") << QStringLiteral("5.6.3") << QStringLiteral("/_control/status/404/x.rfw")
                         << false << network;
    // Half of the image comes, so progress has taken the controls away; then nothing more.
    QTest::newRow("stalled half-way")
        << QStringLiteral("5.6.3") << QStringLiteral("/_control/stall/fw/big.rfw") << false
        << network;
    QTest::newRow("a byte every 0.2 s")
        << QStringLiteral("5.6.3") << QStringLiteral("/_control/trickle/0.2/x.rfw") << false
        << network;
    QTest::newRow("an HTML page, then the image")
        << QStringLiteral("5.6.3") << QStringLiteral("/fw/portal.rfw") << false
        << QStringLiteral("Firmware file error!");
    QTest::newRow("cache not writable")
        << QStringLiteral("5.6.3") << image << true << QStringLiteral("Firmware file error!");
    QTest::newRow("version no file name")
        << QStringLiteral("../5.6.3") << image << false << QStringLiteral("wrong json file!");
}

void tst_MainWindow::failedDownloadStartsNothing()
{
    QFETCH(QString, version);
    QFETCH(QString, imagePath);
    QFETCH(bool, blockCache);
    QFETCH(QString, text);
    QVERIFY(m_server.putFile(QStringLiteral("fw/big.rfw"), pattern(4 * 1024 * 1024, 3)));
    QVERIFY(m_server.putFile(QStringLiteral("fw/portal.rfw"), "<html>Log in first</html>"));
    serveCatalogue({ entry(version, QStringLiteral("gone"), m_server.url(imagePath)) });
    if (blockCache)
        QVERIFY(QDir().mkpath(dataDir() + QLatin1String("/Firmware_V5.6.3.rfw")));
    if (imagePath.contains(QLatin1String("stall")) || imagePath.contains(QLatin1String("trickle")))
        SyncCloud::setDefaultTransferTimeout(1000);
    createWindow();
    waitReady(1);
    AdapterEmulator::resetCounters();

    widget<QPushButton>("pushButton_Update")->click();
    MessageDialog *dialog = sharedDialog();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), Slow);
    QCOMPARE(titleOf(dialog), QStringLiteral("Warning"));
    QCOMPARE(textOf(dialog), text);
    QTest::qWait(200);
    QVERIFY(!device()->isBusy());
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
    QVERIFY(AdapterEmulator::eraseLog().isEmpty());
    QVERIFY(!widget<QProgressBar>("progressBar")->isVisible());
    QVERIFY(!QFileInfo(dataDir() + QLatin1String("/Firmware_V5.6.3.rfw")).isFile());
    // The controls and the label are back, ready for another try.
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
    QVERIFY(widget<QComboBox>("comboBox_Version")->isEnabled());
    QCOMPARE(widget<QLabel>("label_CurrentVersion")->text(),
        QStringLiteral("Current Firmware Version | 5.6.0"));

    // Nothing of the refused page stuck: with the server honest again, the next try writes.
    if (imagePath == QLatin1String("/fw/portal.rfw")) {
        const QByteArray payload = pattern(20000, 7);
        QVERIFY(m_server.putFile(
            QStringLiteral("fw/portal.rfw"), FirmwareImageMaker::make(5, 6, 3, payload)));
        widget<QPushButton>("pushButton_Update")->click();
        QTRY_COMPARE_WITH_TIMEOUT(textOf(dialog), QStringLiteral("Update successfully!"), Slow);
        QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    }
}

// A catalogue's tool-update address is handed to the desktop only when it is a web address.
void tst_MainWindow::toolUpdateOpensOnlyWebAddresses()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_urlCatcher, "open");
    serveCatalogue({},
        toolRelease(
            QStringLiteral("9.0.0"), QStringLiteral("x"), QStringLiteral("file:///etc/passwd")));
    MainWindow *window = createWindow();
    bool prompted = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, &driver, [&] {
        if (MessageDialog *prompt = visiblePrompt(window)) {
            prompted = titleOf(prompt) == QLatin1String("Upgrade V9.0.0");
            child<QPushButton>(prompt, "pushButton_MsgOK")->click();
        }
    });
    driver.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), Slow);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QVERIFY(prompted);
    QVERIFY(m_urlCatcher.urls.isEmpty());
}

void tst_MainWindow::updateFromLocalFile()
{
    const QByteArray payload = pattern(5200, 9);
    const QString file = writeImage(5, 7, 1, payload);
    QVERIFY(!file.isEmpty());
    QString chosen;
    QStringList requests;
    createWindow();
    waitReady(0);
    AdapterEmulator::resetCounters();
    auto *openFile = widget<QToolButton>("toolButton_OpenFile");

    // Qt's own dialog, cancelled: the window's button rules (401 x 72, white) stay off it.
    MainWindow::setFileDialogHook(nullptr);
    QList<QSize> buttons;
    int sizeRoom = -1; // what the size column has beyond its widest text
    QTimer lookout;
    QObject::connect(&lookout, &QTimer::timeout, [&] {
        if (auto *fileDialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            for (const QPushButton *button : fileDialog->findChildren<QPushButton *>())
                buttons << button->sizeHint();
            if (auto *view = fileDialog->findChild<QTreeView *>(QStringLiteral("treeView")))
                sizeRoom = view->header()->sectionSize(1)
                    - view->fontMetrics().horizontalAdvance(
                        QLocale::system().formattedDataSize(1023 * 1024 + 999));
            fileDialog->reject();
        }
    });
    lookout.start(10);
    openFile->click();
    lookout.stop();
    QVERIFY(!buttons.isEmpty());
    QVERIFY2(sizeRoom > 0, qPrintable(QString::number(sizeRoom)));
    for (const QSize &size : qAsConst(buttons))
        QVERIFY2(size.width() < 401 && size.height() < 72,
            qPrintable(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())));

    // A cancelled dialog starts nothing.
    MainWindow::setFileDialogHook([&](const QString &caption, const QString &filter, bool save) {
        requests << QStringLiteral("%1|%2|%3").arg(caption, filter).arg(save);
        return chosen;
    });
    openFile->click();
    QCOMPARE(
        requests, QStringList { QStringLiteral("Open Firmware|Firmware Files (*.bin *.rfw)|0") });
    QTest::qWait(100);
    QVERIFY(!device()->isBusy());
    QVERIFY(!widget<QProgressBar>("progressBar")->isVisible());
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
    QCOMPARE(AdapterEmulator::exchangeCount(), 0);

    chosen = file;
    openFile->click();
    MessageDialog *dialog = sharedDialog();
    QTRY_COMPARE_WITH_TIMEOUT(textOf(dialog), QStringLiteral("Update successfully!"), Slow);
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    QTRY_COMPARE(widget<QLabel>("label_CurrentVersion")->text(),
        QStringLiteral("Current Firmware Version | 5.7.1"));
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
}

void tst_MainWindow::dropFirmwareFile_data()
{
    QTest::addColumn<QStringList>("dropped"); // file names under m_files, or URLs
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("taken");

    const QString rfw = QStringLiteral("dropped.rfw");
    QTest::newRow("one .rfw file") << QStringList { rfw } << false << true;
    QTest::newRow("while an update runs") << QStringList { rfw } << true << false;
    QTest::newRow(".bin file") << QStringList { QStringLiteral("dropped.bin") } << false << false;
    QTest::newRow("two files") << QStringList { rfw, QStringLiteral("second.rfw") } << false
                               << false;
    QTest::newRow("remote file") << QStringList { QStringLiteral("https://example.com/x.rfw") }
                                 << false << false;
}

// A dropped file takes the path of "Open Firmware" after its dialog, guards included.
void tst_MainWindow::dropFirmwareFile()
{
    QFETCH(QStringList, dropped);
    QFETCH(bool, busy);
    QFETCH(bool, taken);
    const QByteArray payload = pattern(5200, 31);
    const QString image = writeImage(5, 7, 2, payload);
    QList<QUrl> urls;
    for (const QString &name : qAsConst(dropped)) {
        const QString path = m_files->filePath(name);
        urls << (name.contains(QLatin1Char(':')) ? QUrl(name) : QUrl::fromLocalFile(path));
        QVERIFY(name.contains(QLatin1Char(':')) || QFile::copy(image, path));
    }
    const QByteArray running = pattern(10400, 32);
    chooseFile(writeImage(5, 7, 3, running));
    MainWindow *window = createWindow();
    waitReady(0);
    AdapterEmulator::resetCounters();
    if (busy) {
        setLatency(1500);
        widget<QToolButton>("toolButton_OpenFile")->click();
        QTRY_VERIFY_WITH_TIMEOUT(device()->isBusy(), Slow);
    }

    QMimeData data;
    data.setUrls(urls);
    // Offered as a move too (a file manager's default), taken only as a copy: an accepted move
    // would delete the user's file.
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(260, 300), actions, &data, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(window, &enter);
    QCOMPARE(enter.isAccepted(), taken);
    QDropEvent drop(QPointF(260, 300), actions, &data, Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(window, &drop);
    QCOMPARE(drop.isAccepted(), taken);
    if (taken)
        QCOMPARE(drop.dropAction(), Qt::CopyAction);

    if (taken || busy) {
        QTRY_COMPARE_WITH_TIMEOUT(
            textOf(sharedDialog()), QStringLiteral("Update successfully!"), Slow);
        const QByteArray written = taken ? payload : running;
        QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(written.size())), written);
        QCOMPARE(AdapterEmulator::eraseLog().size(), 1);
        return;
    }
    // A write would have disabled Update at once.
    QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
    QVERIFY(device()->isIdle());
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
}

void tst_MainWindow::factoryRestoreFromHiddenButton()
{
    const QByteArray image = FirmwareImageMaker::make(5, 6, 3, pattern(3000, 4));
    QVERIFY(m_server.putFile(QStringLiteral("fw/x9-5.6.3.rfw"), image));
    serveCatalogue({ entry(QStringLiteral("5.6.3"), QStringLiteral("r"),
        m_server.url(QStringLiteral("/fw/x9-5.6.3.rfw"))) });
    createWindow();
    waitReady(1);

    auto *restore = widget<QPushButton>("pushButton_Restore");
    QVERIFY(restore->isHidden());
    QVERIFY(widget<QToolButton>("toolButton_Settings")->isHidden());
    QTest::ignoreMessage(QtWarningMsg, "restoreFactorySettings_v2");
    restore->click();

    MessageDialog *dialog = sharedDialog();
    QTRY_COMPARE_WITH_TIMEOUT(textOf(dialog), QStringLiteral("Restored successfully!"), Slow);
    QCOMPARE(titleOf(dialog), QStringLiteral("Corvane Firmware Tool"));
    // The second-generation factory storage holds the image as downloaded.
    QCOMPARE(AdapterEmulator::memory(0x08040000, quint32(image.size())), image);
    QTRY_COMPARE(widget<QLabel>("label_CurrentVersion")->text(),
        QStringLiteral("Current Firmware Version | 5.6.3"));
    QVERIFY(restore->isEnabled());
    QVERIFY(restore->isHidden());

    // Held out of its page while hidden, it shows in its place, below the update button.
    restore->show();
    QTRY_VERIFY(restore->isVisible());
    QCOMPARE(restore->window(), static_cast<QWidget *>(m_window.get()));
    QTRY_VERIFY(restore->y() > widget<QPushButton>("pushButton_Update")->y());
}

void tst_MainWindow::olderVersionAsksFirst_data()
{
    QTest::addColumn<bool>("fromFile"); // "..." instead of the catalogue's entry
    QTest::addColumn<QString>("answer"); // the button pressed: "no", "yes", or "Escape"
    QTest::newRow("catalogue, declined") << false << QStringLiteral("no");
    QTest::newRow("file, declined with Escape") << true << QStringLiteral("Escape");
    QTest::newRow("catalogue, confirmed") << false << QStringLiteral("yes");
}

// An older version than the adapter's is written only when the user confirms it; the prompt's
// default answer is no.
void tst_MainWindow::olderVersionAsksFirst()
{
    QFETCH(bool, fromFile);
    QFETCH(QString, answer);
    const QByteArray payload = pattern(2600, 6);
    QVERIFY(m_server.putFile(
        QStringLiteral("fw/x9-5.5.24.rfw"), FirmwareImageMaker::make(5, 5, 24, payload)));
    serveCatalogue({ entry(QStringLiteral("5.5.24"), QStringLiteral("old"),
        m_server.url(QStringLiteral("/fw/x9-5.5.24.rfw"))) });
    chooseFile(writeImage(5, 5, 24, payload));
    MainWindow *window = createWindow();
    waitReady(1);
    AdapterEmulator::resetCounters();

    QString asked;
    bool noByDefault = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, [&] {
        MessageDialog *prompt = visiblePrompt(window);
        if (!prompt || !asked.isEmpty())
            return;
        asked = textOf(prompt);
        auto *no = child<QPushButton>(prompt, "pushButton_MsgOK");
        noByDefault = prompt->focusWidget() == no && no->text() == QLatin1String("Cancel");
        if (answer == QLatin1String("yes"))
            child<QPushButton>(prompt, "pushButton_MsgUpdate")->click();
        else if (answer == QLatin1String("no"))
            no->click();
        else
            QTest::keyClick(prompt, Qt::Key_Escape);
    });
    driver.start(10);
    widget<QAbstractButton>(fromFile ? "toolButton_OpenFile" : "pushButton_Update")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!asked.isEmpty(), Slow);
    QCOMPARE(asked,
        QStringLiteral("The adapter runs firmware 5.6.0, which is newer than 5.5.24. Write the "
                       "older firmware?"));
    QVERIFY(noByDefault);
    if (answer != QLatin1String("yes")) {
        QTest::qWait(200);
        QVERIFY(device()->isIdle());
        QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
        QVERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(textOf(sharedDialog()), QStringLiteral("Update successfully!"), Slow);
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
}

void tst_MainWindow::deviceErrorGivesControlsBack_data()
{
    QTest::addColumn<bool>("badDigest");
    QTest::addColumn<int>("corruptEchoAtWrite");
    QTest::addColumn<bool>("refuseErase");
    QTest::addColumn<int>("wrongCodeAtExchange");
    QTest::addColumn<int>("emitted"); // an error the engine announces by itself, else -1
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("version"); // as the label shows it afterwards
    QTest::addColumn<bool>("firmwareLost"); // then "Firmware lost! ..." follows
    QTest::addColumn<bool>("unfinished"); // the last write did not finish, also when reconnected

    const QString written = QStringLiteral("5.7.2");
    const QString untouched = QStringLiteral("5.6.0");
    const QString writeFailed
        = QStringLiteral("Firmware write failed! Reconnect the adapter and try again.");
    QTest::newRow("image with a bad digest")
        << true << -1 << false << -1 << -1 << QStringLiteral("Firmware file error!") << untouched
        << false << false;
    QTest::newRow("corrupted echo in the firmware record")
        << false << 4 << false << -1 << -1 << writeFailed << untouched << true << true;
    QTest::newRow("corrupted echo in the payload")
        << false << 30 << false << -1 << -1 << writeFailed << written << false << true;
    QTest::newRow("erase refused")
        << false << -1 << true << -1 << -1 << QStringLiteral("flash erase error!") << untouched
        << false << true;
    QTest::newRow("configuration unreadable")
        << false << -1 << false << 60 << -1
        << QStringLiteral("The adapter's configuration could not be saved. Nothing was changed.")
        << untouched << false << false;
    // The configuration's saving, the erase and the writes, then the record's first read: every
    // byte is written, but no success without the version read back.
    int readBack = 1 + (256 + 51) / 52 + (2600 + 51) / 52 + 1;
    for (qint64 done = 0; done < BackupFile::Layout2Length; done += 0x2000)
        readBack += int(qMin<qint64>(0x2000, BackupFile::Layout2Length - done) + 51) / 52;
    QTest::newRow("version unread after the write")
        << false << -1 << false << readBack << -1
        << QStringLiteral("The adapter did not answer the version read after the write. "
                          "Reconnect it to see the version it runs.")
        << untouched << false << true;
    QTest::newRow("firmware record lost, as read at connect")
        << false << -1 << false << -1 << int(DeviceError_FirmwareLost)
        << QStringLiteral("Firmware lost! Please update firmware!") << untouched << false << false;
    QTest::newRow("configuration lost")
        << false << -1 << false << -1 << int(DeviceError_ConfigurationLost)
        << QStringLiteral("Configuration lost! Please restore defaults!") << untouched << false
        << false;
}

// Whatever failed, while the adapter stays attached the window shows it as last read and takes
// the next try at once: the user never has to restart it.
void tst_MainWindow::deviceErrorGivesControlsBack()
{
    QFETCH(bool, badDigest);
    QFETCH(int, corruptEchoAtWrite);
    QFETCH(bool, refuseErase);
    QFETCH(int, wrongCodeAtExchange);
    QFETCH(int, emitted);
    QFETCH(QString, message);
    QFETCH(QString, version);
    QFETCH(bool, firmwareLost);
    QFETCH(bool, unfinished);

    FirmwareImageOptions options;
    options.corruptDigest = badDigest;
    const QString file = writeImage(5, 7, 2, pattern(2600, 2), options);
    QVERIFY(!file.isEmpty());
    chooseFile(file);
    const QUrl unused(QStringLiteral("http://127.0.0.1:1/unused.rfw"));
    serveCatalogue({ entry(QStringLiteral("5.6.3"), QString(), unused),
        entry(QStringLiteral("5.7.2"), QString(), unused) });
    createWindow();
    waitReady(2);
    AdapterEmulator::resetCounters();
    AdapterEmulator::Faults faults;
    faults.corruptEchoAtWrite = corruptEchoAtWrite;
    faults.refuseErase = refuseErase;
    faults.wrongCodeAtExchange = wrongCodeAtExchange;
    AdapterEmulator::setFaults(faults);
    const QByteArray record = AdapterEmulator::memory(0x08004000, 256);

    if (emitted >= 0)
        emit device()->error(DeviceError(emitted));
    else
        widget<QToolButton>("toolButton_OpenFile")->click();
    MessageDialog *dialog = sharedDialog();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), Slow);
    QCOMPARE(titleOf(dialog), QStringLiteral("Error"));
    QCOMPARE(textOf(dialog), message);
    // An error does not look like a success: no green title.
    QVERIFY(child<QLabel>(dialog, "label_Title")->palette().color(QPalette::WindowText)
        != QColor(0x65, 0xC8, 0x53));
    QTRY_VERIFY_WITH_TIMEOUT(!device()->isBusy(), Slow);
    if (wrongCodeAtExchange > 0 && !unfinished)
        QCOMPARE(AdapterEmulator::memory(0x08004000, 256), record);
    QTRY_VERIFY(widget<QPushButton>("pushButton_Update")->isEnabled());
    QVERIFY(widget<QComboBox>("comboBox_Version")->isEnabled());
    QVERIFY(widget<QToolButton>("toolButton_OpenFile")->isEnabled());
    QVERIFY(!widget<QProgressBar>("progressBar")->isVisible());
    QCOMPARE(widget<QLabel>("label_CurrentVersion")->text(),
        QStringLiteral("Current Firmware Version | ") + version);
    if (firmwareLost)
        QTRY_COMPARE_WITH_TIMEOUT(
            textOf(dialog), QStringLiteral("Firmware lost! Please update firmware!"), Slow);
    auto *notice = widget<QLabel>("label_Unfinished");
    QTRY_COMPARE(notice->isVisible(), unfinished);
    if (unfinished) {
        // Connected again, whatever it announces: the window still says so and offers the
        // version whose write did not finish.
        AdapterEmulator::setFaults(AdapterEmulator::Faults());
        sendNotice(DeviceNotice::InterfaceRemoval);
        QTRY_COMPARE(page(), QStringLiteral("page_Unconnected"));
        sendNotice(DeviceNotice::InterfaceArrival);
        QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible() && !device()->isBusy(), Slow);
        QCOMPARE(widget<QComboBox>("comboBox_Version")->currentData().toString(),
            QStringLiteral("5.7.2"));
        QCOMPARE(
            notice->text(), QStringLiteral("The last write did not finish: run the update again."));
    }

    // The next try needs no restart.
    AdapterEmulator::setFaults(AdapterEmulator::Faults());
    const QByteArray payload = pattern(2600, 3);
    chooseFile(writeImage(5, 7, 3, payload));
    widget<QToolButton>("toolButton_OpenFile")->click();
    QTRY_COMPARE_WITH_TIMEOUT(textOf(dialog), QStringLiteral("Update successfully!"), Slow);
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    QTRY_COMPARE(widget<QLabel>("label_CurrentVersion")->text(),
        QStringLiteral("Current Firmware Version | 5.7.3"));
    QVERIFY(!notice->isVisible());
}

void tst_MainWindow::unplugClosesDialogs()
{
    MainWindow *window = createWindow();
    waitReady(0);
    auto *settings = ofWindow<SettingsDialog>(window);
    QVERIFY(settings);
    settings->show();
    window->showMessage(QStringLiteral("Message"), QStringLiteral("hello"));
    MessageDialog *dialog = sharedDialog();
    QVERIFY(dialog->isVisible());
    QVERIFY(settings->isVisible());

    AdapterEmulator::setAttached(false);
    sendNotice(DeviceNotice::InterfaceRemoval);
    QTRY_COMPARE(page(), QStringLiteral("page_Unconnected"));
    // Kept out of the window until now without its own style sheet, the page has it back.
    QVERIFY(
        widget<QWidget>("page_Unconnected")->styleSheet().contains(QLatin1String("K2/beijing")));
    QVERIFY(!dialog->isVisible());
    QVERIFY(!settings->isVisible());
    QVERIFY(!widget<QToolButton>("toolButton_Settings")->isEnabled());
    QVERIFY(window->isVisible());
}

// The window says that another program holds the adapter, sends it nothing meanwhile and
// connects by itself once it is let go (no arrival comes then).
void tst_MainWindow::adapterHeldByAnotherProgram()
{
    QHidDevice other; // another handle meets the same lock as another program
    QVERIFY(other.open(0x0E3A, 0xB471));
    createWindow();
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("page_Unconnected"), Slow);
    auto *text = widget<QLabel>("label");
    QTRY_COMPARE_WITH_TIMEOUT(text->text(),
        QStringLiteral("Another program is using the Corvane X9. "
                       "The tool connects to it by itself when that program lets it go."),
        Slow);
    QCOMPARE(AdapterEmulator::exchangeCount(), qint64(0));

    other.close();
    waitReady(0);
    QVERIFY(!text->text().startsWith(QLatin1String("Another program")));
}

// The settings button is hidden; its dialog is reached directly, as its signals stay connected.
void tst_MainWindow::backupAndRestoreThroughSettingsDialog()
{
    AdapterEmulator::seedDefaultConfiguration(2);
    const quint32 bootModeAddress = 0x08004000 + 0x82;
    const QString backupPath = m_files->filePath(QStringLiteral("adapter.bkp"));
    QStringList requests;
    QString chosen = backupPath;
    MainWindow::setFileDialogHook([&](const QString &caption, const QString &filter, bool save) {
        requests << QStringLiteral("%1|%2|%3").arg(caption, filter).arg(save);
        return chosen;
    });
    MainWindow *window = createWindow();
    waitReady(0);
    auto *settings = ofWindow<SettingsDialog>(window);
    MessageDialog *dialog = sharedDialog();
    settings->show();

    child<QPushButton>(settings, "pushButton_DataBackup")->click();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(backupPath), Slow);
    QTRY_COMPARE(textOf(dialog), QStringLiteral("completed successfully!"));
    QCOMPARE(titleOf(dialog), QStringLiteral("Corvane Firmware Tool"));
    QCOMPARE(requests, QStringList { QStringLiteral("Data Backup|backup Files (*.bkp)|1") });
    QCOMPARE(QFileInfo(backupPath).size(), qint64(0x3C000 + 16));
    QVERIFY(!settings->isVisible());
    QVERIFY(settings->isEnabled());

    // The configuration changes on the adapter; the restore brings the saved one back.
    AdapterEmulator::setMemory(bootModeAddress, QByteArray(1, '\x01'));
    child<QPushButton>(dialog, "pushButton_MsgOK")->click();
    settings->show();
    requests.clear();
    QTest::ignoreMessage(QtWarningMsg, "dataRestore 5.6.0");
    child<QPushButton>(settings, "pushButton_DataRestore")->click();
    QCOMPARE(requests, QStringList { QStringLiteral("Data Restore|backup Files (*.bkp)|0") });
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), Slow);
    QCOMPARE(textOf(dialog), QStringLiteral("completed successfully!"));
    QTRY_VERIFY_WITH_TIMEOUT(!device()->isBusy(), Slow);
    QCOMPARE(AdapterEmulator::memory(bootModeAddress, 1), QByteArray(1, '\x02'));
    QVERIFY(!settings->isVisible());

    // A damaged file is refused before anything is written.
    QFile file(backupPath);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(100));
    const char flipped = char(~file.peek(1).at(0));
    QVERIFY(file.write(&flipped, 1) == 1);
    file.close();
    child<QPushButton>(dialog, "pushButton_MsgOK")->click();
    settings->show();
    AdapterEmulator::resetCounters();
    QTest::ignoreMessage(QtWarningMsg, "Corrupted file/Unauthorized !");
    child<QPushButton>(settings, "pushButton_DataRestore")->click();
    QVERIFY(!settings->isVisible());
    QVERIFY(dialog->isVisible());
    QCOMPARE(textOf(dialog), QStringLiteral("Corrupted file/Unauthorized !"));
    QTest::qWait(100);
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);

    // A file of this adapter whose digest verifies but whose sector-2 length runs past
    // its block is reported the same way instead of being dropped silently.
    QByteArray config = AdapterEmulator::memory(0x08004000, 0x3C000);
    config[0x4000] = char(0xFF);
    config[0x4001] = char(0xFF);
    QFile forged(backupPath);
    QVERIFY(forged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    forged.write(BackupFile::encode(config.constData(), config.size(), device()->serialNumber()));
    forged.close();
    child<QPushButton>(dialog, "pushButton_MsgOK")->click();
    settings->show();
    QTest::ignoreMessage(QtWarningMsg, "dataRestore 5.6.0");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^dataRestore refused")));
    QTest::ignoreMessage(QtWarningMsg, "Corrupted file/Unauthorized !");
    child<QPushButton>(settings, "pushButton_DataRestore")->click();
    QVERIFY(dialog->isVisible());
    QCOMPARE(textOf(dialog), QStringLiteral("Corrupted file/Unauthorized !"));
    QTest::qWait(100);
    QCOMPARE(AdapterEmulator::writeCommandCount(), 0);
}

void tst_MainWindow::closeDeferredWhileBusy_data()
{
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<bool>("queuedTask");
    QTest::addColumn<bool>("twice");
    QTest::newRow("close button") << true << false << false;
    QTest::newRow("close from the platform") << false << false << false;
    QTest::newRow("a task queued behind the write") << true << true << false;
    QTest::newRow("closed twice (a double click, Alt+F4 twice)") << false << false << true;
}

// The close waits for every task, also one queued behind the running write; a file chosen
// while the write runs starts no second write behind it.
void tst_MainWindow::closeDeferredWhileBusy()
{
    QFETCH(bool, closeButton);
    QFETCH(bool, queuedTask);
    QFETCH(bool, twice);
    const QByteArray payload = pattern(10400, 21);
    const QString file = writeImage(5, 7, 3, payload);
    const QString other = writeImage(5, 7, 4, pattern(10400, 23));
    chooseFile(file);
    MainWindow *window = createWindow();
    waitReady(0);
    setLatency(1500);

    auto *openFile = widget<QToolButton>("toolButton_OpenFile");
    openFile->click();
    QTRY_VERIFY_WITH_TIMEOUT(device()->isBusy(), Slow);
    int dialogs = 0;
    MainWindow::setFileDialogHook([&](const QString &, const QString &, bool) {
        ++dialogs;
        return other;
    });
    openFile->click();
    QCOMPARE(dialogs, 0);
    if (queuedTask)
        device()->setBootMode(3);

    QTest::ignoreMessage(QtInfoMsg, "safe close...");
    auto *closeTool = widget<QToolButton>("toolButton_Close");
    if (closeButton)
        closeTool->click();
    else
        QVERIFY(!window->close());
    QVERIFY(!twice || !window->close());
    QVERIFY(!closeTool->isEnabled());
    QVERIFY(widget<QLabel>("label_CloseDeferred")->isVisible());
    QCOMPARE(widget<QLabel>("label_CloseDeferred")->text(),
        QStringLiteral(
            "The firmware is being written. The window closes by itself when it is done."));
    QTest::qWait(100);
    QVERIFY(device()->isBusy());
    QVERIFY(window->isVisible());

    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), Slow);
    QVERIFY(device()->isIdle());
    // The write ran to its end before the window went, and it was the only one.
    QCOMPARE(AdapterEmulator::memory(0x08010000, quint32(payload.size())), payload);
    QCOMPARE(AdapterEmulator::eraseLog().size(), queuedTask ? 2 : 1);
    if (queuedTask)
        QCOMPARE(AdapterEmulator::memory(0x08004082, 1), QByteArray(1, char(3)));
    else
        QCOMPARE(textOf(sharedDialog()), QStringLiteral("Update successfully!"));
}

// An adapter that stops answering keeps the engine busy; once it has been silent for longer
// than its request allows, the close button comes back and a second close ends the window,
// and the blocked transfer gives up.
void tst_MainWindow::secondCloseWhileStalled()
{
    const QString file = writeImage(5, 7, 3, pattern(10400, 22));
    chooseFile(file);
    MainWindow *window = createWindow();
    waitReady(0);
    device()->setStallTime(1000);
    setLatency(1500);

    widget<QToolButton>("toolButton_OpenFile")->click();
    QTRY_VERIFY_WITH_TIMEOUT(device()->isBusy(), Slow);
    QVERIFY(!window->close());
    AdapterEmulator::Faults faults = AdapterEmulator::faults();
    faults.stallAtExchange = AdapterEmulator::exchangeCount() + 5;
    AdapterEmulator::setFaults(faults);
    QVERIFY(window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(widget<QToolButton>("toolButton_Close")->isEnabled(), Slow);
    QVERIFY(device()->isStalled());
    QTest::ignoreMessage(
        QtWarningMsg, "closing although a device task runs: the adapter stopped answering");
    widget<QToolButton>("toolButton_Close")->click();
    QVERIFY(!window->isVisible());
}

void tst_MainWindow::languageChangeDuringUpdate()
{
    const QString file = writeImage(5, 7, 4, pattern(5200, 8));
    chooseFile(file);
    MainWindow *window = createWindow();
    waitReady(0);
    // Slow enough that the write outlasts the checks below however loaded the machine is;
    // sped up again once they are done.
    setLatency(200000);
    widget<QToolButton>("toolButton_OpenFile")->click();
    QTRY_VERIFY_WITH_TIMEOUT(device()->isBusy(), Slow);

    auto *languages = widget<QComboBox>("comboBox_Languages");
    QCOMPARE(languages->currentIndex(), 0);
    languages->setCurrentIndex(3);

    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat)
                 .value(QStringLiteral("CurrentLanguage"))
                 .toInt(),
        3);
    QCOMPARE(languages->currentIndex(), 3);
    QCOMPARE(languages->currentText(), QStringLiteral("русский"));
    QCOMPARE(languages->count(), 5);
    QCOMPARE(QApplication::font().family(), QStringLiteral("Consolas"));
    // Also the widgets whose font size the style sheet sets, and the dialog (once it shows).
    QCOMPARE(widget<QPushButton>("pushButton_Update")->font().family(), QStringLiteral("Consolas"));
    QCOMPARE(widget<QLabel>("label_CurrentVersion")->font().family(), QStringLiteral("Consolas"));
    QCOMPARE(widget<QPushButton>("pushButton_Update")->text(), QStringLiteral("Обновить прошивку"));
    QCOMPARE(widget<QLabel>("label_Version")->text(), QStringLiteral("Новая прошивка"));
    // The status line keeps the step the update is at, in the new language.
    const QString status = widget<QLabel>("label_CurrentVersion")->text();
    QVERIFY2(status == QStringLiteral("Обновить прошивку…")
            || status == QStringLiteral("Сохранение конфигурации адаптера…"),
        qPrintable(status));
    QCOMPARE(
        widget<QLabel>("label_Title")->text(), QStringLiteral("Corvane X9 Firmware Tool v1.9.0"));
    QCOMPARE(child<QPushButton>(sharedDialog(), "pushButton_MsgOK")->text(), QStringLiteral("ОК"));
    auto *settings = ofWindow<SettingsDialog>(window);
    QCOMPARE(child<QPushButton>(settings, "pushButton_DataBackup")->text(),
        QStringLiteral("Создать резервную копию"));
    QVERIFY(device()->isBusy());
    setLatency(0);

    // The update started in English still reports itself as an update.
    QTRY_COMPARE_WITH_TIMEOUT(
        textOf(sharedDialog()), QStringLiteral("Прошивка успешно обновлена!"), Slow);
    QCOMPARE(child<QTextBrowser>(sharedDialog(), "textBrowser")->font().family(),
        QStringLiteral("Consolas"));
    QCOMPARE(titleOf(sharedDialog()), QStringLiteral("Corvane Firmware Tool"));
    QCOMPARE(languages->currentIndex(), 3);
}

void tst_MainWindow::storedLanguageAtStart_data()
{
    QTest::addColumn<int>("stored"); // -1: nothing stored
    QTest::addColumn<int>("comboIndex");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("updateText");
    QTest::addColumn<QString>("currentVersionText");
    QTest::addColumn<QString>("qtCancel"); // Qt's own button text, from the toolkit's catalogue

    QTest::newRow("first run") << -1 << 0 << QStringLiteral("Microsoft Sans Serif")
                               << QStringLiteral("Update Firmware")
                               << QStringLiteral("Current Firmware Version | ")
                               << QStringLiteral("Cancel");
    QTest::newRow("Chinese") << 1 << 1 << QStringLiteral("DengXian") << QStringLiteral("更新固件")
                             << QStringLiteral("当前固件版本 | ") << QStringLiteral("取消");
    QTest::newRow("Japanese") << 2 << 2 << QStringLiteral("Kochi Gothic")
                              << QStringLiteral("ファームウェアを更新")
                              << QStringLiteral("現在のファームウェア | ")
                              << QStringLiteral("キャンセル");
    QTest::newRow("Russian") << 3 << 3 << QStringLiteral("Consolas")
                             << QStringLiteral("Обновить прошивку")
                             << QStringLiteral("Текущая версия прошивки | ")
                             << QStringLiteral("Отмена");
    QTest::newRow("French") << 4 << 4 << QStringLiteral("Arbutus Slab")
                            << QStringLiteral("Mettre à jour le firmware")
                            << QStringLiteral("Version actuelle du firmware | ")
                            << QStringLiteral("Annuler");
    QTest::newRow("unknown index")
        << 7 << -1 << QStringLiteral("Microsoft Sans Serif") << QStringLiteral("Update Firmware")
        << QStringLiteral("Current Firmware Version | ") << QStringLiteral("Cancel");
}

void tst_MainWindow::storedLanguageAtStart()
{
    QFETCH(int, stored);
    QFETCH(int, comboIndex);
    QFETCH(QString, family);
    QFETCH(QString, updateText);
    QFETCH(QString, currentVersionText);
    QFETCH(QString, qtCancel);
    if (stored >= 0)
        writeSetting(QStringLiteral("CurrentLanguage"), stored);
    AdapterEmulator::setAttached(false);
    // A desktop font of a size of its own, which Qt 5 builds the widgets with.
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));

    // Checked before any event is processed: the first paint already shows this font.
    createWindow();
    QCOMPARE(QApplication::font().family(), family);
    QCOMPARE(widget<QLabel>("label_Info")->font().family(), family);
    QCOMPARE(widget<QComboBox>("comboBox_Languages")->currentIndex(), comboIndex);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), qtCancel);
    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat)
                 .value(QStringLiteral("CurrentLanguage"), -1)
                 .toInt(),
        stored);

    // Names held back until the first paint are there once the window is on screen, and the
    // list is as wide as with every name measured.
    auto *names = widget<QComboBox>("comboBox_Languages");
    const auto allNamed = [names] {
        for (int i = 0; i < names->count(); ++i) {
            if (names->itemText(i).isEmpty())
                return false;
        }
        return true;
    };
    QTRY_VERIFY(allNamed());
    // The connected page joins the window once the adapter is attached, with the same font and
    // style as the pages the window was built with.
    QTRY_COMPARE(page(), QStringLiteral("page_Unconnected"));
    QVERIFY(!m_window->findChild<QWidget *>(QStringLiteral("page_Connected")));
    AdapterEmulator::setAttached(true);
    sendNotice(DeviceNotice::InterfaceArrival);
    QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("page_Connected"), Slow);
    QCOMPARE(widget<QPushButton>("pushButton_Update")->font().family(), family);
    // No font rule of its own: the family of the language, the size the pages were built with.
    QCOMPARE(widget<QProgressBar>("progressBar")->font().family(), family);
    QCOMPARE(widget<QProgressBar>("progressBar")->font().pointSizeF(),
        widget<QWidget>("page_Start")->font().pointSizeF());
    // ...and the style sheet's pictures: the update button is drawn mostly blue.
    const QImage button = widget<QPushButton>("pushButton_Update")
                              ->grab()
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32);
    int blue = 0;
    for (int y = 0; y < button.height(); ++y)
        for (int x = 0; x < button.width(); ++x)
            blue += qBlue(button.pixel(x, y)) > 200 && qRed(button.pixel(x, y)) < 64;
    QVERIFY2(blue * 2 > button.width() * button.height(), qPrintable(QString::number(blue)));
    QCOMPARE(widget<QPushButton>("pushButton_Update")->text(), updateText);
    QCOMPARE(
        widget<QLabel>("label_CurrentVersion")->text(), currentVersionText + device()->version());
    QCOMPARE(widget<QLabel>("label_ProductConnected")->text(),
        QString::fromLatin1(device()->serialNumber()));
    QCOMPARE(names->itemText(1), QStringLiteral("中文"));
    QCOMPARE(names->itemText(2), QStringLiteral("日本語"));
    // The language's name stays clear of the list's arrow.
    QStyleOptionComboBox field;
    field.initFrom(names);
    field.currentText = names->currentText();
    QVERIFY2(names->fontMetrics().horizontalAdvance(names->currentText())
            < names->style()
                  ->subControlRect(QStyle::CC_ComboBox, &field, QStyle::SC_ComboBoxEditField, names)
                  .width(),
        qPrintable(names->currentText()));
    const QSize listSize = names->sizeHint();
    names->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    QCOMPARE(names->sizeHint(), listSize);

    // Every control that Tab reaches has a name that a screen reader speaks (a combo box on
    // Linux: its label or its current text), on the connected page and in the message dialog.
    auto *pages = widget<QStackedWidget>("stackedWidget");
    pages->setCurrentWidget(widget<QWidget>("page_Connected"));
    m_window->showMessage(QStringLiteral("Message"), QStringLiteral("hello"));
    QStringList unnamed;
    int stops = 0;
    for (QWidget *control : m_window->findChildren<QWidget *>()) {
        if (!control->isVisible() || !(control->focusPolicy() & Qt::TabFocus))
            continue;
        ++stops;
        QAccessibleInterface *node = QAccessible::queryAccessibleInterface(control);
        if (!node
            || (node->text(QAccessible::Name).isEmpty()
                && node->relations(QAccessible::Label).isEmpty()))
            unnamed << control->objectName();
    }
    QCOMPARE(unnamed, QStringList());
    QCOMPARE(stops, 9);
    // A combo box is announced by its label on Linux, not by its current item.
    using Labelled = QPair<const char *, const char *>;
    for (const Labelled &labelled : { Labelled("comboBox_Version", "New Firmware Version"),
             Labelled("comboBox_Languages", "Language") }) {
        const auto labels = QAccessible::queryAccessibleInterface(widget<QComboBox>(labelled.first))
                                ->relations(QAccessible::Label);
        QVERIFY2(!labels.isEmpty(), labelled.first);
        QCOMPARE(labels.first().first->text(QAccessible::Name),
            QCoreApplication::translate("MainWindow", labelled.second));
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(sharedDialog())->text(QAccessible::Name),
        QStringLiteral("Message"));

    // Every status and button text fits its control in the language's font.
    const auto text = [](const char *source) {
        return QCoreApplication::translate("MainWindow", source);
    };
    const QString status = text("%1...");
    const QList<QPair<const char *, QString>> texts = {
        { "label_CurrentVersion", text("Firmware downloading...") },
        { "label_CurrentVersion", text("Saving the adapter's configuration...") },
        { "label_CurrentVersion", status.arg(text("Update Firmware")) },
        { "label_CurrentVersion", status.arg(text("Restore Defaults")) },
        { "label_CurrentVersion",
            QStringLiteral("%1 | 5.10.24").arg(text("Current Firmware Version")) },
        { "label_Version", text("New Firmware Version") },
        { "pushButton_Update", text("Update Firmware") },
        { "pushButton_MsgOK", QCoreApplication::translate("MessageDialog", "OK") },
        { "label_Info", text("connect clould and sync information...") },
        { "label", text("connect Corvane X9 to PC.") },
        { "label",
            text("Another program is using the Corvane X9. The tool connects to it by itself when "
                 "that program lets it go.") },
    };
    QStringList cut;
    for (const auto &shown : texts) {
        auto *control = m_window->findChild<QWidget *>(QLatin1String(shown.first));
        QVERIFY(control);
        if (pages->isAncestorOf(control))
            pages->setCurrentWidget(control->parentWidget());
        QCoreApplication::processEvents();
        const QFontMetrics metrics(control->font());
        const QRect box = control->contentsRect();
        // The connect instruction wraps inside its fixed box; the others stay on one line.
        const QSize needed = qstrcmp(shown.first, "label") == 0
            ? metrics.boundingRect(QRect(0, 0, box.width(), 10000), Qt::TextWordWrap, shown.second)
                  .size()
            : QSize(metrics.horizontalAdvance(shown.second), metrics.height());
        if (needed.width() > box.width() || needed.height() > box.height())
            cut << QStringLiteral("%1: %2").arg(QLatin1String(shown.first), shown.second);
    }
    QCOMPARE(cut, QStringList());
}

void tst_MainWindow::compareVersion_data()
{
    QTest::addColumn<QString>("v1");
    QTest::addColumn<QString>("v2");
    QTest::addColumn<bool>("older");

    QTest::newRow("numeric, not text order") << "1.9.0"
                                             << "1.10.0" << true;
    QTest::newRow("newer is not older") << "1.10.0"
                                        << "1.9.0" << false;
    QTest::newRow("letters ignored, equal") << "V1.9.0"
                                            << "1.9.0" << false;
    QTest::newRow("letters and brackets ignored") << "(beta) v1.9.0"
                                                  << "1.9.1" << true;
    QTest::newRow("two parts") << "1.9"
                               << "2.0.0" << false;
    QTest::newRow("four parts") << "1.9.0"
                                << "1.9.0.1" << false;
    QTest::newRow("fields overlap: 1.256.0 equals 1.0.0") << "1.0.0"
                                                          << "1.256.0" << false;
    QTest::newRow("fields overlap, other way") << "1.256.0"
                                               << "1.0.0" << false;
    QTest::newRow("overlap reaches the next field: 1.8.256 equals 1.9.0") << "1.8.256"
                                                                          << "1.9.0" << false;
    QTest::newRow("empty part counts as 0") << "1..0"
                                            << "1.0.1" << true;
    QTest::newRow("negative part packs as signed") << "-1.0.0"
                                                   << "0.0.0" << true;
    QTest::newRow("empty texts") << ""
                                 << "" << false;
}

void tst_MainWindow::compareVersion()
{
    QFETCH(QString, v1);
    QFETCH(QString, v2);
    QFETCH(bool, older);
    AdapterEmulator::setAttached(false);
    createWindow();

    bool result = !older;
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "compareVersion", Qt::DirectConnection,
        Q_RETURN_ARG(bool, result), Q_ARG(QString, v1), Q_ARG(QString, v2)));
    QCOMPARE(result, older);
}

void tst_MainWindow::changeLogShownAsPlainText()
{
    const QUrl image = m_server.url(QStringLiteral("/x.rfw"));
    serveCatalogue(
        { entry(QStringLiteral("5.6.3"),
              QStringLiteral("<b>Bold</b> & <i>fast</i>;second line\u202e!\u2028"), image),
            entry(QStringLiteral("V5.06.3 "), QStringLiteral("look-alike"), image),
            entry(QStringLiteral("\u202e42.5.5"), QString(), image),
            entry(QStringLiteral("5.6.0\u2028(urgent security fix)"), QString(), image) });
    createWindow();
    waitReady(3);
    // Each version once, by its numbers; a label that reads as something else shows as it is.
    auto *versions = widget<QComboBox>("comboBox_Version");
    QCOMPARE(QStringList({ versions->itemText(0), versions->itemText(1), versions->itemText(2) }),
        QStringList({ QStringLiteral("5.6.3"), QStringLiteral("?42.5.5"),
            QStringLiteral("5.6.0?(urgent security fix)") }));

    widget<QToolButton>("toolButton_VersionInfo")->click();
    MessageDialog *dialog = sharedDialog();
    QVERIFY(dialog->isVisible());
    QCOMPARE(titleOf(dialog), QStringLiteral("Version ChangeLog"));
    QCOMPARE(textOf(dialog), QStringLiteral("<b>Bold</b> & <i>fast</i>\nsecond line?!?"));
}

void tst_MainWindow::keyboardOnly_data()
{
    QTest::addColumn<bool>("attached");
    QTest::addColumn<QString>("tabStops"); // from the first focus round to it again
    QTest::addColumn<QString>("enterOn");
    QTest::newRow("connected")
        << true
        << "comboBox_Version toolButton_VersionInfo toolButton_OpenFile pushButton_Update "
           "comboBox_Languages toolButton_Close comboBox_Version"
        << "toolButton_VersionInfo";
    QTest::newRow("no adapter") << false << "toolButton_Close comboBox_Languages toolButton_Close"
                                << "toolButton_Close";
}

// Tab reaches every control with an action, in reading order, and Enter presses a button.
void tst_MainWindow::keyboardOnly()
{
    QFETCH(bool, attached);
    QFETCH(QString, tabStops);
    QFETCH(QString, enterOn);
    serveCatalogue({ entry(QStringLiteral("5.6.3"), QStringLiteral("notes"), QUrl()) });
    AdapterEmulator::setAttached(attached);
    MainWindow *window = createWindow();
    QTRY_VERIFY(window->isActiveWindow());
    if (attached)
        waitReady(1);
    else
        QTRY_COMPARE_WITH_TIMEOUT(page(), QStringLiteral("page_Unconnected"), Slow);

    QTRY_VERIFY(QApplication::focusWidget());
    QStringList stops { QApplication::focusWidget()->objectName() };
    while (stops.size() < tabStops.count(QLatin1Char(' ')) + 1) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        stops << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(stops.join(QLatin1Char(' ')), tabStops);

    auto *button = widget<QToolButton>(qPrintable(enterOn));
    button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button, Qt::Key_Return);
    if (!attached) {
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), Slow);
        return;
    }
    MessageDialog *dialog = sharedDialog();
    QVERIFY(dialog->isVisible());
    QCOMPARE(titleOf(dialog), QStringLiteral("Version ChangeLog"));
    // The message takes the focus on its OK button; Enter on the keypad acknowledges it.
    QTRY_COMPARE(QApplication::focusWidget(), child<QWidget>(dialog, "pushButton_MsgOK"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(!dialog->isVisible());
}

QTEST_MAIN(tst_MainWindow)

#include "tst_mainwindow.moc"
