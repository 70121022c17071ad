// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

// The tool's files hold serial numbers, configurations and image paths, and its runtime
// objects decide which program may start: other users of the machine get no access to
// any of them, whatever the umask. Directories the tool makes are 0700, files it writes
// 0600; those left wider by earlier versions are tightened when they are next written.
// On Windows they live in the user's profile, whose folders only the user (and the
// system and administrators) may open; the modes below then have nothing to do.
namespace PrivateFiles {

// Creates path with its missing parents, each 0700. An existing directory loses group
// and other access. False (with the reason) when path is not a directory of this user.
bool makeDirectory(const QString &path, QString *errorString = nullptr);

// Opens path with ::open() flags, creating it 0600, and brings an existing file of this
// user to 0600. Returns the descriptor (close-on-exec, and binary on Windows) or -1 with
// errno set.
int open(const QString &path, int flags);
// Closes a descriptor that open() gave.
void close(int fd);
// The open file's size in bytes, or -1.
qint64 size(int fd);
// Reads length bytes at offset without moving the file position; false unless all came.
bool readAt(int fd, qint64 offset, char *data, int length);
// Writes the file's data through to the disk; false (errno set) when it cannot.
bool sync(int fd);
// Whether the open file is the one now at path (not one that was renamed away).
bool isFileAt(int fd, const QString &path);

// Where the user's programs keep state that outlives a run but is nobody's document (logs):
// $XDG_STATE_HOME (~/.local/state when that is not set or not absolute); on Windows the
// user's local application data (%LOCALAPPDATA%).
QString stateDirectory();
// Brings an open file, or the file at path, to 0600 when it belongs to this user.
// Writes all of bytes to fd, resuming after interrupted and partial writes.
bool writeAll(int fd, const QByteArray &bytes);
bool restrict(int fd);
bool restrict(QFileDevice &file);
bool restrict(const QString &path);

// Where the tool's runtime objects live: "corvane-x9" in $XDG_RUNTIME_DIR when that
// directory is this user's and 0700, otherwise in the user's cache directory. Empty when
// neither can be made private.
QString runtimeDirectory();

// The path that writing at path ends up at, with every symbolic link followed. Refuses
// (empty result and the reason, naming the link) a link that neither this user nor root
// made, wherever it sits: another user who can write to its directory, or who owns it,
// could have planted it to turn the write onto another of the user's files.
QString resolveForWriting(const QString &path, QString *errorString);

// Replaces the file at path (links resolved as above) with bytes, 0600: a temporary file
// beside it is written, synced and renamed over it, so path holds either its old content
// or all of bytes. With replace false, a file already at path (one that another writer
// just took) stays, and the write fails.
bool writeAtomically(
    const QString &path, const QByteArray &bytes, QString *errorString, bool replace = true);

} // namespace PrivateFiles
