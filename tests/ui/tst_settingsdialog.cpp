// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsdialog.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void adapterModeIsNotAnnounced();
    void userChoiceAnnouncedOnceWhileVisible();
    void unsupportedBootModeHidesChoice();
    void progressFollowsReports();
    void retranslateWhileVisibleKeepsBootMode();
    void buttonsAnnounceRequests();

private:
    static QComboBox *combo(SettingsDialog &d)
    {
        return d.findChild<QComboBox *>(QStringLiteral("comboBox"));
    }
    static QLabel *caption(SettingsDialog &d)
    {
        return d.findChild<QLabel *>(QStringLiteral("label"));
    }
    static QProgressBar *bar(SettingsDialog &d)
    {
        return d.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    }
};

void tst_SettingsDialog::adapterModeIsNotAnnounced()
{
    QWidget parent;
    parent.show();
    SettingsDialog dialog(&parent);
    QSignalSpy spy(&dialog, &SettingsDialog::bootModeChanged);
    QCOMPARE(combo(dialog)->count(), 5);
    QCOMPARE(combo(dialog)->currentIndex(), 0);

    dialog.setBootMode(2, true);
    QCOMPARE(combo(dialog)->currentText(), QStringLiteral("XB360(PC)"));

    // The adapter's mode also arrives while the dialog is open (after a boot-mode write).
    dialog.show();
    dialog.setBootMode(4, true);
    QCOMPARE(combo(dialog)->currentText(), QStringLiteral("UNDEFINE"));
    dialog.setBootMode(0, true);
    QCOMPARE(combo(dialog)->currentIndex(), 0);
    QCOMPARE(spy.count(), 0);
}

void tst_SettingsDialog::userChoiceAnnouncedOnceWhileVisible()
{
    SettingsDialog dialog;
    QSignalSpy spy(&dialog, &SettingsDialog::bootModeChanged);
    dialog.setBootMode(2, true);

    // Hidden: a change of the list is nobody's choice.
    combo(dialog)->setCurrentIndex(1);
    QCOMPARE(spy.count(), 0);

    dialog.show();
    combo(dialog)->setCurrentIndex(3);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    combo(dialog)->setCurrentIndex(3);
    QCOMPARE(spy.count(), 1);

    // Going back to the mode already announced is announced again.
    combo(dialog)->setCurrentIndex(1);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 1);

    // An emptied list is no mode for the adapter.
    combo(dialog)->setCurrentIndex(-1);
    QCOMPARE(spy.count(), 2);
}

void tst_SettingsDialog::unsupportedBootModeHidesChoice()
{
    SettingsDialog dialog;
    QSignalSpy spy(&dialog, &SettingsDialog::bootModeChanged);
    QVERIFY(!combo(dialog)->isHidden());
    QVERIFY(!caption(dialog)->isHidden());

    dialog.setBootMode(1, true);
    dialog.setBootMode(2, false);
    QVERIFY(combo(dialog)->isHidden());
    QVERIFY(caption(dialog)->isHidden());
    QCOMPARE(combo(dialog)->currentIndex(), 1);

    // The stored mode is still 1: choosing 2 is a change and 1 is not.
    dialog.show();
    combo(dialog)->setCurrentIndex(2);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);

    dialog.setBootMode(3, true);
    QVERIFY(!combo(dialog)->isHidden());
    QVERIFY(!caption(dialog)->isHidden());
    QCOMPARE(combo(dialog)->currentIndex(), 3);
    QCOMPARE(spy.count(), 1);
}

void tst_SettingsDialog::progressFollowsReports()
{
    SettingsDialog dialog;
    dialog.show();
    QVERIFY(bar(dialog)->isHidden());

    dialog.setProgress(10, 100);
    QVERIFY(!bar(dialog)->isHidden());
    QCOMPARE(bar(dialog)->maximum(), 100);
    QCOMPARE(bar(dialog)->value(), 10);

    dialog.setProgress(100, 100);
    QVERIFY(bar(dialog)->isHidden());

    // A new operation with another total starts the bar over.
    dialog.setProgress(5, 50);
    QVERIFY(!bar(dialog)->isHidden());
    QCOMPARE(bar(dialog)->maximum(), 50);
    QCOMPARE(bar(dialog)->value(), 5);

    dialog.setProgress(60, 50);
    QVERIFY(bar(dialog)->isHidden());
    dialog.setProgress(0, 0);
    QVERIFY(bar(dialog)->isHidden());

    // Totals beyond the bar's int range keep their proportion.
    const qlonglong big = qlonglong(1) << 40;
    dialog.setProgress(big / 4 * 3, big);
    QVERIFY(!bar(dialog)->isHidden());
    QVERIFY(bar(dialog)->maximum() > 0);
    QCOMPARE(qRound(100.0 * bar(dialog)->value() / bar(dialog)->maximum()), 75);
    dialog.setProgress(big - 1, big);
    QVERIFY(!bar(dialog)->isHidden());
    dialog.setProgress(big, big);
    QVERIFY(bar(dialog)->isHidden());
}

void tst_SettingsDialog::retranslateWhileVisibleKeepsBootMode()
{
    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":/translations/CorvaneFirmwareTool_en_EN.qm")));

    SettingsDialog dialog;
    QSignalSpy spy(&dialog, &SettingsDialog::bootModeChanged);
    dialog.setBootMode(3, true);
    dialog.show();

    QCoreApplication::installTranslator(&english);
    dialog.retranslateUi();
    QCoreApplication::removeTranslator(&english);

    QCOMPARE(spy.count(), 0);
    QCOMPARE(combo(dialog)->count(), 5);
    QCOMPARE(combo(dialog)->currentIndex(), 3);
    QCOMPARE(
        caption(dialog)->text(), english.translate("SettingsDialog", "Boot Mode(No Controller):"));
    QCOMPARE(combo(dialog)->itemText(4), english.translate("SettingsDialog", "UNDEFINE"));
    QVERIFY(combo(dialog)->itemText(4) != QLatin1String("UNDEFINE"));

    // A mode picked by the user before the refresh stays picked too.
    combo(dialog)->setCurrentIndex(1);
    QCOMPARE(spy.count(), 1);
    dialog.retranslateUi();
    QCOMPARE(combo(dialog)->currentIndex(), 1);
    QCOMPARE(combo(dialog)->itemText(4), QStringLiteral("UNDEFINE"));
    QCOMPARE(spy.count(), 1);
}

void tst_SettingsDialog::buttonsAnnounceRequests()
{
    SettingsDialog dialog;
    QSignalSpy backup(&dialog, &SettingsDialog::dataBackup);
    QSignalSpy restore(&dialog, &SettingsDialog::dataRestore);
    QSignalSpy closed(&dialog, &SettingsDialog::closed);
    QCOMPARE(dialog.windowFlags(), Qt::Dialog | Qt::FramelessWindowHint);
    dialog.show();

    auto *backupButton = dialog.findChild<QPushButton *>(QStringLiteral("pushButton_DataBackup"));
    auto *restoreButton = dialog.findChild<QPushButton *>(QStringLiteral("pushButton_DataRestore"));
    backupButton->click();
    restoreButton->click();
    QCOMPARE(backup.count(), 1);
    QCOMPARE(restore.count(), 1);
    QVERIFY(dialog.isVisible());

    dialog.setDataRestoreVisible(false);
    QVERIFY(restoreButton->isHidden());
    QVERIFY(!backupButton->isHidden());

    dialog.findChild<QToolButton *>(QStringLiteral("toolButton_Close"))->click();
    QCOMPARE(closed.count(), 1);
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.result(), 0);
}

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
