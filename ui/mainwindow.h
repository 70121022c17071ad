// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "deviceflash.h"
#include "framelesswidget.h"
#include "syncloud.h"

#include <QString>

#include <functional>

class MessageDialog;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QPaintEvent;
class QPushButton;
class QTimer;
class QTranslator;
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

    // Replaces the modal file dialogs (tests). Receives the caption and the filter, and
    // whether a file is to be saved; returns the chosen path or "" for a cancel.
    using FileDialogHook =
        std::function<QString(const QString &caption, const QString &filter, bool save)>;
    static void setFileDialogHook(FileDialogHook hook);

protected:
    // A close while a device operation runs waits for it, however often it is asked for,
    // unless the adapter has stopped answering.
    void closeEvent(QCloseEvent *event) override;
    // One local .rfw file dropped onto the connected page is written like "Open Firmware".
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
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
    void refreshTexts();
    void setUpKeyboard();
    void nameControls();
    void setOperationControlsEnabled(bool enabled);
    void startOperationDisplay(QPushButton *button);
    void closeWhenIdle();
    void deferClose();
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
    void onOpenFileClicked();
    void openFirmwareFile(const QString &path);
    QString droppedFirmwareFile(const QDropEvent *event) const;
    void onSettingChanged();
    void onSettingProgress(qlonglong current, qlonglong total);
    void onDataBackupProgress(qlonglong current, qlonglong total, char *backupData);
    void onDataStoreProgress(qlonglong current, qlonglong total);
    void onAutoBackupProgress(qlonglong current, qlonglong total);
    void onDataRestoreRequested();
    QString chooseFile(const QString &caption, const QString &filter, bool save);
    QString fetchFirmwareFile();

    MessageDialog *m_messageDialog = nullptr;
    SettingsDialog *m_settingsDialog = nullptr;
    DeviceFlash *m_deviceFlash = nullptr;
    SyncCloud *m_syncCloud = nullptr;
    QTranslator *m_translator = nullptr;
    QTranslator *m_qtTranslator = nullptr;
    Ui::MainWindow *ui = nullptr;
    QString m_strFirmwareFilePath;
    // The style sheet as read from the resources, before the language's font rule.
    QString m_baseStyleSheet;
    // A catalogue image is being fetched (getFirmware runs a nested event loop).
    bool m_fetchingFirmware = false;
    // The running flash operation is a factory restore (kept apart from the translatable
    // tool tip, so that a language change during the write does not change the result text).
    bool m_restoreRunning = false;
    // Polls for the engine to become idle while a close waits for it; null otherwise.
    QTimer *m_closeTimer = nullptr;
    // Tells why the window stays, while a close waits.
    QLabel *m_closeNotice = nullptr;
    // Another program holds the adapter; the window connects once it lets go.
    bool m_adapterInUse = false;
    // The catalogue request and the adapter's open wait for the first paint.
    bool m_openAdapter = false;
    bool m_started = false;
};
