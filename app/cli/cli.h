// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

class QJsonDocument;

// Exit codes shared by every command.
enum CliExit {
    CliExit_Ok = 0,
    CliExit_Failed = 1,
    CliExit_Usage = 2,
    CliExit_NoAdapter = 3,
    CliExit_InUse = 4, // another program holds the adapter; nothing was sent to it
};

// What a command gets: its own arguments and options (global options removed; an option
// given as "--name=VALUE" arrives as "--name", "VALUE") and the output streams.
struct CliContext
{
    CliContext(QTextStream &out, QTextStream &err);

    QStringList args;
    bool json = false;
    bool quiet = false; // --quiet: errors and the result only
    bool progressJson = false; // --progress json: progress as JSON lines on standard error
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

    // One clear line on standard error; returns code. The first failure's message is the
    // "error" of the JSON object that a failed command prints with --json.
    int fail(int code, const QString &message) const;
    // "corvane-cli: message" on standard error, made safe for a terminal.
    void warn(const QString &message) const;
    // A warning that is no failure (a fallback taken, say); not with --quiet.
    void note(const QString &message) const;
    // Prints "key: value" lines; with --json the keys join the one object that the program
    // prints when the command ends.
    void printRecord(const QJsonObject &record, const QStringList &order) const;
    // What the command knows so far (a backup's path, the bytes written), for the object
    // that --json prints when it fails.
    void addFields(const QJsonObject &fields) const;
    // Notes, and progress unless it goes as JSON lines, are text on standard error: neither
    // --json nor --quiet.
    bool showsProgress() const { return !json && !quiet; }
    // True when progress goes to a terminal (standard error): bars instead of plain lines.
    bool interactive() const;
    // True when standard error is a terminal (the download's percentage is drawn there).
    bool errorIsTerminal() const;
    // With --progress json (and not --quiet): one JSON object per line on standard error,
    // {"progress": phase, "current", "total", "percent"} and the adapter's serial number when
    // given, each time the phase or the percentage of that adapter changes.
    void progressLine(const QString &phase, qlonglong current, qlonglong total,
        const QString &adapter = QString()) const;

    // With --json, prints the command's one object: its result, or with a code other than 0
    // its known fields with "error" and "exitCode". Returns code.
    int finish(int code, const QString &fallbackError) const;

private:
    mutable QJsonObject m_record;
    mutable QString m_error;
    // The phase and percentage last printed, by adapter.
    mutable QHash<QString, QPair<QString, int>> m_progressShown;
};

// text with every character that a terminal acts on or that reorders or breaks the line
// replaced by '?' (SafeText::shown), so that text from the network cannot move the cursor,
// recolour or retitle the terminal it is printed on, or read as something else.
QString terminalText(QString text);
// The one-line JSON text of a document for standard output (SafeText::json).
QByteArray jsonLine(const QJsonDocument &document);

// An option of one command, as its help lists it.
struct CliOption
{
    QString name; // "--version"
    QString valueName; // "VERSION"; empty for an option without a value
    QString help;
};

// A code a command exits with, and what it means for that command.
struct CliExitCode
{
    int code;
    QString meaning;
};

// Which of the shared exit codes a command can return besides its own 0 and 1.
enum CliExitSet {
    CliExitSet_Usage = 0, // 2: every command
    CliExitSet_Adapter = 1, // 3 and 4: the command opens the adapter
    CliExitSet_Interrupt = 2, // 130, 143 and 129: the command writes the adapter
};

// The command's exit-code table: its own codes, then the shared ones of its sets.
QList<CliExitCode> cliExitCodes(const QList<CliExitCode> &own, int sets = CliExitSet_Usage);

struct CliCommand
{
    QString name;
    QString synopsis; // one line for the command list
    QString help; // usage and description; wrapped at 80 columns when shown
    std::function<int(CliContext &)> run;
    QList<CliOption> options; // its own options (the global ones apply as well)
    QList<CliExitCode> exitCodes; // everything it exits with, listed in its help
};

// Commands register themselves from their own source file:
//   static const CliRegistrar reg({QStringLiteral("info"), ..., &runInfo, {}, exitCodes});
struct CliRegistrar
{
    explicit CliRegistrar(const CliCommand &command);
};

const QList<CliCommand> &cliCommands();
