// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagedialog.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

class tst_MessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void hiddenDialogShowsAtOnce();
    void visibleDialogShowsOnlyNewestAtNextTick();
    void textsShownVerbatim_data();
    void textsShownVerbatim();
    void buttonReactions_data();
    void buttonReactions();
    void execMessageReturnsWhenDismissed_data();
    void execMessageReturnsWhenDismissed();
    void retranslationKeepsTheMessage();

private:
    static QLabel *title(MessageDialog &d)
    {
        return d.findChild<QLabel *>(QStringLiteral("label_Title"));
    }
    static QTextBrowser *text(MessageDialog &d)
    {
        return d.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    }
    static QPushButton *button(MessageDialog &d, const char *name)
    {
        return d.findChild<QPushButton *>(QLatin1String(name));
    }
};

namespace {

// Records the dialog's signals in the order they come.
QStringList *recordSignals(MessageDialog &dialog)
{
    auto *log = new QStringList;
    QObject::connect(
        &dialog, &MessageDialog::closed, &dialog, [log] { *log << QStringLiteral("closed"); });
    QObject::connect(
        &dialog, &MessageDialog::okButtonClicked, &dialog, [log] { *log << QStringLiteral("ok"); });
    QObject::connect(&dialog, &MessageDialog::restoreDefaultsButtonClicked, &dialog,
        [log] { *log << QStringLiteral("restore"); });
    QObject::connect(&dialog, &MessageDialog::updateFirmwareButtonClicked, &dialog,
        [log] { *log << QStringLiteral("update"); });
    QObject::connect(&dialog, &QObject::destroyed, [log] { delete log; });
    return log;
}

} // namespace

void tst_MessageDialog::hiddenDialogShowsAtOnce()
{
    QWidget parent;
    MessageDialog dialog(&parent);
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.windowFlags(), Qt::Dialog | Qt::FramelessWindowHint);

    dialog.showMessage(QStringLiteral("Error"), QStringLiteral("Hardware failure!"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(title(dialog)->text(), QStringLiteral("Error"));
    QCOMPARE(text(dialog)->toPlainText(), QStringLiteral("Hardware failure!"));
    QVERIFY(!button(dialog, "pushButton_MsgOK")->isHidden());
    QVERIFY(button(dialog, "pushButton_MsgRestore")->isHidden());
    QVERIFY(button(dialog, "pushButton_MsgUpdate")->isHidden());

    // Closed by the user, the next message comes up at once again.
    dialog.hide();
    dialog.showMessage(QStringLiteral("Waring"), QStringLiteral("second"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(text(dialog)->toPlainText(), QStringLiteral("second"));
}

void tst_MessageDialog::visibleDialogShowsOnlyNewestAtNextTick()
{
    MessageDialog dialog;
    QStringList shown;
    connect(text(dialog), &QTextBrowser::textChanged, this,
        [&] { shown << text(dialog)->toPlainText(); });

    dialog.showMessage(QStringLiteral("T1"), QStringLiteral("first"));
    dialog.showMessage(QStringLiteral("T2"), QStringLiteral("second"));
    dialog.showMessage(QStringLiteral("T3"), QStringLiteral("third"));
    dialog.showMessage(QStringLiteral("T4"), QStringLiteral("fourth"));
    // The message on screen stays until the timer ticks.
    QCOMPARE(title(dialog)->text(), QStringLiteral("T1"));
    QCOMPARE(shown, QStringList { QStringLiteral("first") });

    QTRY_COMPARE_WITH_TIMEOUT(title(dialog)->text(), QStringLiteral("T4"), 6000);
    QCOMPARE(text(dialog)->toPlainText(), QStringLiteral("fourth"));
    QCOMPARE(shown, (QStringList { QStringLiteral("first"), QStringLiteral("fourth") }));
    QVERIFY(dialog.isVisible());

    // Nothing pending: the next ticks change nothing, and a later message shows on a tick.
    auto *timer = dialog.findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 3000);
    dialog.showMessage(QStringLiteral("T5"), QStringLiteral("fifth"));
    QCOMPARE(title(dialog)->text(), QStringLiteral("T4"));
    QTRY_COMPARE_WITH_TIMEOUT(title(dialog)->text(), QStringLiteral("T5"), 6000);
    QCOMPARE(shown.size(), 3);
}

void tst_MessageDialog::textsShownVerbatim_data()
{
    QTest::addColumn<QString>("titleText");
    QTest::addColumn<QString>("bodyText");

    QTest::newRow("at sign in text") << QStringLiteral("Version Change LOG")
                                     << QStringLiteral("Contact support@corvane.example\nfor help");
    QTest::newRow("at sign in title") << QStringLiteral("a@b@c") << QStringLiteral("body");
    QTest::newRow("at signs only") << QStringLiteral("@") << QStringLiteral("@@");
    QTest::newRow("markup in text")
        << QStringLiteral("Message") << QStringLiteral("<b>bold</b> <a href=\"x\">link</a> &amp;");
    QTest::newRow("markup in title") << QStringLiteral("<i>x</i>") << QStringLiteral("plain");
    QTest::newRow("arg markers") << QStringLiteral("%2 %1") << QStringLiteral("%1 done");
    QTest::newRow("empty") << QString() << QString();
}

void tst_MessageDialog::textsShownVerbatim()
{
    QFETCH(QString, titleText);
    QFETCH(QString, bodyText);

    MessageDialog dialog;
    dialog.showMessage(titleText, bodyText);
    QCOMPARE(title(dialog)->text(), titleText);
    QCOMPARE(title(dialog)->textFormat(), Qt::PlainText);
    QCOMPARE(text(dialog)->toPlainText(), bodyText);

    // The same through the queue of a visible dialog.
    dialog.showMessage(QStringLiteral("next"), QStringLiteral("next"));
    dialog.showMessage(titleText + QStringLiteral("!"), bodyText + QStringLiteral("!"));
    dialog.showNextMessage();
    QCOMPARE(title(dialog)->text(), titleText + QStringLiteral("!"));
    QCOMPARE(text(dialog)->toPlainText(), bodyText + QStringLiteral("!"));
}

void tst_MessageDialog::buttonReactions_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("resultCode");

    QTest::newRow("OK") << QStringLiteral("pushButton_MsgOK")
                        << QStringList { QStringLiteral("ok"), QStringLiteral("closed") } << 1;
    QTest::newRow("restore") << QStringLiteral("pushButton_MsgRestore")
                             << QStringList { QStringLiteral("restore"), QStringLiteral("closed") }
                             << 0;
    QTest::newRow("update") << QStringLiteral("pushButton_MsgUpdate")
                            << QStringList { QStringLiteral("update"), QStringLiteral("closed") }
                            << 0;
    QTest::newRow("close") << QStringLiteral("toolButton_Close")
                           << QStringList { QStringLiteral("closed") } << 0;
}

void tst_MessageDialog::buttonReactions()
{
    QFETCH(QString, buttonName);
    QFETCH(QStringList, expected);
    QFETCH(int, resultCode);

    MessageDialog dialog;
    QStringList *log = recordSignals(dialog);
    dialog.showMessage(QStringLiteral("t"), QStringLiteral("x"));
    auto *b = dialog.findChild<QAbstractButton *>(buttonName);
    QVERIFY(b);
    b->click();
    QCOMPARE(*log, expected);
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.result(), resultCode);
}

void tst_MessageDialog::execMessageReturnsWhenDismissed_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("OK button") << QStringLiteral("ok")
                               << QStringList { QStringLiteral("ok"), QStringLiteral("closed") };
    QTest::newRow("close button") << QStringLiteral("close")
                                  << QStringList { QStringLiteral("closed") };
    QTest::newRow("escape key") << QStringLiteral("escape") << QStringList();
}

void tst_MessageDialog::execMessageReturnsWhenDismissed()
{
    QFETCH(QString, how);
    QFETCH(QStringList, expected);

    QWidget parent;
    parent.show();
    MessageDialog dialog(&parent);
    QStringList *log = recordSignals(dialog);
    bool shownDuringExec = false;
    QString titleDuringExec;

    QTimer::singleShot(50, &dialog, [&] {
        shownDuringExec = dialog.isVisible();
        titleDuringExec = title(dialog)->text();
        if (how == QLatin1String("ok"))
            button(dialog, "pushButton_MsgOK")->click();
        else if (how == QLatin1String("close"))
            dialog.findChild<QToolButton *>(QStringLiteral("toolButton_Close"))->click();
        else
            QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    // A safety net, so that a dialog that does not return fails instead of hanging.
    bool hung = false;
    QTimer::singleShot(10000, &dialog, [&] {
        hung = true;
        button(dialog, "pushButton_MsgOK")->click();
    });

    dialog.execMessage(QStringLiteral("Error"), QStringLiteral("Hardware failure!"));
    QVERIFY(!hung);
    QVERIFY(shownDuringExec);
    QCOMPARE(titleDuringExec, QStringLiteral("Error"));
    QCOMPARE(*log, expected);
    QVERIFY(dialog.isHidden());
    QVERIFY(!button(dialog, "pushButton_MsgOK")->isHidden());
    QVERIFY(button(dialog, "pushButton_MsgRestore")->isHidden());
}

// A language change while a message is on screen relabels the buttons, not the message.
void tst_MessageDialog::retranslationKeepsTheMessage()
{
    MessageDialog dialog;
    dialog.showMessage(
        QStringLiteral("Corvane Firmware Tool"), QStringLiteral("Update successfully!"));
    dialog.retranslateUi();
    QCOMPARE(title(dialog)->text(), QStringLiteral("Corvane Firmware Tool"));
    QCOMPARE(text(dialog)->toPlainText(), QStringLiteral("Update successfully!"));
    QCOMPARE(button(dialog, "pushButton_MsgOK")->text(), QStringLiteral("OK"));
}

QTEST_MAIN(tst_MessageDialog)
#include "tst_messagedialog.moc"
