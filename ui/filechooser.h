// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

class QMimeData;
class QWidget;

// The files the user hands the window: picked in a file dialog or dropped onto it.
namespace FileChooser {

// Replaces the modal file dialog (tests). Receives the caption and the filter, and whether a
// file is to be saved; returns the chosen path or "" for a cancel.
using Hook = std::function<QString(const QString &caption, const QString &filter, bool save)>;
void setHook(Hook hook);

// Asks for a file to open (an existing one) or a path to save, starting in the download
// folder, over the modal dialog that is active or else over window. "" for a cancel.
QString choose(QWidget *window, const QString &caption, const QString &filter, bool save);

// The one local file with that suffix (any case) that a drop carries, or "".
QString droppedFile(const QMimeData *mimeData, const QString &suffix);

// Lets window take a drop of one local file with that suffix while accepting() holds, and
// only as a copy (a file manager deletes the source of an accepted move); open receives it.
void takeDrops(QWidget *window, const QString &suffix, std::function<bool()> accepting,
    std::function<void(const QString &path)> open);

} // namespace FileChooser
