// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firmwareimage.h"

#include <QString>

// A firmware file checked as an update checks it before it touches the adapter.
struct FirmwareFileCheck
{
    enum Problem {
        None,
        Unreadable,   // missing, unreadable, empty or larger than any firmware file
        NotAnImage,   // digest or type tag wrong
        TooLarge,     // the payload does not fit the flash the update erases
        OtherVersion, // not the version of the catalogue entry
    };
    Problem problem = None;
    // The file's bytes as read; empty when it was unreadable or too large.
    QByteArray content;
    FirmwareImage image;
    // "" when an update would take the file; otherwise the short error that inspect prints.
    QString error;
    // One sentence for standard error when error is set.
    QString reason;

    bool accepted() const { return error.isEmpty(); }
};

// Reads the file as every flash operation does: at most UpdateJobs::MaxFirmwareFileSize
// bytes; a larger or empty file is Unreadable. Nothing is decoded.
FirmwareFileCheck readFirmwareFile(const QString &path);
// Reads at most UpdateJobs::MaxFirmwareFileSize bytes of the file, decodes it and checks its digest,
// type tag and whether its payload fits the flash the update erases.
FirmwareFileCheck checkFirmwareFile(const QString &path);
// checkFirmwareFile for the image of a catalogue entry, which must also hold the version of
// the entry's label.
FirmwareFileCheck checkCatalogueImage(const QString &path, const QString &version);
