// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The version that a catalogue's label names. A label is three dot-separated decimal numbers
// of 0 to 255 (a firmware image holds one byte each); letters, brackets, spaces and invisible
// formatting characters around or between them are decoration ("V5.6.3", "5.6.3 (beta)").
namespace VersionLabel {

// "major.minor.patch" without decoration or leading zeros, so that every spelling of one
// version gives one text; "" when label names no version, or carries characters that would
// make it read as something else (controls, bidirectional overrides, line separators).
QString normalised(const QString &label);

} // namespace VersionLabel
