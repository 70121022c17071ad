// SPDX-License-Identifier: GPL-3.0-or-later
// Helper process for the multi-process tests of SingleApplication.
//
//   instancehelper --name NAME [--options N] [--no-secondary] [--send TEXT] [--serve] [--abandon]
//
// Constructs a SingleApplication (secondaries allowed, 1000 ms time-out unless told otherwise)
// under the application name NAME and prints "role primary|secondary NUMBER KEY MS" where MS
// is how long the construction took. Then:
//   --send TEXT  sends TEXT as UTF-8 with a 100 ms time-out and prints "sent 1" or "sent 0";
//   --abandon    ends at once without any clean-up, like a crash;
//   --serve      runs the event loop, printing "started" for instanceStarted() and
//                "message ID HEX" for receivedMessage(); reads commands from standard input:
//                "send TEXT" (prints "sent 0|1") and "quit" (also on end of input).
#include "singleapplication.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray sendLine(SingleApplication &app, const QByteArray &text)
{
    return app.sendToPrimary(text, 100) ? QByteArrayLiteral("sent 1") : QByteArrayLiteral("sent 0");
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QByteArray name;
    QByteArray sendText;
    bool send = false;
    bool serve = false;
    bool abandon = false;
    bool allowSecondary = true;
    int options = SingleApplication::Option_PerUser;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--name" && hasValue) {
            name = argv[++i];
        } else if (arg == "--options" && hasValue) {
            options = QByteArray(argv[++i]).toInt();
        } else if (arg == "--send" && hasValue) {
            send = true;
            sendText = argv[++i];
        } else if (arg == "--no-secondary") {
            allowSecondary = false;
        } else if (arg == "--serve") {
            serve = true;
        } else if (arg == "--abandon") {
            abandon = true;
        } else {
            std::fprintf(stderr, "instancehelper: bad argument %s\n", argv[i]);
            return 2;
        }
    }
    if (name.isEmpty()) {
        std::fprintf(stderr, "instancehelper: --name is required\n");
        return 2;
    }
    QCoreApplication::setApplicationName(QString::fromUtf8(name));

    QElapsedTimer timer;
    timer.start();
    SingleApplication app(argc, argv, allowSecondary, options, 1000, QString());
    const qint64 constructionMs = timer.elapsed();

    say((app.isSecondaryInstance() ? QByteArrayLiteral("role secondary ")
                                   : QByteArrayLiteral("role primary "))
        + QByteArray::number(app.instanceNumber()) + ' ' + app.instanceKey().toLatin1() + ' '
        + QByteArray::number(constructionMs));

#ifdef Q_OS_WIN
    // Windows passes argv in the system's code page; arguments() holds the text as given.
    if (send)
        sendText
            = QCoreApplication::arguments()
                  .value(int(QCoreApplication::arguments().indexOf(QStringLiteral("--send"))) + 1)
                  .toUtf8();
#endif
    if (send)
        say(sendLine(app, sendText));
    if (abandon)
        std::_Exit(0);
    if (!serve)
        return 0;

    QObject::connect(&app, &SingleApplication::instanceStarted, [] { say("started"); });
    QObject::connect(
        &app, &SingleApplication::receivedMessage, [](uint id, const QByteArray &message) {
            say("message " + QByteArray::number(id) + ' ' + message.toHex());
        });

    // Standard input is read on a thread of its own (a socket notifier does not watch a
    // Windows pipe); each command runs in the event loop.
    std::thread([&app] {
        char line[4096];
        while (std::fgets(line, sizeof line, stdin)) {
            QByteArray command(line);
            if (command.endsWith('\n'))
                command.chop(1);
            if (command == "quit")
                break;
            if (command.startsWith("send "))
                QMetaObject::invokeMethod(
                    &app, [&app, command] { say(sendLine(app, command.mid(5))); },
                    Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    }).detach();
    // Never outlive a test that forgot about us.
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);

    const int code = app.exec();
    say("bye");
    return code;
}
