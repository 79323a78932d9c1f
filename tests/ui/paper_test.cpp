// The layout on paper, checked by what the files hold: the SVG's text names every legend,
// the PDF has a landscape page per layer, a PNG has each key's LED colour at its centre.
#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QString>

#include "keys/keycodes.h"
#include "paper/paper.h"

namespace tavrik {
namespace {

using layout::LayoutSheet;
using layout::PaperFormat;
using layout::PaperOptions;

// A keyboard with a bit of everything: plain keys of several colours, layer and macro
// keys, a key without an assignment, one in its bootloader, and empty sockets.
LayoutSheet KnownSheet(std::vector<int> layers) {
    backup::KeyboardState state;
    const uint8_t plain[] = {0x04, 0x05, 0x06, 0x3E, 0x28, 0x2C, 0xE1, 0x80};
    for (int i = 0; i < 30; ++i) {
        backup::ModuleState m;
        m.uid = 0x1000u + static_cast<uint32_t>(i);
        m.slot = i < 20 ? i : 40 + i;  // some on the view's second page
        m.hid = {plain[i % 8], static_cast<uint8_t>(0xD4 + i % 4),
                 static_cast<uint8_t>(0x1E + i % 9), 0};
        m.colour = (static_cast<uint32_t>(i * 16 % 0xF0) << 16) | (0xF0u - i * 8 % 0xF0) << 8 |
                   static_cast<uint32_t>(i * 40 % 0xF0);
        if (i == 7) {
            m.hid[3] = HID_MARCO;
            m.macro = backup::Macro(9, MarcoEntry{1, 4, 10});
            m.macro->back() = MarcoEntry{};
        }
        if (i == 9) {
            m.hid = {HID_WAIT_SET, 0, 0, 0};
            m.colour.reset();
        }
        state.modules.push_back(m);
    }
    backup::ModuleState boot;
    boot.uid = 0x2000;
    boot.slot = 85;
    boot.stage = 'B';
    state.modules.push_back(boot);
    return layout::MakeSheet(state, std::move(layers), "Tavrik Keyboard (keyboard 0)",
                             "2026-12-10");
}

std::string Render(const LayoutSheet& sheet, PaperOptions options) {
    std::string bytes, error;
    EXPECT_TRUE(paper::RenderSheet(sheet, options, bytes, error)) << error;
    return bytes;
}

TEST(PaperSvg, TextElementsNameEveryLegendOfEveryLayer) {
    const LayoutSheet sheet = KnownSheet({0, 1, 2, 3});
    const QString svg = QString::fromStdString(Render(sheet, {PaperFormat::Svg}));
    QStringList texts;
    const QRegularExpression text("<text[^>]*>([^<]*)</text>");
    for (auto it = text.globalMatch(svg); it.hasNext();) {
        texts << it.next().captured(1).trimmed().replace("&amp;", "&");
    }
    ASSERT_FALSE(texts.isEmpty()) << svg.left(2000).toStdString();
    int checked = 0;
    for (int layer = 0; layer < 4; ++layer) {
        EXPECT_TRUE(texts.contains(
            QString::fromUtf8("Tavrik Keyboard (keyboard 0) \u2013 layer %1").arg(layer)));
        for (const auto& key : sheet.keys) {
            for (const std::string& line : key.legend[static_cast<size_t>(layer)]) {
                EXPECT_TRUE(texts.contains(QString::fromStdString(line)))
                    << "slot " << key.slot << " layer " << layer << ": " << line;
                ++checked;
            }
        }
    }
    EXPECT_TRUE(texts.contains("2026-12-10"));
    EXPECT_TRUE(texts.contains("Macro: 8 steps"));
    EXPECT_TRUE(texts.contains("Layer 2 while held"));
    EXPECT_GT(checked, 4 * 31);
}

int PdfPages(const std::string& pdf) {
    static const QRegularExpression page("/Type\\s*/Page(?![s\\w])");
    int n = 0;
    for (auto it = page.globalMatch(QString::fromLatin1(pdf.data(), static_cast<int>(pdf.size())));
         it.hasNext(); it.next()) {
        ++n;
    }
    return n;
}

TEST(PaperPdf, OneLandscapePagePerRequestedLayerOnA4AndLetter) {
    for (const auto& [layers, paper, width, height] :
         {std::tuple{std::vector<int>{0, 1, 2, 3}, layout::PaperSize::A4, 842, 595},
          std::tuple{std::vector<int>{2}, layout::PaperSize::Letter, 792, 612},
          std::tuple{std::vector<int>{3, 1}, layout::PaperSize::A4, 842, 595}}) {
        const std::string pdf = Render(KnownSheet(layers), {PaperFormat::Pdf, paper});
        ASSERT_EQ(pdf.rfind("%PDF-", 0), 0u);
        EXPECT_EQ(PdfPages(pdf), static_cast<int>(layers.size()));
        // Landscape: the media box is wider than high (points, rounded).
        const QRegularExpression box("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]");
        const auto m = box.match(QString::fromLatin1(pdf.data(), static_cast<int>(pdf.size())));
        ASSERT_TRUE(m.hasMatch());
        EXPECT_NEAR(m.captured(1).toDouble(), width, 1.5);
        EXPECT_NEAR(m.captured(2).toDouble(), height, 1.5);
        // Text stays text: the fonts travel with the file.
        EXPECT_NE(pdf.find("/FontFile"), std::string::npos);
    }
}

TEST(PaperPng, EachKeyCentreHasTheKeysColourAtOneAndTwoTimes) {
    const LayoutSheet sheet = KnownSheet({0, 3});
    for (const int scale : {1, 2}) {
        const std::string bytes = Render(sheet, {PaperFormat::Png, layout::PaperSize::A4, scale});
        QImage image;
        ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                       static_cast<int>(bytes.size()), "PNG"));
        const QSizeF panel = paper::PanelSize(sheet);
        EXPECT_EQ(image.width(), qCeil(panel.width() * scale));
        EXPECT_EQ(image.height(), qCeil(panel.height() * 2 * scale));
        int coloured = 0;
        for (int p = 0; p < 2; ++p) {
            for (const auto& key : sheet.keys) {
                const QPointF c =
                    (paper::KeyRect(key).center() + QPointF(0, panel.height() * p)) * scale;
                const QColor got = image.pixelColor(c.toPoint());
                if (key.kind == layout::SlotKind::Empty) {
                    EXPECT_EQ(got, QColor(Qt::white)) << "socket " << key.slot;
                    continue;
                }
                if (!key.colour) {
                    continue;
                }
                const uint32_t v = *key.colour;
                EXPECT_EQ(got, QColor(v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF))
                    << "slot " << key.slot << " scale " << scale;
                ++coloured;
            }
        }
        EXPECT_EQ(coloured, 2 * 29);
    }
}

TEST(PaperErrors, NoLayerIsAFailureNotAnEmptyFile) {
    LayoutSheet sheet = KnownSheet({});
    std::string bytes, error;
    EXPECT_FALSE(paper::RenderSheet(sheet, {PaperFormat::Pdf}, bytes, error));
    EXPECT_EQ(error, "no layer to draw");
    EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace tavrik
