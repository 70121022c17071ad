// SPDX-License-Identifier: GPL-3.0-or-later
#include "everyadapter.h"

#include "adapter.h"
#include "adapterlist.h"
#include "datadirectory.h"
#include "interruptguard.h"
#include "readbackreport.h"

#include "autobackup.h"
#include "deviceflash.h"
#include "firmwareversion.h"
#include "operationhistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QJsonArray>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

constexpr qint64 RedrawIntervalMs = 100;
constexpr int SerialWidth = 24;

// What one adapter's context writes, handed on line by line to the command's own stream
// with the adapter's serial number in front. While held (a progress display is on the
// terminal), the lines wait.
class PrefixedLines : public QIODevice
{
public:
    explicit PrefixedLines(QTextStream &target) : m_target(target) { open(QIODevice::WriteOnly); }

    void setPrefix(const QString &prefix) { m_prefix = prefix; }
    void setHeld(bool held)
    {
        m_held = held;
        if (!held)
            release();
    }
    // Ends a line left open and hands on what waits.
    void finish()
    {
        if (!m_pending.isEmpty()) {
            m_lines.append(QString::fromUtf8(m_pending));
            m_pending.clear();
        }
        if (!m_held)
            release();
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override
    {
        m_pending.append(data, int(length));
        for (int end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            m_lines.append(QString::fromUtf8(m_pending.left(end)));
            m_pending.remove(0, end + 1);
        }
        if (!m_held)
            release();
        return length;
    }

private:
    void release()
    {
        for (const QString &line : qAsConst(m_lines))
            m_target << m_prefix << ": " << line << Qt::endl;
        m_lines.clear();
    }

    QTextStream &m_target;
    QString m_prefix;
    QByteArray m_pending;
    QStringList m_lines;
    bool m_held = false;
};

// One line per adapter on a terminal, redrawn in place.
class ProgressBoard
{
public:
    ProgressBoard(QTextStream &out, int lines) : m_out(out)
    {
        for (int i = 0; i < lines; ++i)
            m_lines.append(QString());
        m_clock.start();
    }

    void set(int line, const QString &text, bool now = false)
    {
        if (m_lines.value(line) == text)
            return;
        m_lines[line] = text;
        if (now || m_lastDrawMs < 0 || m_clock.elapsed() - m_lastDrawMs >= RedrawIntervalMs)
            draw();
    }
    void draw()
    {
        m_lastDrawMs = m_clock.elapsed();
        if (m_drawn > 0)
            m_out << "\033[" << m_drawn << 'A';
        for (const QString &line : qAsConst(m_lines))
            m_out << '\r' << terminalText(line) << "\033[K\n";
        m_out.flush();
        m_drawn = m_lines.size();
    }
    // What was printed meanwhile stays: the next drawing starts below it.
    void detach()
    {
        m_drawn = 0;
        m_out << Qt::endl;
    }

private:
    QTextStream &m_out;
    QStringList m_lines;
    QElapsedTimer m_clock;
    qint64 m_lastDrawMs = -1;
    int m_drawn = 0;
};

// Everything about one adapter of the set.
struct Unit
{
    AttachedAdapter adapter;
    std::unique_ptr<DeviceFlash> device;
    std::unique_ptr<PrefixedLines> outLines;
    std::unique_ptr<PrefixedLines> errLines;
    std::unique_ptr<QTextStream> out;
    std::unique_ptr<QTextStream> err;
    std::unique_ptr<CliContext> ctx;
    std::unique_ptr<AdapterOpening> opening;
    std::unique_ptr<ReadBackReport> readBack;
    std::unique_ptr<FlashProgressPrinter> printer;
    std::unique_ptr<FlashOperation> operation;
    QString serial;
    QString fromVersion;
    QString result; // success, failed, skipped, cancelled, in use
    QString error;
    QJsonObject record;

    void setPrefix(const QString &prefix)
    {
        outLines->setPrefix(prefix);
        errLines->setPrefix(prefix);
    }
    void flush()
    {
        out->flush();
        err->flush();
        outLines->finish();
        errLines->finish();
    }
};

// The arguments this program was started with, on the one adapter of units[index] alone:
// by its serial number, or by its path where another adapter has the same serial number.
QStringList commandLineFor(
    const QString &serial, const std::vector<std::unique_ptr<Unit>> &units, size_t index)
{
    QString choice = serial;
    for (size_t i = 0; i < units.size(); ++i) {
        if (i != index && units[i]->adapter.usbSerial.compare(serial, Qt::CaseInsensitive) == 0)
            choice = QFile::decodeName(units[index]->adapter.path);
    }
    QStringList args = QCoreApplication::arguments().mid(1);
    args.removeAll(QStringLiteral("--force"));
    const int all = args.indexOf(QStringLiteral("--all"));
    if (all >= 0)
        args.replace(all, QStringLiteral("--adapter"));
    args.insert(all >= 0 ? all + 1 : args.size(), choice);
    return args;
}

void useUtf8(QTextStream &stream)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    stream.setCodec("UTF-8");
#else
    stream.setEncoding(QStringConverter::Utf8);
#endif
}

QString percentText(qlonglong current, qlonglong total)
{
    return total > 0 ? QStringLiteral("%1%").arg(qBound<qlonglong>(0, current, total) * 100 / total)
                     : QString();
}

QString tableLine(const QString &serial, const QString &from, const QString &to,
    const QString &result, const QString &path)
{
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(serial, -SerialWidth)
        .arg(from, -8)
        .arg(to, -8)
        .arg(result, -9)
        .arg(path)
        .trimmed();
}

} // namespace

bool takeEveryAdapterOptions(const CliContext &ctx, QStringList &args, bool *all, bool *force)
{
    *all = args.removeAll(QStringLiteral("--all")) > 0;
    *force = args.removeAll(QStringLiteral("--force")) > 0;
    if (*force && !*all) {
        ctx.fail(CliExit_Usage, QStringLiteral("--force goes with --all"));
        return false;
    }
    if (*all && !ctx.adapter.isEmpty()) {
        ctx.fail(CliExit_Usage, QStringLiteral("--all and --adapter exclude each other"));
        return false;
    }
    return true;
}

int runOnEveryAdapter(const CliContext &ctx, const EveryAdapterJob &job)
{
    const QList<AttachedAdapter> adapters = attachedAdapters();
    if (adapters.isEmpty())
        return ctx.fail(CliExit_NoAdapter, QStringLiteral("no Corvane X9 adapter found"));

    const bool board = ctx.showsProgress() && !ctx.progressJson && ctx.interactive();
    std::vector<std::unique_ptr<Unit>> units;
    QList<DeviceFlash *> devices;
    for (const AttachedAdapter &adapter : adapters) {
        auto unit = std::make_unique<Unit>();
        unit->adapter = adapter;
        unit->device = std::make_unique<DeviceFlash>();
        unit->outLines = std::make_unique<PrefixedLines>(ctx.out);
        unit->errLines = std::make_unique<PrefixedLines>(ctx.err);
        unit->outLines->setHeld(board);
        unit->errLines->setHeld(board);
        unit->out = std::make_unique<QTextStream>(unit->outLines.get());
        unit->err = std::make_unique<QTextStream>(unit->errLines.get());
        useUtf8(*unit->out);
        useUtf8(*unit->err);
        unit->ctx = std::make_unique<CliContext>(*unit->out, *unit->err);
        unit->ctx->args = ctx.args;
        unit->ctx->json = ctx.json;
        unit->ctx->quiet = ctx.quiet;
        unit->ctx->answerTimeoutMs = ctx.answerTimeoutMs;
        unit->ctx->standardStreams = false;
        unit->setPrefix(
            adapter.usbSerial.isEmpty() ? QFile::decodeName(adapter.path) : adapter.usbSerial);
        devices.append(unit->device.get());
        units.push_back(std::move(unit));
    }

    std::unique_ptr<ProgressBoard> display;
    if (board)
        display = std::make_unique<ProgressBoard>(ctx.err, int(units.size()));
    const auto show = [&display, &units](int i, const QString &state, bool now = false) {
        if (display)
            display->set(i,
                QStringLiteral("%1  %2").arg(units[size_t(i)]->serial, -SerialWidth).arg(state),
                now);
    };
    const InterruptGuard interrupts(ctx, devices, [&display] {
        if (display)
            display->detach();
    });

    // Every adapter is opened at once, each on its own thread.
    for (size_t i = 0; i < units.size(); ++i) {
        Unit &unit = *units[i];
        unit.serial = unit.adapter.usbSerial;
        unit.device->setAdapterPath(unit.adapter.path);
        unit.opening = std::make_unique<AdapterOpening>(*unit.device, *unit.ctx);
        show(int(i), flashPhaseText(FlashPhase::Opening), true);
    }
    waitUntilIdle(devices);
    if (InterruptGuard::cancelledBy() != 0)
        return CliExit_Failed;

    const QString dataDirectory = cliDataDirectory();
    const QList<QJsonObject> history
        = OperationHistory::read(OperationHistory::filePath(dataDirectory));
    // An adapter that announces the target version is left alone only when its last write
    // finished and every byte of the image reads back: the firmware record is written first,
    // so a half-written adapter announces the new version too.
    std::vector<std::unique_ptr<ReadBackReport>> checks(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        Unit &unit = *units[i];
        QString message;
        const int opened = unit.opening->result(&message);
        if (opened != CliExit_Ok) {
            unit.result
                = opened == CliExit_InUse ? QStringLiteral("in use") : QStringLiteral("failed");
            unit.error = message;
            unit.ctx->warn(message);
            show(int(i), unit.result, true);
            continue;
        }
        unit.serial = QString::fromLatin1(unit.device->serialNumber());
        unit.fromVersion = unit.device->version();
        unit.setPrefix(unit.serial);
        unit.ctx->commandLine = commandLineFor(unit.serial, units, i);
        if (job.skipAtTarget && unit.fromVersion == job.targetVersion
            && !OperationHistory::standing(history, unit.serial).unfinished) {
            checks[i] = std::make_unique<ReadBackReport>(*unit.device, *unit.ctx, false);
            unit.device->verifyFirmware(job.image.path);
            show(int(i), flashPhaseText(FlashPhase::Verifying), true);
        }
    }
    waitUntilIdle(devices);
    if (InterruptGuard::cancelledBy() != 0)
        return CliExit_Failed;

    for (size_t i = 0; i < units.size(); ++i) {
        Unit &unit = *units[i];
        if (!unit.result.isEmpty())
            continue; // not opened
        const std::unique_ptr<ReadBackReport> check = std::move(checks[i]);
        if (check && !check->matches() && ctx.showsProgress())
            unit.ctx->err << "announces " << job.targetVersion << ", but "
                          << (check->complete() ? QStringLiteral("its flash differs from the "
                                                                 "image at %1")
                                                      .arg(check->differenceText())
                                                : check->failureText())
                          << "; written again" << Qt::endl;
        if (check && check->matches()) {
            unit.result = QStringLiteral("skipped");
            unit.error = QStringLiteral("already runs %1").arg(job.targetVersion);
            if (ctx.showsProgress())
                unit.ctx->err << "already runs " << job.targetVersion
                              << "; left alone (--force writes it anyway)" << Qt::endl;
            show(int(i), QStringLiteral("skipped, already %1").arg(job.targetVersion), true);
            continue;
        }
        if (job.skipNewer && !unit.fromVersion.isEmpty()
            && FirmwareVersion::compare(job.targetVersion, unit.fromVersion) < 0) {
            unit.result = QStringLiteral("skipped");
            unit.error
                = QStringLiteral("runs %1, newer than %2").arg(unit.fromVersion, job.targetVersion);
            if (ctx.showsProgress())
                unit.ctx->err << "runs " << unit.fromVersion << ", newer than " << job.targetVersion
                              << "; left alone (--allow-older writes it)" << Qt::endl;
            show(int(i), QStringLiteral("skipped, runs %1").arg(unit.fromVersion), true);
            continue;
        }

        useDataDirectory(*unit.device, job.autoBackup);
        unit.device->setVerifyAfterWrite(job.verify);
        std::function<QString(QJsonObject &)> afterWrite;
        if (job.verify) {
            unit.readBack = std::make_unique<ReadBackReport>(*unit.device, *unit.ctx, true);
            afterWrite = [readBack = unit.readBack.get()](QJsonObject &record) {
                return readBack->checkAfterWrite(record);
            };
        }
        if (!board && !ctx.progressJson)
            unit.printer = std::make_unique<FlashProgressPrinter>(*unit.ctx);
        unit.operation = std::make_unique<FlashOperation>(
            *unit.device, *unit.ctx, job.targetVersion, job.image, afterWrite);
        DeviceFlash &device = *unit.device;
        FlashProgressPrinter *printer = unit.printer.get();
        const int line = int(i);
        unit.operation->start([&job, &device] { job.start(device); },
            [printer, line, &show, &ctx, serial = unit.serial](
                FlashPhase phase, qlonglong current, qlonglong total) {
                if (printer && phase == FlashPhase::Writing)
                    printer->update(current, total);
                ctx.progressLine(flashPhaseText(phase), current, total, serial);
                // An erase tells nothing until it is done.
                show(line,
                    phase == FlashPhase::Erasing
                        ? flashPhaseText(phase)
                        : QStringLiteral("%1 %2").arg(
                            flashPhaseText(phase), percentText(current, total)));
            });
    }
    waitUntilIdle(devices);

    bool allCancelled = InterruptGuard::cancelledBy() != 0;
    for (size_t i = 0; i < units.size(); ++i) {
        Unit &unit = *units[i];
        if (!unit.operation)
            continue;
        if (unit.printer)
            unit.printer->finish();
        if (unit.device->isFlashCancelled()) {
            unit.result = QStringLiteral("cancelled");
            unit.error
                = QStringLiteral("cancelled before anything was erased; nothing was changed");
        } else if (unit.operation->conclude() == CliExit_Ok) {
            unit.result = QStringLiteral("success");
            unit.record = unit.operation->record();
            if (!ctx.json)
                unit.ctx->printRecord(unit.record, unit.operation->recordOrder());
        } else {
            unit.result = QStringLiteral("failed");
            unit.error = unit.operation->failure();
        }
        show(int(i), unit.result, true);
    }
    if (allCancelled)
        return CliExit_Failed;

    // On a terminal each adapter's lines come after the display, in the adapters' order.
    for (const auto &unit : units) {
        unit->outLines->setHeld(false);
        unit->errLines->setHeld(false);
        unit->flush();
    }

    int succeeded = 0;
    int inUse = 0;
    QJsonArray records;
    if (!ctx.json)
        ctx.out << tableLine(QStringLiteral("SERIAL"), QStringLiteral("BEFORE"),
            QStringLiteral("AFTER"), QStringLiteral("RESULT"), QStringLiteral("PATH"))
                << Qt::endl;
    for (const auto &unit : units) {
        // A half-written adapter can read back the new version: only a result names one.
        const bool done
            = unit->result == QLatin1String("success") || unit->result == QLatin1String("skipped");
        succeeded += done ? 1 : 0;
        inUse += unit->result == QLatin1String("in use") ? 1 : 0;
        const QString after = done ? unit->device->version() : QString();
        if (ctx.json) {
            const auto textOrNull = [](const QString &text) {
                return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
            };
            QJsonObject record = unit->record;
            record.insert(QStringLiteral("serial"), textOrNull(unit->serial));
            record.insert(QStringLiteral("path"), QFile::decodeName(unit->adapter.path));
            record.insert(QStringLiteral("result"), unit->result);
            record.insert(QStringLiteral("fromVersion"), textOrNull(unit->fromVersion));
            record.insert(QStringLiteral("version"), textOrNull(after));
            if (!record.contains(QStringLiteral("bytesWritten")))
                record.insert(QStringLiteral("bytesWritten"),
                    double(unit->operation ? unit->operation->written() : 0));
            if (!record.contains(QStringLiteral("backup")))
                record.insert(QStringLiteral("backup"),
                    textOrNull(unit->operation ? unit->operation->backupPath() : QString()));
            record.insert(QStringLiteral("error"), textOrNull(done ? QString() : unit->error));
            records.append(record);
            continue;
        }
        const auto dash = [](const QString &text) {
            return text.isEmpty() ? QStringLiteral("-") : text;
        };
        ctx.out << terminalText(tableLine(dash(unit->serial), dash(unit->fromVersion), dash(after),
            unit->result, QFile::decodeName(unit->adapter.path)))
                << Qt::endl;
    }
    // With --json the command's one object holds them, and on failure its error.
    if (ctx.json)
        ctx.addFields({ { QStringLiteral("adapters"), records } });
    if (succeeded == int(units.size()))
        return CliExit_Ok;
    if (inUse == int(units.size()))
        return ctx.fail(
            CliExit_InUse, QStringLiteral("every adapter is in use by another program"));
    return ctx.fail(CliExit_Failed,
        QStringLiteral("%1 of %2 adapters did not succeed")
            .arg(int(units.size()) - succeeded)
            .arg(units.size()));
}
