// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// A script of the repository's tools/scripts/ that a test runs on the build machine (a .py
// under python3, a .sh under bash): directly on Linux; from a Windows test under Wine through
// the test launcher's host runner (tools/scripts/host-runner.py), as Wine does not start Linux
// programs. Absolute paths among the arguments name the same files there. Its standard error
// goes to the test's own. The destructor ends it.
class HostProgram
{
public:
    HostProgram();
    ~HostProgram();
    HostProgram(const HostProgram &) = delete;
    HostProgram &operator=(const HostProgram &) = delete;

    // False (with *error) when it cannot be started.
    bool start(const QString &script, const QStringList &arguments, QString *error = nullptr);
    bool isRunning() const;
    // The next line of its standard output, without the line end; false when none comes
    // within timeoutMs (or it ended first).
    bool readLine(QByteArray *line, int timeoutMs);
    // Its exit code once it has ended by itself within timeoutMs; -1 otherwise.
    int waitForExit(int timeoutMs);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
