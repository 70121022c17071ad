// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-emulator: prepares and inspects the state file of the emulated adapter, which
// programs built with the emulator load when CORVANE_EMULATOR_STATE names it.
#include "adapteremulator.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <limits>

namespace {

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

constexpr quint32 FirmwareInfoAddress = 0x08004000;
constexpr quint32 BootModeAddress = FirmwareInfoAddress + 0x82;
constexpr qint64 MaxDumpLength = 16 * 1024 * 1024;

const char Usage[]
    = "Usage: corvane-emulator [--state PATH] [--adapter N] COMMAND [ARGUMENTS]\n"
      "Prepares and inspects the emulated Corvane X9 kept in a state file, or several\n"
      "adapters kept in a state directory, one file each (default: $CORVANE_EMULATOR_STATE).\n"
      "Commands act on every adapter of a directory, or with --adapter on the Nth (from 1).\n"
      "\n"
      "Commands:\n"
      "  init [--count N] [--version X.Y.Z] [--uid 24HEX] [--boot-mode N]\n"
      "                           adapters as an update leaves them (firmware 5.6.0 with a\n"
      "                           40000-byte sample payload by default) with a factory-fresh\n"
      "                           configuration (boot mode 0 by default);\n"
      "                           --count N (1-32) makes PATH a directory of N adapters with\n"
      "                           distinct serial numbers and device paths\n"
      "  attach | detach          plug the adapter in or pull it out\n"
      "  show                     unique id, firmware version, attached state, faults\n"
      "  dump ADDRESS LENGTH      adapter memory in hexadecimal\n"
      "  fault NAME VALUE         inject a fault: unplugAtExchange, corruptEchoAtWrite,\n"
      "                           refuseErase (0/1), wrongCodeAtExchange, wrongAddressAtExchange,\n"
      "                           wrongLengthAtExchange, shortReportAtExchange, stallAtExchange,\n"
      "                           eraseMsPer128KiB (milliseconds an erase takes per 128 KiB\n"
      "                           sector, smaller sectors in proportion; 0-60000)\n"
      "  fault clear              remove every fault and the latency\n"
      "  latency MICROSECONDS     delay per report written and read\n";

void printOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "corvane-emulator: %s\n", message.toLocal8Bit().constData());
    std::fputs("Try 'corvane-emulator --help'.\n", stderr);
    return ExitUsage;
}

int failure(const QString &message)
{
    std::fprintf(stderr, "corvane-emulator: %s\n", message.toLocal8Bit().constData());
    return ExitFailed;
}

bool parseNumber(const QString &text, qint64 min, qint64 max, qint64 *out)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 0);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool parseVersion(const QString &text, quint8 out[3])
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint v = parts.at(i).toUInt(&ok, 10);
        if (!ok || v > 255)
            return false;
        out[i] = quint8(v);
    }
    return true;
}

// The fault fields that `fault NAME VALUE` sets, by name.
struct FaultField
{
    const char *name;
    qint64 AdapterEmulator::Faults::*field;
};

const FaultField FaultFields[] = {
    { "unplugAtExchange", &AdapterEmulator::Faults::unplugAtExchange },
    { "corruptEchoAtWrite", &AdapterEmulator::Faults::corruptEchoAtWrite },
    { "wrongCodeAtExchange", &AdapterEmulator::Faults::wrongCodeAtExchange },
    { "wrongAddressAtExchange", &AdapterEmulator::Faults::wrongAddressAtExchange },
    { "wrongLengthAtExchange", &AdapterEmulator::Faults::wrongLengthAtExchange },
    { "shortReportAtExchange", &AdapterEmulator::Faults::shortReportAtExchange },
    { "stallAtExchange", &AdapterEmulator::Faults::stallAtExchange },
};

// The settings of init.
struct InitOptions
{
    quint8 version[3] = { 5, 6, 0 };
    QByteArray uid;
    qint64 bootMode = 0;
    qint64 count = 0; // 0: not given
};

int parseInit(const QStringList &args, InitOptions *options)
{
    quint8 *version = options->version;
    QByteArray &uid = options->uid;
    qint64 &bootMode = options->bootMode;
    for (int i = 0; i < args.size(); ++i) {
        const QString &option = args.at(i);
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("init: %1 needs a value").arg(option));
        const QString value = args.at(++i);
        if (option == QLatin1String("--count")) {
            if (!parseNumber(value, 1, AdapterEmulator::MaxAdapters, &options->count))
                return usageError(QStringLiteral("init: bad count '%1' (1-%2)")
                                      .arg(value)
                                      .arg(AdapterEmulator::MaxAdapters));
        } else if (option == QLatin1String("--version")) {
            if (!parseVersion(value, version))
                return usageError(
                    QStringLiteral("init: bad version '%1' (X.Y.Z, each 0-255)").arg(value));
        } else if (option == QLatin1String("--uid")) {
            uid = QByteArray::fromHex(value.toLatin1());
            if (value.size() != 24 || uid.size() != 12 || uid.toHex() != value.toLatin1().toLower())
                return usageError(
                    QStringLiteral("init: bad unique id '%1' (24 hexadecimal digits)").arg(value));
        } else if (option == QLatin1String("--boot-mode")) {
            if (!parseNumber(value, 0, 255, &bootMode))
                return usageError(QStringLiteral("init: bad boot mode '%1' (0-255)").arg(value));
        } else {
            return usageError(QStringLiteral("init: unknown option '%1'").arg(option));
        }
    }
    if (!uid.isEmpty() && options->count > 1)
        return usageError(
            QStringLiteral("init: --uid names one adapter, not %1").arg(options->count));
    return ExitOk;
}

// Adapter number `number` (from 1) of a set: its own serial number.
void initAdapter(const InitOptions &options, int number)
{
    AdapterEmulator::reset();
    QByteArray uid = options.uid;
    if (uid.isEmpty()) {
        uid = AdapterEmulator::uniqueId();
        uid[0] = char(number - 1);
    }
    AdapterEmulator::setUniqueId(uid);
    const quint8 *version = options.version;
    AdapterEmulator::seedUpdatedAdapter(
        version[0], version[1], version[2], quint8(options.bootMode));
}

// init on a directory: N state files named adapter-1.state ... adapter-N.state, and no others.
int initDirectory(const QString &directory, const InitOptions &options)
{
    if (!QDir().mkpath(directory))
        return failure(QStringLiteral("cannot make the directory %1").arg(directory));
    const QStringList before = AdapterEmulator::stateFiles(directory);
    const int count = options.count > 0 ? int(options.count) : qMax(1, int(before.size()));
    QStringList written;
    for (int n = 1; n <= count; ++n) {
        const QString path = QDir(directory).filePath(QStringLiteral("adapter-%1.state").arg(n));
        initAdapter(options, n);
        if (!AdapterEmulator::saveState(path))
            return failure(QStringLiteral("cannot write %1").arg(path));
        written.append(path);
    }
    for (const QString &path : before) {
        if (!written.contains(path) && !QFile::remove(path))
            return failure(QStringLiteral("cannot remove %1").arg(path));
    }
    return ExitOk;
}

int commandShow()
{
    const QByteArray record = AdapterEmulator::memory(FirmwareInfoAddress, 256);
    QString version = QStringLiteral("none");
    // Byte 4 is the firmware address's top byte where bytes 5-7 hold the version, and 0 in
    // the factory record of earlier tools (version in bytes 1-3, 0x55 0xAA at 0x40).
    const int at = quint8(record.at(4)) == 0 && quint8(record.at(0x40)) == 0x55
            && quint8(record.at(0x41)) == 0xAA
        ? 1
        : quint8(record.at(255)) == 0xAA ? 5
                                         : -1;
    if (quint8(record.at(0)) == 0x55 && at > 0)
        version = QStringLiteral("%1.%2.%3")
                      .arg(quint8(record.at(at)))
                      .arg(quint8(record.at(at + 1)))
                      .arg(quint8(record.at(at + 2)));
    const AdapterEmulator::Faults f = AdapterEmulator::faults();
    QString out;
    out += QStringLiteral("unique id: %1\n")
               .arg(QString::fromLatin1(AdapterEmulator::uniqueId().toHex()));
    out += QStringLiteral("version: %1\n").arg(version);
    out += QStringLiteral("attached: %1\n")
               .arg(AdapterEmulator::isAttached() ? QStringLiteral("yes") : QStringLiteral("no"));
    out += QStringLiteral("boot mode: %1\n")
               .arg(quint8(AdapterEmulator::memory(BootModeAddress, 1).at(0)));
    for (const FaultField &field : FaultFields) {
        if (f.*field.field != -1)
            out += QStringLiteral("%1: %2\n").arg(QLatin1String(field.name)).arg(f.*field.field);
    }
    if (f.refuseErase)
        out += QStringLiteral("refuseErase: 1\n");
    if (f.eraseMsPer128KiB)
        out += QStringLiteral("eraseMsPer128KiB: %1\n").arg(f.eraseMsPer128KiB);
    out += QStringLiteral("latency: %1\n").arg(f.latencyUsPerReport);
    printOut(out);
    return ExitOk;
}

int commandDump(const QStringList &args)
{
    if (args.size() != 2)
        return usageError(QStringLiteral("dump needs ADDRESS and LENGTH"));
    qint64 address = 0;
    qint64 length = 0;
    if (!parseNumber(args.at(0), 0, 0xFFFFFFFFLL, &address))
        return usageError(QStringLiteral("dump: bad address '%1'").arg(args.at(0)));
    if (!parseNumber(args.at(1), 0, qMin<qint64>(MaxDumpLength, 0x100000000LL - address), &length))
        return usageError(QStringLiteral("dump: bad length '%1'").arg(args.at(1)));
    const QByteArray bytes = AdapterEmulator::memory(quint32(address), quint32(length));
    QByteArray out;
    for (int i = 0; i < bytes.size(); i += 16) {
        out += QByteArray::number(quint32(address + i), 16).rightJustified(8, '0');
        out += ": ";
        out += bytes.mid(i, 16).toHex(' ');
        out += '\n';
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return ExitOk;
}

int commandFault(const QStringList &args)
{
    if (args.size() == 1 && args.at(0) == QLatin1String("clear")) {
        AdapterEmulator::setFaults(AdapterEmulator::Faults());
        return ExitOk;
    }
    if (args.size() != 2)
        return usageError(QStringLiteral("fault needs NAME VALUE, or clear"));
    AdapterEmulator::Faults f = AdapterEmulator::faults();
    const QString &name = args.at(0);
    const QString &value = args.at(1);
    if (name == QLatin1String("refuseErase")) {
        qint64 v = 0;
        if (!parseNumber(value, 0, 1, &v))
            return usageError(QStringLiteral("fault refuseErase takes 0 or 1"));
        f.refuseErase = v != 0;
    } else if (name == QLatin1String("eraseMsPer128KiB")) {
        qint64 v = 0;
        if (!parseNumber(value, 0, 60000, &v))
            return usageError(QStringLiteral("fault eraseMsPer128KiB takes 0-60000"));
        f.eraseMsPer128KiB = int(v);
    } else {
        const FaultField *match = nullptr;
        for (const FaultField &field : FaultFields) {
            if (name == QLatin1String(field.name))
                match = &field;
        }
        if (!match)
            return usageError(QStringLiteral("unknown fault '%1'").arg(name));
        qint64 v = 0;
        if (!parseNumber(value, -1, std::numeric_limits<qint64>::max(), &v) || v == 0)
            return usageError(
                QStringLiteral("fault %1: bad value '%2' (1-based number, -1 for off)")
                    .arg(name, value));
        f.*match->field = v;
    }
    AdapterEmulator::setFaults(f);
    return ExitOk;
}

int commandLatency(const QStringList &args)
{
    qint64 us = 0;
    if (args.size() != 1 || !parseNumber(args.at(0), 0, 10 * 1000 * 1000, &us))
        return usageError(QStringLiteral("latency needs MICROSECONDS (0-10000000)"));
    AdapterEmulator::Faults f = AdapterEmulator::faults();
    f.latencyUsPerReport = int(us);
    AdapterEmulator::setFaults(f);
    return ExitOk;
}

// Runs command on the adapter kept in path; header, when not empty, comes before its output.
int runOnAdapter(
    const QString &command, const QStringList &args, const QString &path, const QString &header)
{
    const bool inspectOnly = command == QLatin1String("show") || command == QLatin1String("dump");
    if (QFileInfo::exists(path)) {
        if (!AdapterEmulator::loadState(path))
            return failure(QStringLiteral("%1 is not a valid state file").arg(path));
    } else if (inspectOnly) {
        return failure(QStringLiteral("%1 does not exist (run init first)").arg(path));
    } else {
        AdapterEmulator::reset();
    }
    if (!header.isEmpty())
        printOut(header);

    int result = ExitOk;
    if (command == QLatin1String("show"))
        result = args.isEmpty() ? commandShow()
                                : usageError(QStringLiteral("show takes no arguments"));
    else if (command == QLatin1String("dump"))
        result = commandDump(args);
    else if (command == QLatin1String("fault"))
        result = commandFault(args);
    else if (command == QLatin1String("latency"))
        result = commandLatency(args);
    else if (!args.isEmpty())
        result = usageError(QStringLiteral("%1 takes no arguments").arg(command));
    else
        AdapterEmulator::setAttached(command == QLatin1String("attach"));

    if (result != ExitOk || inspectOnly)
        return result;
    if (!AdapterEmulator::saveState(path))
        return failure(QStringLiteral("cannot write %1").arg(path));
    return ExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    QString statePath = QFile::decodeName(qgetenv("CORVANE_EMULATOR_STATE"));
    qint64 adapterNumber = 0;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--help")) {
            std::fputs(Usage, stdout);
            return ExitOk;
        }
        if (option != QLatin1String("--state") && option != QLatin1String("--adapter"))
            return usageError(QStringLiteral("unknown option '%1'").arg(option));
        if (args.isEmpty())
            return usageError(QStringLiteral("%1 needs a value").arg(option));
        const QString value = args.takeFirst();
        if (option == QLatin1String("--state"))
            statePath = value;
        else if (!parseNumber(value, 1, AdapterEmulator::MaxAdapters, &adapterNumber))
            return usageError(QStringLiteral("--adapter needs a number from 1 to %1, not '%2'")
                                  .arg(AdapterEmulator::MaxAdapters)
                                  .arg(value));
    }
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (args.contains(QLatin1String("--help"))) {
        std::fputs(Usage, stdout);
        return ExitOk;
    }

    const bool known = QStringList { QStringLiteral("init"), QStringLiteral("attach"),
        QStringLiteral("detach"), QStringLiteral("show"), QStringLiteral("dump"),
        QStringLiteral("fault"), QStringLiteral("latency") }
                           .contains(command);
    if (!known)
        return usageError(QStringLiteral("unknown command '%1'").arg(command));
    if (statePath.isEmpty())
        return usageError(QStringLiteral("no state file: give --state PATH or set "
                                         "CORVANE_EMULATOR_STATE"));

    const bool directory = QFileInfo(statePath).isDir();
    if (command == QLatin1String("init")) {
        InitOptions options;
        const int parsed = parseInit(args, &options);
        if (parsed != ExitOk)
            return parsed;
        if (adapterNumber > 0)
            return usageError(QStringLiteral("init makes every adapter; --adapter does not apply"));
        if (directory || options.count > 1)
            return QFileInfo(statePath).exists() && !directory
                ? usageError(QStringLiteral("%1 is a state file, which holds one adapter; give a "
                                            "directory for --count %2")
                                 .arg(statePath)
                                 .arg(options.count))
                : initDirectory(statePath, options);
        initAdapter(options, 1);
        return AdapterEmulator::saveState(statePath)
            ? int(ExitOk)
            : failure(QStringLiteral("cannot write %1").arg(statePath));
    }

    if (!directory) {
        if (adapterNumber > 1)
            return failure(QStringLiteral("%1 holds one adapter").arg(statePath));
        return runOnAdapter(command, args, statePath, QString());
    }
    const QStringList files = AdapterEmulator::stateFiles(statePath);
    if (adapterNumber > files.size())
        return failure(QStringLiteral("%1 holds %2 adapters").arg(statePath).arg(files.size()));
    if (adapterNumber > 0)
        return runOnAdapter(command, args, files.at(int(adapterNumber - 1)), QString());
    if (command == QLatin1String("dump") && files.size() > 1)
        return usageError(QStringLiteral("dump reads one adapter: choose it with --adapter N"));
    for (int i = 0; i < files.size(); ++i) {
        const QString header = command == QLatin1String("show") && files.size() > 1
            ? QStringLiteral("%1adapter %2: %3\n")
                  .arg(i > 0 ? QStringLiteral("\n") : QString())
                  .arg(i + 1)
                  .arg(files.at(i))
            : QString();
        const int result = runOnAdapter(command, args, files.at(i), header);
        if (result != ExitOk)
            return result;
    }
    return ExitOk;
}
