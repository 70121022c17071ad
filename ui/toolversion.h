// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The order of the tool's own release texts, as the catalogue announces them.
namespace ToolVersion {

// True when v1 is older than v2. Letters, parentheses and spaces are ignored; each text must
// have three dot-separated parts, packed into one number 8 bits apart.
bool isOlder(QString v1, QString v2);

} // namespace ToolVersion
