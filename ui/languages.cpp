// SPDX-License-Identifier: GPL-3.0-or-later
#include "languages.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>

namespace {

struct Language
{
    const char *catalogue;
    const char *fontFamily;
    const char *qtCatalogue; // "" for English
    EmbeddedFonts::Font font;
    bool cjk; // the language's name is written, and its font covers, Chinese or Japanese
};

const Language languages[Languages::Count] = {
    { ":/translations/CorvaneFirmwareTool_en_EN.qm", "Microsoft Sans Serif", "",
        EmbeddedFonts::English, false },
    { ":/translations/CorvaneFirmwareTool_zh_CN.qm", "DengXian", "qtbase_zh_CN",
        EmbeddedFonts::Chinese, true },
    { ":/translations/CorvaneFirmwareTool_ja_JP.qm", "Kochi Gothic", "qtbase_ja",
        EmbeddedFonts::Japanese, true },
    { ":/translations/CorvaneFirmwareTool_ru_RU.qm", "Consolas", "qtbase_ru",
        EmbeddedFonts::Russian, false },
    { ":/translations/CorvaneFirmwareTool_fr_FR.qm", "Arbutus Slab", "qtbase_fr",
        EmbeddedFonts::French, false },
};

const Language &language(int index)
{
    return languages[index >= 0 && index < Languages::Count ? index : 0];
}

// Where the toolkit's own catalogues (qtbase_*.qm) are installed.
QString qtTranslationsPath()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    // Qt 5.15 has no path(); location() is its form of the same call.
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

} // namespace

QString Languages::fontFamily(int index)
{
    return QString::fromLatin1(language(index).fontFamily);
}

EmbeddedFonts::Font Languages::embeddedFont(int index)
{
    return language(index).font;
}

bool Languages::nameNeedsCjkFont(int name, int shown)
{
    return language(name).cjk && !language(shown).cjk;
}

QString Languages::fontBeforeWidgets(int index)
{
    const QString family = fontFamily(index);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QApplication::setFont(QFont(family));
#endif
    return family;
}

void Languages::installFontSubstitutions()
{
    QFont::insertSubstitutions(QStringLiteral("Microsoft Sans Serif"),
        { QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
    QFont::insertSubstitutions(QStringLiteral("DengXian"),
        { QStringLiteral("Droid Sans Fallback"), QStringLiteral("WenQuanYi Micro Hei") });
    // Proportional faces: set in a monospaced one, the whole window looked like a terminal.
    QFont::insertSubstitutions(QStringLiteral("Kochi Gothic"),
        { QStringLiteral("IPAPGothic"), QStringLiteral("Droid Sans Fallback") });
    QFont::insertSubstitutions(QStringLiteral("Consolas"),
        { QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans") });
    QFont::insertSubstitutions(QStringLiteral("Arbutus Slab"),
        { QStringLiteral("Roboto Slab"), QStringLiteral("DejaVu Serif") });
}

QString Languages::fontRule(const QString &family)
{
    return QStringLiteral("\nQWidget { font-family: \"%1\"; }\n").arg(family);
}

bool LanguageTranslators::install(int index)
{
    const Language &chosen = language(index);
    QApplication::setFont(QFont(QString::fromLatin1(chosen.fontFamily)));
    const bool loaded
        = m_tool.load(QString::fromLatin1(chosen.catalogue), QString(), QString(), QString());
    // Installing the same translator again would only stack duplicates of it.
    QCoreApplication::removeTranslator(&m_tool);
    QCoreApplication::installTranslator(&m_tool);
    QCoreApplication::removeTranslator(&m_toolkit);
    if (*chosen.qtCatalogue
        && m_toolkit.load(QString::fromLatin1(chosen.qtCatalogue), qtTranslationsPath()))
        QCoreApplication::installTranslator(&m_toolkit);
    return loaded;
}
