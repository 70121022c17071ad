// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class DeviceFlash;
class QAbstractButton;
class QCloseEvent;
class QLabel;
class QTimer;
class QWidget;

// Ending the process in the middle of a flash write would leave the adapter half written, so
// every close of the window waits for the engine (a double click on the close button, Alt+F4
// twice), and a notice says why the window stays; a logout is cancelled where the session
// manager allows it. Only an adapter that stopped answering may not keep the window open for
// ever: it gives the close button back, and a close then ends the job.
class CloseGuard : public QObject
{
public:
    // A child of window; takes the clicks of its close button.
    CloseGuard(QWidget *window, DeviceFlash *device, QAbstractButton *closeButton, QLabel *notice);

    // Closes the window now if the engine is idle (no task running or queued) or the adapter
    // has stopped answering, otherwise as soon as the engine is idle.
    void closeWhenIdle();
    // For the window's closeEvent: false, with the event ignored, when the close must wait.
    bool admit(QCloseEvent *event);

private:
    void deferClose();

    QWidget *m_window;
    DeviceFlash *m_device;
    QAbstractButton *m_closeButton;
    QLabel *m_notice;
    // Polls for the engine to become idle while a close waits; null otherwise.
    QTimer *m_timer = nullptr;
};
