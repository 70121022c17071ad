// SPDX-License-Identifier: GPL-3.0-or-later
#include "clihelp.h"
#include "stoprequests.h"

#include <QRegularExpression>

namespace {

// prefix, then the words of text, wrapped so that no line passes the help's width (unless
// one word alone does); continuation lines start with hang blanks.
QString wrapped(const QString &prefix, const QString &text, int hang)
{
    QString result;
    QString line = prefix;
    bool lineHasWord = false;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (lineHasWord && line.size() + 1 + word.size() > CliHelpWidth) {
            result += line + QLatin1Char('\n');
            line = QString(hang, QLatin1Char(' '));
            lineHasWord = false;
        }
        if (lineHasWord)
            line += QLatin1Char(' ');
        line += word;
        lineHasWord = true;
    }
    return result + line;
}

} // namespace

const QList<CliExitCode> &cliSharedExitCodes()
{
    static const QList<CliExitCode> codes = [] {
        QList<CliExitCode> shared {
            { CliExit_Usage, QStringLiteral("usage error") },
            { CliExit_NoAdapter,
                QStringLiteral("no adapter found, none that --adapter names, or it cannot be "
                               "opened") },
            { CliExit_InUse,
                QStringLiteral("the adapter is in use by another program (nothing was "
                               "sent to it)") },
        };
        const QList<int> described = StopRequests::describedSignals();
        for (int number : described)
            shared.append({ 128 + number,
                QStringLiteral("interrupted by %1 before the adapter's erase; nothing was "
                               "changed%2")
                    .arg(StopRequests::description(number),
                        number == described.last() ? StopRequests::othersNote() : QString()) });
        return shared;
    }();
    return codes;
}

QList<CliExitCode> cliExitCodes(const QList<CliExitCode> &own, int sets)
{
    QList<CliExitCode> codes = own;
    for (CliExitCode shared : cliSharedExitCodes()) {
        bool wanted = shared.code == CliExit_Usage
            || ((sets & CliExitSet_Adapter) && shared.code <= CliExit_InUse)
            || ((sets & CliExitSet_Interrupt) && shared.code > 128);
        for (const CliExitCode &code : own)
            wanted = wanted && code.code != shared.code;
        // A command on one adapter cannot choose among several by itself.
        if (shared.code == CliExit_Usage && (sets & CliExitSet_Adapter))
            shared.meaning = QStringLiteral("usage error, or several adapters are attached and "
                                            "--adapter chooses none (nothing was sent to any)");
        if (wanted)
            codes.append(shared);
    }
    return codes;
}

QString cliHelpRows(const QList<CliHelpRow> &rows)
{
    int width = 0;
    for (const CliHelpRow &row : rows)
        width = qMax(width, int(row.name.size()));
    const int column = 2 + width + 2;
    QString text;
    for (const CliHelpRow &row : rows)
        text += wrapped(QStringLiteral("  ") + row.name.leftJustified(width + 2), row.text, column)
            + QLatin1Char('\n');
    return text;
}

QString cliWrapHelp(const QString &text)
{
    // A row: indent, a name of words set apart by single blanks, two blanks or more, text.
    static const QRegularExpression row(QStringLiteral("^( +\\S+(?: \\S+)*  +)(\\S.*)$"));
    static const QRegularExpression indent(QStringLiteral("^( *)(.*)$"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList result;
    for (const QString &line : lines) {
        if (line.size() <= CliHelpWidth) {
            result.append(line);
            continue;
        }
        QRegularExpressionMatch match = row.match(line);
        if (!match.hasMatch())
            match = indent.match(line);
        result.append(wrapped(match.captured(1), match.captured(2), int(match.captured(1).size())));
    }
    return result.join(QLatin1Char('\n'));
}

QString cliOptionLabel(const CliOption &option)
{
    return option.valueName.isEmpty() ? option.name
                                      : option.name + QLatin1Char(' ') + option.valueName;
}

QString cliExitCodeRows(const QList<CliExitCode> &codes)
{
    QList<CliHelpRow> rows;
    for (const CliExitCode &code : codes)
        rows.append({ QString::number(code.code), code.meaning });
    return cliHelpRows(rows);
}

QString cliCommandHelp(const CliCommand &command)
{
    QString text = cliWrapHelp(command.help);
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    if (!command.options.isEmpty()) {
        QList<CliHelpRow> rows;
        for (const CliOption &option : command.options)
            rows.append({ cliOptionLabel(option), option.help });
        text += QStringLiteral("\nOptions:\n") + cliHelpRows(rows);
    }
    if (!command.exitCodes.isEmpty())
        text += QStringLiteral("\nExit codes:\n") + cliExitCodeRows(command.exitCodes);
    return text;
}
