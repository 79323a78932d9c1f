// The pictures the build draws: every file the windows load, at 1x and 2x, in the sizes
// their layouts count on.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <utility>
#include <vector>

#include "keys/keycodes.h"
#include "keys/picker_table.h"

namespace tavrik {
namespace {

const QDir kDir(TAVRIK_PICTURES_DIR);

QString Twice(const QString& name) {
    const int dot = name.lastIndexOf('.');
    return name.left(dot) + "@2x" + name.mid(dot);
}

QSize SizeOf(const QString& name) {
    return QImageReader(kDir.filePath(name)).size();
}

void ExpectBothSizes(const QString& name, QSize size) {
    SCOPED_TRACE(name.toStdString());
    EXPECT_EQ(SizeOf(name), size);
    EXPECT_EQ(SizeOf(Twice(name)), size * 2);
}

TEST(PictureSet, EveryNamedPictureAtBothSizes) {
    const std::vector<std::pair<QString, QSize>> fixed = {
        {"bg.png", {1060, 560}},        {"sBgDefault.png", {362, 373}},
        {"sBgConnect.png", {362, 373}}, {"sBgInstallKeys.png", {362, 373}},
        {"keyInactive.png", {100, 70}}, {"keyActive.png", {100, 70}},
        {"vk-en.png", {1060, 560}},     {"vk-ch.png", {1060, 560}},
        {"vk-en-L0.png", {1060, 560}},  {"vk-ch-L0.png", {1060, 560}},
        {"logo.png", {160, 32}},        {"close_icon.png", {32, 32}},
        {"back_icon.png", {32, 32}},    {"refresh_icon.png", {42, 32}},
        {"setting_icon.png", {32, 32}}, {"Q1.png", {100, 100}},
        {"Q2.png", {100, 100}},         {"Q3.png", {100, 100}},
        {"Q4.png", {100, 100}},         {"tavrik.png", {256, 256}},
    };
    for (const auto& [name, size] : fixed) {
        ExpectBothSizes(name, size);
    }
    // The tile's size is free, but it must be there and opaque.
    const QImage tile(kDir.filePath("bg.bmp"));
    EXPECT_FALSE(tile.isNull());
    EXPECT_FALSE(tile.hasAlphaChannel());
    EXPECT_FALSE(QImage(kDir.filePath("bg@2x.bmp")).isNull());
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_EQ(SizeOf(QString("icons/%1x%1/apps/tavrik.png").arg(size)), QSize(size, size));
    }
    for (int hid = 0; hid < 256; ++hid) {
        for (const bool focus : {false, true}) {
            const QString name =
                QString::fromStdString(KeyPicturePath(static_cast<uint8_t>(hid), focus))
                    .remove("res/uipics/");
            ExpectBothSizes(name, {100, 70});
        }
    }
}

bool IsMagenta(QRgb c) {
    return qAlpha(c) == 255 && qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) > 200;
}

TEST(PictureSet, KeyCapsLetTheLightThroughAndFocusShowsMagenta) {
    for (const char* scale : {"", "@2x"}) {
        SCOPED_TRACE(scale);
        const QImage normal(kDir.filePath(QString("keys/key-s4%1.png").arg(scale)));
        const QImage focus(kDir.filePath(QString("keys/key-b4%1.png").arg(scale)));
        ASSERT_FALSE(normal.isNull());
        ASSERT_FALSE(focus.isNull());
        const int k = normal.width() / 100;
        // The rim lets the key's colour show; the cap itself is solid.
        EXPECT_LT(qAlpha(normal.pixel(2 * k, 35 * k)), 128);
        EXPECT_EQ(qAlpha(normal.pixel(50 * k, 30 * k)), 255);
        // Just outside the cap's left edge the focus picture is ringed, the normal one not.
        int ringed = 0;
        for (int x = 2 * k; x < 10 * k; ++x) {
            ringed += IsMagenta(focus.pixel(x, 35 * k));
            EXPECT_FALSE(IsMagenta(normal.pixel(x, 35 * k)));
        }
        EXPECT_GT(ringed, 0);
    }
}

bool HiddenUnderAnEnabledKey(const PickerKey& key) {
    for (const PickerKey& other : PickerKeyTable()) {
        if (other.enabled && other.x < key.x + key.width && key.x < other.x + other.width &&
            other.y < key.y + key.height && key.y < other.y + other.height) {
            return true;
        }
    }
    return false;
}

// The picker lays its buttons on the table's rectangles: a key offered there has its cap
// inside that rectangle, and a key not offered shows no cap.
TEST(PictureSet, PickerKeyboardsDrawTheirCapsOnTheTableRectangles) {
    for (const char* name : {"vk-en", "vk-ch", "vk-en-L0", "vk-ch-L0"}) {
        const bool layerZero = QString(name).endsWith("-L0");
        for (const char* scale : {"", "@2x"}) {
            SCOPED_TRACE(std::string(name) + scale);
            const QImage image(kDir.filePath(QString("%1%2.png").arg(name, scale)));
            ASSERT_FALSE(image.isNull());
            const int k = image.width() / 1060;
            for (int i = 0; i < kPickerKeyCount; ++i) {
                const PickerKey& key = PickerKeyTable()[i];
                SCOPED_TRACE(i);
                const int top = qAlpha(image.pixel((key.x + key.width / 2) * k, (key.y + 4) * k));
                const bool offered = key.enabled && (layerZero || !IsLayerOnlyKey(i));
                if (offered) {
                    EXPECT_EQ(top, 255);
                    EXPECT_LT(qAlpha(image.pixel(key.x * k + 1, key.y * k + 1)), 255);
                } else if (!HiddenUnderAnEnabledKey(key) || IsLayerOnlyKey(i)) {
                    EXPECT_LT(top, 255);
                }
            }
        }
    }
}

// The drawer replaces only regular files: a link where a picture goes stays as it is, the
// file it points to is untouched, and the run fails while the other pictures are drawn.
TEST(PictureSet, TheDrawerNeverWritesThroughALink) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile victim(dir.filePath("victim"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("keep");
    victim.close();
    ASSERT_TRUE(QDir(dir.path()).mkpath("out"));
    ASSERT_TRUE(QFile::link(dir.filePath("victim"), dir.filePath("out/logo.png")));

    QProcess drawer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    drawer.setProcessEnvironment(env);
    drawer.start(TAVRIK_MAKE_PICTURES, {dir.filePath("out")});
    ASSERT_TRUE(drawer.waitForFinished(180000));
    EXPECT_EQ(drawer.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(drawer.exitCode(), 0);

    EXPECT_TRUE(QFileInfo(dir.filePath("out/logo.png")).isSymLink());
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), "keep");
    EXPECT_EQ(QImageReader(dir.filePath("out/logo@2x.png")).size(), QSize(320, 64));
    EXPECT_EQ(QImageReader(dir.filePath("out/keys/key-s4.png")).size(), QSize(100, 70));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out/logo.png.part")));
}

}  // namespace
}  // namespace tavrik
