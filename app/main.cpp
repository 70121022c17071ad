// SPDX-License-Identifier: GPL-3.0-or-later
#include "appidentity.h"
#include "logcategories.h"
#include "logfile.h"
#include "mainwindow.h"
#include "safetext.h"
#include "singleapplication.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QtDebug>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// --version and --help are answered before the application object exists, so they work
// without a display and never reach a running instance. Returns true when one was answered.
bool answeredInformationOption(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("corvane-firmware-tool %s\n", CORVANE_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: corvane-firmware-tool [--version] [--help] [Qt options]\n"
                        "Shows the Corvane X9 adapter and updates its firmware.\n"
                        "The command-line front is corvane-cli; see corvane-firmware-tool(1).\n");
            return true;
        }
    }
    return false;
}

// The window has a fixed size. On a screen whose available height, at the screen's scale
// factor, is smaller than the window, a global factor below 1 makes it fit instead of running
// off the bottom. Returns that factor for the application object's primary screen, or 1 where
// the window fits or the user set a factor of their own.
double factorToFitScreen()
{
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        return 1.0;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0;
    const int available = screen->availableGeometry().height();
    if (available <= 0 || available >= MainWindow::FixedHeight)
        return 1.0;
    return std::floor(100.0 * available / MainWindow::FixedHeight) / 100.0;
}

QtMessageHandler qtMessageHandler = nullptr;

// Log lines carry texts from the catalogue server (its error texts among them): they reach
// the terminal or the journal with nothing in them that a terminal would act on.
void safeMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (qtMessageHandler)
        qtMessageHandler(type, context, SafeText::shown(message));
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredInformationOption(argc, argv))
        return 0;
    // Shown on standard error as ever, and kept for a bug report; debug lines only when
    // QT_LOGGING_RULES asks for them. Every line is made safe before either sees it.
    LogFile::install(QStringLiteral("corvane-firmware-tool"));
    qtMessageHandler = qInstallMessageHandler(safeMessageHandler);
    QLoggingCategory::setFilterRules(QStringLiteral("corvane.*.debug=false"));
    qCInfo(lcUi) << "corvane-firmware-tool" << CORVANE_VERSION << "started";

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Scale the fixed-size window, its pixel-sized style and its pictures (picking their @2x
    // files) by the screen's scale factor. Read when the application object is built, so set
    // before it. Qt 6 scales by default and deprecates both attributes.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    // The window draws with the processor alone. Without this, Qt 5 loads the display's OpenGL
    // driver as it creates the window on X11, which takes longer than building the window.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    // The screen's own factor (1.5 at 150 %), not rounded to a whole one; Qt 6's default.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    // The application object takes Qt's own options out of the list it is given: it gets a
    // copy, and the list stays whole for a second one.
    std::vector<char *> arguments(argv, argv + argc);
    arguments.push_back(nullptr);
    int argumentCount = argc;
    // The instance key is derived here, from the identity the toolkit reports before ours is set.
    auto app = std::make_unique<SingleApplication>(
        argumentCount, arguments.data(), true, SingleApplication::Option_PerUser, 1000, QString());
    if (!app->isSecondaryInstance()) {
        // The global factor is read when an application object is built, and only one knows
        // the screen: a screen too low for the window, the rare case, costs a second one.
        const double factor = factorToFitScreen();
        if (factor < 1.0) {
            app.reset();
            qputenv("QT_SCALE_FACTOR", QByteArray::number(factor, 'f', 2));
            qCInfo(lcUi) << "window scaled to fit the screen:" << factor;
            app = std::make_unique<SingleApplication>(
                argc, argv, true, SingleApplication::Option_PerUser, 1000, QString());
        }
    }
    AppIdentity::apply();
    // Lets Wayland compositors match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.corvane.FirmwareTool"));

    // Built in every instance (it installs the saved language); only the primary shows it.
    // A second start never touches the adapter: the running instance may be writing it.
    QPointer<MainWindow> window = new MainWindow(
        nullptr, app->isSecondaryInstance() ? MainWindow::LeaveAdapter : MainWindow::OpenAdapter);

    if (app->isSecondaryInstance()) {
        const QString notice = QObject::tr("Corvane Firmware Tool is already running!");
        app->sendToPrimary(notice.toUtf8(), 100);
        app->quit();
        delete window;
        return 0;
    }

    MainWindow *shown = window;
    QObject::connect(app.get(), &SingleApplication::instanceStarted, shown, [shown] {
        shown->raise();
        shown->activateWindow();
    });
    QObject::connect(app.get(), &SingleApplication::receivedMessage, shown,
        [shown](uint, const QByteArray &message) {
            shown->raise();
            shown->activateWindow();
            shown->showMessage(QObject::tr("Message"), QString::fromUtf8(message));
        });

    window->show();
    const int code = app->exec();
    delete window.data();
    return code;
}
