// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Entry
{
    QString translation;
    bool unfinished = false;
};

// Entries of one .ts source file by "context|source".
QHash<QString, Entry> readCatalogue(const QString &code, QString *error)
{
    QFile file(qEnvironmentVariable("CORVANE_TEST_SOURCE_DIR")
        + QStringLiteral("/resources/translations/CorvaneFirmwareTool_%1.ts").arg(code));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.fileName() + QLatin1String(": ") + file.errorString();
        return {};
    }
    QHash<QString, Entry> entries;
    QString context;
    QString source;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            Entry entry;
            entry.unfinished
                = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            entry.translation = xml.readElementText();
            entries.insert(context + QLatin1Char('|') + source, entry);
        }
    }
    if (xml.hasError())
        *error = file.fileName() + QLatin1String(": ") + xml.errorString();
    return entries;
}

} // namespace

class tst_Catalogues : public QObject
{
    Q_OBJECT

private slots:
    void translated_data();
    void translated();
};

void tst_Catalogues::translated_data()
{
    QTest::addColumn<QString>("code");
    for (const char *code : { "zh_CN", "ja_JP", "ru_RU", "fr_FR" })
        QTest::newRow(code) << QString::fromLatin1(code);
}

// Every text of the window in every language, shaped as the code and Qt read it.
void tst_Catalogues::translated()
{
    QFETCH(QString, code);
    QString error;
    const QHash<QString, Entry> english = readCatalogue(QStringLiteral("en_EN"), &error);
    const QHash<QString, Entry> entries = readCatalogue(code, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList keys = entries.keys();
    QStringList englishKeys = english.keys();
    keys.sort();
    englishKeys.sort();
    QCOMPARE(keys, englishKeys);

    // A file filter ends in its patterns, which Qt reads: "Name (*.a *.b)".
    static const QRegularExpression filter(QStringLiteral(" \\(\\*\\.[a-z]+( \\*\\.[a-z]+)*\\)$"));
    static const QRegularExpression marker(QStringLiteral("%\\d"));
    // French puts a no-break space before these signs, so that no line starts with one.
    static const QRegularExpression frenchSign(QStringLiteral("(?<!\\x{00A0})[!?:;]"));
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QString source = it.key().section(QLatin1Char('|'), 1);
        const QString text = it.value().translation;
        const QByteArray where = (code + QLatin1String(": ") + it.key()).toUtf8();
        QVERIFY2(!it.value().unfinished && !text.isEmpty(), where.constData());
        const QRegularExpressionMatch pattern = filter.match(source);
        if (pattern.hasMatch())
            QVERIFY2(text.endsWith(pattern.captured()), where.constData());
        for (auto m = marker.globalMatch(source); m.hasNext();)
            QVERIFY2(text.contains(m.next().captured()), where.constData());
        const Entry reference = english.value(it.key());
        const QString englishText = reference.unfinished ? source : reference.translation;
        QVERIFY2(text.count(QLatin1Char('\n')) == englishText.count(QLatin1Char('\n')),
            where.constData());
        if (code == QLatin1String("fr_FR"))
            QVERIFY2(!text.contains(frenchSign), where.constData());
    }
}

QTEST_GUILESS_MAIN(tst_Catalogues)
#include "tst_catalogues.moc"
