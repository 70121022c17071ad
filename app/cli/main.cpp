// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include "appidentity.h"
#include "clicatalogue.h"
#include "interruptguard.h"
#include "syncloud.h"

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
        "Usage: corvane-cli [OPTIONS] COMMAND [ARGS...]\n"
        "Talks to a Corvane X9 adapter and the firmware catalogue.\n\n"
        "Commands:\n");
    for (const CliCommand &c : cliCommands())
        text += QStringLiteral("  %1  %2\n").arg(c.name, -18).arg(c.synopsis);
    text += QStringLiteral(
        "\nOptions (before or after the command name):\n"
        "  --json                     print one JSON object instead of text\n"
        "  --verbose                  show the log lines of every step on standard error\n"
        "  --catalogue URL            catalogue server (http[s]://host[:port]) instead of the\n"
        "                             built-in one\n"
        "  --network-timeout SECONDS  give up a download or catalogue fetch that receives\n"
        "                             nothing for this long (default 30), a catalogue fetch\n"
        "                             that takes twice as long, and a download that gets\n"
        "                             less than 1 KiB/s over this long after the first\n"
        "  --timeout SECONDS          longest wait for an answer from the adapter (default\n"
        "                             30, 0 waits for ever; an erase also gets its worst\n"
        "                             case, 4 s per 128 KiB sector); then the command stops,\n"
        "                             exit 1\n"
        "  --help                     show this help, or a command's help after its name\n"
        "  --version                  print the program's version (before the command name)\n\n"
        "Exit codes: 0 success, 1 the operation failed, 2 usage error, 3 no adapter found,\n"
        "4 the adapter is in use by another program (nothing was sent to it), 130 interrupted\n"
        "(SIGINT), 143 interrupted (SIGTERM), 129 interrupted (SIGHUP) before the adapter's\n"
        "erase (128 + the signal number; nothing was changed). Once the erase has begun, a\n"
        "write runs to its end whatever the signal, and the command exits with its result.\n");
    return text;
}

bool verboseLogging = false;

// A global option with a value: "--name VALUE" or "--name=VALUE". apply() takes the value,
// or returns why it is refused.
struct ValueOption
{
    QLatin1String name;
    QString (*apply)(CliContext &ctx, const QString &value);
};

QString applyCatalogue(CliContext &, const QString &value)
{
    QUrl host;
    QString error;
    if (!CliCatalogue::parseHost(value, &host, &error))
        return error;
    SyncCloud::setDefaultCatalogueHost(host);
    return {};
}

QString applyNetworkTimeout(CliContext &, const QString &value)
{
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !(seconds > 0 && seconds <= 86400))
        return QStringLiteral("--network-timeout needs a number of seconds (above 0, at most "
                              "86400), not '%1'")
            .arg(value);
    SyncCloud::setDefaultTransferTimeout(qMax(1, qRound(seconds * 1000)));
    return {};
}

QString applyAnswerTimeout(CliContext &ctx, const QString &value)
{
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !(seconds >= 0 && seconds <= 86400))
        return QStringLiteral("--timeout needs a number of seconds (0 to 86400), not '%1'")
            .arg(value);
    ctx.answerTimeoutMs = seconds > 0 ? qMax(1, qRound(seconds * 1000)) : 0;
    return {};
}

const ValueOption valueOptions[] = {
    { QLatin1String("--catalogue"), &applyCatalogue },
    { QLatin1String("--network-timeout"), &applyNetworkTimeout },
    { QLatin1String("--timeout"), &applyAnswerTimeout },
};

// The libraries log every step; a command-line user sees them only with --verbose, while
// critical lines always reach standard error.
void cliMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!verboseLogging && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    fprintf(stderr, "%s\n", qPrintable(terminalText(message)));
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
    warn(message);
    return code;
}

void CliContext::warn(const QString &message) const
{
    // After a cancel, what fails further on follows from it and says nothing new.
    if (InterruptGuard::cancelledBy() != 0)
        return;
    err << "corvane-cli: " << terminalText(message) << Qt::endl;
}

QString terminalText(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return text;
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
        out << key << ": " << terminalText(text) << Qt::endl;
    }
}

bool CliContext::interactive() const
{
    return isatty(STDOUT_FILENO) == 1;
}

bool CliContext::errorIsTerminal() const
{
    return isatty(STDERR_FILENO) == 1;
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
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const ValueOption *option = nullptr;
        QString value;
        for (const ValueOption &o : valueOptions) {
            if (a == o.name) {
                if (i + 1 >= args.size())
                    return ctx.fail(CliExit_Usage, QStringLiteral("%1 needs a value").arg(a));
                option = &o;
                value = args.at(++i);
            } else if (a.startsWith(o.name + QLatin1Char('='))) {
                option = &o;
                value = a.mid(o.name.size() + 1);
            }
        }
        if (option) {
            const QString error = option->apply(ctx, value);
            if (!error.isEmpty())
                return ctx.fail(CliExit_Usage, error);
        } else if (a == QLatin1String("--json"))
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
        int code = c.run(ctx);
        if (const int signalNumber = InterruptGuard::cancelledBy())
            code = 128 + signalNumber;
        out.flush();
        err.flush();
        return code;
    }
    return ctx.fail(CliExit_Usage, QStringLiteral("unknown command '%1' (see --help)").arg(commandName));
}
