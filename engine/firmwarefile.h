// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firmwareimage.h"

#include <QString>

// A firmware file checked exactly as `update` checks it before it touches the adapter.
struct FirmwareFileCheck
{
    FirmwareImage image;
    // "" when an update would take the file; otherwise the short error that inspect prints.
    QString error;
    // One sentence for standard error when error is set.
    QString reason;

    bool accepted() const { return error.isEmpty(); }
};

// Reads at most as much of the file as the engine does, decodes it and checks its digest,
// type tag and whether its payload fits the flash the update erases.
FirmwareFileCheck checkFirmwareFile(const QString &path);
// checkFirmwareFile for the image of a catalogue entry, which must also hold the version of
// the entry's label.
FirmwareFileCheck checkCatalogueImage(const QString &path, const QString &version);
