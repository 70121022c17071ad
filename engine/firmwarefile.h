// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firmwareimage.h"

#include <QByteArray>
#include <QString>

// A firmware file checked as an update checks it before it touches the adapter.
struct FirmwareFileCheck
{
    enum Problem {
        None,
        Unreadable, // missing, unreadable or empty
        FileTooLarge, // larger than any firmware file: not read whole
        NotAnImage, // digest or type tag wrong
        TooLarge, // the payload does not fit the flash the update erases
    };
    Problem problem = None;
    // The file's bytes as read; empty when it could not be read or was too large.
    QByteArray content;
    FirmwareImage image;
    // "" when an update would take the file; otherwise why not, in one sentence.
    QString reason;

    bool accepted() const { return reason.isEmpty(); }
    // Nothing was read to decode.
    bool unread() const { return problem == Unreadable || problem == FileTooLarge; }
};

// Reads the file as every flash operation does: at most UpdateJobs::MaxFirmwareFileSize
// bytes; a larger or empty file is refused. Nothing is decoded.
FirmwareFileCheck readFirmwareFile(const QString &path);
// Reads the file as above, decodes it and checks its digest, type tag and whether its
// payload fits the flash the update erases.
FirmwareFileCheck checkFirmwareFile(const QString &path);
// Why bytes in memory (a download, a cached file) are not the image of a catalogue entry as
// checkFirmwareFile would check it, holding the version of the entry's label; name stands
// for the bytes in the reason. "" when an update would take them.
QString catalogueImageProblem(
    const QByteArray &content, const QString &version, const QString &name);
