// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QString;
class QWidget;

// Where the system shows why a program keeps it from logging out or shutting down (Windows'
// shutdown screen), the window states its reason while a write keeps it open. Nothing on
// Linux, where the cancelled logout is logged.
namespace ShutdownReason {

void show(QWidget *window, const QString &reason);
void clear(QWidget *window);

} // namespace ShutdownReason
