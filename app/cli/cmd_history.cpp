// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"
#include "datadirectory.h"

#include "operationhistory.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

QString field(const QJsonObject &entry, const char *key)
{
    const QJsonValue value = entry.value(QLatin1String(key));
    if (value.isDouble())
        return QString::number(value.toDouble(), 'f', 1);
    const QString text = value.toString();
    return text.isEmpty() ? QStringLiteral("-") : terminalText(text);
}

int runHistory(CliContext &ctx)
{
    QStringList args = ctx.args;
    QString serial;
    const int at = args.indexOf(QStringLiteral("--serial"));
    if (at >= 0) {
        if (at + 1 >= args.size())
            return ctx.fail(
                CliExit_Usage, QStringLiteral("--serial needs a SERIAL (see history --help)"));
        serial = args.at(at + 1);
        args.erase(args.begin() + at, args.begin() + at + 2);
    }
    if (!args.isEmpty())
        return ctx.fail(CliExit_Usage,
            QStringLiteral("history takes no argument '%1' (see history --help)")
                .arg(args.first()));

    QList<QJsonObject> entries
        = OperationHistory::read(OperationHistory::filePath(cliDataDirectory()));
    if (!serial.isEmpty()) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                          [&serial](const QJsonObject &e) {
                              return e.value(QStringLiteral("serial"))
                                         .toString()
                                         .compare(serial, Qt::CaseInsensitive)
                                  != 0;
                          }),
            entries.end());
    }
    std::reverse(entries.begin(), entries.end()); // newest first

    if (ctx.json) {
        QJsonArray array;
        for (const QJsonObject &e : qAsConst(entries))
            array.append(e);
        ctx.out << jsonLine(QJsonDocument(array)) << Qt::endl;
        return CliExit_Ok;
    }

    const char *keys[] = { "time", "serial", "operation", "fromVersion", "toVersion", "result",
        "seconds", "error" };
    QList<QStringList> rows;
    rows.append({ QStringLiteral("TIME"), QStringLiteral("SERIAL"), QStringLiteral("OPERATION"),
        QStringLiteral("FROM"), QStringLiteral("TO"), QStringLiteral("RESULT"),
        QStringLiteral("SECONDS"), QStringLiteral("ERROR") });
    for (const QJsonObject &e : qAsConst(entries)) {
        QStringList row;
        for (const char *key : keys)
            row.append(field(e, key));
        rows.append(row);
    }
    QList<int> widths;
    for (int c = 0; c < rows.first().size(); ++c) {
        int width = 0;
        for (const QStringList &row : qAsConst(rows))
            width = qMax(width, row.at(c).size());
        widths.append(width);
    }
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row.at(c).leftJustified(widths.at(c) + 2) : row.at(c);
        ctx.out << line << Qt::endl;
    }
    return CliExit_Ok;
}

const CliRegistrar reg(
    { QStringLiteral("history"), QStringLiteral("list the flash operations done on this computer"),
        QStringLiteral("Usage: corvane-cli [--json] history [--serial SERIAL]\n"
                       "Prints the history of flash operations (update, restore-defaults, "
                       "restore, boot-mode) that the window and corvane-cli made, newest "
                       "first, as a table: time (UTC), adapter serial, operation, firmware "
                       "version before and the version written, result (success, failed, "
                       "cancelled before anything was erased, or interrupted: the program "
                       "ended during the write), seconds and the error.\n"
                       "With --json: one JSON array of objects with the keys id, time, "
                       "serial, operation, fromVersion, toVersion, result, error, image, "
                       "imageMd5, backup, erased (whether the adapter's erase was reached) "
                       "and seconds (on a usage error, one object with error and "
                       "exitCode).\n"),
        &runHistory,
        { { QStringLiteral("--serial"), QStringLiteral("SERIAL"),
            QStringLiteral("only the operations on that adapter") } },
        cliExitCodes({ { CliExit_Ok, QStringLiteral("success") } }) });

} // namespace
