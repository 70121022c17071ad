// SPDX-License-Identifier: GPL-3.0-or-later
#include "embeddedfonts.h"

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

bool registerAll()
{
    static bool registered = false;
    static bool allLoaded = false;
    if (registered)
        return allLoaded;
    registered = true;
    populateFontDatabase();
    allLoaded = true;
    for (int font = 0; font < Count; ++font) {
        const QString path = resourcePath(Font(font));
        const QResource resource(path);
        const QByteArray data = resource.isValid() ? fontData(resource) : QByteArray();
        const int id = data.isEmpty() ? -1 : QFontDatabase::addApplicationFontFromData(data);
        if (id < 0) {
            qWarning().noquote() << path << "could not be loaded!";
            allLoaded = false;
            continue;
        }
        qDebug() << "App Font Families:" << id << QFontDatabase::applicationFontFamilies(id);
    }
    return allLoaded;
}

} // namespace EmbeddedFonts
