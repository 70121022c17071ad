// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

// The ways a user or the system asks a command to stop, handed to the event loop as numbers
// (the command exits with 128 + the number when it stops for one). Linux: the signals asked
// for; a signal the program was started with ignored (nohup) stays ignored. Windows: the
// console's events, as the numbers of the signals they stand for: Ctrl+C 2 (SIGINT),
// Ctrl+Break 21 (SIGBREAK), closing the console window 1 (as a hang-up), logging off and
// shutting down 15 (SIGTERM). Windows ends the process soon after the last three whatever it
// does: until then, or until the command ends, the process is kept alive.
// Only one object at a time receives them, from construction to destruction.
class StopRequests : public QObject
{
    Q_OBJECT
public:
    explicit StopRequests(const QList<int> &signalNumbers, QObject *parent = nullptr);
    ~StopRequests() override;

    // False (with the reason) when none can be received.
    bool isInstalled() const;
    QString errorString() const;

    // Every signal whose default action ends the process and that a program may catch (on
    // Windows, every console event).
    static QList<int> endingSignals();
    // The user's and the system's usual requests to stop: SIGINT and SIGTERM (on Windows,
    // every console event).
    static QList<int> interruptSignals();
    // "SIGQUIT", "SIGRTMIN+3", "Ctrl+Break", ...
    static QString name(int number);
    // The requests whose exit codes the help names, described for it ("SIGINT (Ctrl+C)"), and
    // what the help adds after the last of them.
    static QList<int> describedSignals();
    static QString description(int number);
    static QString othersNote();

signals:
    void requested(int number);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
