// SPDX-License-Identifier: GPL-3.0-or-later
#include "console.h"

#include <QRegularExpression>

#include <csignal>

#include <unistd.h>

namespace Console {

void prepare()
{
    // Such a write fails with EPIPE, which the streams ignore: it must never end a job that
    // is writing the adapter, and the job's result still reaches the history and the exit
    // code.
    std::signal(SIGPIPE, SIG_IGN);
}

bool isTerminal(int stream)
{
    return isatty(stream) == 1;
}

QString shellWord(QString text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=@%+,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + text.replace(QLatin1String("'"), QLatin1String("'\\''"))
        + QLatin1Char('\'');
}

} // namespace Console
