// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace Console {

namespace {

    UINT g_outputPage = 0;
    UINT g_inputPage = 0;

    void restorePages()
    {
        if (g_outputPage)
            SetConsoleOutputCP(g_outputPage);
        if (g_inputPage)
            SetConsoleCP(g_inputPage);
    }

} // namespace

void prepare()
{
    // The bytes written are the bytes that arrive, "\n" ending each line as on Linux: the C
    // runtime's text mode would add a "\r" to each, which a script reading a line (a
    // command the advice names, a path, a JSON line) keeps as part of it.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // Without a console (output to a file or a pipe) there is no page to set: the bytes are
    // UTF-8 as they are.
    g_outputPage = GetConsoleOutputCP();
    g_inputPage = GetConsoleCP();
    if (g_outputPage == 0)
        return;
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    std::atexit(restorePages);
}

bool isTerminal(int stream)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), &mode);
}

QString shellWord(QString text)
{
    // Neither shell splits or expands these. Anything else goes in double quotes, which both
    // take (single ones are PowerShell's alone), written as the C runtime reads them back:
    // a quote inside as \", and the backslashes before a quote doubled.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:\\\\+-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString word(QLatin1Char('"'));
    int backslashes = 0;
    for (const QChar c : std::as_const(text)) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        word += QString(
            c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\'));
        word += c;
        backslashes = 0;
    }
    return word + QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
}

} // namespace Console
