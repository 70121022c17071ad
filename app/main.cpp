// SPDX-License-Identifier: GPL-3.0-or-later
#include "appidentity.h"
#include "mainwindow.h"
#include "singleapplication.h"

#include <QFontDatabase>
#include <QPointer>
#include <QStringList>
#include <QtDebug>

namespace {

// Registered in this order; a font that fails to load is logged and skipped.
const char *const embeddedFonts[] = {
    ":/fonts/cn-msyh.ttf",
    ":/fonts/en-micross.ttf",
    ":/fonts/jp-msgothic.ttf",
    ":/fonts/ru-consola.ttf",
    ":/fonts/arbutusslab-regular.ttf",
    ":/fonts/FontAwesome.otf",
};

void registerFonts()
{
    for (const char *path : embeddedFonts) {
        const QString fontPath = QString::fromLatin1(path);
        const int id = QFontDatabase::addApplicationFont(fontPath);
        if (id < 0) {
            qWarning().noquote() << fontPath << "could not be loaded!";
            continue;
        }
        qDebug() << "App Font Families:" << id << QFontDatabase::applicationFontFamilies(id);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The instance key is derived here, from the identity the toolkit reports before ours is set.
    SingleApplication app(argc, argv, true, SingleApplication::Option_PerUser, 1000, QString());
    AppIdentity::apply();
    registerFonts();

    // Built in every instance (it installs the saved language); only the primary shows it.
    // A second start never touches the adapter: the running instance may be writing it.
    QPointer<MainWindow> window = new MainWindow(
        nullptr, app.isSecondaryInstance() ? MainWindow::LeaveAdapter : MainWindow::OpenAdapter);

    if (app.isSecondaryInstance()) {
        const QString notice = QObject::tr("Corvane Firmware Tool is already running!");
        app.sendToPrimary(notice.toUtf8(), 100);
        app.quit();
        delete window;
        return 0;
    }

    MainWindow *shown = window;
    QObject::connect(&app, &SingleApplication::instanceStarted, shown, [shown] {
        shown->raise();
        shown->activateWindow();
    });
    QObject::connect(
        &app, &SingleApplication::receivedMessage, shown, [shown](uint, const QByteArray &message) {
            shown->raise();
            shown->activateWindow();
            shown->showMessage(QObject::tr("Message"), QString::fromUtf8(message));
        });

    window->show();
    const int code = app.exec();
    delete window.data();
    return code;
}
