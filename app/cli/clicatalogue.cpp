// SPDX-License-Identifier: GPL-3.0-or-later
#include "clicatalogue.h"

#include "cli.h"

#include "syncloud.h"

#include <QEventLoop>
#include <QFileInfo>

namespace CliCatalogue {

bool takeHostOption(QStringList &args, QUrl *host, QString *error)
{
    const QString name = QStringLiteral("--catalogue");
    for (int i = 0; i < args.size(); ++i) {
        QString value;
        if (args.at(i) == name) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("--catalogue needs an address (http://host[:port])");
                return false;
            }
            value = args.at(i + 1);
            args.erase(args.begin() + i, args.begin() + i + 2);
        } else if (args.at(i).startsWith(name + QLatin1Char('='))) {
            value = args.at(i).mid(name.size() + 1);
            args.removeAt(i);
        } else {
            continue;
        }
        const QUrl url(value, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || url.host().isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            *error = QStringLiteral("'%1' is not an http:// or https:// address").arg(value);
            return false;
        }
        *host = url;
        return true;
    }
    return true;
}

CatalogueFetch fetchCatalogue(SyncCloud &cloud)
{
    CatalogueFetch fetch;
    bool listChanged = false;
    QList<SyncCloud::SyncError> errors;
    QEventLoop loop;
    // Connections made in the context of the loop end with it.
    QObject::connect(&cloud, &SyncCloud::firmawreInfoChanged, &loop, [&] { listChanged = true; });
    QObject::connect(
        &cloud, &SyncCloud::syncError, &loop, [&](SyncCloud::SyncError e) { errors.append(e); });
    QObject::connect(&cloud, &SyncCloud::syncFinshed, &loop, &QEventLoop::quit);
    cloud.getInformation();
    loop.exec();

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

FirmwareFetch fetchFirmware(
    SyncCloud &cloud, const QString &version, const std::function<void(qint64, qint64)> &progress)
{
    FirmwareFetch fetch;
    const QString path = cloud.firmwareFilePath(version);
    if (path.isEmpty()) {
        fetch.error
            = QStringLiteral("version '%1' cannot be used as a cache file name").arg(version);
        return fetch;
    }
    if (QFileInfo(path).isFile()) {
        fetch.path = path;
        return fetch;
    }

    const CatalogueFetch catalogue = fetchCatalogue(cloud);
    if (catalogue.source == ListSource::None) {
        fetch.error = catalogue.problem;
        return fetch;
    }
    fetch.notice = catalogue.problem;
    const int index = cloud.firmwareVersions().indexOf(version);
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
    fetch.path = cloud.getFirmware(index);
    QObject::disconnect(progressConnection);
    if (fetch.path.isEmpty())
        fetch.error = QStringLiteral("download of version '%1' failed: %2")
                          .arg(version, cloud.lastErrorString());
    else
        fetch.downloaded = true;
    return fetch;
}

FirmwareFetch fetchForCommand(CliContext &ctx, const QString &version, const QUrl &host)
{
    SyncCloud cloud;
    if (!host.isEmpty())
        cloud.setCatalogueHost(host);
    const bool showProgress = ctx.interactive() && !ctx.json;
    int shown = -1;
    auto progress = [&](qint64 received, qint64 total) {
        if (!showProgress || total <= 0)
            return;
        const int percent = int(received * 100 / total);
        if (percent != shown) {
            shown = percent;
            ctx.err << "\rdownloading " << version << ": " << percent << "%" << Qt::flush;
        }
    };
    FirmwareFetch fetch = fetchFirmware(cloud, version, progress);
    if (shown >= 0)
        ctx.err << Qt::endl;
    if (!fetch.notice.isEmpty())
        ctx.err << "corvane-cli: " << fetch.notice << Qt::endl;
    if (fetch.path.isEmpty())
        ctx.fail(CliExit_Failed, fetch.error);
    return fetch;
}

} // namespace CliCatalogue
