// SPDX-License-Identifier: GPL-3.0-or-later
#include "clicatalogue.h"
#include "progressprinter.h"

#include "cli.h"
#include "firmwarefile.h"

#include "syncloud.h"
#include "versionlabel.h"

#include <QEventLoop>
#include <QTimer>

namespace CliCatalogue {

bool parseHost(const QString &value, QUrl *host, QString *error)
{
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || !SyncCloud::isWebAddress(url)) {
        *error = QStringLiteral("'%1' is not an http:// or https:// address").arg(value);
        return false;
    }
    *host = url;
    return true;
}

CatalogueFetch fetchCatalogue(SyncCloud &cloud, int limitMs)
{
    CatalogueFetch fetch;
    bool listChanged = false;
    bool finished = false;
    QList<SyncCloud::SyncError> errors;
    QEventLoop loop;
    // Connections made in the context of the loop end with it.
    QObject::connect(&cloud, &SyncCloud::firmawreInfoChanged, &loop, [&] { listChanged = true; });
    QObject::connect(
        &cloud, &SyncCloud::syncError, &loop, [&](SyncCloud::SyncError e) { errors.append(e); });
    QObject::connect(&cloud, &SyncCloud::syncFinshed, &loop, [&] {
        finished = true;
        loop.quit();
    });
    if (limitMs > 0)
        QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    cloud.getInformation();
    loop.exec();
    if (!finished) {
        fetch.problem = QStringLiteral("the firmware catalogue did not answer within %1 s")
                            .arg(double(limitMs) / 1000.0);
        return fetch;
    }

    // Qt's error texts often name the address already.
    const QString address = cloud.catalogueUrl().toString();
    const QString reason = cloud.lastErrorString().contains(address)
        ? cloud.lastErrorString()
        : QStringLiteral("%1: %2").arg(address, cloud.lastErrorString());
    if (errors.contains(SyncCloud::SyncError_FirstRunError)) {
        fetch.problem
            = QStringLiteral("cannot reach the firmware catalogue (%1) and no cached list exists")
                  .arg(reason);
    } else if (errors.contains(SyncCloud::SyncError_LocalCacheUsed)) {
        fetch.source = ListSource::Cache;
        fetch.problem
            = QStringLiteral("cannot reach the firmware catalogue (%1); using the cached list")
                  .arg(reason);
    } else if (errors.contains(SyncCloud::SyncError_InformationError)) {
        // The window shows nothing after an unusable answer; a script is better served by the
        // cache.
        const bool cached = !cloud.firmwareInfo().isEmpty();
        fetch.source = cached ? ListSource::Cache : ListSource::None;
        fetch.problem = QStringLiteral("the firmware catalogue at %1 sent an unusable document%2")
                            .arg(address,
                                cached ? QStringLiteral("; using the cached list")
                                       : QStringLiteral(" and no cached list exists"));
    } else if (listChanged) {
        fetch.source = ListSource::Network;
    }
    return fetch;
}

FirmwareFetch fetchFirmware(SyncCloud &cloud, const QString &version,
    const std::function<void(qint64, qint64)> &progress, bool refresh)
{
    FirmwareFetch fetch;
    // Nothing that an update would refuse is cached, or taken from the cache.
    cloud.setImageCheck(&catalogueImageProblem);
    // Every spelling of a version ("V5.6.3", "5.06.3") meets the same cache file and record.
    const QString wanted = VersionLabel::normalised(version);
    if (wanted.isEmpty()) {
        fetch.error = QStringLiteral("'%1' is not a firmware version (three numbers such as "
                                     "5.6.3)")
                          .arg(version);
        return fetch;
    }
    if (!refresh) {
        fetch.path = cloud.cachedFirmware(wanted);
        if (!fetch.path.isEmpty())
            return fetch;
    }

    const CatalogueFetch catalogue = fetchCatalogue(cloud);
    if (catalogue.source == ListSource::None) {
        fetch.error = catalogue.problem;
        return fetch;
    }
    fetch.notice = catalogue.problem;
    const int index = cloud.firmwareVersions().indexOf(wanted);
    if (index < 0) {
        fetch.error = QStringLiteral("version '%1' is not in the %2firmware catalogue")
                          .arg(version,
                              catalogue.source == ListSource::Cache ? QStringLiteral("cached ")
                                                                    : QString());
        return fetch;
    }

    QMetaObject::Connection progressConnection;
    if (progress)
        progressConnection = QObject::connect(&cloud, &SyncCloud::downloadFirmwareProgress, &cloud,
            [&progress](qlonglong received, qlonglong total) { progress(received, total); });
    fetch.path = cloud.getFirmware(index, refresh);
    QObject::disconnect(progressConnection);
    if (fetch.path.isEmpty())
        fetch.error = QStringLiteral("download of version '%1' failed: %2")
                          .arg(version, cloud.lastErrorString());
    else
        fetch.downloaded = true;
    return fetch;
}

FirmwareFetch fetchForCommand(CliContext &ctx, const QString &version, bool refresh)
{
    SyncCloud cloud;
    const bool showProgress = ctx.errorIsTerminal() && ctx.showsProgress();
    int shown = -1;
    auto progress = [&](qint64 received, qint64 total) {
        ctx.progressLine(flashPhaseText(FlashPhase::Downloading), received, total);
        if (!showProgress || ctx.progressJson || total <= 0)
            return;
        const int percent = int(received * 100 / total);
        if (percent != shown) {
            shown = percent;
            ctx.err << "\rdownloading " << version << ": " << percent << "%" << Qt::flush;
        }
    };
    FirmwareFetch fetch = fetchFirmware(cloud, version, progress, refresh);
    if (shown >= 0)
        ctx.err << Qt::endl;
    if (!fetch.notice.isEmpty())
        ctx.note(fetch.notice);
    if (fetch.path.isEmpty())
        ctx.fail(CliExit_Failed, fetch.error);
    return fetch;
}

FirmwareSource takeFirmwareSource(CliContext &ctx, QStringList &args, const QString &command)
{
    FirmwareSource source;
    const int at = args.indexOf(QStringLiteral("--version"));
    if (at >= 0) {
        if (at + 1 >= args.size()) {
            source.exitCode = ctx.fail(CliExit_Usage,
                QStringLiteral("--version needs a VERSION (see %1 --help)").arg(command));
            return source;
        }
        source.version = args.at(at + 1);
        args.erase(args.begin() + at, args.begin() + at + 2);
    }
    const bool oneSource = source.version.isEmpty() ? args.size() == 1 : args.isEmpty();
    if (!oneSource) {
        source.exitCode = ctx.fail(CliExit_Usage,
            QStringLiteral("%1 takes one FILE or --version VERSION (see %1 --help)").arg(command));
        return source;
    }
    if (source.version.isEmpty()) {
        source.path = args.takeFirst();
        return source;
    }
    source.path = fetchForCommand(ctx, source.version).path;
    if (source.path.isEmpty())
        source.exitCode = CliExit_Failed;
    return source;
}

} // namespace CliCatalogue
