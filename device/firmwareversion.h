// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Firmware version texts ("5.6.0": three dot-separated numbers) and the versions from which
// the adapter's firmware offers what the tool relies on.
namespace FirmwareVersion {

// "major.minor.patch" of three version bytes, in decimal.
QString text(quint8 major, quint8 minor, quint8 patch);
// Part `index` of a version as a number; missing or non-numeric parts read 0.
qint64 component(const QString &version, int index);
// major * 10 + minor.
qint64 majorMinor(const QString &version);
// -1, 0 or 1 as a is below, equal to or above b, part by part; missing or non-numeric
// parts read 0.
int compare(const QString &a, const QString &b);
// The same for major * 10 + minor only.
int compareMajorMinor(const QString &a, const QString &b);
// Both share major.minor.
bool isCompatible(const QString &a, const QString &b);
// The index of the highest of versions by compare() (the first of equal ones), skipping
// empty texts; -1 when there is none.
int newest(const QStringList &versions);

// From 5.5.0 on the firmware keeps a configuration store (sectors 1 to 5): backups are in
// layout 2, restores are possible, and the factory firmware is stored from 0x08040000.
bool keepsConfigurationStore(const QString &version);
// From 5.5.24 on the configuration carries the boot mode.
bool supportsBootMode(const QString &version);
// From 5.6.0 on macros are written in layout 4.
bool writesMacroLayout4(const QString &version);

} // namespace FirmwareVersion
