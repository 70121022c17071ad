// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include "appidentity.h"
#include "clicatalogue.h"
#include "clihelp.h"
#include "console.h"
#include "interruptguard.h"
#include "logcategories.h"
#include "logfile.h"
#include "safetext.h"
#include "syncloud.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>

#include <cstdio>
#include <utility>

namespace {

QList<CliCommand> &registry()
{
    static QList<CliCommand> commands;
    return commands;
}

// --verbose given once: the log's info lines and warnings on standard error; twice (-vv):
// its debug lines too.
int verbosity = 0;

// What the global options of one run ask for besides the context's settings.
struct Invocation
{
    CliContext &ctx;
    bool help = false;
    bool version = false;
};

// A global option: "--name", "-x", and for one with a value "--name VALUE", "--name=VALUE",
// "-x VALUE" or "-xVALUE". apply() takes it (and its value), or returns why it is refused.
struct GlobalOption
{
    const char *name;
    char shortName; // 0: none
    const char *valueName; // nullptr: takes no value
    const char *help;
    QString (*apply)(Invocation &run, const QString &value);
};

QString applyCatalogue(Invocation &, const QString &value)
{
    QUrl host;
    QString error;
    if (!CliCatalogue::parseHost(value, &host, &error))
        return error;
    SyncCloud::setDefaultCatalogueHost(host);
    return {};
}

QString applyNetworkTimeout(Invocation &, const QString &value)
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

QString applyAnswerTimeout(Invocation &run, const QString &value)
{
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !(seconds >= 0 && seconds <= 86400))
        return QStringLiteral("--timeout needs a number of seconds (0 to 86400), not '%1'")
            .arg(value);
    run.ctx.answerTimeoutMs = seconds > 0 ? qMax(1, qRound(seconds * 1000)) : 0;
    return {};
}

QString applyProgress(Invocation &run, const QString &value)
{
    if (value != QLatin1String("json") && value != QLatin1String("text"))
        return QStringLiteral("--progress takes json or text, not '%1'").arg(value);
    run.ctx.progressJson = value == QLatin1String("json");
    return {};
}

QString applyAdapter(Invocation &run, const QString &value)
{
    if (value.trimmed().isEmpty())
        return QStringLiteral("--adapter needs a serial number or a device path (see "
                              "corvane-cli list)");
    run.ctx.adapter = value.trimmed();
    return {};
}

const GlobalOption globalOptions[] = {
    { "--help", 'h', nullptr, "show this help, or a command's help after its name",
        [](Invocation &run, const QString &) {
            run.help = true;
            return QString();
        } },
    { "--version", 'V', nullptr,
        "print the program's version (after update or verify, --version is theirs: a "
        "firmware version)",
        [](Invocation &run, const QString &) {
            run.version = true;
            return QString();
        } },
    { "--quiet", 'q', nullptr, "print only errors and the result: no progress, no notes",
        [](Invocation &run, const QString &) {
            run.ctx.quiet = true;
            return QString();
        } },
    { "--verbose", 'v', nullptr,
        "show the log lines of every step on standard error, with their times; twice (-vv) "
        "also the debug lines",
        [](Invocation &, const QString &) {
            ++verbosity;
            return QString();
        } },
    { "--json", 0, nullptr,
        "print one JSON object instead of text; when the command fails, it holds \"error\" "
        "and \"exitCode\"",
        [](Invocation &run, const QString &) {
            run.ctx.json = true;
            return QString();
        } },
    { "--progress", 0, "json|text",
        "progress on standard error: a bar on a terminal, else a line every 10 % (text, the "
        "default), or one JSON object per line each time the percentage changes (json)",
        &applyProgress },
    { "--catalogue", 0, "URL",
        "catalogue server (http[s]://host[:port]) instead of the built-in one", &applyCatalogue },
    { "--network-timeout", 0, "SECONDS",
        "give up a download or catalogue fetch that receives nothing for this long (default "
        "30), a catalogue fetch that takes twice as long, and a download that gets less than "
        "1 KiB/s over this long after the first",
        &applyNetworkTimeout },
    { "--timeout", 0, "SECONDS",
        "longest wait for an answer from the adapter (default 30, 0 waits for ever; an erase "
        "also gets its worst case, 4 s per 128 KiB sector); then the command stops, exit 1",
        &applyAnswerTimeout },
    { "--adapter", 'a', "SERIAL|PATH",
        "the adapter to work on, by serial number or device path (see list); needed when "
        "several are attached",
        &applyAdapter },
};

const GlobalOption *findGlobal(const QString &name)
{
    for (const GlobalOption &option : globalOptions) {
        if (name == QLatin1String(option.name)
            || (option.shortName && name.size() == 2 && name.at(0) == QLatin1Char('-')
                && name.at(1) == QLatin1Char(option.shortName)))
            return &option;
    }
    return nullptr;
}

const CliCommand *findCommand(const QString &name)
{
    for (const CliCommand &command : cliCommands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

const CliOption *findOwnOption(const CliCommand *command, const QString &name)
{
    if (command) {
        for (const CliOption &option : command->options) {
            if (option.name == name)
                return &option;
        }
    }
    return nullptr;
}

QString toolHelp()
{
    QString text = QStringLiteral("Usage: corvane-cli [OPTIONS] COMMAND [ARGS...]\n"
                                  "Talks to a Corvane X9 adapter and the firmware catalogue.\n\n"
                                  "Commands:\n");
    QList<CliHelpRow> commands;
    for (const CliCommand &c : cliCommands())
        commands.append({ c.name, c.synopsis });
    text += cliHelpRows(commands);
    text += QStringLiteral("\nOptions (before or after the command name; -- ends them):\n");
    QList<CliHelpRow> options;
    for (const GlobalOption &o : globalOptions) {
        QString label = o.shortName ? QStringLiteral("-%1, ").arg(QLatin1Char(o.shortName))
                                    : QStringLiteral("    ");
        label += QLatin1String(o.name);
        if (o.valueName)
            label += QLatin1Char(' ') + QLatin1String(o.valueName);
        options.append({ label, QLatin1String(o.help) });
    }
    text += cliHelpRows(options);
    text += QStringLiteral("\nExit codes:\n")
        + cliExitCodeRows(
            cliExitCodes({ { CliExit_Ok, QStringLiteral("success") },
                             { CliExit_Failed, QStringLiteral("the operation failed") } },
                CliExitSet_Adapter | CliExitSet_Interrupt));
    text += cliWrapHelp(QStringLiteral(
        "\nOnce the erase has begun, a write runs to its end whatever the signal, and the "
        "command exits with its result. Each command's help lists the codes it can return.\n"));
    return text;
}

// What a failure with code means when the command said nothing (a cancel, say).
QString exitMeaning(const CliCommand *command, int code)
{
    if (command) {
        for (const CliExitCode &c : command->exitCodes) {
            if (c.code == code)
                return c.meaning;
        }
    }
    for (const CliExitCode &c : cliSharedExitCodes()) {
        if (c.code == code)
            return c.meaning;
    }
    return QStringLiteral("the operation failed");
}

// Takes the option at args[*at] (and its value), after the command name the command's own
// first: after update, --version is update's. Own options go to rest as "--name [VALUE]";
// returns "" or the usage error.
QString takeOption(
    const QStringList &args, int *at, Invocation &run, const CliCommand *command, QStringList *rest)
{
    const QString &arg = args.at(*at);
    const QString seeHelp = QStringLiteral("(see %1--help)")
                                .arg(command ? command->name + QLatin1Char(' ') : QString());
    QString name = arg;
    QString value;
    bool hasValue = false;
    if (arg.startsWith(QLatin1String("--"))) {
        const auto equals = arg.indexOf(QLatin1Char('='));
        if (equals > 2) {
            name = arg.left(equals);
            value = arg.mid(equals + 1);
            hasValue = true;
        }
    } else if (arg.size() > 2) {
        // Short options together ("-qv"); the last may take a value ("-qxVALUE", "-qx VALUE").
        for (int k = 1; k < arg.size(); ++k) {
            name = QLatin1Char('-') + arg.at(k);
            const GlobalOption *option = findGlobal(name);
            if (!option)
                return QStringLiteral("unknown option %1 %2").arg(name, seeHelp);
            if (option->valueName) {
                value = arg.mid(k + 1);
                hasValue = !value.isEmpty();
                break;
            }
            const QString error = option->apply(run, QString());
            if (!error.isEmpty() || k + 1 == arg.size())
                return error;
        }
    }
    const auto takeValue = [&]() -> QString {
        if (hasValue)
            return QString();
        if (*at + 1 >= args.size())
            return QStringLiteral("%1 needs a value %2").arg(name, seeHelp);
        value = args.at(++*at);
        hasValue = true;
        return QString();
    };

    if (const CliOption *own = findOwnOption(command, name)) {
        if (own->valueName.isEmpty() && hasValue)
            return QStringLiteral("%1 takes no value %2").arg(name, seeHelp);
        if (!own->valueName.isEmpty()) {
            const QString error = takeValue();
            if (!error.isEmpty())
                return error;
        }
        rest->append(name);
        if (hasValue)
            rest->append(value);
        return QString();
    }
    const GlobalOption *global = findGlobal(name);
    if (!global)
        return QStringLiteral("unknown option %1 %2").arg(name, seeHelp);
    if (!global->valueName && hasValue)
        return QStringLiteral("%1 takes no value %2").arg(name, seeHelp);
    if (global->valueName) {
        const QString error = takeValue();
        if (!error.isEmpty())
            return error;
    }
    return global->apply(run, value);
}

// The libraries log every step into the log file; a command-line user sees them only with
// --verbose, while critical lines always reach standard error.
void cliMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (verbosity == 0 && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    const QString line = verbosity == 0
        ? message
        : QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + QLatin1Char(' ')
            + LogFile::messageText(context.category, type, message);
    fprintf(stderr, "%s\n", terminalText(line).toUtf8().constData());
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

CliContext::CliContext(QTextStream &out, QTextStream &err) : out(out), err(err) { }

int CliContext::fail(int code, const QString &message) const
{
    if (m_error.isEmpty() && InterruptGuard::cancelledBy() == 0)
        m_error = message;
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

void CliContext::note(const QString &message) const
{
    if (!quiet)
        warn(message);
}

QString terminalText(QString text)
{
    return SafeText::shown(std::move(text));
}

QByteArray jsonLine(const QJsonDocument &document)
{
    return SafeText::json(document);
}

void CliContext::printRecord(const QJsonObject &record, const QStringList &order) const
{
    if (json) {
        addFields(record);
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

void CliContext::addFields(const QJsonObject &fields) const
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        m_record.insert(it.key(), it.value());
}

int CliContext::finish(int code, const QString &fallbackError) const
{
    if (!json || (code == CliExit_Ok && m_record.isEmpty()))
        return code;
    QJsonObject object = m_record;
    if (code != CliExit_Ok) {
        if (!object.contains(QLatin1String("error")))
            object.insert(
                QStringLiteral("error"), terminalText(m_error.isEmpty() ? fallbackError : m_error));
        object.insert(QStringLiteral("exitCode"), code);
    }
    out << jsonLine(QJsonDocument(object)) << Qt::endl;
    return code;
}

bool CliContext::interactive() const
{
    return standardStreams && Console::isTerminal(2);
}

void CliContext::progressLine(
    const QString &phase, qlonglong current, qlonglong total, const QString &adapter) const
{
    if (!progressJson || quiet || total <= 0)
        return;
    const int percent = int(qBound<qlonglong>(0, current, total) * 100 / total);
    const QPair<QString, int> shown(phase, percent);
    if (m_progressShown.value(adapter) == shown)
        return;
    m_progressShown.insert(adapter, shown);
    QJsonObject line { { QStringLiteral("progress"), phase },
        { QStringLiteral("current"), double(current) }, { QStringLiteral("total"), double(total) },
        { QStringLiteral("percent"), percent } };
    if (!adapter.isEmpty())
        line.insert(QStringLiteral("adapter"), adapter);
    err << QJsonDocument(line).toJson(QJsonDocument::Compact) << Qt::endl;
}

bool CliContext::errorIsTerminal() const
{
    return standardStreams && Console::isTerminal(2);
}

int main(int argc, char *argv[])
{
    Console::prepare();
    LogFile::install(QStringLiteral("corvane-cli"), cliMessageHandler);
    QCoreApplication app(argc, argv);
    AppIdentity::apply();

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliContext ctx(out, err);
    Invocation run { ctx };

    const QStringList args = app.arguments().mid(1);
    // A script that asked for JSON gets it for a usage error too, wherever --json stands.
    const auto usageError = [&ctx, &args](const QString &message) {
        ctx.json = ctx.json
            || args.mid(0, int(args.indexOf(QStringLiteral("--"))))
                   .contains(QStringLiteral("--json"));
        return ctx.finish(ctx.fail(CliExit_Usage, message), QString());
    };
    const CliCommand *command = nullptr;
    QStringList rest;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && a.size() > 1 && a.startsWith(QLatin1Char('-'))) {
            const QString error = takeOption(args, &i, run, command, &rest);
            if (!error.isEmpty())
                return usageError(error);
        } else if (!command) {
            command = findCommand(a);
            if (!command)
                return usageError(QStringLiteral("unknown command '%1' (see --help)").arg(a));
        } else {
            rest.append(a);
        }
    }

    // QT_LOGGING_RULES, when set, overrides these.
    QLoggingCategory::setFilterRules(verbosity >= 2 ? QStringLiteral("corvane.*.debug=true")
                                                    : QStringLiteral("corvane.*.debug=false"));
    qCInfo(lcCli).noquote() << "corvane-cli" << args.join(QLatin1Char(' '));

    if (run.version) {
        out << "corvane-cli " << AppIdentity::applicationVersion() << Qt::endl;
        return CliExit_Ok;
    }
    if (!command) {
        if (run.help) {
            out << toolHelp();
            return CliExit_Ok;
        }
        err << toolHelp();
        return ctx.finish(CliExit_Usage, QStringLiteral("no command given (see --help)"));
    }
    if (run.help) {
        out << cliCommandHelp(*command);
        return CliExit_Ok;
    }

    ctx.args = rest;
    int code = command->run(ctx);
    if (const int signalNumber = InterruptGuard::cancelledBy())
        code = 128 + signalNumber;
    else if (const int stopped = InterruptGuard::readBackStoppedBy(); stopped && code == CliExit_Ok)
        code = 128 + stopped;
    code = ctx.finish(code, exitMeaning(command, code));
    out.flush();
    err.flush();
    return code;
}
