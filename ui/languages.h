// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "embeddedfonts.h"

#include <QString>
#include <QTranslator>

// The five interface languages, by the index that the settings store and the language list
// use: English, Chinese, Japanese, Russian, French. Each has the tool's catalogue, the font
// family its texts are set in and the toolkit's own catalogue.
namespace Languages {

constexpr int Count = 5;

// The language's font family; an index out of range is English.
QString fontFamily(int index);

// The embedded font that the language's family stands for.
EmbeddedFonts::Font embeddedFont(int index);

// Whether the name of language `name` (Chinese or Japanese) needs a CJK font that the font of
// language `shown` lacks: text layout then loads one as a fallback, which costs megabytes.
bool nameNeedsCjkFont(int name, int shown);

// The family for widgets about to be built, before the style sheet meets them: Qt 6 sizes
// widgets without a font-size rule by the application font they are built with, so there it
// becomes the application font; Qt 5 sizes them by the desktop's font.
QString fontBeforeWidgets(int index);

// The language fonts ask for families that Linux does not have; this points each at the
// embedded font that covers the language's script.
void installFontSubstitutions();

// A widget styled by a style sheet keeps the font family it was first polished with, whatever
// the application font becomes; this rule carries the family to all of them.
QString fontRule(const QString &family);

} // namespace Languages

// The translators of the language shown: the tool's texts and the toolkit's own (file
// dialogs, standard buttons). Installing a language replaces the one installed before.
class LanguageTranslators
{
public:
    // Sets the application font and installs the language's catalogues (an index out of
    // range is English). False when the tool's catalogue could not be loaded: its source
    // texts then show. Without the toolkit's catalogues its texts stay English.
    bool install(int index);

private:
    QTranslator m_tool;
    QTranslator m_toolkit;
};
