// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include "appidentity.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

#include <unistd.h>

namespace {

QList<CliCommand> &registry()
{
    static QList<CliCommand> commands;
    return commands;
}

QString toolHelp()
{
    QString text = QStringLiteral(
        "Usage: corvane-cli [--json] COMMAND [ARGS...]\n"
        "Talks to a Corvane X9 adapter and the firmware catalogue.\n\n"
        "Commands:\n");
    for (const CliCommand &c : cliCommands())
        text += QStringLiteral("  %1  %2\n").arg(c.name, -18).arg(c.synopsis);
    text += QStringLiteral(
        "\nOptions:\n"
        "  --json             print one JSON object instead of text\n"
        "  --verbose          show the log lines of every step on standard error\n"
        "  --timeout SECONDS  give up when the adapter has not answered for this long "
        "(default 30)\n"
        "  --help             show this help, or a command's help after its name\n"
        "  --version          print the program's version\n\n"
        "Exit codes: 0 success, 1 the operation failed, 2 usage error, 3 no adapter found,\n"
        "4 the adapter is in use by another program.\n");
    return text;
}

bool verboseLogging = false;

// The libraries log every step; a command-line user sees them only with --verbose, while
// critical lines always reach standard error.
void cliMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!verboseLogging && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    fprintf(stderr, "%s\n", qPrintable(message));
    fflush(stderr);
}

} // namespace

CliRegistrar::CliRegistrar(const CliCommand &command)
{
    registry().append(command);
}

const QList<CliCommand> &cliCommands()
{
    return registry();
}

int CliContext::fail(int code, const QString &message) const
{
    err << "corvane-cli: " << message << Qt::endl;
    return code;
}

void CliContext::printRecord(const QJsonObject &record, const QStringList &order) const
{
    if (json) {
        out << QJsonDocument(record).toJson(QJsonDocument::Compact) << Qt::endl;
        return;
    }
    for (const QString &key : order) {
        const QJsonValue v = record.value(key);
        QString text;
        if (v.isBool())
            text = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        else if (v.isDouble())
            text = QString::number(v.toDouble(), 'g', 15);
        else
            text = v.toString();
        out << key << ": " << text << Qt::endl;
    }
}

bool CliContext::interactive() const
{
    return isatty(STDOUT_FILENO) == 1;
}

int main(int argc, char *argv[])
{
    qInstallMessageHandler(cliMessageHandler);
    QCoreApplication app(argc, argv);
    AppIdentity::apply();

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliContext ctx{{}, false, out, err};

    QStringList args = app.arguments().mid(1);
    bool help = false;
    bool version = false;
    QString commandName;
    QStringList rest;
    for (const QString &a : qAsConst(args)) {
        if (a == QLatin1String("--json"))
            ctx.json = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            help = true;
        else if (a == QLatin1String("--verbose") || a == QLatin1String("-v"))
            verboseLogging = true;
        else if (a == QLatin1String("--version") && commandName.isEmpty())
            version = true; // after a command name it is the command's own (update --version)
        else if (commandName.isEmpty() && !a.startsWith(QLatin1Char('-')))
            commandName = a;
        else
            rest.append(a);
    }

    if (version) {
        out << "corvane-cli " << AppIdentity::applicationVersion() << Qt::endl;
        return CliExit_Ok;
    }
    if (commandName.isEmpty()) {
        if (help) {
            out << toolHelp();
            return CliExit_Ok;
        }
        err << toolHelp();
        return CliExit_Usage;
    }

    for (const CliCommand &c : cliCommands()) {
        if (c.name != commandName)
            continue;
        if (help) {
            out << c.help;
            if (!c.help.endsWith(QLatin1Char('\n')))
                out << Qt::endl;
            return CliExit_Ok;
        }
        ctx.args = rest;
        const int code = c.run(ctx);
        out.flush();
        err.flush();
        return code;
    }
    return ctx.fail(CliExit_Usage, QStringLiteral("unknown command '%1' (see --help)").arg(commandName));
}
