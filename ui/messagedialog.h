// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QPair>
#include <QString>
#include <QVector>

#include <memory>

class QTimer;

namespace Ui {
class MessageDialog;
}

// The tool's message box: a frameless dialog with a title, a read-only text and an OK
// button. showMessage() never blocks; execMessage() returns once the dialog is dismissed.
class MessageDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MessageDialog(QWidget *parent = nullptr);
    ~MessageDialog() override;

    // Shows the message now if the dialog is hidden; otherwise it replaces any pending
    // message and appears at the next tick of the 3000 ms timer.
    void showMessage(const QString &title, const QString &text);
    // Shows the message and runs a local event loop until a button (or Escape) dismisses it.
    void execMessage(const QString &title, const QString &text);
    // Shows the newest pending message, if any, and restarts the timer.
    void showNextMessage();
    void retranslateUi();

signals:
    void closed();
    void okButtonClicked();
    void restoreDefaultsButtonClicked();
    void updateFirmwareButtonClicked();

private:
    void showOkButtonOnly();
    void setMessage(const QString &title, const QString &text);
    void onOkClicked();
    void onRestoreClicked();
    void onUpdateClicked();
    void onCloseClicked();

    const std::unique_ptr<Ui::MessageDialog> ui;
    QTimer *m_timer = nullptr;
    QEventLoop m_loop;
    // Pending messages as (title, text); kept apart so that no character of either is lost.
    QVector<QPair<QString, QString>> m_messageQueue;
};
