// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"
#include "logcategories.h"

#include "accessibility.h"
#include "backupadmission.h"
#include "closeguard.h"
#include "embeddedfonts.h"
#include "filechooser.h"
#include "firmwarefile.h"
#include "firmwareversion.h"
#include "logfile.h"
#include "messagedialog.h"
#include "operationhistory.h"
#include "safetext.h"
#include "settingsdialog.h"
#include "toolversion.h"
#include "ui_mainwindow.h"
#include "updatejobs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QListView>
#include <QMovie>
#include <QStyledItemDelegate>
#include <QTimer>

namespace {

// When a shown window that has not been painted yet starts its catalogue request and adapter.
constexpr int StartWithoutPaintMs = 1000;

int catalogueRetryMs = 60000;

// The version list's entry with its marks ("5.6.3 (newest)"), shown in the open list only:
// the closed list keeps to the version, which fits its place in every language.
constexpr int MarkedRole = Qt::UserRole + 1;

class MarkedItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString marked = index.data(MarkedRole).toString();
        if (!marked.isEmpty())
            option->text = marked;
    }
};

// Widens a combo box's open list to its longest entry as its delegate draws it, which may be
// wider than the closed box.
class PopupWidener : public QObject
{
public:
    explicit PopupWidener(QComboBox *box) : QObject(box), m_box(box)
    {
        box->view()->parentWidget()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *popup = static_cast<QWidget *>(watched);
            QAbstractItemView *view = m_box->view();
            const int needed
                = view->sizeHintForColumn(0) + popup->width() - view->viewport()->width();
            if (needed > popup->width())
                popup->resize(needed, popup->height());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QComboBox *m_box;
};

} // namespace

void MainWindow::setCatalogueRetryInterval(int ms)
{
    catalogueRetryMs = ms;
}

MainWindow::MainWindow(QWidget *parent, AdapterUse adapter)
    : FramelessWidget(parent), ui(std::make_unique<Ui::MainWindow>())
{
    // The saved language's font and family come before the widgets: the style sheet is
    // applied once, with it, since each application polishes every widget and decodes its
    // pictures. The other languages' fonts wait for the first paint.
    m_syncCloud = new SyncCloud(this);
    // Nothing that an update would refuse is cached for it.
    m_syncCloud->setImageCheck(&catalogueImageProblem);
    const int language = m_syncCloud->currentLanguage();
    EmbeddedFonts::registerForStart(Languages::embeddedFont(language));
    const QString family = Languages::fontBeforeWidgets(language);
    // Set before the form is built: set later, they would be carried to every widget in it.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    {
        // Both pages are held below, the unconnected one's background not decoded till shown.
        const auto sheetsAside = m_heldUntilShown.keepStyleSheetsAside(
            { QStringLiteral("page_Unconnected"), QStringLiteral("page_Connected") });
        ui->setupUi(this);
    }
    // Lists that take the style sheet's item rules (the combo boxes' own do not), set before
    // the sheet is applied: each would be styled once more as it joins.
    ui->comboBox_Languages->setView(new QListView(ui->comboBox_Languages));
    ui->comboBox_Version->setView(new QListView(ui->comboBox_Version));
    ui->comboBox_Version->setItemDelegate(new MarkedItemDelegate(ui->comboBox_Version));
    new PopupWidener(ui->comboBox_Version);

    m_messageDialog = new MessageDialog(this);
    m_settingsDialog = new SettingsDialog(this);
    m_deviceFlash = new DeviceFlash(this);
    m_deviceFlash->setConnectWhenReleased(true);
    // Updates and factory restores save the configuration there first; history too.
    m_deviceFlash->setDataDirectory(m_syncCloud->storagePath());

    setAcceptDrops(true);
    ui->toolButton_Network->setEnabled(m_syncCloud->isSynced());

    auto *movie = new QMovie(QStringLiteral(":/images/loading.gif"), QByteArray(), this);
    movie->setScaledSize(QSize(168, 168));
    ui->label_Busying->setMovie(movie);
    // The busy animation runs only while its page shows: a hidden one would wake the processor
    // at its frame rate for as long as the window is open.
    const auto runWhenShown = [this, movie] {
        if (ui->stackedWidget->currentWidget() == ui->page_Start)
            movie->start();
        else
            movie->stop();
    };
    connect(ui->stackedWidget, &QStackedWidget::currentChanged, movie, runWhenShown);
    runWhenShown();

    // Factory restore and the settings dialog stay out of the user's reach.
    ui->toolButton_Settings->setEnabled(false);
    ui->toolButton_Settings->hide();
    ui->pushButton_Restore->hide();

    // None of them shows at first (the start page does): polished only once first shown,
    // their pictures (and those of their other states) are not decoded before the window is
    // mapped, nor ever for a page or dialog that never shows.
    m_heldUntilShown.holdPage(ui->stackedWidget, ui->page_Unconnected);
    m_heldUntilShown.holdPage(ui->stackedWidget, ui->page_Connected);
    m_heldUntilShown.holdWindow(m_messageDialog);
    m_heldUntilShown.holdWindow(m_settingsDialog);
    // Enter presses it too, should it ever show.
    Accessibility::pressButtonsWithEnter(ui->page_Connected);
    m_heldUntilShown.holdHidden(ui->pushButton_Restore);

    QFile styleFile(QStringLiteral(":/ui/style.qss"));
    if (styleFile.open(QIODevice::ReadOnly)) {
        m_baseStyleSheet = QString::fromUtf8(styleFile.readAll());
        setStyleSheet(m_baseStyleSheet + Languages::fontRule(family));
        styleFile.close();
    }

    ui->progressBar->hide();
    m_closeNotice = new QLabel(ui->page_Connected);
    m_closeNotice->setObjectName(QStringLiteral("label_CloseDeferred"));
    m_closeNotice->setWordWrap(true);
    m_closeNotice->setAlignment(Qt::AlignCenter);
    m_closeNotice->hide();
    ui->verticalLayout_2->insertWidget(
        ui->verticalLayout_2->indexOf(ui->progressBar) + 1, m_closeNotice);
    m_unfinishedNotice = new QLabel(ui->page_Connected);
    m_unfinishedNotice->setObjectName(QStringLiteral("label_Unfinished"));
    m_unfinishedNotice->setWordWrap(true);
    m_unfinishedNotice->setAlignment(Qt::AlignCenter);
    m_unfinishedNotice->hide();
    ui->verticalLayout_2->insertWidget(
        ui->verticalLayout_2->indexOf(ui->label_CurrentVersion) + 1, m_unfinishedNotice);

    addCatalogueVersions();

    m_catalogueRetry = new QTimer(this);
    m_catalogueRetry->setSingleShot(true);
    m_catalogueRetry->setInterval(catalogueRetryMs);
    connect(m_catalogueRetry, &QTimer::timeout, this, &MainWindow::retryCatalogue);

    Languages::installFontSubstitutions();
    connectSignals();
    setUpKeyboard();
    refreshTexts();

    // A window that is never painted (one hidden on another desktop) starts a moment later.
    m_openAdapter = adapter == OpenAdapter;
    QTimer::singleShot(StartWithoutPaintMs, this, &MainWindow::startAfterFirstPaint);
}

MainWindow::~MainWindow() = default;

void MainWindow::paintEvent(QPaintEvent *event)
{
    FramelessWidget::paintEvent(event);
    if (!m_started)
        QTimer::singleShot(0, this, &MainWindow::startAfterFirstPaint);
}

// The catalogue request and the adapter's start-up open, once the window is on screen: its
// first picture does not wait for them, nor for the threads they start.
void MainWindow::startAfterFirstPaint()
{
    if (m_started || !isVisible())
        return;
    m_started = true;
    EmbeddedFonts::registerAll();
    for (int i = 0; i < m_deferredNames.size(); ++i) {
        if (!m_deferredNames.at(i).isEmpty())
            ui->comboBox_Languages->setItemText(i, m_deferredNames.at(i));
    }
    m_deferredNames.clear();
    m_syncCloud->getInformation();
    if (m_openAdapter) {
        // Windows sends the device notifications to the window, through the application's
        // native event filter.
        m_deviceFlash->setNotificationWindow(effectiveWinId());
        m_deviceFlash->openDevice();
    }
}

void MainWindow::showPage(QWidget *page)
{
    // Enter presses the put-back page's buttons too.
    if (m_heldUntilShown.release(page))
        Accessibility::pressButtonsWithEnter(page);
    ui->stackedWidget->setCurrentWidget(page);
}

MessageDialog *MainWindow::messageDialog()
{
    m_heldUntilShown.release(m_messageDialog);
    return m_messageDialog;
}

SettingsDialog *MainWindow::settingsDialog()
{
    m_heldUntilShown.release(m_settingsDialog);
    return m_settingsDialog;
}

void MainWindow::showMessage(const QString &title, const QString &text)
{
    raise();
    activateWindow();
    messageDialog()->showMessage(title, text);
}

void MainWindow::connectSignals()
{
    m_closeGuard = new CloseGuard(this, m_deviceFlash, ui->toolButton_Close, m_closeNotice);
    // Only the connected page takes a file, and not while an operation runs.
    FileChooser::takeDrops(
        this, QStringLiteral("rfw"),
        [this] {
            return ui->stackedWidget->currentWidget() == ui->page_Connected
                && !isOperationRunning();
        },
        // Not inside the drop itself: writing an older version asks first, in an event loop.
        [this](const QString &path) {
            QTimer::singleShot(0, this, [this, path] { openFirmwareFile(path); });
        });
    connect(m_syncCloud, &SyncCloud::firmawreInfoChanged, this, &MainWindow::onFirmwareInfoChanged,
        Qt::QueuedConnection);
    connect(m_syncCloud, &SyncCloud::syncFinshed, this, &MainWindow::onSyncFinished,
        Qt::QueuedConnection);
    connect(m_syncCloud, &SyncCloud::downloadFirmwareProgress, this,
        &MainWindow::onDownloadProgress, Qt::QueuedConnection);
    connect(m_messageDialog, &MessageDialog::restoreDefaultsButtonClicked, this,
        [] { qCDebug(lcUi) << "on restoreDefaultsButtonClicked "; });
    connect(m_messageDialog, &MessageDialog::updateFirmwareButtonClicked, this,
        [] { qCDebug(lcUi) << "on updateFirmwareButtonClicked "; });
    connect(
        m_syncCloud, &SyncCloud::syncError, this, &MainWindow::onSyncError, Qt::QueuedConnection);
    connect(
        m_deviceFlash, &DeviceFlash::deviceConnectStatusChanged, this,
        [this](bool connected, DeviceFlash::Corvane) { onDeviceConnectStatusChanged(connected); },
        Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::versionChanged, this, &MainWindow::onVersionChanged,
        Qt::QueuedConnection);
    connect(
        m_deviceFlash, &DeviceFlash::deviceInUse, this, [this] { setAdapterInUse(true); },
        Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::dataBackupProgressChanged, this,
        &MainWindow::onDataBackupProgress, Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::settingProgressChanged, this,
        &MainWindow::onSettingProgress, Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::dataStoreProgressChanged, this,
        &MainWindow::onDataStoreProgress, Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::write2FlashProgressChanged, this,
        &MainWindow::onWrite2FlashProgress, Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::finished, this, &MainWindow::onOperationFinished,
        Qt::QueuedConnection);
    connect(m_deviceFlash, &DeviceFlash::autoBackupProgressChanged, this,
        &MainWindow::onAutoBackupProgress, Qt::QueuedConnection);
    // The operation that the saved configuration comes before goes on.
    connect(
        m_deviceFlash, &DeviceFlash::autoBackupSaved, this, [this] { setStatus(Status::Running); },
        Qt::QueuedConnection);
    connect(ui->pushButton_Update, &QPushButton::clicked, this,
        &MainWindow::onPushButtonUpdateClicked, Qt::QueuedConnection);
    connect(ui->pushButton_Restore, &QPushButton::clicked, this,
        &MainWindow::onPushButtonRestoreClicked, Qt::QueuedConnection);
    connect(ui->toolButton_VersionInfo, &QToolButton::clicked, this,
        &MainWindow::onPushButtonVersionInfoClicked);
    connect(ui->toolButton_OpenFile, &QToolButton::clicked, this, &MainWindow::onOpenFileClicked);
    connect(
        ui->toolButton_Settings, &QToolButton::clicked, this, [this] { settingsDialog()->show(); });
    connect(m_settingsDialog, &SettingsDialog::dataBackup, this, [this] {
        if (!isOperationRunning())
            m_deviceFlash->dataBackup();
    });
    connect(m_deviceFlash, &DeviceFlash::settingChanged, this, &MainWindow::onSettingChanged,
        Qt::QueuedConnection);
    connect(
        m_settingsDialog, &SettingsDialog::dataRestore, this, &MainWindow::onDataRestoreRequested);
    connect(m_settingsDialog, &SettingsDialog::bootModeChanged, this, [this](int mode) {
        if (isOperationRunning())
            return;
        m_deviceFlash->setBootMode(mode);
        qCDebug(lcUi) << "bootModeChanged" << mode;
    });
    connect(ui->comboBox_Languages, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &MainWindow::onComboBoxLanguagesChanged);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_closeGuard->admit(event))
        FramelessWidget::closeEvent(event);
}

bool MainWindow::isOperationRunning() const
{
    return m_fetchingFirmware || !m_deviceFlash->isIdle();
}

void MainWindow::setOperationControlsEnabled(bool enabled)
{
    ui->comboBox_Version->setEnabled(enabled);
    ui->pushButton_Update->setEnabled(enabled);
    ui->pushButton_Restore->setEnabled(enabled);
    ui->toolButton_Settings->setEnabled(enabled);
    ui->toolButton_OpenFile->setEnabled(enabled);
}

// The progress bar's tool tip names the operation that runs (update or restore).
void MainWindow::startOperationDisplay(QPushButton *button)
{
    m_restoreRunning = button == ui->pushButton_Restore;
    ui->progressBar->setToolTip(button->text());
    ui->progressBar->setValue(0);
    ui->progressBar->show();
    setStatus(Status::Running);
    setOperationControlsEnabled(false);
}

void MainWindow::setStatus(Status status)
{
    m_status = status;
    ui->label_CurrentVersion->setText(statusText());
}

// In the language shown: a language chosen during an operation keeps the step it is at.
QString MainWindow::statusText() const
{
    switch (m_status) {
    case Status::Version:
        break;
    case Status::Downloading:
        return tr("Firmware downloading...");
    case Status::SavingConfiguration:
        return tr("Saving the adapter's configuration...");
    case Status::Running:
        return tr("%1...").arg(
            (m_restoreRunning ? ui->pushButton_Restore : ui->pushButton_Update)->text());
    }
    return QStringLiteral("%1 | %2").arg(tr("Current Firmware Version"), m_deviceFlash->version());
}

void MainWindow::onDeviceError(DeviceError error)
{
    m_settingsDialog->setProgress(0, 0);
    ui->progressBar->hide();

    const DeviceErrorText *known = DeviceErrorText::of(error);
    const QString text = known ? tr(known->message) : QString();
    if (error == DeviceError_HardwareFailure) {
        MessageDialog dialog(this);
        dialog.execMessage(tr("Error"), text, MessageDialog::Warning);
        m_closeGuard->closeWhenIdle();
        return;
    }
    messageDialog()->showMessage(tr("Error"), text, MessageDialog::Warning);
    // The adapter is still there: the user can try again or pick another file.
    recoverWhenIdle(error == DeviceError_WriteFailure || error == DeviceError_EraseFailure
        || error == DeviceError_EraseUnanswered);
}

void MainWindow::recoverWhenIdle(bool afterErase)
{
    disconnect(m_whenIdle);
    // Connected before the test, so that the end of the task cannot slip between them.
    m_whenIdle = connect(
        m_deviceFlash, &DeviceFlash::isBusyChanged, this,
        [this, afterErase](bool busy) {
            if (!busy && m_deviceFlash->isIdle()) {
                disconnect(m_whenIdle);
                recover(afterErase);
            }
        },
        Qt::QueuedConnection);
    if (m_deviceFlash->isIdle()) {
        disconnect(m_whenIdle);
        recover(afterErase);
    }
}

void MainWindow::recover(bool afterErase)
{
    // Unplugged meanwhile: the unconnected page says what to do.
    if (!m_deviceFlash->isConnected())
        return;
    // The engine read the firmware record back after the write: its version is the one shown.
    setStatus(Status::Version);
    refreshTexts();
    setOperationControlsEnabled(true);
    m_settingsDialog->setEnabled(true);
    if (afterErase && m_deviceFlash->firmwareRecordState() == 0)
        messageDialog()->showMessage(tr("Error"),
            tr(DeviceErrorText::of(DeviceError_FirmwareLost)->message), MessageDialog::Warning);
}

QString MainWindow::selectedVersion() const
{
    return ui->comboBox_Version->currentData().toString();
}

// The catalogue's versions as the list shows them: a label that names no version is shown
// (and refused when chosen), but nothing in it reorders or breaks the text around it.
void MainWindow::addCatalogueVersions()
{
    const QStringList versions = m_syncCloud->firmwareVersions();
    for (const QString &version : versions)
        ui->comboBox_Version->addItem(SafeText::shown(version), version);
}

void MainWindow::labelVersionList()
{
    QComboBox *list = ui->comboBox_Version;
    QStringList versions;
    for (int i = 0; i < list->count(); ++i)
        versions << list->itemData(i).toString();
    const int newest = FirmwareVersion::newest(versions);
    const QString installed = m_deviceFlash->isConnected() ? m_deviceFlash->version() : QString();
    for (int i = 0; i < versions.size(); ++i) {
        const bool isNewest = i == newest;
        const bool isInstalled = !installed.isEmpty() && versions.at(i) == installed;
        QString label = SafeText::shown(versions.at(i));
        if (isNewest && isInstalled)
            label = tr("%1 (newest, installed)").arg(label);
        else if (isNewest)
            label = tr("%1 (newest)").arg(label);
        else if (isInstalled)
            label = tr("%1 (installed)").arg(label);
        list->setItemData(i, label, MarkedRole);
        // Read out by screen readers for the entry, marks and all.
        list->setItemData(i, label, Qt::AccessibleTextRole);
    }
}

bool MainWindow::confirmOlderVersion(const QString &version)
{
    const QString installed = m_deviceFlash->version();
    UpdateJobs::Version parsed;
    // A label that is no version is refused later, by the image check.
    if (installed.isEmpty() || !UpdateJobs::parseVersionText(version, &parsed)
        || FirmwareVersion::compare(version, installed) >= 0)
        return true;
    MessageDialog dialog(this);
    const bool confirmed = dialog.confirmMessage(tr("Waring"),
        tr("The adapter runs firmware %1, which is newer than %2. Write the older firmware?")
            .arg(installed, version),
        tr("Cancel"));
    // The prompt ran its own event loop: the adapter may have gone, or a task started.
    return confirmed && m_deviceFlash->isConnected() && !isOperationRunning();
}

void MainWindow::onProgressChanged(qlonglong current, qlonglong total)
{
    if (qlonglong(ui->progressBar->maximum()) != total)
        ui->progressBar->setMaximum(int(total));
    if (current >= total) {
        ui->progressBar->hide();
        return;
    }
    ui->progressBar->setValue(int(current));
    if (ui->progressBar->isHidden())
        ui->progressBar->show();
}

// The local file of the selected catalogue entry, downloaded when not cached; "" when it
// failed, when another fetch is already running, or when the window was closed meanwhile.
QString MainWindow::fetchFirmwareFile()
{
    // Clicks queued during the download would otherwise start a second fetch and flash.
    if (isOperationRunning())
        return {};
    m_fetchingFirmware = true;
    const QString path = m_syncCloud->getFirmware(ui->comboBox_Version->currentIndex());
    m_fetchingFirmware = false;
    // Closed during the download: the process is ending, so no flash write may start.
    if (!isVisible())
        return {};
    return path;
}

void MainWindow::onPushButtonUpdateClicked()
{
    if (isOperationRunning())
        return;
    // The entry's version, taken before the download: the image must hold that version.
    const QString version = selectedVersion();
    if (!confirmOlderVersion(version))
        return;
    const QString path = fetchFirmwareFile();
    qCDebug(lcUi) << "firmware_file_path" << path << version;
    if (path.isEmpty())
        return;
    startOperationDisplay(ui->pushButton_Update);
    m_deviceFlash->updateFirmware(path, version);
}

void MainWindow::onPushButtonRestoreClicked()
{
    if (isOperationRunning())
        return;
    const QString path = fetchFirmwareFile();
    qCDebug(lcUi) << "firmware_file_path" << path;
    if (path.isEmpty())
        return;
    startOperationDisplay(ui->pushButton_Restore);
    m_deviceFlash->restoreFactorySettings(path, selectedVersion());
}

void MainWindow::onPushButtonVersionInfoClicked()
{
    QString text
        = SafeText::shown(m_syncCloud->firmwareInfoText(ui->comboBox_Version->currentIndex()));
    text.replace(QLatin1Char(';'), QLatin1Char('\n'));
    messageDialog()->showMessage(tr("Version Change LOG"), text);
}

void MainWindow::onComboBoxLanguagesChanged(int index)
{
    // A language chosen before the first paint finds its font registered too.
    EmbeddedFonts::registerAll();
    m_syncCloud->setCurrentLanguage(index);
    refreshTexts();
}

void MainWindow::onVersionChanged(QString version)
{
    Q_UNUSED(version)
    refreshTexts();
}

bool MainWindow::compareVersion(QString v1, QString v2)
{
    return ToolVersion::isOlder(v1, v2);
}

void MainWindow::refreshTexts()
{
    const int index = m_syncCloud->currentLanguage();
    // A catalogue that fails to load leaves the source texts showing; nothing more to do.
    (void)m_translator.install(index);
    const QString styled = m_baseStyleSheet + Languages::fontRule(QApplication::font().family());
    if (styleSheet() != styled)
        setStyleSheet(styled);

    disconnect(ui->comboBox_Languages, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &MainWindow::onComboBoxLanguagesChanged);
    ui->retranslateUi(this);
    deferNamesNeedingCjkFont(index);
    setAdapterInUse(m_adapterInUse);
    m_messageDialog->retranslateUi();
    m_settingsDialog->retranslateUi();
    ui->label_Title->setText(QStringLiteral("%1 v%2").arg(
        QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    ui->label_ProductConnected->setText(QString::fromLatin1(m_deviceFlash->serialNumber()));
    ui->label_CurrentVersion->setText(statusText());
    if (m_status == Status::Running)
        ui->progressBar->setToolTip(
            (m_restoreRunning ? ui->pushButton_Restore : ui->pushButton_Update)->text());
    labelVersionList();
    m_closeNotice->setText(
        tr("The firmware is being written. The window closes by itself when it is done."));
    m_unfinishedNotice->setText(tr("The last write did not finish: run the update again."));
    nameControls();
    ui->comboBox_Languages->setCurrentIndex(index);
    connect(ui->comboBox_Languages, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &MainWindow::onComboBoxLanguagesChanged);
}

// The language list's closed width is measured from every name when the window is first
// shown. The Chinese and Japanese names need a CJK font where the language shown has a Latin
// or Cyrillic one, and laying them out loads one as a fallback, megabytes of it. Before the
// first paint they stay blank: they are narrower than the Latin names, so the width is the
// same, and they get their texts straight after it (before anyone can open the list).
void MainWindow::deferNamesNeedingCjkFont(int shown)
{
    m_deferredNames.clear();
    if (m_started)
        return;
    for (int i = 0; i < ui->comboBox_Languages->count(); ++i) {
        const bool defer = Languages::nameNeedsCjkFont(i, shown);
        m_deferredNames.append(defer ? ui->comboBox_Languages->itemText(i) : QString());
        if (defer)
            ui->comboBox_Languages->setItemText(i, QString());
    }
}

// What a keyboard needs beyond the form: the network picture is no Tab stop (it only shows
// the state), Enter presses the focused button, the version list takes the focus when the
// adapter connects, and the language list's popup shows its current item like the version
// list's.
void MainWindow::setUpKeyboard()
{
    ui->toolButton_Network->setFocusPolicy(Qt::NoFocus);
    Accessibility::pressButtonsWithEnter(this);
    connect(ui->stackedWidget, &QStackedWidget::currentChanged, this, [this] {
        if (ui->stackedWidget->currentWidget() == ui->page_Connected)
            ui->comboBox_Version->setFocus(Qt::OtherFocusReason);
    });
    Accessibility::whenEnabledChanges(ui->toolButton_Network, [this] { nameControls(); });
    // On Linux a combo box is announced by its label, or else by its current item ("5.6.3"):
    // the version list gets its caption, the language list one that is never shown.
    ui->label_Version->setBuddy(ui->comboBox_Version);
    m_languageLabel = new QLabel(this);
    m_languageLabel->setObjectName(QStringLiteral("label_Language"));
    m_languageLabel->hide();
    m_languageLabel->setBuddy(ui->comboBox_Languages);
}

// Names for screen readers (and tool tips for the buttons that show only a picture), in the
// current language; controls with a text of their own are read by it.
void MainWindow::nameControls()
{
    using Accessibility::setNameAndToolTip;
    setNameAndToolTip(
        ui->toolButton_Network, ui->toolButton_Network->isEnabled() ? tr("Online") : tr("Offline"));
    setNameAndToolTip(ui->toolButton_Close, tr("Close"));
    setNameAndToolTip(ui->toolButton_VersionInfo, tr("Version Change LOG"));
    setNameAndToolTip(ui->toolButton_OpenFile, tr("Open Firmware"));
    ui->comboBox_Version->setAccessibleName(tr("New Firmware Version"));
    ui->comboBox_Languages->setAccessibleName(tr("Language"));
    m_languageLabel->setText(tr("Language"));
    ui->progressBar->setAccessibleName(tr("Progress"));
    ui->label_ProductConnected->setAccessibleName(
        tr("Serial number: %1").arg(ui->label_ProductConnected->text()));
}

void MainWindow::onSyncFinished()
{
    ui->toolButton_Network->setEnabled(m_syncCloud->isSynced());
    m_catalogueRetrying = false;
    if (!m_syncCloud->isSynced())
        m_catalogueRetry->start(catalogueRetryMs);
    if (ui->stackedWidget->currentWidget() == ui->page_Start)
        showPage(ui->page_Unconnected);
    connect(m_deviceFlash, &DeviceFlash::error, this, &MainWindow::onDeviceError,
        Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
}

void MainWindow::onSyncError(SyncCloud::SyncError error)
{
    qCWarning(lcUi) << "SyncCloud::error" << error;
    const bool unreachable = error == SyncCloud::SyncError_FirstRunError
        || error == SyncCloud::SyncError_LocalCacheUsed;
    // The user was told once; the window goes on asking by itself.
    if (m_catalogueRetrying && unreachable)
        return;
    const auto warn = [this](const QString &title, const QString &text) {
        messageDialog()->showMessage(title, text, MessageDialog::Warning);
    };
    switch (error) {
    case SyncCloud::SyncError_FirstRunError:
        // A warning as with a cached list: the window stays for a firmware file ("...") and
        // fetches the catalogue once the network is back.
        warn(tr("Waring"),
            tr("When you first install Corvane Firmware Tool must connect "
               "network, and restart Corvane Firmware Tool."));
        break;
    case SyncCloud::SyncError_LocalCacheUsed:
        warn(tr("Waring"), tr("Connect server error, will only use local cache firmware."));
        break;
    case SyncCloud::SyncError_InformationError:
        warn(tr("Waring"), tr("The information of server error, contact Corvane for help."));
        break;
    case SyncCloud::SyncError_DownloadFail:
        warn(tr("Waring"), tr("The firmware downloaded and checksum error."));
        break;
    case SyncCloud::SyncError_ChecksumError:
        break;
    case SyncCloud::SyncError_NetworkError:
        warn(tr("Waring"), tr("The network error, checking connect and retry."));
        break;
    }
    // A failed download gives back what its progress took away. Its progress signals came
    // before this one, so none of them can take it away again.
    if (error == SyncCloud::SyncError_NetworkError || error == SyncCloud::SyncError_DownloadFail) {
        ui->progressBar->hide();
        m_status = Status::Version;
        if (m_deviceFlash->isConnected() && !m_deviceFlash->isBusy())
            setOperationControlsEnabled(true);
    }
    if (ui->stackedWidget->currentWidget() == ui->page_Start)
        showPage(ui->page_Unconnected);
    refreshTexts();
}

void MainWindow::retryCatalogue()
{
    if (m_syncCloud->isSynced())
        return;
    // A new list under a download or a write would change what its index means.
    if (isOperationRunning()) {
        m_catalogueRetry->start(catalogueRetryMs);
        return;
    }
    qCInfo(lcUi) << "asking for the catalogue again";
    m_catalogueRetrying = true;
    m_syncCloud->getInformation();
}

void MainWindow::onFirmwareInfoChanged()
{
    // A retry that failed brings the cached list again: the user's choice stays.
    if (m_catalogueRetrying && !m_syncCloud->isSynced())
        return;
    const QJsonObject tool = m_syncCloud->flashToolInfo();
    const QString release = SafeText::shown(tool.value(QStringLiteral("version")).toString());
    if (compareVersion(QCoreApplication::applicationVersion(), release)) {
        MessageDialog dialog(this);
        const QString text = QStringLiteral("%1\n%2").arg(tr("The latest version update!"),
            SafeText::shown(tool.value(QStringLiteral("info")).toString()));
        const QString title = QStringLiteral("%1 V%2").arg(tr("Upgrade"), release);
        dialog.execMessage(title, text);
        // Only a web address goes to the desktop: a catalogue must not open local files or
        // start other scheme handlers, and one fetched over https sends nobody to http.
        const QUrl toolUrl(tool.value(QStringLiteral("windowsURL")).toString(), QUrl::TolerantMode);
        if (m_syncCloud->isUsableAddress(toolUrl))
            QDesktopServices::openUrl(toolUrl);
        else
            qCWarning(lcUi) << "tool update address refused" << toolUrl;
        m_closeGuard->closeWhenIdle();
    }
    ui->comboBox_Version->clear();
    addCatalogueVersions();
    labelVersionList();
}

void MainWindow::setAdapterInUse(bool inUse)
{
    m_adapterInUse = inUse;
    ui->label->setText(inUse ? tr("Another program is using the Corvane X9. The tool connects to "
                                  "it by itself when that program lets it go.")
                             : tr("connect Corvane X9 to PC."));
}

void MainWindow::onDeviceConnectStatusChanged(bool connected)
{
    LogFile::setAdapterSerial(
        connected ? QString::fromLatin1(m_deviceFlash->serialNumber()) : QString());
    setAdapterInUse(false);
    m_status = Status::Version;
    if (connected) {
        ui->progressBar->setValue(0);
        ui->progressBar->hide();
        m_settingsDialog->setProgress(0, 0);
        setOperationControlsEnabled(true);
        showPage(ui->page_Connected);
        showUnfinished();
        return;
    }
    m_unfinishedNotice->hide();
    m_messageDialog->close();
    m_settingsDialog->close();
    ui->toolButton_Settings->setEnabled(false);
    showPage(ui->page_Unconnected);
}

void MainWindow::onDownloadProgress(qlonglong current, qlonglong total)
{
    if (current != total) {
        setStatus(Status::Downloading);
        ui->comboBox_Version->setEnabled(false);
        ui->pushButton_Update->setEnabled(false);
        ui->pushButton_Restore->setEnabled(false);
        ui->toolButton_OpenFile->setEnabled(false);
    }
    onProgressChanged(current, total);
}

// Progress drives the bar only: the last byte written is not yet a result (the engine reads
// the written version back first).
void MainWindow::onWrite2FlashProgress(qlonglong current, qlonglong total)
{
    onProgressChanged(current, total);
    if (current != total)
        setOperationControlsEnabled(false);
}

void MainWindow::onOperationFinished(const OperationResult &result)
{
    const bool flash = result.operation == QLatin1String("update")
        || result.operation == QLatin1String("restore-defaults");
    if (flash && result.succeeded()) {
        ui->progressBar->hide();
        const QString text
            = m_restoreRunning ? tr("Restored successfully!") : tr("Update successfully!");
        messageDialog()->showMessage(tr("Corvane Firmware Tool"), text);
        m_status = Status::Version;
        refreshTexts();
        setOperationControlsEnabled(true);
    } else if (flash && result.outcome == OperationResult::Failed && result.error < 0) {
        // A failure without an error of its own (another version read back) is one all the same.
        ui->progressBar->hide();
        messageDialog()->showMessage(tr("Error"),
            tr(DeviceErrorText::of(DeviceError_WriteFailure)->message), MessageDialog::Warning);
        recoverWhenIdle(true);
    }
    // An error told the failure; the history now says where the adapter stands.
    showUnfinished();
}

void MainWindow::showUnfinished()
{
    const OperationHistory::Standing standing = OperationHistory::standingIn(
        m_deviceFlash->dataDirectory(), QString::fromLatin1(m_deviceFlash->serialNumber()));
    const bool unfinished = standing.unfinished && m_deviceFlash->isConnected();
    m_unfinishedNotice->setVisible(unfinished);
    if (!unfinished || isOperationRunning())
        return;
    // The update is offered with the version whose write did not finish, when listed.
    const int listed = ui->comboBox_Version->findData(
        standing.failedOperation.value(QStringLiteral("toVersion")).toString());
    if (listed >= 0)
        ui->comboBox_Version->setCurrentIndex(listed);
}

// The configuration is saved before an update or factory restore: its own phase on the bar.
void MainWindow::onAutoBackupProgress(qlonglong current, qlonglong total)
{
    setStatus(Status::SavingConfiguration);
    onProgressChanged(current, total);
}

void MainWindow::onOpenFileClicked()
{
    if (isOperationRunning())
        return;
    const QString path
        = FileChooser::choose(this, tr("Open Firmware"), tr("Firmware Files (*.bin *.rfw)"), false);
    if (!path.isEmpty())
        openFirmwareFile(path);
}

// Writes a firmware file chosen with "Open Firmware" or dropped onto the window.
void MainWindow::openFirmwareFile(const QString &path)
{
    // The file dialog runs its own event loop: an operation may have started behind it.
    if (isOperationRunning())
        return;
    // A file the engine refuses is reported by it; an older one is written only when confirmed.
    const FirmwareFileCheck check = checkFirmwareFile(path);
    if (check.accepted() && !confirmOlderVersion(check.image.versionText()))
        return;
    m_strFirmwareFilePath = path;
    startOperationDisplay(ui->pushButton_Update);
    m_deviceFlash->updateFirmware(m_strFirmwareFilePath);
}

void MainWindow::onSettingChanged()
{
    m_settingsDialog->setBootMode(m_deviceFlash->bootMode(), m_deviceFlash->isSupportBootMode());
    m_settingsDialog->setDataRestoreVisible(m_deviceFlash->isSupportDataStore());
}

void MainWindow::onSettingProgress(qlonglong current, qlonglong total)
{
    m_settingsDialog->setProgress(current, total);
    if (current == total)
        messageDialog()->showMessage(tr("Corvane Firmware Tool"), tr("successfully!"));
    m_settingsDialog->setEnabled(current == total);
}

void MainWindow::onDataBackupProgress(qlonglong current, qlonglong total, char *backupData)
{
    m_settingsDialog->setProgress(current, total);
    if (current == total && backupData && total > 0
        && total + BackupFile::DigestLength <= DeviceFlash::BackupBufferSize) {
        const QString path
            = FileChooser::choose(this, tr("save backup"), tr("backup Files (*.bkp)"), true);
        if (!path.isEmpty()) {
            QString reason;
            if (BackupFile::write(
                    path, backupData, total, m_deviceFlash->serialNumber(), &reason)) {
                m_settingsDialog->hide();
                messageDialog()->showMessage(tr("Corvane Firmware Tool"), tr("successfully!"));
            } else {
                qCWarning(lcUi) << "backup file not written" << path << reason;
            }
        }
    }
    m_settingsDialog->setEnabled(current == total);
}

void MainWindow::onDataStoreProgress(qlonglong current, qlonglong total)
{
    m_settingsDialog->setProgress(current, total);
    if (current == total) {
        m_settingsDialog->hide();
        messageDialog()->showMessage(tr("Corvane Firmware Tool"), tr("successfully!"));
    }
    m_settingsDialog->setEnabled(current == total);
}

void MainWindow::onDataRestoreRequested()
{
    if (isOperationRunning())
        return;
    const QString path
        = FileChooser::choose(this, tr("restore"), tr("backup Files (*.bkp)"), false);
    if (path.isEmpty() || isOperationRunning())
        return;
    const BackupAdmission admission = backupAdmission(path, m_deviceFlash->serialNumber(),
        m_deviceFlash->version(), m_deviceFlash->firmwareRecord().firmwareSectors());
    switch (admission.verdict) {
    case BackupAdmission::Admitted:
        m_deviceFlash->dataRestore(admission.file.data, admission.file.version);
        return;
    case BackupAdmission::UnknownVersion:
    case BackupAdmission::NoConfigurationStore:
        qCWarning(lcUi) << "dataRestore refused: the firmware keeps no configuration store"
                        << m_deviceFlash->version();
        return;
    case BackupAdmission::Unreadable:
        return;
    case BackupAdmission::UnnamedFirmware:
    case BackupAdmission::DoesNotFit:
        // Reported like a damaged file rather than refused silently by the engine.
        qCWarning(lcUi).noquote() << "dataRestore refused:" << admission.reason;
        Q_FALLTHROUGH();
    case BackupAdmission::Corrupted:
        qCWarning(lcUi) << "Corrupted file/Unauthorized !";
        m_settingsDialog->reject();
        messageDialog()->showMessage(tr("Corvane Firmware Tool"),
            tr("Corrupted file/Unauthorized !"), MessageDialog::Warning);
        return;
    case BackupAdmission::UpdateRequired:
        messageDialog()->showMessage(tr("Corvane Firmware Tool"),
            tr("Firmware Update Required( >= %1) !").arg(admission.file.version),
            MessageDialog::Warning);
        return;
    }
}
