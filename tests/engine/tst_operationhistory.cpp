// SPDX-License-Identifier: GPL-3.0-or-later
#include "operationhistory.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

class tst_OperationHistory : public QObject
{
    Q_OBJECT

private slots:
    void historyLinesStayWhole();
    void whereAnAdapterStands_data();
    void whereAnAdapterStands();
};

// A line torn by a crash is skipped and never swallows the next one; writers running at
// the same time never mix their lines.
void tst_OperationHistory::historyLinesStayWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = OperationHistory::filePath(dir.path());
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"operation":"update"})"
                   "\n"
                   R"({"operation":"resto)");
    }
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^history: skipped")));
    QCOMPARE(OperationHistory::read(path).size(), 1);

    constexpr int Writers = 4;
    constexpr int Lines = 10;
    const QString filler(20000, QLatin1Char('x'));
    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < Lines; ++i)
                OperationHistory::append(path,
                    QJsonObject {
                        { QStringLiteral("writer"), w }, { QStringLiteral("filler"), filler } });
        });
    }
    for (std::thread &t : writers)
        t.join();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^history: skipped")));
    const QList<QJsonObject> entries = OperationHistory::read(path);
    QCOMPARE(entries.size(), 1 + Writers * Lines);
    for (const QJsonObject &entry : entries.mid(1))
        QCOMPARE(entry.value(QStringLiteral("filler")).toString(), filler);
}

namespace {

// A line of adapter S's history.
QJsonObject line(const char *operation, const char *result, bool erased, const QJsonValue &id = {})
{
    return { { QStringLiteral("serial"), QStringLiteral("S") },
        { QStringLiteral("operation"), QLatin1String(operation) },
        { QStringLiteral("result"), QLatin1String(result) }, { QStringLiteral("erased"), erased },
        { QStringLiteral("backup"), QLatin1String(operation) + QLatin1String(result) },
        { QStringLiteral("id"), id } };
}

} // namespace

void tst_OperationHistory::whereAnAdapterStands_data()
{
    QTest::addColumn<QJsonArray>("lines");
    QTest::addColumn<QString>("results"); // of operations(), in order
    QTest::addColumn<QString>("backup"); // named while it is unfinished ("": it is not)
    QTest::newRow("two failed updates, then a boot mode set")
        << QJsonArray { line("update", "failed", true), line("update", "interrupted", true),
               line("boot-mode", "success", true) }
        << QStringLiteral("failed interrupted success") << QStringLiteral("updatefailed");
    QTest::newRow("failed boot mode, then one that succeeds")
        << QJsonArray { line("boot-mode", "failed", true), line("boot-mode", "success", true) }
        << QStringLiteral("failed success") << QString();
    QTest::newRow("numeric id, never ended")
        << QJsonArray { line("update", "started", true, 7) } << QStringLiteral("interrupted")
        << QStringLiteral("updatestarted");
}

// Whether an adapter's last write finished, from its history: only an update or factory
// restore that succeeds makes a half-written adapter whole, and the backup saved before the
// first failure stays the one named until then; a line's id of any type pairs it.
void tst_OperationHistory::whereAnAdapterStands()
{
    QFETCH(QJsonArray, lines);
    QFETCH(QString, results);
    QFETCH(QString, backup);
    QList<QJsonObject> parsed;
    for (const QJsonValue &line : lines)
        parsed.append(line.toObject());
    const QList<QJsonObject> operations = OperationHistory::operations(parsed);
    QStringList found;
    for (const QJsonObject &operation : operations)
        found.append(operation.value(QStringLiteral("result")).toString());
    QCOMPARE(found.join(QLatin1Char(' ')), results);
    const auto standing = OperationHistory::standing(operations, QStringLiteral("S"));
    QCOMPARE(standing.unfinished, !backup.isEmpty());
    QCOMPARE(standing.backupBeforeFailure, backup);
}

QTEST_GUILESS_MAIN(tst_OperationHistory)
#include "tst_operationhistory.moc"
