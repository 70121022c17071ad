// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the three pages of the main window form and both dialogs with sample texts, the
// style sheet, the embedded fonts and a chosen language, and saves each view as a PNG.
//   corvane-screenshots OUTPUT_DIR [LANGUAGE_INDEX]

#include "corvaneversion.h"
#include "embeddedfonts.h"
#include "framelesswidget.h"
#include "messagedialog.h"
#include "settingsdialog.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QMovie>
#include <QScreen>
#include <QTextStream>
#include <QThread>
#include <QTranslator>

namespace {

struct Language
{
    const char *code;
    const char *catalogue;
    const char *family;
};

const Language languages[] = {
    { "en", ":/translations/CorvaneFirmwareTool_en_EN.qm", "Microsoft Sans Serif" },
    { "zh", ":/translations/CorvaneFirmwareTool_zh_CN.qm", "DengXian" },
    { "ja", ":/translations/CorvaneFirmwareTool_ja_JP.qm", "Kochi Gothic" },
    { "ru", ":/translations/CorvaneFirmwareTool_ru_RU.qm", "Consolas" },
    { "fr", ":/translations/CorvaneFirmwareTool_fr_FR.qm", "Arbutus Slab" },
};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Lets the event loop paint and the busy animation run for a moment.
void settle(int ms = 250)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool save(const QPixmap &pixmap, const QString &path)
{
    if (pixmap.isNull() || !pixmap.save(path)) {
        err() << "could not save " << path << Qt::endl;
        return false;
    }
    QTextStream(stdout) << path << Qt::endl;
    return true;
}

// The screen area of the window, so that dialogs shown over it are in the picture too.
QPixmap grabScreenArea(const QWidget &window)
{
    QScreen *screen = window.screen();
    const QRect area = window.frameGeometry();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Corvane X9 Firmware Tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        err() << "usage: corvane-screenshots OUTPUT_DIR [LANGUAGE_INDEX]" << Qt::endl;
        return 2;
    }
    const QString outDir = args.at(1);
    const int languageIndex = args.size() > 2 ? args.at(2).toInt() : 0;
    if (languageIndex < 0 || languageIndex >= int(std::size(languages))) {
        err() << "language index must be 0 to 4" << Qt::endl;
        return 2;
    }
    const Language &language = languages[languageIndex];
    QDir().mkpath(outDir);

    if (!EmbeddedFonts::registerAll())
        return 1;
    QApplication::setFont(QFont(QLatin1String(language.family)));
    QTranslator translator;
    if (!translator.load(QLatin1String(language.catalogue)))
        err() << "no catalogue " << language.catalogue << Qt::endl;
    QCoreApplication::installTranslator(&translator);

    FramelessWidget window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    QFile style(QStringLiteral(":/ui/style.qss"));
    if (!style.open(QIODevice::ReadOnly)) {
        err() << "style sheet missing from the resources" << Qt::endl;
        return 1;
    }
    window.setStyleSheet(QString::fromUtf8(style.readAll()));

    // Sample state, as the window shows it with an adapter and a synced catalogue.
    QMovie movie(QStringLiteral(":/images/loading.gif"));
    movie.setScaledSize(QSize(168, 168));
    ui.label_Busying->setMovie(&movie);
    movie.start();
    ui.comboBox_Version->setView(new QListView(ui.comboBox_Version));
    ui.comboBox_Version->addItems(
        { QStringLiteral("5.6.0"), QStringLiteral("5.5.30"), QStringLiteral("5.5.24") });
    ui.comboBox_Languages->setCurrentIndex(languageIndex);
    ui.label_Title->setText(QStringLiteral("%1 v%2").arg(
        QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    ui.label_ProductConnected->setText(QStringLiteral("3f2a9c01b7d4e6005a81c2ff"));
    ui.label_CurrentVersion->setText(QStringLiteral("%1 | %2").arg(
        QCoreApplication::translate("MainWindow", "Current Firmware Version"),
        QStringLiteral("5.5.30")));
    ui.progressBar->hide();
    ui.toolButton_Settings->hide();
    ui.pushButton_Restore->hide();

    window.move(40, 40);
    window.show();
    settle(600);

    const QString prefix = outDir + QLatin1Char('/');
    bool ok = save(window.grab(), prefix + QStringLiteral("1-start.png"));

    ui.stackedWidget->setCurrentIndex(1);
    settle();
    ok &= save(window.grab(), prefix + QStringLiteral("2-unconnected.png"));

    ui.toolButton_Network->setEnabled(false);
    settle();
    ok &= save(window.grab(), prefix + QStringLiteral("2-unconnected-offline.png"));
    ui.toolButton_Network->setEnabled(true);

    ui.stackedWidget->setCurrentIndex(2);
    settle();
    ok &= save(window.grab(), prefix + QStringLiteral("3-connected.png"));

    // An update in progress: controls disabled, progress bar shown.
    ui.label_CurrentVersion->setText(ui.pushButton_Update->text() + QStringLiteral("..."));
    ui.progressBar->setMaximum(1000);
    ui.progressBar->setValue(420);
    ui.progressBar->show();
    for (QWidget *w : { static_cast<QWidget *>(ui.comboBox_Version),
             static_cast<QWidget *>(ui.pushButton_Update) })
        w->setEnabled(false);
    settle();
    ok &= save(window.grab(), prefix + QStringLiteral("4-connected-updating.png"));
    ui.progressBar->hide();
    ui.comboBox_Version->setEnabled(true);
    ui.pushButton_Update->setEnabled(true);

    // Every control shown, including the two that the window hides.
    ui.toolButton_Settings->show();
    ui.pushButton_Restore->show();
    ui.label_CurrentVersion->setText(QStringLiteral("%1 | %2").arg(
        QCoreApplication::translate("MainWindow", "Current Firmware Version"),
        QStringLiteral("5.5.30")));
    settle();
    ok &= save(window.grab(), prefix + QStringLiteral("5-connected-all-controls.png"));

    MessageDialog message(&window);
    message.retranslateUi();
    message.showMessage(QCoreApplication::translate("MainWindow", "Corvane Firmware Tool"),
        QCoreApplication::translate("MainWindow", "Update successfully!"));
    settle(400);
    ok &= save(message.grab(), prefix + QStringLiteral("6-message.png"));
    ok &= save(grabScreenArea(window), prefix + QStringLiteral("6-message-over-window.png"));
    message.hide();

    message.showMessage(QCoreApplication::translate("MainWindow", "Version Change LOG"),
        QStringLiteral("5.6.0\nFaster pairing with wireless controllers.\n"
                       "Boot mode kept across power cycles.\n"
                       "Fixed a rare stutter of the status LED."));
    settle(400);
    ok &= save(message.grab(), prefix + QStringLiteral("7-message-changelog.png"));
    message.hide();

    SettingsDialog settings(&window);
    settings.retranslateUi();
    settings.setBootMode(2, true);
    settings.show();
    settle(400);
    ok &= save(settings.grab(), prefix + QStringLiteral("8-settings.png"));
    settings.setProgress(35, 100);
    settle();
    ok &= save(grabScreenArea(window), prefix + QStringLiteral("8-settings-over-window.png"));
    settings.hide();

    return ok ? 0 : 1;
}
