// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class SyncCloud;
struct CliContext;

// Catalogue and firmware-cache steps shared by the commands that need them.
namespace CliCatalogue {

// Where the firmware list in force came from.
enum class ListSource {
    Network, // fetched now
    Cache, // the catalogue failed; the list cached by an earlier run is used
    None, // neither
};

struct CatalogueFetch
{
    ListSource source = ListSource::None;
    // Why the live catalogue is not in use; "" when it is.
    QString problem;
};

struct FirmwareFetch
{
    QString path; // local image file; "" on failure
    QString error; // why path is empty
    QString notice; // e.g. that the cached list stood in for the catalogue
    bool downloaded = false; // false when the file was already cached
};

// The value of --catalogue as a server address; false with a message when it is not an
// http(s) address.
bool parseHost(const QString &value, QUrl *host, QString *error);

// Runs the catalogue fetch and waits for its end, or with limitMs above 0 for at most that
// long (then the source is None; the fetch ends with cloud).
CatalogueFetch fetchCatalogue(SyncCloud &cloud, int limitMs = 0);

// Local image of version: the cached file at once, otherwise looked up in the catalogue
// (or the cached list) and downloaded into the cache. progress gets (received, total). With
// refresh the image is downloaded even when cached and replaces the remembered one.
FirmwareFetch fetchFirmware(SyncCloud &cloud, const QString &version,
    const std::function<void(qint64, qint64)> &progress = {}, bool refresh = false);

// fetchFirmware for a command, from the catalogue server in force: a percentage while it
// downloads when standard error is a terminal, notices and the failure reason as lines on
// standard error. An image that update would refuse, or that holds another version, fails.
FirmwareFetch fetchForCommand(CliContext &ctx, const QString &version, bool refresh = false);

// The one image source of a command that takes "FILE | --version VERSION": a local file, or
// the catalogue's image of that version fetched as fetchForCommand does.
struct FirmwareSource
{
    QString path; // the image file, as given or as fetched
    QString version; // the --version value; "" for a FILE
    int exitCode = 0; // CliExit_Ok, or why there is no image (already reported)
};

// Takes the source out of args (what remains are the command's other arguments, none
// expected), reporting a usage error or a failed fetch through ctx.
FirmwareSource takeFirmwareSource(CliContext &ctx, QStringList &args, const QString &command);

} // namespace CliCatalogue
