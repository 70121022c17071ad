// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding time of the largest firmware image an update takes (983,040-byte payload): in
// process, as the `corvane-cli inspect` process, and as `openssl enc -d -a -aes-128-ecb`
// without AES-NI.
//
// Usage: bench_decode [--runs N] [--cli PATH] [--script PATH]
// Wall time and CPU time (user + system) are both reported: on a busy machine the CPU time
// is the steadier measure.

#include "firmwareimage.h"
#include "updatejobs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <vector>

#ifndef CORVANE_CLI_PATH
#define CORVANE_CLI_PATH "corvane-cli"
#endif
#ifndef CORVANE_SOURCE_DIR
#define CORVANE_SOURCE_DIR "."
#endif

namespace {

constexpr int PayloadLength = int(UpdateJobs::MaxUpdatePayload);

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

struct Timing
{
    double median = 0; // wall clock, ms
    double best = 0;
    double cpuMedian = 0; // user + system, ms
};

double timevalMs(const timeval &t)
{
    return t.tv_sec * 1e3 + t.tv_usec / 1e3;
}

// CPU time of this process, or of its ended child processes.
double cpuMs(bool children)
{
    if (children) {
        rusage usage {};
        getrusage(RUSAGE_CHILDREN, &usage);
        return timevalMs(usage.ru_utime) + timevalMs(usage.ru_stime);
    }
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs body `runs` times; false as soon as one run fails.
bool measure(int runs, bool childProcess, const std::function<bool()> &body, Timing *timing)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const double cpuStart = cpuMs(childProcess);
        QElapsedTimer timer;
        timer.start();
        if (!body())
            return false;
        wall.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(cpuMs(childProcess) - cpuStart);
    }
    timing->median = median(wall);
    timing->best = *std::min_element(wall.begin(), wall.end());
    timing->cpuMedian = median(cpu);
    return true;
}

bool runProcess(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        out() << "failed: " << program << ' ' << arguments.join(QLatin1Char(' ')) << '\n'
              << process.readAllStandardError() << Qt::endl;
        return false;
    }
    return true;
}

void report(const char *what, const Timing &t)
{
    out() << QStringLiteral("%1 wall median %2 ms, best %3 ms; CPU median %4 ms")
                 .arg(QLatin1String(what), -34)
                 .arg(t.median, 0, 'f', 2)
                 .arg(t.best, 0, 'f', 2)
                 .arg(t.cpuMedian, 0, 'f', 2)
          << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 15;
    QString cli = QStringLiteral(CORVANE_CLI_PATH);
    QString script = QStringLiteral(CORVANE_SOURCE_DIR "/tools/scripts/make-firmware.sh");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs"))
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--cli"))
            cli = args[i + 1];
        else if (args[i] == QLatin1String("--script"))
            script = args[i + 1];
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QByteArray payload(PayloadLength, Qt::Uninitialized);
    QRandomGenerator rng(20240607);
    for (char &b : payload)
        b = char(rng.bounded(256));
    const QString payloadPath = dir.filePath(QStringLiteral("payload.bin"));
    const QString imagePath = dir.filePath(QStringLiteral("Firmware_V9.9.9.rfw"));
    {
        QFile file(payloadPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size())
            return 1;
    }
    // Lines of 64 characters, as openssl's own Base64 reader expects them.
    if (!runProcess(QStringLiteral("bash"),
            { script, QStringLiteral("--wrap"), QStringLiteral("64"), QStringLiteral("9.9.9"),
                payloadPath, imagePath }))
        return 1;
    QFile file(imagePath);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray content = file.readAll();
    out() << "image: " << content.size() << " bytes of Base64, payload " << PayloadLength
          << " bytes, " << runs << " runs each" << Qt::endl;

    const FirmwareImage check = decodeFirmwareImage(content);
    if (!check.isValid() || check.payload != payload) {
        out() << "the image does not decode to its payload" << Qt::endl;
        return 1;
    }

    const auto decodeOnce = [&] {
        return decodeFirmwareImage(content).isValid();
    };
    Timing decode;
    measure(runs, false, decodeOnce, &decode);
    report("decodeFirmwareImage (in process)", decode);

    QProcessEnvironment noAesNi = QProcessEnvironment::systemEnvironment();
    noAesNi.insert(QStringLiteral("OPENSSL_ia32cap"), QStringLiteral("~0x200000200000000"));
    const QStringList opensslArguments { QStringLiteral("enc"), QStringLiteral("-d"),
        QStringLiteral("-a"), QStringLiteral("-aes-128-ecb"), QStringLiteral("-K"),
        QString::fromLatin1(FirmwareImage::cipherKey().toHex()), QStringLiteral("-in"), imagePath };
    const auto opensslOnce = [&] {
        return runProcess(QStringLiteral("openssl"), opensslArguments, noAesNi);
    };
    Timing openssl;
    if (!measure(runs, true, opensslOnce, &openssl))
        return 1;
    report("openssl enc -d -a (no AES-NI)", openssl);

    const auto inspectOnce = [&] {
        return runProcess(cli, { QStringLiteral("inspect"), imagePath });
    };
    Timing inspect;
    if (!measure(runs, true, inspectOnce, &inspect))
        return 1;
    report("corvane-cli inspect (process)", inspect);

    out() << QStringLiteral("inspect / openssl: wall %1, CPU %2 (target at most 2.00)")
                 .arg(inspect.median / openssl.median, 0, 'f', 2)
                 .arg(inspect.cpuMedian / openssl.cpuMedian, 0, 'f', 2)
          << Qt::endl;
    return 0;
}
