#include "ui/pictures/picture_cache.h"

#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QSet>

#include "app/applog.h"
#include "app/paths.h"

namespace tavrik::ui {
namespace {

// A picture file larger than this is not one of ours.
constexpr qint64 kPictureFileMax = 8 << 20;

struct Cache {
    QHash<QString, QPixmap> loaded;
    QSet<QString> reported;
};

Cache& TheCache() {
    static Cache cache;
    return cache;
}

QString FullPath(const QString& name) {
    QString rel = name;
    rel.replace('\\', '/');
    if (rel.startsWith("./")) {
        rel.remove(0, 2);
    }
    return QString::fromStdString((ResourceRoot() / rel.toStdString()).string());
}

QString TwiceName(const QString& path) {
    const int dot = path.lastIndexOf('.');
    return dot < 0 ? path + "@2x" : path.left(dot) + "@2x" + path.mid(dot);
}

// Only regular files of a sane size; premultiplied once here, not at every paint.
QPixmap Load(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kPictureFileMax) {
        return {};
    }
    // The format named by the suffix: guessing it from the contents loads every image
    // plugin (and its libraries) at the first picture, which held the first frame back.
    QImageReader reader(path, info.suffix().toLower().toLatin1());
    reader.setAutoDetectImageFormat(false);
    reader.setAllocationLimit(64);
    QImage image = reader.read();
    if (image.isNull()) {
        return {};
    }
    return QPixmap::fromImage(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

}  // namespace

QPixmap Pictures::Get(const QString& name, qreal dpr) {
    const int ratio = dpr > 1.0 ? 2 : 1;
    const QString key = name + (ratio == 2 ? "@2" : "@1");
    Cache& cache = TheCache();
    if (auto it = cache.loaded.constFind(key); it != cache.loaded.constEnd()) {
        return *it;
    }
    const QString path = FullPath(name);
    QPixmap pixmap;
    if (ratio == 2) {
        pixmap = Load(TwiceName(path));
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(2.0);
        }
    }
    if (pixmap.isNull()) {
        pixmap = Load(path);
    }
    if (pixmap.isNull() && !cache.reported.contains(path)) {
        cache.reported.insert(path);
        DlgLog("Picture missing or unreadable: " + path.toStdString() + "\n");
    }
    cache.loaded.insert(key, pixmap);
    return pixmap;
}

bool Pictures::Exists(const QString& name) {
    return QFileInfo(FullPath(name)).isFile();
}

void Pictures::Clear() {
    TheCache().loaded.clear();
    TheCache().reported.clear();
}

}  // namespace tavrik::ui
