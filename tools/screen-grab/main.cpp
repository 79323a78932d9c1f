// screen-grab OUT.png: writes what the X display in $DISPLAY shows to OUT.png.
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screen-grab OUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QFileInfo info(out);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        std::fprintf(stderr, "screen-grab: %s is not a regular file\n", argv[1]);
        return 1;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen != nullptr ? screen->grabWindow(0) : QPixmap();
    if (shot.isNull()) {
        std::fprintf(stderr, "screen-grab: the screen could not be read\n");
        return 1;
    }
    if (!shot.save(out, "PNG")) {
        std::fprintf(stderr, "screen-grab: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
