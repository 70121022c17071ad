// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QEventLoop>
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
    // A notice (green title and OK) or a warning (an error or a problem: amber title, blue
    // OK), so that a failure never looks like a success.
    enum Look { Notice, Warning };

    explicit MessageDialog(QWidget *parent = nullptr);
    ~MessageDialog() override;

    // Shows the message now if the dialog is hidden; otherwise it replaces any pending
    // message and appears at the next tick of the 3000 ms timer.
    void showMessage(const QString &title, const QString &text, Look look = Notice);
    // Shows the message and runs a local event loop until a button (or Escape) dismisses it.
    void execMessage(const QString &title, const QString &text, Look look = Notice);
    // Asks a question with the update button (yes) and the OK button named no, which has the
    // focus: Enter, Escape and the close button answer no. Blocks like execMessage(); true
    // only for yes.
    bool confirmMessage(const QString &title, const QString &text, const QString &no);
    // Shows the newest pending message, if any, and restarts the timer.
    void showNextMessage();
    void retranslateUi();

signals:
    void closed();
    void okButtonClicked();
    void restoreDefaultsButtonClicked();
    void updateFirmwareButtonClicked();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void showOkButtonOnly();
    void setMessage(const QString &title, const QString &text, Look look);
    void onOkClicked();
    void onRestoreClicked();
    void onUpdateClicked();
    void onCloseClicked();

    const std::unique_ptr<Ui::MessageDialog> ui;
    QTimer *m_timer = nullptr;
    QEventLoop m_loop;
    struct Message
    {
        QString title;
        QString text;
        Look look;
    };
    // Pending messages; title and text kept apart so that no character of either is lost.
    QVector<Message> m_messageQueue;
    bool m_confirmed = false;
};
