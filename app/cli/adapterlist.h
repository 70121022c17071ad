// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// An attached adapter as the system lists it; nothing is sent to it.
struct AttachedAdapter
{
    QByteArray path;
    QString usbSerial; // the USB serial number string, empty when it has none
};
QList<AttachedAdapter> attachedAdapters();

// What a look at one adapter found. An adapter that another program holds is not read.
struct AdapterProbe
{
    QByteArray path;
    QString serial; // read from the adapter; else its USB serial number string, or empty
    QString version; // empty when not read or when its firmware record is lost
    bool read = false; // its serial number and version were read
    qint64 inUseBy = -1; // the process id of the program that holds it (0 unknown), else -1
    QString error; // why it could not be read, or why its version is missing
    // By the history, its last write did not finish (see OperationHistory::Standing).
    bool unfinished = false;
    int exitCode = CliExit_Ok; // what a command on this adapter alone would exit with

    // {path, serial, version, inUseBy, error, unfinished}, null where unknown.
    QJsonObject json() const;
};

// What info and list say of an adapter whose last write did not finish.
QString unfinishedText();

// Opens the adapter (unless another program holds it), reads its serial number and
// version, and lets it go again.
AdapterProbe probeAdapter(const AttachedAdapter &adapter, const CliContext &ctx);

// The adapter a command that works on one adapter takes: --adapter's, or the only one
// attached (*path stays empty when none is, and the open says why). Refuses with
// CliExit_Usage when several are attached and --adapter is missing or names a serial number
// that several adapters share (the message names their paths), and with CliExit_NoAdapter
// when --adapter names none of them; sends nothing to an adapter then.
int chooseAdapter(const CliContext &ctx, QByteArray *path);

// The firmware version of the adapter that a command on one adapter would take, read without
// a word on standard error; "" when there is none, another program holds it or it cannot be
// read.
QString installedVersion(const CliContext &ctx);

// `info` with several adapters attached and no --adapter: every adapter's information.
int printEveryAdapter(const CliContext &ctx);

QString severalAdaptersText();
