// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The log a user can send with a bug report: every line a program logs, appended to its own
// file in the user's state directory ($XDG_STATE_HOME/corvane-x9/, 0600) with an ISO time
// stamp (UTC), the program and its version and the serial number of the adapter it works on.
// A file is rotated when it reaches 1 MiB: the program's log and its two older files are kept.
namespace LogFile {

constexpr qint64 MaxSize = 1024 * 1024;
constexpr int Kept = 3; // files per program, the current one included

// "corvane-x9" in the user's state directory: $XDG_STATE_HOME (~/.local/state when that is
// not set), on Windows %LOCALAPPDATA%.
QString directory();
// The current log file of program ("corvane-cli", "corvane-firmware-tool").
QString filePath(const QString &program);

// From now on every message of this process is also appended to program's log file, then
// handed to next (the message handler that shows it, or Qt's default when null). The
// directory and file are made private; a log that cannot be written is given up quietly.
void install(const QString &program, QtMessageHandler next = nullptr);
// The adapter that the lines from now on concern ("" none).
void setAdapterSerial(const QString &serial);

// "category level: message" on one line (line feeds become blanks).
QString messageText(const char *category, QtMsgType type, const QString &message);
// One line as written to the file, without its line feed.
QString formatLine(const QString &time, const QString &program, const QString &serial,
    const char *category, QtMsgType type, const QString &message);

// The last count lines of every program's log files, oldest first (in time-stamp order).
QStringList lastLines(int count);

} // namespace LogFile
