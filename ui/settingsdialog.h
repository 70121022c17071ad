// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class SettingsDialog;
}

// Boot-mode choice and configuration backup/restore requests. The dialog only collects the
// user's requests and shows progress; the main window runs the operations.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Selects the adapter's mode without announcing it; hides the choice when unsupported.
    void setBootMode(int mode, bool supported);
    void setDataRestoreVisible(bool visible);
    void setProgress(qlonglong current, qlonglong total);
    // Sets every text again; keeps the selected boot mode and announces nothing.
    void retranslateUi();

signals:
    void closed();
    void dataBackup();
    void dataRestore();
    void bootModeChanged(int mode);

private:
    void onBootModeIndexChanged(int index);
    // Screen-reader names (and the close button's tool tip) in the current language.
    void nameControls();

    const std::unique_ptr<Ui::SettingsDialog> ui;
    int m_bootMode = -1;
};
