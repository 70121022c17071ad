// SPDX-License-Identifier: GPL-3.0-or-later
#include "operationhistory.h"

#include <QFile>
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

QTEST_GUILESS_MAIN(tst_OperationHistory)
#include "tst_operationhistory.moc"
