// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick of window-start.sh: a bare widget window of the tool's size with a label and
// a button, on the same toolkit build.
//
//   bench_bare_window [--qt-version | --raster-widgets]
//
// --raster-widgets  top-level widgets draw with the processor alone, as the tool's do: Qt 5
//                   then does not load the display's OpenGL driver for the window
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--qt-version") == 0) {
        std::printf("%s\n", qVersion());
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--raster-widgets") == 0)
        QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(520, 708);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Corvane X9"), &window));
    layout->addWidget(new QPushButton(QStringLiteral("Update Firmware"), &window));
    window.show();
    return app.exec();
}
