// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

// Help texts are wrapped to this many columns.
constexpr int CliHelpWidth = 80;

// One row of an option or exit-code list: "  NAME  text", with text wrapped to the help's
// width under its own column.
struct CliHelpRow
{
    QString name;
    QString text;
};

// The rows as a list whose texts start in one column.
QString cliHelpRows(const QList<CliHelpRow> &rows);
// text with each line wrapped to the help's width: at the column of its text when it is a
// row ("  --name  text"), under its own indent otherwise.
QString cliWrapHelp(const QString &text);
// "--name VALUE" or "--name".
QString cliOptionLabel(const CliOption &option);
// The exit-code rows of a table.
QString cliExitCodeRows(const QList<CliExitCode> &codes);
// The full help of a command: its text, its options and its exit codes.
QString cliCommandHelp(const CliCommand &command);
// The exit codes every command may share, with what they mean.
const QList<CliExitCode> &cliSharedExitCodes();
