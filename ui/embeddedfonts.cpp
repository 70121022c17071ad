// SPDX-License-Identifier: GPL-3.0-or-later
#include "embeddedfonts.h"
#include "logcategories.h"

#include <QByteArray>
#include <QFontDatabase>
#include <QResource>
#include <QStringList>
#include <QtDebug>

#include <limits>

namespace EmbeddedFonts {

namespace {

    const char *const paths[Count] = {
        ":/fonts/cn-msyh.ttf",
        ":/fonts/en-micross.ttf",
        ":/fonts/jp-msgothic.ttf",
        ":/fonts/ru-consola.ttf",
        ":/fonts/arbutusslab-regular.ttf",
        ":/fonts/FontAwesome.otf",
    };

    // The font database reads the platform's fonts once, when it is first used. An application
    // font registered before that has its character map scanned a second time then; reading
    // the platform's fonts first spares that second scan.
    void populateFontDatabase()
    {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        (void)QFontDatabase::families();
#else
        // Qt 5's queries are members of a database object.
        (void)QFontDatabase().families();
#endif
    }

    // The font file's bytes: in place when the bundle stores them uncompressed, else unpacked.
    QByteArray fontData(const QResource &resource)
    {
        if (resource.compressionAlgorithm() != QResource::NoCompression)
            return resource.uncompressedData();
        if (resource.size() > std::numeric_limits<int>::max())
            return QByteArray();
        return QByteArray::fromRawData(
            reinterpret_cast<const char *>(resource.data()), int(resource.size()));
    }

} // namespace

QString resourcePath(Font font)
{
    return QString::fromLatin1(paths[font]);
}

namespace {

    // Each font's id once registered, or why it has none.
    constexpr int NotRegistered = -2;
    constexpr int NotLoaded = -1;
    int ids[Count] = { NotRegistered, NotRegistered, NotRegistered, NotRegistered, NotRegistered,
        NotRegistered };
    // The fonts whose outcome has been logged: always the first ones, so the log lists them in
    // their order, however they were registered.
    int logged = 0;

    void registerFont(Font font)
    {
        if (ids[font] != NotRegistered)
            return;
        const QResource resource(resourcePath(font));
        const QByteArray data = resource.isValid() ? fontData(resource) : QByteArray();
        const int id = data.isEmpty() ? -1 : QFontDatabase::addApplicationFontFromData(data);
        ids[font] = id < 0 ? NotLoaded : id;
    }

    void logInOrder()
    {
        for (; logged < Count && ids[logged] != NotRegistered; ++logged) {
            if (ids[logged] == NotLoaded)
                qCWarning(lcUi).noquote() << resourcePath(Font(logged)) << "could not be loaded!";
            else
                qCDebug(lcUi) << "App Font Families:" << ids[logged]
                              << QFontDatabase::applicationFontFamilies(ids[logged]);
        }
    }

    // The platform's fonts are read once, before the first of ours is registered.
    void populateOnce()
    {
        static bool populated = false;
        if (!populated)
            populateFontDatabase();
        populated = true;
    }

} // namespace

void registerForStart(Font languageFont)
{
    populateOnce();
    registerFont(languageFont);
    registerFont(Icons);
    logInOrder();
}

bool registerAll()
{
    populateOnce();
    for (int font = 0; font < Count; ++font)
        registerFont(Font(font));
    logInOrder();
    for (const int id : ids) {
        if (id < 0)
            return false;
    }
    return true;
}

} // namespace EmbeddedFonts
