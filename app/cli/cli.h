// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

// Exit codes shared by every command.
enum CliExit {
    CliExit_Ok = 0,
    CliExit_Failed = 1,
    CliExit_Usage = 2,
    CliExit_NoAdapter = 3,
    CliExit_InUse = 4, // another program holds the adapter; nothing was sent to it
};

// What a command gets: its own arguments (global options removed) and the output streams.
struct CliContext
{
    QStringList args;
    bool json = false;
    QTextStream &out;
    QTextStream &err;
    // Longest wait for one answer from the adapter (--timeout); 0 waits for ever.
    int answerTimeoutMs = 30000;
    // The adapter to work on (--adapter): a serial number or a device path; empty for the
    // only one attached.
    QString adapter = QString();
    // out and err are the process's standard streams; false where they are another
    // command's (one adapter's lines of a command on several), which draws no bars.
    bool standardStreams = true;
    // The arguments that run this command again on this adapter, for advice; empty: the
    // ones the program was started with.
    QStringList commandLine = QStringList();

    // One clear line on standard error; returns code.
    int fail(int code, const QString &message) const;
    // "corvane-cli: message" on standard error, made safe for a terminal.
    void warn(const QString &message) const;
    // Prints "key: value" lines, or one JSON object with --json.
    void printRecord(const QJsonObject &record, const QStringList &order) const;
    // True when standard output is a terminal (progress bars instead of plain lines).
    bool interactive() const;
    // True when standard error is a terminal (the download's percentage is drawn there).
    bool errorIsTerminal() const;
};

// text with every control character replaced by '?', so that text from the network cannot
// move the cursor, recolour or retitle the terminal it is printed on.
QString terminalText(QString text);

struct CliCommand
{
    QString name;
    QString synopsis; // one line for the command list
    QString help;     // full help text of the command
    std::function<int(CliContext &)> run;
};

// Commands register themselves from their own source file:
//   static const CliRegistrar reg({QStringLiteral("info"), ..., &runInfo});
struct CliRegistrar
{
    explicit CliRegistrar(const CliCommand &command);
};

const QList<CliCommand> &cliCommands();
