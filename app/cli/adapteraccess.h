// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Why an attached adapter cannot be opened, or none is found, as the system can tell it, and
// what the user can do about it.
namespace AdapterAccess {

// What the system says of the adapter's device node, for the log: on Linux its mode, owner
// and group and whether this user may open it.
QString nodeText(const QString &node);
// Logs (for --verbose) the adapter's interfaces that the system lists with what it says of
// them, or that it lists none: tells a missing adapter from one this user may not open, when
// the device layer could not name the node itself.
void logNodes();
// The hint printed when the adapter is present but cannot be opened.
QString openHint();
// The hint printed when no adapter is found at all.
QString notFoundHint();

} // namespace AdapterAccess
