// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"
#include "filechooser.h"
#include "framelesswidget.h"
#include "heldwidgets.h"
#include "languages.h"
#include "syncloud.h"

#include <QString>

#include <memory>

class CloseGuard;
class MessageDialog;
class QCloseEvent;
class QLabel;
class QPaintEvent;
class QPushButton;
class QTimer;
class SettingsDialog;

namespace Ui {
class MainWindow;
}

// The application's window and the controller that ties the device engine and the cloud
// catalogue to the widgets: it starts operations and reacts to their signals by switching
// pages, enabling controls, driving the progress bar and showing messages.
class MainWindow : public FramelessWidget
{
    Q_OBJECT

public:
    // Without the adapter (a second start of the tool, which only hands a notice to the
    // running one) the window never opens or reads the adapter.
    enum AdapterUse { OpenAdapter, LeaveAdapter };
    // The form's fixed height, in the window's own (unscaled) pixels.
    static constexpr int FixedHeight = 708;
    explicit MainWindow(QWidget *parent = nullptr, AdapterUse adapter = OpenAdapter);
    ~MainWindow() override;

    // Raises and activates the window, then shows the message without blocking.
    void showMessage(const QString &title, const QString &text);

    // Replaces the modal file dialogs (tests).
    using FileDialogHook = FileChooser::Hook;
    static void setFileDialogHook(FileDialogHook hook) { FileChooser::setHook(std::move(hook)); }
    // While the catalogue cannot be reached, it is asked again this often (a minute; tests).
    static void setCatalogueRetryInterval(int ms);

protected:
    // A close while a device operation runs waits for it, however often it is asked for,
    // unless the adapter has stopped answering.
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void onDeviceError(DeviceError error);
    void onProgressChanged(qlonglong current, qlonglong total);
    void onPushButtonUpdateClicked();
    void onPushButtonRestoreClicked();
    void onPushButtonVersionInfoClicked();
    void onComboBoxLanguagesChanged(int index);
    void onVersionChanged(QString version);
    bool compareVersion(QString v1, QString v2);

private:
    void connectSignals();
    void startAfterFirstPaint();
    // Shows a page of the stack, putting it back first if it is held.
    void showPage(QWidget *page);
    // The dialogs, put back into the window first if they are held: for whatever shows them.
    MessageDialog *messageDialog();
    SettingsDialog *settingsDialog();
    void refreshTexts();
    void deferNamesNeedingCjkFont(int shown);
    void setUpKeyboard();
    void nameControls();
    void setOperationControlsEnabled(bool enabled);
    void startOperationDisplay(QPushButton *button);
    // What label_CurrentVersion says: the adapter's version, or the step an operation is at.
    enum class Status { Version, Downloading, SavingConfiguration, Running };
    void setStatus(Status status);
    QString statusText() const;
    // After a refusal or failure that leaves the adapter attached: once the engine is idle,
    // the adapter's state as last read and the controls come back; after a write that left
    // the firmware record without its signatures, with the "Firmware lost" message.
    void recoverWhenIdle(bool afterErase);
    void recover(bool afterErase);
    // The catalogue version of the list's current entry (its label may carry marks).
    QString selectedVersion() const;
    // Labels the list's entries with their marks: the newest, the one the adapter runs.
    void addCatalogueVersions();
    void labelVersionList();
    // False when the user declines to write version over the newer firmware on the adapter.
    bool confirmOlderVersion(const QString &version);
    void retryCatalogue();
    // True while a firmware download or a device task (running or queued) is under way: no
    // control may then start a second operation behind it.
    bool isOperationRunning() const;
    void onSyncFinished();
    void onSyncError(SyncCloud::SyncError error);
    void onFirmwareInfoChanged();
    void onDeviceConnectStatusChanged(bool connected);
    // The unconnected page's text: attach the adapter, or another program is using it.
    void setAdapterInUse(bool inUse);
    void onDownloadProgress(qlonglong current, qlonglong total);
    void onWrite2FlashProgress(qlonglong current, qlonglong total);
    // The one result of an update or factory restore, as the engine decided it.
    void onOperationFinished(const OperationResult &result);
    // Shows whether the adapter's last write finished, by the history, and offers the update
    // when it did not.
    void showUnfinished();
    void onOpenFileClicked();
    void openFirmwareFile(const QString &path);
    void onSettingChanged();
    void onSettingProgress(qlonglong current, qlonglong total);
    void onDataBackupProgress(qlonglong current, qlonglong total, char *backupData);
    void onDataStoreProgress(qlonglong current, qlonglong total);
    void onAutoBackupProgress(qlonglong current, qlonglong total);
    void onDataRestoreRequested();
    QString fetchFirmwareFile();

    MessageDialog *m_messageDialog = nullptr;
    SettingsDialog *m_settingsDialog = nullptr;
    DeviceFlash *m_deviceFlash = nullptr;
    SyncCloud *m_syncCloud = nullptr;
    // The chosen language's catalogues, the tool's and the toolkit's.
    LanguageTranslators m_translator;
    const std::unique_ptr<Ui::MainWindow> ui;
    QString m_strFirmwareFilePath;
    // The style sheet as read from the resources, before the language's font rule.
    QString m_baseStyleSheet;
    // A catalogue image is being fetched (getFirmware runs a nested event loop).
    bool m_fetchingFirmware = false;
    // The running flash operation is a factory restore (kept apart from the translatable
    // tool tip, so that a language change during the write does not change the result text).
    bool m_restoreRunning = false;
    Status m_status = Status::Version;
    // Waits for the engine to be idle before the controls come back after a failure.
    QMetaObject::Connection m_whenIdle;
    // Asks for the catalogue again while it cannot be reached; a retry that fails is silent.
    QTimer *m_catalogueRetry = nullptr;
    bool m_catalogueRetrying = false;
    CloseGuard *m_closeGuard = nullptr;
    // Tells why the window stays, while a close waits.
    QLabel *m_closeNotice = nullptr;
    // Tells that the adapter's last write did not finish.
    QLabel *m_unfinishedNotice = nullptr;
    // Names the language list for screen readers; never shown.
    QLabel *m_languageLabel = nullptr;
    // Another program holds the adapter; the window connects once it lets go.
    bool m_adapterInUse = false;
    // The catalogue request and the adapter's open wait for the first paint.
    bool m_openAdapter = false;
    bool m_started = false;
    // Language names left blank until the first paint (empty where none is).
    QStringList m_deferredNames;
    // The pages after the start page and the dialogs, out of the window until first shown.
    HeldWidgets m_heldUntilShown { this };
};
