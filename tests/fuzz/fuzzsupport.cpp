// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzzsupport.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

namespace {

    void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
            std::abort();
        }
    }

} // namespace

void initialise()
{
    static int argc = 1;
    static char name[] = "corvane-fuzz";
    static char *argv[] = { name, nullptr };
    if (!QCoreApplication::instance()) {
        qInstallMessageHandler(quietHandler);
        new QCoreApplication(argc, argv);
    }
}

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

} // namespace FuzzSupport
