// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What the emulator asks of the system: memory for the emulated flash and the files an
// adapter is kept in.
namespace EmulatorSystem {

// Memory that reads as zeros and costs nothing until written (an adapter holds mostly erased
// flash). Null when the system gives none.
void *allocatePages(quint32 size);
void releasePages(void *pages, quint32 size);
// Gives whole pages back, so that they read as zeros again; false where that fails (the
// caller then clears them itself).
bool clearPages(void *pages, quint32 length);

// The state file opened for writes at given offsets, without following a link; -1 when it
// cannot be opened.
int openForWriting(const QString &path);
// Writes length bytes at offset; the bytes written, or -1.
qint64 writeAt(int fd, const void *data, quint32 length, qint64 offset);
void close(int fd);

// One version of a file: a save renames a new file into place, which changes it. Empty when
// the file cannot be looked at.
QByteArray fileSignature(const QString &path);
// Makes the empty file that stands for the adapter's device node (the lock that programs
// meet), only this user's; false when it cannot be made.
bool makeNodeFile(const QByteArray &path);

} // namespace EmulatorSystem
