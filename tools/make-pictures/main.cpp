// Writes every picture the windows load into OUTDIR (the build's res/uipics), each also at
// twice the size as "name@2x.ext" for high-density screens. Drawn, not scaled, so both are
// sharp. Exits non-zero when any file could not be written.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "pictures.h"

namespace {

QString TwiceName(const QString& name) {
    const int dot = name.lastIndexOf('.');
    return name.left(dot) + "@2x" + name.mid(dot);
}

// Never replaces anything but a regular file; the file appears whole or not at all.
bool Write(const QImage& image, const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        std::fprintf(stderr, "make-pictures: %s is not a regular file\n", qPrintable(path));
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        std::fprintf(stderr, "make-pictures: cannot create %s\n", qPrintable(info.absolutePath()));
        return false;
    }
    // Written beside and renamed over: no half-written picture, and no sync per file (a
    // build output needs none).
    const QString temp = path + ".part";
    QFile file(temp);
    const QByteArray format = info.suffix().toLower().toLatin1();
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         image.save(&file, format.constData()) && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError ||
        std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) !=
            0) {
        QFile::remove(temp);
        std::fprintf(stderr, "make-pictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage Render(const pics::Picture& picture, int scale) {
    const bool opaque = picture.name.endsWith(".bmp");
    QImage image(picture.size * scale,
                 opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    painter.scale(scale, scale);
    picture.draw(painter);
    painter.end();
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    // Needs no display: fonts and painting work on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-pictures OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));

    pics::PictureList list;
    pics::AddBackgroundPictures(list);
    pics::AddKeyPictures(list);
    pics::AddKeyboardPictures(list);
    pics::AddIconPictures(list);

    // Pictures are independent: workers take the next one until none are left.
    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};
    auto work = [&] {
        for (size_t i = next++; i < list.size(); i = next++) {
            const pics::Picture& picture = list[i];
            failed += !Write(Render(picture, 1), out.filePath(picture.name));
            if (picture.twice) {
                failed += !Write(Render(picture, 2), out.filePath(TwiceName(picture.name)));
            }
        }
    };
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < count; ++i) {
        workers.emplace_back(work);
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (failed > 0) {
        std::fprintf(stderr, "make-pictures: %d files not written\n", failed.load());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
