// Skin pictures from the resources, decoded through our own JPEG decoder so
// that the program does not depend on Qt's image plug-ins.
#include "skin/skin.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <mutex>

// The resource data sits in a static library: nothing would pull its object
// file into the program unless we name its initialiser. Q_INIT_RESOURCE must
// be used outside any namespace.
static void InitSkinResources() { Q_INIT_RESOURCE(skin); }

namespace raid::skin {

QImage LoadPictureImage(const QString& name) {
    static std::once_flag once;
    std::call_once(once, InitSkinResources);
    QFile file(QStringLiteral(":/skin/") + name + QStringLiteral(".jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return DecodeJpeg(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size())));
}

namespace {

// Pixmaps belong to the GUI application: the cache goes when it goes, not at
// static destruction after it.
QHash<QString, QPixmap>* cache = nullptr;

void DropCache() {
    delete cache;
    cache = nullptr;
}

}  // namespace

QPixmap Picture(const QString& name) {
    if (cache == nullptr) {
        cache = new QHash<QString, QPixmap>;
        qAddPostRoutine(DropCache);
    }
    const auto it = cache->constFind(name);
    if (it != cache->constEnd()) return *it;
    const QImage image = LoadPictureImage(name);
    QPixmap pixmap = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
    if (!pixmap.isNull()) cache->insert(name, pixmap);
    return pixmap;
}

}  // namespace raid::skin
