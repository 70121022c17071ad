// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick of window-start.sh: a bare widget window of the tool's size with a label and
// a button, on the same toolkit build.
//
//   bench_bare_window [--qt-version]
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
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(520, 708);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Corvane X9"), &window));
    layout->addWidget(new QPushButton(QStringLiteral("Update Firmware"), &window));
    window.show();
    return app.exec();
}
