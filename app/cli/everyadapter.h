// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"
#include "flashreport.h"

#include <QString>
#include <QStringList>

#include <functional>

class DeviceFlash;

// One flash operation for every attached adapter (update --all, restore-defaults --all).
struct EveryAdapterJob
{
    QString targetVersion; // the version every adapter reads back afterwards
    FlashImage image;
    bool autoBackup = true;
    bool verify = false; // update --verify
    // Leave alone the adapters that already run targetVersion, unless their latest
    // operation failed part-way (a half-written adapter can announce the new version).
    bool skipAtTarget = false;
    std::function<void(DeviceFlash &)> start;
    // Leave alone the adapters that run a version newer than targetVersion.
    bool skipNewer = false;
};

// Runs job on every attached adapter at once, each under its own lock, with its own
// automatic backup, history line, signal rule and result: a failure on one never stops or
// slows the others. On a terminal one progress line per adapter is redrawn; otherwise each
// adapter's lines are printed as they come, prefixed by its serial number. A summary table
// follows (--json: one array of one object per adapter). CliExit_Ok only when every adapter
// succeeded or was left alone at the target version; CliExit_NoAdapter when none is
// attached, CliExit_InUse when other programs hold every one, CliExit_Failed otherwise.
int runOnEveryAdapter(const CliContext &ctx, const EveryAdapterJob &job);

// Removes "--all" and "--force" from args into *all and *force, and refuses (with the
// usage message) --force without --all and --all with --adapter.
bool takeEveryAdapterOptions(const CliContext &ctx, QStringList &args, bool *all, bool *force);
