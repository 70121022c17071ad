// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The fonts compiled into the resource bundle: one for each interface language's script and
// the icon font. They are registered with the application font database straight from the
// bundle's memory, without a copy, so only the pages the font engine reads become resident.
namespace EmbeddedFonts {

// In registration order.
enum Font { Chinese, English, Japanese, Russian, French, Icons };
constexpr int Count = 6;

QString resourcePath(Font font);

// Registers the six fonts in order, those not registered yet, and logs each outcome in that
// order: "App Font Families:" with the font's id and families, or its path with "could not be
// loaded!". A font that cannot be loaded is skipped. Returns true when all six are registered.
bool registerAll();

// Registers what a window needs for its first paint: its language's font and the icon font
// (each takes a scan of its character map). registerAll() registers the rest; the log waits
// for it to keep the order.
void registerForStart(Font languageFont);

} // namespace EmbeddedFonts
