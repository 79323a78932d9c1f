// The pictures the build draws: every file the windows load, at 1x and 2x, in the sizes
// their layouts count on.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
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

TEST(PictureSet, PickerKeyboardDrawsLayerZeroKeysOnlyInItsLayerZeroPictures) {
    const PickerKey& klt0 = PickerKeyTable()[128];
    const PickerKey& letterA = PickerKeyTable()[59];
    for (const char* lang : {"en", "ch"}) {
        SCOPED_TRACE(lang);
        const QImage plain(kDir.filePath(QString("vk-%1.png").arg(lang)));
        const QImage layerZero(kDir.filePath(QString("vk-%1-L0@2x.png").arg(lang)));
        ASSERT_FALSE(plain.isNull());
        ASSERT_FALSE(layerZero.isNull());
        auto centreAlpha = [](const QImage& image, const PickerKey& key) {
            const int k = image.width() / 1060;
            return qAlpha(image.pixel((key.x + key.width / 2) * k, (key.y + 4) * k));
        };
        EXPECT_EQ(centreAlpha(plain, letterA), 255);
        EXPECT_EQ(centreAlpha(layerZero, letterA), 255);
        EXPECT_EQ(centreAlpha(layerZero, klt0), 255);
        EXPECT_LT(centreAlpha(plain, klt0), 255);
    }
}

}  // namespace
}  // namespace tavrik
